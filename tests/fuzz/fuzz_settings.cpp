// The settings file Vardel.cfg.
#include "app/Settings.h"
#include "fuzz/FuzzSupport.h"

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    bool usedDefaults = false;
    const Settings read = readSettingsFile(fuzz::scratchFile(fuzz::bytesOf(data, size)), &usedDefaults);
    if (usedDefaults) {
        FUZZ_CHECK(read == Settings{});
        return 0;
    }
    // What was taken is written back as the same nine values.
    bool again = true;
    FUZZ_CHECK(readSettingsFile(fuzz::scratchFile(settingsFileBytes(read)), &again) == read && !again);
    return 0;
}
