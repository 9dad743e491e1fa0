#include "cli/CliProgram.h"

#include "cli/CliResults.h"
#include "cli/CliScan.h"
#include "meterops/MeterSession.h"
#include "config/LinkGuard.h"
#include "config/RegisterTable.h"
#include "fileio/OutputStream.h"
#include "fileio/RecordLines.h"
#include "fileio/SafeFile.h"
#include "link/Module1.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

const QStringList& recordFields()
{
    static const QStringList fields{QStringLiteral("time"),   QStringLiteral("address"), QStringLiteral("model"),
                                    QStringLiteral("file"),   QStringLiteral("sha256"),  QStringLiteral("result"),
                                    QStringLiteral("differences"), QStringLiteral("message")};
    return fields;
}

// What became of one meter. `result` is the word scripts test: ok (written,
// stored and proven after the reset), what a run not asked to prove leaves
// (stored-unverified, ram-verified, ram-only), no-answer, other-model,
// unknown-model, the step of the write that failed (card, guard, backup,
// write, store, store-wait, reset, start, read-back, differs), or, for the
// meter a stop cut short, how far it got (unfinished-untouched,
// unfinished-ram, unfinished-store-requested, unfinished-stored).
struct MeterResult {
    int address = 0;
    QString model;          // as found: "KX-3", "KX-2|KX-4", "nieznany"; empty when nobody answered
    QString result;
    QString text;           // for people, after „Adres N (model): ”
    QStringList said;       // what the write said on the way
    QStringList differing;  // register labels
    bool programmed = false; // written as the run asked
    bool unfinished() const { return result.startsWith(QLatin1String("unfinished")); }
};

// Messages said one after the other, each ending as a sentence: a message
// without its full stop would run into the next („… historia Zapisano …”).
QString sentences(const QStringList& said)
{
    QStringList parts;
    for (int i = 0; i < said.size(); ++i) {
        QString part = said[i].trimmed();
        if (i + 1 < said.size() && !part.isEmpty() && !QStringLiteral(".!?:").contains(part.back()))
            part += QLatin1Char('.');
        parts << part;
    }
    return parts.join(QLatin1Char(' '));
}

