#include "config/ConfigTransfer.h"
#include "config/RegisterTable.h"
#include "gateway/MeterGateway.h"
#include "link/Module1.h"
#include "measure/MeasureValues.h"
#include "meterops/MeterSession.h"
#include "sim/SimCard.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace vardel;
using namespace std::chrono_literals;

namespace {

// The factory network (KX-2 at 1, KX-3 at 2, KX-4 at 3, 19200 baud) with its
// live values standing still, behind a gateway that serves all three.
struct Fixture {
    explicit Fixture(bool lowWordFirst = false, bool allowWrite = false, bool allowLinkChange = false,
                     std::chrono::milliseconds poll = 1s)
        : link(sim)
        , session(SessionIo{[this](const QString& line) { log << line; }, {}, false, nullptr,
                            QStringLiteral("--allow-link-change")},
                  link, linkErrors, nullptr,
                  &sim, history.path())
    {
        sim.setClock([] { return 42.5; });
        link.setCardClock(&sim.cardClock());
        link.setErrorWindows(&errors);
        link.setCardAddress(static_cast<std::int16_t>(SimCard::kDefaultBase));
        link.CardSetLink();
        std::vector<ServedMeter> meters;
        for (const SimMeter& m : sim.meters())
            meters.push_back({MeterLink{static_cast<std::int16_t>(m.address), 4, 1}, m.model, std::nullopt});
        gateway = std::make_unique<MeterGateway>(
            link, meters, GatewaySettings{poll, lowWordFirst, "1.0", allowWrite, allowLinkChange},
            [this](const QString& line) { log << line; });
        gateway->setSession(&session);
    }
    QByteArray ask(std::uint8_t unit, const QByteArray& pdu)
    {
        QByteArray answer;
        gateway->handle(ModbusRequest{1, unit, pdu}, QStringLiteral("127.0.0.1:5000"),
                        [&answer](const QByteArray& reply) { answer = reply; });
        return answer;
    }
    SimCard sim;
    Module1 link;
    QuietErrors errors;
    LinkErrors linkErrors;
    QTemporaryDir history;
    QStringList log;
    MeterSession session;
    std::unique_ptr<MeterGateway> gateway;
};

QByteArray readPdu(std::uint8_t function, int start, int quantity)
{
    QByteArray pdu(1, static_cast<char>(function));
    appendWord(pdu, static_cast<std::uint16_t>(start));
    appendWord(pdu, static_cast<std::uint16_t>(quantity));
    return pdu;
}

float float32At(const QByteArray& reply, int word, bool lowWordFirst = false)
{
    const auto hi = static_cast<std::uint32_t>(pduWord(reply, 2 + 2 * word));
    const auto lo = static_cast<std::uint32_t>(pduWord(reply, 2 + 2 * (word + 1)));
    return std::bit_cast<float>(lowWordFirst ? (lo << 16) | hi : (hi << 16) | lo);
}

double float64At(const QByteArray& reply, int word)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits = (bits << 16) | pduWord(reply, 2 + 2 * (word + i));
    return std::bit_cast<double>(bits);
}

} // namespace

TEST(MeterGateway, MeasuredValuesOfEveryModelStandAtTheirBoxWithNaNWhereTheModelHasNone)
{
    Fixture f;
    f.gateway->pollAll();
    for (const SimMeter& meter : f.sim.meters()) {
        SCOPED_TRACE(meter.model);
        const QByteArray reply = f.ask(static_cast<std::uint8_t>(meter.address), readPdu(0x04, 0, kInputRegisters));
        ASSERT_EQ(reply.size(), 2 + 2 * kInputRegisters);
        ASSERT_EQ(reply.at(1), 2 * kInputRegisters);
        const std::vector<float> live = f.sim.liveValues(meter);
        const auto boxes = measureBoxesOf(meter.model);
        ASSERT_EQ(live.size(), boxes.size());
        for (int box = 1; box <= kMeasureBoxes; ++box) {
            const float served = float32At(reply, 2 * (box - 1));
            const auto k = std::find(boxes.begin(), boxes.end(), box);
            if (k == boxes.end()) {
                EXPECT_TRUE(std::isnan(served)) << box;
                continue;
            }
            // The meter's number format carries about seven digits.
            const float truth = live[static_cast<std::size_t>(k - boxes.begin())];
            EXPECT_NEAR(served, truth, std::abs(truth) * 1e-6f + 1e-6f) << box;
        }
        EXPECT_LT(pduWord(reply, 2 + 2 * kAgeRegister + 2), 1000); // age, low word
        EXPECT_EQ(pduWord(reply, 2 + 2 * kFailedPollsRegister), 0);
    }
}

