// vardel-cli end to end: every case starts the built program as its own
// process on the simulated card, with the simulator's state in a temporary
// folder, exactly as a script would.

#include "support/TestFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#include <csignal>

QT_BEGIN_NAMESPACE
// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

using vardel::test::readBytes;

const QString kBinDir = QStringLiteral(VARDEL_BIN_DIR);

QString cliBinary()
{
    return kBinDir + QStringLiteral("/vardel-cli");
}

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

// A KX-3 configuration file as the program writes it: Windows-1250, CR LF.
struct ConfigFixture {
    QStringList fields; // the six description lines
    QStringList values; // register lines, as written (sign blank included)
    QString customer;
    QString remarks;

    QByteArray bytes() const
    {
        QString text;
        for (const QString& f : fields)
            text += f + QStringLiteral("\r\n");
        for (const QString& v : values)
            text += v + QStringLiteral("\r\n");
        text += QStringLiteral(" %1 \r\n %2 \r\n").arg(customer.size()).arg(remarks.size());
        text += customer + QStringLiteral("\r\n") + remarks + QStringLiteral("\r\n");
        QStringEncoder encoder("windows-1250");
        return encoder.encode(text);
    }
};

ConfigFixture kx3Fixture()
{
    ConfigFixture f;
    f.fields = {QStringLiteral("Nr 12/2026"), QStringLiteral("V2.1"), QStringLiteral("Pt100"),
                QStringLiteral("0-20 mA"), QString(), QStringLiteral("zażółć gęślą jaźń")};
    const QStringList cycle = {QStringLiteral(" 25"),      QStringLiteral(" .5"),
                               QStringLiteral("-273.15"),  QStringLiteral(" 1.234568E+07"),
                               QStringLiteral(" 1E-05"),   QStringLiteral(" 0"),
                               QStringLiteral(" 3.3"),     QStringLiteral(" 65535"),
                               QStringLiteral(" 1234.567"), QStringLiteral("-.25"),
                               QStringLiteral(" 100")};
    for (int r = 0; r < 100; ++r)
        f.values << cycle[r % cycle.size()];
    // The meter's own address, baud code, transmit check and response time:
    // those of the link the tests use (2, 19200, on, the factory's 20 ms).
    f.values[0] = QStringLiteral(" 2");
    f.values[1] = QStringLiteral(" 4");
    f.values[2] = QStringLiteral(" 1");
    f.values[3] = QStringLiteral(" 20");
    f.values[5] = QStringLiteral(" 25"); // the write example: 25 into KX-3 register 5
    f.customer = QStringLiteral("Zakład Łódź\r\nul. Długa 1");
    f.remarks = QStringLiteral("bez uwag");
    return f;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Name, size and time of every entry: the program's folder must look the
// same after a run, because the command line never writes beside itself.
std::map<QString, QString> folderSnapshot(const QString& path)
{
    std::map<QString, QString> out;
    const QFileInfoList entries = QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& e : entries)
        out[e.fileName()] = QStringLiteral("%1 %2").arg(e.size()).arg(e.lastModified().toMSecsSinceEpoch());
    return out;
}

// A CSV row's fields: ';'-separated; a field in double quotes may hold ';'
// and doubled quotes.
QStringList csvFields(const QString& line)
{
    QStringList fields{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            if (quoted && i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
                fields.last() += line[++i];
            else
                quoted = !quoted;
        } else if (c == QLatin1Char(';') && !quoted) {
            fields << QString();
        } else {
            fields.last() += c;
        }
    }
    return fields;
}

class CliProcess : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFileInfo::exists(cliBinary())) << cliBinary().toStdString();
        binBefore = folderSnapshot(kBinDir);
    }
    void TearDown() override { EXPECT_EQ(folderSnapshot(kBinDir), binBefore); }

    QString path(const QString& name) const { return dir.filePath(name); }

    // The link options are all given, so a Vardel.cfg beside the program
    // (the window writes one on exit) cannot change what the tests see.
    CliRun cli(QStringList args, const QString& program = cliBinary(), bool fixedLink = true)
    {
        const auto p = start(std::move(args), program, fixedLink);
        return finish(*p);
    }

    // Started, not awaited: for several programs at once.
    std::unique_ptr<QProcess> start(QStringList args, const QString& program = cliBinary(), bool fixedLink = true)
    {
        args << QStringLiteral("--sim-state") << path(QStringLiteral("sim.txt"));
        if (fixedLink) {
            args << QStringLiteral("--card-address=340h") << QStringLiteral("--baud=19200")
                 << QStringLiteral("--master-address=0") << QStringLiteral("--transmit-check=1");
        }
        auto p = std::make_unique<QProcess>();
        p->setProgram(program);
        p->setArguments(args);
        p->setWorkingDirectory(dir.path());
        if (environment)
            p->setProcessEnvironment(*environment);
        if (stdoutFile)
            p->setStandardOutputFile(*stdoutFile);
        p->start();
        return p;
    }

    static CliRun finish(QProcess& p)
    {
        CliRun r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "vardel-cli did not finish: " << p.arguments().join(QLatin1Char(' ')).toStdString();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    static QStringList kx3() { return {QStringLiteral("--model"), QStringLiteral("KX-3"), QStringLiteral("--meter-address"), QStringLiteral("2")}; }
    static QStringList kx2() { return {QStringLiteral("--model=KX-2"), QStringLiteral("--meter-address=1")}; }

    // The fixture file, written into the meter's EEPROM.
    QString storedFixture()
    {
        const QString file = path(QStringLiteral("meter.KX3"));
        EXPECT_TRUE(writeBytes(file, fixture.bytes()));
        const CliRun w = cli(QStringList{QStringLiteral("write"), file, QStringLiteral("--eeprom")} + kx3());
        EXPECT_EQ(w.code, 0) << w.err.toStdString();
        EXPECT_EQ(w.out, QString());
        EXPECT_EQ(w.err, QStringLiteral("Wysłano polecenie zapisu w pamięci EEPROM (miernik go nie potwierdza).\n"));
        return file;
    }

    QTemporaryDir dir;
    std::map<QString, QString> binBefore;
    ConfigFixture fixture = kx3Fixture();
    std::optional<QProcessEnvironment> environment;
    std::optional<QString> stdoutFile;
};

TEST_F(CliProcess, WriteToEepromThenAFreshReadGivesTheSameFile)
{
    const QString file = storedFixture();

    // A new process: a new simulated card whose meters start from EEPROM.
    const QString copy = path(QStringLiteral("copy.KX3"));
    const CliRun r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), copy, QStringLiteral("--template"), file} + kx3());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QString()); // no terminal, no progress bar
    EXPECT_EQ(readBytes(copy), fixture.bytes());

    // Without a template the description stays empty; the registers are the meter's.
    const QString bare = path(QStringLiteral("bare.KX3"));
    ASSERT_EQ(cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), bare} + kx3()).code, 0);
    ConfigFixture expected = fixture;
    expected.fields = QStringList(6, QString());
    expected.customer.clear();
    expected.remarks.clear();
    EXPECT_EQ(readBytes(bare), expected.bytes());
}

TEST_F(CliProcess, VerifyListsEveryRegisterThatDiffers)
{
    const QString file = storedFixture();

    CliRun r = cli(QStringList{QStringLiteral("verify"), file} + kx3());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Zgodność: wszystkie 100 rejestrów\n"));

    ConfigFixture changed = fixture;
    changed.values[7] = QStringLiteral(" 8.5");
    changed.values[99] = QStringLiteral("-1");
    changed.fields[0] = QStringLiteral("inny numer"); // not in the meter: not compared
    const QString other = path(QStringLiteral("changed.KX3"));
    ASSERT_TRUE(writeBytes(other, changed.bytes()));
    r = cli(QStringList{QStringLiteral("verify"), other} + kx3());
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, QStringLiteral("Rejestr 7: w pliku 8.5, w mierniku 65535\n"
                                    "Rejestr 99: w pliku -1, w mierniku 25\n"));
}

