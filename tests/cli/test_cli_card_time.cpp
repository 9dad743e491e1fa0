// What vardel-cli's long runs take on a real card, measured on the simulated
// card's own clock (one bus cycle per port operation, the wire time of every
// byte, each meter's response time). With the PC's clock left out, the card
// time of a run is the same every time, so its bounds are asserted here.

#include "cli/CliInProcess.h"
#include "cli/CliScan.h"
#include "sim/SimCard.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using namespace vardel;

namespace {

using Seconds = std::chrono::duration<double>;

struct Outcome : test::CliOutcome {
    Seconds cardTime{0};
};

class CardTime : public testing::Test {
protected:
    // A meter of every model at every baud rate: a KX-2 at 1200 on address 10,
    // a KX-3 at 2400 on 11 ... a KX-4 at 38400 on 15.
    CardTime()
    {
        std::vector<SimMeter> meters;
        for (std::int16_t code = 0; code < 6; ++code)
            meters.push_back(SimMeter::factory(static_cast<std::int16_t>(code % 3), 10 + code, code));
        card = std::make_unique<SimCard>(std::move(meters));
    }

    Outcome run(const QStringList& args)
    {
        const auto start = card->cardClock().now();
        Outcome r{test::runInProcess(args, dir.path(), card.get())};
        r.cardTime = card->cardClock().now() - start;
        return r;
    }

    // The meter at `address` answers `response` after a request.
    void slowDown(int address, std::chrono::milliseconds response)
    {
        SimMeter& m = *card->meterAt(address);
        m.setConfigValue(linkRegistersOf(m.model).responseTime, static_cast<float>(response.count()));
        m.eeprom = m.ram;
        m.setLink(m.linkFromEeprom());
    }

    QTemporaryDir dir;
    std::unique_ptr<SimCard> card;
};

const QString kEveryMeter = QStringLiteral("10 1200 KX-2\n11 2400 KX-3\n12 4800 KX-4\n"
                                           "13 9600 KX-2\n14 19200 KX-3\n15 38400 KX-4\n");

// The default scan (six baud rates, 256 addresses) finds every meter at its
// rate and model within three minutes of a real card's time; one rate at
// 19200 baud within 20 s. A silent address used to cost a whole reply wait
// (0.6 s): 16 minutes in all.
TEST_F(CardTime, ScanFindsEveryMeterAtEveryBaudRateWithinMinutes)
{
    const Outcome all = run({QStringLiteral("scan")});
    EXPECT_EQ(all.code, 0) << all.err.toStdString();
    EXPECT_EQ(all.out, kEveryMeter);
    EXPECT_LT(all.cardTime, Seconds(180));

    const Outcome one = run({QStringLiteral("scan"), QStringLiteral("--bauds=19200")});
    EXPECT_EQ(one.out, QStringLiteral("14 19200 KX-3\n"));
    EXPECT_LT(one.cardTime, Seconds(20));
}

// A probe waits what a meter at that rate needs, and a meter set to answer
// more slowly than that is looked for with --response-time.
TEST_F(CardTime, ASlowMeterIsFoundWhenScanIsToldItsResponseTime)
{
    EXPECT_GT(probeReplyBound(0, std::chrono::milliseconds(20)), probeReplyBound(4, std::chrono::milliseconds(20)));
    slowDown(10, std::chrono::milliseconds(250));
    const QStringList args{QStringLiteral("scan"), QStringLiteral("--bauds=1200"), QStringLiteral("--addresses=9-11")};
    const Outcome quick = run(args);
    EXPECT_EQ(quick.code, 1);
    EXPECT_EQ(quick.out, QString());
    EXPECT_EQ(quick.err, QStringLiteral("Żaden miernik nie odpowiedział.\n"));

    const Outcome patient = run(args + QStringList{QStringLiteral("--response-time=250")});
    EXPECT_EQ(patient.code, 0) << patient.err.toStdString();
    EXPECT_EQ(patient.out, QStringLiteral("10 1200 KX-2\n"));
    EXPECT_GT(patient.cardTime, quick.cardTime);
}

// The time left that the progress line shows is the sum of the probes'
// bounds: a silent probe lasts its bound, also one longer than the link's
// usual wait (it once stopped at 0.6 s whatever --response-time said).
TEST_F(CardTime, ASilentProbeLastsTheBoundTheTimeLeftCounts)
{
    for (const int ms : {20, 2000}) {
        SCOPED_TRACE(ms);
        const Outcome r = run({QStringLiteral("scan"), QStringLiteral("--bauds=19200"), QStringLiteral("--addresses=1-2"),
                               QStringLiteral("--response-time=%1").arg(ms)});
        EXPECT_EQ(r.code, 1);
        const Seconds bounds = 2 * probeReplyBound(4, std::chrono::milliseconds(ms));
        EXPECT_GE(r.cardTime, bounds);
        EXPECT_LT(r.cardTime, bounds * 1.01 + Seconds(0.01));
    }
}

// --first ends at the first meter found, and the card gets its link back.
TEST_F(CardTime, ScanFirstStopsAtTheFirstMeter)
{
    const Outcome r = run({QStringLiteral("scan"), QStringLiteral("--first"), QStringLiteral("--bauds=9600,19200"),
                           QStringLiteral("--addresses=12-15")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("13 9600 KX-2\n"));
    EXPECT_LT(r.cardTime, Seconds(0.5)); // the 19200 baud half never ran
    EXPECT_EQ(card->cardRegister(13), 2);  // the configured meter address again
    EXPECT_EQ(card->cardRegister(11), 128 + 4);
}

} // namespace
