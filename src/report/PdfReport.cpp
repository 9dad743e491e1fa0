#include "report/PdfReport.h"

#include "report/PainterSurface.h"
#include "report/PrintConfiguration.h"

#include "fileio/SafeFile.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPdfWriter>

#include <algorithm>

namespace vardel {

namespace {

// Fine enough for the text; the rules have the same width at any resolution.
constexpr int kPdfResolution = 300;
constexpr double kMarginMm = 5.0;

} // namespace

void applyReportPageSetup(QPagedPaintDevice& device, QPageLayout::Orientation orientation)
{
    QPageLayout layout = device.pageLayout();
    layout.setOrientation(orientation);
    layout.setUnits(QPageLayout::Millimeter);
    const QMarginsF minimum = layout.minimumMargins();
    // The table spans x = 1000 to 11000 twips: with no side margin of our own
    // it stands in the middle of an A4 sheet. A printer's unprintable edge
    // takes its place where there is one.
    const QMarginsF wanted(std::max(0.0, minimum.left()), std::max(kMarginMm, minimum.top()),
                           std::max(0.0, minimum.right()), std::max(kMarginMm, minimum.bottom()));
    layout.setMargins(wanted);
    device.setPageLayout(layout);
}

double reportScaleOn(const QPagedPaintDevice& device)
{
    return PainterSurface::scaleFor(device.pageLayout(), kReportWidthTwips, kReportHeightTwips);
}

bool printConfigurationToPdf(const RegisterTable& table, std::int16_t model, const QString& pdfPath,
                             QString* error)
{
    return printConfigurationToPdf(table, model, pdfPath, QDateTime::currentDateTime(), error);
}

bool printConfigurationToPdf(const RegisterTable& table, std::int16_t model, const QString& pdfPath,
                             const QDateTime& when, QString* error, const QPageSize& pageSize,
                             QPageLayout::Orientation orientation)
{
    auto failed = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QGuiApplication::instance())
        return failed(QStringLiteral("brak środowiska graficznego do składu tekstu"));

    // The report is made in memory first (a few hundred kB at most); only a
    // complete one goes to the disk, through the same checked writer as
    // every other file.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    bool printed = false;
    QString reason;
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kPdfResolution);
        writer.setPageSize(pageSize);
        applyReportPageSetup(writer, orientation);
        writer.setTitle(QStringLiteral("Konfiguracja miernika tablicowego %1").arg(table.ModelTag));
        writer.setCreator(QStringLiteral("Vardel"));

        PainterSurface surface(writer);
        surface.fitLayout(kReportWidthTwips, kReportHeightTwips);
        if (surface.begin())
            printed = PrintConfiguration(surface, table, model, when);
        reason = surface.failureText();
    }
    if (!printed)
        return failed(QStringLiteral("Błąd drukarki: %1. Wydruk przerwano.").arg(reason));
    if (!writeFileAtomically(pdfPath, buffer.data(), &reason))
        return failed(QStringLiteral("Nie można zapisać pliku %1: %2").arg(QDir::toNativeSeparators(pdfPath), reason));
    return true;
}

} // namespace vardel