TEST_F(CliProcess, TraceShowsTheRequestBytesOfEveryExchange)
{
    // KX-2 register 0 lies at 585: 01 02 49 06. The file is appended to.
    const QString trace = path(QStringLiteral("bus.log"));
    for (int run = 1; run <= 2; ++run) {
        const CliRun r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), path(QStringLiteral("a.KX2")),
                                      QStringLiteral("--trace"), trace} + kx2());
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
    }
    const QStringList lines = QString::fromLatin1(readBytes(trace)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2 * 64);
    // Each line ends with the exchange's time on the card.
    const QRegularExpression first(QStringLiteral(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d TX 01 02 49 06 RX( [0-9A-F]{2}){6} ok \d+\.\d ms$)"));
    EXPECT_TRUE(first.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(first.match(lines[64]).hasMatch()) << lines[64].toStdString();
    EXPECT_TRUE(lines[63].contains(QStringLiteral(" TX 01 03 C3 06 RX "))) << lines[63].toStdString(); // r = 63 at 963

    // Writing 25 into KX-3 register 5 (at 663), traced to stderr, after the
    // read of the meter's response time (register 3 at 651) and with the
    // EEPROM request after the last acknowledgement.
    const QString file = path(QStringLiteral("w.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const CliRun w = cli(QStringList{QStringLiteral("write"), file, QStringLiteral("--eeprom"), QStringLiteral("--trace=-")} + kx3());
    ASSERT_EQ(w.code, 0) << w.err.toStdString();
    const QStringList err = w.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(err.size(), 1 + 100 + 1 + 1);
    EXPECT_TRUE(err[0].contains(QStringLiteral(" TX 01 02 8B 06 RX "))) << err[0].toStdString();
    EXPECT_TRUE(err[6].contains(QStringLiteral(" TX 02 02 97 06 25 00 00 00 00 82 RX - ack "))) << err[6].toStdString();
    EXPECT_TRUE(err[101].contains(QStringLiteral(" TX 03 RX - sent "))) << err[101].toStdString();
    EXPECT_EQ(err[102], QStringLiteral("Wysłano polecenie zapisu w pamięci EEPROM (miernik go nie potwierdza)."));
}

TEST_F(CliProcess, ExitCodesTellWhatWentWrong)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QString asKx2 = path(QStringLiteral("cfg.KX2"));
    ASSERT_TRUE(writeBytes(asKx2, fixture.bytes()));
    const QString out = path(QStringLiteral("out.KX3"));
    const QString missing = path(QStringLiteral("missing.KX3"));
    const QString fifo = path(QStringLiteral("fifo.KX3"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);

    struct Case {
        QStringList args;
        int code;
        QString err; // a part of stderr
    };
    const Case cases[] = {
        {QStringList{"read", "-o", out, "--sim-fault", "no-meter"} + kx3(), 1, "Błąd odbioru danych (rejestr 0)\n"},
        {QStringList{"write", file, "--sim-fault=no-ack", "--eeprom"} + kx3(), 1,
         "Błąd nadawania danych (rejestr 0): brak potwierdzenia zapisu\n"},
        // KX-2 and KX-4 number their registers in hexadecimal, marked as such.
        {QStringList{"read", "-o", out, "--force", "--sim-fault", "no-meter"} + kx2(), 1, "Błąd odbioru danych (rejestr 0h)\n"},
        {QStringList{"measure", "--count", "1", "--sim-fault", "no-meter"} + kx3(), 1, "Błąd odbioru danych\n"},
        // A reply too short for one number is no value.
        {QStringList{"read", "-o", out, "--sim-fault", "bad-length=-6"} + kx3(), 1, "Błąd odbioru danych (rejestr 0)\n"},
        {QStringList{"card-test", "--card-address", "20h"}, 2, "Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h)"},
        {QStringList{"frob"}, 2, "Nieznane polecenie: frob"},
        {QStringList{"read", "-o"}, 2, "Brak wartości opcji -o"},
        {QStringList{"write", missing} + kx3(), 2, "Nie można wczytać pliku"},
        {QStringList{"write", file, "--model", "KX-4"}, 2, "Plik " + file + " ma rozszerzenie modelu KX-3, a wybrany jest miernik KX-4."},
        {QStringList{"verify", asKx2} + kx3(), 2, "ma rozszerzenie modelu KX-2, a wybrany jest miernik KX-3."},
        {QStringList{"write", asKx2, "--force"} + kx3(), 0, ""},
        {QStringList{"read", "-o", path("nowy.KX2")} + kx3(), 2, "ma rozszerzenie modelu KX-2, a wybrany jest miernik KX-3."},
        // Neither written over nor read: a FIFO would block the command for ever.
        {QStringList{"read", "-o", fifo} + kx3(), 2, "Nie można zapisać pliku " + fifo + ": to jest potok (FIFO)"},
        {QStringList{"verify", fifo} + kx3(), 2, "Nie można wczytać pliku " + fifo + ": to jest potok (FIFO)"},
        {QStringList{"card-test", "--trace", path("no/such/bus.log")}, 2, "Nie można zapisać pliku " + path("no/such/bus.log") + ": folder " + path("no") + " nie istnieje"},
        {QStringList{"print", file, "--pdf", path("no/such/r.pdf")} + kx3(), 2, "Nie można zapisać pliku"},
        {QStringList{"read", "-o", out, "--card", "port"} + kx3(), 3, "port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        // A failed read must leave an earlier file of that name alone.
        ASSERT_TRUE(writeBytes(out, "old"));
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_EQ(r.out, QString());
        EXPECT_EQ(readBytes(out), QByteArray("old"));
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("no"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("nowy.KX2"))));
    ASSERT_EQ(cli(QStringList{"read", "-o", path("nowy.KX2"), "--force"} + kx3()).code, 0);
}

// A full disk, as `ulimit -f` makes it: every command that writes a file
// fails with exit 2 and the reason, and the files written before stay whole.
TEST_F(CliProcess, FullDiskFailsEveryWriteAndKeepsTheOldFiles)
{
    const QString file = storedFixture();
    const QString state = path(QStringLiteral("sim.txt"));
    const QByteArray stateBefore = readBytes(state);
    const QString out = path(QStringLiteral("out.KX3"));
    const QString pdf = path(QStringLiteral("r.pdf"));
    ASSERT_TRUE(writeBytes(out, "old"));
    ASSERT_TRUE(writeBytes(pdf, "old"));
    const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

    struct Case {
        QStringList args;
        QString err;
    };
    const Case cases[] = {
        {QStringList{"write", file, "--eeprom"} + kx3(), "Nie można zapisać pliku stanu symulatora " + state},
        {QStringList{"read", "-o", out} + kx3(), "Nie można zapisać pliku " + out},
        {QStringList{"print", file, "--pdf", pdf} + kx3(), "Nie można zapisać pliku " + pdf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        // 512 bytes at most per file; the signal a shell would die of is ignored.
        const CliRun r = cli(QStringList{"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", cliBinary()} + c.args,
                             QStringLiteral("/bin/sh"));
        EXPECT_EQ(r.code, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.err + QStringLiteral(": plik przekracza dopuszczalny rozmiar"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("Zapisano"))) << r.err.toStdString();
    }
    EXPECT_EQ(readBytes(state), stateBefore);
    EXPECT_EQ(readBytes(out), QByteArray("old"));
    EXPECT_EQ(readBytes(pdf), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
}

TEST_F(CliProcess, PrintLaysOutThePdf)
{
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";

    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    // Without QT_QPA_PLATFORM the program chooses the offscreen platform itself.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    environment = env;
    // As under cron or sudo: no XDG_RUNTIME_DIR, and nothing said of it.
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment = env;
    const QString pdf = path(QStringLiteral("raport.pdf"));
    const CliRun r = cli(QStringList{QStringLiteral("print"), file, QStringLiteral("--pdf"), pdf} + kx3());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QString());

    QProcess info;
    info.start(pdfinfo, {pdf});
    ASSERT_TRUE(info.waitForFinished(60000));
    const QString text = QString::fromUtf8(info.readAllStandardOutput());
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(Pages:\s+4\n)")).match(text).hasMatch()) << text.toStdString();
}

TEST_F(CliProcess, MeasurePrintsOneLabelledLinePerRefresh)
{
    const CliRun r = cli(QStringList{QStringLiteral("measure"), QStringLiteral("--count"), QStringLiteral("2")} + kx3());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    // The file format's numbers: a point, never a comma, whatever the locale.
    const QString n = QStringLiteral(R"(-?(\d+|\d*\.\d+)(E[+-]\d{2,})?)");
    const QRegularExpression line(QStringLiteral("^Pomiar Nr 1: %1; Pomiar Nr 2: %1; Pomiar Nr 3: %1; Pomiar Nr 4: %1; "
                                                 "Funkcja Nr 1: %1; Bilans Nr 1: %1$")
                                      .arg(n));
    for (const QString& l : lines)
        EXPECT_TRUE(line.match(l).hasMatch()) << l.toStdString();
}

TEST_F(CliProcess, LinkDefaultsComeFromVardelCfgWhichStaysUntouched)
{
    // A copy of the program in a folder of its own, with its own settings:
    // KX-2 at meter address 1, and the KX-2 registers moved to 600.
    const QString programDir = path(QStringLiteral("prog"));
    ASSERT_TRUE(QDir().mkpath(programDir));
    const QString program = programDir + QStringLiteral("/vardel-cli");
    ASSERT_TRUE(QFile::copy(cliBinary(), program));
    ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray cfg(" 832 \r\n 0 \r\n 1 \r\n 0 \r\n 4 \r\n 1 \r\n 600 \r\n 633 \r\n 3801 \r\n");
    ASSERT_TRUE(writeBytes(programDir + QStringLiteral("/Vardel.cfg"), cfg));

    const QString out = path(QStringLiteral("out.KX2"));
    const CliRun r = cli({QStringLiteral("read"), QStringLiteral("-o"), out, QStringLiteral("--trace=-")}, program, false);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.section(QLatin1Char('\n'), 0, 0).contains(QStringLiteral(" TX 01 02 58 06 RX "))) << r.err.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 64);
    EXPECT_EQ(readBytes(out).count("\r\n"), 6 + 64 + 2 + 2);

    EXPECT_EQ(readBytes(programDir + QStringLiteral("/Vardel.cfg")), cfg);
    QStringList files = QDir(programDir).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    EXPECT_EQ(files, QStringList({QStringLiteral("Vardel.cfg"), QStringLiteral("vardel-cli")}));

    // A card address below 100h there is refused as on the command line.
    ASSERT_TRUE(writeBytes(programDir + QStringLiteral("/Vardel.cfg"),
                           " 32 \r\n 0 \r\n 1 \r\n 0 \r\n 4 \r\n 1 \r\n 600 \r\n 633 \r\n 3801 \r\n"));
    const CliRun refused = cli({QStringLiteral("card-test")}, program, false);
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("Adres karty 20h z pliku Vardel.cfg"))) << refused.err.toStdString();

    // Values the card cannot take are named, as a model outside the family
    // is; an option in their place makes the file's value irrelevant.
    struct Case {
        QByteArray cfg;
        QString err;
        QString option;
    };
    const Case cases[] = {
        {" 832 \r\n 0 \r\n 1 \r\n 0 \r\n 9 \r\n 1 \r\n 600 \r\n 633 \r\n 3801 \r\n",
         "Nieprawidłowy kod prędkości transmisji (Vardel.cfg podaje 9); użyj --baud 1200|2400|4800|9600|19200|38400.\n",
         "--baud=19200"},
        {" 832 \r\n 0 \r\n 257 \r\n 0 \r\n 4 \r\n 1 \r\n 600 \r\n 633 \r\n 3801 \r\n",
         "Nieprawidłowy adres sieciowy miernika (Vardel.cfg podaje 257); użyj --meter-address 0..255.\n",
         "--meter-address=1"},
        {" 832 \r\n -1 \r\n 1 \r\n 0 \r\n 4 \r\n 1 \r\n 600 \r\n 633 \r\n 3801 \r\n",
         "Nieprawidłowy adres sieciowy master-a (Vardel.cfg podaje -1); użyj --master-address 0..255.\n",
         "--master-address=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option.toStdString());
        ASSERT_TRUE(writeBytes(programDir + QStringLiteral("/Vardel.cfg"), c.cfg));
        const CliRun bad = cli({QStringLiteral("read"), QStringLiteral("-o"), out}, program, false);
        EXPECT_EQ(bad.code, 2);
        EXPECT_EQ(bad.err, c.err);
        const CliRun given = cli({QStringLiteral("read"), QStringLiteral("-o"), out, c.option}, program, false);
        EXPECT_EQ(given.code, 0) << given.err.toStdString();
        // card-test loads no link parameters: they do not matter to it.
        EXPECT_EQ(cli({QStringLiteral("card-test")}, program, false).code, 0);
    }
}

// A bench script's second program on the card in use: refused at once with
// the holder's PID, or, with --wait, queued until the card is free.
TEST_F(CliProcess, OneProgramAtATimePerCard)
{
    auto holder = start(QStringList{QStringLiteral("measure")} + kx3());
    ASSERT_TRUE(holder->waitForReadyRead(60000)) << "measure has the card once it prints";
    const QString busy =
        QStringLiteral("Karta interfejsu 340h jest używana przez inny program (PID %1).").arg(holder->processId());

    CliRun r = cli({QStringLiteral("card-test")});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, busy + QLatin1Char('\n'));
    EXPECT_EQ(r.out, QString());

    // A bounded wait gives up with the same code.
    r = cli({QStringLiteral("card-test"), QStringLiteral("--wait=0,3")});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, busy + QStringLiteral(" Czekam, aż ją zwolni.\n") + busy + QStringLiteral(" Nie zwolnił jej w ciągu 0,3 s.\n"));

    auto waiter = start({QStringLiteral("card-test"), QStringLiteral("--wait")});
    auto given_up = start({QStringLiteral("card-test"), QStringLiteral("--wait")});
    waiter->setReadChannel(QProcess::StandardError);
    given_up->setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(waiter->waitForReadyRead(60000));
    EXPECT_TRUE(QString::fromUtf8(waiter->readAllStandardError()).startsWith(busy + QStringLiteral(" Czekam, aż ją zwolni.")));
    // Ctrl+C ends a wait like any other.
    ASSERT_TRUE(given_up->waitForReadyRead(60000));
    ::kill(static_cast<pid_t>(given_up->processId()), SIGINT);
    EXPECT_EQ(finish(*given_up).code, 130);
    EXPECT_EQ(waiter->state(), QProcess::Running);

    holder->terminate();
    EXPECT_EQ(finish(*holder).code, 143);
    r = finish(*waiter);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("4h\n"));
}

