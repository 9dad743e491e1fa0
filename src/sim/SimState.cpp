#include "sim/SimState.h"

#include "fileio/SafeFile.h"
#include "link/BasNumber.h"
#include "link/Module1.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cfloat>
#include <charconv>
#include <algorithm>
#include <cmath>
#include <optional>

#include <sys/stat.h>

namespace vardel {

namespace {

constexpr int kHexRun = 16;

struct FaultInfo {
    const char* name;
    bool takesK;
    int defaultK;
    int minK;
    int maxK;
    const char* description;
};

const FaultInfo kFaults[] = {
    {"dead-card", false, 0, 0, 0, "karta nie zgłasza gotowości (brak karty)"},
    {"no-meter", false, 0, 0, 0, "żaden miernik nie odpowiada"},
    {"no-ack", false, 0, 0, 0, "miernik nie potwierdza zapisu rejestru"},
    {"no-store", false, 0, 0, 0, "miernik pomija żądanie zapisu w pamięci EEPROM"},
    {"no-reset", false, 0, 0, 0, "miernik pomija żądanie resetu i pracuje dalej"},
    {"slow-reply", true, 1000, 1, 1000000000, "odpowiedź kompletna dopiero po K odczytach rejestru 6 (domyślnie 1000)"},
    {"bad-length", true, -2, -65535, 65535, "długość odpowiedzi zgłaszana z błędem K bajtów (domyślnie -2)"},
    {"oversized-reply", true, 40000, 253, 65535, "zgłaszana długość odpowiedzi K, za duża dla bufora (domyślnie 40000)"},
    {"power-cycle", false, 0, 0, 0, "mierniki wyłączone i włączone przed startem programu (RAM z pamięci EEPROM)"},
};

QString lineReason(int line, const QString& what)
{
    return QStringLiteral("wiersz %1: %2").arg(line).arg(what);
}

std::optional<long> parseInteger(const QString& text, long minValue, long maxValue)
{
    bool ok = false;
    long v = 0;
    if (text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
        v = text.chopped(1).toLong(&ok, 16);
    else
        v = text.toLong(&ok, 10);
    if (!ok || v < minValue || v > maxValue)
        return std::nullopt;
    return v;
}

std::optional<std::int16_t> parseModel(const QString& text)
{
    return modelFromName(text);
}

void putBytes(SimMemory& memory, std::size_t at, const RxBuffer& buf)
{
    for (std::size_t i = 0; i < 6; ++i)
        memory[at + i] = buf[i + 1];
}

// One [miernik] section as read, built into a meter at its end.
struct MeterDraft {
    int line = 0;
    std::optional<std::int16_t> model;
    std::optional<int> address;
    int baudCode = 4;
    struct Reg { int line; int r; float value; };
    struct Bytes { int line; std::size_t at; std::vector<std::uint8_t> bytes; };
    std::vector<Reg> regs;      // EEPROM
    std::vector<Bytes> bytes;
    std::vector<Reg> ramRegs;   // RAM where it differs
    std::vector<Bytes> ramBytes;
    // The link in use until the next reset, where it differs from the EEPROM's.
    std::optional<int> inUseAddress, inUseBaud, inUseCheck, inUseResponseMs;
    std::optional<int> storeMs, startMs;
    bool noAck = false, noStore = false, noReset = false;
};

bool putRegisters(const MeterDraft& d, const std::vector<MeterDraft::Reg>& regs,
                  const std::vector<MeterDraft::Bytes>& runs, SimMemory& memory, QString& reason)
{
    const std::int16_t model = *d.model;
    const std::size_t base = SimMeter::configBase(model);
    for (const auto& reg : regs) {
        if (reg.r >= SimMeter::registerCount(model)) {
            reason = lineReason(reg.line, QStringLiteral("rejestr %1 poza zakresem modelu %2")
                                              .arg(reg.r)
                                              .arg(modelNameOf(model)));
            return false;
        }
        RxBuffer buf{};
        FloatToBas(buf, reg.value);
        putBytes(memory, base + 6 * static_cast<std::size_t>(reg.r), buf);
    }
    for (const auto& run : runs) {
        for (std::size_t i = 0; i < run.bytes.size(); ++i)
            memory[run.at + i] = run.bytes[i];
    }
    return true;
}

bool buildMeter(const MeterDraft& d, SimMeter& out, QString& reason)
{
    if (!d.model || !d.address) {
        reason = lineReason(d.line, QStringLiteral("miernik bez modelu lub adresu"));
        return false;
    }
    // `adres` and `baud` are the factory's, which the registers named in the
    // section override: a meter takes its link from the EEPROM as it starts.
    SimMeter m = SimMeter::factory(*d.model, *d.address, d.baudCode);
    if (!putRegisters(d, d.regs, d.bytes, m.eeprom, reason))
        return false;
    m.ram = m.eeprom;
    m.setLink(m.linkFromEeprom());
    if (!putRegisters(d, d.ramRegs, d.ramBytes, m.ram, reason))
        return false;
    m.address = d.inUseAddress.value_or(m.address);
    m.baudCode = d.inUseBaud.value_or(m.baudCode);
    m.transmitCheck = d.inUseCheck.value_or(m.transmitCheck);
    if (d.inUseResponseMs)
        m.response = std::chrono::milliseconds(*d.inUseResponseMs);
    if (d.storeMs)
        m.storePerRegister = std::chrono::milliseconds(*d.storeMs);
    m.noAck = d.noAck;
    m.noStore = d.noStore;
    m.noReset = d.noReset;
    if (d.startMs)
        m.startup = std::chrono::milliseconds(*d.startMs);
    m.markFiled();
    out = std::move(m);
    return true;
}

bool parseHexBytes(const QString& text, std::size_t at, std::vector<std::uint8_t>& out)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty() || at + static_cast<std::size_t>(parts.size()) > SimMeter::kMemorySize)
        return false;
    for (const QString& p : parts) {
        bool ok = false;
        const uint v = p.toUInt(&ok, 16);
        if (!ok || p.size() > 2 || v > 255)
            return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

QString floatText(float v)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return QString::fromLatin1(text, static_cast<qsizetype>(result.ptr - text));
}

} // namespace

// --- faults ---

bool parseSimFault(const QString& faultText, SimFaults& faults, QString* error)
{
    const QString text = faultText.trimmed();
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    const QString name = (eq < 0 ? text : text.left(eq)).trimmed().toLower();
    for (const FaultInfo& f : kFaults) {
        if (name != QLatin1String(f.name))
            continue;
        int k = f.defaultK;
        if (eq >= 0) {
            bool ok = false;
            k = text.mid(eq + 1).trimmed().toInt(&ok);
            if (!f.takesK || !ok || k < f.minK || k > f.maxK || (name == QLatin1String("bad-length") && k == 0)) {
                if (error)
                    *error = QStringLiteral("Nieprawidłowa wartość usterki symulatora %1: %2").arg(name, text.mid(eq + 1));
                return false;
            }
        }
        if (name == QLatin1String("dead-card"))
            faults.deadCard = true;
        else if (name == QLatin1String("no-meter"))
            faults.noMeter = true;
        else if (name == QLatin1String("no-ack"))
            faults.noAck = true;
        else if (name == QLatin1String("no-store"))
            faults.noStore = true;
        else if (name == QLatin1String("no-reset"))
            faults.noReset = true;
        else if (name == QLatin1String("slow-reply"))
            faults.slowReply = k;
        else if (name == QLatin1String("bad-length"))
            faults.badLength = k;
        else if (name == QLatin1String("oversized-reply"))
            faults.oversizedReply = k;
        else
            faults.powerCycle = true;
        return true;
    }
    if (error)
        *error = QStringLiteral("Nieznana usterka symulatora: %1 (dostępne: %2)")
                     .arg(text, simFaultNames().join(QStringLiteral(", ")));
    return false;
}

QStringList simFaultNames()
{
    QStringList names;
    for (const FaultInfo& f : kFaults)
        names << QLatin1String(f.name);
    return names;
}

QStringList simFaultDescriptions()
{
    QStringList lines;
    for (const FaultInfo& f : kFaults)
        lines << QStringLiteral("%1%2 — %3").arg(QLatin1String(f.name), f.takesK ? QStringLiteral("[=K]") : QString(),
                                                 QString::fromUtf8(f.description));
    return lines;
}

// --- the state file ---

bool parseSimState(const QByteArray& bytes, SimStateData& state, QString* reason)
{
    QStringDecoder decode("windows-1250");
    // An editor of another system may have left bare CRs: read as lines, not
    // as one comment that would swallow the whole network.
    QString text = decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\n'));

    enum class Section { None, Card, Meter } section = Section::None;
    SimStateData result;
    std::vector<MeterDraft> drafts;
    QString why;
    auto fail = [&](const QString& r) {
        if (reason)
            *reason = r;
        return false;
    };

    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString t = lines[i].trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
            continue;
        if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'))) {
            const QString name = t.mid(1, t.size() - 2).trimmed().toLower();
            if (name == QLatin1String("karta")) {
                section = Section::Card;
            } else if (name == QLatin1String("miernik")) {
                section = Section::Meter;
                drafts.push_back(MeterDraft{});
                drafts.back().line = lineNo;
            } else {
                return fail(lineReason(lineNo, QStringLiteral("nieznana sekcja „%1”").arg(name)));
            }
            continue;
        }
        const qsizetype eq = t.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(lineReason(lineNo, QStringLiteral("niezrozumiały wiersz")));
        const QString key = t.left(eq).trimmed().toLower();
        const QString value = t.mid(eq + 1).trimmed();
        const auto badValue = [&] {
            return fail(lineReason(lineNo, QStringLiteral("nieprawidłowa wartość „%1”").arg(value)));
        };

