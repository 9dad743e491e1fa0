#include "recorder/TrendExport.h"

#include "fileio/SafeFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

namespace vardel {

namespace {

// A picture as wide as a full-HD screen: the plot keeps a column per sample
// of ten minutes at 1 s and stays readable when printed on A4.
constexpr QSize kPictureSize(1600, 1000);

bool failed(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

void paintOn(QPaintDevice& device, const QRect& area, const QString& title, const TrendPlot& plot,
             const std::vector<TrendLegendRow>& legend)
{
    QPainter painter(&device);
    QFont font = painter.font();
    font.setPointSizeF(10);
    painter.setFont(font);
    paintTrendReport(painter, area, title, plot, legend);
}

} // namespace

bool saveTrendPicture(const QString& path, const QString& title, const TrendPlot& plot,
                      const std::vector<TrendLegendRow>& legend, QString* error)
{
    if (!QGuiApplication::instance())
        return failed(error, QStringLiteral("brak środowiska graficznego do składu tekstu"));
    const QString kind = QFileInfo(path).suffix().toLower();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (kind == QLatin1String("png")) {
        QImage image(kPictureSize, QImage::Format_RGB32);
        image.fill(Qt::white);
        paintOn(image, QRect(QPoint(0, 0), kPictureSize).adjusted(16, 12, -16, -12), title, plot, legend);
        if (!image.save(&buffer, "PNG"))
            return failed(error, QStringLiteral("Nie można utworzyć obrazu PNG."));
    } else if (kind == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(kPictureSize);
        svg.setViewBox(QRect(QPoint(0, 0), kPictureSize));
        svg.setTitle(title);
        svg.setDescription(QStringLiteral("Vardel"));
        paintOn(svg, QRect(QPoint(0, 0), kPictureSize).adjusted(16, 12, -16, -12), title, plot, legend);
    } else if (kind == QLatin1String("pdf")) {
        QPdfWriter pdf(&buffer);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                      QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
        pdf.setResolution(150);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("Vardel"));
        paintOn(pdf, QRect(0, 0, pdf.width(), pdf.height()), title, plot, legend);
    } else {
        return failed(error, QStringLiteral("Nie można zapisać wykresu w pliku %1: rozszerzenie musi być "
                                            "png, svg albo pdf.").arg(path));
    }
    QString reason;
    if (!writeFileAtomically(path, buffer.data(), &reason))
        return failed(error, QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, reason));
    return true;
}

} // namespace vardel
