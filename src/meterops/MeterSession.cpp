#include "meterops/MeterSession.h"

#include "config/ConfigTransfer.h"
#include "config/LinkGuard.h"
#include "config/RegisterTexts.h"
#include "config/StoreProof.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <optional>
#include <utility>

namespace vardel {

QString notReadyMessage(std::uint8_t status)
{
    return QStringLiteral("Karta interfejsu nie zgłasza gotowości (status %1).")
        .arg(QString::fromStdString(hexText(status)));
}

RegisterTable withoutDescription(RegisterTable table)
{
    for (QString* field : {&table.SerialNo, &table.ProgVersion, &table.InVer1, &table.InVer2, &table.InVer3,
                           &table.InVer4, &table.CustomerData, &table.Remarks})
        field->clear();
    return table;
}

QString secondsText(int ms)
{
    return QString::number(ms / 1000.0).replace(QLatin1Char('.'), QLatin1Char(',')) + QStringLiteral(" s");
}

MeterSession::MeterSession(SessionIo io, Module1& link, LinkErrors& errors, LinkTrace* trace, SimCard* sim,
                           QString historyFolder)
    : m_io(std::move(io))
    , m_link(link)
    , m_errors(errors)
    , m_trace(trace)
    , m_sim(sim)
    , m_historyFolder(std::move(historyFolder))
    , m_say(m_io.say)
{
}

ProgressDisplay MeterSession::progress(const QString& label) const
{
    return ProgressDisplay(label, m_io.terminal, m_io.rawErr, m_runLine);
}

int MeterSession::stopSignal() const
{
    return m_io.stopSignal ? m_io.stopSignal->load() : 0;
}

// The card gets the link parameters as the main window gives them at
// start-up. A card that is not ready even then is dead: say so at once, in
// that one line, before the first exchange finds it out through its waits. A
// stop request ends the wait for it too; that is no fault of the card.
bool MeterSession::prepareLink()
{
    m_link.CardSetLink();
    if (m_link.CardWaitReady() == 0)
        return true;
    if (stopSignal() == 0)
        m_say(notReadyMessage(m_link.ReadCardStatus()));
    return false;
}

int MeterSession::linkFailed(const QString& what, const QString& reason)
{
    // A wait cut short by a stop request is no fault of the link.
    if (stopSignal() == 0)
        m_say(m_errors.message(what) + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    return kExitLinkFailed;
}

QString MeterSession::registerText(int r) const
{
    return QStringLiteral("rejestr %1").arg(registerLabel(m_link.MeterModel, r));
}

bool MeterSession::takeSimMessages()
{
    if (!m_sim)
        return false;
    const QStringList messages = m_sim->takeMessages();
    for (const QString& m : messages)
        m_say(m);
    m_simShown << messages;
    return !messages.isEmpty();
}

bool MeterSession::keepInHistory(const RegisterTable& table, HistoryKind kind)
{
    const FileResult kept = ConfigHistory(m_historyFolder).record(table, m_link.MeterModel, m_link.MeterAddress, kind);
    if (!kept.ok)
        m_say(kept.message);
    return kept.ok;
}

int MeterSession::readMeter(RegisterTable& table)
{
    TransferResult result;
    {
        ProgressDisplay bar = progress(QStringLiteral("Odczyt rejestrów"));
        result = ReadConfiguration(m_link, table, [&bar](int done, int total) { bar.update(done, total); });
    }
    if (!result.complete)
        return linkFailed(registerText(result.done));
    return kExitOk;
}

Comparison MeterSession::compare(const RegisterTable& file, bool keepRead)
{
    Comparison c;
    c.meter = file;
    c.code = readMeter(c.meter);
    if (c.code != kExitOk)
        return c;
    if (keepRead && stopSignal() == 0)
        keepInHistory(withoutDescription(c.meter), HistoryKind::Read);
    // Values are compared as the file holds them: seven digits. The meter
    // keeps the same seven digits, but its decoding may land one step of
    // the last binary digit away from the file reader's.
    for (int r = 0; r < file.RegCount; ++r) {
        const auto slot = static_cast<std::size_t>(r);
        if (PointValueText(file.RegValue[slot]) != PointValueText(c.meter.RegValue[slot]))
            c.differing.push_back(r);
    }
    if (m_showComparison && stopSignal() == 0)
        m_showComparison(file, c);
    return c;
}

WriteOutcome MeterSession::readBack(const RegisterTable& table)
{
    const Comparison c = compare(table);
    if (c.code != kExitOk)
        return {WriteStep::ReadBack, c.code, {}};
    if (!c.differing.empty())
        return {WriteStep::Differs, kExitDiffers, c.differing};
    return {};
}

WriteOutcome MeterSession::refuseByGuard(const LinkGuard& guard, const WriteRequest& request)
{
    const std::int16_t model = m_link.MeterModel;
    if (guard.unusable()) {
        for (const QString& line : guard.unusableLines(model))
            m_say(line);
        return {WriteStep::Guard, kExitUsage, {}};
    }
    if (guard.changesLink() && !request.changeLink) {
        for (const QString& line : guard.lines(model))
            m_say(line);
        m_say(QStringLiteral("Zapis zmieniłby łącze miernika. Użyj %1, aby mimo to zapisać.").arg(m_io.linkChangeOption));
        return {WriteStep::Guard, kExitUsage, {}};
    }
    return {};
}

WriteOutcome MeterSession::write(const RegisterTable& table, const WriteRequest& request)
{
    m_reached = WriteReach::Untouched;
    m_sent = 0;
    WriteOutcome outcome = writeSteps(table, request);
    outcome.reached = m_reached;
    outcome.registersSent = m_sent;
    return outcome;
}

WriteOutcome MeterSession::writeSteps(const RegisterTable& table, const WriteRequest& request)
{
    // A file whose address, baud code, transmit check or response time are
    // not the link in use would move the meter off the network at its next
    // start: only when the user says so. What the file alone tells is
    // refused before the card is touched.
    if (const WriteOutcome refused = refuseByGuard(checkLinkChanges(m_link, table), request);
        refused.step != WriteStep::Done)
        return refused;
    if (!prepareLink())
        return {WriteStep::Card, kExitLinkFailed, {}};
    // The meter's response time is its own: read, so that a change of it is
    // named like any other change of the link.
    const LinkGuard guard = checkLinkChanges(m_link, table, readResponseTime(m_link));
    if (stopSignal() != 0)
        return {WriteStep::Guard, kExitOk, {}};
    if (const WriteOutcome refused = refuseByGuard(guard, request); refused.step != WriteStep::Done)
        return refused;
    if (guard.movesMeter()) {
        // Moved onto a meter that is there already, it would garble every
        // reply of both, and a proof would hear the other one.
        const MeterLink to = guard.after;
        const std::optional<QString> found = meterAnsweringAt(m_link, to);
        if (stopSignal() != 0)
            return {WriteStep::Guard, kExitOk, {}};
        if (found) {
            m_say(linkTakenText(to, *found));
            return {WriteStep::Guard, kExitUsage, {}};
        }
    }
    if (request.backup) {
        // The meter's configuration as it is, into the history, before
        // anything of it is overwritten. Without it nothing is written.
        RegisterTable before = withoutDescription(table);
        if (const int failed = readMeter(before); failed != kExitOk)
            return {WriteStep::Backup, failed, {}};
        if (stopSignal() != 0)
            return {WriteStep::Backup, kExitOk, {}};
        if (!keepInHistory(before, HistoryKind::Read))
            return {WriteStep::Backup, kExitUsage, {}};
    }

    // The progress is reported after each request went out and before its
    // acknowledgement is awaited: the link's errors counted by then are the
    // card's failures to send, and any after the last register belong to
    // the EEPROM request.
    // A stop that came before the first register leaves the meter untouched.
    if (stopSignal() != 0)
        return {WriteStep::Registers, kExitOk, {}};
    std::optional<int> unsent; // the first register the card did not report sent
    int errorsSeen = m_errors.count();
    TransferResult result;
    {
        ProgressDisplay bar = progress(QStringLiteral("Zapis rejestrów"));
        result = WriteConfiguration(m_link, table, request.eeprom, [&](int done, int total) {
            bar.update(done, total);
            m_sent = done;
            m_reached = WriteReach::Ram;
            if (!unsent && m_errors.count() > errorsSeen)
                unsent = done - 1;
            errorsSeen = m_errors.count();
        });
    }
    // The EEPROM request expects no reply; its trace line is due now, before
    // the verdict.
    if (m_trace)
        m_trace->finish();
    if (!result.complete) {
        // The register that failed is the last one counted; when its request
        // went out, it was the meter that did not answer.
        const int failed = result.done - 1;
        return {WriteStep::Registers,
                linkFailed(registerText(failed), unsent == failed ? QString() : QStringLiteral("brak potwierdzenia zapisu")),
                {}};
    }
    if (unsent)
        return {WriteStep::Registers, linkFailed(registerText(*unsent)), {}};
    if (m_errors.count() > errorsSeen)
        return {WriteStep::StoreRequest, linkFailed(QStringLiteral("zapis w pamięci EEPROM")), {}};
    if (request.eeprom && stopSignal() == 0)
        m_reached = WriteReach::StoreRequested;
    keepInHistory(table, HistoryKind::Written);
    if (!request.eeprom) {
        if (guard.changesLink())
            m_say(QStringLiteral("Miernik odpowiada dalej %1; nowe ustawienia łącza przyjmie dopiero po zapisie "
                                 "w pamięci EEPROM i resecie.")
                      .arg(linkPlaceText(linkInUse(m_link))));
        return request.verify ? readBack(table) : WriteOutcome{};
    }
    // The simulator keeps its EEPROM in a file; if that could not be
    // written the store did not last, and saying it did would be a lie.
    if (takeSimMessages())
        return {WriteStep::StoreRequest, kExitUsage, {}};
    if (request.verify)
        return proveStore(table, guard);
    // The store request has no reply: nobody has confirmed anything yet.
    m_say(QStringLiteral("Wysłano polecenie zapisu w pamięci EEPROM (miernik go nie potwierdza)."));
    if (guard.changesLink())
        m_say(QStringLiteral("Po resecie miernik będzie odpowiadał %1.").arg(linkPlaceText(guard.after)));
    return {};
}

// The store is only called done once the meter, restarted from its EEPROM,
// gives back what was written. No reset goes out while it may still store.
WriteOutcome MeterSession::proveStore(const RegisterTable& table, const LinkGuard& guard)
{
    std::optional<ProgressDisplay> bar;
    std::optional<RestartStep> barStep;
    RestartSteps steps;
    steps.after = guard.after;
    steps.follow = [this](const MeterLink& to) { useLink(m_link, to); };
    steps.progress = [&](RestartStep step, std::chrono::nanoseconds waited, std::chrono::nanoseconds bound) {
        // Past the wait for the store, the meter has answered after it.
        if (step != RestartStep::Storing)
            m_reached = WriteReach::Stored;
        if (barStep != step) {
            bar.reset();
            bar.emplace(progress(step == RestartStep::Storing ? QStringLiteral("Oczekiwanie na koniec zapisu w EEPROM (s)")
                                                              : QStringLiteral("Oczekiwanie na start miernika (s)")));
            barStep = step;
        }
        using Seconds = std::chrono::duration<double>;
        bar->update(static_cast<int>(Seconds(waited).count()), static_cast<int>(Seconds(bound).count() + 0.5));
    };
    const RestartOutcome restarted = restartAfterStore(m_link, steps);
    if (restarted.ok || restarted.failedAt != RestartStep::Storing)
        m_reached = WriteReach::Stored;
    bar.reset();
    if (m_trace)
        m_trace->finish();
    if (stopSignal() != 0)
        return {WriteStep::Storing, kExitOk, {}};
    if (!restarted.ok) {
        const auto seconds = [](std::chrono::nanoseconds bound) {
            return secondsText(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(bound).count()));
        };
        switch (restarted.failedAt) {
        case RestartStep::Storing:
            m_say(QStringLiteral("Miernik nie odpowiada po poleceniu zapisu w pamięci EEPROM (czekano %1); "
                                 "nie wysłano resetu.")
                      .arg(seconds(storeBound(regCountOf(m_link.MeterModel)))));
            return {WriteStep::Storing, kExitLinkFailed, {}};
        case RestartStep::Reset:
            return {WriteStep::Reset, linkFailed(QStringLiteral("reset miernika")), {}};
        case RestartStep::ResetIgnored:
            m_say(QStringLiteral("Miernik odpowiedział zaraz po resecie: reset nie został przyjęty."));
            return {WriteStep::Reset, kExitLinkFailed, {}};
        case RestartStep::Starting:
            if (restarted.backAtOldLink) {
                m_say(storeLostText());
                m_say(QStringLiteral("Miernik odpowiada dalej %1.").arg(linkPlaceText(linkInUse(m_link))));
                return {WriteStep::Starting, kExitLinkFailed, {}};
            }
            m_say(QStringLiteral("Miernik nie odpowiada po resecie %1 (czekano %2).")
                      .arg(linkPlaceText(guard.after), seconds(kStartBound)));
            return {WriteStep::Starting, kExitLinkFailed, {}};
        }
    }
    // The meter restarted from its EEPROM after acknowledging every
    // register: whatever differs now, the EEPROM did not keep. One line says
    // so rather than a list of registers.
    const ShowComparison show = std::exchange(m_showComparison, {});
    const Comparison c = compare(table);
    m_showComparison = show;
    WriteOutcome checked;
    if (c.code != kExitOk)
        checked = {WriteStep::ReadBack, c.code, {}};
    else if (!c.differing.empty())
        checked = {WriteStep::Differs, kExitDiffers, c.differing};
    if (stopSignal() == 0) {
        if (checked.step == WriteStep::Differs)
            m_say(storeLostText());
        else if (c.code == kExitOk && m_showComparison)
            m_showComparison(table, c);
    }
    if (checked.step == WriteStep::Done) {
        m_say(QStringLiteral("Zapisano konfigurację w pamięci EEPROM miernika (sprawdzono po resecie)."));
        if (guard.changesLink())
            m_say(QStringLiteral("Miernik odpowiada teraz %1.").arg(linkPlaceText(guard.after)));
    }
    return checked;
}

} // namespace vardel
