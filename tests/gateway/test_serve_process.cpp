// vardel-cli serve end to end: the built program as its own process on the
// simulated card, asked by Modbus clients nobody here wrote (mbpoll,
// pymodbus), as a SCADA system would.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <csignal>

namespace {

const QString kCli = QStringLiteral(VARDEL_BIN_DIR "/vardel-cli");
const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kClient = QStringLiteral(VARDEL_SOURCE_DIR "/tests/gateway/modbus_client.py");

bool havePymodbus()
{
    QProcess p;
    p.start(kPython, {QStringLiteral("-c"), QStringLiteral("import pymodbus")});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool haveMbpoll()
{
    return QFile::exists(QStringLiteral("/usr/bin/mbpoll"));
}

// A port nobody listens on now.
quint16 freePort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

struct ProcessRun {
    int code = -1;
    QString out;
    QString err;
};

ProcessRun run(const QString& program, const QStringList& args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(program, args);
    ProcessRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// One gateway on the factory network in a folder of its own.
class Gateway {
public:
    explicit Gateway(QStringList extra = {})
        : m_port(freePort())
    {
        m_args = QStringList{QStringLiteral("serve"), QStringLiteral("--sim-state"), simState(),
                             QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(m_port)}
            + extra;
        if (!extra.contains(QStringLiteral("--addresses")) && !extra.contains(QStringLiteral("--meters"))
            && !extra.contains(QStringLiteral("--scan")))
            m_args << QStringLiteral("--addresses") << QStringLiteral("1-4");
        // Where timing is not what is tested, the card answers at once.
        if (!extra.contains(QStringLiteral("--sim-pace")))
            m_args << QStringLiteral("--sim-pace") << QStringLiteral("fast");
    }
    ~Gateway()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString simState() const { return m_dir.filePath(QStringLiteral("VardelSim.txt")); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    quint16 port() const { return m_port; }

    // True once it says it listens.
    bool start()
    {
        m_process.start(kCli, m_args);
        return QTest::qWaitFor([this] { return stderrText().contains(QStringLiteral("nasłuchuje")) || m_process.state() == QProcess::NotRunning; }, 10000)
            && m_process.state() == QProcess::Running;
    }
    QString stderrText()
    {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err;
    }
    // The exit code after the signal.
    int stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        m_process.waitForFinished(10000);
        stderrText();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    int wait()
    {
        m_process.waitForFinished(20000);
        stderrText();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QStringList cli(const QStringList& args) const { return args + QStringList{QStringLiteral("--sim-state"), simState()}; }

private:
    QTemporaryDir m_dir;
    quint16 m_port;
    QStringList m_args;
    QProcess m_process;
    QString m_err;
};

// mbpoll's "[N]: value" lines, N counted from 1 as mbpoll does.
std::vector<double> mbpollValues(const QString& out)
{
    std::vector<double> values;
    static const QRegularExpression line(QStringLiteral(R"(^\[(\d+)\]:\s+(\S+)\s*$)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const QString v = it.next().captured(2);
        values.push_back(v.contains(QStringLiteral("nan")) ? std::nan("") : v.toDouble());
    }
    return values;
}

QJsonObject jsonOf(const ProcessRun& r)
{
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(ServeProcess, MbpollReadsTheConfigurationThatReadGivesAndNaNForBoxesTheModelLacks)
{
    if (!haveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed";
    Gateway g;
    const QString file = g.path(QStringLiteral("meter.KX3"));
    const ProcessRun readRun = run(kCli, g.cli({QStringLiteral("read"), QStringLiteral("-o"), file, QStringLiteral("--meter-address"),
                                      QStringLiteral("2"), QStringLiteral("--model"), QStringLiteral("KX-3")}));
    ASSERT_EQ(readRun.code, 0) << readRun.err.toStdString();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
    ASSERT_GT(lines.size(), 6 + 30);

    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral("mierniki: 1 (KX-2), 2 (KX-3), 3 (KX-4).")));
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral("Nie można rozpoznać modelu miernika pod adresem 4")));
    const QString port = QString::number(g.port());
    const ProcessRun holding = run(QStringLiteral("/usr/bin/mbpoll"),
                            {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"), port, QStringLiteral("-a"),
                             QStringLiteral("2"), QStringLiteral("-t"), QStringLiteral("4:float"), QStringLiteral("-B"),
                             QStringLiteral("-r"), QStringLiteral("1"), QStringLiteral("-c"), QStringLiteral("30"),
                             QStringLiteral("-1"), QStringLiteral("127.0.0.1")});
    ASSERT_EQ(holding.code, 0) << holding.out.toStdString() << holding.err.toStdString();
    const std::vector<double> registers = mbpollValues(holding.out);
    ASSERT_EQ(registers.size(), 30u) << holding.out.toStdString();
    for (int r = 0; r < 30; ++r) {
        // The file keeps seven digits, mbpoll prints six.
        const double truth = lines[6 + r].trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
        EXPECT_NEAR(registers[static_cast<std::size_t>(r)], truth, std::abs(truth) * 1e-5 + 1e-6) << r;
    }

    const ProcessRun input = run(QStringLiteral("/usr/bin/mbpoll"),
                          {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"), port, QStringLiteral("-a"),
                           QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("3:float"), QStringLiteral("-B"),
                           QStringLiteral("-r"), QStringLiteral("1"), QStringLiteral("-c"), QStringLiteral("10"),
                           QStringLiteral("-1"), QStringLiteral("127.0.0.1")});
    const std::vector<double> boxes = mbpollValues(input.out);
    ASSERT_EQ(boxes.size(), 10u) << input.out.toStdString();
    for (int box = 1; box <= 10; ++box) // a KX-2 shows boxes 1, 2, 5 and 7
        EXPECT_EQ(std::isnan(boxes[static_cast<std::size_t>(box - 1)]), !(box == 1 || box == 2 || box == 5 || box == 7)) << box;
    EXPECT_EQ(g.stop(), 143);
}

TEST(ServeProcess, PymodbusSeesTheIdentityTheExceptionsAndWritesRefused)
{
    if (!havePymodbus())
        GTEST_SKIP() << "python3-pymodbus is not installed";
    Gateway g;
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    const ProcessRun probe = run(kPython, {kClient, QStringLiteral("probe"), QString::number(g.port())});
    ASSERT_EQ(probe.code, 0) << probe.err.toStdString();
    const QJsonObject o = jsonOf(probe);
    EXPECT_EQ(o[QStringLiteral("identity")].toObject(),
              (QJsonObject{{QStringLiteral("0"), QStringLiteral("Vardel")}, {QStringLiteral("1"), QStringLiteral("KX-3")},
                           {QStringLiteral("2"), QStringLiteral("1.0")}}));
    EXPECT_EQ(o[QStringLiteral("write_register")].toInt(), 1);
    EXPECT_EQ(o[QStringLiteral("write_registers")].toInt(), 1);
    EXPECT_EQ(o[QStringLiteral("write_coil")].toInt(), 1);
    EXPECT_EQ(o[QStringLiteral("unknown_unit")].toInt(), 10);
    EXPECT_EQ(o[QStringLiteral("beyond_map")].toInt(), 2);
    const QJsonArray values = o[QStringLiteral("values")].toArray();
    ASSERT_EQ(values.size(), 10);
    for (int box = 1; box <= 10; ++box) // a KX-3 shows boxes 1 to 5 and 7
        EXPECT_EQ(values[box - 1].isNull(), box == 6 || box > 7) << box;
    EXPECT_LT(o[QStringLiteral("age_ms")].toInt(), 3000);
    EXPECT_EQ(o[QStringLiteral("failed_polls")].toInt(), 0);
    EXPECT_EQ(g.stop(), 143);
    const QString err = g.stderrText();
    EXPECT_EQ(err.count(QStringLiteral("zapis wyłączony; włącza go --allow-write.")), 3);
    EXPECT_TRUE(err.contains(QStringLiteral("Odrzucono zapis od 127.0.0.1:")));
}

TEST(ServeProcess, AnAllowedWriteIsWhatVerifyFindsAndALinkChangeIsRefused)
{
    if (!havePymodbus())
        GTEST_SKIP() << "python3-pymodbus is not installed";
    Gateway g({QStringLiteral("--allow-write")});
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    const ProcessRun written = run(kPython, {kClient, QStringLiteral("write"), QString::number(g.port())});
    ASSERT_EQ(written.code, 0) << written.err.toStdString();
    const QJsonObject o = jsonOf(written);
    EXPECT_TRUE(o[QStringLiteral("write")].isNull()) << written.out.toStdString();
    EXPECT_TRUE(o[QStringLiteral("store")].isNull());
    EXPECT_EQ(o[QStringLiteral("store_outcome")].toInt(), 1);
    EXPECT_EQ(o[QStringLiteral("link_change")].toInt(), 3);
    EXPECT_EQ(g.stop(), 143);
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral("Użyj --allow-link-change")));

    // What the meter holds now, read by the command line, with 12.5 in register 20.
    const QString file = g.path(QStringLiteral("after.KX3"));
    const QStringList meter{QStringLiteral("--meter-address"), QStringLiteral("2"), QStringLiteral("--model"),
                            QStringLiteral("KX-3")};
    ASSERT_EQ(run(kCli, g.cli(QStringList{QStringLiteral("read"), QStringLiteral("-o"), file} + meter)).code, 0);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.value(6 + 20).trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(), 12.5);
    const ProcessRun verify = run(kCli, g.cli(QStringList{QStringLiteral("verify"), file} + meter));
    EXPECT_EQ(verify.code, 0) << verify.out.toStdString() << verify.err.toStdString();
}

TEST(ServeProcess, TwentyClientsAtOnceGetEveryAnswer)
{
    if (!havePymodbus())
        GTEST_SKIP() << "python3-pymodbus is not installed";
    Gateway g({QStringLiteral("--max-clients"), QStringLiteral("20")});
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    const ProcessRun load = run(kPython, {kClient, QStringLiteral("concurrent"), QString::number(g.port()), QStringLiteral("20"),
                                   QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    ASSERT_EQ(load.code, 0) << load.err.toStdString();
    const QJsonObject o = jsonOf(load);
    EXPECT_EQ(o[QStringLiteral("errors")].toInt(), 0);
    EXPECT_GT(o[QStringLiteral("ok")].toInt(), 20 * 3);
    EXPECT_EQ(g.stop(), 143);
    EXPECT_EQ(g.stderrText().count(QStringLiteral(": przyjęte.")), 20);
    EXPECT_EQ(g.stderrText().count(QStringLiteral(": zamknięte.")), 20);
}

TEST(ServeProcess, AMalformedFrameClosesThatConnectionAndTheOthersGoOn)
{
    Gateway g;
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    QTcpSocket good;
    QTcpSocket evil;
    good.connectToHost(QHostAddress::LocalHost, g.port());
    evil.connectToHost(QHostAddress::LocalHost, g.port());
    ASSERT_TRUE(good.waitForConnected(3000) && evil.waitForConnected(3000));
    evil.write(QByteArray::fromHex("00010000ffff02") + QByteArray(1000, '\x04')); // oversized
    EXPECT_TRUE(QTest::qWaitFor([&] { return evil.state() == QAbstractSocket::UnconnectedState; }, 3000));
    good.write(QByteArray::fromHex("000900000006020400160001")); // unit 2, failed polls
    QByteArray answer;
    EXPECT_TRUE(QTest::qWaitFor([&] { answer += good.readAll(); return answer.size() >= 11; }, 3000));
    EXPECT_EQ(answer, QByteArray::fromHex("0009000000050204020000"));
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral("zamknięte (błędna ramka).")));
    EXPECT_EQ(g.stop(SIGINT), 130);
}

TEST(ServeProcess, AClientSilentForTheIdleTimeOutIsClosed)
{
    Gateway g({QStringLiteral("--idle-timeout"), QStringLiteral("0.3")});
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    QTcpSocket quiet;
    quiet.connectToHost(QHostAddress::LocalHost, g.port());
    ASSERT_TRUE(quiet.waitForConnected(3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return quiet.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral("zamknięte (bezczynne)."))) << g.stderrText().toStdString();
    EXPECT_EQ(g.stop(), 143);
}

TEST(ServeProcess, SigtermWithClientsConnectedClosesThemAndReleasesTheCard)
{
    Gateway g;
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    QTcpSocket a;
    QTcpSocket b;
    a.connectToHost(QHostAddress::LocalHost, g.port());
    b.connectToHost(QHostAddress::LocalHost, g.port());
    ASSERT_TRUE(a.waitForConnected(3000) && b.waitForConnected(3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return g.stderrText().count(QStringLiteral(": przyjęte.")) == 2; }, 3000));
    // While it runs, the card is its own.
    EXPECT_EQ(run(kCli, g.cli({QStringLiteral("card-test")})).code, 3);
    EXPECT_EQ(g.stop(SIGTERM), 143);
    EXPECT_EQ(g.stderrText().count(QStringLiteral(": zamknięte.")), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.state() == QAbstractSocket::UnconnectedState; }, 3000));
    const ProcessRun after = run(kCli, g.cli({QStringLiteral("card-test")}));
    EXPECT_EQ(after.code, 0) << after.err.toStdString();
}

