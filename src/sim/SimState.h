#pragma once

#include "sim/SimCard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vardel {

// The state file's bound: a whole network of 255 KX-4 meters whose every
// register differs from the factory's, in EEPROM and in RAM, is under 4 MiB.
inline constexpr qint64 kSimStateLimit = qint64{16} << 20;

// What the simulator's state file holds.
struct SimStateData {
    std::uint16_t base = SimCard::kDefaultBase;
    QStringList faults;           // as written in the file, each checked
    // Seconds since power-up at which the live values stand still, so that
    // separate programs read the same values; none: they move with time.
    std::optional<long> liveTime;
    std::vector<SimMeter> meters; // empty: the factory network
};

enum class SimStateLoad { Loaded, Missing, Damaged, Unreadable };

// Reads the state file. Damaged: `reason` says what and where, in Polish, and
// `state` is left as it was. Unreadable: the file is there but could not be
// read (no access, too many open files, a disk error, larger than
// kSimStateLimit, not a regular file); it may be whole, so it must not be
// taken for damaged and replaced.
SimStateLoad loadSimState(const QString& path, SimStateData& state, QString* reason);
// Parses the file's bytes (Windows-1250; lines end with CR LF, LF or CR).
bool parseSimState(const QByteArray& bytes, SimStateData& state, QString* reason);
// The file's bytes for a state: the head (comments and [karta]) and one
// section per meter, each written alone so that a store rewrites only its
// own meter's.
QByteArray simStateText(const SimStateData& state);
QByteArray simStateHead(const SimStateData& state);
QByteArray simMeterSection(const SimMeter& meter);
// Writes the file atomically; false and a Polish reason on failure, also
// for a state larger than kSimStateLimit (it would not be read back).
bool saveSimState(const QString& path, const SimStateData& state, QString* reason);
bool writeSimStateBytes(const QString& path, const QByteArray& bytes, QString* reason);

// Sets one fault ("NAME" or "NAME=K") in `faults`; false and a Polish message
// when it is not one.
bool parseSimFault(const QString& faultText, SimFaults& faults, QString* error);
QStringList simFaultNames();
QStringList simFaultDescriptions();

} // namespace vardel
