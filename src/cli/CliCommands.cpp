#include "cli/CliCommands.h"

#include "app/Settings.h"
#include "cli/CliDiff.h"
#include "cli/CliHistory.h"
#include "meterops/MeterFeedback.h"
#include "cli/CliResults.h"
#include "cli/CliProgram.h"
#include "cli/CliScan.h"
#include "meterops/MeterSession.h"
#include "measure/MeasureRecord.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "files/ConfigFile.h"
#include "files/ConfigHistory.h"
#include "gateway/MeterGateway.h"
#include "gateway/MeterList.h"
#include "gateway/ModbusServer.h"
#include "link/Module1.h"
#include "measure/MeasureValues.h"
#include "report/PdfReport.h"
#include "sim/SimCard.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFileInfo>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <thread>

namespace vardel {

namespace {

bool needsModel(CliCommand c)
{
    return c == CliCommand::Read || c == CliCommand::Write || c == CliCommand::Verify
        || c == CliCommand::Measure || c == CliCommand::Print || c == CliCommand::Program;
}

// The commands that load the link parameters into the card.
bool loadsLink(CliCommand c)
{
    return c == CliCommand::Read || c == CliCommand::Write || c == CliCommand::Verify || c == CliCommand::Measure
        || c == CliCommand::ResetMeter || c == CliCommand::Scan || c == CliCommand::Program || c == CliCommand::Serve;
}

// The port of a command that never reaches the card (the printout): it
// answers like an empty bus.
class NoPort final : public PortBackend {
public:
    void vbOut(std::uint16_t, std::uint8_t) override {}
    std::uint8_t vbInp(std::uint16_t) override { return 0xFF; }
};

class Runner {
public:
    Runner(const CliOptions& options, const CliContext& context)
        : m_opt(options)
        , m_ctx(context)
    {
    }

    int run();

private:
    int usage(const QString& message)
    {
        m_ctx.err(message);
        return kExitUsage;
    }

    // The extension of a configuration file names the model it was saved
    // under; read under another model its lines land in the wrong registers.
    std::optional<int> refuseOtherModel(const QString& path)
    {
        const auto named = modelOfFileName(path);
        if (named && *named != m_link->MeterModel && !m_opt.force)
            return usage(otherModelMessage(path, *named, m_link->MeterModel));
        return std::nullopt;
    }

    std::optional<int> loadConfiguration(RegisterTable& table, const QString& path)
    {
        if (auto refused = refuseOtherModel(path))
            return refused;
        const FileResult loaded = ReadConfigFile(table, path);
        if (!loaded.ok)
            return usage(loaded.message);
        return std::nullopt;
    }

    int stopSignal() const { return m_ctx.stopSignal ? m_ctx.stopSignal->load() : 0; }
    std::optional<int> refuseBadLinkSettings(const Settings& settings);
    int takeCard(std::uint16_t cardAddress);

    // Power stays on between programs: what this command left in a meter's
    // RAM is there for the next one. A state file that cannot be written is
    // said once and fails a command that would otherwise have succeeded.
    int keepSimState(int code)
    {
        QString error;
        if (!m_sim || m_sim->saveChanges(&error))
            return code;
        if (!m_session || !m_session->simShown().contains(error))
            m_ctx.err(error);
        return code == kExitOk ? kExitUsage : code;
    }

    // verify's lines (and write --verify's): one per register that differs,
    // „Zgodność: …” when none does.
    void showComparison(const RegisterTable& file, const Comparison& c);
    int cardTest();
    int cardReset();
    int cardStatus(std::uint8_t status);
    int read();
    int write();
    int verify();
    int measure();
    int print();
    int resetMeter();
    // Bench additions (their work lives in CliScan, CliDiff, CliProgram, MeasureRecord).
    int scan();
    int diff();
    int program();
    int serve();
    // serve: the meters of --addresses, --meters or --scan that will be
    // served, each at its own link with its model (given, or told by its
    // memory); the others said. Not kExitOk: the gateway cannot start.
    int servedMeters(std::vector<ServedMeter>& served);
    int scannedMeters(std::vector<ServedMeter>& served);
    // The model given, or the one the meter's memory proves; false: said why not.
    bool tellModel(ServedMeter& meter, std::optional<std::int16_t> given);
    void notServed(std::int16_t address, const QString& why);
    // --response-time, if given.
    std::optional<std::chrono::milliseconds> responseTimeOption() const
    {
        return m_opt.responseTimeMs ? std::optional(std::chrono::milliseconds(*m_opt.responseTimeMs)) : std::nullopt;
    }

