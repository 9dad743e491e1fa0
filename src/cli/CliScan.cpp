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

int runScan(Module1& link, LinkErrors& errors, const CliOptions& options, const CliContext& context)
{
    std::vector<std::int16_t> bauds = options.scanBauds;
    if (bauds.empty())
        bauds = {0, 1, 2, 3, 4, 5};
    std::vector<std::int16_t> addresses = options.addresses;
    if (addresses.empty()) {
        addresses.resize(256);
        std::iota(addresses.begin(), addresses.end(), std::int16_t{0});
    }

    const std::int16_t savedAddress = link.MeterAddress;
    const std::int16_t savedBaud = link.BaudCode;
    const std::int16_t savedModel = link.MeterModel;

    const std::chrono::milliseconds response =
        options.responseTimeMs ? std::chrono::milliseconds(*options.responseTimeMs) : kFactoryResponseTime;
    const int perBaud = static_cast<int>(addresses.size());
    const int total = static_cast<int>(bauds.size()) * perBaud;
    // What the probes still to come take when nobody answers them, which is
    // nearly all of them: the time the progress line says is left.
    std::chrono::nanoseconds left{0};
    for (const std::int16_t code : bauds)
        left += perBaud * probeReplyBound(code, response);

    int done = 0;
    int found = 0;
    bool cardFailed = false;
    int failedAt = 0;
    bool interrupted = false;
    bool enough = false;
    ProgressDisplay bar(QStringLiteral("Przeszukiwanie sieci"), context.stderrIsTerminal, context.rawErr);
    CliResults results(context, options.format,
                       {QStringLiteral("address"), QStringLiteral("baud"), QStringLiteral("model")});
    results.begin();

    for (std::int16_t code : bauds) {
        const auto bound = probeReplyBound(code, response);
        for (const std::int16_t address : addresses) {
            if (context.stopRequested()) {
                interrupted = true;
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
            bar.update(++done, total, QStringLiteral("zostało ok. %1").arg(timeLeftText(left)));
            if (flag != 0) {
                // Silence is the usual answer; a request the card never sent
                // means the card itself has stopped working (unless Ctrl+C
                // cut the wait short).
                cardFailed = errors.first() == LinkErrors::Kind::Transmit && !context.stopRequested();
                failedAt = address;
                if (cardFailed)
                    break;
                continue;
            }

            const ModelFinding finding = checkMeterModel(link);
            // A model read that Ctrl+C cut short tells nothing about the
            // meter: it answered, but was not checked.
            const QString model = context.stopRequested() ? QStringLiteral("niesprawdzony") : modelText(finding);
            bar.hide();
            const int rate = baudRateOf(code);
            results.add(QStringLiteral("%1 %2 %3").arg(address).arg(rate).arg(model),
                        {RecordValue::fromInteger(address), RecordValue::fromInteger(rate), RecordValue::fromText(model)});
            ++found;
            if (options.scanFirstOnly) {
                enough = true;
                break;
            }
        }
        if (cardFailed || interrupted || enough)
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

    if (cardFailed) {
        context.err(QStringLiteral("Błąd nadawania danych (adres %1)").arg(failedAt));
        return kExitLinkFailed;
    }
    if (context.stopRequested()) {
        // The addresses not probed say nothing of the meters there: no
        // "none answered" after a stop. The signal gives the exit code.
        context.err(QStringLiteral("Przeszukiwanie przerwane po %1 z %2 prób.").arg(done).arg(total));
        return kExitOk;
    }
    if (found == 0) {
        context.err(QStringLiteral("Żaden miernik nie odpowiedział."));
        return kExitLinkFailed;
    }
    return kExitOk;
}

} // namespace vardel
