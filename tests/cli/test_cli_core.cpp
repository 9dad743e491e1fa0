#include "meterops/MeterFeedback.h"
#include "cli/CliOptions.h"
#include "measure/MeasureRecord.h"
#include "link/Module1.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace vardel;

namespace {

QStringList split(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

TEST(CliArguments, OptionsStandBeforeOrAfterTheCommandInBothSpellings)
{
    struct Case {
        const char* args;
    };
    const Case cases[] = {
        {"--model KX-4 --meter-address 3 --baud 38400 write cfg.KX4 --eeprom --card-address 300h"},
        {"write --model=KX-4 cfg.KX4 --meter-address=3 --eeprom --baud=38400 --card-address=300"},
        {"--eeprom --card-address 300H write --baud 38400 --meter-address 3 --model kx4 cfg.KX4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliOptions o;
        QString error;
        ASSERT_TRUE(parseCliArguments(split(c.args), o, error)) << error.toStdString();
        EXPECT_EQ(o.command, CliCommand::Write);
        EXPECT_EQ(o.file, QStringLiteral("cfg.KX4"));
        EXPECT_TRUE(o.eeprom);
        EXPECT_EQ(o.model, std::int16_t{2});
        EXPECT_EQ(o.meterAddress, std::int16_t{3});
        EXPECT_EQ(o.baudCode, std::int16_t{5});
        EXPECT_EQ(o.cardAddress, std::int16_t{0x300});
        EXPECT_FALSE(o.masterAddress.has_value()); // left to Vardel.cfg
    }
}

TEST(CliArguments, EveryCommandWithItsOwnOptions)
{
    CliOptions o;
    QString error;
    ASSERT_TRUE(parseCliArguments(split("read -o out.KX3 --template t.KX3 --force --trace - --card port"), o, error));
    EXPECT_EQ(o.output, QStringLiteral("out.KX3"));
    EXPECT_EQ(o.templateFile, QStringLiteral("t.KX3"));
    EXPECT_TRUE(o.force);
    EXPECT_EQ(o.trace, QStringLiteral("-"));
    EXPECT_EQ(o.start.card, CardKind::Ports);

    o = {};
    ASSERT_TRUE(parseCliArguments(split("measure --count 2 --sim-fault slow-reply=3 --sim-fault no-ack"), o, error));
    EXPECT_EQ(o.count, 2);
    EXPECT_EQ(o.start.simFaults, QStringList({QStringLiteral("slow-reply=3"), QStringLiteral("no-ack")}));

    o = {};
    ASSERT_TRUE(parseCliArguments(split("print a.KX2 --pdf out.pdf"), o, error));
    EXPECT_EQ(o.file, QStringLiteral("a.KX2"));
    EXPECT_EQ(o.pdf, QStringLiteral("out.pdf"));

    // After "--" a file name may begin with a dash.
    o = {};
    ASSERT_TRUE(parseCliArguments(split("verify -- -odd.KX3"), o, error));
    EXPECT_EQ(o.file, QStringLiteral("-odd.KX3"));

    o = {};
    ASSERT_TRUE(parseCliArguments(split("serve --addresses 1-3 --listen [::]:502 --allow 10.0.0.0/8,192.168.1.7 "
                                        "--allow fd00::/8 --max-clients 40 --poll 0,5 --request-timeout 2 "
                                        "--word-order little"),
                                  o, error))
        << error.toStdString();
    EXPECT_EQ(o.command, CliCommand::Serve);
    EXPECT_EQ(o.listen, QStringLiteral("[::]:502"));
    EXPECT_EQ(o.allow, QStringList({QStringLiteral("10.0.0.0/8"), QStringLiteral("192.168.1.7"), QStringLiteral("fd00::/8")}));
    EXPECT_EQ(o.maxClients, 40);
    EXPECT_EQ(o.pollMs, 500);
    EXPECT_EQ(o.requestTimeoutMs, 2000);
    EXPECT_TRUE(o.lowWordFirst);
    // A gateway paces its simulated card as a real one unless told otherwise;
    // the other commands answer at once.
    EXPECT_EQ(o.start.simPace, SimPace::Real);
    o = {};
    ASSERT_TRUE(parseCliArguments(split("serve --addresses 1 --sim-pace fast"), o, error));
    EXPECT_EQ(o.start.simPace, SimPace::Fast);
    o = {};
    ASSERT_TRUE(parseCliArguments(split("measure"), o, error));
    EXPECT_EQ(o.start.simPace, SimPace::Fast);

    o = {};
    ASSERT_TRUE(parseCliArguments(split("scan --bauds 19200,1200,19200 --addresses 3-7"), o, error));
    EXPECT_EQ(o.command, CliCommand::Scan);
    EXPECT_EQ(o.scanBauds, (std::vector<std::int16_t>{4, 0})); // as given, each once
    EXPECT_EQ(o.addresses, (std::vector<std::int16_t>{3, 4, 5, 6, 7}));
    ASSERT_TRUE(parseCliArguments(split("scan --addresses 9 --first --response-time 150"), o, error));
    EXPECT_EQ(o.addresses, (std::vector<std::int16_t>{9}));
    EXPECT_TRUE(o.scanFirstOnly);
    EXPECT_EQ(o.responseTimeMs, 150);

    // A production line's list: ranges and single addresses, each once, in
    // the order given.
    o = {};
    ASSERT_TRUE(parseCliArguments(split("program m.KX3 --addresses 7-9,1,4,8 --eeprom --verify --backup --log l.csv"), o, error))
        << error.toStdString();
    EXPECT_EQ(o.command, CliCommand::Program);
    EXPECT_EQ(o.file, QStringLiteral("m.KX3"));
    EXPECT_EQ(o.addresses, (std::vector<std::int16_t>{7, 8, 9, 1, 4}));
    EXPECT_TRUE(o.eeprom && o.verifyAfterWrite && o.backup);
    EXPECT_EQ(o.log, QStringLiteral("l.csv"));

    o = {};
    ASSERT_TRUE(parseCliArguments(split("measure --interval 0,25 --format json"), o, error));
    EXPECT_EQ(o.intervalMs, 250);
    EXPECT_EQ(o.format, OutputFormat::Json);
    o = {};
    ASSERT_TRUE(parseCliArguments(split("measure"), o, error));
    EXPECT_EQ(o.intervalMs, 1000);
    EXPECT_EQ(o.format, OutputFormat::Text);

    o = {};
    ASSERT_TRUE(parseCliArguments(split("diff a.KX3 b.KX3"), o, error));
    EXPECT_EQ(o.file, QStringLiteral("a.KX3"));
    EXPECT_EQ(o.secondFile, QStringLiteral("b.KX3"));
    ASSERT_TRUE(parseCliArguments(split("write a.KX3 --verify --eeprom --change-link --backup"), o, error));
    EXPECT_TRUE(o.verifyAfterWrite);
    EXPECT_TRUE(o.changeLink);
    EXPECT_TRUE(o.backup);

    o = {};
    ASSERT_TRUE(parseCliArguments(split("history --meter-address 7"), o, error));
    EXPECT_EQ(o.command, CliCommand::History);
    EXPECT_EQ(o.meterAddress, std::int16_t{7});

    o = {};
    ASSERT_TRUE(parseCliArguments(split("measure --format csv --decimal-comma"), o, error));
    EXPECT_TRUE(o.decimalComma);
    for (const char* args : {"scan --format=json", "verify a.KX3 --format json", "diff a.KX3 b.KX3 --format csv",
                             "card-test --format json", "card-reset --format csv", "write a.KX3 --verify --format json"}) {
        SCOPED_TRACE(args);
        o = {};
        ASSERT_TRUE(parseCliArguments(split(args), o, error)) << error.toStdString();
        EXPECT_NE(o.format, OutputFormat::Text);
    }
    // The message for another model asks for --force: diff takes it too.
    o = {};
    ASSERT_TRUE(parseCliArguments(split("diff a.KX3 b.KX3 --model KX-4 --force"), o, error)) << error.toStdString();
    EXPECT_TRUE(o.force);

    // --wait alone waits as long as it takes; with "=S" that long at most.
    o = {};
    ASSERT_TRUE(parseCliArguments(split("card-test --wait"), o, error));
    EXPECT_TRUE(o.wait);
    EXPECT_EQ(o.waitLimitMs, -1);
    ASSERT_TRUE(parseCliArguments(split("card-test --wait=2,5"), o, error));
    EXPECT_EQ(o.waitLimitMs, 2500);
    ASSERT_TRUE(parseCliArguments(split("card-test --wait=0"), o, error));
    EXPECT_EQ(o.waitLimitMs, 0);

    o = {};
    ASSERT_TRUE(parseCliArguments(split("--help"), o, error));
    EXPECT_TRUE(o.help);
}

TEST(CliArguments, MistakesAreRefusedWithTheirReason)
{
    struct Case {
        const char* args;
        const char* message;
    };
    const Case cases[] = {
        {"", "Nie podano polecenia."},
        {"fetch", "Nieznane polecenie: fetch"},
        {"card-test --verbose", "Nieznana opcja: --verbose"},
        {"card-test --model", "Brak wartości opcji --model"},
        {"read -o --force", "Brak wartości opcji -o"},
        {"card-test --model KX-5", "Nieprawidłowa wartość opcji --model: KX-5"},
        {"card-test --baud 9601", "Nieprawidłowa wartość opcji --baud: 9601"},
        {"card-test --transmit-check 2", "Nieprawidłowa wartość opcji --transmit-check: 2"},
        // One byte in the card: 258 would address meter 2 without a word.
        {"card-test --meter-address 258", "Nieprawidłowa wartość opcji --meter-address: 258"},
        {"card-test --master-address -1", "Nieprawidłowa wartość opcji --master-address: -1"},
        {"card-test --card-address 34G", "Nieprawidłowa wartość opcji --card-address: 34G"},
        {"card-test --card-address 12345", "Nieprawidłowa wartość opcji --card-address: 12345"},
        {"card-test --card-address 7FFF",
         "Nieprawidłowa wartość opcji --card-address: 7FFF (Nieprawidłowy adres: wartość poza zakresem 16 bitów)"},
        // The mainboard's own ports, FFFF's command port (0) among them.
        {"card-test --card-address 20h",
         "Nieprawidłowa wartość opcji --card-address: 20h (Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h))"},
        {"card-test --card-address FFFF",
         "Nieprawidłowa wartość opcji --card-address: FFFF (Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h))"},
        {"card-test --card usb", "Nieprawidłowa wartość opcji --card: usb"},
        {"card-test --sim-fault slow-reply=x", "Nieprawidłowa wartość usterki symulatora slow-reply: x"},
        {"measure --count 0", "Nieprawidłowa wartość opcji --count: 0"},
        {"write", "Polecenie write wymaga nazwy pliku konfiguracji."},
        {"write a.KX3 b.KX3", "Nadmiarowy argument polecenia write: b.KX3"},
        {"read", "Polecenie read wymaga opcji -o PLIK."},
        {"print a.KX3", "Polecenie print wymaga opcji --pdf PLIK."},
        {"read -o x.KX3 --eeprom", "Opcja --eeprom nie dotyczy polecenia read"},
        {"write a.KX3 --pdf x.pdf", "Opcja --pdf nie dotyczy polecenia write"},
        {"card-test --force", "Opcja --force nie dotyczy polecenia card-test"},
        {"read -o x.KX3 --change-link", "Opcja --change-link nie dotyczy polecenia read"},
        {"history --wait", "Opcja --wait nie dotyczy polecenia history"},
        {"write a.KX3 --eeprom=1", "Nieprawidłowa wartość opcji --eeprom: 1"},
        {"scan --bauds 19200,", "Nieprawidłowa wartość opcji --bauds: 19200,"},
        {"serve", "Polecenie serve wymaga opcji --addresses A-B (albo listy adresów, np. 1,4,7-9), --meters PLIK albo --scan."},
        {"serve --addresses 0-3", "Adres 0 nie może być jednostką Modbus: brama obsługuje adresy od 1 do 247."},
        {"serve --addresses 248", "Adres 248 nie może być jednostką Modbus: brama obsługuje adresy od 1 do 247."},
        {"serve --meters m.conf --scan", "Opcja --meters wyklucza --addresses i --scan: mierniki podaje plik."},
        {"serve --meters m.conf --addresses 1", "Opcja --meters wyklucza --addresses i --scan: mierniki podaje plik."},
        {"serve --scan --model KX-3", "Opcja --model nie dotyczy --scan: model każdego znalezionego miernika rozpoznaje jego pamięć."},
        {"serve --addresses 1 --bauds 9600", "Opcja --bauds dotyczy polecenia serve tylko razem z --scan"},
        {"serve --scan --idle-timeout 0", "Nieprawidłowa wartość opcji --idle-timeout: 0"},
        // Safe by default: another address than loopback names who may come.
        {"serve --addresses 1 --listen 0.0.0.0:1502",
         "Nasłuchiwanie na 0.0.0.0:1502 wymaga opcji --allow SIEĆ/BITY (sieci, z których wolno się łączyć, "
         "np. 192.168.1.0/24)."},
        {"serve --addresses 1 --listen 127.0.0.1:70000", "Nieprawidłowa wartość opcji --listen: 127.0.0.1:70000"},
        {"serve --addresses 1 --listen ::1:1502", "Nieprawidłowa wartość opcji --listen: ::1:1502"},
        {"serve --addresses 1 --listen localhost", "Nieprawidłowa wartość opcji --listen: localhost"},
        {"serve --addresses 1 --allow 10.0.0.0/33", "Nieprawidłowa wartość opcji --allow: 10.0.0.0/33"},
        {"serve --addresses 1 --max-clients 0", "Nieprawidłowa wartość opcji --max-clients: 0"},
        {"serve --addresses 1 --poll 0,05", "Nieprawidłowa wartość opcji --poll: 0,05"},
        {"serve --addresses 1 --word-order middle", "Nieprawidłowa wartość opcji --word-order: middle"},
        {"measure --listen 127.0.0.1:1502", "Opcja --listen nie dotyczy polecenia measure"},
        {"scan --bauds 19201", "Nieprawidłowa wartość opcji --bauds: 19201"},
        {"scan --addresses 7-3", "Nieprawidłowa wartość opcji --addresses: 7-3"},
        {"scan --addresses 0-256", "Nieprawidłowa wartość opcji --addresses: 0-256"},
        {"program a.KX3 --addresses 1,,3", "Nieprawidłowa wartość opcji --addresses: 1,,3"},
        {"program a.KX3 --addresses 1-3,x", "Nieprawidłowa wartość opcji --addresses: 1-3,x"},
        {"program a.KX3", "Polecenie program wymaga opcji --addresses A-B albo listy adresów, np. 1,4,7-9."},
        {"program a.KX3 --addresses 1 --change-link", "Opcja --change-link nie dotyczy polecenia program"},
        {"write a.KX3 --log l.csv", "Opcja --log nie dotyczy polecenia write"},
        {"scan --response-time 60001", "Nieprawidłowa wartość opcji --response-time: 60001"},
        {"program a.KX3 --addresses 1 --first", "Opcja --first nie dotyczy polecenia program"},
        {"program a.KX3 --addresses 1 --eeprom --verify --no-verify", "Opcje --verify i --no-verify wykluczają się"},
        {"write a.KX3 --eeprom --no-verify", "Opcja --no-verify nie dotyczy polecenia write"},
        {"measure --interval 0.05", "Nieprawidłowa wartość opcji --interval: 0.05"},
        {"measure --interval 1e3", "Nieprawidłowa wartość opcji --interval: 1e3"},
        {"measure --format xml", "Nieprawidłowa wartość opcji --format: xml"},
        {"diff a.KX3", "Polecenie diff wymaga nazw dwóch plików konfiguracji."},
        {"verify a.KX3 --verify", "Opcja --verify nie dotyczy polecenia verify"},
        {"measure --bauds 9600", "Opcja --bauds nie dotyczy polecenia measure"},
        {"scan --interval 2", "Opcja --interval nie dotyczy polecenia scan"},
        {"read -o a.KX3 --format json", "Opcja --format nie dotyczy polecenia read"},
        {"write a.KX3 --format json", "Opcja --format dotyczy polecenia write tylko razem z --verify"},
        {"measure --decimal-comma", "Opcja --decimal-comma dotyczy tylko --format csv"},
        {"measure --format json --decimal-comma", "Opcja --decimal-comma dotyczy tylko --format csv"},
        {"scan --format csv --decimal-comma", "Opcja --decimal-comma nie dotyczy polecenia scan"},
        {"card-test --wait=", "Nieprawidłowa wartość opcji --wait: "},
        {"card-test --wait=-1", "Nieprawidłowa wartość opcji --wait: -1"},
        {"card-test --wait=1h", "Nieprawidłowa wartość opcji --wait: 1h"},
        {"card-test --wait=86401", "Nieprawidłowa wartość opcji --wait: 86401"},
        {"print a.KX3 --pdf a.pdf --wait", "Opcja --wait nie dotyczy polecenia print"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliOptions o;
        QString error;
        EXPECT_FALSE(parseCliArguments(split(c.args), o, error));
        EXPECT_EQ(error, QString::fromUtf8(c.message));
    }
}

TEST(LinkErrorsTest, TheFirstErrorNamesTheMessage)
{
    LinkErrors errors;
    errors.showReceiveError();
    errors.showTransmitError();
    EXPECT_EQ(errors.count(), 2);
    EXPECT_EQ(errors.message(QStringLiteral("rejestr 5")), QStringLiteral("Błąd odbioru danych (rejestr 5)"));
    errors.clear();
    errors.showTransmitError();
    EXPECT_EQ(errors.message(), QStringLiteral("Błąd nadawania danych"));
}

TEST(ProgressDisplayTest, TimeLeftIsWrittenInTheUnitsThatMatter)
{
    using namespace std::chrono;
    const std::pair<nanoseconds, const char*> cases[] = {
        {milliseconds(1), "1 s"},         {seconds(59), "59 s"},           {milliseconds(59001), "1 min 0 s"},
        {seconds(135), "2 min 15 s"},     {seconds(3599), "59 min 59 s"},  {seconds(3600), "1 h 0 min"},
        {seconds(76 * 60 + 1), "1 h 17 min"},
    };
    for (const auto& [left, text] : cases)
        EXPECT_EQ(timeLeftText(left), QString::fromUtf8(text)) << text;
}

TEST(ProgressDisplayTest, DrawsOnATerminalOnly)
{
    QByteArray written;
    auto writer = [&written](const QByteArray& b) { written += b; };
    {
        ProgressDisplay bar(QStringLiteral("Zapis rejestrów"), false, writer);
        bar.update(1, 4);
    }
    EXPECT_TRUE(written.isEmpty());

    {
        ProgressDisplay bar(QStringLiteral("Odczyt rejestrów"), true, writer);
        bar.update(1, 4);
        bar.update(4, 4);
    }
    const QString text = QString::fromUtf8(written);
    EXPECT_TRUE(text.startsWith(QStringLiteral("\r[#######.......................] Odczyt rejestrów: 1 z 4\r[")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("##] Odczyt rejestrów: 4 z 4\n"))) << text.toStdString();

    // hide() clears the bar's line for a result line; nothing to end after it.
    written.clear();
    {
        ProgressDisplay bar(QStringLiteral("Przeszukiwanie sieci"), true, writer);
        bar.update(1, 2);
        bar.hide();
        bar.hide();
    }
    EXPECT_TRUE(written.endsWith("1 z 2\r\x1b[K")) << written.toStdString();

    // Under a run's line (program): both lines drawn, each wiped to its end,
    // the cursor back on the upper one; done, both are wiped for what follows.
    written.clear();
    const QString run = QStringLiteral("Programowanie: miernik 2 z 32 (adres 5), zaprogramowano 1");
    {
        ProgressDisplay bar(QStringLiteral("Zapis rejestrów"), true, writer, &run);
        bar.update(0, 0);
        bar.update(50, 100, QStringLiteral("zostało ok. 3 s"));
    }
    EXPECT_EQ(QString::fromUtf8(written),
              QStringLiteral("\r\x1b[K") + run + QStringLiteral("\n\x1b[KZapis rejestrów\x1b[1A\r") + QStringLiteral("\r\x1b[K")
                  + run + QStringLiteral("\n\x1b[K[###############...............] Zapis rejestrów: 50 z 100, zostało ok. 3 s")
                  + QStringLiteral("\x1b[1A\r\r\x1b[K\n\x1b[K\x1b[1A\r"));
}

TEST(MeasureRecordTest, EveryFormatCarriesEveryCaptionOfTheModel)
{
    // A KX-2 reply of which the balance was cut off: its column stays, empty.
    const std::vector<MeasuredValue> values{{1, 1, 22.5f}, {2, 7, -0.25f}, {5, 13, 1.234568e7f}};
    const QDateTime time(QDate(2026, 12, 10), QTime(10, 0, 1, 5), QTimeZone("Europe/Warsaw"));

    EXPECT_EQ(measureHeaderLine(OutputFormat::Csv, kModelKX2),
              QStringLiteral("Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1"));
    EXPECT_EQ(measureHeaderLine(OutputFormat::Json, kModelKX2), QString());
    EXPECT_EQ(measureHeaderLine(OutputFormat::Text, kModelKX2), QString());

    EXPECT_EQ(measureRecordLine(OutputFormat::Csv, kModelKX2, time, values),
              QStringLiteral("2026-12-10T10:00:01.005+01:00;22.5;-0.25;1.234568E+07;"));
    // For a spreadsheet in Polish settings; the separator stays.
    EXPECT_EQ(measureRecordLine(OutputFormat::Csv, kModelKX2, time, values, true),
              QStringLiteral("2026-12-10T10:00:01.005+01:00;22,5;-0,25;1,234568E+07;"));
    EXPECT_EQ(measureRecordLine(OutputFormat::Json, kModelKX2, time, values),
              QStringLiteral("{\"Czas\":\"2026-12-10T10:00:01.005+01:00\",\"Pomiar Nr 1\":22.5,\"Pomiar Nr 2\":-0.25,"
                             "\"Funkcja Nr 1\":1.234568E+07,\"Bilans Nr 1\":null}"));
    // Today's line keeps the file's number form and has no time.
    EXPECT_EQ(measureRecordLine(OutputFormat::Text, kModelKX2, time, values),
              QStringLiteral("Pomiar Nr 1: 22.5; Pomiar Nr 2: -.25; Funkcja Nr 1: 1.234568E+07"));
}

namespace {

// Whether `text` names the option, and not only a longer one that begins
// with it ("--card" in "--card-address"). The manual page writes each dash
// as "\-".
bool mentions(const QString& text, const QString& option, bool manual)
{
    QString name = QRegularExpression::escape(option);
    if (manual)
        name.replace(QStringLiteral("\\-"), QStringLiteral(R"(\\-)"));
    return QRegularExpression(name + QStringLiteral(R"((?![a-z]|\\?-))")).match(text).hasMatch();
}

// What the bash completion offers after "vardel-cli COMMAND -".
QStringList completedOptions(const QString& command)
{
    QProcess bash;
    bash.start(QStringLiteral("bash"),
               {QStringLiteral("-c"),
                QStringLiteral(R"(source "$1"; COMP_WORDS=(vardel-cli "$2" -); COMP_CWORD=2; _vardel_cli;
                                  printf '%s\n' "${COMPREPLY[@]}")"),
                QStringLiteral("bash"), QStringLiteral(VARDEL_SOURCE_DIR "/packaging/vardel-cli.bash-completion"),
                command});
    bash.waitForFinished();
    return QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

// Every option the parser takes with a command is in --help and on the
// manual page, and the completion offers with each command exactly those.
TEST(CliDocumentation, HelpManualAndCompletionNameEveryOption)
{
    QFile page(QStringLiteral(VARDEL_SOURCE_DIR "/packaging/vardel-cli.1"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString manual = QString::fromUtf8(page.readAll());
    const QString help = cliUsageText();

    const std::pair<const char*, CliCommand> commands[] = {
        {"card-test", CliCommand::CardTest}, {"card-reset", CliCommand::CardReset}, {"read", CliCommand::Read},
        {"write", CliCommand::Write},        {"verify", CliCommand::Verify},        {"measure", CliCommand::Measure},
        {"print", CliCommand::Print},        {"reset-meter", CliCommand::ResetMeter}, {"scan", CliCommand::Scan},
        {"diff", CliCommand::Diff},          {"program", CliCommand::Program},     {"serve", CliCommand::Serve},
    };
    for (const auto& [word, command] : commands) {
        SCOPED_TRACE(word);
        const QStringList taken = cliOptionNames(command);
        for (const QString& option : taken) {
            EXPECT_TRUE(mentions(help, option, false)) << "--help lacks " << option.toStdString();
            EXPECT_TRUE(mentions(manual, option, true)) << "the manual page lacks " << option.toStdString();
        }
        const QStringList offered = completedOptions(QString::fromUtf8(word));
        ASSERT_FALSE(offered.isEmpty());
        for (const QString& option : offered)
            EXPECT_TRUE(taken.contains(option)) << "completion offers " << option.toStdString() << ", refused";
        for (const QString& option : taken)
            EXPECT_TRUE(offered.contains(option) || !option.startsWith(QLatin1String("--")))
                << "completion lacks " << option.toStdString();
    }
}
