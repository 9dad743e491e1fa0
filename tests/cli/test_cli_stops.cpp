// vardel-cli's commands on the simulated card, at the exact port operation
// where Ctrl+C comes or the card misses a beat: what the command says then.
// A signal raced against a timer would hit these points only now and then.

#include "cli/CliInProcess.h"
#include "sim/SimCard.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <string>

using namespace vardel;

namespace {

// The simulated card behind a port that plays a signal or a flaky card at
// one point: the stop flag raised after so many port operations, after so
// many reply bytes fetched, or once the K-th request was started; or the
// K-th request sent without the card ever reporting it sent.
class ScriptedCard final : public PortBackend {
public:
    explicit ScriptedCard(std::atomic<int>& stop) : m_stop(stop) {}

    SimCard sim; // the factory network at 340h

    long stopAfterOps = -1;
    int stopAfterReplyBytes = -1;
    int stopAtStart = -1;
    int unreportedStart = -1;

    void vbOut(std::uint16_t port, std::uint8_t value) override
    {
        if (port == kCommandPort) {
            m_write = value >= 64 && value < 128;
            m_selected = value & 63;
        } else if (port == kDataPort && m_write && m_selected == 7 && value == 64) {
            ++m_starts;
        }
        sim.vbOut(port, value);
        if (port == kDataPort && m_write && m_selected == 7 && m_starts == stopAtStart)
            raise();
        counted();
    }

    std::uint8_t vbInp(std::uint16_t port) override
    {
        std::uint8_t value = sim.vbInp(port);
        if (port == kDataPort && !m_write) {
            if (m_selected == 7 && m_starts == unreportedStart)
                value = 0;
            if (m_selected == 4 && ++m_replyBytes == stopAfterReplyBytes)
                raise();
        }
        counted();
        return value;
    }

private:
    static constexpr std::uint16_t kDataPort = SimCard::kDefaultBase;
    static constexpr std::uint16_t kCommandPort = SimCard::kDefaultBase + 1;

    void raise() { m_stop = SIGINT; }
    void counted()
    {
        if (++m_ops == stopAfterOps)
            raise();
    }

    std::atomic<int>& m_stop;
    long m_ops = 0;
    int m_replyBytes = 0;
    int m_starts = 0;
    int m_selected = 0;
    bool m_write = false;
};

using Outcome = test::CliOutcome;

class CliAtThePoint : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString& name) const { return dir.filePath(name); }

    // A command run in this process on `card`, with no Vardel.cfg beside it
    // (the defaults: KX-3 at address 2, 19200 baud, transmit check on).
    Outcome run(const QStringList& args) { return test::runInProcess(args, dir.path(), card.get(), &stop); }

    // A fresh card, nothing played yet.
    ScriptedCard& freshCard()
    {
        stop = 0;
        card = std::make_unique<ScriptedCard>(stop);
        return *card;
    }

    // A KX-3 configuration the simulated meter can take: its own factory one.
    QString kx3File()
    {
        const QString file = path(QStringLiteral("meter.KX3"));
        EXPECT_EQ(run({QStringLiteral("read"), QStringLiteral("-o"), file}).code, 0);
        freshCard();
        return file;
    }

    QTemporaryDir dir;
    std::atomic<int> stop{0};
    std::unique_ptr<ScriptedCard> card = std::make_unique<ScriptedCard>(stop);
};

// Ctrl+C while the card is being given its link parameters, before any
// exchange: the command ends as stopped, and no card or link fault is made
// up for it.
TEST_F(CliAtThePoint, AnEarlyStopIsReportedAsAStopNeverAsADeadCard)
{
    const QString file = kx3File();
    const QStringList commands[] = {
        {QStringLiteral("read"), QStringLiteral("-o"), path(QStringLiteral("out.KX3"))},
        {QStringLiteral("write"), file, QStringLiteral("--eeprom")},
        {QStringLiteral("verify"), file},
        {QStringLiteral("measure"), QStringLiteral("--format=csv")},
        {QStringLiteral("reset-meter")},
        {QStringLiteral("scan")},
        {QStringLiteral("program"), file, QStringLiteral("--addresses=2")},
    };
    for (const QStringList& command : commands) {
        // Early in the link set-up, amid it, after its last port operation.
        for (const long ops : {1L, 12L, 20L}) {
            SCOPED_TRACE(command.join(QLatin1Char(' ')).toStdString() + " stopped after " + std::to_string(ops));
            freshCard().stopAfterOps = ops;
            const Outcome r = run(command);
            EXPECT_EQ(r.code, 128 + SIGINT);
            EXPECT_EQ(r.err, QString());
            EXPECT_EQ(r.out, QString());
        }
    }
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("out.KX3"))));
}

