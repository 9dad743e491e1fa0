#include "app/Form1.h"
#include "app/QtTranslations.h"
#include "app/Settings.h"
#include "config/RegisterTable.h"
#include "files/ConfigFileDialogs.h"
#include "link/Module1.h"
#include "measure/MeasureTest.h"
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

#include <functional>

#include <gtest/gtest.h>

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
    EXPECT_FALSE(find<QPushButton>("Command3")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("Command5")->isEnabled());
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

// The measurement test's window refuses to be closed by the user, but it must
// never keep the program alive: both ways of ending leave the event loop.
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

        QTimer::singleShot(50, &form, [&] { c.end(form); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(10000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << "the event loop went on";
        EXPECT_FALSE(form3->isVisible());
        EXPECT_FALSE(form.timer1().isActive());
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
                               QStringLiteral("Check1"),  QStringLiteral("Option8"),  QStringLiteral("Text1"),
                               QStringLiteral("Text4"),   QStringLiteral("Command1"), QStringLiteral("Command2"),
                               QStringLiteral("Command6"), QStringLiteral("Command7"), QStringLiteral("Command9"),
                               QStringLiteral("Save"),    QStringLiteral("Load"),     QStringLiteral("Print"),
                               QStringLiteral("Command8"), QStringLiteral("KxReset"), QStringLiteral("Command4")};
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
    QCoreApplication::removeTranslator(polish);
    delete polish;
}
