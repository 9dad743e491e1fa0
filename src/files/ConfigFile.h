#pragma once

#include "config/RegisterTable.h"

#include <QString>

namespace vardel {

// A register value as a configuration file line holds it: a blank or a minus
// sign, the magnitude rounded to 7 significant digits in its shortest form
// (no leading zero, no trailing zeros), fixed notation for decimal exponents
// -4..6, else mantissa, "E", sign and at least two exponent digits. Always a
// point, whatever the locale: 12.5 -> " 12.5", 0.25 -> " .25",
// 12345678 -> " 1.234568E+07". Infinity is written as the largest single
// value (the reader saturates there too); NaN as " 0".
QString FileValueText(float value);

// Outcome of a save or a load. message is Polish, for the user, and names
// the file and the reason; empty when ok.
struct FileResult {
    bool ok = true;
    QString message;
};

// Writes the descriptive fields, RegValue slots 0..RegCount-1 and the two free
// texts in Windows-1250 with CR LF. The file is written beside the target and
// renamed over it only when complete, so a failed save leaves the old file as
// it was; a device, FIFO or socket of that name is refused, a symbolic link
// has its target replaced. A description field with a comma, or a blank at
// its start or end, is written in double quotes; a double quote is written as
// it stands where the reader gives it back (not first, no comma, no blank at
// either end). A field that cannot come back whole (a line break, such a
// quote), any field holding a character Windows-1250 has no byte for, or a
// file larger than the reader takes, refuses the save before anything is
// written. Line breaks of the free texts (CR LF, LF or CR) are written as
// CR LF and counted that way.
FileResult WriteConfigFile(const RegisterTable& table, const QString& path);

// Reads a file written by WriteConfigFile (or any file of the same layout)
// with the current RegCount. The whole file is read and checked first; the
// table changes only when all of it was read, else it stays exactly as it
// was. The free texts come into the table as the file holds them, with CR LF
// line breaks. RegCount, ModelTag, NamesFile and RegName are not touched.
// Only a regular file of at most kConfigFileLimit bytes is read; anything else
// is refused before it is opened for reading.
FileResult ReadConfigFile(RegisterTable& table, const QString& path);
// The same over bytes already in memory; path only names the file in messages.
FileResult ReadConfigData(RegisterTable& table, const QByteArray& bytes, const QString& path);

} // namespace vardel
