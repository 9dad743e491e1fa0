#include "app/Form1.h"
#include "app/ProcessGuards.h"
#include "app/QtTranslations.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "config/RegisterTable.h"
#include "fileio/OutputStream.h"
#include "fileio/RootEnvironment.h"
#include "fileio/SafeFile.h"
#include "link/LinkTrace.h"
#include "link/Module1.h"
#include "portio/PortIoBackend.h"
#include "sim/SimCard.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

using namespace vardel;

namespace {

// While the window system starts, Qt's messages are held back: a display
// that cannot be opened ends in qFatal, an abort with advice meant for
// developers. The user gets one Polish line and the given exit code instead.
int g_noDisplayExit = 2;
bool g_sayNoDisplay = true;
QStringList g_heldMessages;

void holdStartMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (isRuntimeDirNotice(type, message))
        return;
    if (type == QtFatalMsg) {
        if (g_sayNoDisplay)
            std::fprintf(stderr, "vardel: %s\n", qPrintable(noDisplayMessage()));
        std::fflush(stderr);
        std::_Exit(g_noDisplayExit);
    }
    g_heldMessages << qFormatLogMessage(type, context, message);
}

std::unique_ptr<QApplication> openWindowSystem(int& argc, char** argv, int failCode, bool sayWhy)
{
    g_noDisplayExit = failCode;
    g_sayNoDisplay = sayWhy;
    const QtMessageHandler previous = qInstallMessageHandler(holdStartMessages);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& held : std::exchange(g_heldMessages, {}))
        std::fprintf(stderr, "%s\n", qPrintable(held));
    return app;
}

// The first stop signal (Ctrl+C, SIGTERM, SIGHUP); the link's waits watch
// it, and a byte in the wake pipe brings the event loop round to end.
std::atomic<int> g_stop{0};

int stopExitCode(int otherwise)
{
    return g_stop.load() != 0 ? 128 + g_stop.load() : otherwise;
}

// A stop signal ends every event loop under way, a message box's too, once
// the exchange under way has ended (its waits fail at once). Vardel.cfg is
// not written: that is "Koniec pracy".
void endOnStopSignal(QCoreApplication& app, int wakeFd)
{
    if (wakeFd < 0)
        return;
    auto* wake = new QSocketNotifier(wakeFd, QSocketNotifier::Read, &app);
    QObject::connect(wake, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(stopExitCode(0)); });
}

