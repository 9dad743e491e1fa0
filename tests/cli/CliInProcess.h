#pragma once

// A vardel-cli command run in this process on a card the test holds (the
// simulator, or a port that plays a script over it).

#include "cli/CliCommands.h"

#include <QByteArray>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>

namespace vardel::test {

struct CliOutcome {
    int code = -1;
    QString out;
    QString err;
};

// terminal: stderr is taken for a terminal, and what the progress lines draw
// is kept there.
inline CliOutcome runInProcess(const QStringList& args, const QString& programDir, PortBackend* port,
                               const std::atomic<int>* stop = nullptr, QByteArray* terminal = nullptr)
{
    CliOptions options;
    QString error;
    EXPECT_TRUE(parseCliArguments(args, options, error)) << error.toStdString();
    CliOutcome r;
    CliContext context;
    context.programDir = programDir;
    context.out = [&r](const QString& line) { r.out += line + QLatin1Char('\n'); };
    context.err = [&r](const QString& line) { r.err += line + QLatin1Char('\n'); };
    context.rawErr = [terminal](const QByteArray& bytes) {
        if (terminal)
            *terminal += bytes;
    };
    context.stderrIsTerminal = terminal != nullptr;
    context.stopSignal = stop;
    context.port = port;
    r.code = runCli(options, context);
    return r;
}

} // namespace vardel::test
