#pragma once

#include "cli/CliCommands.h"
#include "meterops/MeterFeedback.h"
#include "link/ModelCheck.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
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

// What a scan probes: every address of `addresses` at each baud code of
// `bauds` in turn, each probe waiting what a meter of `response` needs.
struct ScanPlan {
    std::vector<std::int16_t> bauds;
    std::vector<std::int16_t> addresses;
    std::chrono::milliseconds response{20};
    bool firstOnly = false; // end at the first meter found
};

// A meter that answered a probe, and what its memory says of its model
// (checked false: Ctrl+C cut the model read short).
struct ScanFind {
    std::int16_t address = 0;
    std::int16_t baudCode = 0;
    ModelFinding finding;
    bool checked = true;
};

struct ScanOutcome {
    int done = 0;  // probes made
    int total = 0; // probes planned
    int found = 0;
    bool cardFailed = false; // the card stopped sending at failedAt
    int failedAt = 0;
    bool interrupted = false; // Ctrl+C before every probe was made
};

// The scan itself, with its progress line on stderr: onFound hears of each
// meter as it answers. Afterwards the card has its link back (see runScan).
ScanOutcome scanNetwork(Module1& link, LinkErrors& errors, const ScanPlan& plan, const CliContext& context,
                        const std::function<void(const ScanFind&)>& onFound);

// How long a probe waits for its reply, counted on the card's clock from the
// start of sending: what a meter at that baud rate needs (the request's
// and the reply's wire time and its response time), a fifth more for a meter
// a little slower than it says, and 20 ms for the card's own turn-around.
// A silent address costs this instead of the link's full reply wait.
std::chrono::nanoseconds probeReplyBound(std::int16_t baudCode, std::chrono::milliseconds response);

} // namespace vardel