// At the card's own pace (serve's default on the simulated card) the card
// thread's exchange lasts seconds: measured values are answered meanwhile,
// and a stop ends it between two registers, the card released.
TEST(ServeProcess, AtRealPaceMeasuredValuesComeWhileAReadRunsAndAStopEndsIt)
{
    Gateway g({QStringLiteral("--addresses"), QStringLiteral("1-3"), QStringLiteral("--sim-pace"),
               QStringLiteral("real")});
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    QTcpSocket config;
    QTcpSocket values;
    for (QTcpSocket* s : {&config, &values}) {
        s->connectToHost(QHostAddress::LocalHost, g.port());
        ASSERT_TRUE(s->waitForConnected(3000));
    }
    const auto ask = [](QTcpSocket& s, std::uint8_t unit, std::uint8_t function, int start, int count) {
        QByteArray pdu(1, static_cast<char>(function));
        pdu += static_cast<char>(start >> 8);
        pdu += static_cast<char>(start & 0xFF);
        pdu += static_cast<char>(count >> 8);
        pdu += static_cast<char>(count & 0xFF);
        QByteArray frame = QByteArray::fromHex("00010000");
        frame += static_cast<char>(0);
        frame += static_cast<char>(pdu.size() + 1);
        frame += static_cast<char>(unit);
        s.write(frame + pdu);
    };
    const auto reply = [](QTcpSocket& s) {
        QByteArray got;
        EXPECT_TRUE(QTest::qWaitFor([&] { return (got += s.readAll()).size() >= 9; }, 5000));
        return got.mid(7);
    };
    // The first poll of the KX-4 done.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        ask(values, 3, 0x04, 0, 2);
        return reply(values).at(0) == 0x04;
    }, 5000));
    // 62 registers of the KX-4: well over a second at 19200 baud.
    ask(config, 3, 0x03, 0, 124);
    ask(values, 3, 0x04, 0, 24);
    EXPECT_EQ(reply(values).at(0), 0x04);
    EXPECT_EQ(config.bytesAvailable(), 0) << "the measured values waited for the configuration read";
    EXPECT_EQ(g.stop(SIGTERM), 143);
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral(": zamknięte."))) << g.stderrText().toStdString();
    const ProcessRun after = run(kCli, g.cli({QStringLiteral("card-test")}));
    EXPECT_EQ(after.code, 0) << after.err.toStdString();
}

