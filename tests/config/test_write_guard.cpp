// The write guard and the store proof, against the simulated meters: which
// registers of a configuration would move a meter off the network, and the
// restart after a store that never cuts the store short.
#include "config/ConfigTransfer.h"
#include "config/LinkGuard.h"
#include "config/RegisterTable.h"
#include "config/StoreProof.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace vardel {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

// The configuration a factory meter of the model holds.
RegisterTable factoryTable(std::int16_t model, int address)
{
    RegisterTable t;
    t.RegCount = regCountOf(model);
    const SimMeter m = SimMeter::factory(model, address);
    for (int r = 0; r < t.RegCount; ++r)
        t.RegValue[static_cast<std::size_t>(r)] = m.configValue(r);
    return t;
}

class NoCard final : public PortBackend {
public:
    void vbOut(std::uint16_t, std::uint8_t) override {}
    std::uint8_t vbInp(std::uint16_t) override { return 0xFF; }
};

TEST(LinkGuard, NamesEveryRegisterThatWouldMoveTheMeter)
{
    struct Set {
        int r;
        float value;
    };
    struct Case {
        std::int16_t model, address;
        std::vector<Set> file;
        QStringList lines;
        MeterLink after;
        bool unusable;
    };
    const Case cases[] = {
        {kModelKX2, 1, {{51, 3.0f}, {52, 0.0f}},
         {"Rejestr 33h (Prędkość transmisji (kod)): w mierniku 4 (19200 bodów), w pliku 3 (9600 bodów)",
          "Rejestr 34h (Kontrola nadawania): w mierniku 1, w pliku 0"},
         {1, 3, 0}, false},
        // The file: a KX-3 read at 2 / 19200 given address 7 and 9600 baud.
        {kModelKX3, 2, {{0, 7.0f}, {1, 3.0f}},
         {"Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w pliku 7",
          "Rejestr 1 (Prędkość transmisji (kod)): w mierniku 4 (19200 bodów), w pliku 3 (9600 bodów)"},
         {7, 3, 1}, false},
        // The KX-4 takes its address from the front panel: only rate and check count.
        {kModelKX4, 3, {{5, 99.0f}}, {}, {3, 4, 1}, false},
        {kModelKX4, 3, {{170, 2.5f}}, {"Rejestr AAh (Prędkość transmisji (kod)): w mierniku 4 (19200 bodów), w pliku 2.5"}, {3, 4, 1}, true},
        {kModelKX3, 2, {{0, 300.0f}}, {"Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w pliku 300"}, {2, 4, 1}, true},
    };
    NoCard card;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model);
        Module1 link(card);
        link.MeterModel = c.model;
        link.MeterAddress = c.address;
        RegisterTable table = factoryTable(c.model, c.address);
        for (const Set& s : c.file)
            table.RegValue[static_cast<std::size_t>(s.r)] = s.value;

        const LinkGuard guard = checkLinkChanges(link, table);
        EXPECT_EQ(guard.lines(c.model), c.lines);
        EXPECT_EQ(guard.changesLink(), !c.lines.isEmpty());
        EXPECT_EQ(guard.unusable(), c.unusable);
        EXPECT_EQ(guard.unusableLines(c.model).size(), c.unusable ? 1 : 0);
        EXPECT_EQ(guard.after, c.after);
    }
    EXPECT_EQ(linkPlaceText({7, 3, 1}), QStringLiteral("pod adresem 7 z prędkością 9600 bodów"));
    EXPECT_EQ(linkPlaceText({1, 3, 0}), QStringLiteral("pod adresem 1 z prędkością 9600 bodów, bez kontroli nadawania"));
}