// A production line: four programs store four meters at once, round after
// round, each queued with --wait. Every store reported is in the EEPROM.
TEST_F(CliProcess, ConcurrentEepromStoresToDifferentMetersAreAllKept)
{
    QByteArray state = "[karta]\r\nadres=832\r\n";
    for (int m = 1; m <= 4; ++m)
        state += "[miernik]\r\nmodel=KX-2\r\nadres=" + QByteArray::number(m) + "\r\nbaud=4\r\n";
    ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), state));
    // A KX-2 file that tells meter and round apart in register 5.
    const auto fileFor = [this](int meter, int round) {
        ConfigFixture f;
        f.fields = QStringList(6, QString());
        f.values = QStringList(64, QStringLiteral(" 0"));
        f.values[5] = QStringLiteral(" %1").arg(meter * 100 + round);
        f.values[51] = QStringLiteral(" 4"); // the meters' own baud code, transmit check and response time
        f.values[52] = QStringLiteral(" 1");
        f.values[53] = QStringLiteral(" 20");
        const QString file = path(QStringLiteral("m%1r%2.KX2").arg(meter).arg(round));
        EXPECT_TRUE(writeBytes(file, f.bytes()));
        return file;
    };
    const auto meterArgs = [](int meter) {
        return QStringList{QStringLiteral("--model=KX-2"), QStringLiteral("--meter-address=%1").arg(meter)};
    };

    constexpr int kRounds = 3;
    for (int round = 1; round <= kRounds; ++round) {
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int m = 1; m <= 4; ++m)
            writers.push_back(start(QStringList{QStringLiteral("write"), fileFor(m, round), QStringLiteral("--eeprom"),
                                                QStringLiteral("--wait")} + meterArgs(m)));
        for (auto& w : writers) {
            const CliRun r = finish(*w);
            EXPECT_EQ(r.code, 0) << r.err.toStdString();
            EXPECT_TRUE(r.err.endsWith(QStringLiteral("Wysłano polecenie zapisu w pamięci EEPROM (miernik go nie potwierdza).\n")));
        }
    }
    for (int m = 1; m <= 4; ++m) {
        SCOPED_TRACE(m);
        const QString back = path(QStringLiteral("back%1.KX2").arg(m));
        const CliRun r = cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), back} + meterArgs(m));
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(readBytes(back), readBytes(fileFor(m, kRounds)));
    }
}

// Ctrl+C or SIGTERM while a command waits on a slow meter: it ends at once
// with 130 or 143 and leaves nothing behind, neither its output nor a
// temporary file nor a store.
TEST_F(CliProcess, SignalEndsABlockedCommandAndLeavesNoFile)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    struct Case {
        QStringList args;
        int signal;
        int code;
    };
    const Case cases[] = {
        {QStringList{QStringLiteral("read"), QStringLiteral("-o"), path(QStringLiteral("out.KX3"))} + kx3(), SIGTERM, 143},
        {QStringList{QStringLiteral("write"), file, QStringLiteral("--eeprom")} + kx3(), SIGINT, 130},
        // The terminal or the ssh session closed: as SIGTERM, not a death.
        {QStringList{QStringLiteral("write"), file, QStringLiteral("--eeprom")} + kx3(), SIGHUP, 129},
    };
    const QString lock = path(QStringLiteral("sim.txt.lock"));
    // The meters' state is there before: what a stopped write left in a
    // meter's RAM goes into it, as power stays on.
    ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), "[karta]\r\nadres=832\r\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        auto p = start(c.args + QStringList{QStringLiteral("--sim-fault"), QStringLiteral("slow-reply=140000")});
        // The card is locked once the command has started.
        for (int i = 0; i < 3000 && !QFileInfo::exists(lock); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(QFileInfo::exists(lock));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(static_cast<pid_t>(p->processId()), c.signal);
        const CliRun r = finish(*p);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, QString());
        EXPECT_EQ(r.err, QString()) << "a stop is not a link error";
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    }
}

TEST_F(CliProcess, ScanFindsEveryMeterWithItsModelAndWritesNothing)
{
    // The factory network, and a fourth meter whose registers do not fit the
    // address and rate it answers at (its RAM was given another address that
    // was never stored): its model cannot be told.
    const QByteArray state = "[miernik]\r\nmodel=KX-2\r\nadres=1\r\nbaud=4\r\n"
                             "[miernik]\r\nmodel=KX-3\r\nadres=2\r\nbaud=4\r\n"
                             "[miernik]\r\nmodel=KX-4\r\nadres=3\r\nbaud=4\r\n"
                             "[miernik]\r\nmodel=KX-3\r\nadres=5\r\nbaud=3\r\nram.r0=7\r\n";
    ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), state));
    const QString trace = path(QStringLiteral("bus.log"));
    const CliRun r = cli({QStringLiteral("scan"), QStringLiteral("--bauds"), QStringLiteral("9600,19200"),
                          QStringLiteral("--addresses=1-5"), QStringLiteral("--trace"), trace});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("5 9600 nieznany\n"
                                    "1 19200 KX-2\n"
                                    "2 19200 KX-3\n"
                                    "3 19200 KX-4\n"));
    EXPECT_EQ(r.err, QString());

    // Only read requests went out, one probe per address and rate.
    const QStringList lines = QString::fromLatin1(readBytes(trace)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_GE(lines.size(), 10);
    for (const QString& l : lines)
        EXPECT_TRUE(l.contains(QStringLiteral(" TX 01 "))) << l.toStdString();
    EXPECT_EQ(readBytes(path(QStringLiteral("sim.txt"))), state);
}

TEST_F(CliProcess, ScanWithoutAnswerEndsWithCode1)
{
    struct Case {
        QStringList args;
        QString err;
    };
    const Case cases[] = {
        {{"scan", "--bauds", "19200", "--addresses", "10-11"}, "Żaden miernik nie odpowiedział.\n"},
        {{"scan", "--sim-fault", "dead-card"}, "Karta interfejsu nie zgłasza gotowości"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, QString());
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
    }
}