TEST(ServeProcess, StartsThatCannotServeSayWhy)
{
    {
        Gateway deadCard({QStringLiteral("--sim-fault"), QStringLiteral("dead-card")});
        deadCard.start();
        EXPECT_EQ(deadCard.wait(), 1);
        EXPECT_TRUE(deadCard.stderrText().contains(QStringLiteral("Karta interfejsu nie zgłasza gotowości")))
            << deadCard.stderrText().toStdString();
    }
    {
        Gateway noMeter({QStringLiteral("--sim-fault"), QStringLiteral("no-meter"), QStringLiteral("--addresses"),
                         QStringLiteral("1")});
        noMeter.start();
        EXPECT_EQ(noMeter.wait(), 1);
        EXPECT_TRUE(noMeter.stderrText().contains(QStringLiteral("Żaden miernik nie będzie obsługiwany.")));
    }
    {
        // A list file's mistake names the file and its line, and nothing starts.
        QTemporaryDir dir;
        const QString list = dir.filePath(QStringLiteral("mierniki.conf"));
        writeFile(list, "1\n2 baud=19201\n");
        Gateway badList({QStringLiteral("--meters"), list});
        badList.start();
        EXPECT_EQ(badList.wait(), 2);
        EXPECT_TRUE(badList.stderrText().contains(list + QStringLiteral(":2: nieznana prędkość „19201”")))
            << badList.stderrText().toStdString();
    }
    {
        // A port another program holds: the address and the reason, code 2.
        QTcpServer holder;
        ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
        const QString at = QStringLiteral("127.0.0.1:%1").arg(holder.serverPort());
        Gateway taken({QStringLiteral("--listen"), at});
        taken.start();
        EXPECT_EQ(taken.wait(), 2);
        EXPECT_TRUE(taken.stderrText().contains(QStringLiteral("Nie można nasłuchiwać na %1: ").arg(at)))
            << taken.stderrText().toStdString();
    }
}

