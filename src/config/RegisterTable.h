#pragma once

#include "link/MeterModels.h"

#include <QString>

#include <array>
#include <cstdint>

namespace vardel {

class Module1;

inline constexpr int kRegisterSlots = 255;

// The PC's copy of a meter's configuration: one instance for the whole run,
// created at start-up and handed to every window that reads or changes it.
// Changing the model never clears or shortens it.
struct RegisterTable {
    std::array<float, kRegisterSlots> RegValue{};
    std::array<QString, kRegisterSlots> RegName;

    // Constants of the selected model (MeterModel itself lives in Module1,
    // because the link needs it for every exchange).
    std::int16_t RegCount = 0;
    QString ModelTag;
    QString NamesFile;

    // Descriptive fields: kept only on the PC, never sent to the meter.
    QString SerialNo;
    QString ProgVersion;
    QString InVer1;
    QString InVer2;
    QString InVer3;
    QString InVer4;
    QString CustomerData;
    QString Remarks;
};

// What the model buttons do: MeterModel, NamesFile, ModelTag and RegCount
// together. A model outside 0..2 changes nothing.
void selectModel(Module1& link, RegisterTable& table, std::int16_t model, const QString& programDir);

// The model as the editor shows it: " KX-2", " KX-3", " KX-4"; empty for others.
QString modelTextOf(std::int16_t model);

} // namespace vardel
