#pragma once

#include "link/PortBackend.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace vardel {

enum class CardKind { Simulated, Ports };

// What the command line of vardel says.
struct StartOptions {
    CardKind card = CardKind::Simulated;
    QString simState;      // empty: the default file beside the program
    QStringList simFaults; // NAME or NAME=K
    QString trace;         // --trace FILE: the bus monitor ("-" for stderr)
    bool help = false;
    bool version = false;
    bool windowSystemNamed = false; // Qt's -platform or -display was given
};

// Parses the arguments after the program name. On a mistake returns false and
// a Polish message in `error`.
bool parseStartOptions(const QStringList& args, StartOptions& options, QString& error);

// The text of vardel --help, and the one line shown after a mistake.
QString startHelpText();
QString startUsageLine();

// Whether a window system is named at all (DISPLAY, WAYLAND_DISPLAY,
// QT_QPA_PLATFORM, -platform, -display), and the Polish message for a
// program that has none or cannot reach it.
bool displayNamed(const StartOptions& options);
QString noDisplayMessage();

// The port back end chosen on the command line. On failure returns nullptr
// and a Polish message naming what is missing; it never falls back to the
// simulator on its own. `notes` receives warnings the user should see (for
// example a damaged simulator state file).
std::unique_ptr<PortBackend> createBackend(const StartOptions& options, const QString& programDir,
                                           std::uint16_t cardAddress, QStringList& notes, QString& error);

} // namespace vardel
