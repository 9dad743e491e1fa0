#pragma once

#include "fileio/RecordLines.h"
#include "measure/MeasureValues.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace vardel {

// The lines of `measure`. text: today's labelled line, no time. csv: a header
// of the test window's captions behind "Czas", then per refresh the time and
// one value per caption, ';'-separated. json: one object per refresh, the
// time and one field per caption. Times are ISO 8601 local time with
// milliseconds and the offset from UTC, as in the bus monitor, so that a
// night with a change of the clocks stays in order; values have a point and
// a zero before it, so spreadsheets and JSON readers take them as they are
// (csv with decimalComma: a comma, for a spreadsheet in Polish settings). A
// value the reply did not carry is an empty field (csv) or null (json).
QString measureHeaderLine(OutputFormat format, std::int16_t model); // empty: no header
QString measureRecordLine(OutputFormat format, std::int16_t model, const QDateTime& time,
                          const std::vector<MeasuredValue>& values, bool decimalComma = false);

// The recorder's file: the csv lines with one more field at the end,
// "Uwagi", empty for a refresh that brought values and saying why a line has
// none: the exchange failed, or the refresh was skipped because another
// exchange held the link.
QString recorderHeaderLine(std::int16_t model);
QString recorderRecordLine(std::int16_t model, const QDateTime& time, const std::vector<MeasuredValue>& values,
                           const QString& note = {});
QString recorderFailedNote();
QString recorderSkippedNote();
QString recorderNotesName(); // "Uwagi"

} // namespace vardel
