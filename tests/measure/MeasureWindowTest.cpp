#include "measure/MeasureTest.h"

#include "config/RegisterTexts.h"
#include "link/Module1.h"
#include "support/FakePort.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

using namespace vardel;
using vardel::test::FakePort;

namespace {

// One measured-values exchange as the card will play it.
struct Reply {
    bool sendFails = false;
    bool replyFails = false;
    int length = 2;
    std::vector<std::uint8_t> bytes;
};

Reply valuesReply(const std::vector<float>& values)
{
    Reply r;
    RxBuffer one{};
    for (float v : values) {
        FloatToBas(one, v);
        r.bytes.insert(r.bytes.end(), one.begin() + 1, one.begin() + 7);
    }
    r.length = static_cast<int>(r.bytes.size()) + 2;
    return r;
}

Reply emptyReply(int length) { Reply r; r.length = length; return r; }

// A card that plays one scripted Reply per exchange: each start of sending
// (register 7 set to 64) takes the next one.
class ScriptedCard : public FakePort {
public:
    std::deque<Reply> replies;
    Reply current;
    int exchanges = 0;
    std::function<void()> duringExchange; // called once per exchange, after the request
    std::vector<int> measureLengths;      // last request byte of each exchange

    ScriptedCard()
    {
        recordStatusReads = false;
        onRead = [this](int reg) { return answer(reg); };
    }

    void vbOut(std::uint16_t port, std::uint8_t value) override
    {
        const std::size_t before = regWrites.size();
        FakePort::vbOut(port, value);
        if (regWrites.size() == before)
            return;
        const auto [reg, v] = regWrites.back();
        if (reg == 5)
            m_body.push_back(v);
        if (reg == 7 && v == 64) {
            ++exchanges;
            measureLengths.push_back(m_body.empty() ? -1 : m_body.back());
            m_body.clear();
            if (replies.empty()) {
                ADD_FAILURE() << "exchange " << exchanges << " was not scripted";
                current = Reply{};
            } else {
                current = replies.front();
                replies.pop_front();
            }
            m_pos = 0;
            m_hooked = false;
        }
    }

    long byteReads() const { return std::count(regReadsSeen.begin(), regReadsSeen.end(), 4); }

private:
    std::uint8_t answer(int reg)
    {
        switch (reg) {
        case 7:
            if (!m_hooked && duringExchange) {
                m_hooked = true;
                duringExchange();
            }
            return current.sendFails ? 0 : 128;
        case 6: return current.replyFails ? 0 : 128;
        case 15: return static_cast<std::uint8_t>(current.length >> 8);
        case 16: return static_cast<std::uint8_t>(current.length & 0xFF);
        case 4:
            return m_pos < current.bytes.size() ? current.bytes[m_pos++] : 0;
        default: return 0;
        }
    }

    std::vector<int> m_body;
    std::size_t m_pos = 0;
    bool m_hooked = false;
};

struct Errors : ErrorWindows {
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

std::vector<float> numbered(int count, float base)
{
    std::vector<float> v;
    for (int i = 1; i <= count; ++i)
        v.push_back(base + static_cast<float>(i) * (i % 2 ? 1.5f : -2.0f));
    return v;
}

class MeasureWindow : public testing::Test {
protected:
    MeasureWindow()
    {
        link.setErrorWindows(&errors);
        timer.setInterval(1000);
    }

    QString text(int box) { return test.form3()->text(box)->text(); }
    bool shown(int box)
    {
        Form3* f = test.form3();
        EXPECT_EQ(f->frame(box)->isHidden(), f->text(box)->isHidden()) << "frame and box " << box;
        return !f->frame(box)->isHidden();
    }
    // The texts of boxes 1..10 (index 0 unused).
    std::vector<QString> texts()
    {
        std::vector<QString> t(1);
        for (int b = 1; b <= kMeasureBoxes; ++b)
            t.push_back(text(b));
        return t;
    }