// Ctrl+C just after meter 1 answered the probe, while its model is read:
// it is listed as not checked, never as a meter of unknown model; the card
// gets its link parameters back; the bus monitor says the wait was stopped.
TEST_F(CliAtThePoint, AScanStoppedDuringTheModelReadLeavesNothingFalseBehind)
{
    card->stopAfterReplyBytes = 6; // the probe's whole reply
    const QString trace = path(QStringLiteral("bus.log"));
    const Outcome r = run({QStringLiteral("scan"), QStringLiteral("--bauds=9600,19200"), QStringLiteral("--addresses=1-3"),
                       QStringLiteral("--trace"), trace});
    EXPECT_EQ(r.code, 128 + SIGINT);
    EXPECT_EQ(r.out, QStringLiteral("1 19200 niesprawdzony\n"));
    EXPECT_EQ(r.err, QStringLiteral("Przeszukiwanie przerwane po 4 z 6 prób.\n"));

    // Master 0, meter 2, 19200 baud with the transmit check.
    EXPECT_EQ(card->sim.cardRegister(12), 0);
    EXPECT_EQ(card->sim.cardRegister(13), 2);
    EXPECT_EQ(card->sim.cardRegister(11), 128 + 4);

    QFile file(trace);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // After the probe's answer (the silent 9600 baud probes before it timed
    // out indeed), every line was stopped. Each line ends with its time on
    // the card.
    const QString bytes = QString::fromLatin1(file.readAll());
    const qsizetype answered = bytes.indexOf(QRegularExpression(QStringLiteral(" ok [0-9.]+ ms\n")));
    ASSERT_GE(answered, 0);
    const QStringList afterProbe = bytes.mid(bytes.indexOf(QLatin1Char('\n'), answered) + 1).split(QLatin1Char('\n'));
    ASSERT_GE(afterProbe.size(), 2);
    const QRegularExpression stopped(QStringLiteral(" RX - stopped [0-9.]+ ms$"));
    for (const QString& line : afterProbe.mid(0, afterProbe.size() - 1))
        EXPECT_TRUE(stopped.match(line).hasMatch()) << line.toStdString();
}

// Ctrl+C during the first, silent probe: the scan says it was stopped, and
// not that no meter answered, which it never found out.
TEST_F(CliAtThePoint, AScanStoppedBeforeAnyAnswerClaimsNoSilence)
{
    card->stopAfterOps = 1000; // amid the reply wait of the probe at address 1, 9600 baud
    const Outcome r = run({QStringLiteral("scan"), QStringLiteral("--bauds=9600,19200"), QStringLiteral("--addresses=1-3"),
                           QStringLiteral("--format=csv")});
    EXPECT_EQ(r.code, 128 + SIGINT);
    EXPECT_EQ(r.out, QStringLiteral("address;baud;model\n"));
    EXPECT_EQ(r.err, QStringLiteral("Przeszukiwanie przerwane po 1 z 6 prób.\n"));
}

// Ctrl+C while the card sends the EEPROM store: the card sent it and the
// meter made it, but the program stopped waiting. The monitor says so
// rather than blaming the card with a time-out.
TEST_F(CliAtThePoint, AStopDuringTheStoreIsLoggedAsStopped)
{
    const QString file = kx3File();
    card->stopAtStart = 102; // the response time read, 100 registers, then the store
    const QString trace = path(QStringLiteral("bus.log"));
    const Outcome r = run({QStringLiteral("write"), file, QStringLiteral("--eeprom"), QStringLiteral("--trace"), trace});
    EXPECT_EQ(r.code, 128 + SIGINT);
    EXPECT_EQ(r.err, QString());
    QFile log(trace);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
    EXPECT_TRUE(QRegularExpression(QStringLiteral(" TX 03 RX - stopped [0-9.]+ ms\n$")).match(QString::fromLatin1(bytes)).hasMatch())
        << bytes.right(80).toStdString();
    EXPECT_EQ(bytes.count("timeout"), 0);
}

