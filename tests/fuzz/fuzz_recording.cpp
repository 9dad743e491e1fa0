// A saved recording read back for review: a file from anywhere.
#include "fuzz/FuzzSupport.h"
#include "recorder/CsvReview.h"

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = fuzz::scratchFile(fuzz::bytesOf(data, size));
    QString error;
    const std::unique_ptr<RecordedMeter> meter = readRecording(path, &error);
    // Either a recording of a known model with at least one line and times
    // that never go back, or a reason.
    if (!meter) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(meter->isReview());
    FUZZ_CHECK(!meter->store.empty());
    FUZZ_CHECK(meter->store.channels() == static_cast<int>(meter->boxes.size()));
    for (std::size_t i = 1; i < meter->store.size(); ++i)
        FUZZ_CHECK(meter->store.time(i) >= meter->store.time(i - 1));
    return 0;
}