    const CliOptions& m_opt;
    const CliContext& m_ctx;
    NoPort m_noPort;
    OpenCard m_card;
    SimCard* m_sim = nullptr;
    std::unique_ptr<Module1> m_link;
    RegisterTable m_table;
    LinkErrors m_errors;
    std::unique_ptr<LinkTrace> m_trace;
    QString m_historyFolder;
    std::unique_ptr<MeterSession> m_session;
};

int Runner::run()
{
    const Settings settings = readSettingsFile(settingsFilePath(m_ctx.programDir));
    const std::optional<std::int16_t> cardAddress = commandCardAddress(m_opt, settings);
    // A production line's file names its model; program takes it from there
    // unless --model says otherwise.
    const std::optional<std::int16_t> fileModel =
        m_opt.command == CliCommand::Program ? modelOfFileName(m_opt.file) : std::nullopt;
    const std::int16_t model = m_opt.model.value_or(fileModel.value_or(settings.MeterModel));
    if (needsModel(m_opt.command) && (model < kModelKX2 || model > kModelKX4))
        return usage(QStringLiteral("Nie wybrano modelu miernika (Vardel.cfg podaje %1); użyj --model KX-2|KX-3|KX-4.")
                         .arg(model));
    if (loadsLink(m_opt.command)) {
        if (const auto refused = refuseBadLinkSettings(settings))
            return *refused;
    }

    m_historyFolder = historyFolder(m_opt.start, m_ctx.programDir);
    if (m_opt.command == CliCommand::History)
        return runHistory(m_historyFolder, m_opt, m_ctx);

    if (cardAddress) {
        if (isSystemPortPair(*cardAddress))
            return usage(QStringLiteral("Adres karty %1 z pliku Vardel.cfg: %2. Podaj --card-address.")
                             .arg(QString::fromStdString(hexText(*cardAddress)), QString::fromUtf8(kSystemPortsText)));
        if (m_ctx.port)
            m_sim = dynamic_cast<SimCard*>(m_ctx.port);
        else if (const int failed = takeCard(static_cast<std::uint16_t>(*cardAddress)); failed != kExitOk)
            return failed;
    }

    PortBackend& port = m_ctx.port ? *m_ctx.port : m_card.backend ? *m_card.backend : m_noPort;
    m_link = std::make_unique<Module1>(port);
    m_link->setStopFlag(m_ctx.stopSignal);
    if (m_sim)
        m_link->setCardClock(&m_sim->cardClock());
    m_link->setCardAddress(m_opt.cardAddress.value_or(settings.CardAddress));
    m_link->MasterAddress = m_opt.masterAddress.value_or(settings.MasterAddress);
    m_link->MeterAddress = m_opt.meterAddress.value_or(settings.MeterAddress);
    m_link->BaudCode = m_opt.baudCode.value_or(settings.BaudCode);
    m_link->TransmitCheck = m_opt.transmitCheck.value_or(settings.TransmitCheck);
    m_link->RegBase = settings.RegBase;
    if (m_opt.responseTimeMs)
        m_link->setResponseTime(std::chrono::milliseconds(*m_opt.responseTimeMs));
    m_link->setErrorWindows(&m_errors);
    if (needsModel(m_opt.command))
        selectModel(*m_link, m_table, model, m_ctx.programDir);
    else
        m_link->MeterModel = model;

    if (!m_opt.trace.isEmpty()) {
        QString error;
        const QString what = m_opt.trace == QLatin1String("-")
            ? QStringLiteral("standardowego wyjścia błędów")
            : QStringLiteral("pliku %1").arg(QDir::toNativeSeparators(m_opt.trace));
        auto lost = [this, what](int errnum) {
            if (m_ctx.outputLost)
                m_ctx.outputLost(errnum, what);
        };
        m_trace = openLinkTrace(m_opt.trace, error, lost, m_ctx.stopSignal);
        if (!m_trace)
            return stopSignal() != 0 ? m_ctx.stopExitCode() : usage(error); // a FIFO's open cut short by Ctrl+C
        m_trace->setCardClock(&m_link->cardClock());
        m_link->setListener(m_trace.get());
    }

    SessionIo io{m_ctx.err, m_ctx.rawErr, m_ctx.stderrIsTerminal, m_ctx.stopSignal};
    if (m_opt.command == CliCommand::Serve)
        io.linkChangeOption = QStringLiteral("--allow-link-change");
    m_session = std::make_unique<MeterSession>(io,
                                               *m_link, m_errors, m_trace.get(), m_sim, m_historyFolder);
    m_session->setShowComparison([this](const RegisterTable& file, const Comparison& c) { showComparison(file, c); });

    int code = kExitOk;
    switch (m_opt.command) {
    case CliCommand::CardTest: code = cardTest(); break;
    case CliCommand::CardReset: code = cardReset(); break;
    case CliCommand::Read: code = read(); break;
    case CliCommand::Write: code = write(); break;
    case CliCommand::Verify: code = verify(); break;
    case CliCommand::Measure: code = measure(); break;
    case CliCommand::Print: code = print(); break;
    case CliCommand::ResetMeter: code = resetMeter(); break;
    case CliCommand::Scan: code = scan(); break;
    case CliCommand::Diff: code = diff(); break;
    case CliCommand::Program: code = program(); break;
    case CliCommand::Serve: code = serve(); break;
    case CliCommand::History: // listed above, without a card
    case CliCommand::None: code = usage(QStringLiteral("Nie podano polecenia.")); break;
    }
    if (m_trace) {
        m_trace->finish();
        m_link->setListener(nullptr);
    }
    return keepSimState(code);
}

// The card, locked for this command: another program on it would garble
// both programs' exchanges.
int Runner::takeCard(std::uint16_t cardAddress)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(m_opt.waitLimitMs, 0));
    bool waitedLongEnough = false;
    CardWait wait;
    wait.wait = m_opt.wait;
    wait.stop = [&] {
        waitedLongEnough = m_opt.waitLimitMs >= 0 && Clock::now() >= deadline;
        return stopSignal() != 0 || waitedLongEnough;
    };
    wait.waiting = [this](const QString& message) {
        m_ctx.err(message + QStringLiteral(" Czekam, aż ją zwolni."));
    };
    QStringList notes;
    QString error;
    const CardOpen opened = vardel::openCard(m_opt.start, m_ctx.programDir, cardAddress, wait, m_card, notes, error);
    for (const QString& note : notes)
        m_ctx.err(note);
    if (opened == CardOpen::Opened) {
        m_sim = dynamic_cast<SimCard*>(m_card.backend.get());
        return kExitOk;
    }
    if (stopSignal() != 0)
        return m_ctx.stopExitCode();
    if (opened == CardOpen::Busy && waitedLongEnough)
        error += QStringLiteral(" Nie zwolnił jej w ciągu %1.").arg(secondsText(m_opt.waitLimitMs));
    m_ctx.err(error);
    return kExitNoBackend;
}