    ScriptedCard card;
    Module1 link{card};
    Errors errors;
    QTimer timer;
    MeasureTest test{link, timer};
};

} // namespace

TEST_F(MeasureWindow, WindowHasItsFramesCaptionsAndNoCloseBox)
{
    Form3* f = test.form3();
    EXPECT_EQ(f->objectName(), "Form3");
    EXPECT_EQ(f->windowTitle(), "Pomiary testowe");
    EXPECT_TRUE(f->isWindow());
    EXPECT_FALSE(f->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(f->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(f->isVisible()) << "created hidden";

    const char* captions[] = {"", "Pomiar Nr 1 ", "Pomiar Nr 2 ", "Pomiar Nr 3", "Pomiar Nr 4",
                              "Funkcja Nr 1", "Funkcja Nr 2", "Bilans Nr 1", "Bilans Nr 2",
                              "Bilans Nr 3", "Bilans Nr 4"};
    for (int b = 1; b <= kMeasureBoxes; ++b) {
        SCOPED_TRACE(b);
        auto* frame = f->findChild<QGroupBox*>(QStringLiteral("Frame%1").arg(b));
        auto* box = f->findChild<QLineEdit*>(QStringLiteral("Text%1").arg(b));
        ASSERT_TRUE(frame && box);
        EXPECT_EQ(box->parentWidget(), frame);
        EXPECT_EQ(frame->title(), captions[b]);
        EXPECT_EQ(box->accessibleName(), captions[b]);
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_TRUE(box->text().isEmpty());
    }
    auto* end = f->findChild<QPushButton*>(QStringLiteral("Command1"));
    ASSERT_TRUE(end);
    EXPECT_EQ(end->text(), "Koniec testu");
    EXPECT_EQ(end->accessibleName(), "Koniec testu");

    // Three columns, the button under the function column.
    link.MeterModel = kModelKX4;
    test.ApplyTestLayout();
    f->show();
    f->adjustSize();
    auto x = [&](int b) { return f->frame(b)->geometry().x(); };
    auto y = [&](int b) { return f->frame(b)->geometry().y(); };
    EXPECT_EQ(x(1), x(4));
    EXPECT_LT(x(4), x(5));
    EXPECT_EQ(x(5), x(6));
    EXPECT_LT(x(6), x(7));
    EXPECT_EQ(x(7), x(10));
    EXPECT_LT(y(1), y(2));
    EXPECT_LT(y(9), y(10));
    EXPECT_GT(end->geometry().y(), f->frame(6)->geometry().bottom());
    EXPECT_GE(end->geometry().x(), x(5));
    EXPECT_LT(end->geometry().x(), x(7));

    // A close request from the window system leaves it where it is.
    ASSERT_TRUE(f->windowHandle());
    f->windowHandle()->close();
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(test.form3(), f) << "one window for the whole run";
}

TEST_F(MeasureWindow, EachModelShowsItsFramesAndFillsItsBoxes)
{
    struct Row {
        std::int16_t model;
        int values;                // sent by the meter
        std::vector<int> boxes;    // box of value 1, 2, ...
        std::vector<int> hidden;   // frames hidden by the layout
    };
    const std::vector<Row> rows = {
        {kModelKX2, 4, {1, 2, 5, 7}, {3, 4, 6, 8, 9, 10}},
        {kModelKX2, 5, {1, 2, 5, 7}, {3, 4, 6, 8, 9, 10}},
        {kModelKX3, 6, {1, 2, 3, 4, 5, 7}, {6, 8, 9, 10}},
        {kModelKX4, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "model " << row.model << ", " << row.values << " values");
        ScriptedCard port;
        Module1 meter(port);
        QTimer t;
        MeasureTest mt(meter, t);
        meter.MeterModel = row.model;
        const std::vector<float> sent = numbered(row.values, 0.0f);
        port.replies = {valuesReply(sent)};

        mt.Form1_Command8_Click();

        EXPECT_EQ(port.measureLengths, std::vector<int>{6 * static_cast<int>(row.boxes.size())});
        std::vector<QString> expected(kMeasureBoxes + 1);
        for (std::size_t k = 0; k < row.boxes.size(); ++k)
            expected[static_cast<std::size_t>(row.boxes[k])] = ValueText(sent[k], QLocale());
        for (int b = 1; b <= kMeasureBoxes; ++b) {
            Form3* f = mt.form3();
            EXPECT_EQ(f->text(b)->text(), expected[static_cast<std::size_t>(b)]) << "Text" << b;
            const bool hidden = std::find(row.hidden.begin(), row.hidden.end(), b) != row.hidden.end();
            EXPECT_EQ(f->frame(b)->isHidden(), hidden) << "Frame" << b;
            EXPECT_EQ(f->text(b)->isHidden(), hidden) << "Text" << b;
        }
        EXPECT_TRUE(t.isActive());
    }
}

TEST_F(MeasureWindow, StartShowsTheWindowBeforeAskingAndTicksRefresh)
{
    link.MeterModel = kModelKX3;
    bool visibleDuringExchange = false;
    card.duringExchange = [&] { visibleDuringExchange = test.form3()->isVisible(); };
    const auto first = numbered(6, 0.0f);
    const auto second = numbered(6, 100.0f);
    card.replies = {valuesReply(first), valuesReply(second)};

    test.Form1_Command8_Click();
    EXPECT_TRUE(visibleDuringExchange);
    EXPECT_TRUE(test.form3()->isVisible());
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 1000);
    EXPECT_EQ(text(7), ValueText(first[5], QLocale()));

    test.Form1_Timer1_Timer();
    EXPECT_EQ(card.exchanges, 2);
    EXPECT_EQ(text(1), ValueText(second[0], QLocale()));
    EXPECT_EQ(text(7), ValueText(second[5], QLocale()));
    EXPECT_TRUE(timer.isActive());
    EXPECT_TRUE(test.form3()->isVisible());
    EXPECT_EQ(errors.transmit + errors.receive, 0);
}

// The test window opens on "Koniec testu"; Enter presses it, Escape ends the
// test as well; the values are read, never typed into: no Tab stops.
TEST(MeasureKeys, OpensOnKoniecTestuWhichEnterOrEscapeEnds)
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        SCOPED_TRACE(key);
        ScriptedCard card;
        Module1 link(card);
        link.MeterModel = kModelKX2;
        QTimer timer;
        MeasureTest test(link, timer);
        card.replies = {valuesReply(numbered(4, 0.0f))};
        test.Form1_Command8_Click();
        Form3* f = test.form3();
        ASSERT_TRUE(QTest::qWaitForWindowActive(f));
        EXPECT_EQ(QApplication::focusWidget(), f->command1());
        for (int b = 1; b <= kMeasureBoxes; ++b)
            EXPECT_EQ(f->text(b)->focusPolicy() & Qt::TabFocus, 0) << "Text" << b;
        QTest::keyClick(QGuiApplication::focusWindow(), key);
        QTRY_VERIFY(!f->isVisible());
        EXPECT_FALSE(timer.isActive());
    }
}