        if (section == Section::Card) {
            if (key == QLatin1String("adres")) {
                // The status port is base + 1: the base must leave room for
                // it. Below 100h lie the PC's own ports, where the program
                // never looks for a card.
                const auto v = parseInteger(value, static_cast<long>(kFirstCardPort), 65534);
                if (!v)
                    return badValue();
                result.base = static_cast<std::uint16_t>(*v);
            } else if (key == QLatin1String("czas_pomiarow")) {
                if (value.isEmpty()) {
                    result.liveTime.reset();
                } else {
                    const auto v = parseInteger(value, 0, 1000000000);
                    if (!v)
                        return badValue();
                    result.liveTime = *v;
                }
            } else if (key == QLatin1String("usterki")) {
                SimFaults check;
                for (const QString& faultText : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                    if (faultText.trimmed().isEmpty())
                        continue;
                    if (!parseSimFault(faultText, check, &why)) {
                        why[0] = why[0].toLower(); // it goes inside a sentence here
                        return fail(lineReason(lineNo, why));
                    }
                    result.faults << faultText.trimmed();
                }
            } else {
                return fail(lineReason(lineNo, QStringLiteral("nieznany klucz „%1”").arg(key)));
            }
            continue;
        }
        if (section != Section::Meter)
            return fail(lineReason(lineNo, QStringLiteral("wpis poza sekcją")));