// "1-3,7,9-10": the addresses as --addresses takes them, runs joined.
QString addressList(const std::vector<int>& addresses)
{
    QStringList parts;
    for (std::size_t i = 0; i < addresses.size();) {
        std::size_t j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1)
            ++j;
        parts << (j > i + 1 ? QStringLiteral("%1-%2").arg(addresses[i]).arg(addresses[j])
                            : QString::number(addresses[i]));
        if (j == i + 1)
            parts << QString::number(addresses[j]);
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

QString stepResult(WriteStep step)
{
    switch (step) {
    case WriteStep::Done: return QStringLiteral("ok");
    case WriteStep::Card: return QStringLiteral("card");
    case WriteStep::Guard: return QStringLiteral("guard");
    case WriteStep::Backup: return QStringLiteral("backup");
    case WriteStep::Registers: return QStringLiteral("write");
    case WriteStep::StoreRequest: return QStringLiteral("store");
    case WriteStep::Storing: return QStringLiteral("store-wait");
    case WriteStep::Reset: return QStringLiteral("reset");
    case WriteStep::Starting: return QStringLiteral("start");
    case WriteStep::ReadBack: return QStringLiteral("read-back");
    case WriteStep::Differs: return QStringLiteral("differs");
    }
    return QString();
}

// The records appended to --log, one per meter, each written whole and
// pushed to the disk before the next meter starts: a power cut loses at
// most the meter under way.
class ProgramLog {
public:
    ~ProgramLog()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // False and a Polish message when the log cannot be used.
    bool open(const QString& path, const std::atomic<int>* stop, QString& error)
    {
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix == QLatin1String("csv"))
            m_style.format = RecordFormat::Csv;
        else if (suffix == QLatin1String("jsonl") || suffix == QLatin1String("json") || suffix == QLatin1String("ndjson"))
            m_style.format = RecordFormat::Json;
        else {
            error = QStringLiteral("Plik dziennika %1 musi mieć rozszerzenie .csv (CSV) albo .jsonl (JSON, obiekt "
                                   "na wiersz).")
                        .arg(QDir::toNativeSeparators(path));
            return false;
        }
        QString reason;
        m_fd = openForAppend(path, &reason);
        if (m_fd < 0) {
            error = QStringLiteral("Nie można zapisać pliku %1: %2").arg(QDir::toNativeSeparators(path), reason);
            return false;
        }
        m_what = QStringLiteral("pliku %1").arg(QDir::toNativeSeparators(path));
        m_stream.emplace(m_fd, stop);
        // A log that already holds records has its header; a new one gets it.
        struct stat st {};
        m_needsHeader = m_style.format == RecordFormat::Csv && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)
            && st.st_size == 0;
        return true;
    }

    bool isOpen() const { return m_fd >= 0; }

    // False once a record could not be written; `lost` hears the error.
    bool append(std::span<const RecordValue> values, const std::function<void(int, const QString&)>& lost)
    {
        QByteArray bytes;
        if (std::exchange(m_needsHeader, false))
            bytes += recordHeaderLine(m_style, recordFields()).toUtf8() + '\n';
        bytes += recordLine(m_style, recordFields(), values).toUtf8() + '\n';
        int error = 0;
        if (!m_stream->write(bytes))
            error = m_stream->error();
        else if (::fdatasync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
            error = errno; // a FIFO or a special file has no disk to reach
        if (error != 0 && lost)
            lost(error, m_what);
        return error == 0;
    }

private:
    int m_fd = -1;
    std::optional<OutputStream> m_stream;
    RecordStyle m_style;
    QString m_what;
    bool m_needsHeader = false;
};

// The registers that set the meter's own link get the values it holds
// itself, which the model check has just read: the link it answers at, and
// the response time it answers in (when it could be read).
RegisterTable withOwnLink(RegisterTable table, std::int16_t model, const MeterLink& own,
                          std::optional<float> ownResponse)
{
    const MeterLinkRegisters regs = linkRegistersOf(model);
    const auto put = [&table](int reg, int value) {
        if (reg >= 0 && reg < table.RegCount)
            table.RegValue[static_cast<std::size_t>(reg)] = static_cast<float>(value);
    };
    put(regs.address, own.address);
    put(regs.baudCode, own.baudCode);
    put(regs.transmitCheck, own.transmitCheck);
    if (ownResponse && regs.responseTime >= 0 && regs.responseTime < table.RegCount)
        table.RegValue[static_cast<std::size_t>(regs.responseTime)] = *ownResponse;
    return table;
}

class ProgramRun {
public:
    ProgramRun(MeterSession& session, Module1& link, LinkErrors& errors, const RegisterTable& file,
               const CliOptions& options, const CliContext& context)
        : m_session(session)
        , m_link(link)
        , m_errors(errors)
        , m_file(file)
        , m_opt(options)
        , m_ctx(context)
        , m_model(link.MeterModel)
    {
    }

    int run();

private:
    MeterResult programMeter(std::int16_t address);
    void report(const MeterResult& meter);
    QString runLine(int index, std::int16_t address) const;
    QString summary(const QString& stoppedAt) const;

    MeterSession& m_session;
    Module1& m_link;
    LinkErrors& m_errors;
    const RegisterTable& m_file;
    const CliOptions& m_opt;
    const CliContext& m_ctx;
    const std::int16_t m_model;
    MeterLink m_configured;
    QString m_filePath;
    QString m_sha256;
    ProgramLog m_log;
    std::optional<CliResults> m_results;
    int m_programmed = 0;
    // A run asked to store proves each meter unless told not to: a line
    // wants every `ok` to mean the meter keeps its configuration.
    bool m_verify = false;
    std::chrono::nanoseconds m_started{0}; // card time
    int m_finished = 0;
    QStringList m_words;             // in the order they first came
    QMap<QString, int> m_wordCount;
    std::vector<int> m_again;        // addresses to run again
};

