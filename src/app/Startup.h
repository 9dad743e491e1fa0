#pragma once

#include "app/CardLock.h"
#include "link/PortBackend.h"
#include "portio/PortAccess.h"
#include "sim/SimClock.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace vardel {

class PortIoBackend;

enum class CardKind { Simulated, Ports };

// What the command line of vardel says.
struct StartOptions {
    CardKind card = CardKind::Simulated;
    QString simState;      // empty: the default file beside the program
    QStringList simFaults; // NAME or NAME=K
    SimPace simPace = SimPace::Real; // --sim-pace: the window shows a real card's pace
    QString trace;         // --trace FILE: the bus monitor ("-" for stderr)
    bool help = false;
    bool version = false;
    bool windowSystemNamed = false; // Qt's -platform or -display was given
    // Not from the command line: how the real card's ports are reached, as
    // main settled it (reachCardPorts) before any Qt application object.
    PortAccess ports;
};

// Parses the arguments after the program name. On a mistake returns false and
// a Polish message in `error`.
bool parseStartOptions(const QStringList& args, StartOptions& options, QString& error);

// "real" or "fast" (--sim-pace of both programs).
bool parseSimPace(const QString& text, SimPace& pace);

// The text of vardel --help, and the one line shown after a mistake.
QString startHelpText();
QString startUsageLine();

// Whether a window system is named at all (DISPLAY, WAYLAND_DISPLAY,
// QT_QPA_PLATFORM, -platform, -display), and the Polish message for a
// program that has none or cannot reach it.
bool displayNamed(const StartOptions& options);
QString noDisplayMessage();

// The folder of the running program (/proc/self/exe, else argv[0]), known
// before any Qt application object exists: Vardel.cfg, the names files, the
// simulator's state and the port helper are found from there.
QString programFolder(const char* argv0);

// The real card's address for a card address from the settings: a pair
// below 100h leaves the default 340h in force, as the link does.
std::uint16_t portCardAddress(std::int16_t settingsAddress);

// Keeps Qt's notice "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to
// …" off stderr. Under cron, sudo or runuser the variable is unset as a rule
// and the folder Qt takes instead serves as well; the notice would only
// hide what the program itself says. Every other message of Qt goes where
// it went. Called once, first thing in main.
void quietRuntimeDirNotice();
bool isRuntimeDirNotice(QtMsgType type, const QString& message);

// The port back end chosen on the command line. On failure returns nullptr
// and a Polish message naming what is missing; it never falls back to the
// simulator on its own. `notes` receives warnings the user should see (for
// example a damaged simulator state file).
std::unique_ptr<PortBackend> createBackend(const StartOptions& options, const QString& programDir,
                                           std::uint16_t cardAddress, QStringList& notes, QString& error);

// The simulator's state file: --sim-state, else the default one (beside the
// program, or in the user's data folder, made here, when installed).
QString simStatePath(const StartOptions& options, const QString& programDir);

// Where the configurations read from meters and written to them are kept:
// "historia" in the data folder for the real card; the simulated meters'
// beside their state file, in "historia-symulatora", so that they never mix
// with real meters'.
QString historyFolder(const StartOptions& options, const QString& programDir);

// What a program does when another one has the card.
struct CardWait {
    bool wait = false;                                   // wait for it instead of giving up
    std::function<bool()> stop;                          // ends the wait (Ctrl+C)
    std::function<void(const QString& message)> waiting; // told once, when the wait begins
};

enum class CardOpen { Opened, Unavailable, Busy };

// The card in use and this program's lock on it. The lock is let go when this
// is destroyed (or the process ends).
struct OpenCard {
    CardLock lock;                          // the simulated card's
    std::unique_ptr<PortBackend> backend;
    LockedPorts* ports = nullptr;           // the real card's ports, which carry its lock
    PortIoBackend* portIo = nullptr;        // beneath them, the direct port I/O
};

// createBackend, with the card locked for this program first: a simulated
// card before its state is read (so a program that waited sees the stores of
// the one before it), the real card once its ports are granted. Busy: another
// program has the card and `error` names it; Unavailable: as createBackend,
// or the lock cannot be taken at all (`error` names its file and owner).
CardOpen openCard(const StartOptions& options, const QString& programDir, std::uint16_t cardAddress,
                  const CardWait& wait, OpenCard& card, QStringList& notes, QString& error);

} // namespace vardel
