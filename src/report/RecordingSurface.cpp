#include "report/RecordingSurface.h"

namespace vardel {

RecordingSurface::RecordingSurface()
    : PrintSurface(Font{QString::fromLatin1(kStartFont), kStartSize, false, false})
{
}

std::vector<RecordingSurface::Text> RecordingSurface::textsOnPage(int page) const
{
    std::vector<Text> out;
    for (const auto& t : texts)
        if (t.page == page)
            out.push_back(t);
    return out;
}

std::vector<RecordingSurface::Line> RecordingSurface::linesOnPage(int page) const
{
    std::vector<Line> out;
    for (const auto& l : lines)
        if (l.page == page)
            out.push_back(l);
    return out;
}

const RecordingSurface::Text* RecordingSurface::find(const QString& text) const
{
    for (const auto& t : texts)
        if (t.text == text)
            return &t;
    return nullptr;
}

double RecordingSurface::textWidth(const QString& text) const
{
    return static_cast<double>(text.size()) * charWidth(font().size);
}

double RecordingSurface::averageCharWidth() const
{
    return charWidth(font().size);
}

double RecordingSurface::lineHeight() const
{
    return lineHeightOf(font().size);
}

void RecordingSurface::drawText(double x, double y, const QString& text)
{
    texts.push_back({pageCount(), x, y, text, font()});
}

void RecordingSurface::drawLine(double x1, double y1, double x2, double y2)
{
    lines.push_back({pageCount(), x1, y1, x2, y2});
}

bool RecordingSurface::startPage()
{
    return m_failPage != pageCount() + 1;
}

bool RecordingSurface::finishDocument()
{
    return m_failPage != 0;
}

void RecordingSurface::abortDocument()
{
    ++abortCalls;
}

} // namespace vardel
