#pragma once

#include "report/PrintSurface.h"

#include <QFont>
#include <QPainter>

#include <functional>

class QPagedPaintDevice;
class QPageLayout;

namespace vardel {

// The printout on a real page: a printer (QPrinter) or a PDF file
// (QPdfWriter). Twips become device units at the device's resolution; lines
// are black, solid and 0.2 mm wide at any resolution; print zones and line heights come
// from the font's metrics on the device. The page layout (size, orientation,
// margins) is the device's and must be set before begin(). A layout larger
// than the printable area (fitLayout) is printed smaller, whole, and centred
// across the page.
class PainterSurface : public PrintSurface {
public:
    explicit PainterSurface(QPagedPaintDevice& device);
    ~PainterSurface() override;

    PainterSurface(const PainterSurface&) = delete;
    PainterSurface& operator=(const PainterSurface&) = delete;

    // The extent of what will be drawn, in twips from the top-left corner;
    // begin() scales it down to the printable area when it does not fit.
    void fitLayout(double widthTwips, double heightTwips);
    // The factor a layout of that extent is printed at on a page of that
    // layout: 1 when it fits, less when it has to shrink.
    static double scaleFor(const QPageLayout& page, double widthTwips, double heightTwips);
    double scale() const { return m_scale; }

    // Opens the document. False (and failureText()) when the device refuses.
    bool begin();

    // Called by abort() before the painter lets go of the device, so that the
    // owner can cancel a print job or discard a file.
    void setAbortHandler(std::function<void()> handler) { m_abortHandler = std::move(handler); }

    // Filled in by the owner when the device reports failures of its own
    // (a printer whose state turns to error).
    void setErrorProbe(std::function<bool()> probe) { m_errorProbe = std::move(probe); }

protected:
    double textWidth(const QString& text) const override;
    double averageCharWidth() const override;
    double lineHeight() const override;
    void drawText(double x, double y, const QString& text) override;
    void drawLine(double x1, double y1, double x2, double y2) override;
    void fontChanged() override;
    bool startPage() override;
    bool finishDocument() override;
    void abortDocument() override;

private:
    void applyFit();
    double toDeviceX(double twips) const { return twips * m_dpiX / 1440.0; }
    double toDeviceY(double twips) const { return twips * m_dpiY / 1440.0; }
    double toTwipsX(double units) const { return units * 1440.0 / m_dpiX; }
    double toTwipsY(double units) const { return units * 1440.0 / m_dpiY; }
    bool deviceError() const { return m_errorProbe && m_errorProbe(); }

    QPagedPaintDevice& m_device;
    QPainter m_painter;
    QFont m_qfont;
    double m_dpiX;
    double m_dpiY;
    double m_layoutWidth = 0; // twips; 0: drawn as it comes
    double m_layoutHeight = 0;
    double m_scale = 1.0;
    std::function<void()> m_abortHandler;
    std::function<bool()> m_errorProbe;
};

} // namespace vardel