int run(int argc, char** argv, int wakeFd)
{
    // A privilege the program was started with is gone before this line
    // (privilege/DropAtStart.cpp). What the port helper left for it is taken
    // now, before anything could hand it on.
    const HelperGrant grant = takeHelperGrant(systemPrivilegeOps());

    quietRuntimeDirNotice();
    // The options and the back end are settled before any window exists, so
    // that --help, a mistyped option and a refused port work without a display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    StartOptions options;
    QString error;
    if (!parseStartOptions(args, options, error)) {
        std::fprintf(stderr, "vardel: %s\n%s\n", qPrintable(error), qPrintable(startUsageLine()));
        return 2;
    }
    if (options.help || options.version) {
        OutputStream out(STDOUT_FILENO, &g_stop);
        if (out.write(options.help ? startHelpText().toUtf8() : QByteArrayLiteral("vardel " VARDEL_VERSION "\n")))
            return 0;
        if (out.error() != EPIPE)
            std::fprintf(stderr, "vardel: Nie można zapisać wyników na standardowe wyjście: %s\n",
                         qPrintable(systemErrorText(out.error())));
        return 2;
    }
    // Qt ends the program when it finds no descriptor free; say why first.
    // The windows hold about 17 with a file or print dialog open (display,
    // event loop, icon and MIME caches, the card lock, the bus monitor) and
    // 4 more while a file is saved; room for a printing service's own.
    if (const QString shortage = descriptorShortage(32); !shortage.isEmpty()) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(shortage));
        return 2;
    }

    const QString programDir = programFolder(argv[0]);
    // The card's ports come from the settings file; the back end must reach
    // them before the main window resets the card.
    const Settings settings = readSettingsFile(settingsFilePath(programDir));
    // Before any Qt application object: a program that needs the helper
    // starts it here and comes back with the ports granted.
    if (options.card == CardKind::Ports)
        options.ports = reachCardPorts(PortAccessSystem::real(), grant, portCardAddress(settings.CardAddress),
                                       "vardel", argv, programDir);
    QStringList notes;
    // The card stays locked for this program while it runs; a card another
    // program has is refused like one whose ports are refused.
    OpenCard card;
    const CardOpen opened =
        openCard(options, programDir, static_cast<std::uint16_t>(settings.CardAddress), {}, card, notes, error);
    std::unique_ptr<PortBackend>& backend = card.backend;
    if (opened != CardOpen::Opened) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
        if (displayNamed(options)) {
            const auto app = openWindowSystem(argc, argv, 3, false);
            installQtPolish(*app);
            endOnStopSignal(*app, wakeFd);
            QMessageBox::critical(nullptr, QStringLiteral("Vardel"), error);
        }
        return stopExitCode(3);
    }

    // The bus monitor, opened before any window, like the back end. A line
    // that cannot be written is said once; the work in the windows goes on.
    std::unique_ptr<LinkTrace> trace;
    Form1* window = nullptr;
    const auto traceLost = [&window, path = options.trace](int errnum) {
        if (errnum == EINTR && g_stop.load() != 0)
            return;
        const QString message = QStringLiteral("Nie można zapisać pliku %1: %2. Dalsze wymiany nie będą zapisywane.")
                                    .arg(path == QLatin1String("-") ? QStringLiteral("-") : QDir::toNativeSeparators(path),
                                         systemErrorText(errnum));
        std::fprintf(stderr, "vardel: %s\n", qPrintable(message));
        if (window)
            QMetaObject::invokeMethod(
                window, [window, message] { QMessageBox::warning(window, QStringLiteral("Vardel"), message); },
                Qt::QueuedConnection);
    };
    if (!options.trace.isEmpty() && !(trace = openLinkTrace(options.trace, error, traceLost, &g_stop))) {
        if (g_stop.load() != 0)
            return stopExitCode(2); // the open of a FIFO nobody reads, cut short
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
        return 2;
    }

    if (!displayNamed(options)) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(noDisplayMessage()));
        return 2;
    }
    const auto guiApp = openWindowSystem(argc, argv, 2, true);
    QApplication& app = *guiApp;
    // Qt's own dialogs and buttons speak the program's language.
    installQtPolish(app);
    Module1 link(*backend);
    auto* sim = dynamic_cast<SimCard*>(backend.get());
    if (sim)
        link.setCardClock(&sim->cardClock());
    if (trace)
        trace->setCardClock(&link.cardClock());
    link.setListener(trace.get());
    link.setStopFlag(&g_stop);
    RegisterTable table;
    Form1 form1(link, table, programDir, options.card == CardKind::Simulated);
    form1.setHistoryFolder(historyFolder(options, programDir));
    if (sim && options.simPace == SimPace::Real)
        form1.noteRealPace();
    window = &form1;
    endOnStopSignal(app, wakeFd);
    if (sim) {
        // A state file that cannot be written must not go unnoticed: the
        // meters' EEPROM would be lost at the next start.
        sim->setMessageHandler([&form1](const QString& message) {
            std::fprintf(stderr, "vardel: %s\n", qPrintable(message));
            QMessageBox::warning(&form1, QStringLiteral("Vardel"), message);
        });
    }
    if (card.ports) {
        // "Adres karty" moved to a card another program has, or to ports this
        // run cannot have. Shown once the exchange under way has ended, not in
        // the middle of it.
        const auto showLater = [&form1](const QString& message) {
            std::fprintf(stderr, "vardel: %s\n", qPrintable(message));
            QMetaObject::invokeMethod(
                &form1, [&form1, message] { QMessageBox::warning(&form1, QStringLiteral("Vardel"), message); },
                Qt::QueuedConnection);
        };
        card.ports->setMessageHandler(showLater);
        card.portIo->setMessageHandler(showLater);
    }
    form1.Form_Load();
    form1.show();
    for (const QString& note : notes) {
        std::fprintf(stderr, "vardel: %s\n", qPrintable(note));
        QMessageBox::warning(&form1, QStringLiteral("Vardel"), note);
    }
    // exec() would start afresh after a stop that ended a note's box.
    const int code = g_stop.load() != 0 ? stopExitCode(0) : app.exec();
    // The meters stay powered, however the program ends: the next one finds
    // their RAM as this one leaves it.
    if (sim && !sim->saveChanges(&error))
        std::fprintf(stderr, "vardel: %s\n", qPrintable(error));
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything can block or open a file.
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        wake[0] = wake[1] = -1;
    installStopSignals(g_stop, wake[1]);
    holdStandardStreams();
    // Before any Qt object: root runs in its own folders and loads no code
    // another user's environment points to.
    if (const QString note = confineRootEnvironment(); !note.isEmpty())
        std::fprintf(stderr, "vardel: %s\n", qPrintable(note));
    try {
        return run(argc, argv, wake[0]);
    } catch (const std::bad_alloc&) {
        // Unwound: temporary files are gone, the card lock let go.
        const char prefix[] = "vardel: ";
        writeAllTo(STDERR_FILENO, prefix, sizeof prefix - 1);
        writeAllTo(STDERR_FILENO, kOutOfMemoryText, sizeof kOutOfMemoryText - 1);
        writeAllTo(STDERR_FILENO, "\n", 1);
        return 2;
    }
}
