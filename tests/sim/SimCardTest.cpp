// The simulated card and meters, driven through Module1 exactly as the
// program drives a real card.
#include "sim/SimCard.h"

#include "link/Module1.h"

#include <gtest/gtest.h>

#include <cmath>

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

    void useMeter(std::int16_t model, std::int16_t address, std::int16_t baud = 4)
    {
        link.MeterModel = model;
        link.MeterAddress = address;
        link.BaudCode = baud;
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

TEST_F(SimLink, EepromStoreKeepsWhatMeterResetOtherwiseDrops)
{
    std::int16_t flag = 1;
    ASSERT_EQ(writeReg(9, 55.0f), 0);
    link.SendMeterReset();
    EXPECT_EQ(readReg(9, flag), 4.0f) << "a reset reloads RAM from EEPROM";

    ASSERT_EQ(writeReg(9, 55.0f), 0);
    link.SendEepromStore();
    ASSERT_EQ(writeReg(9, 66.0f), 0);
    link.SendMeterReset();
    EXPECT_EQ(readReg(9, flag), 55.0f);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(errors.transmit + errors.receive, 0);
}

TEST_F(SimLink, WrongAddressOrBaudSendsButNeverGetsAReply)
{
    struct Case {
        std::int16_t address, baud;
    };
    for (const Case c : {Case{9, 4}, Case{2, 3}, Case{1, 5}}) {
        SCOPED_TRACE(testing::Message() << "address " << c.address << " baud " << c.baud);
        useMeter(kModelKX3, c.address, c.baud);
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

TEST(SimFaults, MalformedFaultsAreRefused)
{
    SimCard card;
    for (const char* faultText : {"dead", "no-ack=3", "no-store=1", "slow-reply=0", "slow-reply=x", "bad-length=0",
                             "oversized-reply=252", "oversized-reply=65536"}) {
        QString error;
        EXPECT_FALSE(card.setFault(QString::fromLatin1(faultText), &error)) << faultText;
        EXPECT_TRUE(error.contains(QStringLiteral("usterk"))) << error.toStdString();
    }
    EXPECT_EQ(card.faults().slowReply, 0);
    EXPECT_EQ(SimCard::faultNames().size(), 7);
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

} // namespace
} // namespace vardel
