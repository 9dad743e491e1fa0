#pragma once

#include "cli/CliCommands.h"

namespace vardel {

// history: the configurations kept in `folder`, newest first, one line each:
//   2026-12-10 10:00:00.123 KX-3 adres 2 odczyt /…/historia/2026-12-10_….KX3
// Only those of --meter-address and --model when given on the command line
// (not their Vardel.cfg defaults); --format csv|json gives records (time,
// model, address, kind read|written, file). 0 also for an empty history or
// none of the meter asked about (each said on stderr); a stop ends it with
// the stop's code and no such word.
int runHistory(const QString& folder, const CliOptions& options, const CliContext& context);

} // namespace vardel