// Link values of Vardel.cfg that no option replaced, and that the card
// cannot take as they are: a baud code it does not know would leave it
// without a baud rate, an address beyond one byte would quietly reach
// another meter.
std::optional<int> Runner::refuseBadLinkSettings(const Settings& settings)
{
    if (!m_opt.baudCode && baudRateOf(settings.BaudCode) == 0)
        return usage(QStringLiteral("Nieprawidłowy kod prędkości transmisji (Vardel.cfg podaje %1); "
                                    "użyj --baud 1200|2400|4800|9600|19200|38400.")
                         .arg(settings.BaudCode));
    const auto outOfByte = [](std::int16_t address) { return address < 0 || address > 255; };
    if (!m_opt.meterAddress && outOfByte(settings.MeterAddress))
        return usage(QStringLiteral("Nieprawidłowy adres sieciowy miernika (Vardel.cfg podaje %1); "
                                    "użyj --meter-address 0..255.")
                         .arg(settings.MeterAddress));
    if (!m_opt.masterAddress && outOfByte(settings.MasterAddress))
        return usage(QStringLiteral("Nieprawidłowy adres sieciowy master-a (Vardel.cfg podaje %1); "
                                    "użyj --master-address 0..255.")
                         .arg(settings.MasterAddress));
    return std::nullopt;
}