TEST(MeterGateway, AValueTheReplyDidNotCarryIsNaNNotTheOneBefore)
{
    Fixture f;
    f.gateway->pollAll();
    const QByteArray whole = f.ask(3, readPdu(0x04, 18, 2));
    EXPECT_FALSE(std::isnan(float32At(whole, 0))); // box 10 of the KX-4
    ASSERT_TRUE(f.sim.setFault(QStringLiteral("bad-length=-2")));
    f.gateway->pollAll();
    EXPECT_TRUE(std::isnan(float32At(f.ask(3, readPdu(0x04, 18, 2)), 0)));
    EXPECT_FALSE(std::isnan(float32At(f.ask(3, readPdu(0x04, 16, 2)), 0)));
}

TEST(MeterGateway, WordOrderIsSelectable)
{
    Fixture high;
    Fixture low(true);
    high.gateway->pollAll();
    low.gateway->pollAll();
    const QByteArray a = high.ask(2, readPdu(0x04, 0, 2));
    const QByteArray b = low.ask(2, readPdu(0x04, 0, 2));
    EXPECT_EQ(a.mid(2, 2), b.mid(4, 2));
    EXPECT_EQ(a.mid(4, 2), b.mid(2, 2));
    EXPECT_EQ(float32At(a, 0), float32At(b, 0, true));
}

TEST(MeterGateway, ConfigurationRegistersAreWhatAReadOfTheMeterGives)
{
    Fixture f;
    for (const SimMeter& meter : f.sim.meters()) {
        SCOPED_TRACE(meter.model);
        RegisterTable table;
        table.RegCount = regCountOf(meter.model);
        f.link.MeterModel = meter.model;
        useLink(f.link, MeterLink{static_cast<std::int16_t>(meter.address), 4, 1});
        ASSERT_TRUE(ReadConfiguration(f.link, table).complete);

        const auto unit = static_cast<std::uint8_t>(meter.address);
        const QByteArray narrow = f.ask(unit, readPdu(0x03, 0, 2 * std::min<int>(table.RegCount, 62)));
        const QByteArray wide = f.ask(unit, readPdu(0x03, kFloat64Base + 4 * 5, 8));
        ASSERT_EQ(narrow.at(0), 0x03);
        for (int r = 0; r < std::min<int>(table.RegCount, 62); ++r)
            EXPECT_EQ(float32At(narrow, 2 * r), table.RegValue[static_cast<std::size_t>(r)]) << r;
        EXPECT_EQ(float64At(wide, 0), static_cast<double>(table.RegValue[5]));
        EXPECT_EQ(float64At(wide, 4), static_cast<double>(table.RegValue[6]));
        // Half a float: the low word of register 1 and the high one of register 2.
        const QByteArray odd = f.ask(unit, readPdu(0x03, 3, 2));
        EXPECT_EQ(odd.mid(2, 2), narrow.mid(2 + 6, 2));
        EXPECT_EQ(odd.mid(4, 2), narrow.mid(2 + 8, 2));
        // The last register exists, the one after it does not.
        EXPECT_EQ(f.ask(unit, readPdu(0x03, 2 * table.RegCount - 2, 2)).at(0), 0x03);
        EXPECT_EQ(f.ask(unit, readPdu(0x03, 2 * table.RegCount, 2)), QByteArray::fromHex("8302"));
    }
}