// One fault, one line: a card that is not ready is said once, not followed by
// a transmit error of an exchange that was never tried; card-test prints the
// status as ever, and fails.
TEST_F(CliProcess, ADeadCardIsOneLineAndFailsTheCardTest)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QString dead = QStringLiteral("Karta interfejsu nie zgłasza gotowości (status FFh).\n");
    struct Case {
        QStringList args;
        QString out;
    };
    const Case cases[] = {
        {{"read", "-o", path("out.KX3")}, ""},
        {{"write", file, "--eeprom"}, ""},
        {{"verify", file}, ""},
        {{"measure", "--format=csv"}, ""},
        {{"reset-meter"}, ""},
        {{"scan", "--addresses=1-2"}, ""},
        {{"program", file, "--addresses=1-2"}, ""},
        {{"card-test"}, "FFh\n"},
        {{"card-reset"}, "FFh\n"},
        {{"card-test", "--format=json"}, "{\"status\":255,\"ready\":false}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(c.args + kx3() + QStringList{QStringLiteral("--sim-fault=dead-card")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, dead);
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out.KX3"))));
    const CliRun ready = cli({QStringLiteral("card-reset")});
    EXPECT_EQ(ready.code, 0) << ready.err.toStdString();
    EXPECT_EQ(ready.out, QStringLiteral("4h\n"));
}

// What a production line's script reads: with --format json one JSON object
// per line, with --format csv a header and one row per result, the same
// fields in the same order, numbers as numbers; stdout carries nothing else.
TEST_F(CliProcess, ResultsForProgramsAreJsonAndCsvWithTheSameFields)
{
    const QString file = storedFixture();
    ConfigFixture changed = fixture;
    changed.values[7] = QStringLiteral(" .5");
    changed.values[99] = QStringLiteral("-1");
    const QString other = path(QStringLiteral("changed.KX3"));
    ASSERT_TRUE(writeBytes(other, changed.bytes()));
    changed.fields[0] = QStringLiteral("Nr 13; \"B\"");
    changed.customer = QStringLiteral("Zakład Łódź\r\nul. Krótka 2");
    const QString third = path(QStringLiteral("third.KX3"));
    ASSERT_TRUE(writeBytes(third, changed.bytes()));

    struct Case {
        QStringList args;
        int code;
        QStringList fields;
        int records;
    };
    const Case cases[] = {
        {{"card-test"}, 0, {"status", "ready"}, 1},
        {{"card-reset"}, 0, {"status", "ready"}, 1},
        {{"scan", "--bauds=19200", "--addresses=1-3"}, 0, {"address", "baud", "model"}, 3},
        {QStringList{"verify", other} + kx3(), 4, {"register", "register_label", "file", "meter"}, 2},
        {QStringList{"verify", file} + kx3(), 0, {"register", "register_label", "file", "meter"}, 0},
        {QStringList{"write", other, "--verify"} + kx3(), 0, {"register", "register_label", "file", "meter"}, 0},
        {{"diff", other, third}, 4, {"register", "register_label", "name", "a", "b"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliRun json = cli(c.args + QStringList{QStringLiteral("--format=json")});
        const CliRun csv = cli(c.args + QStringList{QStringLiteral("--format"), QStringLiteral("csv")});
        EXPECT_EQ(json.code, c.code) << json.err.toStdString();
        EXPECT_EQ(csv.code, c.code) << csv.err.toStdString();
        EXPECT_EQ(json.err, csv.err);

        const QStringList objects = json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList rows = csv.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(objects.size(), c.records) << json.out.toStdString();
        ASSERT_EQ(rows.size(), c.records + 1) << csv.out.toStdString();
        EXPECT_EQ(rows[0].split(QLatin1Char(';')), c.fields);
        for (int i = 0; i < c.records; ++i) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(objects[i].toUtf8(), &error);
            ASSERT_EQ(error.error, QJsonParseError::NoError) << objects[i].toStdString();
            const QJsonObject object = doc.object();
            QStringList keys = object.keys();
            QStringList expected = c.fields;
            keys.sort();
            expected.sort();
            EXPECT_EQ(keys, expected);
            EXPECT_TRUE(objects[i].startsWith(QStringLiteral("{\"%1\":").arg(c.fields[0]))) << "fields in order";
            // The same values, a number where the row holds a number.
            const QStringList row = csvFields(rows[i + 1]);
            ASSERT_EQ(row.size(), c.fields.size()) << rows[i + 1].toStdString();
            for (int f = 0; f < c.fields.size(); ++f) {
                const QJsonValue value = object.value(c.fields[f]);
                bool number = false;
                const double n = row[f].toDouble(&number);
                if (value.isDouble()) {
                    EXPECT_TRUE(number) << row[f].toStdString();
                    EXPECT_EQ(value.toDouble(), n);
                } else if (value.isNull()) {
                    EXPECT_EQ(row[f], QString());
                } else if (value.isBool()) {
                    EXPECT_EQ(row[f], value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
                } else {
                    EXPECT_EQ(row[f], value.toString().replace(QLatin1Char('\n'), QStringLiteral("\\n")));
                }
            }
        }
    }

    // The values themselves, as scripts see them. The write --verify above
    // left `other` in the meter's RAM; a reset brings back what its EEPROM
    // holds, the stored fixture.
    ASSERT_EQ(cli(QStringList{QStringLiteral("reset-meter")} + kx3()).code, 0);
    CliRun r = cli(QStringList{QStringLiteral("verify"), other, QStringLiteral("--format=json")} + kx3());
    EXPECT_EQ(r.out, QStringLiteral("{\"register\":7,\"register_label\":\"7\",\"file\":0.5,\"meter\":65535}\n"
                                    "{\"register\":99,\"register_label\":\"99\",\"file\":-1,\"meter\":25}\n"));
    r = cli({QStringLiteral("diff"), other, third, QStringLiteral("--format=csv")});
    EXPECT_EQ(r.out, QStringLiteral("register;register_label;name;a;b\n"
                                    ";;Numer seryjny miernika;Nr 12/2026;\"Nr 13; \"\"B\"\"\"\n"
                                    ";;Dane odbiorcy;Zakład Łódź\\nul. Długa 1;Zakład Łódź\\nul. Krótka 2\n"));
    r = cli({QStringLiteral("diff"), other, other, QStringLiteral("--format=json")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QStringLiteral("Zgodność: wszystkie 100 rejestrów i pola opisu\n"));
}

// A production line: one configuration into every meter of a range, each
// meter keeping its own address, one failing meter not stopping the rest,
// and one record per meter in the log, whose header comes once.
TEST_F(CliProcess, ProgramWritesEveryMeterKeepingItsOwnLinkAndRecordsEach)
{
    // KX-3s at 1..3, a KX-2 at 4, nobody at 5, a KX-3 that acknowledges no
    // write at 6 and one that drops the EEPROM store at 7.
    QByteArray state;
    for (const char* section : {"model=KX-3\r\nadres=1", "model=KX-3\r\nadres=2", "model=KX-3\r\nadres=3",
                                "model=KX-2\r\nadres=4", "model=KX-3\r\nadres=6\r\nusterki=no-ack",
                                "model=KX-3\r\nadres=7\r\nusterki=no-store"})
        state += QByteArray("[miernik]\r\n") + section + "\r\nbaud=4\r\n";
    ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), state));
    const QString file = path(QStringLiteral("linia.KX3")); // address 2 in register 0
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QString log = path(QStringLiteral("linia.csv"));

    const QString stored = QStringLiteral(" — Zapisano konfigurację w pamięci EEPROM miernika (sprawdzono po resecie).");
    CliRun r = cli({QStringLiteral("program"), file, QStringLiteral("--addresses=1-7"), QStringLiteral("--eeprom"),
                    QStringLiteral("--verify"), QStringLiteral("--log"), log});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, QString());
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 10) << r.out.toStdString();
    EXPECT_EQ(lines.mid(0, 6), QStringList({QStringLiteral("Adres 1 (KX-3): zaprogramowano") + stored,
                                            QStringLiteral("Adres 2 (KX-3): zaprogramowano") + stored,
                                            QStringLiteral("Adres 3 (KX-3): zaprogramowano") + stored,
                                            QStringLiteral("Adres 4 (KX-2): inny model niż w pliku (KX-3), nie zapisano"),
                                            QStringLiteral("Adres 5: brak odpowiedzi"),
                                            QStringLiteral("Adres 6 (KX-3): nie zaprogramowano — Błąd nadawania danych "
                                                           "(rejestr 0): brak potwierdzenia zapisu")}));
    EXPECT_TRUE(lines[6].startsWith(QStringLiteral("Adres 7 (KX-3): po zapisie różnice w rejestrach 4, 5,")))
        << lines[6].toStdString();
    EXPECT_TRUE(lines[6].endsWith(QStringLiteral(" — Miernik wrócił do poprzedniej konfiguracji z pamięci EEPROM — "
                                                 "zapis w EEPROM się nie udał.")))
        << lines[6].toStdString();
    // The summary counts each result and names the meters to run again.
    EXPECT_EQ(lines.mid(7), QStringList({QStringLiteral("Zaprogramowano 3 z 7 mierników."),
                                         QStringLiteral("Wyniki: ok 3, other-model 1, no-answer 1, write 1, differs 1."),
                                         QStringLiteral("Do powtórzenia: --addresses 4-7")}));

    // Meter 3 keeps its own address: the file's 2 never reached register 0.
    r = cli(QStringList{QStringLiteral("verify"), file, QStringLiteral("--model=KX-3"), QStringLiteral("--meter-address=3")});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, QStringLiteral("Rejestr 0: w pliku 2, w mierniku 3\n"));

    // Appended: one header, then the records of both runs.
    r = cli({QStringLiteral("program"), file, QStringLiteral("--addresses=2"), QStringLiteral("--log=") + log,
             QStringLiteral("--format=json")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("Zaprogramowano 1 z 1 miernika.\nWyniki: ram-only 1.\n"));
    QJsonParseError error;
    const QJsonObject printed = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    EXPECT_EQ(printed.value(QStringLiteral("address")).toInt(), 2);
    EXPECT_EQ(printed.value(QStringLiteral("result")).toString(), QStringLiteral("ram-only")) << "not proven: not ok";

    const QString sha256 = QString::fromLatin1(QCryptographicHash::hash(fixture.bytes(), QCryptographicHash::Sha256).toHex());
    const QStringList rows = QString::fromUtf8(readBytes(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 1 + 7 + 1);
    EXPECT_EQ(csvFields(rows[0]), QStringList({QStringLiteral("time"), QStringLiteral("address"), QStringLiteral("model"),
                                               QStringLiteral("file"), QStringLiteral("sha256"), QStringLiteral("result"),
                                               QStringLiteral("differences"), QStringLiteral("message")}));
    const QStringList results{QStringLiteral("ok"),        QStringLiteral("ok"),        QStringLiteral("ok"),
                              QStringLiteral("other-model"), QStringLiteral("no-answer"), QStringLiteral("write"),
                              QStringLiteral("differs"),   QStringLiteral("ram-only")};
    const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)"));
    for (int i = 1; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].toStdString());
        const QStringList f = csvFields(rows[i]);
        ASSERT_EQ(f.size(), 8);
        EXPECT_TRUE(stamp.match(f[0]).hasMatch());
        EXPECT_EQ(f[1], QString::number(i == 8 ? 2 : i));
        EXPECT_EQ(f[3], QFileInfo(file).absoluteFilePath());
        EXPECT_EQ(f[4], sha256);
        EXPECT_EQ(f[5], results[i - 1]);
        EXPECT_EQ(f[6].isEmpty(), f[5] != QLatin1String("differs"));
    }
    EXPECT_EQ(csvFields(rows[4])[2], QStringLiteral("KX-2"));
    EXPECT_EQ(csvFields(rows[5])[2], QString()); // nobody answered

    // JSON lines by the log's extension, every line an object.
    const QString jsonLog = path(QStringLiteral("linia.jsonl"));
    r = cli({QStringLiteral("program"), file, QStringLiteral("--addresses=4-5"), QStringLiteral("--log"), jsonLog});
    EXPECT_EQ(r.code, 1);
    const QList<QByteArray> objects = readBytes(jsonLog).split('\n');
    ASSERT_EQ(objects.size(), 3);
    EXPECT_TRUE(objects[2].isEmpty());
    for (int i = 0; i < 2; ++i) {
        const QJsonObject o = QJsonDocument::fromJson(objects[i], &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << objects[i].toStdString();
        EXPECT_EQ(o.keys().size(), 8);
        EXPECT_EQ(o.value(QStringLiteral("address")).toInt(), 4 + i);
    }
}

