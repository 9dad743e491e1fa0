#include "cli/CliOptions.h"

#include "app/TextRules.h"
#include "gateway/MeterList.h"
#include "gateway/ModbusServer.h"
#include "measure/MeasureInterval.h"
#include "sim/SimState.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace vardel {

namespace {

struct CommandInfo {
    const char* name;
    CliCommand command;
    int files; // positional arguments after the command name
};

constexpr std::array<CommandInfo, 13> kCommands{{
    {"card-test", CliCommand::CardTest, 0},
    {"card-reset", CliCommand::CardReset, 0},
    {"read", CliCommand::Read, 0},
    {"write", CliCommand::Write, 1},
    {"verify", CliCommand::Verify, 1},
    {"measure", CliCommand::Measure, 0},
    {"print", CliCommand::Print, 1},
    {"reset-meter", CliCommand::ResetMeter, 0},
    {"scan", CliCommand::Scan, 0},
    {"diff", CliCommand::Diff, 2},
    {"history", CliCommand::History, 0},
    {"program", CliCommand::Program, 1},
    {"serve", CliCommand::Serve, 0},
}};

QString invalidValue(const QString& option, const QString& value)
{
    return QStringLiteral("Nieprawidłowa wartość opcji %1: %2").arg(option, value);
}

// A plain decimal integer within [low, high]; no blanks, no sign tricks.
std::optional<int> strictInteger(const QString& text, int low, int high)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!digits.match(text).hasMatch() || text.size() > 9)
        return std::nullopt;
    const int value = text.toInt();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<std::int16_t> modelFromText(const QString& text)
{
    // As written on the meter, with or without the dash, and nothing else.
    const QString t = text.toUpper();
    for (const MeterModelInfo& info : meterModels()) {
        if (t == QLatin1String(info.name) || t == QLatin1String(info.tag))
            return info.model;
    }
    return std::nullopt;
}

std::optional<std::int16_t> baudCodeFromText(const QString& text)
{
    const auto rate = strictInteger(text, 0, 38400);
    return rate ? baudCodeOfRate(*rate) : std::nullopt;
}

// The card address is typed as the main window shows it: hexadecimal, with
// or without the trailing "h". Here nothing else may follow, because a stray
// character would silently give another port.
std::optional<std::int16_t> cardAddressFromText(const QString& text, QString& refusal)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,4}[hH]?$"));
    if (!hex.match(text).hasMatch())
        return std::nullopt;
    return parseCardAddressText(text, &refusal);
}

constexpr unsigned bit(CliCommand c) { return 1u << static_cast<unsigned>(c); }

struct OptionInfo {
    const char* name;
    const char* alias; // a short form, or nullptr
    bool takesValue;
    unsigned only;     // commands it belongs to; 0: every command
};

constexpr std::array<OptionInfo, 20> kOptions{{
    {"--help", "-h", false, 0},
    {"--version", nullptr, false, 0},
    {"--card", nullptr, true, 0},
    {"--sim-state", nullptr, true, 0},
    {"--sim-fault", nullptr, true, 0},
    {"--sim-pace", nullptr, true, 0},
    {"--model", nullptr, true, 0},
    {"--meter-address", nullptr, true, 0},
    {"--master-address", nullptr, true, 0},
    {"--baud", nullptr, true, 0},
    {"--transmit-check", nullptr, true, 0},
    {"--card-address", nullptr, true, 0},
    {"--trace", nullptr, true, 0},
    {"--output", "-o", true, bit(CliCommand::Read)},
    {"--template", nullptr, true, bit(CliCommand::Read)},
    {"--eeprom", nullptr, false, bit(CliCommand::Write) | bit(CliCommand::Program)},
    {"--force", nullptr, false,
     bit(CliCommand::Read) | bit(CliCommand::Write) | bit(CliCommand::Verify) | bit(CliCommand::Print)
         | bit(CliCommand::Diff) | bit(CliCommand::Program)},
    {"--count", nullptr, true, bit(CliCommand::Measure)},
    {"--pdf", nullptr, true, bit(CliCommand::Print)},
    {"--wait", nullptr, false, ~(bit(CliCommand::Print) | bit(CliCommand::Diff) | bit(CliCommand::History))}, // these need no card
}};

