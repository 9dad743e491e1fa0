// The simulator's state file.
#include "fuzz/FuzzSupport.h"
#include "sim/SimState.h"

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SimStateData state;
    QString reason;
    if (!parseSimState(fuzz::bytesOf(data, size), state, &reason)) {
        FUZZ_CHECK(!reason.isEmpty());
        return 0;
    }
    // The program writes this file back on every EEPROM store: what it writes
    // must read back to the same state.
    const QByteArray text = simStateText(state);
    SimStateData again;
    FUZZ_CHECK(parseSimState(text, again, &reason));
    FUZZ_CHECK(simStateText(again) == text);
    return 0;
}
