#include "cli/CliScan.h"

#include "cli/CliResults.h"
#include "meterops/MeterSession.h"
#include "config/LinkGuard.h"
#include "link/Module1.h"

#include <numeric>

namespace vardel {

namespace {

// A read request is four bytes, its reply one number of six.
constexpr int kProbeRequestBytes = 4;
constexpr int kProbeReplyBytes = 6;

} // namespace

std::chrono::nanoseconds probeReplyBound(std::int16_t baudCode, std::chrono::milliseconds response)
{
    const auto needs = wireTime(kProbeRequestBytes, baudCode) + std::chrono::nanoseconds(response)
        + wireTime(kProbeReplyBytes, baudCode);
    return needs + needs / 5 + std::chrono::milliseconds(20);
}

ScanOutcome scanNetwork(Module1& link, LinkErrors& errors, const ScanPlan& plan, const CliContext& context,
                        const std::function<void(const ScanFind&)>& onFound)
{
    const std::int16_t savedAddress = link.MeterAddress;
    const std::int16_t savedBaud = link.BaudCode;
    const std::int16_t savedModel = link.MeterModel;

    const int perBaud = static_cast<int>(plan.addresses.size());
    ScanOutcome outcome;
    outcome.total = static_cast<int>(plan.bauds.size()) * perBaud;
    // What the probes still to come take when nobody answers them, which is
    // nearly all of them: the time the progress line says is left.
    std::chrono::nanoseconds left{0};
    for (const std::int16_t code : plan.bauds)
        left += perBaud * probeReplyBound(code, plan.response);

    bool enough = false;
    ProgressDisplay bar(QStringLiteral("Przeszukiwanie sieci"), context.stderrIsTerminal, context.rawErr);
    for (std::int16_t code : plan.bauds) {
        const auto bound = probeReplyBound(code, plan.response);
        for (const std::int16_t address : plan.addresses) {
            if (context.stopRequested()) {
                outcome.interrupted = true;
                break;
            }
            link.MeterAddress = address;
            link.BaudCode = code;
            link.CardSetLink();

            errors.clear();
            float value = 0.0f;
            std::int16_t flag = 1;
            link.MeterModel = kModelKX2;
            link.ReadConfigReg(0, value, flag, bound);
            left -= bound;
            bar.update(++outcome.done, outcome.total, QStringLiteral("zostało ok. %1").arg(timeLeftText(left)));
            if (flag != 0) {
                // Silence is the usual answer; a request the card never sent
                // means the card itself has stopped working (unless Ctrl+C
                // cut the wait short).
                outcome.cardFailed = errors.first() == LinkErrors::Kind::Transmit && !context.stopRequested();
                outcome.failedAt = address;
                if (outcome.cardFailed)
                    break;
                continue;
            }

            ScanFind find{address, code, checkMeterModel(link), true};
            // A model read that Ctrl+C cut short tells nothing about the
            // meter: it answered, but was not checked.
            find.checked = !context.stopRequested();
            bar.hide();
            onFound(find);
            ++outcome.found;
            if (plan.firstOnly) {
                enough = true;
                break;
            }
        }
        if (outcome.cardFailed || outcome.interrupted || enough)
            break;
    }
    bar.finish();

    // The card gets the configured parameters back even after Ctrl+C, whose
    // stop request would make the link drop every write to the card.
    link.MeterAddress = savedAddress;
    link.BaudCode = savedBaud;
    link.MeterModel = savedModel;
    link.setStopFlag(nullptr);
    link.CardSetLink();
    link.setStopFlag(context.stopSignal);
    errors.clear();
    return outcome;
}

int runScan(Module1& link, LinkErrors& errors, const CliOptions& options, const CliContext& context)
{
    ScanPlan plan;
    plan.bauds = options.scanBauds;
    if (plan.bauds.empty())
        plan.bauds = {0, 1, 2, 3, 4, 5};
    plan.addresses = options.addresses;
    if (plan.addresses.empty()) {
        plan.addresses.resize(256);
        std::iota(plan.addresses.begin(), plan.addresses.end(), std::int16_t{0});
    }
    plan.response = options.responseTimeMs ? std::chrono::milliseconds(*options.responseTimeMs) : kFactoryResponseTime;
    plan.firstOnly = options.scanFirstOnly;

    CliResults results(context, options.format,
                       {QStringLiteral("address"), QStringLiteral("baud"), QStringLiteral("model")});
    results.begin();
    const ScanOutcome outcome = scanNetwork(link, errors, plan, context, [&results](const ScanFind& find) {
        const QString model = find.checked ? modelText(find.finding) : QStringLiteral("niesprawdzony");
        const int rate = baudRateOf(find.baudCode);
        results.add(QStringLiteral("%1 %2 %3").arg(find.address).arg(rate).arg(model),
                    {RecordValue::fromInteger(find.address), RecordValue::fromInteger(rate), RecordValue::fromText(model)});
    });

    if (outcome.cardFailed) {
        context.err(QStringLiteral("Błąd nadawania danych (adres %1)").arg(outcome.failedAt));
        return kExitLinkFailed;
    }
    if (context.stopRequested()) {
        // The addresses not probed say nothing of the meters there: no
        // "none answered" after a stop. The signal gives the exit code.
        context.err(QStringLiteral("Przeszukiwanie przerwane po %1 z %2 prób.").arg(outcome.done).arg(outcome.total));
        return kExitOk;
    }
    if (outcome.found == 0) {
        context.err(QStringLiteral("Żaden miernik nie odpowiedział."));
        return kExitLinkFailed;
    }
    return kExitOk;
}

} // namespace vardel