// A test window the user minimised comes back when the test is started again.
TEST_F(MeasureWindow, MinimisedWindowComesBackOnTheNextStart)
{
    link.MeterModel = kModelKX2;
    card.replies = {valuesReply(numbered(4, 0.0f)), valuesReply(numbered(4, 1.0f))};
    test.Form1_Command8_Click();
    Form3* f = test.form3();
    f->showMinimized();
    QApplication::processEvents();
    ASSERT_TRUE(f->isMinimized());

    test.Form1_Command8_Click();
    EXPECT_FALSE(f->isMinimized());
    EXPECT_TRUE(f->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(f));
}

// A value the reply did not carry is shown empty, never as a number: neither
// as the last one seen nor decoded from what an older reply left in RxBuf.
TEST_F(MeasureWindow, ValuesAShortReplyDidNotCarryAreShownEmpty)
{
    link.MeterModel = kModelKX3;
    const auto full = numbered(6, 0.0f);
    Reply cut = valuesReply(numbered(6, 10.0f));
    cut.length -= 2; // the balance's last two bytes are missing
    card.replies = {valuesReply(full), cut, emptyReply(2), emptyReply(0)};
    test.Form1_Command8_Click();

    test.Form1_Timer1_Timer();
    const auto afterCut = texts();
    EXPECT_EQ(afterCut[1], ValueText(11.5f, QLocale()));
    EXPECT_EQ(afterCut[5], ValueText(numbered(6, 10.0f)[4], QLocale()));
    EXPECT_TRUE(afterCut[7].isEmpty()) << "Bilans Nr 1: " << afterCut[7].toStdString();

    for (int tick = 0; tick < 2; ++tick) {
        test.Form1_Timer1_Timer();
        for (int b : {1, 2, 3, 4, 5, 7})
            EXPECT_TRUE(text(b).isEmpty()) << "Text" << b;
    }
    EXPECT_EQ(card.byteReads(), 36 + 34);
    EXPECT_TRUE(timer.isActive());
    EXPECT_TRUE(test.form3()->isVisible());
    EXPECT_EQ(errors.receive, 0);
}

