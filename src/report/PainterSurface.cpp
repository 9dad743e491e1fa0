#include "report/PainterSurface.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPen>
#include <QTransform>

#include <algorithm>

namespace vardel {

namespace {

// Rules are drawn this wide on paper, whatever the printer's resolution:
// plainly visible, yet fine beside 10-point text.
constexpr double kRuleWidthMm = 0.2;

// The typeface the device starts with: what a painter on it gets unasked.
PrintSurface::Font startFont()
{
    const QFont f;
    return {f.family(), f.pointSizeF() > 0 ? f.pointSizeF() : 10.0, false, false};
}

} // namespace

PainterSurface::PainterSurface(QPagedPaintDevice& device)
    : PrintSurface(startFont())
    , m_device(device)
    , m_dpiX(device.logicalDpiX() > 0 ? device.logicalDpiX() : 1200)
    , m_dpiY(device.logicalDpiY() > 0 ? device.logicalDpiY() : 1200)
{
    fontChanged();
}

PainterSurface::~PainterSurface()
{
    if (m_painter.isActive())
        m_painter.end();
}

bool PainterSurface::begin()
{
    // Fonts and text need a running GUI application (the command line uses
    // the offscreen platform for that).
    if (!QGuiApplication::instance()) {
        fail(QStringLiteral("brak środowiska graficznego do składu tekstu"));
        return false;
    }
    if (!m_painter.begin(&m_device) || deviceError()) {
        fail(QStringLiteral("nie można rozpocząć wydruku"));
        return false;
    }
    m_dpiX = m_device.logicalDpiX() > 0 ? m_device.logicalDpiX() : m_dpiX;
    m_dpiY = m_device.logicalDpiY() > 0 ? m_device.logicalDpiY() : m_dpiY;
    applyFit();
    QPen pen(Qt::black);
    pen.setStyle(Qt::SolidLine);
    // As wide on paper whatever the scale.
    pen.setWidthF(kRuleWidthMm / 25.4 * (m_dpiX + m_dpiY) / 2.0 / m_scale);
    pen.setCapStyle(Qt::SquareCap);
    m_painter.setPen(pen);
    m_painter.setFont(m_qfont);
    return true;
}

void PainterSurface::fitLayout(double widthTwips, double heightTwips)
{
    m_layoutWidth = widthTwips;
    m_layoutHeight = heightTwips;
}

double PainterSurface::scaleFor(const QPageLayout& page, double widthTwips, double heightTwips)
{
    const QRectF area = page.paintRect(QPageLayout::Point);
    double scale = 1.0;
    if (widthTwips > 0)
        scale = std::min(scale, area.width() * 20.0 / widthTwips);
    if (heightTwips > 0)
        scale = std::min(scale, area.height() * 20.0 / heightTwips);
    return std::max(scale, 0.01);
}

// The whole drawing goes through the painter's transform: text, its metrics
// and the rules shrink together, so the layout keeps its proportions.
void PainterSurface::applyFit()
{
    m_scale = scaleFor(m_device.pageLayout(), m_layoutWidth, m_layoutHeight);
    QTransform fit;
    if (m_scale < 1.0) {
        const double room = m_device.pageLayout().paintRect(QPageLayout::Point).width() * 20.0;
        fit.translate(toDeviceX((room - m_layoutWidth * m_scale) / 2.0), 0);
        fit.scale(m_scale, m_scale);
    }
    m_painter.setTransform(fit);
}

void PainterSurface::fontChanged()
{
    const Font& f = font();
    m_qfont = QFont(f.name);
    // A printer on the program's home system takes "Times" as Times New
    // Roman; ask for it or its metric twin first, so that lines come out as
    // high as the layout was made for (other Times clones have larger ones).
    if (f.name.compare(QLatin1String("Times"), Qt::CaseInsensitive) == 0)
        m_qfont.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"), f.name});
    m_qfont.setPointSizeF(f.size > 0 ? f.size : 10.0);
    m_qfont.setBold(f.bold);
    m_qfont.setUnderline(f.underline);
    // Positions come from the layout; kerning across a run must not move the
    // next piece of text away from where the layout expects it.
    m_qfont.setKerning(false);
    // No shaping for our Latin text: no ligatures, so "fi" stays two letters
    // that a search in the PDF file finds.
    m_qfont.setStyleStrategy(QFont::PreferNoShaping);
    if (m_painter.isActive())
        m_painter.setFont(m_qfont);
}

double PainterSurface::textWidth(const QString& text) const
{
    return toTwipsX(QFontMetricsF(m_qfont, &m_device).horizontalAdvance(text));
}

double PainterSurface::averageCharWidth() const
{
    return toTwipsX(QFontMetricsF(m_qfont, &m_device).averageCharWidth());
}

double PainterSurface::lineHeight() const
{
    return toTwipsY(QFontMetricsF(m_qfont, &m_device).lineSpacing());
}

void PainterSurface::drawText(double x, double y, const QString& text)
{
    if (!m_painter.isActive())
        return;
    const QFontMetricsF fm(m_qfont, &m_device);
    m_painter.drawText(QPointF(toDeviceX(x), toDeviceY(y) + fm.ascent()), text);
}

void PainterSurface::drawLine(double x1, double y1, double x2, double y2)
{
    if (!m_painter.isActive())
        return;
    m_painter.drawLine(QPointF(toDeviceX(x1), toDeviceY(y1)), QPointF(toDeviceX(x2), toDeviceY(y2)));
}

bool PainterSurface::startPage()
{
    if (!m_painter.isActive() || !m_device.newPage() || deviceError()) {
        fail(QStringLiteral("nie można rozpocząć nowej strony"));
        return false;
    }
    applyFit();
    return true;
}

bool PainterSurface::finishDocument()
{
    if (!m_painter.isActive()) {
        fail(QStringLiteral("wydruk nie został rozpoczęty"));
        return false;
    }
    const bool ok = m_painter.end();
    if (!ok || deviceError()) {
        fail(QStringLiteral("nie można zakończyć wydruku"));
        return false;
    }
    return true;
}

void PainterSurface::abortDocument()
{
    if (m_abortHandler)
        m_abortHandler();
    if (m_painter.isActive())
        m_painter.end();
}

} // namespace vardel