// The card never reports one write request sent, but the meter got it and
// acknowledged it: the write names that register, not the EEPROM store,
// whether one was asked for or not.
TEST_F(CliAtThePoint, AMissedSendConfirmationNamesItsRegister)
{
    const QString file = kx3File();
    for (const bool eeprom : {false, true}) {
        SCOPED_TRACE(eeprom ? "--eeprom" : "plain");
        freshCard().unreportedStart = 7; // the response time read, then register 5
        QStringList args{QStringLiteral("write"), file};
        if (eeprom)
            args << QStringLiteral("--eeprom");
        const Outcome r = run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, QStringLiteral("Błąd nadawania danych (rejestr 5)\n"));
        EXPECT_EQ(r.out, QString());
    }
}

// Ctrl+C while program writes its second meter: the first is recorded as
// done, the one under way as unfinished (on stdout and in the log), nothing
// more is started, and the card gets its link parameters back.
TEST_F(CliAtThePoint, AStoppedProgramRecordsTheMeterUnderWayAsUnfinished)
{
    const QString file = kx3File();
    card->sim.meters().push_back(SimMeter::factory(kModelKX3, 4));
    // Meter 2: its probe, twelve reads of the model check (the link
    // registers of the three layouts, two more to rule out the KX-2), two of
    // its response time (its own for the file, the guard's), 100 writes; then
    // meter 4's probe, model and response time reads, and ten of its writes.
    card->stopAtStart = 115 + 15 + 10;
    const QString log = path(QStringLiteral("linia.csv"));
    const Outcome r = run({QStringLiteral("program"), file, QStringLiteral("--addresses=2,4"), QStringLiteral("--log"), log});
    EXPECT_EQ(r.code, 128 + SIGINT);
    EXPECT_EQ(r.err, QString());
    EXPECT_EQ(r.out.toStdString(), "Adres 2 (KX-3): zapisano do RAM, bez zapisu w pamięci EEPROM, nie sprawdzono\n"
                                   "Adres 4 (KX-3): niedokończony, przerwano w trakcie zapisu do RAM (rejestr 10 z 100), "
                                   "bez zapisu w pamięci EEPROM: po resecie miernik wróci do poprzedniej konfiguracji\n"
                                   "Zaprogramowano 1 z 2 mierników (przerwano przy adresie 4).\n"
                                   "Wyniki: ram-only 1, unfinished-ram 1.\n"
                                   "Do powtórzenia: --addresses 4\n");
    QFile records(log);
    ASSERT_TRUE(records.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(records.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("time;address;model;file;sha256;result;differences;message"));
    EXPECT_TRUE(lines[1].contains(QStringLiteral(";2;KX-3;"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral(";ram-only;;zapisano do RAM"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral(";4;KX-3;"))) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral(";unfinished-ram;;niedokończony, przerwano w trakcie zapisu do RAM")))
        << lines[2].toStdString();

    EXPECT_EQ(card->sim.cardRegister(13), 2);
    EXPECT_EQ(card->sim.cardRegister(11), 128 + 4);
}

// On a terminal the run's line says how long the meters still to come take,
// from the card time those done took; the first meter has nothing to go by.
TEST_F(CliAtThePoint, ProgramsRunLineShowsTheTimeLeft)
{
    const QString file = kx3File();
    for (const int address : {4, 5})
        card->sim.meters().push_back(SimMeter::factory(kModelKX3, address));
    QByteArray drawn;
    // The simulated card itself: its clock is the card time the run reads.
    const Outcome r = test::runInProcess({QStringLiteral("program"), file, QStringLiteral("--addresses=2,4,5")}, dir.path(),
                                         &card->sim, &stop, &drawn);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QString text = QString::fromUtf8(drawn);
    const QRegularExpression first(QStringLiteral("Programowanie: miernik 1 z 3 \\(adres 2\\), zaprogramowano 0\\n"));
    EXPECT_TRUE(first.match(text).hasMatch()) << text.toStdString();
    // A RAM-only write of a KX-3 at 19200 baud takes about 3 s of card time.
    int left[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const QRegularExpression line(QStringLiteral("miernik %1 z 3 \\(adres %2\\), zaprogramowano %3, zostało ok. (\\d+) s\\n")
                                          .arg(i + 2)
                                          .arg(i == 0 ? 4 : 5)
                                          .arg(i + 1));
        const QRegularExpressionMatch m = line.match(text);
        ASSERT_TRUE(m.hasMatch()) << text.toStdString();
        left[i] = m.captured(1).toInt();
    }
    EXPECT_GE(left[0], 4);
    EXPECT_LE(left[0], 8);
    EXPECT_GE(left[1], 2);
    EXPECT_LE(left[1], 4);
}

// Where a stop leaves the meter, in the record's word and its message:
// during the model check nothing was written; during the registers part of
// them are in RAM; during the wait for the store the store was asked for;
// during the wait for the start after the reset the store was over. The
// meters the run did not reach are to be run again.
TEST_F(CliAtThePoint, AStoppedProgramSaysHowFarTheMeterGot)
{
    const QString file = kx3File();
    // One meter's exchanges with --eeprom (proven by default): the probe and
    // twelve reads of the model check (13), two of its response time (15),
    // 100 writes (115), the store request (116), three reads until the store
    // is over (119), the reset (120), reads until it has started, the
    // read-back.
    struct Case {
        int stopAt;
        const char* word;
        const char* text;
    };
    const Case cases[] = {
        {5, "unfinished-untouched", "niedokończony, przerwano: nic nie zapisano"},
        {65, "unfinished-ram", "niedokończony, przerwano w trakcie zapisu do RAM (rejestr 50 z 100)"},
        {118, "unfinished-store-requested", "niedokończony, przerwano: wysłano polecenie zapisu w pamięci EEPROM"},
        {122, "unfinished-stored", "niedokończony, przerwano: miernik skończył zapis w pamięci EEPROM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        freshCard().stopAtStart = c.stopAt;
        const Outcome r = run({QStringLiteral("program"), file, QStringLiteral("--addresses=2,5-7"),
                               QStringLiteral("--eeprom"), QStringLiteral("--format=csv")});
        EXPECT_EQ(r.code, 128 + SIGINT);
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
        EXPECT_TRUE(lines[1].contains(QStringLiteral(";%1;;%2").arg(QLatin1String(c.word), QString::fromUtf8(c.text))))
            << lines[1].toStdString();
        EXPECT_EQ(r.err, QStringLiteral("Zaprogramowano 0 z 4 mierników (przerwano przy adresie 2).\n"
                                        "Wyniki: %1 1.\n"
                                        "Do powtórzenia: --addresses 2,5-7\n")
                             .arg(QLatin1String(c.word)));
    }
}

} // namespace

// Ctrl+C while the history is listed: the list is cut short, and neither an
// empty history nor a filter that found nothing is claimed.
TEST_F(CliAtThePoint, AStoppedHistoryClaimsNothingAboutTheHistory)
{
    kx3File(); // one entry in the history: the read
    ASSERT_EQ(run({QStringLiteral("history")}).out.count(QLatin1Char('\n')), 1);
    for (const QStringList& command : {QStringList{QStringLiteral("history")},
                                       QStringList{QStringLiteral("history"), QStringLiteral("--meter-address=9")}}) {
        SCOPED_TRACE(command.join(QLatin1Char(' ')).toStdString());
        stop = SIGINT;
        const Outcome r = run(command);
        EXPECT_EQ(r.code, 128 + SIGINT);
        EXPECT_EQ(r.err, QString());
        EXPECT_EQ(r.out, QString());
    }
}