// Meters that passed for a KX-3 in the KX-3's layout: a KX-4 at address 0,
// 1200 baud, transmit check 0 (the layout lies outside its configuration and
// reads 0), and a KX-2 whose scaling registers hold 1 and 4 (its registers
// 8-10 are the KX-3's 0-2). Each is its own model, and nothing is written.
TEST_F(CliProcess, ProgramWritesNothingIntoAMeterThatOnlyLooksLikeItsModel)
{
    const QByteArray state = "[miernik]\r\nmodel=KX-4\r\nadres=0\r\nbaud=0\r\nr171=0\r\n"
                             "[miernik]\r\nmodel=KX-2\r\nadres=1\r\nbaud=4\r\nr8=1\r\nr9=4\r\n";
    ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), state));
    const QString file = path(QStringLiteral("linia.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    struct Case {
        QStringList link;
        QString found;
    };
    const Case cases[] = {
        {{"--addresses", "0", "--baud", "1200", "--transmit-check", "0"}, "0 1200 KX-4"},
        {{"--addresses", "1", "--baud", "19200", "--transmit-check", "1"}, "1 19200 KX-2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.found.toStdString());
        // The run's own baud rate and transmit check, none of the fixed ones.
        const QStringList card{QStringLiteral("--card-address=340h"), QStringLiteral("--master-address=0")};
        CliRun r = cli(QStringList{QStringLiteral("scan"), QStringLiteral("--bauds"), c.link[3]} + c.link.mid(0, 2)
                           + c.link.mid(4) + card,
                       cliBinary(), false);
        EXPECT_EQ(r.out, c.found + QLatin1Char('\n'));
        r = cli(QStringList{QStringLiteral("program"), file, QStringLiteral("--eeprom")} + c.link + card, cliBinary(), false);
        EXPECT_EQ(r.code, 1);
        const QString model = c.found.section(QLatin1Char(' '), 2);
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Adres %1 (%2): inny model niż w pliku (KX-3), nie zapisano\n")
                                         .arg(c.link[1], model)))
            << r.out.toStdString();
    }
    EXPECT_EQ(readBytes(path(QStringLiteral("sim.txt"))), state);
}

// What the write said on the way stands in the meter's line sentence by
// sentence, and a history folder that cannot be made says why.
TEST_F(CliProcess, ProgramSaysEachMessageOfAMeterAsASentenceWithItsReason)
{
    const QString file = path(QStringLiteral("linia.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QString history = path(QStringLiteral("historia-symulatora"));
    ASSERT_TRUE(writeBytes(history, "w drodze"));
    const CliRun r = cli({QStringLiteral("program"), file, QStringLiteral("--addresses=2"), QStringLiteral("--eeprom")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Adres 2 (KX-3): zaprogramowano — Nie można utworzyć folderu historii "
                                                "konfiguracji %1: to nie jest folder. Zapisano konfigurację "
                                                "w pamięci EEPROM miernika (sprawdzono po resecie).\n")
                                     .arg(history)))
        << r.out.toStdString();
}

TEST_F(CliProcess, ProgramRefusesWhatItCannotRecordOrWrite)
{
    const QString file = path(QStringLiteral("linia.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    struct Case {
        QStringList args;
        QString err;
    };
    const Case cases[] = {
        {{"program", file, "--addresses=2", "--log", path("linia.txt")},
         QStringLiteral("Plik dziennika %1 musi mieć rozszerzenie .csv (CSV) albo .jsonl (JSON, obiekt na wiersz).\n")
             .arg(path("linia.txt"))},
        {{"program", file, "--addresses=2", "--log", path("brak/linia.csv")},
         QStringLiteral("Nie można zapisać pliku %1: ").arg(path("brak/linia.csv"))},
        {{"program", file, "--addresses=2", "--model=KX-2"},
         QStringLiteral("Plik %1 ma rozszerzenie modelu KX-3, a wybrany jest miernik KX-2.").arg(file)},
        {{"program", path("brak.KX3"), "--addresses=2"}, QStringLiteral("Nie można wczytać pliku %1").arg(path("brak.KX3"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, QString());
        EXPECT_TRUE(r.err.startsWith(c.err)) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("linia.txt"))));
}

TEST_F(CliProcess, WriteVerifyProvesWhatTheMeterKeeps)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    struct Case {
        QStringList args;
        int code;
        QString out;
        QString err;
    };
    const QString match = QStringLiteral("Zgodność: wszystkie 100 rejestrów\n");
    const Case cases[] = {
        {QStringList{"write", file, "--verify"}, 0, match, ""},
        // RAM holds what was written, whatever became of the store...
        {QStringList{"write", file, "--verify", "--sim-fault=no-store"}, 0, match, ""},
        // ...but after the reset the meter runs on what its EEPROM kept:
        // said in one sentence, not as a list of registers.
        {QStringList{"write", file, "--eeprom", "--verify", "--sim-fault=no-store"}, 4, "",
         "Miernik wrócił do poprzedniej konfiguracji z pamięci EEPROM — zapis w EEPROM się nie udał.\n"},
        {QStringList{"write", file, "--eeprom", "--verify"}, 0, match,
         "Zapisano konfigurację w pamięci EEPROM miernika (sprawdzono po resecie).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(c.args + kx3());
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

// The issue's file: a KX-3 configuration read at 2 / 19200, given address 7
// and baud code 3. Written and stored it would move the meter to 7 / 9600.
TEST_F(CliProcess, WriteThatMovesTheMeterIsRefusedUnlessAskedAndThenFollowsIt)
{
    ConfigFixture moved = fixture;
    moved.values[0] = QStringLiteral(" 7");
    moved.values[1] = QStringLiteral(" 3");
    const QString file = path(QStringLiteral("moved.KX3"));
    ASSERT_TRUE(writeBytes(file, moved.bytes()));
    const QStringList args{QStringLiteral("write"), file, QStringLiteral("--eeprom"), QStringLiteral("--verify")};

    CliRun r = cli(args + kx3());
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QStringLiteral("Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w pliku 7\n"
                                    "Rejestr 1 (Prędkość transmisji (kod)): w mierniku 4 (19200 bodów), w pliku 3 (9600 bodów)\n"
                                    "Zapis zmieniłby łącze miernika. Użyj --change-link, aby mimo to zapisać.\n"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("sim.txt")))) << "nothing reached the meter";

    r = cli(args + kx3() + QStringList{QStringLiteral("--change-link")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Zgodność: wszystkie 100 rejestrów\n"));
    EXPECT_EQ(r.err, QStringLiteral("Zapisano konfigurację w pamięci EEPROM miernika (sprawdzono po resecie).\n"
                                    "Miernik odpowiada teraz pod adresem 7 z prędkością 9600 bodów.\n"));

    // The next program finds the meter there, and only there.
    const auto readAt = [this](const QString& address, const QString& baud) {
        return cli({QStringLiteral("read"), QStringLiteral("-o"), path(QStringLiteral("back.KX3")), QStringLiteral("--model=KX-3"),
                    QStringLiteral("--meter-address=") + address, QStringLiteral("--baud=") + baud,
                    QStringLiteral("--transmit-check=1")},
                   cliBinary(), false);
    };
    EXPECT_EQ(readAt(QStringLiteral("2"), QStringLiteral("19200")).code, 1);
    EXPECT_EQ(readAt(QStringLiteral("7"), QStringLiteral("9600")).code, 0);
    ConfigFixture registersOnly = moved;
    registersOnly.fields = QStringList(6, QString());
    registersOnly.customer.clear();
    registersOnly.remarks.clear();
    EXPECT_EQ(readBytes(path(QStringLiteral("back.KX3"))), registersOnly.bytes()) << "the registers as written";

    // A value no meter can take is refused whatever the options say.
    moved.values[1] = QStringLiteral(" 9");
    ASSERT_TRUE(writeBytes(file, moved.bytes()));
    r = cli(QStringList{QStringLiteral("write"), file, QStringLiteral("--change-link")} + kx3());
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Rejestr 1 (Prędkość transmisji (kod)): w pliku 9, a miernik przyjmuje "
                                              "tylko liczby całkowite od 0 do 5")))
        << r.err.toStdString();
}

// A meter that answers late: the link's usual wait misses it, the response
// time given reaches it, and a configuration that would make a meter answer
// later than the link waits is never written.
TEST_F(CliProcess, AMeterThatAnswersLateStaysWithinReach)
{
    ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), "[miernik]\r\nmodel=KX-3\r\nadres=2\r\nr3=800\r\n"));
    const QStringList measure{QStringLiteral("measure"), QStringLiteral("--count=1")};
    const QStringList scan{QStringLiteral("scan"), QStringLiteral("--addresses=2"), QStringLiteral("--bauds=19200")};
    const QStringList late{QStringLiteral("--response-time=800")};
    struct Case {
        QStringList args;
        int code;
        QString out; // a prefix
    };
    const Case reach[] = {
        {measure + kx3(), 1, ""},
        {measure + kx3() + late, 0, "Pomiar Nr 1: "},
        {scan, 1, ""},
        {scan + late, 0, "2 19200 KX-3\n"},
    };
    for (const Case& c : reach) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        if (c.out.isEmpty()) {
            EXPECT_EQ(r.out, QString());
        } else {
            EXPECT_TRUE(r.out.startsWith(c.out)) << r.out.toStdString();
        }
    }

    QFile::remove(path(QStringLiteral("sim.txt"))); // the factory's 20 ms meters
    ConfigFixture typo = fixture;
    typo.values[3] = QStringLiteral(" 800");
    const QString file = path(QStringLiteral("typo.KX3"));
    ASSERT_TRUE(writeBytes(file, typo.bytes()));
    const QString refused = QStringLiteral("Czas odpowiedzi 800 ms jest dłuższy niż najdłuższe oczekiwanie łącza przy 19200 "
                                           "bodach (466 ms). Aby czekać dłużej, podaj --response-time.\n");
    const QString written = QStringLiteral("Wysłano polecenie zapisu w pamięci EEPROM (miernik go nie potwierdza).\n"
                                           "Po resecie miernik będzie odpowiadał pod adresem 2 z prędkością 19200 bodów.\n");
    const QString write = QStringLiteral("write");
    const QString eeprom = QStringLiteral("--eeprom");
    const QString changeLink = QStringLiteral("--change-link");
    const struct {
        QStringList args;
        int code;
        QString err;
    } writes[] = {
        {{write, file, eeprom}, 2, refused},
        {{write, file, eeprom, changeLink}, 2, refused},
        {{write, file, eeprom, late[0]}, 2,
         "Rejestr 3 (Czas odpowiedzi miernika [ms]): w mierniku 20, w pliku 800\n"
         "Zapis zmieniłby łącze miernika. Użyj --change-link, aby mimo to zapisać.\n"},
        {{write, file, eeprom, changeLink, late[0]}, 0, written},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.args.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(w.args + kx3());
        EXPECT_EQ(r.code, w.code);
        EXPECT_EQ(r.err, w.err);
    }
}

