#include "app/Settings.h"

#include "fileio/FileLocations.h"
#include "config/ListInput.h"
#include "fileio/SafeFile.h"
#include "link/Module1.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace vardel {

namespace {

// One value of the file: the next decimal number as a 16-bit integer
// (rounded half to even; out of range or none left fails).
bool readInt16(ListInput& in, std::int16_t& out)
{
    // Blank lines and runs of commas only separate values.
    in.skipSeparators();
    double value = 0.0;
    if (in.readNumberField(value) != ListInput::Number::Ok)
        return false;
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return false;
    out = static_cast<std::int16_t>(rounded);
    return true;
}

} // namespace

QString settingsFilePath(const QString& programDir)
{
    return QDir(fileLocations(programDir).configDir).filePath(QLatin1String(kSettingsFileName));
}

Settings readSettingsFile(const QString& path, bool* usedDefaults)
{
    if (usedDefaults)
        *usedDefaults = true;
    QByteArray bytes;
    if (!readWholeFile(path, kSmallFileLimit, bytes, nullptr))
        return {};
    ListInput in(QString::fromLatin1(bytes));
    Settings s;
    std::int16_t* fields[] = {&s.CardAddress, &s.MasterAddress, &s.MeterAddress, &s.MeterModel,
                              &s.BaudCode, &s.TransmitCheck, &s.RegBase[0], &s.RegBase[1], &s.RegBase[2]};
    for (std::int16_t* field : fields) {
        if (!readInt16(in, *field))
            return {};
    }
    // The check box cannot take any other value; the whole file is then ignored.
    if (s.TransmitCheck < 0 || s.TransmitCheck > 2)
        return {};
    if (usedDefaults)
        *usedDefaults = false;
    return s;
}

QByteArray settingsFileBytes(const Settings& s)
{
    const std::int16_t values[] = {s.CardAddress, s.MasterAddress, s.MeterAddress, s.MeterModel, s.BaudCode,
                                   s.TransmitCheck, s.RegBase[0], s.RegBase[1], s.RegBase[2]};
    QByteArray bytes;
    for (std::int16_t v : values) {
        bytes += v < 0 ? '-' : ' ';
        bytes += QByteArray::number(std::abs(static_cast<int>(v)));
        bytes += " \r\n";
    }
    return bytes;
}

bool writeSettingsFile(const QString& path, const Settings& settings, QString* error)
{
    QString reason;
    if (writeFileAtomically(path, settingsFileBytes(settings), &reason))
        return true;
    if (error)
        *error = QStringLiteral("Nie można zapisać pliku %1: %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

bool writeProgramSettings(const QString& programDir, const Settings& settings, QString* error)
{
    // An installed program's configuration folder appears with its first file.
    const QString path = settingsFilePath(programDir);
    makeFolders(QFileInfo(path).absolutePath());
    return writeSettingsFile(path, settings, error);
}

Settings settingsFrom(const Module1& link)
{
    Settings s;
    s.CardAddress = link.CardAddress;
    s.MasterAddress = link.MasterAddress;
    s.MeterAddress = link.MeterAddress;
    s.MeterModel = link.MeterModel;
    s.BaudCode = link.BaudCode;
    s.TransmitCheck = link.TransmitCheck;
    s.RegBase = link.RegBase;
    return s;
}

} // namespace vardel
