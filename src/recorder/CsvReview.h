#pragma once

#include "recorder/Recorder.h"

#include <QString>

#include <memory>

namespace vardel {

// A recording read back for review: the recorder's own file (with its
// „Uwagi” column) or the lines of `vardel-cli measure --format csv`, point
// or comma decimals. The model is told by the header's captions; times are
// kept as written (offset included), on a clock from the first line. A line
// without values is a failed refresh, or a skipped one where its note says
// so. Only the newest day of lines (the store's capacity) is kept.
// Nothing and a Polish reason when the file is not such a recording.
std::unique_ptr<RecordedMeter> readRecording(const QString& path, QString* error);

} // namespace vardel