// Options of scan, diff, write, program and the machine-readable results.
constexpr std::array<OptionInfo, 12> kBenchOptions{{
    {"--verify", nullptr, false, bit(CliCommand::Write) | bit(CliCommand::Program)},
    {"--no-verify", nullptr, false, bit(CliCommand::Program)},
    {"--change-link", nullptr, false, bit(CliCommand::Write)},
    {"--backup", nullptr, false, bit(CliCommand::Write) | bit(CliCommand::Program)},
    {"--bauds", nullptr, true, bit(CliCommand::Scan) | bit(CliCommand::Serve)},
    {"--addresses", nullptr, true, bit(CliCommand::Scan) | bit(CliCommand::Program) | bit(CliCommand::Serve)},
    {"--interval", nullptr, true, bit(CliCommand::Measure)},
    {"--format", nullptr, true,
     bit(CliCommand::Measure) | bit(CliCommand::Scan) | bit(CliCommand::Verify) | bit(CliCommand::Diff)
         | bit(CliCommand::CardTest) | bit(CliCommand::CardReset) | bit(CliCommand::Write) | bit(CliCommand::Program)
         | bit(CliCommand::History)},
    {"--decimal-comma", nullptr, false, bit(CliCommand::Measure)},
    {"--first", nullptr, false, bit(CliCommand::Scan)},
    {"--response-time", nullptr, true,
     bit(CliCommand::Read) | bit(CliCommand::Write) | bit(CliCommand::Verify) | bit(CliCommand::Measure)
         | bit(CliCommand::ResetMeter) | bit(CliCommand::Scan) | bit(CliCommand::Program) | bit(CliCommand::Serve)},
    {"--log", nullptr, true, bit(CliCommand::Program)},
}};

// Options of the Modbus TCP gateway.
constexpr std::array<OptionInfo, 11> kServeOptions{{
    {"--meters", nullptr, true, bit(CliCommand::Serve)},
    {"--scan", nullptr, false, bit(CliCommand::Serve)},
    {"--idle-timeout", nullptr, true, bit(CliCommand::Serve)},
    {"--allow-write", nullptr, false, bit(CliCommand::Serve)},
    {"--allow-link-change", nullptr, false, bit(CliCommand::Serve)},
    {"--listen", nullptr, true, bit(CliCommand::Serve)},
    {"--allow", nullptr, true, bit(CliCommand::Serve)},
    {"--max-clients", nullptr, true, bit(CliCommand::Serve)},
    {"--poll", nullptr, true, bit(CliCommand::Serve)},
    {"--request-timeout", nullptr, true, bit(CliCommand::Serve)},
    {"--word-order", nullptr, true, bit(CliCommand::Serve)},
}};

// "--wait" alone, or "--wait=SECONDS": a value only after '='.
bool valueOptional(const OptionInfo& o)
{
    return QLatin1String(o.name) == QLatin1String("--wait");
}

template <std::size_t N>
const OptionInfo* findIn(const std::array<OptionInfo, N>& table, const QString& name)
{
    for (const OptionInfo& o : table) {
        if (name == QLatin1String(o.name) || (o.alias && name == QLatin1String(o.alias)))
            return &o;
    }
    return nullptr;
}

const OptionInfo* findOption(const QString& name)
{
    if (const OptionInfo* o = findIn(kOptions, name))
        return o;
    if (const OptionInfo* o = findIn(kBenchOptions, name))
        return o;
    return findIn(kServeOptions, name);
}

template <std::size_t N>
bool isIn(const std::array<OptionInfo, N>& table, const OptionInfo& o)
{
    return &o >= table.data() && &o < table.data() + table.size();
}

// "9600,19200": each rate once, in the order given.
bool parseBaudList(const QString& text, std::vector<std::int16_t>& codes)
{
    codes.clear();
    for (const QString& item : text.split(QLatin1Char(','))) {
        const auto code = baudCodeFromText(item.trimmed());
        if (!code)
            return false;
        if (std::find(codes.begin(), codes.end(), *code) == codes.end())
            codes.push_back(*code);
    }
    return !codes.empty();
}

// "A-B", a single "A", or a list of both, "1,4,7-9": network addresses
// 0..255, each range with A <= B; each address once, in the order given.
bool parseAddressList(const QString& text, std::vector<std::int16_t>& addresses)
{
    static const QRegularExpression range(QStringLiteral("^([0-9]{1,3})(?:-([0-9]{1,3}))?$"));
    addresses.clear();
    for (const QString& item : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = range.match(item.trimmed());
        if (!m.hasMatch())
            return false;
        const int a = m.captured(1).toInt();
        const int b = m.hasCaptured(2) ? m.captured(2).toInt() : a;
        if (a > 255 || b > 255 || a > b)
            return false;
        for (int address = a; address <= b; ++address) {
            const auto value = static_cast<std::int16_t>(address);
            if (std::find(addresses.begin(), addresses.end(), value) == addresses.end())
                addresses.push_back(value);
        }
    }
    return !addresses.empty();
}