// The response time is part of the link: a change of it is named like the
// others, and a value the reply wait in force cannot catch at the baud rate
// the meter will answer at is refused, however the write is asked for.
TEST(LinkGuard, TheResponseTimeIsPartOfTheLinkAndBoundByTheWaitInForce)
{
    struct Case {
        const char* what;
        std::int16_t model;
        int reg;                 // the response time register
        float inFile;
        std::optional<float> inMeter;
        std::optional<int> given; // --response-time
        std::int16_t baudAfter;   // the file's baud code (19200 in use)
        QStringList lines;
        QString refusal;          // the last unusable line, if any
    };
    const QString slow = QStringLiteral("Czas odpowiedzi %1 ms jest dłuższy niż najdłuższe oczekiwanie łącza przy %2 "
                                        "bodach (%3 ms). Aby czekać dłużej, podaj --response-time.");
    const Case cases[] = {
        {"unchanged", kModelKX3, 3, 20.0f, 20.0f, std::nullopt, 4, {}, {}},
        {"80 for 20", kModelKX3, 3, 80.0f, 20.0f, std::nullopt, 4,
         {"Rejestr 3 (Czas odpowiedzi miernika [ms]): w mierniku 20, w pliku 80"}, {}},
        {"the meter not read: no change named", kModelKX2, 53, 80.0f, std::nullopt, std::nullopt, 4, {}, {}},
        {"800 for 80", kModelKX3, 3, 800.0f, 20.0f, std::nullopt, 4,
         {"Rejestr 3 (Czas odpowiedzi miernika [ms]): w mierniku 20, w pliku 800"}, slow.arg(800).arg(19200).arg(466)},
        {"800 with 800 given", kModelKX3, 3, 800.0f, 20.0f, 800, 4,
         {"Rejestr 3 (Czas odpowiedzi miernika [ms]): w mierniku 20, w pliku 800"}, {}},
        {"900 with 800 given", kModelKX3, 3, 900.0f, 20.0f, 800, 4,
         {"Rejestr 3 (Czas odpowiedzi miernika [ms]): w mierniku 20, w pliku 900"}, slow.arg(900).arg(19200).arg(800)},
        // Unchanged, but at the new baud rate the wait no longer catches it.
        {"KX-4 at 1200 baud", kModelKX4, 172, 80.0f, 80.0f, std::nullopt, 0,
         {"Rejestr AAh (Prędkość transmisji (kod)): w mierniku 4 (19200 bodów), w pliku 0 (1200 bodów)"}, slow.arg(80).arg(1200).arg(52)},
        {"a fraction", kModelKX2, 53, 20.5f, 20.0f, std::nullopt, 4,
         {"Rejestr 35h (Czas odpowiedzi miernika [ms]): w mierniku 20, w pliku 20.5"},
         "Rejestr 35h (Czas odpowiedzi miernika [ms]): w pliku 20.5, a miernik przyjmuje tylko liczby całkowite od 0 do 60000"},
    };
    NoCard card;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Module1 link(card);
        link.MeterModel = c.model;
        link.MeterAddress = 3;
        if (c.given)
            link.setResponseTime(milliseconds(*c.given));
        RegisterTable table = factoryTable(c.model, 3);
        table.RegValue[static_cast<std::size_t>(c.reg)] = c.inFile;
        table.RegValue[static_cast<std::size_t>(linkRegistersOf(c.model).baudCode)] = c.baudAfter;

        const LinkGuard guard = checkLinkChanges(link, table, c.inMeter);
        EXPECT_EQ(guard.lines(c.model), c.lines);
        EXPECT_EQ(guard.unusable(), !c.refusal.isEmpty());
        if (!c.refusal.isEmpty()) {
            ASSERT_FALSE(guard.unusableLines(c.model).isEmpty());
            EXPECT_EQ(guard.unusableLines(c.model).back(), c.refusal);
        }
        EXPECT_EQ(guard.movesMeter(), c.baudAfter != 4) << "a response time alone moves nobody";
    }
}

// Every request with the card time it was reported sent at.
struct Requests : LinkListener {
    explicit Requests(const SimCard& c) : card(c) {}
    void linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes) override
    {
        if (event == LinkEvent::RequestSent && !bytes.empty())
            sent.push_back({bytes[0], card.cardClock().now()});
    }
    struct Sent {
        std::uint8_t function;
        nanoseconds at;
    };
    nanoseconds firstOf(std::uint8_t function) const
    {
        for (const Sent& s : sent) {
            if (s.function == function)
                return s.at;
        }
        return nanoseconds::max();
    }
    int count(std::uint8_t function) const
    {
        int n = 0;
        for (const Sent& s : sent)
            n += s.function == function ? 1 : 0;
        return n;
    }
    const SimCard& card;
    std::vector<Sent> sent;
};

