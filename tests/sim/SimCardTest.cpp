// The simulated card and meters, driven through Module1 exactly as the
// program drives a real card.
#include "sim/SimCard.h"

#include "link/Module1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace vardel {
namespace {

struct CountingErrors : ErrorWindows {
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

class SimLink : public ::testing::Test {
protected:
    SimLink()
    {
        card.setClock([this] { return now; });
        link.setErrorWindows(&errors);
        useMeter(kModelKX3, 2);
    }

    void useMeter(std::int16_t model, std::int16_t address, std::int16_t baud = 4, std::int16_t check = 1)
    {
        link.MeterModel = model;
        link.MeterAddress = address;
        link.BaudCode = baud;
        link.TransmitCheck = check;
        link.CardSetLink();
    }

    float readReg(std::int16_t r, std::int16_t& flag)
    {
        float value = -12345.0f;
        link.ReadConfigReg(r, value, flag);
        return value;
    }

    std::int16_t writeReg(std::int16_t r, float value)
    {
        link.Kx_Reg_Write(r, value);
        std::int16_t flag = 0;
        link.WaitWriteReply(flag);
        return flag;
    }

    // What a store or a restart needs before the meter answers again.
    void letMeterFinish() { card.passTime(std::chrono::seconds(5)); }

    std::vector<float> measure(int* count = nullptr)
    {
        std::int16_t flag = 1;
        link.RequestMeasureBlock(flag);
        EXPECT_EQ(flag, 0);
        int n = 0;
        EXPECT_EQ(link.FetchReply(&n), 0);
        if (count)
            *count = n;
        std::vector<float> values;
        for (int j = 1; j + 5 <= n; j += 6)
            values.push_back(BasToFloat(link.RxBuf, j));
        return values;
    }

    double now = 1000.0;
    SimCard card;
    Module1 link{card};
    CountingErrors errors;
};

TEST_F(SimLink, ReadsFactoryConfigurationOfEachModel)
{
    struct Case {
        std::int16_t model, address, r;
        float expected;
    };
    const Case cases[] = {
        {kModelKX2, 1, 3, 20.0f},   // range end of input 1, mA
        {kModelKX2, 1, 12, 0.5f},   // filter constant of input 1
        {kModelKX3, 2, 0, 2.0f},    // the KX-3 keeps its own address in register 0
        {kModelKX3, 2, 1, 4.0f},    // and its baud code in register 1
        {kModelKX3, 2, 18, 100.0f}, // scale end of input 1
        {kModelKX4, 3, 19, 1000.0f},
        {kModelKX4, 3, 254, 0.0f},  // last register, reserved: at 5325
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " r " << c.r);
        useMeter(c.model, c.address);
        std::int16_t flag = 1;
        EXPECT_EQ(readReg(c.r, flag), c.expected);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(link.CardReadReg(15) * 256 + link.CardReadReg(16), 8); // payload + 2
    }
    EXPECT_EQ(errors.transmit + errors.receive, 0);
}

TEST_F(SimLink, WriteGoesToRamAndIsAcknowledged)
{
    EXPECT_EQ(writeReg(6, -273.15f), 0);
    const SimMeter* meter = card.meterAt(2);
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->configValue(6), -273.15f);
    EXPECT_EQ(meter->configValue(6, true), 1.0f) << "EEPROM only changes on a store";

    std::int16_t flag = 1;
    EXPECT_EQ(readReg(6, flag), -273.15f);
    EXPECT_EQ(flag, 0);
    // The other meters heard nothing.
    EXPECT_EQ(card.meterAt(1)->ram, card.meterAt(1)->eeprom);
}