bool applyServeOption(const OptionInfo& o, const QString& value, CliOptions& options)
{
    const QLatin1String name(o.name);
    if (name == QLatin1String("--allow-write")) {
        options.allowWrite = true;
        return true;
    }
    if (name == QLatin1String("--allow-link-change")) {
        options.allowLinkChange = true;
        return true;
    }
    if (name == QLatin1String("--listen")) {
        QHostAddress address;
        quint16 port = 0;
        options.listen = value;
        return parseListenAddress(value, address, port);
    }
    if (name == QLatin1String("--allow")) {
        // "--allow 10.0.0.0/8,192.168.1.7" or the option given again.
        for (const QString& item : value.split(QLatin1Char(','))) {
            AllowedNetwork network;
            if (!parseAllowedNetwork(item.trimmed(), network))
                return false;
            options.allow << item.trimmed();
        }
        return true;
    }
    if (name == QLatin1String("--max-clients")) {
        const auto n = strictInteger(value, 1, 1000);
        if (n)
            options.maxClients = *n;
        return n.has_value();
    }
    if (name == QLatin1String("--meters")) {
        options.metersFile = value;
        return !value.isEmpty();
    }
    if (name == QLatin1String("--scan")) {
        options.serveScan = true;
        return true;
    }
    if (name == QLatin1String("--poll") || name == QLatin1String("--request-timeout")
        || name == QLatin1String("--idle-timeout")) {
        // From 0.1 s, as --interval; at most an hour.
        const auto ms = parseSeconds(value, 100);
        if (!ms || *ms > 3600 * 1000)
            return false;
        (name == QLatin1String("--poll")              ? options.pollMs
             : name == QLatin1String("--idle-timeout") ? options.idleTimeoutMs
                                                       : options.requestTimeoutMs) = *ms;
        return true;
    }
    // --word-order
    if (value != QLatin1String("big") && value != QLatin1String("little"))
        return false;
    options.lowWordFirst = value == QLatin1String("little");
    return true;
}

bool applyBenchOption(const OptionInfo& o, const QString& value, CliOptions& options)
{
    const QLatin1String name(o.name);
    if (name == QLatin1String("--verify")) {
        options.verifyAfterWrite = true;
        return true;
    }
    if (name == QLatin1String("--no-verify")) {
        options.noVerify = true;
        return true;
    }
    if (name == QLatin1String("--change-link")) {
        options.changeLink = true;
        return true;
    }
    if (name == QLatin1String("--backup")) {
        options.backup = true;
        return true;
    }
    if (name == QLatin1String("--bauds"))
        return parseBaudList(value, options.scanBauds);
    if (name == QLatin1String("--addresses"))
        return parseAddressList(value, options.addresses);
    if (name == QLatin1String("--first")) {
        options.scanFirstOnly = true;
        return true;
    }
    if (name == QLatin1String("--response-time")) {
        // Milliseconds as the meter's register holds them, up to a minute.
        const auto ms = strictInteger(value, 0, kMaxResponseTimeMs);
        if (ms)
            options.responseTimeMs = *ms;
        return ms.has_value();
    }
    if (name == QLatin1String("--log")) {
        options.log = value;
        return !value.isEmpty();
    }
    if (name == QLatin1String("--interval")) {
        // From 0.1 s: the card needs time for an exchange.
        const auto ms = parseSeconds(value, 100);
        if (ms)
            options.intervalMs = *ms;
        return ms.has_value();
    }
    if (name == QLatin1String("--decimal-comma")) {
        options.decimalComma = true;
        return true;
    }
    // --format
    if (value == QLatin1String("text"))
        options.format = OutputFormat::Text;
    else if (value == QLatin1String("csv"))
        options.format = OutputFormat::Csv;
    else if (value == QLatin1String("json"))
        options.format = OutputFormat::Json;
    else
        return false;
    return true;
}

