#include "report/PrintSurface.h"

#include <cmath>
#include <utility>

namespace vardel {

PrintSurface::PrintSurface(Font initial)
    : m_font(std::move(initial))
{
}

void PrintSurface::setFontName(const QString& name)
{
    m_font.name = name;
    fontChanged();
}

void PrintSurface::setFontSize(double points)
{
    m_font.size = points;
    fontChanged();
}

void PrintSurface::setFontBold(bool on)
{
    m_font.bold = on;
    fontChanged();
}

void PrintSurface::setFontUnderline(bool on)
{
    m_font.underline = on;
    fontChanged();
}

void PrintSurface::printText(const QString& text, bool endOfLine)
{
    if (!text.isEmpty() && ensurePage()) {
        drawText(m_x, m_y, text);
        m_x += textWidth(text);
    }
    if (endOfLine)
        endLine();
}

void PrintSurface::nextPrintZone()
{
    const double zone = 14.0 * averageCharWidth();
    if (zone <= 0)
        return;
    // The next zone start strictly right of x, even when x sits on one.
    m_x = (std::floor(m_x / zone) + 1.0) * zone;
}

void PrintSurface::endLine()
{
    m_x = 0;
    m_y += lineHeight();
}

void PrintSurface::lineTo(double x2, double y2)
{
    if (ensurePage())
        drawLine(m_x, m_y, x2, y2);
    m_x = x2;
    m_y = y2;
}

void PrintSurface::newPage()
{
    // A page asked for but never drawn on is not started twice.
    m_pagePending = true;
    m_x = 0;
    m_y = 0;
}

bool PrintSurface::endDocument()
{
    if (m_ended || m_aborted)
        return !m_failed;
    m_pagePending = false;
    if (m_failed)
        return false;
    if (!finishDocument()) {
        fail(m_failureText.isEmpty() ? QStringLiteral("nie można zakończyć wydruku") : m_failureText);
        return false;
    }
    m_ended = true;
    return true;
}

void PrintSurface::abort()
{
    if (m_ended || m_aborted)
        return;
    m_aborted = true;
    m_pagePending = false;
    abortDocument();
}

void PrintSurface::fail(const QString& why)
{
    if (!m_failed)
        m_failureText = why;
    m_failed = true;
}

bool PrintSurface::ensurePage()
{
    // After a failure or the end nothing more reaches the printer.
    if (m_failed || m_ended || m_aborted)
        return false;
    if (m_pagePending) {
        m_pagePending = false;
        if (!startPage()) {
            fail(m_failureText.isEmpty() ? QStringLiteral("nie można rozpocząć nowej strony") : m_failureText);
            return false;
        }
        ++m_pages;
    }
    return true;
}

} // namespace vardel
