#pragma once

#include <QString>

#include <atomic>

namespace vardel {

// What both programs settle with the process around them before anything
// else runs: how they stop, and whether the system's limits leave them room.

// Ctrl+C, SIGTERM and SIGHUP (the terminal or the ssh session closed) ask
// the program to stop: the first signal's number is kept in `stop` (later
// ones change nothing) and, when `wakeFd` is given, a byte written there
// wakes an event loop. They are installed without SA_RESTART, so a call
// blocked in the system (a write into a stalled pipe, the open of a FIFO
// nobody reads) returns at once instead of waiting on. SIGPIPE and SIGXFSZ
// are ignored: a closed pipe and a file over `ulimit -f` become errors
// (EPIPE, EFBIG) that the writers report, not a silent death that leaves a
// temporary file behind.
void installStopSignals(std::atomic<int>& stop, int wakeFd = -1);

// Sets `stop` to `reason` unless something asked to stop before.
bool requestStop(std::atomic<int>& stop, int reason);

// A closed stdin, stdout or stderr gets /dev/null, read-only: no file the
// program opens can take its number (results written into a lock file), and
// a write there still fails (EBADF), as the closed stream would.
void holdStandardStreams();

// Whether the limit on open files (ulimit -n) leaves `needed` free: the
// descriptors a run may hold at once, its own (the card lock and its folder,
// a file read or written with its folder and temporary file, the bus
// monitor) and Qt's (the event loop, the display, plugins, fonts). Qt ends
// the program when it finds none, so they are counted before any Qt object
// exists. Empty when there are enough; else the Polish message
// („za dużo otwartych plików …”).
QString descriptorShortage(int needed);

// What a run ended by an exhausted memory limit (ulimit -v) says. Plain
// bytes, so that saying it needs no memory.
inline constexpr char kOutOfMemoryText[] =
    "Brak pamięci: praca przerwana przed końcem (limit pamięci procesu, ulimit -v). Żaden plik nie został zapisany częściowo.";

} // namespace vardel