bool applyOption(const OptionInfo& o, const QString& value, CliOptions& options, QString& error)
{
    const QString name = QLatin1String(o.name);
    if (isIn(kBenchOptions, o) || isIn(kServeOptions, o)) {
        if (isIn(kBenchOptions, o) ? applyBenchOption(o, value, options) : applyServeOption(o, value, options))
            return true;
        error = invalidValue(name, value);
        return false;
    }
    auto bad = [&] {
        error = invalidValue(name, value);
        return false;
    };
    auto network = [&](std::optional<std::int16_t>& target) {
        // The card holds a network address in one byte: 258 would quietly
        // address meter 2.
        const auto v = strictInteger(value, 0, 255);
        if (!v)
            return bad();
        target = static_cast<std::int16_t>(*v);
        return true;
    };

    if (name == QLatin1String("--help")) {
        options.help = true;
    } else if (name == QLatin1String("--version")) {
        options.version = true;
    } else if (name == QLatin1String("--card")) {
        if (value == QLatin1String("sim"))
            options.start.card = CardKind::Simulated;
        else if (value == QLatin1String("port"))
            options.start.card = CardKind::Ports;
        else
            return bad();
    } else if (name == QLatin1String("--sim-state")) {
        if (value.isEmpty())
            return bad();
        options.start.simState = value;
    } else if (name == QLatin1String("--sim-fault")) {
        SimFaults check;
        if (!parseSimFault(value, check, &error))
            return false;
        options.start.simFaults << value;
    } else if (name == QLatin1String("--sim-pace")) {
        if (!parseSimPace(value, options.start.simPace))
            return bad();
        options.simPaceGiven = true;
    } else if (name == QLatin1String("--model")) {
        if (!(options.model = modelFromText(value)))
            return bad();
    } else if (name == QLatin1String("--meter-address")) {
        return network(options.meterAddress);
    } else if (name == QLatin1String("--master-address")) {
        return network(options.masterAddress);
    } else if (name == QLatin1String("--baud")) {
        if (!(options.baudCode = baudCodeFromText(value)))
            return bad();
    } else if (name == QLatin1String("--transmit-check")) {
        const auto v = strictInteger(value, 0, 1);
        if (!v)
            return bad();
        options.transmitCheck = static_cast<std::int16_t>(*v);
    } else if (name == QLatin1String("--card-address")) {
        QString refusal;
        if (!(options.cardAddress = cardAddressFromText(value, refusal))) {
            bad();
            if (!refusal.isEmpty())
                error += QStringLiteral(" (%1)").arg(refusal);
            return false;
        }
    } else if (name == QLatin1String("--trace")) {
        if (value.isEmpty())
            return bad();
        options.trace = value;
    } else if (name == QLatin1String("--output")) {
        if (value.isEmpty())
            return bad();
        options.output = value;
    } else if (name == QLatin1String("--template")) {
        if (value.isEmpty())
            return bad();
        options.templateFile = value;
    } else if (name == QLatin1String("--eeprom")) {
        options.eeprom = true;
    } else if (name == QLatin1String("--force")) {
        options.force = true;
    } else if (name == QLatin1String("--wait")) {
        options.wait = true;
        if (!value.isNull()) {
            const auto ms = parseSeconds(value, 0);
            if (!ms)
                return bad();
            options.waitLimitMs = *ms;
        }
    } else if (name == QLatin1String("--count")) {
        const auto v = strictInteger(value, 1, 1000000000);
        if (!v)
            return bad();
        options.count = *v;
    } else if (name == QLatin1String("--pdf")) {
        if (value.isEmpty())
            return bad();
        options.pdf = value;
    }
    return true;
}

} // namespace