// A meter has memory for its configuration and its live values only: the
// KX-3's layout read from the KX-4 at 3 gives 0, whatever bytes the state
// file gave that place, and a write there is acknowledged and lost.
TEST_F(SimLink, MemoryOutsideTheConfigurationReadsZeroAndKeepsNothing)
{
    SimMeter* kx4 = card.meterAt(3);
    ASSERT_NE(kx4, nullptr);
    const SimMemory eeprom = kx4->eeprom;
    for (std::size_t at = 633; at < 651; ++at)
        kx4->ram.set(at, 0x42);
    useMeter(kModelKX3, 3);
    std::int16_t flag = 1;
    for (std::int16_t r = 0; r < 3; ++r) {
        EXPECT_EQ(readReg(r, flag), 0.0f) << r;
        EXPECT_EQ(flag, 0);
    }
    EXPECT_EQ(writeReg(0, 7.0f), 0);
    EXPECT_EQ(readReg(0, flag), 0.0f);
    // Its own registers answer as ever.
    useMeter(kModelKX4, 3);
    EXPECT_EQ(readReg(170, flag), 4.0f);
    EXPECT_EQ(kx4->eeprom, eeprom);
}

TEST_F(SimLink, EepromStoreKeepsWhatMeterResetOtherwiseDrops)
{
    std::int16_t flag = 1;
    ASSERT_EQ(writeReg(9, 55.0f), 0);
    link.SendMeterReset();
    letMeterFinish();
    EXPECT_EQ(readReg(9, flag), 4.0f) << "a reset reloads RAM from EEPROM";

    ASSERT_EQ(writeReg(9, 55.0f), 0);
    link.SendEepromStore();
    letMeterFinish();
    ASSERT_EQ(writeReg(9, 66.0f), 0);
    link.SendMeterReset();
    letMeterFinish();
    EXPECT_EQ(readReg(9, flag), 55.0f);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(errors.transmit + errors.receive, 0);
}

TEST_F(SimLink, WrongAddressOrBaudSendsButNeverGetsAReply)
{
    struct Case {
        std::int16_t address, baud, check;
    };
    for (const Case c : {Case{9, 4, 1}, Case{2, 3, 1}, Case{1, 5, 1}, Case{2, 4, 0}}) {
        SCOPED_TRACE(testing::Message() << "address " << c.address << " baud " << c.baud << " check " << c.check);
        useMeter(kModelKX3, c.address, c.baud, c.check);
        errors = {};
        std::int16_t flag = 0;
        EXPECT_EQ(readReg(0, flag), -12345.0f) << "value untouched";
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(errors.transmit, 0) << "the request did go out";
        EXPECT_EQ(errors.receive, 1);
    }
}

