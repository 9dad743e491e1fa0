#include "cli/CliScan.h"

#include "cli/CliResults.h"
#include "config/LinkGuard.h"
#include "link/Module1.h"

#include <numeric>

namespace vardel {

namespace {

// A read request is four bytes, its reply one number of six.
constexpr int kProbeRequestBytes = 4;
constexpr int kProbeReplyBytes = 6;

// How many of the meter's registers under this model's layout hold the link
// the card reached it at: -1 when one does not (or cannot be read).
int fits(Module1& link, const MeterModelInfo& model, const MeterLink& at)
{
    link.MeterModel = model.model;
    int held = 0;
    const auto holds = [&link, &held](int reg, int expected) {
        if (reg < 0)
            return true;
        float value = 0.0f;
        std::int16_t flag = 1;
        link.ReadConfigReg(static_cast<std::int16_t>(reg), value, flag);
        ++held;
        return flag == 0 && value == static_cast<float>(expected);
    };
    const bool all = holds(model.link.address, at.address) && holds(model.link.baudCode, at.baudCode)
        && holds(model.link.transmitCheck, at.transmitCheck);
    return all ? held : -1;
}

// "2 min 15 s", "40 s": what is left, rounded up to whole seconds.
QString timeLeftText(std::chrono::nanoseconds left)
{
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
}

} // namespace

std::chrono::nanoseconds probeReplyBound(std::int16_t baudCode, std::chrono::milliseconds response)
{
    const auto needs = wireTime(kProbeRequestBytes, baudCode) + std::chrono::nanoseconds(response)
        + wireTime(kProbeReplyBytes, baudCode);
    return needs + needs / 5 + std::chrono::milliseconds(20);
}

std::vector<std::int16_t> modelsAnswering(Module1& link)
{
    const std::int16_t selected = link.MeterModel;
    const MeterLink at = linkInUse(link);
    // A model whose layout holds the address too says more than one whose
    // baud code and transmit check (small numbers any memory may hold)
    // happen to match: only the models with the most registers held count.
    std::vector<std::int16_t> models;
    int most = 0;
    for (const MeterModelInfo& model : meterModels()) {
        const int held = fits(link, model, at);
        if (held > most)
            models.clear();
        if (held >= most && held > 0) {
            models.push_back(model.model);
            most = held;
        }
    }
    link.MeterModel = selected;
    return models;
}

QString modelsText(const std::vector<std::int16_t>& models)
{
    if (models.empty())
        return QStringLiteral("nieznany");
    QStringList names;
    for (const std::int16_t model : models)
        names << modelNameOf(model);
    return names.join(QLatin1Char('|'));
}

int runScan(Module1& link, CliErrors& errors, const CliOptions& options, const CliContext& context)
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
                cardFailed = errors.first() == CliErrors::Kind::Transmit && !context.stopRequested();
                failedAt = address;
                if (cardFailed)
                    break;
                continue;
            }

            const std::vector<std::int16_t> models = modelsAnswering(link);
            // A model read that Ctrl+C cut short tells nothing about the
            // meter: it answered, but was not checked.
            const QString model = context.stopRequested() ? QStringLiteral("niesprawdzony") : modelsText(models);
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
