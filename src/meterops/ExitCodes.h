#pragma once

namespace vardel {

// What a meter operation ends with: vardel-cli's exit codes, which scripts
// test, so they never change; the gateway maps them onto its replies.
enum ExitCode : int {
    kExitOk = 0,
    kExitLinkFailed = 1, // an exchange with the card or the meter failed
    kExitUsage = 2,      // bad usage, or a file that cannot be read or written
    kExitNoBackend = 3,  // the card cannot be reached at all (ports refused, another program has it)
    kExitDiffers = 4,    // verify, write --verify, diff: the values differ
    kExitSignal = 128,   // ended by a signal: 128 + its number (130 Ctrl+C, 143 SIGTERM)
};

} // namespace vardel
