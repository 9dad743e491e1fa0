// The configuration windows against the simulated meter network and a
// recording port: read progress (Form4), register editor (Form2), write
// window (Form5), found by their object names as a user would see them.
#include "config/ConfigWindows.h"
#include "config/Form2.h"
#include "config/Form4.h"
#include "config/Form5.h"
#include "config/LinkGuard.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "link/ErrorForms.h"
#include "link/Module1.h"
#include "sim/SimCard.h"
#include "support/FakePort.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringEncoder>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <functional>
#include <vector>

namespace vardel {
namespace {

using std::chrono::steady_clock;

template <class T>
T* child(QWidget* window, const char* name)
{
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

struct CountingErrors : ErrorWindows {
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

// Every exchange step with the bytes and the moment it happened; a hook runs
// at each step, so a test can look at the windows in the middle of a loop.
struct Recorder : LinkListener {
    struct Event {
        LinkEvent event;
        std::vector<std::uint8_t> bytes;
        steady_clock::time_point at;
    };
    std::vector<Event> events;
    std::function<void(const Event&)> hook;

    void linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes) override
    {
        events.push_back({event, {bytes.begin(), bytes.end()}, steady_clock::now()});
        if (hook)
            hook(events.back());
    }
    std::vector<Event> requests(std::uint8_t command) const
    {
        std::vector<Event> out;
        for (const Event& e : events)
            if (e.event == LinkEvent::RequestSent && !e.bytes.empty() && e.bytes[0] == command)
                out.push_back(e);
        return out;
    }
};

int requestAddress(const Recorder::Event& e)
{
    return e.bytes[1] * 256 + e.bytes[2];
}

// Names files of the three models, written by the test: "Rejestr <r>" for
// every register unless the test gives its own lines.
class NamesDir {
public:
    NamesDir()
    {
        for (std::int16_t model = 0; model <= 2; ++model) {
            QStringList names;
            for (int r = 0; r < regCountOf(model); ++r)
                names << QStringLiteral("Rejestr %1").arg(r);
            write(model, names);
        }
    }
    QString path() const { return m_dir.path(); }
    void write(std::int16_t model, const QStringList& lines) const
    {
        QFile f(m_dir.filePath(namesFileNameOf(model)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QStringEncoder enc("windows-1250");
        f.write(enc.encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    }
    void remove(std::int16_t model) const { QFile::remove(m_dir.filePath(namesFileNameOf(model))); }

private:
    QTemporaryDir m_dir;
};

// ---------------------------------------------------------------------------
// Reading and writing through the simulated meter network.

class SimTransfer : public ::testing::Test {
protected:
    SimTransfer()
    {
        link.setErrorWindows(&errors);
        link.setListener(&recorder);
    }
    void use(std::int16_t model)
    {
        selectModel(link, table, model, names.path());
        link.MeterAddress = static_cast<std::int16_t>(model + 1); // the factory network
        link.BaudCode = 4;
        link.CardSetLink();
        recorder.events.clear();
    }
    SimMeter& meter() { return *card.meterAt(link.MeterAddress); }

    NamesDir names;
    SimCard card;
    Module1 link{card};
    RegisterTable table;
    CountingErrors errors;
    Recorder recorder;
    ConfigWindows windows{link, table};
};

TEST_F(SimTransfer, ReadFetchesEveryRegisterOfTheModelWithTheProgressOnScreen)
{
    for (std::int16_t model : {kModelKX2, kModelKX3, kModelKX4}) {
        SCOPED_TRACE(model);
        use(model);
        const int n = regCountOf(model);
        for (int r = 0; r < n; ++r)
            meter().setConfigValue(r, static_cast<float>(r) * 1.5f + 0.25f);
        table.RegValue.fill(777.0f);

        Form4* form = windows.readWindow();
        auto* bar = child<FractionalProgressBar>(form, "ProgressBar1");
        auto* counter = child<QLineEdit>(form, "Text1");
        struct Seen { bool visible; double value; double maximum; QString counter; };
        std::vector<Seen> seen;
        recorder.hook = [&](const Recorder::Event& e) {
            if (e.event == LinkEvent::RequestSent)
                seen.push_back({form->isVisible(), bar->fractionalValue(), bar->fractionalMaximum(), counter->text()});
        };
        windows.Form1_Command6_Click();
        recorder.hook = nullptr;

        const auto reads = recorder.requests(1);
        ASSERT_EQ(static_cast<int>(reads.size()), n);
        for (int r = 0; r < n; ++r) {
            EXPECT_EQ(requestAddress(reads[static_cast<std::size_t>(r)]), link.ConfigRegAddress(static_cast<std::int16_t>(r)));
            EXPECT_EQ(table.RegValue[static_cast<std::size_t>(r)], static_cast<float>(r) * 1.5f + 0.25f) << r;
        }
        for (int r = n; r < kRegisterSlots; ++r)
            ASSERT_EQ(table.RegValue[static_cast<std::size_t>(r)], 777.0f) << r;

        // Before each request the window shows the registers read so far.
        ASSERT_EQ(static_cast<int>(seen.size()), n);
        EXPECT_TRUE(seen[0].visible);
        EXPECT_DOUBLE_EQ(seen[0].value, 0.1);
        EXPECT_DOUBLE_EQ(seen[0].maximum, n);
        EXPECT_DOUBLE_EQ(seen[10].value, 10.0);
        EXPECT_EQ(seen[10].counter, QStringLiteral("   10"));
        EXPECT_EQ(counter->text(), QStringLiteral("   ") + QString::number(n));
        EXPECT_DOUBLE_EQ(bar->fractionalValue(), n);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_EQ(errors.transmit + errors.receive, 0);
}

// A read that fails shows the error window without giving it the keyboard,
// also when the read window that had it goes: the keyboard returns to the
// window it was in before the read.
TEST_F(SimTransfer, AFailedReadLeavesTheKeyboardWithTheMainWindow)
{
    use(kModelKX4);
    ErrorForms shown;
    link.setErrorWindows(&shown);
    QWidget mainWindow;
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));
    ConfigWindows placed(link, table, &mainWindow);
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    placed.Form1_Command6_Click();
    QApplication::processEvents();
    EXPECT_TRUE(shown.form7()->isVisible());
    EXPECT_FALSE(placed.readWindow()->isVisible());
    EXPECT_EQ(QApplication::activeWindow(), &mainWindow);
}

TEST_F(SimTransfer, ReadStopsAtTheFirstMissingReplyAndKeepsTheRest)
{
    struct Case { int failAt; double barAtEnd; const char* counterAtEnd; };
    for (const Case c : {Case{0, 0.1, ""}, Case{37, 37.0, "   37"}}) {
        SCOPED_TRACE(c.failAt);
        use(kModelKX3);
        card.clearFaults();
        for (int r = 0; r < 100; ++r)
            meter().setConfigValue(r, static_cast<float>(r) + 1000.0f);
        table.RegValue.fill(-5.0f);
        errors = {};
        windows.readWindow()->counter()->clear();
        if (c.failAt == 0)
            card.setFault(QStringLiteral("no-meter"));
        int fetched = 0;
        recorder.hook = [&](const Recorder::Event& e) {
            if (e.event == LinkEvent::ReplyFetched && ++fetched == c.failAt)
                card.setFault(QStringLiteral("no-meter"));
        };
        windows.Form1_Command6_Click();
        recorder.hook = nullptr;

        EXPECT_EQ(static_cast<int>(recorder.requests(1).size()), c.failAt + 1); // nothing after the failure
        for (int r = 0; r < 100; ++r)
            EXPECT_EQ(table.RegValue[static_cast<std::size_t>(r)], r < c.failAt ? static_cast<float>(r) + 1000.0f : -5.0f) << r;
        EXPECT_EQ(errors.receive, 1);
        Form4* form = windows.readWindow();
        EXPECT_DOUBLE_EQ(form->progressBar()->fractionalValue(), c.barAtEnd);
        EXPECT_EQ(form->counter()->text(), QString::fromLatin1(c.counterAtEnd));
        EXPECT_FALSE(form->isVisible());
    }
}

// What the window system shows of a window (the offscreen platform keeps the
// last picture each window handed over) against what the window would paint
// now: the progress on screen is the progress of the loop, not a step behind,
// and never a blank window.
TEST_F(SimTransfer, ProgressIsOnScreenBeforeAndDuringTheReadAndTheWrite)
{
    use(kModelKX3);
    struct Case {
        const char* what;
        QWidget* window;
        std::uint8_t request;
        std::function<void()> run;
    };
    Form5* form5 = windows.writeWindow();
    form5->setEepromPause(std::chrono::milliseconds(0));
    const Case cases[] = {
        {"read", windows.readWindow(), 1, [this] { windows.Form1_Command6_Click(); }},
        {"write", form5, 2, [this, form5] {
             windows.Form1_Command9_Click();
             child<QPushButton>(form5, "Command1")->click();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int requests = 0;
        std::vector<int> differing;
        recorder.hook = [&](const Recorder::Event& e) {
            if (e.event != LinkEvent::RequestSent || e.bytes.empty() || e.bytes[0] != c.request)
                return;
            ++requests;
            if (requests != 1 && requests != 50)
                return;
            const QImage shown = c.window->screen()->grabWindow(c.window->winId()).toImage();
            const QImage now = c.window->grab().toImage().convertToFormat(shown.format());
            differing.push_back(shown == now ? 0 : requests);
        };
        c.run();
        recorder.hook = nullptr;
        EXPECT_EQ(differing, (std::vector<int>{0, 0})) << "requests at which the screen lagged";
    }
}

class SimWrite : public SimTransfer {
protected:
    SimWrite()
    {
        use(kModelKX3);
        for (int r = 0; r < kRegisterSlots; ++r)
            table.RegValue[static_cast<std::size_t>(r)] = static_cast<float>(r) * 0.5f - 7.0f;
        // The meter's own address, baud code, transmit check and response
        // time: the link in use.
        table.RegValue[0] = 2.0f;
        table.RegValue[1] = 4.0f;
        table.RegValue[2] = 1.0f;
        table.RegValue[3] = 20.0f;
        form = windows.writeWindow();
        form->setEepromPause(kPause);
        form->setAsk([this](const QString&, const QString& text, bool yesByDefault) {
            questions << text;
            defaults << yesByDefault;
            const bool yes = answers.isEmpty() ? false : answers.takeFirst();
            return yes;
        });
        form->setWarn([this](const QString&, const QString& text) { warnings << text; });
    }
    static constexpr std::chrono::milliseconds kPause{30};
    float eepromValue(int r) { return meter().configValue(r, true); }
    Form5* form = nullptr;
    QStringList questions;
    QList<bool> defaults;
    QList<bool> answers; // "Tak" or "Nie" to each question in turn
    QStringList warnings;
};

TEST_F(SimWrite, OpeningPreparesTheWindow)
{
    auto* bar = child<FractionalProgressBar>(form, "ProgressBar1");
    windows.prepareWriteWindow();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(child<QCheckBox>(form, "Check1")->isChecked());

    child<QLineEdit>(form, "Text1")->setText(QStringLiteral("   5"));
    child<QCheckBox>(form, "Check1")->setChecked(true);
    windows.Form1_Command9_Click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(child<QCheckBox>(form, "Check1")->isChecked());
    EXPECT_EQ(windows.EepromFlag, 0);
    EXPECT_TRUE(child<QLineEdit>(form, "Text1")->text().isEmpty());
    EXPECT_DOUBLE_EQ(bar->fractionalValue(), 0.01);
    EXPECT_DOUBLE_EQ(bar->fractionalMaximum(), 100.0); // the bar's own default before any write

    child<QCheckBox>(form, "Check1")->click();
    EXPECT_EQ(windows.EepromFlag, -1);
    child<QPushButton>(form, "Command2")->click(); // "Zakończ"
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(windows.EepromFlag, 0);
    EXPECT_TRUE(child<QCheckBox>(form, "Check1")->isChecked()); // the tick stays, the flag does not
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(SimWrite, WritesEveryRegisterAndStoresInEepromOnlyWhenTickedInThisOpening)
{
    struct Case {
        const char* name;
        std::function<void()> beforeWrite;
        bool store;
    };
    const Case cases[] = {
        {"ticked", [this] { child<QCheckBox>(form, "Check1")->click(); }, true},
        {"ticked, unticked", [this] {
             child<QCheckBox>(form, "Check1")->click();
             child<QCheckBox>(form, "Check1")->click();
         }, false},
        {"ticked, closed, reopened", [this] {
             child<QCheckBox>(form, "Check1")->click();
             child<QPushButton>(form, "Command2")->click();
             windows.Form1_Command9_Click();
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        card.meters() = factoryNetwork();
        const float eepromBefore = eepromValue(42);
        recorder.events.clear();
        windows.Form1_Command9_Click();
        c.beforeWrite();
        child<QPushButton>(form, "Command1")->click(); // "Zapisz"
        card.passTime(std::chrono::seconds(5)); // the store, if any, runs its course

        const auto writes = recorder.requests(2);
        ASSERT_EQ(writes.size(), 100u);
        for (int r = 0; r < 100; ++r) {
            EXPECT_EQ(requestAddress(writes[static_cast<std::size_t>(r)]), link.ConfigRegAddress(static_cast<std::int16_t>(r)));
            EXPECT_EQ(meter().configValue(r), table.RegValue[static_cast<std::size_t>(r)]) << r;
        }
        EXPECT_EQ(meter().configValue(100), SimMeter::factory(kModelKX3, 2).configValue(100)); // beyond RegCount

        const auto stores = recorder.requests(3);
        if (c.store) {
            ASSERT_EQ(stores.size(), 1u);
            // The store comes after the last acknowledgement and the full pause.
            const auto store = std::find_if(recorder.events.begin(), recorder.events.end(), [](const Recorder::Event& e) {
                return e.event == LinkEvent::RequestSent && e.bytes == std::vector<std::uint8_t>{3};
            });
            ASSERT_NE(store, recorder.events.begin());
            EXPECT_EQ(std::prev(store)->event, LinkEvent::AckReceived);
            EXPECT_GE(store->at - std::prev(store)->at, kPause);
            EXPECT_EQ(eepromValue(42), table.RegValue[42]);
            // Then the window waited, in sight, until the storing meter
            // answered again: the next exchange finds it listening.
            EXPECT_EQ(recorder.events.back().event, LinkEvent::ReplyFetched);
            EXPECT_GT(recorder.requests(1).size(), 1u) << "asked while it stored";
            EXPECT_DOUBLE_EQ(form->progressBar()->fractionalMaximum(), 4.0) << "the bar counts the wait's seconds";
        } else {
            EXPECT_TRUE(stores.empty());
            EXPECT_EQ(recorder.events.back().event, LinkEvent::AckReceived);
            EXPECT_EQ(eepromValue(42), eepromBefore);
            EXPECT_DOUBLE_EQ(form->progressBar()->fractionalMaximum(), 100.0);
        }
        EXPECT_TRUE(form->lastResult().complete);
        EXPECT_EQ(form->counter()->text(), QStringLiteral("   100"));
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(windows.EepromFlag, 0);
    }
    EXPECT_EQ(errors.transmit, 0);
}

TEST_F(SimWrite, MissingReplyAtRegisterZeroStopsWithoutEepromRequest)
{
    card.setFault(QStringLiteral("no-ack"));
    windows.Form1_Command9_Click();
    child<QCheckBox>(form, "Check1")->click();
    const float eepromBefore = eepromValue(0);
    child<QPushButton>(form, "Command1")->click();

    EXPECT_EQ(recorder.requests(2).size(), 1u);
    EXPECT_TRUE(recorder.requests(3).empty());
    EXPECT_EQ(errors.transmit, 1);
    EXPECT_EQ(eepromValue(0), eepromBefore);
    EXPECT_DOUBLE_EQ(form->progressBar()->fractionalValue(), 1.0);
    EXPECT_EQ(form->counter()->text(), QStringLiteral("   1"));
    EXPECT_FALSE(form->lastResult().complete);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(windows.EepromFlag, 0);
}

// The table: the KX-3 at 2 / 19200 given address 7 and 9600 baud.
TEST_F(SimWrite, AWriteThatMovesTheMeterIsAskedAboutAndTheMainWindowFollowsIt)
{
    table.RegValue[0] = 7.0f;
    table.RegValue[1] = 3.0f;
    std::vector<MeterLink> followed;
    form->setLinkFollower([&](const MeterLink& to) {
        followed.push_back(to);
        useLink(link, to);
    });
    const QString asked =
        QStringLiteral("Konfiguracja zmienia łącze miernika:\n"
                       "Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w konfiguracji 7\n"
                       "Rejestr 1 (Prędkość transmisji (kod)): w mierniku 4 (19200 bodów), w konfiguracji 3 (9600 bodów)\n"
                       "Po zapisie w pamięci EEPROM i resecie miernik będzie odpowiadał pod adresem 7 z prędkością "
                       "9600 bodów. Zapisać mimo to?");

    // "Nie", the default: nothing reaches the meter.
    windows.Form1_Command9_Click();
    child<QCheckBox>(form, "Check1")->click();
    child<QPushButton>(form, "Command1")->click();
    EXPECT_EQ(questions, QStringList{asked});
    EXPECT_EQ(defaults, QList<bool>{false});
    EXPECT_TRUE(recorder.requests(2).empty());
    EXPECT_TRUE(form->isVisible()) << "the user may still close it or write after all";

    // "Tak": written and stored as ever, then the offer to follow the meter;
    // its waits for the store and the start show in the window.
    questions.clear();
    defaults.clear();
    answers = {true, true};
    QStringList waits;
    recorder.hook = [&](const Recorder::Event& e) {
        if (e.event == LinkEvent::RequestSent && form->waitNote()->isVisibleTo(form) && form->isVisible())
            waits << form->waitNote()->text().section(QStringLiteral(" Czekanie"), 0, 0);
    };
    child<QPushButton>(form, "Command1")->click();
    recorder.hook = nullptr;
    waits.removeDuplicates();
    EXPECT_EQ(waits, (QStringList{QStringLiteral("Miernik zapisuje konfigurację w pamięci EEPROM; potem zostanie zresetowany."),
                                  QStringLiteral("Miernik startuje po resecie.")}));
    EXPECT_FALSE(form->isVisible());
    ASSERT_EQ(recorder.requests(2).size(), 100u);
    ASSERT_EQ(questions.size(), 2);
    EXPECT_EQ(questions[1], QStringLiteral("Miernik przyjmie nowe ustawienia łącza po resecie; potem będzie odpowiadał "
                                           "pod adresem 7 z prędkością 9600 bodów. Zresetować go po zakończeniu zapisu "
                                           "w pamięci EEPROM i ustawić te parametry łącza w oknie głównym?"));
    EXPECT_TRUE(defaults[1]);
    ASSERT_EQ(followed.size(), 1u);
    EXPECT_EQ(followed[0], (MeterLink{7, 3, 1}));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(recorder.requests(170).size(), 1u) << "the reset, once the store was over";
    std::int16_t flag = 1;
    float value = 0.0f;
    link.ReadConfigReg(5, value, flag);
    EXPECT_EQ(flag, 0) << "found at its new link";
    EXPECT_EQ(value, table.RegValue[5]);
}

// Without the EEPROM store the meter stays where it is: the question names
// the registers only. A stored new link the user does not follow at once is
// remembered for the next reset of the meter, and given out once.
TEST_F(SimWrite, UntickedEepromAsksWithoutTheResetAndADeclinedFollowIsRemembered)
{
    table.RegValue[0] = 7.0f;
    form->setLinkFollower([](const MeterLink&) { ADD_FAILURE() << "followed without a yes"; });
    windows.Form1_Command9_Click();
    answers = {true};
    child<QPushButton>(form, "Command1")->click();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], QStringLiteral("Konfiguracja zmienia łącze miernika:\n"
                                           "Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w konfiguracji 7\n"
                                           "Zapisać mimo to?"));
    EXPECT_FALSE(form->takeLinkAfterReset()) << "nothing stored, nothing moves";

    questions.clear();
    answers = {true, false}; // write and store, but no reset now
    windows.Form1_Command9_Click();
    child<QCheckBox>(form, "Check1")->click();
    child<QPushButton>(form, "Command1")->click();
    ASSERT_EQ(questions.size(), 2);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("Po zapisie w pamięci EEPROM i resecie"))) << questions[0].toStdString();
    EXPECT_EQ(form->takeLinkAfterReset(), std::optional<MeterLink>(MeterLink{7, 4, 1}));
    EXPECT_FALSE(form->takeLinkAfterReset()) << "said once";
}

// Tab goes through the window as it stands on the screen, and every box a
// screen reader lands on has a name.
TEST_F(SimWrite, TabFollowsTheScreenAndTheBoxesHaveNames)
{
    windows.Form1_Command9_Click();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    QStringList order;
    QWidget* w = child<QCheckBox>(form, "Check1");
    w->setFocus();
    for (int i = 0; i < 4; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order, (QStringList{"Check1", "Command1", "Command2", "Check1"}));
    for (QWidget* box : form->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(box) || qobject_cast<QProgressBar*>(box) || qobject_cast<QAbstractButton*>(box)) {
            EXPECT_FALSE(box->accessibleName().isEmpty()) << box->objectName().toStdString();
        }
    }
}

TEST_F(SimWrite, ALinkNoMeterCanTakeIsNotWritten)
{
    table.RegValue[1] = 9.0f;
    windows.Form1_Command9_Click();
    child<QPushButton>(form, "Command1")->click();
    EXPECT_TRUE(questions.isEmpty());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("Rejestr 1 (Prędkość transmisji (kod)): w konfiguracji 9, a miernik "
                                                    "przyjmuje tylko liczby całkowite od 0 do 5")))
        << warnings[0].toStdString();
    EXPECT_TRUE(recorder.requests(2).empty());
}

// What the window refuses without a question: a move onto a link where
// another meter answers, and a response time the link cannot wait for
// (with the way to allow it); the meter is not written either way.
TEST_F(SimWrite, NeitherAnOccupiedLinkNorAResponseTooLateIsWritten)
{
    struct Case {
        const char* what;
        int reg;
        float value;
        QList<bool> answers;
        int questions;
        QString warning;
    };
    const Case cases[] = {
        {"onto the KX-4 at 3", 0, 3.0f, {true}, 1,
         "Pod adresem 3 z prędkością 19200 bodów odpowiada już inny miernik (KX-4); miernika nie przeniesiono."},
        {"800 ms", 3, 800.0f, {}, 0,
         "Nie zapisano konfiguracji: miernik nie przyjmie tych ustawień łącza.\n"
         "Czas odpowiedzi 800 ms jest dłuższy niż najdłuższe oczekiwanie łącza przy 19200 bodach (466 ms). Aby czekać "
         "dłużej, wpisz dłuższy czas w polu „Czas odpowiedzi miernika [ms]” okna głównego."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float before = table.RegValue[static_cast<std::size_t>(c.reg)];
        table.RegValue[static_cast<std::size_t>(c.reg)] = c.value;
        questions.clear();
        warnings.clear();
        answers = c.answers;
        recorder.events.clear();
        windows.Form1_Command9_Click();
        child<QPushButton>(form, "Command1")->click();
        EXPECT_EQ(questions.size(), c.questions);
        EXPECT_EQ(warnings, QStringList{c.warning});
        EXPECT_TRUE(recorder.requests(2).empty());
        EXPECT_EQ(linkInUse(link), (MeterLink{2, 4, 1})) << "the link back where it was";
        table.RegValue[static_cast<std::size_t>(c.reg)] = before;
    }
    // The response time given to the link allows it.
    link.setResponseTime(std::chrono::milliseconds(800));
    table.RegValue[3] = 800.0f;
    warnings.clear();
    answers = {true};
    child<QPushButton>(form, "Command1")->click();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(recorder.requests(2).size(), 100u);
    link.setResponseTime(std::nullopt);
}

TEST_F(SimWrite, WriteCannotBeStartedOrClosedWhileItRuns)
{
    windows.Form1_Command9_Click();
    auto* zapisz = child<QPushButton>(form, "Command1");
    auto* zakoncz = child<QPushButton>(form, "Command2");
    int attempts = 0;
    bool buttonsWereEnabled = false;
    bool hiddenMidway = false;
    recorder.hook = [&](const Recorder::Event& e) {
        if (e.event != LinkEvent::RequestSent || attempts >= 3)
            return;
        ++attempts;
        buttonsWereEnabled |= zapisz->isEnabled() || zakoncz->isEnabled();
        zapisz->click();
        zakoncz->click();
        form->Form5_Command1_Click();
        hiddenMidway |= !form->isVisible();
    };
    zapisz->click();
    recorder.hook = nullptr;

    EXPECT_EQ(attempts, 3);
    EXPECT_FALSE(buttonsWereEnabled);
    EXPECT_FALSE(hiddenMidway);
    EXPECT_EQ(recorder.requests(2).size(), 100u);
    EXPECT_TRUE(zapisz->isEnabled());
    EXPECT_TRUE(zakoncz->isEnabled());
}

// The write window opens on "Zapisz": Enter writes, as Space does; Escape
// leaves as "Zakończ" does. The counter is read, never typed into: no Tab stop.
TEST_F(SimWrite, EnterOnZapiszWritesAndEscapeLeaves)
{
    windows.Form1_Command9_Click();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    EXPECT_EQ(QApplication::focusWidget(), child<QPushButton>(form, "Command1"));
    EXPECT_EQ(child<QLineEdit>(form, "Text1")->focusPolicy() & Qt::TabFocus, 0);

    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    QTRY_COMPARE(recorder.requests(2).size(), 100u);
    EXPECT_FALSE(form->isVisible());

    windows.Form1_Command9_Click();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    child<QCheckBox>(form, "Check1")->click();
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(windows.EepromFlag, 0);
    EXPECT_EQ(recorder.requests(2).size(), 100u) << "Escape writes nothing";
}

// ---------------------------------------------------------------------------
// The register editor. It never talks to the meter; the port only records.

class Editor : public ::testing::Test {
protected:
    Editor() { link.MeterAddress = 7; }
    void use(std::int16_t model) { selectModel(link, table, model, names.path()); }
    Form2* open()
    {
        windows.Form1_Command7_Click();
        return windows.editor();
    }
    QTableWidget* grid() { return windows.editor()->grid(); }
    QString value(int row) { return grid()->item(row, Form2::kColValue)->text(); }
    void clickCell(int row, int column)
    {
        QTableWidget* g = grid();
        g->scrollToItem(g->item(row, column));
        const QRect rect = g->visualItemRect(g->item(row, column));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QLineEdit* box(const char* name) { return child<QLineEdit>(windows.editor(), name); }
    QPlainTextEdit* text(const char* name) { return child<QPlainTextEdit>(windows.editor(), name); }
    void menu() { child<QPushButton>(windows.editor(), "Command1")->click(); }

    NamesDir names;
    test::FakePort port;
    Module1 link{port};
    RegisterTable table;
    ConfigWindows windows{link, table};
};

TEST_F(Editor, FirstLoadFillsTheGridForEachModel)
{
    struct Case { std::int16_t model; int lastRow; const char* lastNumber; const char* modelText; bool fourInputs; };
    for (const Case c : {Case{kModelKX2, 64, "   3F", " KX-2", false},
                         Case{kModelKX3, 100, "    99", " KX-3", true},
                         Case{kModelKX4, 255, "   FE", " KX-4", true}}) {
        SCOPED_TRACE(c.model);
        NamesDir freshNames;
        RegisterTable t;
        t.RegValue[static_cast<std::size_t>(c.lastRow - 1)] = 2.5f;
        t.RegValue[0] = 3.0f;
        selectModel(link, t, c.model, freshNames.path());
        ConfigWindows w(link, t);
        EXPECT_EQ(w.editorIfLoaded(), nullptr);
        Form2* form = w.editor();
        EXPECT_FALSE(form->isVisible());

        QTableWidget* g = child<QTableWidget>(form, "MSFlexGrid1");
        ASSERT_EQ(g->rowCount(), c.lastRow + 1);
        EXPECT_EQ(g->item(0, 0)->text(), QStringLiteral("Rejestr"));
        EXPECT_EQ(g->item(0, 1)->text(), QStringLiteral("Funkcja rejestru"));
        EXPECT_EQ(g->item(0, 2)->text(), QStringLiteral("Wartość"));
        EXPECT_EQ(g->item(c.lastRow, 0)->text(), QString::fromLatin1(c.lastNumber));
        EXPECT_EQ(g->item(c.lastRow, 1)->text(), QStringLiteral("Rejestr %1").arg(c.lastRow - 1));
        EXPECT_EQ(g->item(c.lastRow, 2)->text(), ValueText(2.5f));
        // The address rule is applied before row 1 is written.
        const float first = c.model == kModelKX3 ? 7.0f : 3.0f;
        EXPECT_EQ(t.RegValue[0], first);
        EXPECT_EQ(g->item(1, 2)->text(), ValueText(first));
        EXPECT_EQ(g->currentRow(), 1);
        EXPECT_EQ(g->currentColumn(), 2);
        EXPECT_EQ(g->columnWidth(1), 4900 * g->logicalDpiX() / 1440);
        EXPECT_FALSE(g->item(5, 0)->flags() & Qt::ItemIsSelectable);
        EXPECT_FALSE(g->item(5, 2)->flags() & Qt::ItemIsEditable);

        EXPECT_EQ(child<QLineEdit>(form, "Text4")->text(), QString::fromLatin1(c.modelText));
        EXPECT_EQ(child<QLineEdit>(form, "Text8")->isHidden(), !c.fourInputs);
        EXPECT_EQ(child<QLabel>(form, "Label5")->isHidden(), !c.fourInputs);
        EXPECT_EQ(child<QLineEdit>(form, "Text1")->text(), QStringLiteral(" "));
        EXPECT_TRUE(child<QLabel>(form, "NamesNote")->isHidden());
    }
}

// A value reached by a click, on the grid or on the value box itself, is
// replaced by what is typed next, as one reached by Tab.
TEST_F(Editor, ClickThenTypeReplacesTheValue)
{
    use(kModelKX4);
    table.RegValue[10] = 20.0f;
    table.RegValue[11] = 30.0f;
    Form2* form = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    clickCell(11, Form2::kColValue);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("12"));
    EXPECT_EQ(value(11), QStringLiteral("12"));

    clickCell(12, Form2::kColValue);
    child<QPushButton>(form, "Command1")->setFocus();
    QTest::mouseClick(box("Text1"), Qt::LeftButton, {}, box("Text1")->rect().center());
    EXPECT_EQ(QApplication::focusWidget(), box("Text1"));
    QTest::keyClicks(box("Text1"), QStringLiteral("7"));
    EXPECT_EQ(value(12), QStringLiteral("7"));
}

TEST_F(Editor, ClickingACellFillsTheEditBoxes)
{
    use(kModelKX4);
    table.RegValue[10] = 12.5f;
    open();
    clickCell(11, Form2::kColValue);
    EXPECT_EQ(box("Text1")->text(), ValueText(12.5f));
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("   A"));
    EXPECT_EQ(grid()->currentColumn(), Form2::kColValue);

    // A click on the name lands on the value of the same row.
    clickCell(21, Form2::kColName);
    EXPECT_EQ(grid()->currentRow(), 21);
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("   14"));
    EXPECT_EQ(box("Text1")->text(), QStringLiteral("0"));

    QTest::keyClicks(box("Text1"), QStringLiteral("5"));
    EXPECT_EQ(value(21), QStringLiteral("5")) << "the clicked value is replaced";
    EXPECT_EQ(table.RegValue[20], 0.0f); // only the text changes until "Menu główne"
}

TEST_F(Editor, ReservedRegisterCannotBeChanged)
{
    use(kModelKX2);
    QStringList lines;
    for (int r = 0; r < 64; ++r)
        lines << QStringLiteral("Rejestr %1").arg(r);
    lines[5] = QStringLiteral("Rezerwa");
    lines[6] = QStringLiteral("\"Rezerwa \"");
    lines[7] = QStringLiteral("rezerwa");
    names.write(kModelKX2, lines);
    table.RegValue[5] = 4.0f;
    open();

    clickCell(6, Form2::kColValue);
    QTest::keyClicks(box("Text1"), QStringLiteral("99"));
    EXPECT_EQ(value(6), QStringLiteral("4"));
    for (int row : {7, 8}) {
        clickCell(row, Form2::kColValue);
        QTest::keyClicks(box("Text1"), QStringLiteral("1"));
        EXPECT_EQ(value(row), QStringLiteral("1")) << row;
    }
    menu();
    EXPECT_EQ(table.RegValue[5], 4.0f);
    EXPECT_EQ(table.RegValue[6], 1.0f);
}

TEST_F(Editor, MenuParsesEveryRowBack)
{
    use(kModelKX4);
    table.RegValue[200] = 1.23456789f;
    open();
    struct Case { int row; const char* typed; float stored; };
    const Case cases[] = {{4, "12,5", 12.5f}, {5, "1e3", 1000.0f}, {6, "", 0.0f}, {7, "abc", 0.0f}, {8, " -3.5E2 V", -350.0f}};
    for (const Case& c : cases) {
        clickCell(c.row, Form2::kColValue);
        box("Text1")->setText(QString::fromLatin1(c.typed));
    }
    menu();
    for (const Case& c : cases)
        EXPECT_EQ(table.RegValue[static_cast<std::size_t>(c.row - 1)], c.stored) << c.typed;
    // Untouched rows go back through their text of at most 7 digits.
    EXPECT_EQ(table.RegValue[200], ParseValue(ValueText(1.23456789f)));
    EXPECT_FALSE(windows.editor()->isVisible());

    open();
    EXPECT_EQ(value(7), QStringLiteral("0")); // the letters come back as the table holds them
    EXPECT_EQ(value(8), QStringLiteral("-350"));
}

TEST_F(Editor, TypingBeforeAnyClickChangesRegister0)
{
    use(kModelKX2);
    open();
    box("Text1")->setText(QStringLiteral("8"));
    menu();
    EXPECT_EQ(table.RegValue[0], 8.0f);
    EXPECT_EQ(table.RegValue[63], 0.0f);
}

TEST_F(Editor, Kx3AddressRuleAtFirstLoadAndAtEveryStore)
{
    use(kModelKX3);
    table.RegValue[0] = 55.0f;
    open();
    EXPECT_EQ(value(1), QStringLiteral("7"));
    menu();

    table.RegValue[0] = 55.0f; // a read puts the meter's value back
    open();
    EXPECT_EQ(value(1), QStringLiteral("55")); // opening does not apply the rule
    clickCell(1, Form2::kColValue);
    box("Text1")->setText(QStringLiteral("99"));
    link.MeterAddress = 12;
    menu();
    EXPECT_EQ(table.RegValue[0], 12.0f);

    use(kModelKX4);
    table.RegValue[0] = 55.0f;
    open();
    menu();
    EXPECT_EQ(table.RegValue[0], 55.0f);
}

TEST_F(Editor, DescriptiveFieldsFollowTheModel)
{
    for (std::int16_t model : {kModelKX2, kModelKX3}) {
        SCOPED_TRACE(model);
        RegisterTable t;
        selectModel(link, t, model, names.path());
        t.InVer1 = QStringLiteral("a1");
        t.InVer3 = QStringLiteral("a3");
        t.InVer4 = QStringLiteral("a4");
        t.SerialNo = QStringLiteral("SN 123");
        t.ProgVersion = QStringLiteral("v2");
        t.CustomerData = QStringLiteral("Zakład\r\nŁódź");
        ConfigWindows w(link, t);
        w.editor()->showDescriptiveFields(); // what a configuration file load does
        Form2* form = w.editor();
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(child<QLineEdit>(form, "Text5")->text(), QStringLiteral("a1"));
        EXPECT_EQ(child<QLineEdit>(form, "Text3")->text(), QStringLiteral("SN 123"));
        EXPECT_EQ(child<QLineEdit>(form, "Text9")->text(), QStringLiteral("v2"));
        EXPECT_EQ(child<QPlainTextEdit>(form, "Text10")->toPlainText(), QStringLiteral("Zakład\nŁódź"));
        EXPECT_EQ(child<QLineEdit>(form, "Text7")->text(), model == kModelKX2 ? QString() : QStringLiteral("a3"));

        child<QLineEdit>(form, "Text7")->setText(QStringLiteral("b3"));
        child<QLineEdit>(form, "Text8")->setText(QStringLiteral("b4"));
        child<QLineEdit>(form, "Text6")->setText(QStringLiteral("b2"));
        child<QPlainTextEdit>(form, "Text11")->setPlainText(QStringLiteral("x\ny"));
        child<QPushButton>(form, "Command1")->click();
        EXPECT_EQ(t.InVer2, QStringLiteral("b2"));
        EXPECT_EQ(t.InVer3, model == kModelKX2 ? QStringLiteral("a3") : QStringLiteral("b3"));
        EXPECT_EQ(t.InVer4, model == kModelKX2 ? QStringLiteral("a4") : QStringLiteral("b4"));
        EXPECT_EQ(t.CustomerData, QStringLiteral("Zakład\r\nŁódź"));
        EXPECT_EQ(t.Remarks, QStringLiteral("x\r\ny"));
    }
}

TEST_F(Editor, FreeTextsAreCutToTheirLimits)
{
    use(kModelKX3);
    open();
    QPlainTextEdit* customer = text("Text10");
    QPlainTextEdit* remarks = text("Text11");

    customer->setPlainText(QString(256, QLatin1Char('c')));
    EXPECT_EQ(customer->toPlainText().size(), 255);
    remarks->setPlainText(QString(301, QLatin1Char('r')));
    EXPECT_EQ(remarks->toPlainText().size(), 300);

    // A line break counts as the two characters the file keeps.
    customer->setPlainText(QString(254, QLatin1Char('x')) + QStringLiteral("\ny"));
    EXPECT_EQ(customer->toPlainText(), QString(254, QLatin1Char('x')));

    // Pasted text is cut the same way: the first 255 characters stay.
    customer->setPlainText(QString(250, QLatin1Char('a')));
    QGuiApplication::clipboard()->setText(QStringLiteral("0123456789"));
    customer->moveCursor(QTextCursor::End);
    customer->paste();
    EXPECT_EQ(customer->toPlainText(), QString(250, QLatin1Char('a')) + QStringLiteral("01234"));
    customer->moveCursor(QTextCursor::Start);
    customer->paste();
    EXPECT_EQ(customer->toPlainText(), QStringLiteral("0123456789") + QString(245, QLatin1Char('a')));

    // A longer text from a file stays in the table until "Menu główne".
    table.Remarks = QString(320, QLatin1Char('z'));
    table.CustomerData = QString(256, QLatin1Char('q'));
    windows.editor()->showDescriptiveFields();
    EXPECT_EQ(remarks->toPlainText().size(), 300);
    EXPECT_EQ(customer->toPlainText().size(), 255);
    EXPECT_EQ(table.Remarks.size(), 320);
    menu();
    EXPECT_EQ(table.Remarks.size(), 300);
    EXPECT_EQ(table.CustomerData.size(), 255);
}

TEST_F(Editor, ModelChangedWhileOpenStoresOnlyRowsBothHave)
{
    struct Case { std::int16_t openAs; std::int16_t storeAs; int stored; };
    for (const Case c : {Case{kModelKX4, kModelKX2, 64}, Case{kModelKX2, kModelKX4, 64}, Case{kModelKX3, kModelKX4, 100}}) {
        SCOPED_TRACE(c.openAs * 10 + c.storeAs);
        RegisterTable t;
        t.RegValue.fill(9.0f);
        selectModel(link, t, c.openAs, names.path());
        ConfigWindows w(link, t);
        w.Form1_Command7_Click();
        QTableWidget* g = w.editor()->grid();
        for (int row = 1; row < g->rowCount(); ++row)
            g->item(row, Form2::kColValue)->setText(QStringLiteral("1"));
        selectModel(link, t, c.storeAs, names.path());
        child<QPushButton>(w.editor(), "Command1")->click();
        for (int r = 1; r < kRegisterSlots; ++r) // slot 0 may take the address
            ASSERT_EQ(t.RegValue[static_cast<std::size_t>(r)], r < c.stored ? 1.0f : 9.0f) << r;
    }
}

TEST_F(Editor, NamesFileProblemsAreShownAndNamesReadAreKept)
{
    use(kModelKX2);
    table.RegName.fill(QStringLiteral("stara"));
    names.write(kModelKX2, {QStringLiteral("Zero"), QStringLiteral("Jeden")});
    open();
    auto* note = child<QLabel>(windows.editor(), "NamesNote");
    EXPECT_FALSE(note->isHidden());
    EXPECT_FALSE(note->text().isEmpty());
    EXPECT_EQ(grid()->item(2, 1)->text(), QStringLiteral("Jeden"));
    EXPECT_EQ(grid()->item(3, 1)->text(), QStringLiteral("stara"));
    EXPECT_EQ(grid()->rowCount(), 65);
    menu();

    names.remove(kModelKX2);
    open();
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(grid()->item(1, 1)->text(), QStringLiteral("Zero"));

    NamesDir good;
    selectModel(link, table, kModelKX2, good.path());
    open();
    EXPECT_TRUE(note->isHidden());
    EXPECT_EQ(grid()->item(3, 1)->text(), QStringLiteral("Rejestr 2"));
}

// The editor has no cancel: a close by the window's frame keeps the edits.
TEST_F(Editor, FrameCloseStoresAsMenuDoes)
{
    use(kModelKX3);
    table.RegValue[0] = 55.0f;
    open();
    clickCell(6, Form2::kColValue);
    box("Text1")->setText(QStringLiteral("12,5"));
    clickCell(1, Form2::kColValue);
    box("Text1")->setText(QStringLiteral("99"));
    box("Text3")->setText(QStringLiteral("SN-77"));
    text("Text11")->setPlainText(QStringLiteral("po\nkalibracji"));

    EXPECT_TRUE(windows.editor()->close());
    EXPECT_FALSE(windows.editor()->isVisible());
    EXPECT_EQ(table.RegValue[5], 12.5f);
    EXPECT_EQ(table.RegValue[0], 7.0f) << "the KX-3 address rule";
    EXPECT_EQ(table.SerialNo, QStringLiteral("SN-77"));
    EXPECT_EQ(table.Remarks, QStringLiteral("po\r\nkalibracji"));
    open();
    EXPECT_EQ(value(6), ValueText(12.5f));
}

// Every way the keyboard moves the current row picks that register, as a
// click does; only value cells are reached, and Tab leaves the grid.
TEST_F(Editor, KeyboardMovesPickTheRegisterAsAClickDoes)
{
    use(kModelKX4);
    for (int r = 0; r < 255; ++r)
        table.RegValue[static_cast<std::size_t>(r)] = static_cast<float>(r % 50) + 0.5f;
    Form2* form = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    QTableWidget* g = grid();
    g->setFocus();

    struct Move { const char* what; std::function<void()> keys; int row; };
    const Move moves[] = {
        {"up from register 0 stays there", [&] { QTest::keyClick(g, Qt::Key_Up); }, 1},
        {"page down", [&] { QTest::keyClick(g, Qt::Key_PageDown); }, -1},
        {"to the top", [&] { QTest::keyClick(g, Qt::Key_Home, Qt::ControlModifier); }, 1},
        {"down twice", [&] { QTest::keyClick(g, Qt::Key_Down); QTest::keyClick(g, Qt::Key_Down); }, 3},
        {"left and home stay on the value", [&] { QTest::keyClick(g, Qt::Key_Left); QTest::keyClick(g, Qt::Key_Home); }, 3},
    };
    for (const Move& m : moves) {
        SCOPED_TRACE(m.what);
        m.keys();
        const int row = g->currentRow();
        if (m.row > 0) {
            EXPECT_EQ(row, m.row);
        }
        EXPECT_EQ(g->currentColumn(), Form2::kColValue);
        EXPECT_EQ(box("Text2")->text(), g->item(row, Form2::kColNumber)->text());
        EXPECT_EQ(box("Text1")->text(), value(row));
        EXPECT_EQ(QApplication::focusWidget(), g) << "the arrows keep working";
    }
    // The value box now edits the row it names.
    QTest::keyClick(g, Qt::Key_Up); // register 1
    QTest::keyClick(g, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), box("Text1"));
    box("Text1")->selectAll();
    QTest::keyClicks(box("Text1"), QStringLiteral("42"));
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("   1"));
    EXPECT_EQ(value(2), QStringLiteral("42"));
    EXPECT_EQ(value(3), QStringLiteral("2.5"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QPushButton>(form, "Command1"));
    menu();
    EXPECT_EQ(table.RegValue[1], 42.0f);
}

// Typing the start of a number while the grid has the focus edits the
// current register, as in a spreadsheet, instead of jumping to a row whose
// text begins so; a "Rezerwa" register's box shows that it takes nothing.
// Escape leaves the editor as its frame does, keeping the edits; the boxes
// the user only reads are no Tab stops.
TEST_F(Editor, EscapeStoresAndClosesReadOnlyBoxesAreNoTabStops)
{
    use(kModelKX3);
    Form2* form = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    for (const char* name : {"Text2", "Text4"})
        EXPECT_EQ(box(name)->focusPolicy() & Qt::TabFocus, 0) << name;
    clickCell(4, Form2::kColValue);
    box("Text1")->setText(QStringLiteral("77"));
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(table.RegValue[3], 77.0f);
}

TEST_F(Editor, TypingANumberInTheGridEditsTheCurrentRegister)
{
    use(kModelKX3);
    QStringList lines;
    for (int r = 0; r < 100; ++r)
        lines << (r == 7 ? QStringLiteral("Rezerwa") : QStringLiteral("%1 Rejestr").arg(r));
    names.write(kModelKX3, lines);
    Form2* form = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    QTableWidget* g = grid();

    struct Case { const char* keys; int row; const char* value; };
    for (const Case c : {Case{"12,5", 3, "12,5"}, Case{"-3", 4, "-3"}, Case{"+7", 5, "+7"}, Case{",25", 6, ",25"}}) {
        SCOPED_TRACE(c.keys);
        clickCell(c.row, Form2::kColValue);
        g->setFocus();
        // Each key goes where the window system sends it, as when typed.
        for (QChar key : QString::fromUtf8(c.keys))
            QTest::keyClick(QGuiApplication::focusWindow(), key.toLatin1());
        EXPECT_EQ(g->currentRow(), c.row);
        EXPECT_EQ(QApplication::focusWidget(), box("Text1"));
        EXPECT_EQ(box("Text1")->text(), QString::fromUtf8(c.value));
        EXPECT_EQ(value(c.row), QString::fromUtf8(c.value));
    }

    clickCell(8, Form2::kColValue); // register 7, "Rezerwa"
    const QString kept = value(8);
    EXPECT_TRUE(box("Text1")->isReadOnly());
    EXPECT_FALSE(box("Text1")->toolTip().isEmpty());
    g->setFocus();
    QTest::keyClicks(g, QStringLiteral("99"));
    EXPECT_EQ(g->currentRow(), 8) << "no jump to a row beginning with 9";
    EXPECT_EQ(value(8), kept);
    QTest::keyClicks(box("Text1"), QStringLiteral("5"));
    EXPECT_EQ(value(8), kept);

    clickCell(9, Form2::kColValue);
    EXPECT_FALSE(box("Text1")->isReadOnly());
    EXPECT_TRUE(box("Text1")->toolTip().isEmpty());
    menu();
    EXPECT_EQ(table.RegValue[2], 12.5f);
    EXPECT_EQ(table.RegValue[3], -3.0f);
    EXPECT_EQ(table.RegValue[5], 0.25f);
}

// The grid opens on register 0 with that register current, and the edit
// boxes name it, whatever was picked before: a number typed at once goes
// into the register the user sees first.
TEST_F(Editor, OpensAtTheTopWithRegister0Current)
{
    use(kModelKX4);
    table.RegValue[254] = 5.0f;
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        Form2* form = open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
        EXPECT_EQ(grid()->rowAt(0), 1) << "the first row shown is register 0";
        EXPECT_EQ(grid()->currentRow(), 1);
        EXPECT_EQ(grid()->currentColumn(), Form2::kColValue);
        EXPECT_EQ(box("Text2")->text(), QStringLiteral("   0")) << "the boxes name the register they edit";
        grid()->setFocus();
        QTest::keyClick(QGuiApplication::focusWindow(), '9');
        EXPECT_EQ(value(1), QStringLiteral("9"));
        EXPECT_EQ(value(255), ValueText(5.0f)) << "the last register is left alone";
        clickCell(10, Form2::kColValue);
        grid()->scrollToBottom();
        menu();
    }
}