QString ProgramRun::runLine(int index, std::int16_t address) const
{
    QString line = QStringLiteral("Programowanie: miernik %1 z %2 (adres %3), zaprogramowano %4")
                       .arg(index + 1)
                       .arg(m_opt.addresses.size())
                       .arg(address)
                       .arg(m_programmed);
    // The meters still to come take, on the card's clock, what those done
    // took on average.
    if (m_finished > 0) {
        const auto spent = m_link.cardClock().cardTime() - m_started;
        const auto left = spent / m_finished * (static_cast<int>(m_opt.addresses.size()) - m_finished);
        line += QStringLiteral(", zostało ok. %1").arg(timeLeftText(left));
    }
    return line;
}

QString ProgramRun::summary(const QString& stoppedAt) const
{
    const int total = static_cast<int>(m_opt.addresses.size());
    QString text = QStringLiteral("Zaprogramowano %1 z %2 %3").arg(m_programmed).arg(total)
                       .arg(total == 1 ? QStringLiteral("miernika") : QStringLiteral("mierników"));
    if (!stoppedAt.isEmpty())
        text += QStringLiteral(" (przerwano %1)").arg(stoppedAt);
    text += QLatin1Char('.');
    QStringList counts;
    for (const QString& word : m_words)
        counts << QStringLiteral("%1 %2").arg(word).arg(m_wordCount.value(word));
    if (!counts.isEmpty())
        text += QStringLiteral("\nWyniki: %1.").arg(counts.join(QStringLiteral(", ")));
    if (!m_again.empty())
        text += QStringLiteral("\nDo powtórzenia: --addresses %1").arg(addressList(m_again));
    return text;
}

int ProgramRun::run()
{
    // The file as it lies on the disk is what the record names and hashes.
    QByteArray bytes;
    QString reason;
    if (!readWholeFile(m_opt.file, kConfigFileLimit, bytes, &reason)) {
        m_ctx.err(QStringLiteral("Nie można wczytać pliku %1: %2").arg(QDir::toNativeSeparators(m_opt.file), reason));
        return kExitUsage;
    }
    m_sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    m_filePath = QDir::toNativeSeparators(QFileInfo(m_opt.file).absoluteFilePath());
    if (!m_opt.log.isEmpty()) {
        QString error;
        if (!m_log.open(m_opt.log, m_ctx.stopSignal, error)) {
            // A FIFO's open cut short by Ctrl+C is a stop, not a fault.
            if (m_ctx.stopRequested())
                return kExitOk;
            m_ctx.err(error);
            return kExitUsage;
        }
    }
    if (!m_session.prepareLink())
        return kExitLinkFailed;

    m_configured = linkInUse(m_link);
    m_verify = m_opt.verifyAfterWrite || (m_opt.eeprom && !m_opt.noVerify);
    m_started = m_link.cardClock().cardTime();
    m_results.emplace(m_ctx, m_opt.format, recordFields());
    m_results->begin();
    QString line;
    m_session.setRunLine(&line);
    // A meter's read-back goes into its record, not into lines of its own.
    m_session.setShowComparison({});
    QString stoppedAt; // where a stop left the run
    for (std::size_t i = 0; i < m_opt.addresses.size() && !m_ctx.stopRequested(); ++i) {
        const std::int16_t address = m_opt.addresses[i];
        line = runLine(static_cast<int>(i), address);
        const MeterResult meter = programMeter(address);
        ++m_finished;
        if (meter.programmed)
            ++m_programmed;
        else
            m_again.push_back(address);
        if (!m_wordCount.contains(meter.result))
            m_words << meter.result;
        ++m_wordCount[meter.result];
        report(meter);
        if (meter.unfinished())
            stoppedAt = QStringLiteral("przy adresie %1").arg(address);
        else if (m_ctx.stopRequested() && i + 1 < m_opt.addresses.size())
            stoppedAt = QStringLiteral("po adresie %1").arg(address);
    }
    // The meters a stop left out are to be run again as well.
    for (std::size_t i = static_cast<std::size_t>(m_finished); i < m_opt.addresses.size(); ++i)
        m_again.push_back(m_opt.addresses[i]);
    m_session.setRunLine(nullptr);
    m_session.setSay(m_ctx.err);

    // The card gets the configured parameters back, after Ctrl+C too.
    m_link.MeterModel = m_model;
    m_link.setStopFlag(nullptr);
    useLink(m_link, m_configured);
    m_link.setStopFlag(m_ctx.stopSignal);
    m_errors.clear();

    for (const QString& said : summary(stoppedAt).split(QLatin1Char('\n')))
        m_results->summary(said);
    return m_programmed == static_cast<int>(m_opt.addresses.size()) ? kExitOk : kExitLinkFailed;
}