        MeterDraft& d = drafts.back();
        const auto number = [&](long low, long high, std::optional<int>& into) {
            const auto v = parseInteger(value, low, high);
            if (!v)
                return badValue();
            into = static_cast<int>(*v);
            return true;
        };
        // RAM where it differs from the EEPROM: the same forms behind "ram.".
        const bool inRam = key.startsWith(QLatin1String("ram."));
        const QString memoryKey = inRam ? key.mid(4) : key;
        auto& regs = inRam ? d.ramRegs : d.regs;
        auto& runs = inRam ? d.ramBytes : d.bytes;
        if (key == QLatin1String("do_resetu.adres")) {
            if (!number(0, 255, d.inUseAddress))
                return false;
        } else if (key == QLatin1String("do_resetu.baud")) {
            if (!number(0, 5, d.inUseBaud))
                return false;
        } else if (key == QLatin1String("do_resetu.kontrola")) {
            if (!number(0, 1, d.inUseCheck))
                return false;
        } else if (key == QLatin1String("do_resetu.czas_ms")) {
            if (!number(0, 60000, d.inUseResponseMs))
                return false;
        } else if (key == QLatin1String("usterki")) {
            // The faults one meter of the network has of its own.
            for (const QString& faultText : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QString name = faultText.trimmed();
                if (name == QLatin1String("no-ack"))
                    d.noAck = true;
                else if (name == QLatin1String("no-store"))
                    d.noStore = true;
                else if (name == QLatin1String("no-reset"))
                    d.noReset = true;
                else if (!name.isEmpty())
                    return fail(lineReason(lineNo, QStringLiteral("usterka „%1” nie dotyczy jednego miernika "
                                                                  "(tylko no-ack, no-store, no-reset)")
                                                       .arg(name)));
            }
        } else if (key == QLatin1String("zapis_ms")) {
            if (!number(0, 60000, d.storeMs))
                return false;
        } else if (key == QLatin1String("start_ms")) {
            if (!number(0, 600000, d.startMs))
                return false;
        } else if (key == QLatin1String("model")) {
            d.model = parseModel(value);
            if (!d.model)
                return badValue();
        } else if (key == QLatin1String("adres")) {
            const auto v = parseInteger(value, 0, 255);
            if (!v)
                return badValue();
            d.address = static_cast<int>(*v);
        } else if (key == QLatin1String("baud")) {
            const auto v = parseInteger(value, 0, 5);
            if (!v)
                return badValue();
            d.baudCode = static_cast<int>(*v);
        } else if (memoryKey.startsWith(QLatin1Char('r'))) {
            bool ok = false;
            const int r = memoryKey.mid(1).toInt(&ok);
            if (!ok || r < 0 || r > 254)
                return fail(lineReason(lineNo, QStringLiteral("nieznany klucz „%1”").arg(key)));
            const double v = value.toDouble(&ok);
            if (!ok || !std::isfinite(v) || std::fabs(v) > static_cast<double>(FLT_MAX))
                return badValue();
            regs.push_back({lineNo, r, static_cast<float>(v)});
        } else if (memoryKey.startsWith(QLatin1Char('@'))) {
            bool ok = false;
            const uint at = memoryKey.mid(1).toUInt(&ok, 16);
            std::vector<std::uint8_t> run;
            if (!ok || at >= SimMeter::kMemorySize || !parseHexBytes(value, at, run))
                return badValue();
            runs.push_back({lineNo, at, std::move(run)});
        } else {
            return fail(lineReason(lineNo, QStringLiteral("nieznany klucz „%1”").arg(key)));
        }
    }

    // Two meters may share an address and a baud rate (a meter moved onto
    // another's): they answer at once and garble each other, as on the wire.
    for (const MeterDraft& d : drafts) {
        SimMeter m;
        if (!buildMeter(d, m, why))
            return fail(why);
        result.meters.push_back(std::move(m));
    }
    state = std::move(result);
    return true;
}