// Every proof names the meter it proved: no move onto a meter that is there
// already, a reset the meter did not take is caught, and a store lost on the
// way to a new link is told from a lost meter by one look at the old one.
TEST_F(CliProcess, AProofNamesTheMeterItProved)
{
    ConfigFixture moved = fixture;
    moved.values[0] = QStringLiteral(" 3"); // where the factory's KX-4 answers
    const QString ontoKx4 = path(QStringLiteral("onto3.KX3"));
    ASSERT_TRUE(writeBytes(ontoKx4, moved.bytes()));
    moved.values[0] = QStringLiteral(" 7");
    moved.values[1] = QStringLiteral(" 3");
    const QString to7 = path(QStringLiteral("to7.KX3"));
    ASSERT_TRUE(writeBytes(to7, moved.bytes()));
    const QString stay = path(QStringLiteral("stay.KX3"));
    ASSERT_TRUE(writeBytes(stay, fixture.bytes()));

    struct Case {
        const char* what;
        QByteArray state; // empty: the factory network
        QString file;
        QString err;
    };
    const Case cases[] = {
        {"onto another meter", "", ontoKx4,
         "Pod adresem 3 z prędkością 19200 bodów odpowiada już inny miernik (KX-4); miernika nie przeniesiono.\n"},
        {"a reset not taken", "usterki=no-reset", stay,
         "Miernik odpowiedział zaraz po resecie: reset nie został przyjęty.\n"},
        {"a store lost on the way to 7", "usterki=no-store", to7,
         "Miernik wrócił do poprzedniej konfiguracji z pamięci EEPROM — zapis w EEPROM się nie udał.\n"
         "Miernik odpowiada dalej pod adresem 2 z prędkością 19200 bodów.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path(QStringLiteral("sim.txt")));
        if (!c.state.isEmpty()) {
            ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), "[miernik]\r\nmodel=KX-3\r\nadres=2\r\n" + c.state + "\r\n"));
        }
        const CliRun r = cli(QStringList{QStringLiteral("write"), c.file, QStringLiteral("--eeprom"), QStringLiteral("--verify"),
                                         QStringLiteral("--change-link")} + kx3());
        EXPECT_NE(r.code, 0);
        EXPECT_EQ(r.out, QString());
        EXPECT_EQ(r.err, c.err);
    }
}

// A store request gets no answer. It is called done only when the meter,
// restarted from its EEPROM, gives back what was written; the reset waits
// for the store, and a meter that does not come back is named by its step.
TEST_F(CliProcess, StoreIsCalledDoneOnlyWhenProvedAfterTheReset)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QString trace = path(QStringLiteral("bus.log"));
    CliRun r = cli(QStringList{QStringLiteral("write"), file, QStringLiteral("--eeprom"), QStringLiteral("--verify"),
                               QStringLiteral("--trace"), trace} + kx3());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    // After the store: silence while the meter stores, an answer, only then
    // the reset; silence while it starts, then the read-back.
    QStringList outcomes;
    for (const QString& line : QString::fromLatin1(readBytes(trace)).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString what = line.section(QLatin1Char(' '), 2, 2) == QStringLiteral("03") ? QStringLiteral("store")
            : line.contains(QStringLiteral(" TX AA ")) ? QStringLiteral("reset")
            : line.contains(QStringLiteral("reply-timeout")) ? QStringLiteral("silent")
                                                             : QStringLiteral("answer");
        if (outcomes.isEmpty() || outcomes.back() != what)
            outcomes << what;
    }
    EXPECT_EQ(outcomes.mid(1), QStringList({"store", "silent", "answer", "reset", "silent", "answer"}));

    struct Case {
        QByteArray meter; // the KX-3's slowness, in its state file section
        QString err;
    };
    const Case cases[] = {
        {"zapis_ms=100", "Miernik nie odpowiada po poleceniu zapisu w pamięci EEPROM (czekano 4 s); nie wysłano resetu.\n"},
        {"start_ms=20000", "Miernik nie odpowiada po resecie pod adresem 2 z prędkością 19200 bodów (czekano 5 s).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meter.toStdString());
        ASSERT_TRUE(writeBytes(path(QStringLiteral("sim.txt")), "[miernik]\r\nmodel=KX-3\r\nadres=2\r\n" + c.meter + "\r\n"));
        QFile::remove(trace);
        r = cli(QStringList{QStringLiteral("write"), file, QStringLiteral("--eeprom"), QStringLiteral("--verify"),
                            QStringLiteral("--trace"), trace} + kx3());
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, QString());
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(r.err.contains(QStringLiteral("Zapisano")));
        EXPECT_EQ(readBytes(trace).count(" TX AA "), c.meter.startsWith("zapis") ? 0 : 1);
    }
}

// Power stays on between programs: RAM written by one is read by the next,
// until a reset or a power cycle reloads it from the EEPROM.
TEST_F(CliProcess, MeterKeepsItsRamBetweenCommandsUntilResetOrSwitchedOff)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QStringList verify = QStringList{QStringLiteral("verify"), file} + kx3();
    struct Step {
        QStringList before; // what happens to the meter first
        int verifyCode;
    };
    const Step steps[] = {
        {QStringList{QStringLiteral("write"), file} + kx3(), 0},
        {QStringList{QStringLiteral("reset-meter")} + kx3(), 4},
        {QStringList{QStringLiteral("write"), file} + kx3(), 0},
        {QStringList{QStringLiteral("card-test"), QStringLiteral("--sim-fault=power-cycle")}, 4},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.before.join(QLatin1Char(' ')).toStdString());
        const CliRun before = cli(s.before);
        ASSERT_EQ(before.code, 0) << before.err.toStdString();
        EXPECT_EQ(cli(verify).code, s.verifyCode);
    }
}

// What a meter held is never lost: reads and writes go into the history,
// --backup first of all, and a kept file is written back as it is.
// A state file the simulator cannot read (here: larger than it reads) is
// never replaced by factory meters: every command stops with exit code 3
// and the reason, and the file stays as it is.
TEST_F(CliProcess, AStateFileTooLargeStopsEveryCommandAndStaysAsItIs)
{
    const QString state = path(QStringLiteral("sim.txt"));
    {
        QFile f(state);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize((qint64{16} << 20) + 1)); // sparse
    }
    for (const QStringList& command : {QStringList{QStringLiteral("card-test")},
                                       QStringList{QStringLiteral("reset-meter")} + kx3()}) {
        SCOPED_TRACE(command.join(QLatin1Char(' ')).toStdString());
        const CliRun r = cli(command);
        EXPECT_EQ(r.code, 3);
        EXPECT_TRUE(r.err.contains(QStringLiteral("Nie można wczytać pliku stanu symulatora %1: plik jest za duży (ponad 16 MB)")
                                       .arg(QDir::toNativeSeparators(state))))
            << r.err.toStdString();
    }
    EXPECT_EQ(QFileInfo(state).size(), (qint64{16} << 20) + 1);
    EXPECT_FALSE(QFile::exists(state + QStringLiteral(".uszkodzony")));
}

