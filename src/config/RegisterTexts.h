#pragma once

#include "config/RegisterTable.h"

#include <QLocale>
#include <QString>

#include <cstdint>

namespace vardel {

// First grid column: three blanks and the register number, hexadecimal for
// KX-2 and KX-4, decimal with a sign blank for KX-3. For any other model the
// cell keeps its text (current is returned unchanged).
QString RegisterNumberText(std::int16_t model, int r, const QString& current = QString());

// A value in seven significant digits, shortest form, with the given decimal
// separator; a minus sign for negative values, nothing for others. Fixed
// notation from 0.0001 to 9999999, mantissa + "E" + sign + two or more digits
// outside. The screen (zero before the point) and the configuration file (no
// zero before the point) share it.
QString SevenDigitText(float value, QChar separator, bool zeroBeforePoint);

// A value for people and programs outside the configuration file: seven
// digits, always a point and a zero before it ("0.5", "-0.25",
// "1.234568E+07"), valid as a JSON number. measure's records, verify and diff.
QString PointValueText(float value);

// A register value as the grid, the test window and the printout show it: at
// most 7 significant digits, the locale's decimal separator, no trailing
// zeros, exponent notation for very large and very small magnitudes.
QString ValueText(float value, const QLocale& locale = QLocale());

// The editor's way back from text to value: commas become points, then the
// leading number is taken by the Val rule (blanks ignored, &H/&O, E or D
// exponent). Text without a number gives 0. Out-of-range numbers saturate to
// the largest single-precision value.
float ParseValue(const QString& text);

// Names files: reads RegCount fields of table.NamesFile into RegName. Names not
// read keep their previous text. The result says what went wrong, if anything.
struct NamesLoad {
    bool ok = true;
    int namesRead = 0;
    QString message; // Polish, for the user; empty when ok
};
NamesLoad LoadRegisterNames(RegisterTable& table);

// "Rezerwa" marks a register whose value the editor does not let the user change.
bool isReservedName(const QString& name);

} // namespace vardel
