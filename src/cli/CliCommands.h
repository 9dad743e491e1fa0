#pragma once

#include "cli/CliOptions.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace vardel {

class PortBackend;

// The stop reason of a command whose output could not be written (a full
// disk, a closed stdout): it ends with kExitUsage.
inline constexpr int kStopOutputLost = -1;
struct Settings;

// Where a command's words go and what it may ask of the process around it.
struct CliContext {
    QString programDir;                        // Vardel.cfg, names files, default sim state
    // Every write through these is checked; a failed one stops the command
    // (see stopSignal), so a result line added anywhere is checked as well.
    std::function<void(const QString&)> out;   // a result line for stdout
    std::function<void(const QString&)> err;   // a message line for stderr
    std::function<void(const QByteArray&)> rawErr; // the progress bar, as it stands
    // A bus monitor line could not be written to `what` („pliku bus.log”).
    std::function<void(int error, const QString& what)> outputLost;
    bool stderrIsTerminal = false;
    // Why the command must stop (0: it need not): the number of the signal
    // that asked, or kStopOutputLost. Every wait of the link and the wait for
    // the card watch it.
    const std::atomic<int>* stopSignal = nullptr;
    // The card to talk to instead of opening and locking one (tests).
    PortBackend* port = nullptr;

    bool stopRequested() const { return stopSignal && stopSignal->load() != 0; }
    // 128 + the signal's number, or kExitUsage for lost output.
    int stopExitCode() const
    {
        const int reason = stopSignal ? stopSignal->load() : 0;
        return reason > 0 ? kExitSignal + reason : kExitUsage;
    }
};

// Runs one command with the windows' own routines (the read and write loops,
// the file reader and writer, the printout, the measured-values mapping) and
// returns the exit code (ExitCode; 128 + the signal's number when a signal
// ended it, kExitUsage when its output was lost). `print` needs a
// QGuiApplication; the other commands a QCoreApplication.
int runCli(const CliOptions& options, const CliContext& context);

// The card address a command talks to: --card-address, else Vardel.cfg's.
// None for print and diff, which need no card.
std::optional<std::int16_t> commandCardAddress(const CliOptions& options, const Settings& settings);

// Shared by the commands.
// "Plik … ma rozszerzenie modelu …, a wybrany jest miernik …", with the --force hint.
QString otherModelMessage(const QString& path, std::int16_t fileModel, std::int16_t selected);

} // namespace vardel
