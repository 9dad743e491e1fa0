#pragma once

#include "config/RegisterTable.h"

#include <QDateTime>
#include <QPageLayout>
#include <QPageSize>
#include <QString>

#include <cstdint>

class QPagedPaintDevice;

namespace vardel {

// Page set-up of the printout on any device: the orientation asked for
// (portrait unless the user chose otherwise), small margins (or the device's
// own minimum, when larger) so that the layout's 11000 x 15000 twips fit A4
// and Letter portrait as they are. On other paper the report is printed
// smaller, whole (reportScaleOn).
void applyReportPageSetup(QPagedPaintDevice& device,
                          QPageLayout::Orientation orientation = QPageLayout::Portrait);

// The factor the report is printed at on the device's page as set up now: 1
// on A4 and Letter portrait, less on smaller paper or across the page.
double reportScaleOn(const QPagedPaintDevice& device);
// Below this the report's 10-point text would come out under 6 points: the
// printout refuses such paper and says why.
inline constexpr double kSmallestReportScale = 0.6;

// The configuration report as a PDF file. RegName is printed as it stands:
// load the names first (LoadRegisterNames). The file is written in full
// beside pdfPath and only then put in its place, so a failure never leaves a
// half-written report or destroys an older file of that name. Needs a running
// QGuiApplication (the offscreen platform is enough). On failure returns false
// and, when error is given, a Polish reason.
bool printConfigurationToPdf(const RegisterTable& table, std::int16_t model, const QString& pdfPath,
                             QString* error = nullptr);
bool printConfigurationToPdf(const RegisterTable& table, std::int16_t model, const QString& pdfPath,
                             const QDateTime& when, QString* error = nullptr,
                             const QPageSize& pageSize = QPageSize(QPageSize::A4),
                             QPageLayout::Orientation orientation = QPageLayout::Portrait);

} // namespace vardel