bool parseCliArguments(const QStringList& args, CliOptions& options, QString& error)
{
    QStringList positional;
    struct Seen {
        const OptionInfo* option;
        QString spelling;
    };
    QList<Seen> seen;
    bool optionsEnded = false;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const OptionInfo* o = findOption(name);
        if (!o) {
            error = QStringLiteral("Nieznana opcja: %1").arg(name);
            return false;
        }
        QString value; // null: none given
        if (o->takesValue) {
            if (eq >= 0) {
                value = arg.mid(eq + 1);
            } else if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1String("--"))) {
                // "--trace -" and "--master-address -1" give their value;
                // "-o --force" is a forgotten file name, not a file "--force".
                value = args[++i];
            } else {
                error = QStringLiteral("Brak wartości opcji %1").arg(name);
                return false;
            }
        } else if (eq >= 0) {
            value = arg.mid(eq + 1);
            if (!valueOptional(*o) || value.isEmpty()) {
                error = invalidValue(name, value);
                return false;
            }
        }
        if (!applyOption(*o, value, options, error))
            return false;
        seen.append({o, name});
    }

    if (options.help || options.version)
        return true;
    if (positional.isEmpty()) {
        error = QStringLiteral("Nie podano polecenia.");
        return false;
    }

    const CommandInfo* command = nullptr;
    for (const CommandInfo& c : kCommands) {
        if (positional.front() == QLatin1String(c.name))
            command = &c;
    }
    if (!command) {
        error = QStringLiteral("Nieznane polecenie: %1").arg(positional.front());
        return false;
    }
    options.command = command->command;
    options.commandName = positional.front();

    if (positional.size() - 1 < command->files) {
        error = command->files == 2
            ? QStringLiteral("Polecenie %1 wymaga nazw dwóch plików konfiguracji.").arg(options.commandName)
            : QStringLiteral("Polecenie %1 wymaga nazwy pliku konfiguracji.").arg(options.commandName);
        return false;
    }
    if (positional.size() - 1 > command->files) {
        error = QStringLiteral("Nadmiarowy argument polecenia %1: %2")
                    .arg(options.commandName, positional[command->files + 1]);
        return false;
    }
    if (command->files >= 1)
        options.file = positional[1];
    if (command->files == 2)
        options.secondFile = positional[2];

    // An option meant for another command is a mistake worth stopping for:
    // "read --eeprom" must not look as if the EEPROM had been written.
    for (const Seen& s : seen) {
        if (s.option->only != 0 && (s.option->only & bit(options.command)) == 0) {
            error = QStringLiteral("Opcja %1 nie dotyczy polecenia %2").arg(s.spelling, options.commandName);
            return false;
        }
    }

    if (options.command == CliCommand::Read && options.output.isEmpty()) {
        error = QStringLiteral("Polecenie read wymaga opcji -o PLIK.");
        return false;
    }
    if (options.command == CliCommand::Print && options.pdf.isEmpty()) {
        error = QStringLiteral("Polecenie print wymaga opcji --pdf PLIK.");
        return false;
    }
    if (options.command == CliCommand::Program && options.addresses.empty()) {
        error = QStringLiteral("Polecenie program wymaga opcji --addresses A-B albo listy adresów, np. 1,4,7-9.");
        return false;
    }
    if (options.allowLinkChange && !options.allowWrite) {
        error = QStringLiteral("Opcja --allow-link-change dotyczy tylko --allow-write");
        return false;
    }
    if (options.command == CliCommand::Serve) {
        // A gateway's latency on a card that answers at once would prove nothing.
        if (!options.simPaceGiven)
            options.start.simPace = SimPace::Real;
        // Which meters: a list of addresses, a list file, or a scan (of
        // the addresses given, else of every unit).
        const int sources = (options.addresses.empty() ? 0 : 1) + (options.metersFile.isEmpty() ? 0 : 1)
            + (options.serveScan ? 1 : 0);
        if (sources == 0) {
            error = QStringLiteral("Polecenie serve wymaga opcji --addresses A-B (albo listy adresów, np. 1,4,7-9), "
                                   "--meters PLIK albo --scan.");
            return false;
        }
        if (!options.metersFile.isEmpty() && sources > 1) {
            error = QStringLiteral("Opcja --meters wyklucza --addresses i --scan: mierniki podaje plik.");
            return false;
        }
        if (options.serveScan && options.model) {
            error = QStringLiteral("Opcja --model nie dotyczy --scan: model każdego znalezionego miernika rozpoznaje "
                                   "jego pamięć.");
            return false;
        }
        if (!options.scanBauds.empty() && !options.serveScan) {
            error = QStringLiteral("Opcja --bauds dotyczy polecenia serve tylko razem z --scan");
            return false;
        }
        for (const std::int16_t a : options.addresses) {
            if (a < kFirstUnit || a > kLastUnit) {
                error = QStringLiteral("Adres %1 nie może być jednostką Modbus: brama obsługuje adresy od %2 do %3.")
                            .arg(a)
                            .arg(kFirstUnit)
                            .arg(kLastUnit);
                return false;
            }
        }
        QHostAddress address;
        quint16 port = 0;
        parseListenAddress(options.listen, address, port);
        // Safe by default: clients from elsewhere only from networks named.
        if (!address.isLoopback() && options.allow.isEmpty()) {
            error = QStringLiteral("Nasłuchiwanie na %1 wymaga opcji --allow SIEĆ/BITY (sieci, z których wolno się "
                                   "łączyć, np. 192.168.1.0/24).")
                        .arg(options.listen);
            return false;
        }
    }
    // Options that mean something only together with another one.
    const auto given = [&seen](const char* option) {
        return std::any_of(seen.begin(), seen.end(),
                           [option](const Seen& s) { return QLatin1String(s.option->name) == QLatin1String(option); });
    };
    if (options.verifyAfterWrite && options.noVerify) {
        error = QStringLiteral("Opcje --verify i --no-verify wykluczają się");
        return false;
    }
    if (options.command == CliCommand::Write && given("--format") && !options.verifyAfterWrite) {
        error = QStringLiteral("Opcja --format dotyczy polecenia write tylko razem z --verify");
        return false;
    }
    if (options.decimalComma && options.format != OutputFormat::Csv) {
        error = QStringLiteral("Opcja --decimal-comma dotyczy tylko --format csv");
        return false;
    }
    return true;
}

