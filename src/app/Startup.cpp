#include "app/Startup.h"

#include "fileio/FileLocations.h"
#include "fileio/SafeFile.h"
#include "link/Module1.h"
#include "portio/PortIoBackend.h"
#include "sim/SimCard.h"
#include "sim/SimState.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <pwd.h>

namespace vardel {

namespace {

// "--name=value" or "--name value".
bool takeValue(const QStringList& args, qsizetype& i, const QString& name, QString& value, QString& error)
{
    const QString& arg = args[i];
    if (arg.startsWith(name + QLatin1Char('='))) {
        value = arg.mid(name.size() + 1);
        return true;
    }
    if (i + 1 >= args.size()) {
        error = QStringLiteral("Brak wartości opcji %1").arg(name);
        return false;
    }
    value = args[++i];
    return true;
}

bool isOption(const QString& arg, const QString& name)
{
    return arg == name || arg.startsWith(name + QLatin1Char('='));
}

// Qt's handler chain is the process's own; this is where it goes on.
QtMessageHandler g_nextMessageHandler = nullptr;

void dropRuntimeDirNotice(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!isRuntimeDirNotice(type, message))
        g_nextMessageHandler(type, context, message);
}

} // namespace

bool parseSimPace(const QString& text, SimPace& pace)
{
    if (text == QLatin1String("real"))
        pace = SimPace::Real;
    else if (text == QLatin1String("fast"))
        pace = SimPace::Fast;
    else
        return false;
    return true;
}

bool isRuntimeDirNotice(QtMsgType type, const QString& message)
{
    return type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

void quietRuntimeDirNotice()
{
    if (!g_nextMessageHandler)
        g_nextMessageHandler = qInstallMessageHandler(dropRuntimeDirNotice);
}

bool parseStartOptions(const QStringList& args, StartOptions& options, QString& error)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        QString value;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--version")) {
            options.version = true;
        } else if (isOption(arg, QStringLiteral("--card"))) {
            if (!takeValue(args, i, QStringLiteral("--card"), value, error))
                return false;
            if (value == QLatin1String("sim")) {
                options.card = CardKind::Simulated;
            } else if (value == QLatin1String("port")) {
                options.card = CardKind::Ports;
            } else {
                error = QStringLiteral("Nieprawidłowa wartość opcji %1: %2").arg(QStringLiteral("--card"), value);
                return false;
            }
        } else if (isOption(arg, QStringLiteral("--sim-state"))) {
            if (!takeValue(args, i, QStringLiteral("--sim-state"), value, error))
                return false;
            options.simState = value;
        } else if (isOption(arg, QStringLiteral("--sim-fault"))) {
            if (!takeValue(args, i, QStringLiteral("--sim-fault"), value, error))
                return false;
            SimFaults check;
            if (!parseSimFault(value, check, &error))
                return false;
            options.simFaults << value;
        } else if (isOption(arg, QStringLiteral("--sim-pace"))) {
            if (!takeValue(args, i, QStringLiteral("--sim-pace"), value, error))
                return false;
            if (!parseSimPace(value, options.simPace)) {
                error = QStringLiteral("Nieprawidłowa wartość opcji %1: %2").arg(QStringLiteral("--sim-pace"), value);
                return false;
            }
        } else if (arg == QLatin1String("-platform") || arg == QLatin1String("-display")) {
            // Qt's own choice of window system; the application object takes it.
            if (i + 1 >= args.size()) {
                error = QStringLiteral("Brak wartości opcji %1").arg(arg);
                return false;
            }
            options.windowSystemNamed = true;
            ++i;
        } else if (isOption(arg, QStringLiteral("--trace"))) {
            if (!takeValue(args, i, QStringLiteral("--trace"), value, error))
                return false;
            if (value.isEmpty()) {
                error = QStringLiteral("Nieprawidłowa wartość opcji %1: %2").arg(QStringLiteral("--trace"), value);
                return false;
            }
            options.trace = value;
        } else {
            error = QStringLiteral("Nieznana opcja: %1").arg(arg);
            return false;
        }
    }
    return true;
}

QString startUsageLine()
{
    return QStringLiteral("Użycie: vardel [opcje]   (opis opcji: vardel --help)");
}

bool displayNamed(const StartOptions& options)
{
    return options.windowSystemNamed || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

QString noDisplayMessage()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    const QString what = display.isEmpty()
        ? QStringLiteral("Brak ekranu graficznego (zmienne DISPLAY i WAYLAND_DISPLAY są puste).")
        : QStringLiteral("Nie można połączyć się z ekranem graficznym „%1”.").arg(display);
    return what + QStringLiteral(" Program vardel wymaga środowiska graficznego; bez okien pracuje vardel-cli.");
}

