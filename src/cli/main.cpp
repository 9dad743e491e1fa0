#include "app/ProcessGuards.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "fileio/OutputStream.h"
#include "fileio/RootEnvironment.h"
#include "fileio/SafeFile.h"
#include "link/Module1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <memory>
#include <mutex>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

using namespace vardel;

namespace {

// Why the command must stop: the first stop signal, a lost output
// (kStopOutputLost) or a closed pipe (SIGPIPE). The link's waits, the wait
// for the card and blocked writes watch it; the command ends with 128 + the
// signal's number, or 2 for lost output, after cleaning up.
std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

OutputStream g_out(STDOUT_FILENO, &g_stop);
OutputStream g_err(STDERR_FILENO, &g_stop);

// What stdout is, for the message that it could not be written.
QString stdoutText()
{
    struct stat st {};
    char target[4096];
    const ssize_t n = ::readlink("/proc/self/fd/1", target, sizeof target - 1);
    if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && n > 0)
        return QStringLiteral("pliku %1 (standardowe wyjście)").arg(QDir::toNativeSeparators(QFile::decodeName(QByteArray(target, n))));
    return QStringLiteral("wyników na standardowe wyjście");
}

// A write of the command's output failed. A closed pipe (`| head -1`) ends
// the command quietly, as it ends other tools; a stop signal that cut the
// write short has said why already; anything else is told once and ends the
// command with exit 2.
void outputLost(int error, const QString& what)
{
    if (error == EINTR && g_stop.load() != 0)
        return;
    if (error == EPIPE) {
        requestStop(g_stop, SIGPIPE);
        return;
    }
    if (requestStop(g_stop, kStopOutputLost) && !g_err.failed())
        g_err.write((QStringLiteral("Nie można zapisać %1: %2").arg(what, systemErrorText(error)) + QLatin1Char('\n')).toUtf8());
}

void writeTo(OutputStream& stream, const QByteArray& bytes)
{
    if (!stream.write(bytes))
        outputLost(stream.error(), &stream == &g_out ? stdoutText() : QStringLiteral("standardowego wyjścia błędów"));
}

void writeLine(OutputStream& stream, const QString& text)
{
    writeTo(stream, text.toUtf8() + '\n');
}

int run(int argc, char** argv, const HelperGrant& grant)
{
    quietRuntimeDirNotice();
    CliContext context;
    context.stopSignal = &g_stop;
    // A stop on the way (a closed pipe, a lost line) says why the run ended.
    const auto exitCode = [&context](int code) { return context.stopRequested() ? context.stopExitCode() : code; };

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    CliOptions options;
    QString error;
    if (!parseCliArguments(args, options, error)) {
        writeLine(g_err, QStringLiteral("vardel-cli: ") + error);
        writeLine(g_err, QStringLiteral("Użycie: vardel-cli [opcje] POLECENIE [argumenty]; opis: vardel-cli --help"));
        return exitCode(kExitUsage);
    }
    if (options.help) {
        writeTo(g_out, cliUsageText().toUtf8());
        return exitCode(kExitOk);
    }
    if (options.version) {
        writeLine(g_out, QStringLiteral("vardel-cli " VARDEL_VERSION));
        return exitCode(kExitOk);
    }
    // Qt ends the program when it finds no descriptor free; say why first.
    // A command holds 6 at most (read -o with --trace); room for the system
    // libraries and the sanitizers of a test build.
    if (const QString shortage = descriptorShortage(10); !shortage.isEmpty()) {
        writeLine(g_err, QStringLiteral("vardel-cli: ") + shortage);
        return exitCode(kExitUsage);
    }

    // Before any Qt application object: a command for the real card that
    // needs the helper starts it here and comes back with the ports granted.
    if (options.start.card == CardKind::Ports) {
        const QString programDir = programFolder(argv[0]);
        const std::optional<std::int16_t> address =
            commandCardAddress(options, readSettingsFile(settingsFilePath(programDir)));
        // An address below 100h is refused later, with the usage exit code.
        if (address && !isSystemPortPair(*address))
            options.start.ports = reachCardPorts(PortAccessSystem::real(), grant, static_cast<std::uint16_t>(*address),
                                                 "vardel-cli", argv, programDir);
    }

    // Only the printout lays out text and needs fonts; it gets a graphical
    // application on the offscreen platform unless the user chose another.
    std::unique_ptr<QCoreApplication> app;
    if (options.command == CliCommand::Print) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    context.programDir = QCoreApplication::applicationDirPath();
    context.out = [](const QString& line) { writeLine(g_out, line); };
    // Once the reader of the output has gone, nobody is told anything more:
    // a closed pipe ends the command quietly.
    // serve's card thread says its lines beside the connections' lines.
    static std::mutex errLock;
    context.err = [](const QString& line) {
        const std::lock_guard lock(errLock);
        if (g_stop.load() != SIGPIPE)
            writeLine(g_err, line);
    };
    context.rawErr = [](const QByteArray& bytes) {
        const std::lock_guard lock(errLock);
        writeTo(g_err, bytes);
    };
    context.outputLost = outputLost;
    context.stderrIsTerminal = isatty(STDERR_FILENO) == 1;
    return runCli(options, context);
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything can block, open a file or write a byte: Ctrl+C, SIGTERM
    // and SIGHUP end a command between two steps rather than in the middle of
    // one, so no file is left half written, and they cut short a call blocked
    // in the system.
    installStopSignals(g_stop);
    holdStandardStreams();
    // Before any Qt object: root runs in its own folders and loads no code
    // another user's environment points to.
    if (const QString note = confineRootEnvironment(); !note.isEmpty())
        writeLine(g_err, QStringLiteral("vardel-cli: ") + note);
    // A privilege the program was started with is gone before this line
    // (privilege/DropAtStart.cpp). What the port helper left for it is taken
    // now, before anything could hand it on.
    const HelperGrant grant = takeHelperGrant(systemPrivilegeOps());
    try {
        return run(argc, argv, grant);
    } catch (const std::bad_alloc&) {
        // Unwound: temporary files are gone, the card lock let go.
        const char prefix[] = "vardel-cli: ";
        writeAllTo(STDERR_FILENO, prefix, sizeof prefix - 1);
        writeAllTo(STDERR_FILENO, kOutOfMemoryText, sizeof kOutOfMemoryText - 1);
        writeAllTo(STDERR_FILENO, "\n", 1);
        return kExitUsage;
    }
}
