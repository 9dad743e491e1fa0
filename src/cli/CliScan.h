#pragma once

#include "cli/CliCommands.h"
#include "cli/CliLink.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace vardel {

class Module1;

// scan: every baud rate and address of the options is loaded into the card as
// CardSetLink does, and register 0 of the KX-2 layout is read as a harmless
// probe. A meter that answers is told apart by reading the registers that
// set its own link (MeterModels); it is the model whose registers hold the
// address and the baud code it answered at. One line per meter on stdout: "1 19200 KX-2";
// "nieznany" when no model fits, "KX-2|KX-4" when several do, "niesprawdzony"
// when Ctrl+C cut the model read short (or one record each with --format).
// Nothing is written to any meter; afterwards, even after Ctrl+C, the card
// gets the configured link parameters back. Returns 0 when a meter
// answered, 1 when none did or the card stopped sending.
int runScan(Module1& link, CliErrors& errors, const CliOptions& options, const CliContext& context);

} // namespace vardel
