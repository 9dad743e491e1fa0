#include "cli/CliScan.h"

#include "cli/CliResults.h"
#include "link/Module1.h"

namespace vardel {

namespace {

// Whether the meter's registers under this model's layout hold what the
// card reached it with: the address (where the model keeps it) and the baud
// code. A register that cannot be read does not fit.
bool fits(Module1& link, const MeterModelInfo& model, int address, std::int16_t baudCode)
{
    link.MeterModel = model.model;
    const auto holds = [&link](int reg, int expected) {
        if (reg < 0)
            return true;
        float value = 0.0f;
        std::int16_t flag = 1;
        link.ReadConfigReg(static_cast<std::int16_t>(reg), value, flag);
        return flag == 0 && value == static_cast<float>(expected);
    };
    return holds(model.link.address, address) && holds(model.link.baudCode, baudCode);
}

} // namespace

int runScan(Module1& link, CliErrors& errors, const CliOptions& options, const CliContext& context)
{
    std::vector<std::int16_t> bauds = options.scanBauds;
    if (bauds.empty())
        bauds = {0, 1, 2, 3, 4, 5};

    const std::int16_t savedAddress = link.MeterAddress;
    const std::int16_t savedBaud = link.BaudCode;
    const std::int16_t savedModel = link.MeterModel;

    const int perBaud = options.scanLast - options.scanFirst + 1;
    const int total = static_cast<int>(bauds.size()) * perBaud;
    int done = 0;
    int found = 0;
    bool cardFailed = false;
    int failedAt = 0;
    bool interrupted = false;
    ProgressDisplay bar(QStringLiteral("Przeszukiwanie sieci"), context.stderrIsTerminal, context.rawErr);
    CliResults results(context, options.format,
                       {QStringLiteral("address"), QStringLiteral("baud"), QStringLiteral("model")});
    results.begin();

    for (std::int16_t code : bauds) {
        for (int address = options.scanFirst; address <= options.scanLast && !cardFailed; ++address) {
            if (context.stopRequested()) {
                interrupted = true;
                break;
            }
            link.MeterAddress = static_cast<std::int16_t>(address);
            link.BaudCode = code;
            link.CardSetLink();

            errors.clear();
            float value = 0.0f;
            std::int16_t flag = 1;
            link.MeterModel = kModelKX2;
            link.ReadConfigReg(0, value, flag);
            bar.update(++done, total);
            if (flag != 0) {
                // Silence is the usual answer; a request the card never sent
                // means the card itself has stopped working (unless Ctrl+C
                // cut the wait short).
                cardFailed = errors.first() == CliErrors::Kind::Transmit
                    && !(context.stopRequested());
                failedAt = address;
                continue;
            }

            QStringList models;
            for (const MeterModelInfo& model : meterModels()) {
                if (fits(link, model, address, code))
                    models << modelNameOf(model.model);
            }
            // A model read that Ctrl+C cut short tells nothing about the
            // meter: it answered, but was not checked.
            const QString model = context.stopRequested() ? QStringLiteral("niesprawdzony")
                : models.isEmpty()                        ? QStringLiteral("nieznany")
                                                          : models.join(QLatin1Char('|'));
            bar.hide();
            const int rate = baudRateOf(code);
            results.add(QStringLiteral("%1 %2 %3").arg(address).arg(rate).arg(model),
                        {RecordValue::fromInteger(address), RecordValue::fromInteger(rate), RecordValue::fromText(model)});
            ++found;
        }
        if (cardFailed || interrupted)
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