TEST(MeterGateway, RequestsItCannotServeGetTheirException)
{
    Fixture f;
    f.gateway->pollAll();
    QByteArray write16 = QByteArray::fromHex("10000a000104");
    write16.append(QByteArray::fromHex("41200000"));
    const struct {
        std::uint8_t unit;
        QByteArray pdu;
        QByteArray reply;
    } cases[] = {
        {9, readPdu(0x04, 0, 2), QByteArray::fromHex("840a")},    // no meter served there
        {0, readPdu(0x04, 0, 2), QByteArray::fromHex("840a")},
        {2, QByteArray::fromHex("06000a0001"), QByteArray::fromHex("8601")}, // writes are off
        {2, write16, QByteArray::fromHex("9001")},
        {2, QByteArray::fromHex("050000ff00"), QByteArray::fromHex("8501")},
        {2, readPdu(0x04, 0, 0), QByteArray::fromHex("8403")},
        {2, readPdu(0x04, 0, 126), QByteArray::fromHex("8403")},
        {2, readPdu(0x04, 23, 2), QByteArray::fromHex("8402")},
        {2, QByteArray::fromHex("0400"), QByteArray::fromHex("8403")},
        {2, QByteArray::fromHex("07"), QByteArray::fromHex("8701")},
        {2, QByteArray::fromHex("2b0e0300"), QByteArray::fromHex("ab03")}, // extended identification
        {2, QByteArray::fromHex("2b0e0403"), QByteArray::fromHex("ab02")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pdu.toHex().toStdString());
        EXPECT_EQ(f.ask(c.unit, c.pdu), c.reply);
    }
    ASSERT_EQ(f.log.size(), 3);
    EXPECT_EQ(f.log[0], QStringLiteral("Odrzucono zapis od 127.0.0.1:5000 (jednostka 2, rejestr 10): zapis wyłączony; "
                                       "włącza go --allow-write."));
}

TEST(MeterGateway, DeviceIdentificationNamesTheMakerTheModelAndTheVersion)
{
    Fixture f;
    EXPECT_EQ(f.ask(2, QByteArray::fromHex("2b0e0100")),
              QByteArray::fromHex("2b0e0101000003000656617264656c01044b582d33020331 2e30"));
    EXPECT_EQ(f.ask(3, QByteArray::fromHex("2b0e0401")), QByteArray::fromHex("2b0e048100000101044b582d34"));
}

TEST(MeterGateway, AMeterThatDoesNotAnswerGets0x0BAndItsFailedPollsAreCounted)
{
    Fixture f;
    EXPECT_EQ(f.ask(1, readPdu(0x04, 0, 2)), QByteArray::fromHex("840b")); // never read yet
    ASSERT_TRUE(f.sim.setFault(QStringLiteral("no-meter")));
    f.gateway->pollAll();
    f.gateway->pollAll();
    EXPECT_EQ(f.ask(1, readPdu(0x04, 0, 2)), QByteArray::fromHex("840b"));
    EXPECT_EQ(f.ask(1, readPdu(0x03, 0, 2)), QByteArray::fromHex("830b"));
    f.sim.clearFaults();
    f.gateway->pollAll();
    const QByteArray back = f.ask(1, readPdu(0x04, kFailedPollsRegister, 1));
    EXPECT_EQ(back, QByteArray::fromHex("040200") + QByteArray(1, '\x02'));
}

namespace {

QByteArray writeFloats(int start, const std::vector<float>& values)
{
    QByteArray pdu(1, '\x10');
    appendWord(pdu, static_cast<std::uint16_t>(start));
    appendWord(pdu, static_cast<std::uint16_t>(2 * values.size()));
    pdu.append(static_cast<char>(4 * values.size()));
    for (const float v : values) {
        const auto bits = std::bit_cast<std::uint32_t>(v);
        appendWord(pdu, static_cast<std::uint16_t>(bits >> 16));
        appendWord(pdu, static_cast<std::uint16_t>(bits & 0xFFFF));
    }
    return pdu;
}

} // namespace

TEST(MeterGateway, AnAllowedWriteIsAcknowledgedOnlyAfterTheMeterTookItAndAStoreIsProven)
{
    Fixture f(false, true);
    f.gateway->pollAll();
    // Register 20 of the KX-3 sets nothing of its link.
    const QByteArray write = writeFloats(40, {12.5f});
    ASSERT_EQ(f.ask(2, write), write.left(5)) << f.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(float32At(f.ask(2, readPdu(0x03, 40, 2)), 0), 12.5f);
    // Only in RAM so far: a power cycle brings the EEPROM's value back.
    f.sim.powerCycle();
    EXPECT_NE(float32At(f.ask(2, readPdu(0x03, 40, 2)), 0), 12.5f);

    ASSERT_EQ(f.ask(2, write), write.left(5));
    EXPECT_EQ(f.ask(2, QByteArray::fromHex("050000ff00")), QByteArray::fromHex("050000ff00"))
        << f.log.join(QLatin1Char('\n')).toStdString();
    f.gateway->pollAll();
    EXPECT_EQ(pduWord(f.ask(2, readPdu(0x04, kStoreRegister, 1)), 2), 1); // proven
    f.sim.powerCycle();
    EXPECT_EQ(float32At(f.ask(2, readPdu(0x03, 40, 2)), 0), 12.5f);
}