// At the fixed twips widths every value of up to eight characters, and the
// headers, are drawn whole; a longer value shows whole on hover.
TEST_F(Editor, ValuesAndHeadersFitTheirColumns)
{
    use(kModelKX3);
    open();
    QTableWidget* g = grid();
    const int dpi = g->logicalDpiX();
    EXPECT_EQ(g->columnWidth(Form2::kColNumber), 600 * dpi / 1440);
    EXPECT_EQ(g->columnWidth(Form2::kColValue), 770 * dpi / 1440);
    for (int c = 0; c < 3; ++c)
        EXPECT_LE(g->horizontalHeader()->sectionSizeHint(c), g->columnWidth(c)) << "header " << c;

    // What the grid's own delegate needs to draw a text without eliding it.
    auto needs = [g](int row) {
        QStyleOptionViewItem option;
        option.initFrom(g->viewport());
        option.font = g->font();
        option.fontMetrics = QFontMetrics(g->font());
        option.widget = g;
        const QModelIndex index = g->model()->index(row, Form2::kColValue);
        return g->itemDelegateForIndex(index)->sizeHint(option, index).width();
    };
    const int room = g->columnWidth(Form2::kColValue) - (g->showGrid() ? 1 : 0);
    const char* fits[] = {"-1234567", "123456,7", "-3,14159", "-0,00125", "99999,99"};
    int row = 10;
    for (const char* t : fits) {
        clickCell(row, Form2::kColValue);
        box("Text1")->setText(QString::fromLatin1(t));
        EXPECT_LE(needs(row), room) << t;
        ++row;
    }

    auto hover = [g](int at) {
        const QRect rect = g->visualRect(g->model()->index(at, Form2::kColValue));
        QHelpEvent help(QEvent::ToolTip, rect.center(), g->viewport()->mapToGlobal(rect.center()));
        QApplication::sendEvent(g->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(hover(10), QString()) << "a value shown whole needs no tooltip";
    const QString longValue = QStringLiteral("-1,234567E+38");
    clickCell(20, Form2::kColValue);
    box("Text1")->setText(longValue);
    ASSERT_GT(needs(20), room);
    EXPECT_EQ(hover(20), longValue);
    QToolTip::hideText();
}

} // namespace
} // namespace vardel