struct CountingErrors : ErrorWindows {
    int shown = 0;
    void showTransmitError() override { ++shown; }
    void showReceiveError() override { ++shown; }
};

class Proof : public testing::Test {
protected:
    void use(std::int16_t model, int address)
    {
        link.MeterModel = model;
        link.MeterAddress = static_cast<std::int16_t>(address);
        link.setCardClock(&card.cardClock());
        link.setListener(&requests);
        link.setErrorWindows(&errors);
        link.CardSetLink();
    }
    RestartSteps steps(const MeterLink& after)
    {
        RestartSteps s;
        s.after = after;
        s.follow = [this](const MeterLink& to) { useLink(link, to); };
        s.progress = [this](RestartStep step, nanoseconds, nanoseconds) {
            if (stepsSeen.empty() || stepsSeen.back() != step)
                stepsSeen.push_back(step);
        };
        return s;
    }

    SimCard card;
    Module1 link{card};
    Requests requests{card};
    CountingErrors errors;
    std::vector<RestartStep> stepsSeen;
};

TEST_F(Proof, ResetOnlyOnceTheStoreIsOverThenFollowsTheMeter)
{
    use(kModelKX4, 3);
    RegisterTable table = factoryTable(kModelKX4, 3);
    for (int r = 0; r < 170; ++r)
        table.RegValue[static_cast<std::size_t>(r)] = 1000.0f + static_cast<float>(r);
    table.RegValue[170] = 3.0f; // 9600 baud from the next start
    ASSERT_TRUE(WriteConfiguration(link, table, true, {}, milliseconds(0)).complete);
    const nanoseconds stored = requests.firstOf(3);

    const RestartOutcome outcome = restartAfterStore(link, steps({3, 3, 1}));
    ASSERT_TRUE(outcome.ok);
    EXPECT_GE(requests.firstOf(170) - stored, SimMeter::kDefaultStorePerRegister * 255)
        << "no reset while the meter may still store";
    EXPECT_EQ(stepsSeen, (std::vector<RestartStep>{RestartStep::Storing, RestartStep::Starting}));
    EXPECT_EQ(errors.shown, 0) << "silence is waited out, not reported";
    EXPECT_EQ(link.BaudCode, 3);

    const SimMeter& meter = *card.meterAt(3);
    EXPECT_EQ(meter.baudCode, 3);
    for (int r = 0; r < 255; ++r)
        ASSERT_EQ(meter.configValue(r, true), table.RegValue[static_cast<std::size_t>(r)]) << "the whole store " << r;
}

TEST_F(Proof, AMeterThatDoesNotComeBackIsGivenUpWithinTheBound)
{
    struct Case {
        const char* what;
        milliseconds storePerRegister, startup;
        RestartStep failedAt;
        nanoseconds bound;
        int resets;
    };
    const Case cases[] = {
        {"a store of 10 s", milliseconds(100), SimMeter::kDefaultStartup, RestartStep::Storing, storeBound(100), 0},
        {"a start of 20 s", SimMeter::kDefaultStorePerRegister, milliseconds(20000), RestartStep::Starting, kStartBound, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        card.meters() = factoryNetwork();
        SimMeter& meter = *card.meterAt(2);
        meter.storePerRegister = c.storePerRegister;
        meter.startup = c.startup;
        requests.sent.clear();
        use(kModelKX3, 2);
        link.SendEepromStore();
        const nanoseconds before = card.cardClock().now();

        const RestartOutcome outcome = restartAfterStore(link, steps({2, 4, 1}));
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.failedAt, c.failedAt);
        EXPECT_EQ(requests.count(170), c.resets);
        const nanoseconds waited = card.cardClock().now() - (c.resets ? requests.firstOf(170) : before);
        EXPECT_GE(waited, c.bound);
        EXPECT_LT(waited, c.bound + milliseconds(700)) << "one reply wait past the bound at most";
    }
}

