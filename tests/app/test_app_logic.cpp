#include "app/QtTranslations.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "app/TextRules.h"
#include "portio/PortIoBackend.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

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

    // Empty lines separate values too; they are not zeros.
    bool defaults = true;
    const Settings spaced = readSettingsFile(
        writeFile(dir, " 768 \r\n\r\n 5 \r\n 3 \r\n  \r\n 2 \r\n 1 \r\n 0 \r\n 1 \r\n 2 \r\n\r\n 3 \r\n\r\n"), &defaults);
    EXPECT_FALSE(defaults);
    EXPECT_EQ(spaced.CardAddress, 768);
    EXPECT_EQ(spaced.MasterAddress, 5);
    EXPECT_EQ(spaced.RegBase, (std::array<std::int16_t, 3>{1, 2, 3}));
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

// On a Polish desktop the application's numbers use a comma (LC_NUMERIC set
// from the environment when the application is made): the point typed into
// the box still reads as a point.
TEST(TextRules, NetworkAddressWhateverTheUsersLocale)
{
    QTemporaryDir locales;
    const QByteArray path = QFile::encodeName(locales.path());
    QProcess make;
    make.start(QStringLiteral("localedef"), {QStringLiteral("-i"), QStringLiteral("pl_PL"), QStringLiteral("-f"),
                                             QStringLiteral("UTF-8"), locales.filePath(QStringLiteral("pl_PL.UTF-8"))});
    ASSERT_TRUE(make.waitForFinished(30000)) << "localedef (package locales) is needed";
    const QByteArray oldPath = qgetenv("LOCPATH");
    const std::string oldNumeric = std::setlocale(LC_NUMERIC, nullptr);
    qputenv("LOCPATH", path);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "pl_PL.UTF-8"), nullptr) << make.readAllStandardError().toStdString();
    EXPECT_EQ(std::localeconv()->decimal_point, std::string(","));
    EXPECT_EQ(parseNetworkAddressText(QStringLiteral("3.5")), std::optional<std::int16_t>(4));
    EXPECT_EQ(parseNetworkAddressText(QStringLiteral("2.5e1")), std::optional<std::int16_t>(25));
    std::setlocale(LC_NUMERIC, oldNumeric.c_str());
    if (oldPath.isNull())
        qunsetenv("LOCPATH");
    else
        qputenv("LOCPATH", oldPath);
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
    // The window shows a real card's pace unless asked not to.
    EXPECT_EQ(s.simPace, SimPace::Real);
    StartOptions fast;
    ASSERT_TRUE(parseStartOptions({QStringLiteral("--sim-pace"), QStringLiteral("fast")}, fast, error));
    EXPECT_EQ(fast.simPace, SimPace::Fast);

    StartOptions t;
    ASSERT_TRUE(parseStartOptions({QStringLiteral("--trace"), QStringLiteral("bus.log")}, t, error));
    EXPECT_EQ(t.trace, QStringLiteral("bus.log"));

    StartOptions bad;
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--card=usb")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("--card"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--frobnicate")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("Nieznana opcja"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--sim-state")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("Brak wartości opcji"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--trace=")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("--trace"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--sim-pace=slow")}, bad, error));
    EXPECT_TRUE(error.contains(QStringLiteral("--sim-pace"))) << qPrintable(error);
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--sim-fault=slow-replies")}, bad, error));
    EXPECT_FALSE(parseStartOptions({QStringLiteral("--sim-fault"), QStringLiteral("bad-length=0")}, bad, error));

    // Qt's own choice of window system passes through to the application object.
    StartOptions qt;
    ASSERT_TRUE(parseStartOptions({QStringLiteral("-platform"), QStringLiteral("offscreen")}, qt, error));
    EXPECT_TRUE(qt.windowSystemNamed);
    EXPECT_TRUE(qt.simFaults.isEmpty());
}

