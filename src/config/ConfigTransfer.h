#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace vardel {

class Module1;
struct RegisterTable;

// How far a read or write of all configuration registers got. `done` counts
// the registers the progress display has shown; `complete` is true only when
// every register of the model went through.
struct TransferResult {
    int done = 0;
    bool complete = false;
};

// Called with the number of registers handled so far (1..RegCount), so that a
// window or the command line can move its progress display.
using TransferProgress = std::function<void(int done, int total)>;

// The pause between the last write acknowledgement and the EEPROM request:
// the meter needs a moment after a burst of writes.
inline constexpr std::chrono::milliseconds kEepromPause{50};

// Reads registers 0..RegCount-1 of the selected model into RegValue, one
// exchange each, in ascending order, and stops at the first failed exchange
// (the link has shown its error window then). Registers not reached keep
// their values.
TransferResult ReadConfiguration(Module1& link, RegisterTable& table, const TransferProgress& progress = {});

// Writes RegValue 0..RegCount-1 to the meter. Progress is reported after each
// request and before its acknowledgement is awaited. A missing
// acknowledgement stops the write and shows the transmit error window. After
// a complete write: the pause, then the EEPROM store request if asked for.
TransferResult WriteConfiguration(Module1& link, const RegisterTable& table, bool eepromStore,
                                  const TransferProgress& progress = {},
                                  std::chrono::milliseconds pause = kEepromPause);

} // namespace vardel
