#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace vardel {

class Module1;

// The nine values of "Vardel.cfg", in file order.
struct Settings {
    std::int16_t CardAddress = 832;
    std::int16_t MasterAddress = 0;
    std::int16_t MeterAddress = 2;
    std::int16_t MeterModel = 1;
    std::int16_t BaudCode = 4;
    std::int16_t TransmitCheck = 1;
    std::array<std::int16_t, 3> RegBase{585, 633, 3801};

    bool operator==(const Settings&) const = default;
};

inline constexpr char kSettingsFileName[] = "Vardel.cfg";

// The settings file of the program in `programDir`: beside it, or in the
// user's configuration folder when the program is installed.
QString settingsFilePath(const QString& programDir);

// Reads the settings file: the next nine numbers, whatever blanks, commas and
// empty lines stand between them. Any failure (no file, something that is not
// a regular file or is far too large, fewer than nine numbers, a
// number outside 16 bits, a sixth value other than 0, 1 or 2) gives all nine
// defaults, never a mix. `usedDefaults` tells which happened.
Settings readSettingsFile(const QString& path, bool* usedDefaults = nullptr);

// The exact bytes of the file: per value a sign blank (or minus), the digits,
// one trailing blank, CR LF.
QByteArray settingsFileBytes(const Settings& settings);

// Writes the file atomically: a failed write leaves the old file as it was
// and gives `error` in Polish ("Nie można zapisać pliku …: reason").
bool writeSettingsFile(const QString& path, const Settings& settings, QString* error = nullptr);

// Writes the settings file of the program in `programDir`, making an
// installed program's configuration folder first.
bool writeProgramSettings(const QString& programDir, const Settings& settings, QString* error = nullptr);

// The values as they stand in the link now.
Settings settingsFrom(const Module1& link);

} // namespace vardel
