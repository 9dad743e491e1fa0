#pragma once

#include "measure/MeasureValues.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace vardel {

// How measure writes its lines: today's labelled line, or a recording.
enum class MeasureFormat { Text, Csv, Json };

// The lines of `measure`. text: today's labelled line, no time. csv: a header
// of the test window's captions behind "Czas", then per refresh the time and
// one value per caption, ';'-separated. json: one object per refresh, the
// time and one field per caption. Times are ISO 8601 local time with
// milliseconds, as in the bus monitor; values have a point and a zero before
// it, so spreadsheets and JSON readers take them as they are. A value the
// reply did not carry is an empty field (csv) or null (json).
QString measureHeaderLine(MeasureFormat format, std::int16_t model); // empty: no header
QString measureRecordLine(MeasureFormat format, std::int16_t model, const QDateTime& time,
                          const std::vector<MeasuredValue>& values);

} // namespace vardel