QString cliUsageText()
{
    QString text = QStringLiteral(
        "Użycie: vardel-cli [opcje] POLECENIE [argumenty]\n"
        "Operacje na karcie interfejsu i miernikach tablicowych KX-2, KX-3 i KX-4 bez okien.\n"
        "\n"
        "Polecenia:\n"
        "  card-test                 odczyt statusu karty (np. 4h); kod 1, gdy karta nie jest gotowa\n"
        "  card-reset                reset karty, wypisuje ostatni odczytany status (kod jak card-test)\n"
        "  read -o PLIK              odczyt wszystkich rejestrów konfiguracyjnych miernika do pliku\n"
        "                            konfiguracji (pola opisowe z --template PLIK, inaczej puste)\n"
        "  write PLIK                zapis rejestrów z pliku do miernika (--eeprom, --verify,\n"
        "                            --backup, --change-link)\n"
        "  verify PLIK               porównanie miernika z plikiem, rejestr po rejestrze\n"
        "  measure                   bieżące wartości pomiarowe co sekundę do przerwania\n"
        "                            (--count, --interval, --format, --decimal-comma)\n"
        "  print PLIK --pdf WYNIK    wydruk konfiguracji z pliku do pliku PDF\n"
        "  reset-meter               reset miernika, potem status karty\n"
        "  scan                      szuka mierników na wszystkich adresach i prędkościach\n"
        "                            (--addresses, --bauds, --first, --response-time); wiersz na\n"
        "                            miernik: adres, prędkość, model\n"
        "  program PLIK --addresses A-B|LISTA\n"
        "                            zapis pliku do kolejnych mierników jak write (--eeprom, --verify,\n"
        "                            --no-verify, --backup, --log); każdy miernik zachowuje swój\n"
        "                            adres, prędkość, kontrolę nadawania i czas odpowiedzi; wiersz\n"
        "                            i rekord na miernik; --eeprom sprawdza po resecie, chyba że\n"
        "                            --no-verify\n"
        "  diff A B                  porównanie dwóch plików konfiguracji, pole po polu\n"
        "  history                   konfiguracje odczytane z mierników i zapisane do nich, od\n"
        "                            najnowszej (--meter-address N, --model: tylko tego miernika;\n"
        "                            --format)\n"
        "  serve --addresses A-B|LISTA | --meters PLIK | --scan\n"
        "                            brama Modbus TCP do mierników tych adresów, z listy w pliku albo\n"
        "                            znalezionych przy starcie (jednostka = adres, 1..247)\n"
        "                            do przerwania: wartości pomiarowe (funkcja 04) z odświeżanej\n"
        "                            pamięci, rejestry konfiguracyjne (03) z miernika; zapis\n"
        "                            tylko z --allow-write; mapa rejestrów niżej\n"
        "\n"
        "Opcje łącza i karty (wartości domyślne z pliku Vardel.cfg obok programu,\n"
        "po instalacji z ~/.config/vardel/Vardel.cfg):\n"
        "  --card sim|port           karta symulowana (domyślnie) albo prawdziwa karta\n"
        "                            (bezpośredni dostęp do portów: dla członków grupy vardel)\n"
        "  --card-address HEX        adres karty, np. 340h\n"
        "  --model KX-2|KX-3|KX-4    model miernika\n"
        "  --meter-address N         adres sieciowy miernika (0..255)\n"
        "  --master-address N        adres sieciowy master-a (0..255)\n"
        "  --baud B                  1200, 2400, 4800, 9600, 19200 albo 38400\n"
        "  --transmit-check 0|1      kontrola nadawania\n"
        "  --wait[=SEKUNDY]          gdy kartę ma inny program: czeka, aż ją zwolni, najwyżej\n"
        "                            SEKUNDY (bez tej opcji i po tym czasie: kod 3)\n"
        "  --sim-state PLIK          plik stanu symulatora (domyślnie VardelSim.txt obok programu,\n"
        "                            po instalacji w ~/.local/share/vardel)\n"
        "  --sim-fault NAZWA[=K]     usterka symulatora; można podać kilka razy:\n");
    for (const QString& line : simFaultDescriptions())
        text += QStringLiteral("                              ") + line + QLatin1Char('\n');
    text += QStringLiteral(
        "  --sim-pace real|fast      tempo karty symulowanej: fast (domyślnie; dla serve real)\n"
        "                            bez czekania, real jak prawdziwa karta\n"
        "  --trace PLIK              dopisuje do pliku jeden wiersz na wymianę z miernikiem\n"
        "                            (czas, bajty zapytania i odpowiedzi, wynik); \"-\" to stderr\n"
        "\n"
        "Opcje poleceń:\n"
        "  -o, --output PLIK         read: plik wynikowy\n"
        "  --template PLIK           read: plik, z którego pochodzą pola opisowe\n"
        "  --eeprom                  write, program: potem zapis w pamięci EEPROM miernika\n"
        "  --verify                  write, program: potem odczyt i porównanie z plikiem jak verify\n"
        "                            (z --eeprom: po końcu zapisu w EEPROM reset miernika\n"
        "                            i odczyt tego, co EEPROM zachował)\n"
        "  --no-verify               program --eeprom: bez sprawdzenia po resecie (wynik\n"
        "                            stored-unverified zamiast ok)\n"
        "  --backup                  write, program: najpierw odczyt konfiguracji miernika do historii\n"
        "  --change-link             write: zgoda na plik, który zmienia adres, prędkość,\n"
        "                            kontrolę nadawania lub czas odpowiedzi miernika (z --verify\n"
        "                            odczyt pod nowym)\n"
        "  --force                   read, write, verify, print, diff, program: użycie pliku\n"
        "                            z rozszerzeniem innego modelu niż wybrany\n"
        "  --pdf PLIK                print: plik PDF\n"
        "  --count N                 measure: liczba odczytów (domyślnie do przerwania)\n"
        "  --interval S              measure: odstęp odczytów w sekundach, od 0.1 lub 0,1\n"
        "                            (domyślnie 1)\n"
        "  --bauds LISTA             scan, serve --scan: prędkości po przecinku, np. 9600,19200\n"
        "                            (scan: domyślnie wszystkie sześć; serve: prędkość --baud)\n"
        "  --addresses A-B|LISTA     scan, program, serve: adresy sieciowe, np. 1-32 albo 1,4,7-9\n"
        "                            (scan: domyślnie 0-255; serve --scan: przeszukiwane, domyślnie\n"
        "                            1-247)\n"
        "  --first                   scan: koniec po pierwszym znalezionym mierniku\n"
        "  --response-time MS        czas odpowiedzi miernika w ms (0..60000): każde oczekiwanie\n"
        "                            na odpowiedź trwa tyle, ile potrzebuje taki miernik; scan:\n"
        "                            najdłuższy czas szukanych mierników (domyślnie 20, ustawienie\n"
        "                            fabryczne); write: pozwala zapisać czas odpowiedzi do tej\n"
        "                            wartości; read, write, verify, measure, reset-meter, scan,\n"
        "                            program, serve\n"
        "  --meters PLIK             serve: lista mierników, wiersz na miernik: adres i pola\n"
        "                            model=, baud=, transmit-check=, response-time= (pominięte:\n"
        "                            z opcji łącza; model rozpoznany po pamięci); # komentarz\n"
        "  --scan                    serve: przeszukanie sieci przy starcie i obsługa znalezionych\n"
        "                            mierników o rozpoznanym modelu (--addresses, --bauds)\n"
        "  --listen ADRES:PORT       serve: adres nasłuchiwania (domyślnie 127.0.0.1:1502; port 502\n"
        "                            wymaga CAP_NET_BIND_SERVICE)\n"
        "  --allow SIEĆ[,SIEĆ…]      serve: sieci (np. 192.168.1.0/24), z których wolno się łączyć;\n"
        "                            wymagane przy nasłuchiwaniu poza 127.0.0.1\n"
        "  --max-clients N           serve: najwięcej klientów naraz (domyślnie 16)\n"
        "  --idle-timeout S          serve: zamknięcie połączenia bez żądań przez S sekund\n"
        "                            (domyślnie 60)\n"
        "  --poll S                  serve: odświeżanie wartości pomiarowych co S sekund (domyślnie 1)\n"
        "  --request-timeout S       serve: po tylu sekundach bez odpowiedzi wyjątek 06 (żądanie\n"
        "                            czeka w kolejce) albo 0B (odczyt trwa; rozpoczęty zapis\n"
        "                            czeka na miernik); domyślnie 5\n"
        "  --word-order big|little   serve: kolejność słów liczb zmiennoprzecinkowych (domyślnie big:\n"
        "                            starsze słowo pierwsze)\n"
        "  --allow-write             serve: zapis rejestrów i cewek (zapis w EEPROM, reset) przez te\n"
        "                            same zabezpieczenia co write; bez tej opcji wyjątek 01\n"
        "  --allow-link-change       serve --allow-write: zgoda na zapis zmieniający łącze miernika\n"
        "                            (bez niej wyjątek 03)\n"
        "  --log PLIK                program: dopisuje rekord na miernik, CSV (.csv) albo\n"
        "                            JSON (.jsonl, obiekt na wiersz)\n"
        "  --format text|csv|json    measure, scan, verify, write --verify, diff, card-test,\n"
        "                            card-reset, program, history: wiersze tekstu (domyślnie), CSV\n"
        "                            z nagłówkiem (pola rozdzielone ;) albo obiekt JSON na wiersz\n"
        "  --decimal-comma           measure --format csv: liczby z przecinkiem dziesiętnym\n"
        "  --version                 wersja programu\n"
        "  -h, --help                ten opis\n"
        "\n"
        "Mapa rejestrów serve (jednostka = adres miernika; float32 i float64 IEEE-754, starsze\n"
        "słowo pierwsze, z --word-order little młodsze):\n"
        "  04, rejestry 0-19         pole b okna testu (1..10) jako float32 pod 2(b-1); NaN: brak\n"
        "  04, rejestry 20-21        wiek odczytu w ms (32 bity); 22: nieudane odświeżenia;\n"
        "                            23: wynik zapisu w EEPROM (0 brak, 1 sprawdzony, 2 nie)\n"
        "  03, rejestry 2N, 2N+1     rejestr konfiguracyjny N jako float32 (zapis: 16)\n"
        "  03, rejestry 1024+4N..+3  rejestr konfiguracyjny N jako float64 (zapis: 16)\n"
        "  05, cewki 0 i 1           zapis w EEPROM (sprawdzony po resecie), reset miernika\n"
        "  43/14                     „Vardel”, model miernika, wersja programu\n"
        "Przykład (mbpoll liczy rejestry od 1): wartości pomiarowe miernika pod adresem 2:\n"
        "  vardel-cli serve --addresses 1-3 &\n"
        "  mbpoll -m tcp -p 1502 -a 2 -t 3:float -B -r 1 -c 10 -1 127.0.0.1\n"
        "\n"
        "Kody wyjścia: 0 powodzenie, 1 błąd wymiany danych lub karta niegotowa (scan: żaden\n"
        "miernik nie odpowiedział; program: nie każdy miernik zaprogramowano), 2 błędne użycie\n"
        "lub błąd pliku (diff: także pliki różnych modeli), 3 karta niedostępna lub używana\n"
        "przez inny program, 4 różnice (verify, write --verify, diff), 129 zamknięty terminal\n"
        "lub sesja (SIGHUP), 130 przerwane przez Ctrl+C, 141 zamknięty potok na wyjściu\n"
        "(np. | head -1; bez komunikatu), 143 zakończone sygnałem SIGTERM.\n");
    return text;
}

QStringList cliOptionNames(CliCommand command)
{
    QStringList names;
    const auto add = [&](const auto& table) {
        for (const OptionInfo& o : table) {
            if (o.only != 0 && (o.only & bit(command)) == 0)
                continue;
            names << QLatin1String(o.name);
            if (o.alias)
                names << QLatin1String(o.alias);
        }
    };
    add(kOptions);
    add(kBenchOptions);
    add(kServeOptions);
    return names;
}

} // namespace vardel
