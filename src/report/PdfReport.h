#pragma once

#include "config/RegisterTable.h"

#include <QDateTime>
#include <QPageSize>
#include <QString>

#include <cstdint>

class QPagedPaintDevice;

namespace vardel {

// Page set-up of the printout on any device: portrait, small margins (or the
// device's own minimum, when larger) so that the layout's 11000 x 15000 twips
// fit on A4 and Letter.
void applyReportPageSetup(QPagedPaintDevice& device);

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
                             const QPageSize& pageSize = QPageSize(QPageSize::A4));

} // namespace vardel