SimStateLoad loadSimState(const QString& path, SimStateData& state, QString* reason)
{
    QByteArray bytes;
    bool missing = false;
    bool unreadable = false;
    // A file too large, a FIFO or a folder in its place is not a damaged
    // network: meters from the factory would overwrite it at the next store.
    if (!readWholeFile(path, kSimStateLimit, bytes, reason, &missing, &unreadable))
        return missing ? SimStateLoad::Missing : SimStateLoad::Unreadable;
    return parseSimState(bytes, state, reason) ? SimStateLoad::Loaded : SimStateLoad::Damaged;
}

namespace {

QString hexRun(const SimMemory& memory, std::size_t at, std::size_t n)
{
    QStringList bytes;
    for (std::size_t i = 0; i < n; ++i)
        bytes << QStringLiteral("%1").arg(static_cast<uint>(memory[at + i]), 2, 16, QLatin1Char('0')).toUpper();
    const QString where = QStringLiteral("%1").arg(static_cast<uint>(at), 4, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("@%1=%2").arg(where, bytes.join(QLatin1Char(' ')));
}

// The registers and the other bytes of one memory, behind `prefix` ("" for
// the EEPROM, "ram." for RAM), where they differ from what the reader starts
// from: a register from `registers` (the factory's EEPROM; the EEPROM for
// RAM), a byte beyond the registers from `bytes` (zeros; the EEPROM). A
// meter as it left the factory is its model and link alone.
QStringList memoryLines(const SimMeter& m, const SimMemory& memory, const QString& prefix, const SimMemory& registers,
                        const SimMemory& bytes)
{
    QStringList lines;
    QStringList hexLines;
    const std::size_t base = SimMeter::configBase(m.model);
    const std::size_t configEnd = base + 6 * static_cast<std::size_t>(SimMeter::registerCount(m.model));
    for (int r = 0; r < SimMeter::registerCount(m.model); ++r) {
        const std::size_t at = base + 6 * static_cast<std::size_t>(r);
        if (memory.equalRange(registers, at, at + 6))
            continue;
        RxBuffer buf{};
        for (std::size_t i = 0; i < 6; ++i)
            buf[i + 1] = memory[at + i];
        const float v = BasToFloat(buf, 1);
        RxBuffer again{};
        FloatToBas(again, v);
        // Bytes that are not a number as the meter writes it keep their
        // exact form.
        if (again == buf)
            lines << prefix + QStringLiteral("r%1=%2").arg(r).arg(floatText(v));
        else
            hexLines << prefix + hexRun(memory, at, 6);
    }
    const std::size_t liveEnd = m.liveEnd();
    const auto outside = [&](std::size_t at) {
        return !(at >= base && at < configEnd) && !(!prefix.isEmpty() && at >= SimMeter::kLiveBase && at < liveEnd);
    };
    const auto keep = [&](std::size_t at) { return memory[at] != bytes[at]; };
    for (std::size_t at = 0; at < SimMeter::kMemorySize;) {
        if (at % SimMemory::kPageSize == 0 && memory.pageShared(bytes, at)) {
            at += SimMemory::kPageSize;
            continue;
        }
        if (!outside(at) || !keep(at)) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < SimMeter::kMemorySize && end - at < kHexRun && outside(end) && (prefix.isEmpty() || keep(end)))
            ++end;
        while (!keep(end - 1))
            --end;
        hexLines << prefix + hexRun(memory, at, end - at);
        at = end;
    }
    return lines + hexLines;
}

} // namespace