TEST_F(MeasureWindow, FailedExchangeEndsTheTestAndKeepsTheValues)
{
    struct Row {
        const char* what;
        Reply failing;
        int transmit, receive;
    };
    Reply sendFails; sendFails.sendFails = true;
    Reply replyFails; replyFails.replyFails = true;
    const std::vector<Row> rows = {
        {"no send", sendFails, 1, 0},
        {"no reply", replyFails, 0, 1},
        {"reply too long for RxBuf", emptyReply(253), 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedCard port;
        Module1 meter(port);
        Errors errs;
        meter.setErrorWindows(&errs);
        meter.MeterModel = kModelKX2;
        QTimer t;
        MeasureTest mt(meter, t);
        const auto values = numbered(4, 0.0f);

        // While running: a tick that fails.
        port.replies = {valuesReply(values), row.failing};
        mt.Form1_Command8_Click();
        ASSERT_TRUE(t.isActive());
        mt.Form1_Timer1_Timer();
        EXPECT_FALSE(t.isActive());
        EXPECT_FALSE(mt.form3()->isVisible());
        EXPECT_EQ(errs.transmit, row.transmit);
        EXPECT_EQ(errs.receive, row.receive);
        EXPECT_EQ(mt.form3()->text(7)->text(), ValueText(values[3], QLocale()));
        EXPECT_EQ(port.byteReads(), 24) << "nothing fetched from the failed exchange";

        // At the start: the window comes and goes again, the values stay.
        bool visibleDuringExchange = false;
        port.duringExchange = [&] { visibleDuringExchange = mt.form3()->isVisible(); };
        port.replies = {row.failing};
        mt.Form1_Command8_Click();
        EXPECT_TRUE(visibleDuringExchange);
        EXPECT_FALSE(t.isActive());
        EXPECT_FALSE(mt.form3()->isVisible());
        EXPECT_EQ(errs.transmit, 2 * row.transmit);
        EXPECT_EQ(errs.receive, 2 * row.receive);
        EXPECT_EQ(mt.form3()->text(1)->text(), ValueText(values[0], QLocale()));
    }
}

TEST_F(MeasureWindow, EndOfTestKeepsOldValuesUntilTheNextExchange)
{
    link.MeterModel = kModelKX2;
    const auto first = numbered(4, 0.0f);
    const auto second = numbered(4, -50.0f);
    card.replies = {valuesReply(first)};
    test.Form1_Command8_Click();

    test.form3()->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(test.form3()->isVisible());
    EXPECT_EQ(card.exchanges, 1);

    QString duringRestart;
    bool visibleDuringRestart = false;
    card.duringExchange = [&] {
        duringRestart = text(5);
        visibleDuringRestart = test.form3()->isVisible();
    };
    card.replies = {valuesReply(second)};
    test.Form1_Command8_Click();

    EXPECT_TRUE(visibleDuringRestart);
    EXPECT_EQ(duringRestart, ValueText(first[2], QLocale()));
    EXPECT_EQ(text(5), ValueText(second[2], QLocale()));
    EXPECT_TRUE(timer.isActive());
}


// The card's time as a test moves it: each exchange lasts what it is given.
struct ManualClock : CardClock {
    std::chrono::nanoseconds now{0};
    std::chrono::nanoseconds cardTime() const override { return now; }
};

// At 1200 baud a KX-4 that answers in 500 ms needs 1,19 s for one refresh:
// the window says the second cannot be kept, and a tick that falls due while
// a refresh still runs is dropped, not run at once behind it.
TEST_F(MeasureWindow, ARefreshLongerThanTheSecondIsSaidAndTicksDoNotPileUp)
{
    ManualClock clock;
    link.setCardClock(&clock);
    link.MeterModel = kModelKX4;
    struct Case {
        std::int16_t baud;
        int responseMs;
        const char* says; // empty: no note
    };
    const Case cases[] = {
        {4, 500, ""},
        {0, 20, ""},
        {0, 500, "przy 1200 bodach i czasie odpowiedzi miernika 500 ms jeden odczyt (KX-4) trwa co najmniej 1,19 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        link.BaudCode = c.baud;
        link.setResponseTime(std::chrono::milliseconds(c.responseMs));
        card.replies.push_back(valuesReply(numbered(10, 1.0f)));
        test.Form1_Command8_Click();
        QLabel* note = test.form3()->paceNote();
        EXPECT_EQ(note->isHidden(), *c.says == 0);
        EXPECT_TRUE(note->text().contains(QString::fromUtf8(c.says))) << note->text().toStdString();
        test.Form3_Command1_Click();
    }

    const int before = card.exchanges;
    card.duringExchange = [&clock] { clock.now += std::chrono::milliseconds(1190); };
    for (int i = 0; i < 3; ++i)
        card.replies.push_back(valuesReply(numbered(10, 2.0f)));
    test.Form1_Command8_Click();
    test.Form1_Timer1_Timer(); // due while the first refresh ran: dropped
    EXPECT_EQ(card.exchanges, before + 1);
    test.Form1_Timer1_Timer();
    EXPECT_EQ(card.exchanges, before + 2);
    EXPECT_TRUE(test.isRunning());
    link.setCardClock(nullptr);
}

TEST_F(MeasureWindow, ModelChangeReachesTicksButNotTheLayout)
{
    link.MeterModel = kModelKX2;
    const auto kx4 = numbered(10, 0.0f);
    card.replies = {valuesReply(numbered(4, 0.0f)), valuesReply(kx4), valuesReply(kx4)};
    test.Form1_Command8_Click();
    ASSERT_FALSE(shown(3));

    link.MeterModel = kModelKX4;
    test.Form1_Timer1_Timer();

    EXPECT_EQ(card.measureLengths, (std::vector<int>{24, 60}));
    for (int b = 1; b <= kMeasureBoxes; ++b)
        EXPECT_EQ(text(b), ValueText(kx4[static_cast<std::size_t>(b - 1)], QLocale())) << "Text" << b;
    for (int b : {3, 4, 6, 8, 9, 10})
        EXPECT_FALSE(shown(b)) << "Frame" << b;

    // A model outside the family leaves the layout as it is.
    link.MeterModel = 3;
    test.ApplyTestLayout();
    EXPECT_FALSE(shown(3));

    link.MeterModel = kModelKX4;
    test.Form1_Command8_Click();
    for (int b = 1; b <= kMeasureBoxes; ++b)
        EXPECT_TRUE(shown(b)) << "Frame" << b;
}