TEST(MeterGateway, AllowedWritesStillKeepTheGuards)
{
    Fixture f(false, true);
    f.gateway->pollAll();
    const float address = float32At(f.ask(2, readPdu(0x03, 0, 2)), 0);
    // The KX-3 keeps its own network address in register 0.
    EXPECT_EQ(f.ask(2, writeFloats(0, {address + 5})), QByteArray::fromHex("9003"));
    EXPECT_TRUE(f.log.last().contains(QStringLiteral("Użyj --allow-link-change")));
    EXPECT_EQ(float32At(f.ask(2, readPdu(0x03, 0, 2)), 0), address);
    const struct {
        QByteArray pdu;
        QByteArray reply;
    } cases[] = {
        {QByteArray::fromHex("06002800aa"), QByteArray::fromHex("8602")}, // half a float
        {writeFloats(41, {1.0f}), QByteArray::fromHex("9002")},
        {writeFloats(2 * regCountOf(kModelKX3), {1.0f}), QByteArray::fromHex("9002")},
        {writeFloats(40, {std::numeric_limits<float>::quiet_NaN()}), QByteArray::fromHex("9003")},
        {QByteArray::fromHex("050005ff00"), QByteArray::fromHex("8502")},
        {QByteArray::fromHex("0500001234"), QByteArray::fromHex("8503")},
        {QByteArray::fromHex("0f000000010101"), QByteArray::fromHex("8f01")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pdu.toHex().toStdString());
        EXPECT_EQ(f.ask(2, c.pdu), c.reply);
    }

    Fixture moving(false, true, true);
    // Even with link changes allowed, not onto a unit already served nor
    // outside the units a client can name.
    for (const float onto : {1.0f, 0.0f, 248.0f}) {
        SCOPED_TRACE(onto);
        EXPECT_EQ(moving.ask(2, writeFloats(0, {onto})), QByteArray::fromHex("9003"));
        EXPECT_TRUE(moving.log.last().contains(QStringLiteral("Odrzucono zmianę adresu miernika jednostki 2")))
            << moving.log.join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(float32At(moving.ask(2, readPdu(0x03, 0, 2)), 0), address);
    const QByteArray move = writeFloats(0, {address + 5});
    EXPECT_EQ(moving.ask(2, move), move.left(5)) << moving.log.join(QLatin1Char('\n')).toStdString();
}

namespace {

// The fixture's network at the card's real pace, its gateway's card thread
// running, and every meter's cache filled once.
struct PacedFixture : Fixture {
    explicit PacedFixture(std::chrono::milliseconds poll = 1s, bool allowWrite = false)
        : Fixture(false, allowWrite, false, poll)
    {
        sim.cardClock().setPace(SimPace::Real);
        gateway->start();
        for (const SimMeter& m : sim.meters()) {
            const auto unit = static_cast<std::uint8_t>(m.address);
            EXPECT_TRUE(QTest::qWaitFor([&] { return ask(unit, readPdu(0x04, 0, 2)).at(0) == 0x04; }, 5000));
        }
    }
};

// The PDU of the reply to the one request sent on `socket`.
QByteArray replyOn(QTcpSocket& socket)
{
    QByteArray frame;
    const bool came = QTest::qWaitFor([&] {
        frame += socket.readAll();
        return frame.size() >= 7 + 2;
    }, 5000);
    EXPECT_TRUE(came);
    return frame.mid(7);
}

} // namespace

// A configuration read lasts its card time; the measured values of other
// clients are answered from the cache meanwhile, not after it, and are not
// called stale for polls the read held up.
TEST(MeterGateway, MeasuredValuesAreAnsweredWhileAConfigurationReadRuns)
{
    PacedFixture f(50ms);
    QByteArray config;
    // 30 registers of the KX-4 at 19200 baud: most of a second on the bus.
    f.gateway->handle(ModbusRequest{1, 3, readPdu(0x03, 0, 60)}, QStringLiteral("127.0.0.1:5001"),
                      [&config](const QByteArray& reply) { config = reply; });
    for (const std::uint8_t unit : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}}) {
        EXPECT_EQ(f.ask(unit, readPdu(0x04, 0, 24)).at(0), 0x04) << int(unit);
        EXPECT_TRUE(config.isEmpty()) << "a measured value waited for the configuration read";
    }
    QTest::qWait(400); // many poll intervals, none of them polled
    const bool stillReading = config.isEmpty();
    EXPECT_EQ(f.ask(3, readPdu(0x04, 0, 24)).at(0), 0x04);
    EXPECT_TRUE(stillReading);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !config.isEmpty(); }, 5000));
    EXPECT_EQ(config.at(0), 0x03);
    EXPECT_EQ(config.size(), 2 + 120);
    f.gateway->stop();
}