int Runner::cardTest()
{
    return cardStatus(m_link->ReadCardStatus());
}

int Runner::cardReset()
{
    // As the button does: the pulse only; the link parameters are not
    // reloaded until the next command that talks to a meter.
    return cardStatus(m_link->CardReset());
}

// The status as the main window shows it; a card that does not show itself
// ready fails the test, so that a script need not decode the byte.
int Runner::cardStatus(std::uint8_t status)
{
    CliResults results(m_ctx, m_opt.format, {QStringLiteral("status"), QStringLiteral("ready")});
    const bool ready = cardStatusReady(status);
    results.add(QString::fromStdString(hexText(status)), {RecordValue::fromInteger(status), RecordValue::fromBool(ready)});
    if (ready)
        return kExitOk;
    m_ctx.err(notReadyMessage(status));
    return kExitLinkFailed;
}

int Runner::read()
{
    if (!m_opt.templateFile.isEmpty()) {
        if (auto failed = loadConfiguration(m_table, m_opt.templateFile))
            return *failed;
    }
    // Found out before the meter is read, not after a long read. A file
    // named for another model would later be loaded into the wrong registers.
    if (auto refused = refuseOtherModel(m_opt.output))
        return *refused;
    const QFileInfo target(m_opt.output);
    if (!target.absoluteDir().exists())
        return usage(QStringLiteral("Nie można zapisać pliku %1: %2")
                         .arg(QDir::toNativeSeparators(m_opt.output), QStringLiteral("brak folderu")));

    if (!m_session->prepareLink())
        return kExitLinkFailed;
    if (const int failed = m_session->readMeter(m_table); failed != kExitOk)
        return failed;
    if (stopSignal() != 0)
        return kExitOk; // asked to stop: no file is the answer, whole as the read may be

    m_session->keepInHistory(m_table, HistoryKind::Read);
    const FileResult saved = WriteConfigFile(m_table, m_opt.output);
    if (!saved.ok)
        return usage(saved.message);
    return kExitOk;
}

int Runner::write()
{
    if (auto failed = loadConfiguration(m_table, m_opt.file))
        return *failed;
    const WriteRequest request{m_opt.eeprom, m_opt.verifyAfterWrite, m_opt.backup, m_opt.changeLink};
    return m_session->write(m_table, request).code;
}

int Runner::verify()
{
    if (auto failed = loadConfiguration(m_table, m_opt.file))
        return *failed;
    if (!m_session->prepareLink())
        return kExitLinkFailed;
    const Comparison c = m_session->compare(m_table, true);
    if (c.code != kExitOk)
        return c.code;
    return c.differing.empty() ? kExitOk : kExitDiffers;
}

void Runner::showComparison(const RegisterTable& file, const Comparison& c)
{
    CliResults results(m_ctx, m_opt.format,
                       {QStringLiteral("register"), QStringLiteral("register_label"), QStringLiteral("file"),
                        QStringLiteral("meter")});
    results.begin();
    for (const int r : c.differing) {
        const auto slot = static_cast<std::size_t>(r);
        const QString inFile = PointValueText(file.RegValue[slot]);
        const QString inMeter = PointValueText(c.meter.RegValue[slot]);
        const QString label = registerLabel(m_link->MeterModel, r);
        results.add(QStringLiteral("Rejestr %1: w pliku %2, w mierniku %3").arg(label, inFile, inMeter),
                    {RecordValue::fromInteger(r), RecordValue::fromText(label), RecordValue::fromNumber(inFile),
                     RecordValue::fromNumber(inMeter)});
    }
    if (c.differing.empty())
        results.summary(QStringLiteral("Zgodność: wszystkie %1 rejestrów").arg(file.RegCount));
}