namespace {

// mbpoll's reading of a unit's first two measured values, and
// what it said.
ProcessRun mbpollInput(quint16 port, int unit)
{
    return run(QStringLiteral("/usr/bin/mbpoll"),
               {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"), QString::number(port),
                QStringLiteral("-a"), QString::number(unit), QStringLiteral("-t"), QStringLiteral("3:float"),
                QStringLiteral("-B"), QStringLiteral("-r"), QStringLiteral("1"), QStringLiteral("-c"), QStringLiteral("2"),
                QStringLiteral("-1"), QStringLiteral("127.0.0.1")});
}

// A KX-2 at 1 and 5 at 19200 baud, a KX-4 at 5 and 7 at 9600: two meters
// answer as unit 5, each at its own baud rate.
const QByteArray kMixedBauds = "[miernik]\r\nmodel=KX-2\r\nadres=1\r\nbaud=4\r\n"
                               "[miernik]\r\nmodel=KX-2\r\nadres=5\r\nbaud=4\r\n"
                               "[miernik]\r\nmodel=KX-4\r\nadres=5\r\nbaud=3\r\n"
                               "[miernik]\r\nmodel=KX-4\r\nadres=7\r\nbaud=3\r\n";

} // namespace

TEST(ServeProcess, AMeterListServesEachMeterAtItsOwnLink)
{
    if (!haveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed";
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("mierniki.conf"));
    writeFile(list, "# hala B\n1\n7 baud=9600 response-time=20\n");
    Gateway g({QStringLiteral("--meters"), list});
    writeFile(g.simState(), kMixedBauds);
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    EXPECT_TRUE(g.stderrText().contains(QStringLiteral("mierniki: 1 (KX-2), 7 (KX-4, 9600 bodów).")))
        << g.stderrText().toStdString();
    for (const int unit : {1, 7}) {
        const ProcessRun read = mbpollInput(g.port(), unit);
        EXPECT_EQ(read.code, 0) << unit << read.out.toStdString() << read.err.toStdString();
        EXPECT_EQ(mbpollValues(read.out).size(), 2u) << unit;
    }
    EXPECT_EQ(g.stop(), 143);

    // The unit the list gives and the link the meter answers at must agree:
    // 7 at the command line's 19200 baud is not there.
    const QString wrong = dir.filePath(QStringLiteral("zle.conf"));
    writeFile(wrong, "1\n7\n");
    Gateway missing({QStringLiteral("--meters"), wrong});
    writeFile(missing.simState(), kMixedBauds);
    ASSERT_TRUE(missing.start()) << missing.stderrText().toStdString();
    EXPECT_TRUE(missing.stderrText().contains(QStringLiteral("pod adresem 7 (miernik nie odpowiada)")));
    EXPECT_TRUE(missing.stderrText().contains(QStringLiteral("mierniki: 1 (KX-2).")));
    EXPECT_EQ(missing.stop(), 143);
}

