#include "measure/MeasureTest.h"

#include "link/Module1.h"
#include "measure/MeasureInterval.h"
#include "sim/SimCard.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace vardel;

namespace {

struct Errors : ErrorWindows {
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

} // namespace

// The whole path through the simulated card: the values move from one refresh
// to the next, and a meter that stops answering ends the test.
TEST(MeasureSim, ValuesMoveBetweenRefreshesAndASilentMeterEndsTheTest)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList messages;
    auto card = SimCard::create(SimOptions{dir.filePath(QStringLiteral("sim.state")), {}}, messages);
    ASSERT_TRUE(card) << messages.join(u'\n').toStdString();
    double now = 100.0;
    card->setClock([&now] { return now; });

    Module1 link(*card);
    Errors errors;
    link.setErrorWindows(&errors);
    link.MeterModel = kModelKX4;
    link.MeterAddress = 3; // the factory network's KX-4
    link.BaudCode = 4;
    link.CardSetLink();

    QTimer timer;
    MeasureTest test(link, timer);
    auto texts = [&] {
        QStringList t;
        for (int b = 1; b <= kMeasureBoxes; ++b)
            t << test.form3()->text(b)->text();
        return t;
    };

    test.Form1_Command8_Click();
    ASSERT_TRUE(timer.isActive());
    const QStringList first = texts();
    for (int b = 0; b < kMeasureBoxes; ++b)
        EXPECT_FALSE(first[b].isEmpty()) << "Text" << b + 1;

    now += 1.0;
    test.Form1_Timer1_Timer();
    const QStringList second = texts();
    int moved = 0;
    for (int b = 0; b < 4; ++b)
        moved += first[b] != second[b] ? 1 : 0;
    EXPECT_EQ(moved, 4) << "measured inputs: " << first.join(u' ').toStdString() << " / "
                        << second.join(u' ').toStdString();
    EXPECT_NE(first, second);
    EXPECT_TRUE(timer.isActive());

    // A reply two bytes short: its last value was not carried.
    ASSERT_TRUE(card->setFault(QStringLiteral("bad-length")));
    now += 1.0;
    test.Form1_Timer1_Timer();
    const QStringList cut = texts();
    EXPECT_TRUE(cut[9].isEmpty()) << "Bilans Nr 4: " << cut[9].toStdString();
    EXPECT_FALSE(cut[8].isEmpty());
    EXPECT_TRUE(timer.isActive());
    card->clearFaults();

    ASSERT_TRUE(card->setFault(QStringLiteral("no-meter")));
    now += 1.0;
    test.Form1_Timer1_Timer();
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(test.form3()->isVisible());
    EXPECT_EQ(errors.receive, 1);
    EXPECT_EQ(errors.transmit, 0);
    EXPECT_EQ(texts(), cut) << "the last values stay";
}

// The shortest interval the windows allow is what a refresh really takes on
// the simulated card's clock, margin included: never less (the refreshes
// would overrun one another), and not wildly more.
TEST(MeasureSim, TheShortestIntervalHoldsOneRefreshOnTheCardsClock)
{
    struct Case {
        std::int16_t model;
        std::int16_t baud;
        int responseMs;
    };
    const Case cases[] = {{kModelKX4, 0, 20}, {kModelKX4, 0, 500}, {kModelKX2, 4, 20}, {kModelKX3, 2, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", baud " << c.baud << ", " << c.responseMs);
        SimMeter meter = SimMeter::factory(c.model, 5, c.baud);
        SimLink l = meter.link();
        l.response = std::chrono::milliseconds(c.responseMs);
        meter.setLink(l);
        SimCard card({meter});
        Module1 link(card);
        Errors errors;
        link.setErrorWindows(&errors);
        link.setCardClock(&card.cardClock());
        link.setResponseTime(std::chrono::milliseconds(c.responseMs));
        link.MeterModel = c.model;
        link.MeterAddress = 5;
        link.BaudCode = c.baud;
        link.CardSetLink();

        const auto started = card.cardClock().cardTime();
        const MeasureReading reading = readMeasuredValues(link);
        const double tookMs = std::chrono::duration<double, std::milli>(card.cardClock().cardTime() - started).count();
        ASSERT_EQ(reading.flag, 0);
        const int least = shortestRefreshMs(std::span(&c.model, 1), c.baud, std::chrono::milliseconds(c.responseMs));
        EXPECT_GE(least, tookMs);
        EXPECT_LT(least, tookMs * 1.3 + 30);
    }
}