MeterResult ProgramRun::programMeter(std::int16_t address)
{
    MeterResult meter;
    meter.address = address;
    m_errors.clear();
    m_session.setSay([&meter](const QString& message) { meter.said << message; });
    useLink(m_link, {address, m_configured.baudCode, m_configured.transmitCheck});

    // What a stop leaves the meter with, as the word and for people.
    const auto unfinished = [&meter, this](WriteReach reached, int sent) {
        switch (reached) {
        case WriteReach::Untouched:
            meter.result = QStringLiteral("unfinished-untouched");
            meter.text = QStringLiteral("niedokończony, przerwano: nic nie zapisano");
            break;
        case WriteReach::Ram:
            meter.result = QStringLiteral("unfinished-ram");
            meter.text = QStringLiteral("niedokończony, przerwano w trakcie zapisu do RAM (rejestr %1 z %2), bez "
                                        "zapisu w pamięci EEPROM: po resecie miernik wróci do poprzedniej konfiguracji")
                             .arg(sent)
                             .arg(m_file.RegCount);
            break;
        case WriteReach::StoreRequested:
            meter.result = QStringLiteral("unfinished-store-requested");
            meter.text = QStringLiteral("niedokończony, przerwano: wysłano polecenie zapisu w pamięci EEPROM, "
                                        "nie wiadomo, czy zapis się skończył");
            break;
        case WriteReach::Stored:
            meter.result = QStringLiteral("unfinished-stored");
            meter.text = QStringLiteral("niedokończony, przerwano: miernik skończył zapis w pamięci EEPROM, "
                                        "nie sprawdzono go po resecie");
            break;
        }
        meter.said.clear();
        return meter;
    };

    ModelFinding finding;
    {
        ProgressDisplay step = m_session.progress(QStringLiteral("Rozpoznawanie miernika"));
        step.update(0, 0);
        // Anyone there? Register 0 of the file's model, a read that changes
        // nothing, with the link's full reply wait: a slow meter is not
        // taken for an empty address.
        float value = 0.0f;
        std::int16_t flag = 1;
        m_link.ReadConfigReg(0, value, flag);
        if (m_ctx.stopRequested())
            return unfinished(WriteReach::Untouched, 0);
        if (flag != 0) {
            meter.result = QStringLiteral("no-answer");
            meter.text = m_errors.first() == LinkErrors::Kind::Transmit
                ? QStringLiteral("karta nie wysłała zapytania (%1)").arg(m_errors.message())
                : QStringLiteral("brak odpowiedzi");
            return meter;
        }
        finding = checkMeterModel(m_link);
        if (m_ctx.stopRequested())
            return unfinished(WriteReach::Untouched, 0);
    }
    // Only a proven model is written: the layouts overlap in the meter's
    // memory, and one model's layout written into another scatters the
    // configuration and may move the meter off the line.
    meter.model = modelText(finding);
    if (!finding.model) {
        meter.result = QStringLiteral("unknown-model");
        if (finding.readFailed)
            meter.text = QStringLiteral("nie można ustalić modelu (miernik przestał odpowiadać), nie zapisano");
        else if (finding.possible.size() > 1)
            meter.text = QStringLiteral("nie można ustalić modelu (pasuje %1), nie zapisano").arg(meter.model);
        else
            meter.text = QStringLiteral("nie można ustalić modelu, nie zapisano");
        return meter;
    }
    if (*finding.model != m_model) {
        meter.result = QStringLiteral("other-model");
        meter.text = QStringLiteral("inny model niż w pliku (%1), nie zapisano").arg(modelNameOf(m_model));
        return meter;
    }

    m_errors.clear();
    const RegisterTable table = withOwnLink(m_file, m_model, linkInUse(m_link), readResponseTime(m_link));
    const WriteOutcome outcome = m_session.write(table, {m_opt.eeprom, m_verify, m_opt.backup, false});
    if (m_ctx.stopRequested() && outcome.step != WriteStep::Done)
        return unfinished(outcome.reached, outcome.registersSent);
    meter.result = stepResult(outcome.step);
    for (const int r : outcome.differing)
        meter.differing << registerLabel(m_model, r);
    if (outcome.step == WriteStep::Done) {
        // Only what was proven after the reset is `ok`.
        meter.programmed = true;
        if (m_opt.eeprom && m_verify) {
            meter.text = QStringLiteral("zaprogramowano");
        } else if (m_opt.eeprom) {
            meter.result = QStringLiteral("stored-unverified");
            meter.text = QStringLiteral("zapisano w pamięci EEPROM bez sprawdzenia (--no-verify)");
        } else if (m_verify) {
            meter.result = QStringLiteral("ram-verified");
            meter.text = QStringLiteral("zapisano do RAM i sprawdzono, bez zapisu w pamięci EEPROM");
        } else {
            meter.result = QStringLiteral("ram-only");
            meter.text = QStringLiteral("zapisano do RAM, bez zapisu w pamięci EEPROM, nie sprawdzono");
        }
    } else if (outcome.step == WriteStep::Differs) {
        meter.text = QStringLiteral("po zapisie różnice w rejestrach %1").arg(meter.differing.join(QStringLiteral(", ")));
    } else {
        meter.text = QStringLiteral("nie zaprogramowano");
    }
    return meter;
}