// The proof names the meter it proved: a meter that ignores the reset
// answers at once and is caught; one whose store was lost and that was to
// move is found back where it was; one already at a link is named there.
TEST_F(Proof, TheMeterMustBeSeenToRestartAndIsFoundWhereItStarted)
{
    struct Case {
        const char* what;
        void (*fault)(SimMeter&);
        MeterLink after;
        bool ok;
        RestartStep failedAt;
        bool backAtOldLink;
    };
    const Case cases[] = {
        {"stored and restarted", [](SimMeter&) {}, {2, 4, 1}, true, RestartStep::Starting, false},
        {"ignores the reset", [](SimMeter& m) { m.noReset = true; }, {2, 4, 1}, false, RestartStep::ResetIgnored, false},
        {"ignores the reset, was to move", [](SimMeter& m) { m.noReset = true; }, {7, 3, 1}, false,
         RestartStep::ResetIgnored, false},
        {"store lost, was to move", [](SimMeter& m) { m.noStore = true; }, {7, 3, 1}, false, RestartStep::Starting, true},
        {"slow start", [](SimMeter& m) { m.startup = milliseconds(4000); }, {2, 4, 1}, true, RestartStep::Starting, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        card.meters() = factoryNetwork();
        SimMeter& meter = *card.meterAt(2);
        c.fault(meter);
        use(kModelKX3, 2);
        link.BaudCode = 4;
        link.CardSetLink();
        RegisterTable table = factoryTable(kModelKX3, 2);
        table.RegValue[0] = static_cast<float>(c.after.address);
        table.RegValue[1] = static_cast<float>(c.after.baudCode);
        ASSERT_TRUE(WriteConfiguration(link, table, true, {}, milliseconds(0)).complete);

        const RestartOutcome outcome = restartAfterStore(link, steps(c.after));
        EXPECT_EQ(outcome.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(outcome.failedAt, c.failedAt);
        }
        EXPECT_EQ(outcome.backAtOldLink, c.backAtOldLink);
        // The link is where the meter answers now, wherever that is.
        float value = 0.0f;
        std::int16_t flag = 1;
        link.ReadConfigReg(0, value, flag);
        EXPECT_EQ(flag, 0) << "link at " << link.MeterAddress;
        if (c.backAtOldLink) {
            EXPECT_EQ(linkInUse(link), (MeterLink{2, 4, 1}));
        }
    }
}

TEST_F(Proof, AMeterAlreadyAtALinkIsNamedAndTheLinkComesBack)
{
    use(kModelKX3, 2);
    const auto name = [](Module1& l) { return QStringLiteral("adres %1").arg(l.MeterAddress); };
    EXPECT_EQ(meterAnsweringAt(link, {3, 4, 1}, name), QStringLiteral("adres 3"));
    EXPECT_EQ(meterAnsweringAt(link, {3, 4, 1}), QStringLiteral("KX-4")) << "by default the model check names it";
    EXPECT_EQ(meterAnsweringAt(link, {7, 4, 1}, name), std::nullopt);
    EXPECT_EQ(meterAnsweringAt(link, {3, 3, 1}, name), std::nullopt) << "the KX-4 answers at 19200 only";
    EXPECT_EQ(linkInUse(link), (MeterLink{2, 4, 1}));
    EXPECT_EQ(errors.shown, 0) << "silence is an answer here";
    EXPECT_EQ(linkTakenText({3, 4, 1}, QStringLiteral("KX-4")),
              QStringLiteral("Pod adresem 3 z prędkością 19200 bodów odpowiada już inny miernik (KX-4); miernika nie "
                             "przeniesiono."));
}

TEST_F(Proof, ADeadCardEndsTheWaitAtOnce)
{
    use(kModelKX3, 2);
    ASSERT_TRUE(card.setFault(QStringLiteral("dead-card")));
    const nanoseconds before = card.cardClock().now();
    EXPECT_FALSE(waitUntilMeterAnswers(link, seconds(5)));
    EXPECT_LT(card.cardClock().now() - before, seconds(1)) << "one failed send, not five seconds of them";
}

} // namespace
} // namespace vardel