QString startHelpText()
{
    QString text = QStringLiteral(
        "Użycie: vardel [opcje]\n"
        "Sieciowy program testowy dla mierników tablicowych KX-2, KX-3 i KX-4.\n\n"
        "Opcje:\n"
        "  --card=sim|port        karta symulowana (domyślnie) albo prawdziwa karta przez\n"
        "                         bezpośredni dostęp do portów (dla członków grupy vardel)\n"
        "  --sim-state PLIK       plik stanu symulatora (domyślnie VardelSim.txt obok programu,\n"
        "                         po instalacji w ~/.local/share/vardel)\n"
        "  --sim-fault NAZWA[=K]  włącza usterkę symulatora; można podać kilka razy:\n");
    for (const QString& line : SimCard::faultDescriptions())
        text += QStringLiteral("                           ") + line + QLatin1Char('\n');
    text += QStringLiteral(
        "  --sim-pace=real|fast   tempo karty symulowanej: real (domyślnie) jak prawdziwa karta,\n"
        "                         fast bez czekania\n"
        "  --trace PLIK           dopisuje do pliku jeden wiersz na każdą wymianę z miernikiem\n"
        "                         (czas, bajty zapytania i odpowiedzi, wynik); \"-\" to stderr\n"
        "  --version              wersja programu\n"
        "  --help                 ten opis\n");
    return text;
}

QString programFolder(const char* argv0)
{
    QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return QFileInfo(self.canonicalFilePath()).absolutePath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

std::uint16_t portCardAddress(std::int16_t settingsAddress)
{
    // The window then shows the address of the file refused, while the
    // default one is in force.
    return static_cast<std::uint16_t>(isSystemPortPair(settingsAddress) ? kDefaultCardAddress : settingsAddress);
}

std::unique_ptr<PortBackend> createBackend(const StartOptions& options, const QString& programDir,
                                           std::uint16_t cardAddress, QStringList& notes, QString& error)
{
    if (options.card == CardKind::Ports) {
        const std::uint16_t address = portCardAddress(static_cast<std::int16_t>(cardAddress));
        switch (options.ports.way) {
        case PortAccess::Way::Refused:
            error = options.ports.refusal;
            return nullptr;
        case PortAccess::Way::Granted:
            return PortIoBackend::adopt(options.ports.granted);
        case PortAccess::Way::OwnPrivilege:
            break;
        }
        return PortIoBackend::open(address, error);
    }

    SimOptions sim;
    sim.stateFile = simStatePath(options, programDir);
    sim.faults = options.simFaults;
    sim.pace = options.simPace;
    QStringList messages;
    std::unique_ptr<SimCard> card = SimCard::create(sim, messages);
    if (!card) {
        error = messages.join(QLatin1Char('\n'));
        return nullptr;
    }
    notes << messages;
    return card;
}

QString simStatePath(const StartOptions& options, const QString& programDir)
{
    if (!options.simState.isEmpty())
        return options.simState;
    // An installed program's data folder is made on first use of the
    // simulated card, before its lock is taken there; never for a file the
    // user names.
    const QString dataDir = fileLocations(programDir).dataDir;
    makeFolders(dataDir);
    return SimCard::defaultStateFile(dataDir);
}

QString historyFolder(const StartOptions& options, const QString& programDir)
{
    if (options.card == CardKind::Ports)
        return QDir(fileLocations(programDir).dataDir).filePath(QStringLiteral("historia"));
    return QFileInfo(simStatePath(options, programDir)).dir().filePath(QStringLiteral("historia-symulatora"));
}

namespace {

CardLock::Outcome lockCard(CardLock& lock, const QString& path, std::uint16_t cardAddress, const CardWait& wait)
{
    if (!wait.wait)
        return lock.take(path);
    return lock.wait(path, wait.stop, [&](qint64 holder) {
        if (wait.waiting)
            wait.waiting(cardBusyMessage(cardAddress, holder));
    });
}

} // namespace

CardOpen openCard(const StartOptions& options, const QString& programDir, std::uint16_t cardAddress,
                  const CardWait& wait, OpenCard& card, QStringList& notes, QString& error)
{
    card = OpenCard{};
    CardLock lock;
    QString lockPath;
    QString lockFolder;
    if (options.card == CardKind::Simulated) {
        lockPath = simCardLockPath(simStatePath(options, programDir));
    } else {
        // Without the ports there is nothing to lock; the refusal says why.
        card.backend = createBackend(options, programDir, cardAddress, notes, error);
        if (!card.backend)
            return CardOpen::Unavailable;
        card.portIo = static_cast<PortIoBackend*>(card.backend.get());
        lockFolder = systemLockFolder(fileLocations(programDir).installed);
        lockPath = portCardLockPath(lockFolder, cardAddress);
    }

    switch (lockCard(lock, lockPath, cardAddress, wait)) {
    case CardLock::Outcome::Busy:
        card.portIo = nullptr;
        card.backend.reset();
        error = cardBusyMessage(cardAddress, lock.holder());
        return CardOpen::Busy;
    case CardLock::Outcome::Failed:
        // Unguarded, another program could use the card at the same time.
        card.backend.reset();
        error = cardLockFailedMessage(cardAddress, lock);
        return CardOpen::Unavailable;
    case CardLock::Outcome::Taken:
        break;
    }

    if (options.card == CardKind::Ports) {
        auto ports = std::make_unique<LockedPorts>(std::move(card.backend), lockFolder, cardAddress, std::move(lock));
        card.ports = ports.get();
        card.backend = std::move(ports);
        return CardOpen::Opened;
    }
    card.lock = std::move(lock);
    card.backend = createBackend(options, programDir, cardAddress, notes, error);
    return card.backend ? CardOpen::Opened : CardOpen::Unavailable;
}

} // namespace vardel