TEST_F(SimLink, CardResetDropsLinkUntilCardSetLink)
{
    EXPECT_EQ(link.CardReset(), SimCard::kStatusReady);
    EXPECT_FALSE(card.linkLoaded());
    EXPECT_EQ(card.cardRegister(13), 0);

    std::int16_t flag = 0;
    readReg(0, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(errors.transmit, 1) << "without link parameters nothing is sent";
    EXPECT_EQ(errors.receive, 0);

    link.CardSetLink();
    EXPECT_TRUE(card.linkLoaded());
    EXPECT_EQ(readReg(0, flag), 2.0f);
    EXPECT_EQ(flag, 0);
}

TEST_F(SimLink, CardIsInResetWhileTheLineIsHeld)
{
    card.vbOut(833, 128);
    EXPECT_EQ(link.ReadCardStatus(), SimCard::kStatusInReset);
    EXPECT_EQ(link.CardWaitReady(), 1);
    card.vbOut(833, 0);
    EXPECT_EQ(link.CardWaitReady(), 0);
}

TEST_F(SimLink, AnswersOnlyAtItsOwnBase)
{
    link.setCardAddress(768);
    EXPECT_EQ(link.ReadCardStatus(), 0xFF);
    EXPECT_EQ(link.CardWaitReady(), 1);
    EXPECT_EQ(link.CardReadReg(13), 0);

    card.setBaseAddress(768);
    link.CardSetLink();
    std::int16_t flag = 1;
    EXPECT_EQ(readReg(0, flag), 2.0f);
    EXPECT_EQ(flag, 0);
}

TEST_F(SimLink, DeadCardIsNeverReady)
{
    ASSERT_TRUE(card.setFault(QStringLiteral("dead-card")));
    EXPECT_EQ(link.ReadCardStatus(), 0xFF);
    EXPECT_EQ(link.CardWaitReady(), 1);
    EXPECT_EQ(link.CardReadReg(7), 0);
    // Whatever is written to a dead card is lost.
    card.vbOut(833, 64 + 13);
    card.vbOut(832, 99);
    card.clearFaults();
    EXPECT_EQ(link.CardWaitReady(), 0);
    EXPECT_EQ(link.CardReadReg(13), 2);
}

TEST_F(SimLink, NoMeterFault)
{
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    std::int16_t flag = 0;
    readReg(0, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(errors.transmit, 0);
    EXPECT_EQ(errors.receive, 1);
}

TEST_F(SimLink, NoAckFaultStillWritesRam)
{
    ASSERT_TRUE(card.setFault(QStringLiteral("no-ack")));
    EXPECT_EQ(writeReg(4, 2.5f), 1);
    EXPECT_EQ(card.meterAt(2)->configValue(4), 2.5f);
    std::int16_t flag = 1;
    EXPECT_EQ(readReg(4, flag), 2.5f) << "reads still answer";
    EXPECT_EQ(flag, 0);
}

TEST_F(SimLink, NoStoreFaultLosesTheStoreWithoutAWord)
{
    ASSERT_TRUE(card.setFault(QStringLiteral("no-store")));
    const float before = card.meterAt(2)->configValue(9, true);
    ASSERT_EQ(writeReg(9, 55.0f), 0);
    link.SendEepromStore();
    EXPECT_EQ(errors.transmit + errors.receive, 0) << "the request itself goes out";
    EXPECT_EQ(card.meterAt(2)->configValue(9, true), before);
    link.SendMeterReset();
    letMeterFinish();
    std::int16_t flag = 1;
    EXPECT_EQ(readReg(9, flag), before);
}

TEST_F(SimLink, SlowReplyCompletesAtTheKthPollOfRegister6)
{
    // The wait polls register 6 at most 149999 times.
    std::int16_t flag = 1;
    ASSERT_TRUE(card.setFault(QStringLiteral("slow-reply=149999")));
    EXPECT_EQ(readReg(0, flag), 2.0f);
    EXPECT_EQ(flag, 0);

    ASSERT_TRUE(card.setFault(QStringLiteral("slow-reply=150000")));
    readReg(0, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(errors.receive, 1);
}

TEST_F(SimLink, BadLengthShiftsTheReportedLength)
{
    ASSERT_TRUE(card.setFault(QStringLiteral("bad-length")));
    int n = 0;
    measure(&n);
    EXPECT_EQ(n, 36 - 2) << "the card forgot the two extra bytes";

    ASSERT_TRUE(card.setFault(QStringLiteral("bad-length=3")));
    measure(&n);
    EXPECT_EQ(n, 36 + 3);
}

TEST_F(SimLink, OversizedReplyIsRefused)
{
    for (const char* fault : {"oversized-reply", "oversized-reply=253"}) {
        SCOPED_TRACE(fault);
        ASSERT_TRUE(card.setFault(QString::fromLatin1(fault)));
        errors = {};
        std::int16_t flag = 0;
        EXPECT_EQ(readReg(0, flag), -12345.0f);
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(errors.receive, 1);
    }
}

// Counts what the link does to the card, passing it on.
class CountingPort final : public PortBackend {
public:
    explicit CountingPort(PortBackend& inner) : m_inner(inner) {}
    void vbOut(std::uint16_t port, std::uint8_t value) override
    {
        ++ops;
        m_inner.vbOut(port, value);
    }
    std::uint8_t vbInp(std::uint16_t port) override
    {
        ++ops;
        return m_inner.vbInp(port);
    }
    long long ops = 0;

private:
    PortBackend& m_inner;
};

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST_F(SimLink, ExchangesTakeTheTimeOfARealCardAndAsManyPolls)
{
    struct Case {
        const char* what;
        std::int16_t model, address, baud;
        milliseconds response; // the meter's
        bool measure;          // the live values block instead of register 0
        int requestBytes, replyBytes;
        bool answered;
    };
    const Case cases[] = {
        {"KX-3 register at 19200", kModelKX3, 2, 4, milliseconds(20), false, 4, 6, true},
        {"KX-3 register at 1200", kModelKX3, 2, 0, milliseconds(20), false, 4, 6, true},
        // 62 bytes at 1200 baud and 20 ms: 537 ms, inside the 600 ms of the wait...
        {"KX-4 live values at 1200", kModelKX4, 3, 0, milliseconds(20), true, 4, 60, true},
        // ...a slower meter is out of its reach, as on a real card.
        {"KX-4 live values at 1200, slow meter", kModelKX4, 3, 0, milliseconds(100), true, 4, 60, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimMeter& meter = *card.meterAt(c.address);
        meter.baudCode = c.baud;
        meter.response = c.response;
        CountingPort counted(card);
        Module1 timed(counted);
        timed.setErrorWindows(&errors);
        timed.MeterModel = c.model;
        timed.MeterAddress = c.address;
        timed.BaudCode = c.baud;
        timed.CardSetLink();
        counted.ops = 0;
        const auto before = card.cardClock().now();
        std::int16_t flag = 1;
        if (c.measure) {
            timed.RequestMeasureBlock(flag);
        } else {
            float value = 0.0f;
            timed.ReadConfigReg(0, value, flag);
        }
        const auto took = card.cardClock().now() - before;
        EXPECT_EQ(flag, c.answered ? 0 : 1);
        // Every port operation is one bus cycle and nothing else passes time:
        // the link polled for as long as a real card would keep it polling.
        EXPECT_EQ(took, counted.ops * SimClock::kDefaultPortCycle);
        if (!c.answered)
            continue;
        const auto onTheWire = SimClock::wireTime(c.requestBytes, c.baud) + c.response + SimClock::wireTime(c.replyBytes, c.baud);
        EXPECT_GE(took, onTheWire);
        EXPECT_LT(took, onTheWire + microseconds(500)) << "the request loading and the last polls";
    }
}

// A meter set to answer late is out of reach of the link's usual wait; the
// response time given to the link makes every reply wait last what such a
// meter needs, on the card's clock, and no longer.
TEST_F(SimLink, AResponseTimeGivenMakesEveryReplyWaitLastWhatThatMeterNeeds)
{
    enum class Exchange { Read, Write, Measure, Probe };
    struct Case {
        const char* what;
        std::int16_t model, address, baud;
        milliseconds meter;                  // its response time; none there for address 9
        std::optional<milliseconds> given;   // --response-time
        Exchange exchange;
        bool answered;
    };
    const Case cases[] = {
        {"read, 2 s meter, usual wait", kModelKX3, 2, 4, milliseconds(2000), std::nullopt, Exchange::Read, false},
        {"read, 2 s meter, 2 s given", kModelKX3, 2, 4, milliseconds(2000), milliseconds(2000), Exchange::Read, true},
        {"write, 2 s meter, usual wait", kModelKX3, 2, 4, milliseconds(2000), std::nullopt, Exchange::Write, false},
        {"write, 2 s meter, 2 s given", kModelKX3, 2, 4, milliseconds(2000), milliseconds(2000), Exchange::Write, true},
        {"KX-4 live values at 1200, 100 ms meter, given", kModelKX4, 3, 0, milliseconds(100), milliseconds(100),
         Exchange::Measure, true},
        // A probe's bound longer than the usual wait is kept, not cut at the count.
        {"probe bounded at 3 s, 2 s meter", kModelKX3, 2, 4, milliseconds(2000), std::nullopt, Exchange::Probe, true},
        {"read, silent address, 2 s given", kModelKX3, 9, 4, milliseconds(20), milliseconds(2000), Exchange::Read, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        card.meters() = factoryNetwork();
        for (SimMeter& m : card.meters()) {
            m.baudCode = c.baud;
            m.response = c.meter;
        }
        useMeter(c.model, c.address, c.baud);
        link.setCardClock(&card.cardClock());
        link.setResponseTime(c.given);
        errors = {};
        const auto before = card.cardClock().now();
        std::int16_t flag = 1;
        float value = 0.0f;
        switch (c.exchange) {
        case Exchange::Read: link.ReadConfigReg(0, value, flag); break;
        case Exchange::Write: flag = writeReg(5, 25.0f); break;
        case Exchange::Measure: link.RequestMeasureBlock(flag); break;
        case Exchange::Probe: link.ReadConfigReg(0, value, flag, seconds(3)); break;
        }
        const auto took = card.cardClock().now() - before;
        EXPECT_EQ(flag, c.answered ? 0 : 1);
        if (!c.answered && c.given) {
            // Silence costs what that meter would need, from the request out.
            const auto needs = replyWaitNeeded(c.baud, *c.given, 6) + SimClock::wireTime(4, c.baud);
            EXPECT_GE(took, needs);
            EXPECT_LT(took, needs + milliseconds(1));
        }
        if (!c.given && c.exchange != Exchange::Probe && !c.answered) {
            EXPECT_LT(took, milliseconds(700)) << "the usual wait keeps its count";
        }
    }
    link.setResponseTime(std::nullopt);
}

TEST(ReplyWait, TheLongestResponseTimeIsWhatTheWaitCatchesAtThatBaudRate)
{
    // The usual wait: 149999 reads of four bus cycles.
    EXPECT_EQ(fullReplyWait(), microseconds(599996));
    // A KX-4's live values at 1200 baud take 517 ms of wire: little is left.
    EXPECT_EQ(longestResponseMs(0, fullReplyWait(), longestReplyBytes(kModelKX4)), 52);
    EXPECT_EQ(longestResponseMs(4, fullReplyWait(), longestReplyBytes(kModelKX3)), 466);
    // Whatever response time is given, a wait made for it catches it again.
    for (const int ms : {0, 20, 466, 800, 60000}) {
        for (std::int16_t baud = 0; baud <= 5; ++baud) {
            const auto wait = replyWaitNeeded(baud, milliseconds(ms), 60);
            EXPECT_EQ(longestResponseMs(baud, wait, 60), ms) << ms << " ms at code " << baud;
        }
    }
    EXPECT_EQ(longestResponseMs(0, milliseconds(100), 60), -1) << "not even an instant answer fits";
}

TEST_F(SimLink, MeterAnswersAtTheLinkItsEepromHoldsOnceReset)
{
    // The registers that set each model's own link; the KX-2 and KX-4 keep
    // their front-panel address.
    struct Case {
        std::int16_t model, address;
        std::int16_t newAddress;
    };
    for (const Case c : {Case{kModelKX2, 1, 1}, Case{kModelKX3, 2, 7}, Case{kModelKX4, 3, 3}}) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        card.meters() = factoryNetwork();
        const MeterLinkRegisters regs = linkRegistersOf(c.model);
        useMeter(c.model, c.address);
        if (regs.address >= 0) {
            ASSERT_EQ(writeReg(static_cast<std::int16_t>(regs.address), c.newAddress), 0);
        }
        ASSERT_EQ(writeReg(static_cast<std::int16_t>(regs.baudCode), 3.0f), 0);
        ASSERT_EQ(writeReg(static_cast<std::int16_t>(regs.transmitCheck), 0.0f), 0);
        link.SendEepromStore();
        letMeterFinish();

        // Stored, not yet taken: the meter still answers where it did.
        std::int16_t flag = 1;
        readReg(0, flag);
        EXPECT_EQ(flag, 0);
        link.SendMeterReset();
        errors = {};
        readReg(0, flag);
        EXPECT_EQ(flag, 1) << "the old link is gone";

        useMeter(c.model, c.newAddress, 3, 0);
        readReg(0, flag);
        EXPECT_EQ(flag, 1) << "still starting";
        letMeterFinish();
        readReg(0, flag);
        EXPECT_EQ(flag, 0) << "at its new address, 9600 baud, no transmit check";
        const SimMeter& meter = *card.meterAt(c.newAddress);
        EXPECT_EQ(meter.baudCode, 3);
        EXPECT_EQ(meter.transmitCheck, 0);
    }
}

TEST_F(SimLink, StoreKeepsTheMeterDeafLongerTheMoreRegistersItStores)
{
    struct Case {
        std::int16_t model, address;
    };
    for (const Case c : {Case{kModelKX2, 1}, Case{kModelKX4, 3}}) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        useMeter(c.model, c.address);
        link.SendEepromStore();
        const auto sent = card.cardClock().now();
        std::int16_t flag = 1;
        int silent = 0;
        while (readReg(0, flag), flag != 0 && silent < 20)
            ++silent;
        const auto deaf = card.cardClock().now() - sent;
        const auto store = SimMeter::kDefaultStorePerRegister * SimMeter::registerCount(c.model);
        EXPECT_GE(deaf, store);
        EXPECT_LT(deaf, store + milliseconds(700)) << "answered at the first read after the store";
        EXPECT_GE(silent, 1);
    }
}

TEST_F(SimLink, ResetDuringAStoreLeavesTheEepromPartlyOldPartlyNew)
{
    useMeter(kModelKX4, 3);
    SimMeter& meter = *card.meterAt(3);
    const SimMeter factory = meter;
    for (int r = 0; r < 255; ++r)
        meter.setConfigValue(r, 5000.0f + static_cast<float>(r));
    link.SendEepromStore();
    card.passTime(milliseconds(1000));
    link.SendMeterReset();

    int stored = 0;
    while (stored < 255 && meter.configValue(stored, true) == 5000.0f + static_cast<float>(stored))
        ++stored;
    EXPECT_NEAR(stored, 100, 1) << "1 s of a 10 ms per register store";
    for (int r = stored; r < 255; ++r)
        ASSERT_EQ(meter.configValue(r, true), factory.configValue(r, true)) << r;
    // After its start the meter runs on what the EEPROM kept.
    letMeterFinish();
    std::int16_t flag = 1;
    EXPECT_EQ(readReg(254, flag), factory.configValue(254));
    EXPECT_EQ(flag, 0);
}

TEST_F(SimLink, PowerCycleReloadsRamAndCutsAStoreShort)
{
    SimMeter& kx2 = *card.meterAt(1);
    SimMeter& kx3 = *card.meterAt(2);
    kx2.setConfigValue(9, 77.0f);
    kx3.setConfigValue(9, 88.0f);
    useMeter(kModelKX3, 2);
    link.SendEepromStore();
    card.passTime(milliseconds(50));
    ASSERT_TRUE(card.setFault(QStringLiteral("power-cycle")));
    EXPECT_FALSE(card.faults().powerCycle) << "done, not kept";

    EXPECT_EQ(kx2.configValue(9), 250.0f) << "RAM from the EEPROM";
    EXPECT_EQ(kx3.configValue(9), 4.0f) << "register 9 was not stored yet";
    std::int16_t flag = 1;
    EXPECT_EQ(readReg(0, flag), 2.0f) << "already started when the program runs";
    EXPECT_EQ(flag, 0);
}

TEST_F(SimLink, TwoMetersOnOneLinkGarbleEachOther)
{
    // Both answer at once: a bit either pulls low reads low, so the reply
    // comes, but it is neither meter's.
    card.meters().push_back(SimMeter::factory(kModelKX2, 2));
    useMeter(kModelKX3, 2);
    const SimMeter& kx3 = *card.meterAt(2);
    const SimMeter& kx2 = card.meters().back();
    const std::size_t at = SimMeter::configBase(kModelKX3);
    std::int16_t flag = 1;
    readReg(0, flag);
    ASSERT_EQ(flag, 0);
    bool garbled = false;
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(link.RxBuf[i + 1], kx3.ram[at + i] & kx2.ram[at + i]) << i;
        garbled |= link.RxBuf[i + 1] != kx3.ram[at + i];
    }
    EXPECT_TRUE(garbled) << "the KX-3's own reply would pass for a healthy one";
}

TEST(SimFaults, MalformedFaultsAreRefused)
{
    SimCard card;
    for (const char* faultText : {"dead", "no-ack=3", "no-store=1", "no-reset=1", "slow-reply=0", "slow-reply=x", "bad-length=0",
                             "oversized-reply=252", "oversized-reply=65536"}) {
        QString error;
        EXPECT_FALSE(card.setFault(QString::fromLatin1(faultText), &error)) << faultText;
        EXPECT_TRUE(error.contains(QStringLiteral("usterk"))) << error.toStdString();
    }
    EXPECT_EQ(card.faults().slowReply, 0);
    EXPECT_EQ(SimCard::faultNames().size(), 9);
}

TEST_F(SimLink, LiveValuesMoveLikeAProcess)
{
    struct Case {
        std::int16_t model, address;
        int inputs, functions, balances;
    };
    for (const Case c : {Case{kModelKX2, 1, 2, 1, 1}, Case{kModelKX3, 2, 4, 1, 1}, Case{kModelKX4, 3, 4, 2, 4}}) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        useMeter(c.model, c.address);
        now = 1000.0;
        card.setClock([this] { return now; });
        now += 600.0;
        int n = 0;
        const std::vector<float> first = measure(&n);
        EXPECT_EQ(n, Module1::MeasureBlockLength(c.model));
        EXPECT_EQ(measure(), first) << "same instant, same values";
        now += 5.0;
        const std::vector<float> later = measure();
        ASSERT_EQ(first.size(), static_cast<std::size_t>(c.inputs + c.functions + c.balances));
        ASSERT_EQ(later.size(), first.size());

        const auto inputs = static_cast<std::size_t>(c.inputs);
        for (std::size_t i = 0; i < inputs; ++i) {
            EXPECT_NE(later[i], first[i]) << "input " << i;
            EXPECT_GT(first[i], 0.0f);
            EXPECT_LT(first[i], 100.0f);
        }
        // The first function value follows the inputs it is made of.
        EXPECT_NEAR(later[inputs], later[0] + later[1], 1e-3);
        for (std::size_t b = inputs + static_cast<std::size_t>(c.functions); b < first.size(); ++b) {
            EXPECT_GT(first[b], 0.0f);
            EXPECT_GT(later[b], first[b]) << "balance " << b;
        }
    }
}

// At a real card's pace the PC sleeps for what the card's time gains on the
// wall clock, so an exchange lasts its card time; fast never sleeps. The wall
// here moves only by those sleeps.
TEST_F(SimLink, RealPaceSleepsTheCardTimeOfEachExchange)
{
    for (SimPace pace : {SimPace::Fast, SimPace::Real}) {
        SCOPED_TRACE(pace == SimPace::Real ? "real" : "fast");
        nanoseconds wall{0};
        int sleeps = 0;
        card.cardClock().setWall([&] { return wall; });
        card.cardClock().setPace(pace, [&](nanoseconds time) {
            ++sleeps;
            // Never more than one step of the card's time at a go.
            EXPECT_LE(time, milliseconds(2));
            wall += time;
        });
        useMeter(kModelKX3, 2, 0); // 1200 baud: 137 ms a register
        card.meterAt(2)->baudCode = 0;
        const nanoseconds cardBefore = card.cardClock().now(), wallBefore = wall;
        std::int16_t flag = 1;
        readReg(0, flag);
        EXPECT_EQ(flag, 0);
        const nanoseconds cardTook = card.cardClock().now() - cardBefore, wallTook = wall - wallBefore;
        EXPECT_GT(cardTook, milliseconds(100));
        if (pace == SimPace::Fast) {
            EXPECT_EQ(sleeps, 0);
            EXPECT_EQ(wallTook, nanoseconds::zero());
        } else {
            EXPECT_GT(sleeps, 50) << "slept a little at a time, not once at the end";
            EXPECT_LE(wallTook, cardTook);
            EXPECT_GE(wallTook, cardTook - milliseconds(1));
        }
        card.cardClock().setPace(SimPace::Fast);
        card.cardClock().setWall({});
    }
}

} // namespace
} // namespace vardel
