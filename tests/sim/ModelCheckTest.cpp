// The model check against meters that try to pass for another model. The
// adversaries are simulated meters; the check reads them as the card does
// (the simulated meter's own read path), and through Module1 on the card's
// clock for every link a meter can have.
#include "link/ModelCheck.h"

#include "link/BasNumber.h"
#include "link/MeterModels.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <iostream>
#include <tuple>

namespace vardel {
namespace {

struct Link {
    int address, baudCode, check;
};

constexpr std::array<std::int16_t, 3> kBases{585, 633, 3801};

// A meter that answers at `at` (it started from an EEPROM that says so)
// while its RAM configuration is 0 in every register but `ram`: no value of
// its own gives it away, and its own link registers hold only what `ram`
// gives them, as after a write of another link not yet restarted.
SimMeter adversary(std::int16_t model, const Link& at, const std::vector<std::pair<int, float>>& ram)
{
    SimMeter m = SimMeter::factory(model, at.address, at.baudCode);
    m.transmitCheck = at.check;
    m.response = std::chrono::milliseconds(0);
    for (int r = 0; r < SimMeter::registerCount(model); ++r)
        m.setConfigValue(r, 0.0f);
    for (const auto& [r, v] : ram)
        m.setConfigValue(r, v);
    return m;
}

// Register r of `model`'s layout as the meter answers a read of it.
std::optional<float> readAsCard(const SimMeter& meter, std::int16_t model, int r)
{
    RxBuffer buf{};
    const auto at = static_cast<std::size_t>(kBases[static_cast<std::size_t>(model)] + 6 * r);
    for (std::size_t i = 0; i < 6; ++i)
        buf[i + 1] = meter.readByte(at + i);
    return BasToFloat(buf, 1);
}

ModelFinding checkInMemory(const SimMeter& meter, const Link& at)
{
    return checkMeterModel(at.address, at.baudCode, at.check, kBases,
                           [&meter](std::int16_t model, int r) { return readAsCard(meter, model, r); });
}

std::vector<Link> everyLink(int check)
{
    std::vector<Link> links;
    for (int address = 0; address <= 3; ++address)
        for (int baud = 0; baud <= 5; ++baud)
            links.push_back({address, baud, check});
    return links;
}

// The registers of the other layouts that set their link, where they fall in
// `model`'s own layout: what an adversary fills to pass for another model.
// Each as its register and what it sets there: 0 address, 1 baud code,
// 2 transmit check.
std::vector<std::pair<int, int>> pretenderRegisters(std::int16_t model)
{
    std::vector<std::pair<int, int>> regs;
    const MeterModelInfo& own = *meterModelInfo(model);
    for (const MeterModelInfo& other : meterModels()) {
        if (other.model == model)
            continue;
        const int sets[] = {other.link.address, other.link.baudCode, other.link.transmitCheck};
        for (int kind = 0; kind < 3; ++kind) {
            const int r = sets[kind];
            const int at = kBases[static_cast<std::size_t>(other.model)] + 6 * r;
            const int mine = at - kBases[static_cast<std::size_t>(model)];
            if (r >= 0 && mine >= 0 && mine % 6 == 0 && mine / 6 < own.registerCount)
                regs.emplace_back(mine / 6, kind);
        }
    }
    return regs;
}

// The meter's own link registers: its baud code and transmit check as the
// link it answers at, or another value (its address register, where it has
// one, always holds its address).
void setOwnLink(SimMeter& meter, const Link& at, bool baudFits, bool checkFits)
{
    const MeterLinkRegisters own = linkRegistersOf(meter.model);
    meter.setConfigValue(own.baudCode, static_cast<float>(baudFits ? at.baudCode : (at.baudCode + 1) % 6));
    meter.setConfigValue(own.transmitCheck, static_cast<float>(checkFits ? at.check : 1 - at.check));
    if (own.address >= 0)
        meter.setConfigValue(own.address, static_cast<float>(at.address));
}

struct Tally {
    int checks = 0;
    int recognised = 0;
};

// Every model, address 0..3, every baud code, transmit check 0 and 1; in the
// registers another layout reads its link from, every combination of 0..5;
// the meter's own link registers holding its link or not (RAM written with
// another link, not yet restarted); everything else 0, so that no value of
// its own helps it. No meter may ever be taken for another model.
class ModelCheckTable : public ::testing::TestWithParam<std::tuple<std::int16_t, int>> {};

TEST_P(ModelCheckTable, NoMeterIsEverTakenForAnotherModel)
{
    const auto [model, check] = GetParam();
    const MeterLinkRegisters own = linkRegistersOf(model);
    const std::vector<std::pair<int, int>> pretend = pretenderRegisters(model);
    ASSERT_EQ(pretend.size(), model == kModelKX4 ? 0u : (model == kModelKX2 ? 3u : 2u));
    // 0..5 in each of them: 6^n combinations.
    int combinations = 1;
    for (std::size_t i = 0; i < pretend.size(); ++i)
        combinations *= 6;
    Tally tally;
    for (const Link& at : everyLink(check)) {
        SimMeter meter = adversary(model, at, {});
        // Own baud code and transmit check each as the link or not; its own
        // response time 0 or not (a value only its layout would hold there).
        for (int own3 = 0; own3 < 8; ++own3) {
            setOwnLink(meter, at, (own3 & 1) != 0, (own3 & 2) != 0);
            meter.setConfigValue(own.responseTime, (own3 & 4) ? 5.0f : 0.0f);
            for (int c = 0; c < combinations; ++c) {
                int rest = c;
                for (const auto& [r, kind] : pretend) {
                    meter.setConfigValue(r, static_cast<float>(rest % 6));
                    rest /= 6;
                }
                const ModelFinding f = checkInMemory(meter, at);
                ++tally.checks;
                if (f.model) {
                    ASSERT_EQ(*f.model, model) << "address " << at.address << ", baud code " << at.baudCode
                                               << ", combination " << c << ", own registers " << own3;
                    ++tally.recognised;
                }
            }
        }
    }
    RecordProperty("checks", tally.checks);
    RecordProperty("recognised", tally.recognised);
    std::cout << modelNameOf(model).toStdString() << " check " << check << ": " << tally.checks << " meters, "
              << tally.recognised << " recognised, none taken for another model\n";
}

// The same links with a configuration as meters leave the factory: a meter
// whose own registers hold its link is recognised, whatever the registers
// another layout reads its link from say; one whose do not is unknown.
TEST_P(ModelCheckTable, AMeterWithItsOwnLinkInItsLayoutIsRecognised)
{
    const auto [model, check] = GetParam();
    const std::vector<std::pair<int, int>> pretend = pretenderRegisters(model);
    for (const Link& at : everyLink(check)) {
        SimMeter meter = SimMeter::factory(model, at.address, at.baudCode);
        for (int fits = 0; fits < 8; ++fits) {
            setOwnLink(meter, at, (fits & 1) != 0, (fits & 2) != 0);
            // Another layout's link registers hold the link too, or not.
            const float pretendValues[] = {static_cast<float>(at.address), static_cast<float>(at.baudCode),
                                           static_cast<float>(at.check)};
            for (const auto& [r, kind] : pretend)
                meter.setConfigValue(r, (fits & 4) ? pretendValues[kind] : 7.0f);
            const ModelFinding f = checkInMemory(meter, at);
            const bool ownFits = (fits & 3) == 3;
            EXPECT_EQ(f.model, ownFits ? std::optional<std::int16_t>(model) : std::nullopt)
                << "address " << at.address << ", baud code " << at.baudCode << ", case " << fits;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ModelCheckTable,
                         ::testing::Combine(::testing::Values(kModelKX2, kModelKX3, kModelKX4), ::testing::Values(0, 1)));

// Through the card, on its clock, as scan and program ask.
class ModelCheckOnCard : public ::testing::Test {
protected:
    ModelCheckOnCard() { card.setClock([] { return 0.0; }); }

    ModelFinding check(std::vector<SimMeter> meters, const Link& at)
    {
        card.meters() = std::move(meters);
        useLink(at);
        const ModelFinding f = checkMeterModel(link);
        EXPECT_EQ(link.MeterModel, kModelKX3) << "the selected model stays";
        return f;
    }

    void useLink(const Link& at)
    {
        link.MeterAddress = static_cast<std::int16_t>(at.address);
        link.BaudCode = static_cast<std::int16_t>(at.baudCode);
        link.TransmitCheck = static_cast<std::int16_t>(at.check);
        link.MeterModel = kModelKX3;
        link.CardSetLink();
    }

    static SimMeter factoryAt(std::int16_t model, const Link& at)
    {
        SimMeter m = SimMeter::factory(model, at.address, at.baudCode);
        m.setConfigValue(linkRegistersOf(model).transmitCheck, static_cast<float>(at.check));
        m.eeprom = m.ram;
        m.setLink(m.linkFromEeprom());
        return m;
    }

    SimCard card{{}};
    Module1 link{card};
};

TEST_F(ModelCheckOnCard, FactoryMetersOfEveryModelAreRecognisedAtEveryRate)
{
    for (const std::int16_t model : {kModelKX2, kModelKX3, kModelKX4}) {
        for (int baud = 0; baud <= 5; ++baud) {
            for (const Link at : {Link{0, baud, 0}, Link{3, baud, 1}}) {
                const ModelFinding f = check({factoryAt(model, at)}, at);
                EXPECT_EQ(f.model, model) << "model " << model << ", baud code " << baud << ", address " << at.address;
                EXPECT_EQ(f.possible, std::vector<std::int16_t>{model});
            }
        }
    }
}

// The two meters that passed for a KX-3: a KX-4 at address 0, 1200 baud,
// transmit check 0 (the KX-3's registers 0-2 lie outside its configuration
// and read 0), and a KX-2 whose scaling registers hold 1 and 4 (its
// registers 8-10 are the KX-3's 0-2) at address 1, 19200 baud.
TEST_F(ModelCheckOnCard, MetersThatLookLikeAKX3InAnotherLayoutAreTheirOwnModel)
{
    const Link low{0, 0, 0};
    EXPECT_EQ(check({factoryAt(kModelKX4, low)}, low).model, kModelKX4);

    const Link usual{1, 4, 1};
    SimMeter kx2 = factoryAt(kModelKX2, usual);
    kx2.setConfigValue(8, 1.0f);
    kx2.setConfigValue(9, 4.0f);
    ModelFinding f = check({kx2}, usual);
    EXPECT_EQ(f.model, kModelKX2);

    // With nothing else in its memory it fits both layouts: unknown, both named.
    SimMeter bare = adversary(kModelKX2, usual, {{8, 1.0f}, {9, 4.0f}, {10, 1.0f}, {51, 4.0f}, {52, 1.0f}});
    f = check({bare}, usual);
    EXPECT_EQ(f.model, std::nullopt);
    EXPECT_EQ(f.possible, (std::vector<std::int16_t>{kModelKX2, kModelKX3}));
}

TEST_F(ModelCheckOnCard, AMeterThatStopsAnsweringLeavesTheModelUnknown)
{
    const Link at{2, 4, 1};
    card.setFault(QStringLiteral("no-meter"));
    const ModelFinding f = check({factoryAt(kModelKX3, at)}, at);
    EXPECT_TRUE(f.readFailed);
    EXPECT_EQ(f.model, std::nullopt);
}

} // namespace
} // namespace vardel
