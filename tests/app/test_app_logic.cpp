#include "app/Settings.h"
#include "app/Startup.h"
#include "app/TextRules.h"
#include "portio/PortIoBackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vardel;

namespace {

bool portAccessGrantedHere()
{
    QString message;
    return PortIoBackend::open(0x340, message) != nullptr;
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("Vardel.cfg"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

TEST(SettingsFile, DefaultsWrittenAsNineExactLines)
{
    EXPECT_EQ(settingsFileBytes(Settings{}),
              QByteArray(" 832 \r\n 0 \r\n 2 \r\n 1 \r\n 4 \r\n 1 \r\n 585 \r\n 633 \r\n 3801 \r\n"));
    Settings negative;
    negative.CardAddress = -1;
    EXPECT_TRUE(settingsFileBytes(negative).startsWith("-1 \r\n 0 \r\n"));
}

TEST(SettingsFile, ReadsWhatItWrites)
{
    QTemporaryDir dir;
    Settings s;
    s.CardAddress = 768;
    s.MasterAddress = 5;
    s.MeterAddress = 17;
    s.MeterModel = 2;
    s.BaudCode = 0;
    s.TransmitCheck = 0;
    s.RegBase = {100, -200, 32767}; // passed through untouched, whatever they are
    const QString path = dir.filePath(QStringLiteral("Vardel.cfg"));
    ASSERT_TRUE(writeSettingsFile(path, s));
    bool defaults = true;
    EXPECT_EQ(readSettingsFile(path, &defaults), s);
    EXPECT_FALSE(defaults);
}

TEST(SettingsFile, EveryFailureGivesAllNineDefaults)
{
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"eight numbers", " 768 \r\n 5 \r\n 3 \r\n 2 \r\n 1 \r\n 0 \r\n 1 \r\n 2 \r\n"},
        {"sixth value 7", " 768 \r\n 5 \r\n 3 \r\n 2 \r\n 1 \r\n 7 \r\n 1 \r\n 2 \r\n 3 \r\n"},
        {"out of 16 bits", " 99999 \r\n 5 \r\n 3 \r\n 2 \r\n 1 \r\n 0 \r\n 1 \r\n 2 \r\n 3 \r\n"},
        {"not a number", " 768 \r\n x \r\n 3 \r\n 2 \r\n 1 \r\n 0 \r\n 1 \r\n 2 \r\n 3 \r\n"},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        bool defaults = false;
        EXPECT_EQ(readSettingsFile(writeFile(dir, c.bytes), &defaults), Settings{}) << c.what;
        EXPECT_TRUE(defaults) << c.what;
    }
    QTemporaryDir dir;
    EXPECT_EQ(readSettingsFile(dir.filePath(QStringLiteral("missing.cfg"))), Settings{});
}

TEST(SettingsFile, ValuesSeparatedByCommasAndBlanksAndOddModelKept)
{
    QTemporaryDir dir;
    const Settings s = readSettingsFile(writeFile(dir, "832, 0 ,2\r\n5\r\n9\r\n2\r\n585\r\n633\r\n3801\r\n"));
    EXPECT_EQ(s.MeterModel, 5);    // no model button will be selected
    EXPECT_EQ(s.BaudCode, 9);      // no baud button will be selected
    EXPECT_EQ(s.TransmitCheck, 2); // greyed
}

TEST(SettingsFile, FailedWriteSaysWhyAndLeavesNoTemporaryBehind)
{
    QTemporaryDir dir;
    // A folder where the file should be: nothing can be written there.
    const QString path = dir.filePath(QStringLiteral("Vardel.cfg"));
    ASSERT_TRUE(QDir().mkdir(path));
    QString error;
    EXPECT_FALSE(writeSettingsFile(path, Settings{}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0);
}

TEST(TextRules, CardAddress)
{
    struct Case {
        const char* text;
        std::optional<std::int16_t> value;
        bool systemPorts = false; // refused as the mainboard's own ports
    };
    const Case cases[] = {
        {"340h", 832}, {"3F8", 1016}, {"3f8", 1016}, {"300h", 768}, {" 3 40", 832}, {"0340", 832},
        {"8000", -32768}, {"100", 256}, {"FFFE", -2},
        {"7FFF", std::nullopt}, {"10000", std::nullopt}, {"FFFFF", std::nullopt},
        // Below 100h, or FFFF whose command port wraps round to 0; the empty
        // text and one without leading digits read as 0.
        {"2", std::nullopt, true}, {"20h", std::nullopt, true}, {"FF", std::nullopt, true},
        {"FFFF", std::nullopt, true}, {"", std::nullopt, true}, {"x340", std::nullopt, true},
    };
    for (const Case& c : cases) {
        QString refusal;
        EXPECT_EQ(parseCardAddressText(QString::fromLatin1(c.text), &refusal), c.value) << c.text;
        if (c.value)
            EXPECT_TRUE(refusal.isEmpty()) << c.text;
        else
            EXPECT_EQ(refusal, c.systemPorts ? QStringLiteral("Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h)")
                                             : QStringLiteral("Nieprawidłowy adres: wartość poza zakresem 16 bitów"))
                << c.text;
    }
}

TEST(TextRules, NetworkAddress)
{
    struct Case {
        const char* text;
        std::optional<std::int16_t> value;
    };
    const Case cases[] = {
        {"2.5", 2}, {"3.5", 4}, {"12abc", 12}, {"1 2", 12}, {"", 0}, {"abc", 0}, {"-7", -7},
        {"1e2", 100}, {"0.5", 0}, {"1.5", 2}, {"32767", 32767}, {"-32768", -32768},
        {"32768", std::nullopt}, {"1e9", std::nullopt}, {"-40000", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseNetworkAddressText(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(StartOptions, CardChoiceAndSimulatorOptions)
{
    StartOptions o;
    QString error;
    ASSERT_TRUE(parseStartOptions({}, o, error));
    EXPECT_EQ(o.card, CardKind::Simulated);

    ASSERT_TRUE(parseStartOptions({QStringLiteral("--card=port")}, o, error));
    EXPECT_EQ(o.card, CardKind::Ports);

    StartOptions s;
    ASSERT_TRUE(parseStartOptions({QStringLiteral("--card"), QStringLiteral("sim"), QStringLiteral("--sim-state"),
                                   QStringLiteral("/tmp/x.txt"), QStringLiteral("--sim-fault=no-meter")},
                                  s, error));
    EXPECT_EQ(s.card, CardKind::Simulated);
    EXPECT_EQ(s.simState, QStringLiteral("/tmp/x.txt"));
    EXPECT_EQ(s.simFaults, QStringList{QStringLiteral("no-meter")});

    StartOptions bad;
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--card=usb")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("--card"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--frobnicate")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("Nieznana opcja"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--sim-state")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("Brak wartości opcji"))) << qPrintable(error);
}

TEST(StartOptions, PortCardRefusedWithAClearMessageAndNoFallback)
{
    StartOptions o;
    o.card = CardKind::Ports;
    QTemporaryDir dir;
    QStringList notes;
    QString error;
    auto backend = createBackend(o, dir.path(), 832, notes, error);
    if (backend)
        GTEST_SKIP() << "this machine grants direct port access";
    EXPECT_TRUE(error.contains(QStringLiteral("340h–341h"))) << qPrintable(error);
}

// As a user meets it: the program itself, started for a real card on a machine
// that gives it no ports, says so and ends with code 3, with or without a display.
TEST(StartOptions, ProgramEndsWithCode3WhenPortsAreRefused)
{
    if (portAccessGrantedHere())
        GTEST_SKIP() << "this machine grants direct port access";
    QProcess vardel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    vardel.setProcessEnvironment(env);
    vardel.start(QStringLiteral(VARDEL_BIN_DIR "/vardel"), {QStringLiteral("--card=port")});
    ASSERT_TRUE(vardel.waitForFinished(30000));
    EXPECT_EQ(vardel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vardel.exitCode(), 3);
    const QString err = QString::fromLocal8Bit(vardel.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("340h–341h"))) << qPrintable(err);
}