QByteArray simStateHead(const SimStateData& state)
{
    QStringList out;
    out << QStringLiteral("; Stan symulatora: karta interfejsu i mierniki w sieci za nią.")
        << QStringLiteral("; Program zapisuje ten plik przy zapisie do EEPROM-u miernika i na końcu pracy, gdy zmienił się RAM")
        << QStringLiteral(";  miernika (zasilanie mierników trwa między programami); można go poprawiać ręcznie.")
        << QStringLiteral("; [karta]  adres = adres bazowy karty (dziesiętnie lub np. 340h),")
        << QStringLiteral(";          usterki = lista usterek po przecinku: %1").arg(simFaultNames().join(QStringLiteral(", ")))
        << QStringLiteral(";          (slow-reply, bad-length i oversized-reply przyjmują też =K),")
        << QStringLiteral(";          czas_pomiarow = sekundy od włączenia, w których wartości mierzone stoją (puste: płyną z czasem)")
        << QStringLiteral("; [miernik] model = KX-2, KX-3 albo KX-4; adres = adres sieciowy; baud = 0..5 (1200..38400);")
        << QStringLiteral(";          miernik bierze adres (KX-3: rejestr 0), prędkość, kontrolę nadawania i czas odpowiedzi")
        << QStringLiteral(";          z rejestrów w EEPROM-ie przy włączeniu i resecie: zmieniaj rejestry, adres i baud tylko je uzupełniają,")
        << QStringLiteral(";          rN = rejestr konfiguracyjny N w EEPROM-ie (nie wymieniony ma wartość fabryczną),")
        << QStringLiteral(";          @AAAA = bajty EEPROM od adresu AAAA (szesnastkowo),")
        << QStringLiteral(";          ram.rN, ram.@AAAA = RAM, gdzie różni się od EEPROM-u,")
        << QStringLiteral(";          do_resetu.adres/baud/kontrola/czas_ms = łącze w użyciu, gdy EEPROM ma już inne (do resetu),")
        << QStringLiteral(";          usterki = no-ack, no-store i/lub no-reset tylko tego miernika,")
        << QStringLiteral(";          zapis_ms = czas zapisu jednego rejestru w EEPROM-ie (domyślnie %1), start_ms = czas startu (domyślnie %2).")
               .arg(SimMeter::kDefaultStorePerRegister.count())
               .arg(SimMeter::kDefaultStartup.count())
        << QString()
        << QStringLiteral("[karta]")
        << QStringLiteral("adres=%1").arg(state.base)
        << QStringLiteral("usterki=%1").arg(state.faults.join(QLatin1Char(',')));
    if (state.liveTime)
        out << QStringLiteral("czas_pomiarow=%1").arg(*state.liveTime);
    out << QString();
    QStringEncoder encode("windows-1250");
    return encode(out.join(QStringLiteral("\r\n")));
}