void ProgramRun::report(const MeterResult& meter)
{
    const QString time = timeStampText(QDateTime::currentDateTime());
    // What the line for people says of the meter, and what the write said.
    QString message = meter.text;
    if (!meter.said.isEmpty())
        message += QStringLiteral(" — ") + sentences(meter.said);
    const std::vector<RecordValue> record{
        RecordValue::fromText(time),
        RecordValue::fromInteger(meter.address),
        meter.model.isEmpty() ? RecordValue::null() : RecordValue::fromText(meter.model),
        RecordValue::fromText(m_filePath),
        RecordValue::fromText(m_sha256),
        RecordValue::fromText(meter.result),
        RecordValue::fromText(meter.differing.join(QLatin1Char(' '))),
        RecordValue::fromText(message),
    };
    if (m_log.isOpen())
        m_log.append(record, m_ctx.outputLost);

    QString text = QStringLiteral("Adres %1").arg(meter.address);
    if (!meter.model.isEmpty())
        text += QStringLiteral(" (%1)").arg(meter.model);
    text += QStringLiteral(": ") + message;
    m_results->add(text, record);
}

} // namespace

int runProgram(MeterSession& session, Module1& link, LinkErrors& errors, const RegisterTable& file,
               const CliOptions& options, const CliContext& context)
{
    return ProgramRun(session, link, errors, file, options, context).run();
}

} // namespace vardel