// Over the network: a request still queued when its time is up gets busy
// (0x06) and is never run; one whose exchange is under way gets 0x0B; the
// connections go on.
TEST(MeterGateway, ARequestOutstandingPastTheTimeOutGetsBusyOrTargetFailed)
{
    PacedFixture f;
    ModbusServerLimits limits;
    limits.requestTimeout = 300ms;
    QStringList serverLog;
    ModbusServer server(*f.gateway, limits, [&serverLog](const QString& line) { serverLog << line; });
    QString error;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    QTcpSocket first;
    QTcpSocket second;
    for (QTcpSocket* s : {&first, &second}) {
        s->connectToHost(QHostAddress::LocalHost, server.port());
        ASSERT_TRUE(s->waitForConnected(2000));
    }
    first.write(modbusFrame(ModbusRequest{7, 3, {}}, readPdu(0x03, 0, 120)));
    ASSERT_TRUE(first.waitForBytesWritten(1000));
    QTest::qWait(50); // the first is taken before the second comes
    second.write(modbusFrame(ModbusRequest{8, 2, {}}, readPdu(0x03, 0, 20)));

    EXPECT_EQ(replyOn(first), QByteArray::fromHex("830B"));
    EXPECT_EQ(replyOn(second), QByteArray::fromHex("8306"));
    // Both still served, from the cache at once.
    for (QTcpSocket* s : {&first, &second}) {
        s->write(modbusFrame(ModbusRequest{9, 1, {}}, readPdu(0x04, 0, 2)));
        EXPECT_EQ(replyOn(*s).at(0), 0x04);
    }
    f.gateway->stop();
}

// A bus slower than --poll allows (many meters, a low baud rate) polls as
// often as it can; its readings are not called stale for that.
TEST(MeterGateway, ABusSlowerThanThePollIntervalStillServesItsValues)
{
    PacedFixture f(10ms); // one cycle of the three meters lasts far longer
    for (int round = 0; round < 10; ++round) {
        for (const std::uint8_t unit : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}})
            EXPECT_EQ(f.ask(unit, readPdu(0x04, 0, 2)).at(0), 0x04) << "round " << round << " unit " << int(unit);
        QTest::qWait(30);
    }
    f.gateway->stop();
}

// A write under way when its time is up is answered once the meter took it:
// a client told 0x0B would write again what the meter had taken.
TEST(MeterGateway, AWriteUnderWayPastTheTimeOutIsAnsweredWhenTheMeterTookIt)
{
    PacedFixture f(1s, true);
    ModbusServerLimits limits;
    limits.requestTimeout = 300ms; // the guard's read of the KX-2 alone lasts well over a second
    ModbusServer server(*f.gateway, limits, [](const QString&) {});
    QString error;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(client.waitForConnected(2000));
    const QByteArray write = writeFloats(40, {12.5F});
    client.write(modbusFrame(ModbusRequest{3, 1, {}}, write));
    QByteArray frame;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (frame += client.readAll()).size() >= 7 + 5; }, 8000));
    EXPECT_EQ(frame.mid(7), write.left(5));
    f.gateway->stop();
    RegisterTable meter;
    meter.RegCount = regCountOf(0);
    f.link.MeterModel = 0;
    useLink(f.link, MeterLink{1, 4, 1});
    f.sim.cardClock().setPace(SimPace::Fast);
    ASSERT_TRUE(ReadConfiguration(f.link, meter).complete);
    EXPECT_EQ(meter.RegValue[20], 12.5F);
}