QByteArray simMeterSection(const SimMeter& m)
{
    QStringList out;
    {
        const SimLink stored = m.linkFromEeprom();
        out << QString() << QStringLiteral("[miernik]")
            << QStringLiteral("model=%1").arg(modelNameOf(m.model))
            << QStringLiteral("adres=%1").arg(stored.address)
            << QStringLiteral("baud=%1").arg(stored.baudCode);
        const SimMeter factory = SimMeter::factory(m.model, stored.address, stored.baudCode);
        out << memoryLines(m, m.eeprom, QString(), factory.eeprom, SimMemory());
        out << memoryLines(m, m.ram, QStringLiteral("ram."), m.eeprom, m.eeprom);
        if (m.link() != stored) {
            using std::chrono::duration_cast;
            using std::chrono::milliseconds;
            out << QStringLiteral("do_resetu.adres=%1").arg(m.address)
                << QStringLiteral("do_resetu.baud=%1").arg(m.baudCode)
                << QStringLiteral("do_resetu.kontrola=%1").arg(m.transmitCheck)
                << QStringLiteral("do_resetu.czas_ms=%1").arg(duration_cast<milliseconds>(m.response).count());
        }
        if (m.storePerRegister != SimMeter::kDefaultStorePerRegister)
            out << QStringLiteral("zapis_ms=%1").arg(m.storePerRegister.count());
        if (m.startup != SimMeter::kDefaultStartup)
            out << QStringLiteral("start_ms=%1").arg(m.startup.count());
        QStringList faults;
        if (m.noAck)
            faults << QStringLiteral("no-ack");
        if (m.noStore)
            faults << QStringLiteral("no-store");
        if (m.noReset)
            faults << QStringLiteral("no-reset");
        if (!faults.isEmpty())
            out << QStringLiteral("usterki=%1").arg(faults.join(QLatin1Char(',')));
    }
    out << QString();
    QStringEncoder encode("windows-1250");
    return encode(out.join(QStringLiteral("\r\n")));
}

QByteArray simStateText(const SimStateData& state)
{
    QByteArray text = simStateHead(state);
    for (const SimMeter& m : state.meters)
        text += simMeterSection(m);
    return text;
}

bool saveSimState(const QString& path, const SimStateData& state, QString* reason)
{
    return writeSimStateBytes(path, simStateText(state), reason);
}

bool writeSimStateBytes(const QString& path, const QByteArray& bytes, QString* reason)
{
    // Never a file the next program would refuse to read.
    if (bytes.size() > kSimStateLimit) {
        if (reason)
            *reason = QStringLiteral("stan sieci zająłby %1 MB, więcej niż %2 MB, które program wczytuje")
                          .arg((bytes.size() + (qint64{1} << 20) - 1) >> 20)
                          .arg(kSimStateLimit >> 20);
        return false;
    }
    if (!writeFileAtomically(path, bytes, reason)) {
        // Users sharing the card in a group folder: files made there keep
        // the folder's group only when the folder says so.
        struct stat folder {};
        if (reason && ::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) == 0
            && (folder.st_mode & S_IWGRP) && !(folder.st_mode & S_IWOTH) && !(folder.st_mode & S_ISGID))
            *reason += QStringLiteral(" (folder wspólny grupy: ustaw chmod g+s na folderze i g+rw na pliku)");
        return false;
    }
    shareWithFolderGroup(path);
    return true;
}

} // namespace vardel
