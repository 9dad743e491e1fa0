#pragma once

#include <QByteArray>
#include <QString>

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

// Reads the whole file at path into bytes. Anything that is not a regular
// file (a folder, a device, a FIFO, a socket) is refused without being
// opened for reading, so nothing blocks and no device is touched; so is a
// file larger than maxBytes. On failure: false, bytes unchanged, reason a
// Polish text (without the path); missing is set when there is no such file.
bool readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* reason,
                   bool* missing = nullptr);

// Puts bytes into the file at path so that it holds either all of them or,
// after any failure, exactly what it held before. The bytes go to a temporary
// file in the target's folder; every write, the flush to the disk and the
// close are checked before it is renamed over the target; on failure it is
// removed. A symbolic link stays as it is and its target receives the file.
// An existing target that is not a regular file (device, FIFO, socket,
// folder) is refused, as is one the user may not write; an existing file
// keeps its permissions. On failure: false and a Polish reason (without the
// path of the file; it names the folder when the folder is the cause).
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* reason);

} // namespace vardel