TEST_F(CliProcess, HistoryKeepsEveryConfigurationReadOrWritten)
{
    ASSERT_EQ(cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), path(QStringLiteral("a.KX3"))} + kx3()).code, 0);
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    CliRun r = cli(QStringList{QStringLiteral("write"), file, QStringLiteral("--backup"), QStringLiteral("--eeprom")} + kx3());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();

    r = cli({QStringLiteral("history"), QStringLiteral("--meter-address=2")});
    EXPECT_EQ(r.code, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    const QString folder = QDir(path(QStringLiteral("historia-symulatora"))).absolutePath();
    const QRegularExpression line(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} KX-3 adres 2 (odczyt|zapis) %1/\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d-\d{3}_KX-3_adres-2_\1\.KX3$)")
                                     .arg(QRegularExpression::escape(folder)));
    QStringList kinds;
    for (const QString& l : lines) {
        const QRegularExpressionMatch m = line.match(l);
        EXPECT_TRUE(m.hasMatch()) << l.toStdString();
        kinds << m.captured(1);
    }
    EXPECT_EQ(kinds, QStringList({"zapis", "odczyt", "odczyt"})) << "newest first";
    EXPECT_EQ(readBytes(lines[0].section(QLatin1Char(' '), 6)), fixture.bytes());

    // A filter that matches nothing says so: the history itself is not empty.
    r = cli({QStringLiteral("history"), QStringLiteral("--meter-address=3"), QStringLiteral("--model=KX-3")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err, QStringLiteral("Żadna z zapisanych konfiguracji w %1 nie dotyczy miernika: adres 3, model KX-3.\n").arg(folder));

    // The same entries as records, for a script.
    r = cli({QStringLiteral("history"), QStringLiteral("--format=csv")});
    EXPECT_EQ(r.code, 0);
    const QStringList csv = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), 4) << r.out.toStdString();
    EXPECT_EQ(csv[0], QStringLiteral("time;model;address;kind;file"));
    const QRegularExpression csvLine(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d;KX-3;2;written;%1$)")
                                         .arg(QRegularExpression::escape(lines[0].section(QLatin1Char(' '), 6))));
    EXPECT_TRUE(csvLine.match(csv[1]).hasMatch()) << csv[1].toStdString();
    r = cli({QStringLiteral("history"), QStringLiteral("--format=json"), QStringLiteral("--meter-address=2")});
    EXPECT_EQ(r.code, 0);
    const QStringList json = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(json.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(json[2].startsWith(QStringLiteral("{\"time\":\"")) && json[2].contains(QStringLiteral("\"model\":\"KX-3\",\"address\":2,\"kind\":\"read\",\"file\":\"")))
        << json[2].toStdString();

    // The meter as it was before the write, back from the copy --backup made.
    const QString before = lines[1].section(QLatin1Char(' '), 6);
    ASSERT_EQ(cli(QStringList{QStringLiteral("write"), before} + kx3()).code, 0);
    EXPECT_EQ(cli(QStringList{QStringLiteral("verify"), path(QStringLiteral("a.KX3"))} + kx3()).code, 0);
}

TEST_F(CliProcess, MeasureRecordsCsvAndJsonLines)
{
    const QString stamp = QStringLiteral(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
    const QString n = QStringLiteral(R"(-?\d+(\.\d+)?(E[+-]\d{2,})?)");

    CliRun r = cli(QStringList{QStringLiteral("measure"), QStringLiteral("--count=3"), QStringLiteral("--interval=0.1"),
                               QStringLiteral("--format=csv")} + kx2());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1"));
    const QRegularExpression row(QStringLiteral("^%1;%2;%2;%2;%2$").arg(stamp, n));
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(row.match(lines[i]).hasMatch()) << lines[i].toStdString();

    r = cli(QStringList{QStringLiteral("measure"), QStringLiteral("--count"), QStringLiteral("1"),
                        QStringLiteral("--format"), QStringLiteral("json")} + kx2());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QRegularExpression object(
        QStringLiteral(R"(^\{"Czas":"%1","Pomiar Nr 1":%2,"Pomiar Nr 2":%2,"Funkcja Nr 1":%2,"Bilans Nr 1":%2\}\n$)")
            .arg(stamp, n));
    EXPECT_TRUE(object.match(r.out).hasMatch()) << r.out.toStdString();

    // In Warsaw's time, with its offset from UTC; a spreadsheet in Polish
    // settings gets decimal commas, the separator stays.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Warsaw"));
    environment = env;
    r = cli(QStringList{QStringLiteral("measure"), QStringLiteral("--count=1"), QStringLiteral("--format=csv"),
                        QStringLiteral("--decimal-comma")} + kx2());
    environment.reset();
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList fields = lines[1].split(QLatin1Char(';'));
    ASSERT_EQ(fields.size(), 5);
    const QDateTime stamped = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
    ASSERT_TRUE(stamped.isValid()) << fields[0].toStdString();
    EXPECT_LT(std::abs(stamped.secsTo(QDateTime::currentDateTimeUtc())), 60);
    const int warsaw = QTimeZone("Europe/Warsaw").offsetFromUtc(stamped);
    EXPECT_TRUE(fields[0].endsWith(warsaw == 7200 ? QStringLiteral("+02:00") : QStringLiteral("+01:00")))
        << fields[0].toStdString();
    for (const QString& value : fields.mid(1))
        EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^-?\d+(,\d+)?(E[+-]\d{2,})?$)")).match(value).hasMatch())
            << value.toStdString();

    // A failed exchange ends the recording after what was already written.
    r = cli(QStringList{QStringLiteral("measure"), QStringLiteral("--format=csv"), QStringLiteral("--sim-fault=no-meter")}
            + kx2());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, QStringLiteral("Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1\n"));
    EXPECT_EQ(r.err, QStringLiteral("Błąd odbioru danych\n"));
}

