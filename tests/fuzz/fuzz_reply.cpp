// What a card reports: a hostile card that is always ready and answers every
// register read with the fuzzer's next byte, through the reply path of a
// configuration read and of a measured-values refresh, with the bus monitor
// listening.
#include "meterops/MeterFeedback.h"
#include "config/RegisterTable.h"
#include "fuzz/FuzzSupport.h"
#include "link/Module1.h"
#include "measure/MeasureValues.h"
#include "support/FakePort.h"

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::size_t next = 0;
    auto take = [&]() -> std::uint8_t { return next < size ? data[next++] : 0; };

    test::FakePort card;
    card.recordStatusReads = false;
    // Registers 6 and 7 say "done" at once, so no wait runs its tries out.
    card.onRead = [&](int reg) -> std::uint8_t { return reg == 6 || reg == 7 ? 128 : take(); };

    Module1 link(card);
    LinkErrors errors;
    link.setErrorWindows(&errors);
    LinkTrace trace([](const QString& line) { FUZZ_CHECK(!line.isEmpty()); },
                    [] { return QDateTime(QDate(2026, 12, 10), QTime(10, 0)); });
    link.setListener(&trace);

    // Each round: a byte choosing the model and the exchange, then the card's replies.
    for (int round = 0; round < 8 && next < size; ++round) {
        const std::uint8_t choice = take();
        link.MeterModel = static_cast<std::int16_t>(choice % 3);
        if (choice & 0x80) {
            const MeasureReading reading = readMeasuredValues(link);
            for (const MeasuredValue& v : reading.values)
                FUZZ_CHECK(v.box >= 1 && v.box <= kMeasureBoxes && v.start >= 1 && v.start + 5 <= kRxBufSize);
        } else {
            float value = 0.0f;
            std::int16_t flag = 0;
            link.ReadConfigReg(static_cast<std::int16_t>(take() % regCountOf(link.MeterModel)), value, flag);
        }
        card.clear(); // the record would only grow
    }
    trace.finish();
    return 0;
}