int Runner::measure()
{
    if (!m_session->prepareLink())
        return kExitLinkFailed;
    const std::int16_t model = m_link->MeterModel;
    const QString header = measureHeaderLine(m_opt.format, model);
    if (!header.isEmpty())
        m_ctx.out(header);

    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(m_opt.intervalMs);
    auto next = Clock::now();
    for (long tick = 0;; ++tick) {
        const QDateTime time = QDateTime::currentDateTime(); // when the request goes out
        const MeasureReading reading = readMeasuredValues(*m_link);
        if (reading.flag != 0)
            return m_session->linkFailed({});
        m_ctx.out(measureRecordLine(m_opt.format, model, time, reading.values, m_opt.decimalComma));

        if (m_opt.count > 0 && tick + 1 >= m_opt.count)
            return kExitOk;
        // On a fixed beat counted from the start, so a slow exchange does not
        // push every later line back; a beat missed altogether is skipped
        // rather than made up in a burst.
        next += interval;
        while (next <= Clock::now())
            next += interval;
        while (Clock::now() < next) {
            if (m_ctx.stopRequested())
                return kExitOk;
            std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50)));
        }
        if (m_ctx.stopRequested())
            return kExitOk;
    }
}

int Runner::print()
{
    if (auto failed = loadConfiguration(m_table, m_opt.file))
        return *failed;
    const NamesLoad names = LoadRegisterNames(m_table);
    if (!names.ok) {
        const bool missing = !QFileInfo::exists(m_table.NamesFile);
        return usage(missing ? QStringLiteral("Nie można wydrukować konfiguracji: brak pliku nazw rejestrów %1")
                                   .arg(QDir::toNativeSeparators(m_table.NamesFile))
                             : QStringLiteral("Nie można wydrukować konfiguracji. %1").arg(names.message));
    }
    QString error;
    if (!printConfigurationToPdf(m_table, m_link->MeterModel, m_opt.pdf, &error))
        return usage(error);
    return kExitOk;
}

int Runner::resetMeter()
{
    if (!m_session->prepareLink())
        return kExitLinkFailed;
    m_link->SendMeterReset();
    if (m_trace)
        m_trace->finish();
    if (m_errors.count() > 0)
        return m_session->linkFailed({});
    // The main window shows the card status after the reset request; so do we.
    m_ctx.out(QString::fromStdString(hexText(m_link->ReadCardStatus())));
    return kExitOk;
}

int Runner::scan()
{
    if (!m_session->prepareLink())
        return kExitLinkFailed;
    return runScan(*m_link, m_errors, m_opt, m_ctx);
}

int Runner::program()
{
    if (auto failed = loadConfiguration(m_table, m_opt.file))
        return *failed;
    return runProgram(*m_session, *m_link, m_errors, m_table, m_opt, m_ctx);
}

int Runner::diff()
{
    return runDiff(m_opt, m_ctx, *m_link, m_link->MeterModel);
}

} // namespace

QString otherModelMessage(const QString& path, std::int16_t fileModel, std::int16_t selected)
{
    return QStringLiteral("Plik %1 ma rozszerzenie modelu %2, a wybrany jest miernik %3. "
                          "Użyj --force, aby mimo to go użyć.")
        .arg(QDir::toNativeSeparators(path), modelNameOf(fileModel), modelNameOf(selected));
}

std::optional<std::int16_t> commandCardAddress(const CliOptions& options, const Settings& settings)
{
    // The printout, diff and the history read no meter: no card is needed for them.
    if (options.command == CliCommand::Print || options.command == CliCommand::Diff
        || options.command == CliCommand::History)
        return std::nullopt;
    return options.cardAddress.value_or(settings.CardAddress);
}

int runCli(const CliOptions& options, const CliContext& context)
{
    Runner runner(options, context);
    const int code = runner.run();
    // However the command ended, a stop says why it ended.
    return context.stopRequested() ? context.stopExitCode() : code;
}

} // namespace vardel

