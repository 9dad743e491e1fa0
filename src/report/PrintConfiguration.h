#pragma once

#include "config/RegisterTable.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace vardel {

class PrintSurface;

// Register rows: 18 on the first page (below the description block), up to
// 33 on every later one.
inline constexpr int kFirstPageRows = 18;
inline constexpr int kRowsPerPage = 33;

// What the layout covers of a page, in twips: the table ends at x = 11000 and
// the date and time of page 1 (from x = 9500) run a little further; the page
// number's line lies below y = 15000.
inline constexpr double kReportWidthTwips = 11700;
inline constexpr double kReportHeightTwips = 15240;

// The configuration report: the framed description block and the register
// table on page 1, the rest of the table on later pages, and the end of the
// document. RegName must hold the names already (LoadRegisterNames).
// Returns true when the document was ended; false when the printer failed on
// the way, in which case the document has been aborted and surface.failureText()
// says why.
bool PrintConfiguration(PrintSurface& surface, const RegisterTable& table, std::int16_t meterModel,
                        const QString& dateText, const QString& timeText,
                        const QLocale& locale = QLocale());

// The same with the date and time in the locale's short formats.
bool PrintConfiguration(PrintSurface& surface, const RegisterTable& table, std::int16_t meterModel,
                        const QDateTime& when, const QLocale& locale = QLocale());

// Number of pages of a report over regCount registers.
int reportPageCount(int regCount);

// Cell texts of a register row.
QString reportNumberText(std::int16_t meterModel, int r);
QString reportValueText(float value, const QLocale& locale = QLocale());

} // namespace vardel