TEST_F(CliProcess, DiffNamesEveryFieldAndRegisterThatDiffers)
{
    ConfigFixture a = fixture;
    a.values[17] = QStringLiteral(" 0");
    ConfigFixture b = a;
    b.values[17] = QStringLiteral(" 10");
    b.values[99] = QStringLiteral(" 1.5");
    b.fields[0] = QStringLiteral("Nr 13/2026");
    b.fields[4] = QStringLiteral("Pt1000");
    b.remarks = QStringLiteral("wymieniony\r\nbezpiecznik");
    const QString fileA = path(QStringLiteral("a.KX3"));
    const QString fileB = path(QStringLiteral("b.KX3"));
    const QString noExtension = path(QStringLiteral("b.cfg"));
    ASSERT_TRUE(writeBytes(fileA, a.bytes()));
    ASSERT_TRUE(writeBytes(fileB, b.bytes()));
    ASSERT_TRUE(writeBytes(noExtension, b.bytes()));

    // The model comes from the extension; Vardel.cfg's does not matter.
    for (const QString& other : {fileB, noExtension}) {
        const CliRun r = cli({QStringLiteral("diff"), fileA, other, QStringLiteral("--model=KX-4")});
        const CliRun plain = cli({QStringLiteral("diff"), fileA, other});
        EXPECT_EQ(r.code, 2) << "--model contradicts the extension";
        EXPECT_EQ(plain.code, 4) << plain.err.toStdString();
        EXPECT_EQ(plain.out, QStringLiteral("Numer seryjny miernika: w A „Nr 12/2026”, w B „Nr 13/2026”\n"
                                            "Wykonanie wejść We-3: w A „”, w B „Pt1000”\n"
                                            "Rejestr 17 (Skalowanie We-1, wartość dolna): w A 0, w B 10\n"
                                            "Rejestr 99 (Rezerwa): w A 25, w B 1.5\n"
                                            "Uwagi dodatkowe: w A „bez uwag”, w B „wymieniony\\nbezpiecznik”\n"));
        EXPECT_EQ(plain.err, QString());
    }

    CliRun r = cli({QStringLiteral("diff"), fileA, fileA});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Zgodność: wszystkie 100 rejestrów i pola opisu\n"));

    // --force takes --model over the extension, as the message says.
    ConfigFixture kx2Data = a;
    kx2Data.values = a.values.mid(0, 64);
    const QString named3 = path(QStringLiteral("really2.KX3"));
    ASSERT_TRUE(writeBytes(named3, kx2Data.bytes()));
    r = cli({QStringLiteral("diff"), named3, named3, QStringLiteral("--model=KX-2")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Użyj --force"))) << r.err.toStdString();
    r = cli({QStringLiteral("diff"), named3, named3, QStringLiteral("--model=KX-2"), QStringLiteral("--force")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Zgodność: wszystkie 64 rejestrów i pola opisu\n"));

    const QString kx4 = path(QStringLiteral("c.KX4"));
    ASSERT_TRUE(writeBytes(kx4, b.bytes()));
    struct Case {
        QString b;
        QString err;
    };
    const Case cases[] = {
        {kx4, "są konfiguracjami różnych modeli (KX-3 i KX-4)"},
        {path(QStringLiteral("missing.KX3")), "Nie można wczytać pliku"},
    };
    for (const Case& c : cases) {
        r = cli({QStringLiteral("diff"), fileA, c.b});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, QString());
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
    }
}

// Results and bus monitor lines that cannot be written (a full disk: here
// /dev/full) end the command with exit 2 and the reason, never with 0 and an
// empty file; a closed pipe (`| head -1`) ends it quietly, as other tools.
TEST_F(CliProcess, LostOutputIsAFailureAndAClosedPipeEndsQuietly)
{
    const QString file = storedFixture();
    const QString noStdout = QStringLiteral("Nie można zapisać wyników na standardowe wyjście: brak miejsca na dysku\n");
    struct Case {
        QStringList args;
        std::optional<QString> stdoutTo;
        QString err;
    };
    const Case cases[] = {
        {QStringList{"measure", "--format", "csv", "--count", "3", "--interval", "0.1"} + kx3(), "/dev/full", noStdout},
        {QStringList{"scan", "--addresses", "1-3", "--bauds", "19200"}, "/dev/full", noStdout},
        {QStringList{"verify", file} + kx3(), "/dev/full", noStdout},
        {QStringList{"measure", "--count", "3", "--interval", "0.1", "--trace", "/dev/full"} + kx3(), std::nullopt,
         "Nie można zapisać pliku /dev/full: brak miejsca na dysku\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        stdoutFile = c.stdoutTo;
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(c.err)) << r.err.toStdString();
    }
    stdoutFile.reset();

    // A closed stdout: no file the program opens may take its number.
    const CliRun closed = cli(QStringList{"-c", "exec \"$0\" \"$@\" >&-", cliBinary(), "card-test"}, QStringLiteral("/bin/sh"));
    EXPECT_EQ(closed.code, 2);
    EXPECT_EQ(closed.err, QStringLiteral("Nie można zapisać wyników na standardowe wyjście: nieprawidłowy deskryptor pliku\n"));

    const CliRun piped = cli(QStringList{"-c", "\"$0\" \"$@\" | head -1 >/dev/null; exit \"${PIPESTATUS[0]}\"", cliBinary(),
                                         "measure", "--interval", "0.1"} + kx3(),
                             QStringLiteral("/bin/bash"));
    EXPECT_EQ(piped.code, 128 + SIGPIPE);
    EXPECT_EQ(piped.err, QString());

    // A reader gone before the first line: scan and program stop there and
    // say nothing more (no summary, no "scan cut short").
    const QString file3 = path(QStringLiteral("linia.KX3"));
    ASSERT_TRUE(writeBytes(file3, fixture.bytes()));
    const QStringList runs[] = {
        {"scan", "--bauds", "19200", "--addresses", "1-5"},
        {"scan", "--bauds", "19200", "--addresses", "1-5", "--format", "json"},
        {"program", file3, "--addresses", "1-5"},
        {"program", file3, "--addresses", "1-5", "--format", "csv"},
    };
    for (const QStringList& args : runs) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const CliRun gone = cli(QStringList{"-c", "(sleep 0.3; exec \"$0\" \"$@\") | true; exit \"${PIPESTATUS[0]}\"",
                                            cliBinary()} + args,
                                QStringLiteral("/bin/bash"));
        EXPECT_EQ(gone.code, 128 + SIGPIPE);
        EXPECT_EQ(gone.err, QString());
    }
}

// A call blocked in the system ends at the signal: the open of a bus monitor
// FIFO nobody reads, and a write into a stalled pipe.
TEST_F(CliProcess, SignalEndsACallBlockedInTheSystem)
{
    const QString fifo = path(QStringLiteral("monitor.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString lock = path(QStringLiteral("sim.txt.lock"));
    {
        auto p = start({QStringLiteral("card-test"), QStringLiteral("--trace"), fifo});
        for (int i = 0; i < 3000 && !QFileInfo::exists(lock); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // into the open
        ::kill(static_cast<pid_t>(p->processId()), SIGINT);
        ASSERT_TRUE(p->waitForFinished(10000)) << "still waiting for a reader";
        EXPECT_EQ(p->exitCode(), 130);
        EXPECT_EQ(QString::fromUtf8(p->readAllStandardError()), QString());
    }

    // A reader that stops reading: the smallest pipe fills within a second.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const int capacity = ::fcntl(reader, F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    stdoutFile = fifo;
    auto p = start(QStringList{QStringLiteral("measure"), QStringLiteral("--format=json"), QStringLiteral("--interval=0.1")} + kx3());
    int queued = 0;
    for (int i = 0; i < 3000 && queued < capacity - 512; ++i) { // no room for another line
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::ioctl(reader, FIONREAD, &queued);
    }
    ASSERT_GE(queued, capacity - 512) << "the pipe never filled";
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // blocked in the write
    ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    const bool ended = p->waitForFinished(10000);
    ::close(reader);
    ASSERT_TRUE(ended) << "still blocked in the write";
    EXPECT_EQ(p->exitCode(), 143);
}

// Resource limits end in a Polish message and exit 2, with nothing half
// written: a file over `ulimit -f` (SIGXFSZ as a shell leaves it), too few
// open files for Qt (`ulimit -n`), too little memory.
TEST_F(CliProcess, ResourceLimitsEndInAMessageAndLeaveNothingHalfWritten)
{
    const QString file = path(QStringLiteral("cfg.KX3"));
    ASSERT_TRUE(writeBytes(file, fixture.bytes()));
    const QString out = path(QStringLiteral("out.KX3"));
    const QString recording = path(QStringLiteral("pomiary.json"));
    const QString log = path(QStringLiteral("bus.log"));
    // Read whole before it is parsed: far more than the limit below.
    const QString big = path(QStringLiteral("duzy.KX3"));
    ASSERT_TRUE(writeBytes(big, QByteArray(12 << 20, 'A')));
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves more address space than any limit allows; its
    // own allocator refuses what is too large instead.
    const QString memoryLimit;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS"))
                                                  + QStringLiteral(":allocator_may_return_null=1:max_allocation_size_mb=8"));
#else
    const QString memoryLimit = QStringLiteral("ulimit -d 16384; ");
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#endif
    const QString fileTooLarge = QStringLiteral(": plik przekracza dopuszczalny rozmiar");
    // Few enough for Qt to give up, enough for the loader (and for what a
    // test runner leaves open).
    const QString tooManyFiles = QStringLiteral("vardel-cli: za dużo otwartych plików: limit procesu (ulimit -n 9)");
    struct Case {
        QString limit;
        QStringList args;
        QString err;
        const QProcessEnvironment* env = nullptr;
    };
    const Case cases[] = {
        {"ulimit -f 1; ", QStringList{"read", "-o", out, "--template", file} + kx3(),
         "Nie można zapisać pliku " + out + fileTooLarge},
        {"ulimit -f 1; exec >" + recording + "; ", QStringList{"measure", "--format=json", "--interval=0.1"} + kx3(),
         "Nie można zapisać pliku " + recording + " (standardowe wyjście)" + fileTooLarge},
        {"ulimit -f 1; ", QStringList{"measure", "--interval=0.1", "--trace", log} + kx3(),
         "Nie można zapisać pliku " + log + fileTooLarge},
        {"ulimit -n 9; ", QStringList{"read", "-o", out} + kx3(), tooManyFiles},
        {"ulimit -n 9; ", QStringList{"print", file, "--pdf", path("r.pdf")} + kx3(), tooManyFiles},
        {memoryLimit, QStringList{"read", "-o", out, "--template", big} + kx3(), "vardel-cli: Brak pamięci", &env},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.limit + c.args.join(QLatin1Char(' '))).toStdString());
        ASSERT_TRUE(writeBytes(out, "old"));
        environment = c.env ? std::optional<QProcessEnvironment>(*c.env) : std::nullopt;
        const CliRun r = cli(QStringList{"-c", c.limit + "exec \"$0\" \"$@\"", cliBinary()} + c.args, QStringLiteral("/bin/sh"));
        EXPECT_EQ(r.code, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        EXPECT_EQ(readBytes(out), QByteArray("old"));
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList())
            << "no temporary file left";
    }
    environment.reset();
    // The recording and the monitor end with their last whole line.
    for (const QString& written : {recording, log}) {
        const QByteArray bytes = readBytes(written);
        EXPECT_TRUE(!bytes.isEmpty() && bytes.endsWith('\n')) << written.toStdString() << ": " << bytes.right(40).toStdString();
    }
}

// A folder a group or everyone may write to, without the sticky bit: a
// second user's program could not open the first one's lock file for
// writing, took that for "no lock" and used the simulated card beside a
// running measure.
TEST_F(CliProcess, ASecondUsersProgramIsRefusedTheCardInUse)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a second user needs root";
    // Both users reach the program and the folder.
    QTemporaryDir shared;
    ASSERT_TRUE(shared.isValid());
    ::chmod(QFile::encodeName(shared.path()).constData(), 0777);
    const QString program = shared.filePath(QStringLiteral("vardel-cli"));
    ASSERT_TRUE(QFile::copy(cliBinary(), program));
    const QString state = shared.filePath(QStringLiteral("sim.txt"));
    const QStringList link = {QStringLiteral("--sim-state"), state, QStringLiteral("--card-address=340h"),
                              QStringLiteral("--baud=19200"), QStringLiteral("--master-address=0"),
                              QStringLiteral("--transmit-check=1")};

    QProcess holder;
    holder.start(program, QStringList{QStringLiteral("measure")} + kx3() + link);
    ASSERT_TRUE(holder.waitForReadyRead(60000)) << "measure has the card once it prints";
    QProcess second;
    second.start(QStringLiteral("setpriv"), QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program,
                                                         "card-test"} + link);
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 3);
    EXPECT_EQ(QString::fromUtf8(second.readAllStandardError()),
              QStringLiteral("Karta interfejsu 340h jest używana przez inny program (PID %1).\n").arg(holder.processId()));
    holder.terminate();
    EXPECT_TRUE(holder.waitForFinished(60000));
}

} // namespace
