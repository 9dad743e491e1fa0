#include "app/Form1.h"
#include "app/QtTranslations.h"
#include "app/Settings.h"
#include "config/ConfigWindows.h"
#include "config/Form5.h"
#include "config/RegisterTable.h"
#include "files/ConfigFileDialogs.h"
#include "link/Module1.h"
#include "measure/MeasureTest.h"
#include "recorder/RecorderWindow.h"
#include "sim/SimCard.h"
#include "support/FakePort.h"
#include "support/ScopedEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QAbstractButton>
#include <QGroupBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTabWidget>

#include <functional>

#include <algorithm>
#include <utility>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

using namespace vardel;
using vardel::test::FakePort;

namespace {

struct MainWindow : ::testing::Test {
    QTemporaryDir dir;
    FakePort port;
    Module1 link{port};
    RegisterTable table;
    std::unique_ptr<Form1> form;

    void open(bool simulated = true)
    {
        port.recordStatusReads = false;
        form = std::make_unique<Form1>(link, table, dir.path(), simulated);
        form->Form_Load();
    }
    template <typename T> T* find(const char* name)
    {
        T* w = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QByteArray settingsBytes()
    {
        QFile f(dir.filePath(QStringLiteral("Vardel.cfg")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(MainWindow, StartsWithDefaultsWithoutSettingsFile)
{
    open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Vardel  V1.0b "));
    EXPECT_TRUE(find<QRadioButton>("Option2")->isChecked());
    EXPECT_EQ(find<QRadioButton>("Option2")->text(), QStringLiteral("KX-3"));
    EXPECT_TRUE(find<QRadioButton>("Option8")->isChecked());
    EXPECT_EQ(find<QRadioButton>("Option8")->text(), QStringLiteral("19200"));
    EXPECT_EQ(find<QLineEdit>("Text2")->text(), QStringLiteral("0"));
    EXPECT_EQ(find<QLineEdit>("Text3")->text(), QStringLiteral("2"));
    EXPECT_TRUE(find<QCheckBox>("Check1")->isChecked());
    EXPECT_EQ(find<QLineEdit>("Text1")->text(), QStringLiteral("340h"));
    EXPECT_EQ(find<QLineEdit>("Text4")->text(), QStringLiteral("4h"));
    EXPECT_EQ(table.RegCount, 100);
    EXPECT_EQ(table.ModelTag, QStringLiteral("KX3"));
    EXPECT_EQ(table.NamesFile, dir.path() + QStringLiteral("/KX3_NAME.TXT"));
    EXPECT_TRUE(find<QPushButton>("Command3")->isEnabled());
    EXPECT_EQ(find<QPushButton>("Command3")->text(), QStringLiteral("Pomoc"));
    EXPECT_TRUE(find<QPushButton>("Command5")->isEnabled());
    EXPECT_EQ(find<QPushButton>("Command5")->text(), QStringLiteral("Rejestrator"));
    EXPECT_FALSE(find<QTimer>("Timer1")->isActive());
    EXPECT_EQ(find<QPushButton>("Command7")->accessibleName(), QStringLiteral("Edycja   konfiguracji miernika tablicowego"));
    EXPECT_EQ(find<QLineEdit>("Text1")->accessibleName(), QStringLiteral("Adres karty"));
    EXPECT_TRUE(find<QLabel>("SimNote")->text().contains(QStringLiteral("Karta symulowana")));
}

TEST_F(MainWindow, CardGetsLinkParametersLastAfterTheReset)
{
    open();
    // The reset pulse: 128 then 0 on the command port.
    std::vector<std::size_t> resetAt;
    for (std::size_t i = 0; i < port.ops.size(); ++i)
        if (port.ops[i].out && port.ops[i].port == 833 && (port.ops[i].value == 128))
            resetAt.push_back(i);
    ASSERT_EQ(resetAt.size(), 1u);
    const std::vector<std::pair<int, int>> tail(port.regWrites.end() - 4, port.regWrites.end());
    EXPECT_EQ(tail, (std::vector<std::pair<int, int>>{{10, 1}, {12, 0}, {13, 2}, {11, 132}}));
    // And the writes after the reset include a full CardSetLink.
    std::size_t afterReset = 0;
    for (std::size_t i = resetAt[0]; i < port.ops.size(); ++i)
        if (port.ops[i].out && port.ops[i].port == 833 && port.ops[i].value == 64 + 11)
            ++afterReset;
    EXPECT_GE(afterReset, 1u);
}

// After a write that moved the meter, the window follows it: the controls
// show where it answers and the card is loaded with that.
TEST_F(MainWindow, FollowingTheMeterSetsTheLinkControlsAndTheCard)
{
    open();
    port.regWrites.clear();
    form->followMeter({7, 3, 0});
    EXPECT_EQ(find<QLineEdit>("Text3")->text(), QStringLiteral("7"));
    EXPECT_TRUE(find<QRadioButton>("Option7")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("Check1")->isChecked());
    EXPECT_EQ(link.MeterAddress, 7);
    EXPECT_EQ(link.BaudCode, 3);
    EXPECT_EQ(link.TransmitCheck, 0);
    const std::vector<std::pair<int, int>> tail(port.regWrites.end() - 4, port.regWrites.end());
    EXPECT_EQ(tail, (std::vector<std::pair<int, int>>{{10, 1}, {12, 0}, {13, 7}, {11, 3}}));
}

TEST_F(MainWindow, KoniecPracyWritesTheNineLines)
{
    open();
    QSignalSpy quit(form.get(), &Form1::quitRequested);
    find<QPushButton>("Command4")->click();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_EQ(settingsBytes(), QByteArray(" 832 \r\n 0 \r\n 2 \r\n 1 \r\n 4 \r\n 1 \r\n 585 \r\n 633 \r\n 3801 \r\n"));
}

TEST_F(MainWindow, KoniecPracyThatCannotWriteTheSettingsSaysWhyAndStillEnds)
{
    open();
    // A folder in the file's place: the old "file" stays, the reason is shown.
    ASSERT_TRUE(QDir().mkdir(dir.filePath(QStringLiteral("Vardel.cfg"))));
    QString shown;
    QTimer::singleShot(0, [&shown] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    QSignalSpy quit(form.get(), &Form1::quitRequested);
    find<QPushButton>("Command4")->click();
    EXPECT_EQ(shown, QStringLiteral("Nie można zapisać pliku %1: to jest folder, a nie plik")
                         .arg(dir.filePath(QStringLiteral("Vardel.cfg"))));
    EXPECT_EQ(quit.count(), 1);
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("Vardel.cfg"))).isDir());
}

TEST_F(MainWindow, ClosingByTheFrameEndsWithoutWritingSettings)
{
    open();
    QSignalSpy quit(form.get(), &Form1::quitRequested);
    form->close();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Vardel.cfg"))));
}

TEST_F(MainWindow, SettingsFileValuesReachControlsAndGoBackUnchanged)
{
    QFile f(dir.filePath(QStringLiteral("Vardel.cfg")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(" 768 \r\n 7 \r\n 3 \r\n 5 \r\n 0 \r\n 0 \r\n 111 \r\n 222 \r\n 333 \r\n");
    f.close();
    port.setDataPort(768);
    open();
    EXPECT_EQ(find<QLineEdit>("Text1")->text(), QStringLiteral("300h"));
    EXPECT_FALSE(find<QRadioButton>("Option1")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("Option2")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("Option3")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("Option4")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("Check1")->isChecked());
    // Last CardSetLink: 1200 baud, unticked.
    EXPECT_EQ(port.regWrites.back(), (std::pair<int, int>{11, 0}));
    find<QPushButton>("Command4")->click();
    EXPECT_EQ(settingsBytes(), QByteArray(" 768 \r\n 7 \r\n 3 \r\n 5 \r\n 0 \r\n 0 \r\n 111 \r\n 222 \r\n 333 \r\n"));
}

TEST_F(MainWindow, LinkParameterChangesReachTheCardAtOnce)
{
    open();
    port.clear();
    find<QRadioButton>("Option9")->click(); // 38400
    EXPECT_EQ(port.regWrites.back(), (std::pair<int, int>{11, 128 + 5}));
    EXPECT_EQ(link.BaudCode, 5);
    find<QCheckBox>("Check1")->click();
    EXPECT_EQ(port.regWrites.back(), (std::pair<int, int>{11, 5}));
    EXPECT_EQ(link.TransmitCheck, 0);
    find<QLineEdit>("Text3")->setText(QStringLiteral("3.5"));
    EXPECT_EQ(link.MeterAddress, 4);
    EXPECT_EQ(port.writtenValues(13).back(), 4);
    find<QRadioButton>("Option3")->click();
    EXPECT_EQ(link.MeterModel, 2);
    EXPECT_EQ(table.RegCount, 255);

    // The response time: empty is the link's usual wait; a refused text
    // leaves the last valid value in force; Vardel.cfg never holds it.
    QLineEdit* text5 = find<QLineEdit>("Text5");
    EXPECT_EQ(link.responseTime(), std::nullopt);
    for (const auto& [text, inForce, rejected] :
         {std::tuple{"800", std::optional<int>(800), false}, std::tuple{"70000", std::optional<int>(800), true},
          std::tuple{"2,5", std::optional<int>(800), true}, std::tuple{"", std::optional<int>(), false}}) {
        SCOPED_TRACE(text);
        text5->setText(QString::fromLatin1(text));
        EXPECT_EQ(link.responseTime(), inForce ? std::optional(std::chrono::milliseconds(*inForce)) : std::nullopt);
        EXPECT_EQ(text5->property("rejected").toBool(), rejected);
    }
}

TEST_F(MainWindow, CardAddressBoxMovesThePortsAndRefusesBadAddresses)
{
    open();
    QLineEdit* text1 = find<QLineEdit>("Text1");
    text1->setText(QStringLiteral("300h"));
    EXPECT_EQ(link.CardAddress, 768);
    EXPECT_EQ(link.CardCommandPort, 769);
    EXPECT_FALSE(text1->property("rejected").toBool());
    port.clear();
    find<QPushButton>("Command1")->click(); // "Test karty" reads the new status port
    ASSERT_FALSE(port.ops.empty());
    EXPECT_EQ(port.ops.back().port, 769);

    text1->setText(QStringLiteral("7FFF"));
    EXPECT_EQ(link.CardAddress, 768);
    EXPECT_TRUE(text1->property("rejected").toBool());
    EXPECT_FALSE(text1->toolTip().isEmpty());
    text1->setText(QStringLiteral("12345"));
    EXPECT_EQ(link.CardAddress, 768);
    text1->setText(QStringLiteral("340"));
    EXPECT_EQ(link.CardAddress, 832);
    EXPECT_FALSE(text1->property("rejected").toBool());

    QLineEdit* text2 = find<QLineEdit>("Text2");
    text2->setText(QStringLiteral("70000"));
    EXPECT_EQ(link.MasterAddress, 0);
    EXPECT_TRUE(text2->property("rejected").toBool());
}

TEST_F(MainWindow, CardTestAndResetShowTheStatusInHex)
{
    port.status = 0x4C;
    open();
    EXPECT_EQ(find<QLineEdit>("Text4")->text(), QStringLiteral("4Ch"));
    port.clear();
    port.recordStatusReads = true;
    find<QPushButton>("Command2")->click();
    EXPECT_EQ(port.statusReads, 1503);
    EXPECT_TRUE(port.regWrites.empty());
    find<QPushButton>("Command1")->click();
    EXPECT_EQ(find<QLineEdit>("Text4")->text(), QStringLiteral("4Ch"));
}

TEST_F(MainWindow, RealCardShowsNoSimulatorNote)
{
    open(false);
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("SimNote")), nullptr);
}

TEST(InstalledMainWindow, NamesFromSharedFolderSettingsToUserFolderDialogsAtHome)
{
    // <prefix>/bin without names files, <prefix>/share/vardel with them.
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    const QString share = root.filePath(QStringLiteral("usr/share/vardel"));
    const QString home = root.filePath(QStringLiteral("home"));
    for (const QString& d : {bin, share, home})
        ASSERT_TRUE(QDir().mkpath(d));
    for (const char* name : {"KX2_NAME.TXT", "KX3_NAME.TXT", "KX4_NAME.TXT"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(VARDEL_SOURCE_DIR "/data/") + QLatin1String(name),
                                share + QLatin1Char('/') + QLatin1String(name)));
    test::ScopedEnv env;
    env.set("HOME", home);
    env.set("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")));

    FakePort port;
    port.recordStatusReads = false;
    Module1 link(port);
    RegisterTable table;
    Form1 form(link, table, bin, true);
    form.Form_Load();
    EXPECT_EQ(table.NamesFile, share + QStringLiteral("/KX3_NAME.TXT"));

    QString folder;
    form.fileDialogs().setFileChooser([&folder](const ConfigFileDialogs::FileRequest& r) {
        folder = r.folder;
        return QString();
    });
    form.findChild<QPushButton*>(QStringLiteral("Load"))->click();
    EXPECT_EQ(folder, home);

    form.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    EXPECT_TRUE(QFile::exists(root.filePath(QStringLiteral("config/vardel/Vardel.cfg"))));
    EXPECT_EQ(QDir(bin).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

namespace {
bool touchesSystemPorts(const FakePort& port)
{
    return std::any_of(port.ops.begin(), port.ops.end(), [](const FakePort::Op& op) { return op.port < 0x100; });
}
} // namespace

// Each keystroke takes effect at once, so typing 200h passes 2 and 20h: the
// DMA and interrupt controllers' ports. Those are refused like any bad address.
TEST_F(MainWindow, CardAddressBelow100hIsRefusedAndNeverTouched)
{
    open();
    port.recordStatusReads = true;
    port.clear();
    QLineEdit* text1 = find<QLineEdit>("Text1");
    text1->clear();
    const QString reserved = QStringLiteral("Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h)");
    EXPECT_TRUE(text1->property("rejected").toBool()) << "the empty box reads as 0";
    for (const char* key : {"2", "0"}) {
        QTest::keyClicks(text1, QLatin1String(key));
        EXPECT_TRUE(text1->property("rejected").toBool()) << text1->text().toStdString();
        EXPECT_EQ(text1->toolTip(), reserved);
        EXPECT_EQ(link.CardAddress, 832) << "the last valid address stays in force";
    }
    find<QPushButton>("Command1")->click(); // "Test karty" meanwhile reads the old card
    EXPECT_EQ(find<QLineEdit>("Text4")->text(), QStringLiteral("4h"));
    QTest::keyClicks(text1, QStringLiteral("0h"));
    EXPECT_FALSE(text1->property("rejected").toBool());
    EXPECT_TRUE(text1->toolTip().isEmpty());
    EXPECT_EQ(link.CardAddress, 0x200);
    EXPECT_FALSE(touchesSystemPorts(port));
    ASSERT_FALSE(port.ops.empty());
    EXPECT_EQ(port.ops.back().port, 0x201);

    text1->setText(QStringLiteral("7FFF"));
    EXPECT_EQ(text1->toolTip(), QStringLiteral("Nieprawidłowy adres: wartość poza zakresem 16 bitów"));
}

// A settings file naming such an address: the default card stays in force and
// the box shows the refused address in red.
TEST_F(MainWindow, SettingsAddressBelow100hIsShownRefused)
{
    QFile f(dir.filePath(QStringLiteral("Vardel.cfg")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(" 32 \r\n 0 \r\n 2 \r\n 1 \r\n 4 \r\n 1 \r\n 585 \r\n 633 \r\n 3801 \r\n");
    f.close();
    port.recordStatusReads = true;
    open();
    EXPECT_EQ(link.CardAddress, 832);
    QLineEdit* text1 = find<QLineEdit>("Text1");
    EXPECT_EQ(text1->text(), QStringLiteral("20h"));
    EXPECT_TRUE(text1->property("rejected").toBool());
    EXPECT_FALSE(touchesSystemPorts(port));
    EXPECT_FALSE(port.writtenValues(13).empty()) << "the card at 340h got the link parameters";
}

// The measurement test's ticks get through while an error window is put on
// screen inside a write. None may run its exchange there: it would clear the
// reply flag and take the acknowledgement the write is waiting for.
TEST_F(MainWindow, MeasurementTickDuringAWriteWaitsItsTurn)
{
    open();
    // The meter's own link in the table as the window uses it: no question.
    table.RegValue[0] = 2.0f;
    table.RegValue[1] = 4.0f;
    table.RegValue[2] = 1.0f;
    const std::uint16_t stuck = link.ConfigRegAddress(6); // register 6's send never completes
    // The request now being loaded into the card: the register 5 writes since
    // the last reply flag clearing.
    const auto currentRequest = [this] {
        std::vector<int> body;
        for (auto it = port.regWrites.rbegin(); it != port.regWrites.rend() && it->first != 6; ++it)
            if (it->first == 5)
                body.insert(body.begin(), it->second);
        return body;
    };
    std::size_t seenWrites = 0;
    bool stuckWrite = false;
    port.onRead = [&](int reg) -> std::uint8_t {
        switch (reg) {
        case 7:
            if (port.regWrites.size() != seenWrites) { // a new request since the last look
                seenWrites = port.regWrites.size();
                const std::vector<int> body = currentRequest();
                stuckWrite = body.size() == 10 && body[0] == 2 && body[1] * 256 + body[2] == stuck;
            }
            return stuckWrite ? 0 : 128;
        case 6: return 128;
        case 15: return 0;
        case 16: return 38; // the KX-3's 36 bytes of measured values
        default: return 0x10;
        }
    };
    find<QPushButton>("Command8")->click();
    QTimer* timer1 = find<QTimer>("Timer1");
    ASSERT_TRUE(timer1->isActive());
    timer1->setInterval(0); // a tick due at every pass of the event handling

    port.clear();
    find<QPushButton>("Command9")->click();
    form->configWindows().writeWindow()->findChild<QPushButton*>(QStringLiteral("Command1"))->click();

    // Requests in order, as the card received them: body bytes, then start.
    std::vector<std::vector<int>> requests;
    std::vector<int> body;
    for (const auto& [reg, value] : port.regWrites) {
        if (reg == 5)
            body.push_back(value);
        else if (reg == 7 && value == 64)
            requests.push_back(std::exchange(body, {}));
    }
    const auto isMeasure = [](const std::vector<int>& r) { return r == std::vector<int>{1, 2, 1, 36}; };
    const auto firstWrite = std::find_if(requests.begin(), requests.end(), [](const auto& r) { return r[0] == 2; });
    const auto lastWrite = std::find_if(requests.rbegin(), requests.rend(), [](const auto& r) { return r[0] == 2; });
    ASSERT_NE(firstWrite, requests.end());
    EXPECT_EQ(std::count_if(firstWrite, lastWrite.base(), isMeasure), 0);
    EXPECT_EQ(std::count_if(firstWrite, lastWrite.base(), [](const auto& r) { return r[0] == 2; }), table.RegCount)
        << "the acknowledged write went on to the end";

    // The test itself goes on: the next tick asks the meter again.
    for (int i = 0; i < 10 && !isMeasure(currentRequest()); ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(timer1->isActive());
    EXPECT_TRUE(isMeasure(currentRequest()));
}

// The measurement test's window refuses to be closed by the user, but it must
// never keep the program alive: both ways of ending leave the event loop. The
// recorder running beside it stops, and its file ends with a whole line.
TEST(Ending, KoniecPracyAndFrameCloseEndTheProgramWhileTheTestRuns)
{
    const struct {
        const char* how;
        std::function<void(Form1&)> end;
    } cases[] = {
        {"Koniec pracy", [](Form1& f) { f.findChild<QPushButton*>(QStringLiteral("Command4"))->click(); }},
        {"frame close", [](Form1& f) { f.close(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        QTemporaryDir dir;
        SimCard card;
        Module1 link(card);
        RegisterTable table;
        Form1 form(link, table, dir.path(), true);
        form.Form_Load();
        form.show();
        form.findChild<QPushButton*>(QStringLiteral("Command8"))->click();
        Form3* form3 = form.measureTest().form3();
        ASSERT_TRUE(form3->isVisible());
        ASSERT_TRUE(form.timer1().isActive());
        form.findChild<QPushButton*>(QStringLiteral("Command5"))->click();
        RecorderWindow& recorder = form.recorderWindow();
        const QString csv = dir.filePath(QStringLiteral("pomiary.csv"));
        QString error;
        ASSERT_TRUE(recorder.recorder().startFile(csv, &error)) << error.toStdString();
        recorder.timer().setInterval(10);

        QTimer::singleShot(50, &form, [&] { c.end(form); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(10000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << "the event loop went on";
        EXPECT_FALSE(form3->isVisible());
        EXPECT_FALSE(form.timer1().isActive());
        EXPECT_FALSE(recorder.isRunning());
        EXPECT_FALSE(recorder.isVisible());
        EXPECT_FALSE(recorder.recorder().file().isRecording());
        QFile file(csv);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_GT(bytes.count('\n'), 1) << "the recorder refreshed while the program ran";
        EXPECT_TRUE(bytes.endsWith('\n'));
    }
}

// Tab walks the window as it stands on the screen and enters each group of
// option buttons at its ticked button, so Space never changes a setting
// the user did not point at.
TEST_F(MainWindow, TabFollowsTheScreenAndStopsOnTheTickedButtons)
{
    open();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("Option2")) << "KX-3 is ticked";

    const QStringList expected{QStringLiteral("Option2"), QStringLiteral("Text2"),    QStringLiteral("Text3"),
                               QStringLiteral("Check1"),  QStringLiteral("Option8"),  QStringLiteral("Text5"),
                               QStringLiteral("Text1"),
                               QStringLiteral("Command1"), QStringLiteral("Command2"),
                               QStringLiteral("Command6"), QStringLiteral("Command7"), QStringLiteral("Command9"),
                               QStringLiteral("Save"),    QStringLiteral("Load"),     QStringLiteral("Print"),
                               QStringLiteral("Command8"), QStringLiteral("Command5"), QStringLiteral("KxReset"),
                               QStringLiteral("Command4"), QStringLiteral("Command3")};
    QStringList seen;
    for (qsizetype i = 0; i <= expected.size(); ++i) {
        seen << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(seen, expected + QStringList{QStringLiteral("Option2")});

    // The arrows move the tick within the group, and the tab stop follows it.
    find<QRadioButton>("Option9")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("Option8"));
    find<QRadioButton>("Option5")->click();
    EXPECT_EQ(link.BaudCode, 1);
    find<QCheckBox>("Check1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("Option5"));
}

TEST(QtTranslations, QtDialogsSpeakPolishAndAMissingFileChangesNothing)
{
    auto cancelText = [] {
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        return box.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&'));
    };
    QTemporaryDir empty;
    EXPECT_EQ(installQtPolish(*qApp, empty.path()), nullptr);
    EXPECT_EQ(cancelText(), QStringLiteral("Cancel"));

    QTranslator* polish = installQtPolish(*qApp);
    ASSERT_NE(polish, nullptr) << "Qt's Polish translations (qt6-translations-l10n) are missing";
    EXPECT_EQ(cancelText(), QStringLiteral("Anuluj"));
    EXPECT_EQ(QFileSystemModel().headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nazwa"));

    // What Qt's translation leaves English in the print dialog has our own
    // Polish text; Qt's own texts stay Qt's.
    QPrinter printer;
    QPrintDialog dialog(&printer);
    QStringList texts;
    for (const char* name : {"duplex", "noDuplex", "duplexLong", "duplexShort", "color"}) {
        QWidget* w = dialog.findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(w, nullptr) << name;
        if (auto* group = qobject_cast<QGroupBox*>(w))
            texts << group->title();
        else
            texts << qobject_cast<QAbstractButton*>(w)->text();
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Druk dwustronny"), QStringLiteral("Wyłączony"),
                                  QStringLiteral("Zszycie wzdłuż dłuższej krawędzi"),
                                  QStringLiteral("Zszycie wzdłuż krótszej krawędzi"), QStringLiteral("Kolor")}));
    // The printer's properties come up from the dialog's "Właściwości".
    QStringList tabs;
    QTimer::singleShot(0, [&] {
        if (auto* properties = dialog.findChild<QAbstractButton*>(QStringLiteral("properties")))
            properties->click();
    });
    QTimer::singleShot(100, [&] {
        for (QTabWidget* t : dialog.findChildren<QTabWidget*>())
            for (int i = 0; i < t->count(); ++i)
                tabs << t->tabText(i);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d && d != &dialog && d->isVisible())
                d->reject();
        dialog.reject();
    });
    dialog.exec();
    EXPECT_TRUE(tabs.contains(QStringLiteral("Zaawansowane"))) << tabs.join(u',').toStdString();
    for (const QString& t : tabs)
        EXPECT_NE(t, QStringLiteral("Advanced"));

    for (QTranslator* t : qApp->findChildren<QTranslator*>())
        QCoreApplication::removeTranslator(t);
    delete polish;
}