// The program as a user starts it from a shell: without a display, with an
// unreachable one, or with a mistyped option it says why in Polish, in one
// line and the usage line at most, and ends with code 2.
TEST(StartOptions, ProgramRefusesWithoutADisplayOrWithABadOption)
{
    QTemporaryDir dir;
    const QString state = QStringLiteral("--sim-state=") + dir.filePath(QStringLiteral("sim.txt"));
    const struct {
        const char* what;
        const char* display; // nullptr: no DISPLAY at all
        QStringList args;
        QString firstLine;
        int lines;
    } cases[] = {
        {"no display", nullptr, {state}, QStringLiteral("vardel: Brak ekranu graficznego"), 1},
        {"unreachable display", ":97", {state}, QStringLiteral("vardel: Nie można połączyć się z ekranem graficznym „:97”"), 1},
        {"unknown option", nullptr, {QStringLiteral("--frobnicate")}, QStringLiteral("vardel: Nieznana opcja: --frobnicate"), 2},
        {"bad simulator fault", ":97", {QStringLiteral("--sim-fault=dead-cards")}, QStringLiteral("vardel: "), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess vardel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (c.display)
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(c.display));
        else
            env.remove(QStringLiteral("DISPLAY"));
        vardel.setProcessEnvironment(env);
        vardel.start(QStringLiteral(VARDEL_BIN_DIR "/vardel"), c.args);
        ASSERT_TRUE(vardel.waitForFinished(30000));
        EXPECT_EQ(vardel.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(vardel.exitCode(), 2);
        const QStringList err = QString::fromUtf8(vardel.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(err.size(), c.lines) << qPrintable(err.join(QLatin1Char('\n')));
        EXPECT_TRUE(err[0].startsWith(c.firstLine)) << qPrintable(err[0]);
        if (c.lines == 2) {
            EXPECT_TRUE(err[1].startsWith(QStringLiteral("Użycie: vardel"))) << qPrintable(err[1]);
        }
    }
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

// The program itself, started without any display, as a script or a user
// on a text console meets it.
namespace {

struct StartRun {
    int code = -1;
    QString err;
};

StartRun runVardelWithoutDisplay(const QStringList& args)
{
    QProcess vardel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    vardel.setProcessEnvironment(env);
    vardel.start(QStringLiteral(VARDEL_BIN_DIR "/vardel"), args);
    StartRun run;
    if (!vardel.waitForFinished(30000)) {
        ADD_FAILURE() << "vardel did not end";
        return run;
    }
    run.code = vardel.exitStatus() == QProcess::NormalExit ? vardel.exitCode() : -1;
    run.err = QString::fromLocal8Bit(vardel.readAllStandardError());
    return run;
}

} // namespace

// Started for a real card on a machine that gives it no ports, the program
// says so and ends with code 3, with or without a display.
TEST(StartOptions, ProgramEndsWithCode3WhenPortsAreRefused)
{
    if (portAccessGrantedHere())
        GTEST_SKIP() << "this machine grants direct port access";
    const StartRun run = runVardelWithoutDisplay({QStringLiteral("--card=port")});
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(run.err.contains(QStringLiteral("340h–341h"))) << qPrintable(run.err);
}

// A bus log that cannot be opened stops the start before any window, like
// a refused port: nobody should think the exchanges are being logged.
TEST(StartOptions, ProgramEndsWithCode2WhenTheTraceCannotBeOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const StartRun run = runVardelWithoutDisplay({QStringLiteral("--sim-state"), dir.filePath(QStringLiteral("sim.txt")),
                                                  QStringLiteral("--trace"),
                                                  dir.filePath(QStringLiteral("no/such/bus.log"))});
    EXPECT_EQ(run.code, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Nie można zapisać pliku"))) << qPrintable(run.err);
}

// The window program stops as the command line does: a stop signal ends it
// with 128 + its number, also while it waits in the system for a reader of
// its bus monitor FIFO or shows its window, and too few free descriptors for
// Qt end it with a message instead of an abort inside Qt.
TEST(StartOptions, ProgramEndsOnAStopSignalAndOnTooFewDescriptors)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString state = dir.filePath(QStringLiteral("sim.txt"));
    const QString fifo = dir.filePath(QStringLiteral("bus.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    struct Case {
        const char* what;
        QString limit;
        QStringList args;
        int signal;
        int code;
        QString err;
    };
    const Case cases[] = {
        {"window on screen", {}, {}, SIGHUP, 128 + SIGHUP, {}},
        {"open of a FIFO nobody reads", {}, {QStringLiteral("--trace"), fifo}, SIGTERM, 128 + SIGTERM, {}},
        {"ulimit -n 8", QStringLiteral("ulimit -n 8; "), {}, 0, 2,
         QStringLiteral("vardel: za dużo otwartych plików: limit procesu (ulimit -n 8)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess vardel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        vardel.setProcessEnvironment(env);
        vardel.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), c.limit + QStringLiteral("exec \"$0\" \"$@\""),
                                                             QStringLiteral(VARDEL_BIN_DIR "/vardel"),
                                                             QStringLiteral("--sim-state"), state,
                                                             QStringLiteral("--sim-pace=fast")}
                                                    + c.args);
        if (c.signal != 0) {
            // The card is locked before the bus monitor is opened and the
            // window shown.
            const QString lock = state + QStringLiteral(".lock");
            for (int i = 0; i < 3000 && !QFileInfo::exists(lock); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            ::kill(static_cast<pid_t>(vardel.processId()), c.signal);
        }
        ASSERT_TRUE(vardel.waitForFinished(20000)) << "vardel did not end";
        EXPECT_EQ(vardel.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(vardel.exitCode(), c.code);
        const QString err = QString::fromUtf8(vardel.readAllStandardError());
        EXPECT_TRUE(err.contains(c.err)) << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(state + QStringLiteral(".lock"))) << "the card let go";
    }
}

// The program's own .ts file is read as it stands: a text is found by its
// context, else by its source alone; a broken file gives no texts at all.
TEST(OwnTranslations, ReadFromTheTsFileByContextThenBySource)
{
    const QByteArray ts = R"(<?xml version="1.0" encoding="utf-8"?>
<TS version="2.1" language="pl_PL">
<context><name>A</name>
  <message><source>Off</source><translation>Wyłączony</translation></message>
  <message><source>Untranslated</source><translation type="unfinished"></translation></message>
</context>
<context><name>B</name>
  <message><source>Off</source><translation>Wyłączone</translation></message>
</context>
</TS>)";
    TsTranslator t;
    ASSERT_TRUE(t.loadTs(ts));
    EXPECT_EQ(t.translate("A", "Off"), QStringLiteral("Wyłączony"));
    EXPECT_EQ(t.translate("B", "Off"), QStringLiteral("Wyłączone"));
    EXPECT_FALSE(t.translate("C", "Off").isEmpty()) << "a class Qt moved the text to";
    EXPECT_TRUE(t.translate("A", "Untranslated").isEmpty());
    EXPECT_TRUE(t.translate("A", "Unknown").isEmpty());

    EXPECT_FALSE(t.loadTs(ts.left(ts.size() / 2)));
    EXPECT_TRUE(t.isEmpty());
    EXPECT_TRUE(t.translate("A", "Off").isEmpty());
}
