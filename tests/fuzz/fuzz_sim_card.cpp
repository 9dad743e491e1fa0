// The simulated card's own logic, driven through the link as the program
// drives it: register writes, EEPROM stores cut short or not, resets that
// move a meter, power cycles, replies slowed, garbled or lost by faults and
// by the meter's response time, the state file written on every store and
// at the end; the model check over whatever the meters now hold.
// Promises checked: every wait ends (libFuzzer's -timeout catches a hang),
// the state file the card writes reads back to the meters as they are, and
// the model check names only models that exist, each once, and never names
// another model than the meter's own.
#include "fuzz/FuzzSupport.h"
#include "link/ModelCheck.h"
#include "link/Module1.h"
#include "sim/SimCard.h"
#include "sim/SimState.h"

#include <QFile>

#include <algorithm>

using namespace vardel;

namespace {

// The state of a meter as the file keeps it: the EEPROM, and the RAM where
// it is not a live value.
void expectSameAsFiled(const SimMeter& filed, const SimMeter& card)
{
    const SimMeter stored = card.whenStored();
    FUZZ_CHECK(filed.model == stored.model);
    FUZZ_CHECK(filed.eeprom == stored.eeprom);
    FUZZ_CHECK(filed.ram.equalRange(stored.ram, 0, SimMeter::kLiveBase));
    FUZZ_CHECK(filed.ram.equalRange(stored.ram, stored.liveEnd(), SimMeter::kMemorySize));
    FUZZ_CHECK(filed.link() == stored.link());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::size_t next = 0;
    auto take = [&]() -> std::uint8_t { return next < size ? data[next++] : 0; };

    // A fresh state file each run: the factory network.
    const QString path = fuzz::scratchFile({});
    QFile::remove(path);
    QStringList messages;
    std::unique_ptr<SimCard> card = SimCard::create({path, {}}, messages);
    FUZZ_CHECK(card != nullptr);

    // Faults the replies go through; K kept small enough for a run to stay short.
    const std::uint8_t faults = take();
    SimFaults f;
    f.noAck = faults & 1;
    f.noStore = faults & 2;
    f.slowReply = faults & 4 ? take() * 8 : 0;
    f.badLength = faults & 8 ? static_cast<std::int8_t>(take()) : 0;
    f.oversizedReply = faults & 16 ? 253 + take() * 200 : 0;
    f.noMeter = (faults & 96) == 96;
    card->setFaults(f);

    Module1 link(*card);
    link.setCardAddress(static_cast<std::int16_t>(card->baseAddress()));
    link.setCardClock(&card->cardClock());
    for (int step = 0; step < 16 && next < size; ++step) {
        const std::uint8_t op = take();
        link.MeterModel = static_cast<std::int16_t>(op % 3);
        // Mostly where a meter of the factory network answers: a wait that
        // runs out costs a run hundreds of thousands of polls.
        const std::uint8_t at = take();
        link.MeterAddress = static_cast<std::int16_t>(at & 0x80 ? at % 5 : 1 + at % 3);
        link.BaudCode = static_cast<std::int16_t>(at & 0x40 ? (at >> 3) % 6 : 4);
        link.TransmitCheck = static_cast<std::int16_t>(at & 0x20 ? 0 : 1);
        link.CardSetLink();
        switch ((op / 3) % 7) {
        case 0: {
            // A write, also of the registers that set the link (the
            // response time among them) and beyond the layout's end.
            const auto r = static_cast<std::int16_t>(take() % 256);
            const float value = static_cast<float>(static_cast<std::int8_t>(take())) * (take() % 2 ? 1.0f : 0.5f);
            link.Kx_Reg_Write(r, value);
            std::int16_t flag = 0;
            link.WaitWriteReply(flag);
            break;
        }
        case 1: {
            float value = 0.0f;
            std::int16_t flag = 0;
            link.ReadConfigReg(static_cast<std::int16_t>(take() % 256), value, flag);
            break;
        }
        case 2:
            link.SendEepromStore();
            break;
        case 3:
            link.SendMeterReset();
            break;
        case 4:
            // A store cut short by a reset, or left to finish.
            card->passTime(std::chrono::milliseconds(take() * 20));
            break;
        case 5:
            card->powerCycle();
            break;
        default:
            card->vbOut(static_cast<std::uint16_t>(card->baseAddress() + take() % 2), take());
            break;
        }
    }
    card->takeMessages();

    // The model check at whatever link the last step left; faults off, so
    // that the meters' own memory decides.
    // Only where a meter answers: every read of an empty link runs its wait out.
    card->clearFaults();
    const SimMeter* there = card->meterAt(link.MeterAddress);
    if (there && there->baudCode == link.BaudCode) {
        const ModelFinding finding = checkMeterModel(link);
        const std::vector<std::int16_t>& models = finding.possible;
        for (std::size_t i = 0; i < models.size(); ++i) {
            FUZZ_CHECK(models[i] >= 0 && models[i] <= 2);
            FUZZ_CHECK(std::count(models.begin(), models.end(), models[i]) == 1);
        }
        // Two meters at one link garble each other: what answers is no one meter.
        const auto sharing = std::count_if(card->meters().begin(), card->meters().end(), [&](const SimMeter& m) {
            return m.address == there->address && m.baudCode == there->baudCode;
        });
        if (finding.model && sharing == 1)
            FUZZ_CHECK(*finding.model == there->model);
    }

    // Power stays on between programs: the file holds the meters as they are.
    card->passTime(std::chrono::hours(1));
    QString error;
    FUZZ_CHECK(card->saveChanges(&error));
    if (!QFile::exists(path))
        FUZZ_CHECK(card->saveState(&error)); // nothing was ever stored
    SimStateData filed;
    QString reason;
    FUZZ_CHECK(loadSimState(path, filed, &reason) == SimStateLoad::Loaded);
    if (!filed.meters.empty()) {
        FUZZ_CHECK(filed.meters.size() == card->meters().size());
        for (std::size_t i = 0; i < filed.meters.size(); ++i)
            expectSameAsFiled(filed.meters[i], card->meters()[i]);
    }
    return 0;
}
