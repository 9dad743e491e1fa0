#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>

namespace vardel {

// Upper bounds for the files the program reads whole. Each is far above what
// such a file can hold, so that only a wrong file (a disk image, a log, a
// device) is refused, before it is read into memory.
// Settings (nine numbers), register names (255 lines), the simulator's state
// (a network of meters, a few kB each): 1 MiB.
inline constexpr qint64 kSmallFileLimit = qint64{1} << 20;
// A configuration file holds up to 255 numbers and six one-line fields, but
// the customer data and remarks are free texts a user may paste a lot into:
// 16 MiB, which the reader still takes in well under a second.
inline constexpr qint64 kConfigFileLimit = qint64{16} << 20;

// The system's error code as a short Polish reason for a message
// („brak miejsca na dysku”), never an English system text.
QString systemErrorText(int errnum);

// Why a file of this kind is refused where a regular file is expected
// („to jest potok (FIFO), a nie zwykły plik”).
QString fileKindText(mode_t mode);

// Reads the whole file at path into bytes. Anything that is not a regular
// file (a folder, a device, a FIFO, a socket) is refused without being
// opened for reading, so nothing blocks and no device is touched; so is a
// file larger than maxBytes. Links are followed only where the kernel itself
// would follow them in a shared folder (ResolvedPath), and a file with
// several names in a shared sticky folder is refused: another user may have
// made that name for a file not theirs. On failure: false, bytes unchanged,
// reason a Polish text (without the path); missing is set when there is no
// such file; unreadable when the file is there but the system would not let
// it be read (no access, too many open files, a disk error, a refused link):
// a fault of the moment, not of the file's contents.
bool readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* reason,
                   bool* missing = nullptr, bool* unreadable = nullptr);

// Puts bytes into the file at path so that it holds either all of them or,
// after any failure, exactly what it held before. The bytes go to a temporary
// file in the target's folder, made with the file's final permissions from
// the start; every write, the flush to the disk and the close are checked
// before it is renamed over the target; on failure (an exception included)
// it is removed, and leftovers of earlier runs killed half-way are cleared
// (hidden, of this name, ours, older than this run, not being written).
// A symbolic link stays as it is and its target receives the file, but only
// a link the kernel itself would follow in a shared folder (ResolvedPath).
// An existing target that is not a regular file (device, FIFO, socket,
// folder) is refused, as is one the user may not write and another user's
// file in a shared sticky folder; an existing file keeps its permissions, a
// new one gets newFileMode (less the umask). Running as root it writes only
// into root's folders and over root's files (rootRefusal). On failure: false and a Polish
// reason (without the path of the file; it names the folder when the folder
// is the cause).
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* reason, mode_t newFileMode = 0666);

// Clears what writeFileAtomically leaves in `folder` when it is killed
// half-way, for every target whose name `isTarget` accepts: a folder of many
// files each written once (the history) would otherwise keep them for good.
// The same care as there: only ours, older than this run, not being written.
void removeTemporaryLeftovers(const QString& folder, const std::function<bool(const QByteArray&)>& isTarget);

// Opens a log the program appends to (the bus monitor of --trace), created
// when missing, reached by the same rule for links; another user's file or
// FIFO in a shared sticky folder is refused, as the kernel would refuse it.
// A FIFO of one's own is taken: a live viewer may read it. Root appends
// only to its own file in its own folder, with one name unless the folder is
// root's alone. The open may wait
// for that viewer; a stop signal ends the wait (EINTR). -1 and a Polish
// reason (errnum: the system's code, 0 for a refusal) on failure.
int openForAppend(const QString& path, QString* reason, int* errnum = nullptr);

// Makes the folder at `path` and every missing folder above it, reached by
// the same rule for links. False when it is not there afterwards, with a
// Polish reason.
bool makeFolders(const QString& path, QString* reason = nullptr);

// Files that users of one group share (the simulated card's state, its
// history) in a folder of that group: writable by the group, whatever the
// umask of the user who made them first; a folder made there is open to the
// group too. Nothing changes where the folder is not group-writable, or is
// open to all (/tmp), or the entry is not ours. `made` is the file or
// folder just made in such a folder.
void shareWithFolderGroup(const QString& made);

} // namespace vardel
