#pragma once

#include "cli/CliCommands.h"
#include "meterops/MeterFeedback.h"
#include "link/ModelCheck.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <vector>

namespace vardel {

class Module1;

// scan: every baud rate and address of the options is loaded into the card as
// CardSetLink does, and register 0 of the KX-2 layout is read as a harmless
// probe. A meter that answers is told apart by checkMeterModel. One line
// per meter on stdout: "1 19200 KX-2"; "nieznany" when no model fits,
// "KX-2|KX-4" when several do, "niesprawdzony" when Ctrl+C cut the model
// read short (or one record each with --format). --first ends the scan at
// the first meter found. Nothing is written to any meter; afterwards, even
// after Ctrl+C, the card gets the configured link parameters back. Returns 0
// when a meter answered, 1 when none did or the card stopped sending.
int runScan(Module1& link, LinkErrors& errors, const CliOptions& options, const CliContext& context);

// How long a probe waits for its reply, counted on the card's clock from the
// start of sending: what a meter at that baud rate needs (the request's
// and the reply's wire time and its response time), a fifth more for a meter
// a little slower than it says, and 20 ms for the card's own turn-around.
// A silent address costs this instead of the link's full reply wait.
std::chrono::nanoseconds probeReplyBound(std::int16_t baudCode, std::chrono::milliseconds response);

} // namespace vardel