TEST(ServeProcess, AScanServesWhatItFindsButNotTwoMetersUnderOneUnit)
{
    if (!haveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed";
    Gateway g({QStringLiteral("--scan"), QStringLiteral("--bauds"), QStringLiteral("9600,19200"),
               QStringLiteral("--addresses"), QStringLiteral("1-8")});
    writeFile(g.simState(), kMixedBauds);
    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    const QString said = g.stderrText();
    EXPECT_TRUE(said.contains(QStringLiteral("Pod adresem 5 odpowiadają mierniki przy 9600 i 19200 bodach; jednostka 5 "
                                             "nie będzie obsługiwana.")))
        << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("mierniki: 1 (KX-2), 7 (KX-4, 9600 bodów).")));
    EXPECT_EQ(mbpollInput(g.port(), 7).code, 0);
    const ProcessRun five = mbpollInput(g.port(), 5);
    EXPECT_NE(five.code, 0);
    EXPECT_TRUE((five.out + five.err).contains(QStringLiteral("Gateway path unavailable"))) << five.out.toStdString();
    EXPECT_EQ(g.stop(), 143);
}

namespace {

// Box number (1..10 of the test window) of a measure CSV caption.
int boxOfCaption(const QString& caption)
{
    static const QStringList captions = {QStringLiteral("Pomiar Nr 1"), QStringLiteral("Pomiar Nr 2"), QStringLiteral("Pomiar Nr 3"),
                                         QStringLiteral("Pomiar Nr 4"), QStringLiteral("Funkcja Nr 1"), QStringLiteral("Funkcja Nr 2"),
                                         QStringLiteral("Bilans Nr 1"), QStringLiteral("Bilans Nr 2"), QStringLiteral("Bilans Nr 3"),
                                         QStringLiteral("Bilans Nr 4")};
    return static_cast<int>(captions.indexOf(caption.trimmed())) + 1;
}

// mbpoll's "-t 3:hex" lines as words, so that the float32 is decoded exactly.
std::vector<quint16> mbpollWords(const QString& out)
{
    std::vector<quint16> words;
    static const QRegularExpression line(QStringLiteral(R"(^\[(\d+)\]:\s+0x([0-9A-Fa-f]{1,4})\s*$)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();)
        words.push_back(static_cast<quint16>(it.next().captured(2).toUInt(nullptr, 16)));
    return words;
}

} // namespace

TEST(ServeProcess, MeasuredValuesOfEveryModelAreWhatMeasureGives)
{
    if (!haveMbpoll())
        GTEST_SKIP() << "mbpoll is not installed";
    Gateway g;
    {
        // Values held still, so that two programs in turn see the same.
        QFile state(g.simState());
        ASSERT_TRUE(state.open(QIODevice::WriteOnly));
        state.write("[karta]\r\nczas_pomiarow=1234\r\n");
    }
    struct Unit {
        int address;
        const char* model;
    };
    const std::vector<Unit> units = {{1, "KX-2"}, {2, "KX-3"}, {3, "KX-4"}};
    std::vector<std::array<double, 10>> expected;
    for (const Unit& u : units) {
        const ProcessRun m = run(kCli, g.cli({QStringLiteral("measure"), QStringLiteral("--count"), QStringLiteral("1"),
                                              QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--meter-address"),
                                              QString::number(u.address), QStringLiteral("--model"), QLatin1String(u.model)}));
        ASSERT_EQ(m.code, 0) << m.err.toStdString();
        const QStringList lines = m.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << m.out.toStdString();
        const QStringList head = lines[0].split(QLatin1Char(';'));
        const QStringList row = lines[1].split(QLatin1Char(';'));
        ASSERT_EQ(head.size(), row.size());
        std::array<double, 10> boxes;
        boxes.fill(std::nan(""));
        for (qsizetype c = 1; c < head.size(); ++c) {
            const int box = boxOfCaption(head[c]);
            ASSERT_GE(box, 1) << head[c].toStdString();
            boxes[static_cast<std::size_t>(box - 1)] = row[c].toDouble();
        }
        expected.push_back(boxes);
    }

    ASSERT_TRUE(g.start()) << g.stderrText().toStdString();
    for (std::size_t i = 0; i < units.size(); ++i) {
        const ProcessRun r = run(QStringLiteral("/usr/bin/mbpoll"),
                                 {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"), QString::number(g.port()),
                                  QStringLiteral("-a"), QString::number(units[i].address), QStringLiteral("-t"),
                                  QStringLiteral("3:hex"), QStringLiteral("-r"), QStringLiteral("1"), QStringLiteral("-c"),
                                  QStringLiteral("20"), QStringLiteral("-1"), QStringLiteral("127.0.0.1")});
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        const std::vector<quint16> words = mbpollWords(r.out);
        ASSERT_EQ(words.size(), 20u) << r.out.toStdString();
        for (std::size_t box = 0; box < 10; ++box) {
            // High word first, the gateway's default.
            const quint32 bits = (quint32{words[2 * box]} << 16) | words[2 * box + 1];
            float served = 0;
            std::memcpy(&served, &bits, sizeof served);
            const double truth = expected[i][box];
            if (std::isnan(truth)) {
                EXPECT_TRUE(std::isnan(served)) << units[i].model << " box " << box + 1 << ": " << served;
                continue;
            }
            // measure prints seven significant digits of the same float32.
            EXPECT_NEAR(served, truth, std::abs(truth) * 1e-6 + 1e-9) << units[i].model << " box " << box + 1;
        }
    }
    EXPECT_EQ(g.stop(), 143);
}
