#pragma once

#include "cli/CliOptions.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace vardel {

class PortBackend;

// Where a command's words go and what it may ask of the process around it.
struct CliContext {
    QString programDir;                        // Vardel.cfg, names files, default sim state
    std::function<void(const QString&)> out;   // a result line for stdout
    std::function<void(const QString&)> err;   // a message line for stderr
    std::function<void(const QByteArray&)> rawErr; // the progress bar, as it stands
    bool stderrIsTerminal = false;
    // The number of the signal that asked the command to stop (0: none yet).
    // Every wait of the link and the wait for the card watch it.
    const std::atomic<int>* stopSignal = nullptr;
    // The card to talk to instead of opening and locking one (tests).
    PortBackend* port = nullptr;

    bool stopRequested() const { return stopSignal && stopSignal->load() != 0; }
};

// Runs one command with the windows' own routines (the read and write loops,
// the file reader and writer, the printout, the measured-values mapping) and
// returns the exit code (CliExit; 128 + the signal's number when a signal
// ended it). `print` needs a QGuiApplication; the other
// commands a QCoreApplication.
int runCli(const CliOptions& options, const CliContext& context);

// Shared by the commands.
// "Plik … ma rozszerzenie modelu …, a wybrany jest miernik …", with the --force hint.
QString otherModelMessage(const QString& path, std::int16_t fileModel, std::int16_t selected);

} // namespace vardel
