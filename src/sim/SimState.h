#pragma once

#include "sim/SimCard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace vardel {

// What the simulator's state file holds.
struct SimStateData {
    std::uint16_t base = SimCard::kDefaultBase;
    QStringList faults;           // as written in the file, each checked
    std::vector<SimMeter> meters; // empty: the factory network
};

enum class SimStateLoad { Loaded, Missing, Damaged, Unreadable };

// Reads the state file. Damaged: `reason` says what and where, in Polish, and
// `state` is left as it was. Unreadable: the file is there but could not be
// read (no access, too many open files, a disk error); it may be whole, so
// it must not be taken for damaged and replaced.
SimStateLoad loadSimState(const QString& path, SimStateData& state, QString* reason);
// Parses the file's bytes (Windows-1250; lines end with CR LF, LF or CR).
bool parseSimState(const QByteArray& bytes, SimStateData& state, QString* reason);
// The file's bytes for a state.
QByteArray simStateText(const SimStateData& state);
// Writes the file atomically; false and a Polish reason on failure.
bool saveSimState(const QString& path, const SimStateData& state, QString* reason);

// Sets one fault ("NAME" or "NAME=K") in `faults`; false and a Polish message
// when it is not one.
bool parseSimFault(const QString& faultText, SimFaults& faults, QString* error);
QStringList simFaultNames();
QStringList simFaultDescriptions();

} // namespace vardel
