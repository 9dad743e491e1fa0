#include "app/Startup.h"
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include <unistd.h>

using namespace vardel;

namespace {

// The signal that asked to stop; the link's waits and the wait for the card
// watch it, and the command ends with 128 + its number after cleaning up.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void onStopSignal(int signal)
{
    g_stopSignal.store(signal);
}

void writeLine(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    quietRuntimeDirNotice();
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    CliOptions options;
    QString error;
    if (!parseCliArguments(args, options, error)) {
        writeLine(stderr, QStringLiteral("vardel-cli: ") + error);
        writeLine(stderr, QStringLiteral("Użycie: vardel-cli [opcje] POLECENIE [argumenty]; opis: vardel-cli --help"));
        return kExitUsage;
    }
    if (options.help) {
        const QByteArray text = cliUsageText().toUtf8();
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
        return kExitOk;
    }
    if (options.version) {
        writeLine(stdout, QStringLiteral("vardel-cli " VARDEL_VERSION));
        return kExitOk;
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

    // Ctrl+C and SIGTERM end a command between two steps rather than in the
    // middle of one, so no file is left half written.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    CliContext context;
    context.programDir = QCoreApplication::applicationDirPath();
    context.out = [](const QString& line) { writeLine(stdout, line); };
    context.err = [](const QString& line) { writeLine(stderr, line); };
    context.rawErr = [](const QByteArray& bytes) {
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
        std::fflush(stderr);
    };
    context.stderrIsTerminal = isatty(STDERR_FILENO) == 1;
    context.stopSignal = &g_stopSignal;
    return runCli(options, context);
}