namespace vardel {

void Runner::notServed(std::int16_t address, const QString& why)
{
    m_ctx.err(QStringLiteral("Nie można rozpoznać modelu miernika pod adresem %1 (%2); nie będzie obsługiwany.")
                  .arg(address)
                  .arg(why));
}

bool Runner::tellModel(ServedMeter& meter, std::optional<std::int16_t> given)
{
    if (given) {
        meter.model = *given;
        return true;
    }
    // A gateway that guessed would serve one model's values under
    // another's boxes: only a model the memory proves is served.
    useLink(*m_link, meter.link);
    m_link->setResponseTime(meter.responseTime);
    const ModelFinding finding = checkMeterModel(*m_link);
    if (finding.model) {
        meter.model = *finding.model;
        return true;
    }
    notServed(meter.link.address,
              finding.readFailed ? QStringLiteral("miernik nie odpowiada") : QStringLiteral("model: %1").arg(modelText(finding)));
    return false;
}

int Runner::servedMeters(std::vector<ServedMeter>& served)
{
    const std::optional<std::chrono::milliseconds> optionResponse = responseTimeOption();
    if (m_opt.serveScan)
        return scannedMeters(served);

    // The meters named, by the list file or --addresses, each at its own link.
    std::vector<std::pair<ServedMeter, std::optional<std::int16_t>>> named;
    if (!m_opt.metersFile.isEmpty()) {
        std::vector<MeterListEntry> entries;
        QString error;
        if (!readMeterList(m_opt.metersFile, entries, error))
            return usage(error);
        for (const MeterListEntry& e : entries) {
            ServedMeter meter;
            meter.link = {e.address, e.baudCode.value_or(m_link->BaudCode), e.transmitCheck.value_or(m_link->TransmitCheck)};
            meter.responseTime = e.responseTimeMs ? std::optional(std::chrono::milliseconds(*e.responseTimeMs)) : optionResponse;
            named.emplace_back(meter, e.model ? e.model : m_opt.model);
        }
    } else {
        for (const std::int16_t address : m_opt.addresses) {
            ServedMeter meter;
            meter.link = {address, m_link->BaudCode, m_link->TransmitCheck};
            meter.responseTime = optionResponse;
            named.emplace_back(meter, m_opt.model);
        }
    }
    // A long list of meters not there costs a reply wait each: on a terminal
    // a bar says how far the start has come.
    ProgressDisplay bar(QStringLiteral("Rozpoznawanie mierników"), m_ctx.stderrIsTerminal, m_ctx.rawErr);
    int done = 0;
    for (auto& [meter, model] : named) {
        if (stopSignal() != 0)
            break;
        bar.hide(); // a meter not served is said on a line of its own
        if (tellModel(meter, model))
            served.push_back(meter);
        bar.update(++done, static_cast<int>(named.size()));
    }
    bar.finish();
    return kExitOk;
}

int Runner::scannedMeters(std::vector<ServedMeter>& served)
{
    ScanPlan plan;
    plan.bauds = m_opt.scanBauds.empty() ? std::vector<std::int16_t>{m_link->BaudCode} : m_opt.scanBauds;
    plan.addresses = m_opt.addresses;
    if (plan.addresses.empty()) {
        for (int a = kFirstUnit; a <= kLastUnit; ++a)
            plan.addresses.push_back(static_cast<std::int16_t>(a));
    }
    plan.response = responseTimeOption().value_or(kFactoryResponseTime);
    // Nothing else is said while a service scans: how long it will be.
    std::chrono::nanoseconds bound{0};
    QStringList rateTexts;
    for (const std::int16_t code : plan.bauds) {
        bound += static_cast<int>(plan.addresses.size()) * probeReplyBound(code, plan.response);
        rateTexts << QString::number(baudRateOf(code));
    }
    m_ctx.err(QStringLiteral("Szukanie mierników (liczba adresów: %1; prędkości: %2; do ok. %3).")
                  .arg(plan.addresses.size())
                  .arg(rateTexts.join(QStringLiteral(", ")), timeLeftText(bound)));
    std::vector<ScanFind> finds;
    const ScanOutcome outcome =
        scanNetwork(*m_link, m_errors, plan, m_ctx, [&finds](const ScanFind& find) { finds.push_back(find); });
    if (outcome.cardFailed) {
        m_ctx.err(QStringLiteral("Błąd nadawania danych (adres %1)").arg(outcome.failedAt));
        return kExitLinkFailed;
    }
    if (stopSignal() != 0)
        return kExitOk;
    // One unit identifier, one meter: meters that share an address at two
    // baud rates are served neither, as a client could not tell which one
    // it asked.
    std::map<std::int16_t, QStringList> ratesAt;
    for (const ScanFind& find : finds)
        ratesAt[find.address] << QString::number(baudRateOf(find.baudCode));
    for (const auto& [address, rates] : ratesAt) {
        if (rates.size() > 1)
            m_ctx.err(QStringLiteral("Pod adresem %1 odpowiadają mierniki przy %2 bodach; jednostka %1 nie będzie "
                                     "obsługiwana.")
                          .arg(address)
                          .arg(rates.join(QStringLiteral(" i "))));
    }
    for (const ScanFind& find : finds) {
        if (ratesAt[find.address].size() > 1)
            continue;
        if (!find.finding.model) {
            notServed(find.address, QStringLiteral("model: %1").arg(modelText(find.finding)));
            continue;
        }
        ServedMeter meter;
        meter.link = {find.address, find.baudCode, m_link->TransmitCheck};
        meter.model = *find.finding.model;
        meter.responseTime = responseTimeOption();
        served.push_back(meter);
    }
    return kExitOk;
}

int Runner::serve()
{
    if (!m_session->prepareLink())
        return kExitLinkFailed;
    const std::int16_t commandBaud = m_link->BaudCode; // the model checks move the link
    std::vector<ServedMeter> meters;
    if (const int failed = servedMeters(meters); failed != kExitOk)
        return failed;
    std::sort(meters.begin(), meters.end(),
              [](const ServedMeter& a, const ServedMeter& b) { return a.link.address < b.link.address; });
    if (stopSignal() != 0)
        return kExitOk;
    if (meters.empty()) {
        m_ctx.err(QStringLiteral("Żaden miernik nie będzie obsługiwany."));
        return kExitLinkFailed;
    }

    const auto log = [this](const QString& line) { m_ctx.err(line); };
    GatewaySettings settings{std::chrono::milliseconds(m_opt.pollMs), m_opt.lowWordFirst,
                             QStringLiteral(VARDEL_VERSION), m_opt.allowWrite, m_opt.allowLinkChange};
    MeterGateway gateway(*m_link, meters, settings, log);
    gateway.setSession(m_session.get());
    ModbusServerLimits limits;
    limits.maxClients = m_opt.maxClients;
    limits.requestTimeout = std::chrono::milliseconds(m_opt.requestTimeoutMs);
    limits.idleTimeout = std::chrono::milliseconds(m_opt.idleTimeoutMs);
    for (const QString& text : m_opt.allow) {
        AllowedNetwork network;
        parseAllowedNetwork(text, network);
        limits.allow.push_back(network);
    }
    ModbusServer server(gateway, limits, log);
    QHostAddress address;
    quint16 port = 0;
    parseListenAddress(m_opt.listen, address, port);
    QString error;
    if (!server.listen(address, port, error)) {
        m_ctx.err(QStringLiteral("Nie można nasłuchiwać na %1: %2").arg(m_opt.listen, error));
        return kExitUsage;
    }
    QStringList units;
    for (const ServedMeter& m : meters) {
        // A meter at another baud rate than the command line's says its own.
        units << (m.link.baudCode == commandBaud
                      ? QStringLiteral("%1 (%2)").arg(m.link.address).arg(modelNameOf(m.model))
                      : QStringLiteral("%1 (%2, %3 bodów)").arg(m.link.address).arg(modelNameOf(m.model)).arg(baudRateOf(m.link.baudCode)));
    }
    m_ctx.err(QStringLiteral("Brama Modbus TCP nasłuchuje na %1; mierniki: %2.")
                  .arg(m_opt.listen, units.join(QStringLiteral(", "))));

    // Until a signal: the program's one event loop serves the clients and
    // runs the poller; a stop ends the exchange under way first.
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [this, &loop] {
        if (stopSignal() != 0)
            loop.quit();
    });
    watch.start(50);
    gateway.start();
    if (stopSignal() == 0)
        loop.exec();
    gateway.stop();
    server.close();
    return kExitOk;
}

} // namespace vardel
