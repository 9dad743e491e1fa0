#include "cli/CliOptions.h"

#include "app/TextRules.h"
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

constexpr std::array<CommandInfo, 11> kCommands{{
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

constexpr std::array<OptionInfo, 19> kOptions{{
    {"--help", "-h", false, 0},
    {"--version", nullptr, false, 0},
    {"--card", nullptr, true, 0},
    {"--sim-state", nullptr, true, 0},
    {"--sim-fault", nullptr, true, 0},
    {"--model", nullptr, true, 0},
    {"--meter-address", nullptr, true, 0},
    {"--master-address", nullptr, true, 0},
    {"--baud", nullptr, true, 0},
    {"--transmit-check", nullptr, true, 0},
    {"--card-address", nullptr, true, 0},
    {"--trace", nullptr, true, 0},
    {"--output", "-o", true, bit(CliCommand::Read)},
    {"--template", nullptr, true, bit(CliCommand::Read)},
    {"--eeprom", nullptr, false, bit(CliCommand::Write)},
    {"--force", nullptr, false,
     bit(CliCommand::Read) | bit(CliCommand::Write) | bit(CliCommand::Verify) | bit(CliCommand::Print)},
    {"--count", nullptr, true, bit(CliCommand::Measure)},
    {"--pdf", nullptr, true, bit(CliCommand::Print)},
    {"--wait", nullptr, false, ~(bit(CliCommand::Print) | bit(CliCommand::Diff) | bit(CliCommand::History))}, // these need no card
}};

// Options of scan, diff, write --verify and the recording forms of measure.
constexpr std::array<OptionInfo, 7> kBenchOptions{{
    {"--verify", nullptr, false, bit(CliCommand::Write)},
    {"--change-link", nullptr, false, bit(CliCommand::Write)},
    {"--backup", nullptr, false, bit(CliCommand::Write)},
    {"--bauds", nullptr, true, bit(CliCommand::Scan)},
    {"--addresses", nullptr, true, bit(CliCommand::Scan)},
    {"--interval", nullptr, true, bit(CliCommand::Measure)},
    {"--format", nullptr, true, bit(CliCommand::Measure)},
}};

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
    return findIn(kBenchOptions, name);
}

bool isBenchOption(const OptionInfo& o)
{
    return &o >= kBenchOptions.data() && &o < kBenchOptions.data() + kBenchOptions.size();
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

// "A-B" or a single "A", network addresses 0..255 with A <= B.
bool parseAddressRange(const QString& text, int& first, int& last)
{
    static const QRegularExpression range(QStringLiteral("^([0-9]{1,3})(?:-([0-9]{1,3}))?$"));
    const QRegularExpressionMatch m = range.match(text);
    if (!m.hasMatch())
        return false;
    const int a = m.captured(1).toInt();
    const int b = m.hasCaptured(2) ? m.captured(2).toInt() : a;
    if (a > 255 || b > 255 || a > b)
        return false;
    first = a;
    last = b;
    return true;
}

// Seconds with a point or a comma, to the millisecond; from 0.1 s (the card
// needs time for an exchange) up to a day.
std::optional<int> parseInterval(const QString& text)
{
    static const QRegularExpression seconds(QStringLiteral("^([0-9]{1,5})(?:[.,]([0-9]{1,3}))?$"));
    const QRegularExpressionMatch m = seconds.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int ms = m.captured(1).toInt() * 1000 + m.captured(2).leftJustified(3, QLatin1Char('0')).toInt();
    if (ms < 100 || ms > 86400 * 1000)
        return std::nullopt;
    return ms;
}

bool applyBenchOption(const OptionInfo& o, const QString& value, CliOptions& options)
{
    const QLatin1String name(o.name);
    if (name == QLatin1String("--verify")) {
        options.verifyAfterWrite = true;
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
        return parseAddressRange(value, options.scanFirst, options.scanLast);
    if (name == QLatin1String("--interval")) {
        const auto ms = parseInterval(value);
        if (ms)
            options.intervalMs = *ms;
        return ms.has_value();
    }
    if (value == QLatin1String("text"))
        options.format = MeasureFormat::Text;
    else if (value == QLatin1String("csv"))
        options.format = MeasureFormat::Csv;
    else if (value == QLatin1String("json"))
        options.format = MeasureFormat::Json;
    else
        return false;
    return true;
}

bool applyOption(const OptionInfo& o, const QString& value, CliOptions& options, QString& error)
{
    const QString name = QLatin1String(o.name);
    if (isBenchOption(o)) {
        if (applyBenchOption(o, value, options))
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
        QString value;
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
            error = invalidValue(name, arg.mid(eq + 1));
            return false;
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
    return true;
}

QString cliUsageText()
{
    QString text = QStringLiteral(
        "Użycie: vardel-cli [opcje] POLECENIE [argumenty]\n"
        "Operacje na karcie interfejsu i miernikach tablicowych KX-2, KX-3 i KX-4 bez okien.\n"
        "\n"
        "Polecenia:\n"
        "  card-test                 odczyt statusu karty (np. 4h)\n"
        "  card-reset                reset karty, wypisuje ostatni odczytany status\n"
        "  read -o PLIK              odczyt wszystkich rejestrów konfiguracyjnych miernika do pliku\n"
        "                            konfiguracji (pola opisowe z --template PLIK, inaczej puste)\n"
        "  write PLIK [--eeprom]     zapis rejestrów z pliku do miernika, z --eeprom także zapis\n"
        "                            w pamięci EEPROM miernika; z --verify potem odczyt i porównanie\n"
        "                            jak verify (z --eeprom: po końcu zapisu w EEPROM reset miernika\n"
        "                            i odczyt tego, co EEPROM zachował); --backup: najpierw odczyt\n"
        "                            miernika do historii; --change-link: zgoda na plik, który zmienia\n"
        "                            adres, prędkość lub kontrolę nadawania miernika\n"
        "  verify PLIK               porównanie miernika z plikiem, rejestr po rejestrze\n"
        "  measure [--count N]       pomiary co sekundę (--interval S), N razy (domyślnie do\n"
        "                            przerwania), jako wiersz tekstu, CSV albo JSON (--format)\n"
        "  print PLIK --pdf WYNIK    wydruk konfiguracji z pliku do pliku PDF\n"
        "  reset-meter               reset miernika\n"
        "  scan                      szuka mierników na wszystkich adresach i prędkościach\n"
        "                            (--addresses, --bauds); wiersz na miernik: adres, prędkość, model\n"
        "  diff A B                  porównanie dwóch plików konfiguracji, pole po polu\n"        "  history                   konfiguracje odczytane z mierników i zapisane do nich, od\n"
        "                            najnowszej (--meter-address N, --model: tylko tego miernika)\n"
        "\n"
        "Opcje:\n"
        "  --card sim|port           karta symulowana (domyślnie) albo prawdziwa karta\n"
        "                            (bezpośredni dostęp do portów: root lub CAP_SYS_RAWIO)\n"
        "  --sim-state PLIK          plik stanu symulatora (domyślnie VardelSim.txt obok programu,\n"
        "                            po instalacji w ~/.local/share/vardel)\n"
        "  --sim-fault NAZWA[=K]     usterka symulatora; można podać kilka razy:\n");
    for (const QString& line : simFaultDescriptions())
        text += QStringLiteral("                              ") + line + QLatin1Char('\n');
    text += QStringLiteral(
        "  --model KX-2|KX-3|KX-4    model miernika\n"
        "  --meter-address N         adres sieciowy miernika (0..255)\n"
        "  --master-address N        adres sieciowy master-a (0..255)\n"
        "  --baud B                  1200, 2400, 4800, 9600, 19200 albo 38400\n"
        "  --transmit-check 0|1      kontrola nadawania\n"
        "  --card-address HEX        adres karty, np. 340h\n"
        "  --trace PLIK              dopisuje do pliku jeden wiersz na wymianę z miernikiem\n"
        "                            (czas, bajty zapytania i odpowiedzi, wynik); \"-\" to stderr\n"
        "  --force                   użycie pliku z rozszerzeniem innego modelu\n"
        "  --verify                  write: odczyt i porównanie z plikiem po zapisie\n"        "  --change-link             write: zapis mimo zmiany adresu, prędkości lub kontroli\n"
        "                            nadawania miernika (z --verify odczyt już pod nowym adresem)\n"
        "  --backup                  write: przed zapisem odczyt konfiguracji miernika do historii\n"
        "  --bauds LISTA             scan: prędkości po przecinku, np. 9600,19200 (domyślnie\n"
        "                            wszystkie sześć)\n"
        "  --addresses A-B           scan: zakres adresów sieciowych (domyślnie 0-255)\n"
        "  --interval S              measure: odstęp odczytów w sekundach, od 0.1 (domyślnie 1)\n"
        "  --format text|csv|json    measure: wiersz tekstu (domyślnie), CSV z nagłówkiem albo\n"
        "                            obiekt JSON na wiersz; czas ISO 8601 na początku\n"
        "  --wait                    gdy kartę ma inny program: czeka, aż ją zwolni\n"
        "                            (bez tej opcji polecenie kończy się od razu kodem 3)\n"
        "  --version                 wersja programu\n"
        "  --help                    ten opis\n"
        "\n"
        "Wartości domyślne opcji łącza pochodzą z pliku Vardel.cfg obok programu\n"
        "(po instalacji z ~/.config/vardel/Vardel.cfg).\n"
        "Kody wyjścia: 0 powodzenie, 1 błąd wymiany danych (scan: żaden miernik nie odpowiedział),\n"
        "2 błędne użycie lub błąd pliku (diff: także pliki różnych modeli), 3 karta niedostępna\n"
        "lub używana przez inny program, 4 różnice (verify, write --verify, diff),\n"
        "130 przerwane przez Ctrl+C, 143 zakończone sygnałem SIGTERM.\n");
    return text;
}

} // namespace vardel
