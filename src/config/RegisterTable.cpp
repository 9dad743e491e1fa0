#include "config/RegisterTable.h"

#include "fileio/FileLocations.h"
#include "link/Module1.h"

namespace vardel {

QString modelTextOf(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? QLatin1Char(' ') + QLatin1String(info->name) : QString();
}

void selectModel(Module1& link, RegisterTable& table, std::int16_t model, const QString& programDir)
{
    if (model < kModelKX2 || model > kModelKX4)
        return;
    link.MeterModel = model;
    table.NamesFile = fileLocations(programDir).namesDir + QLatin1Char('/') + namesFileNameOf(model);
    table.ModelTag = modelTagOf(model);
    table.RegCount = regCountOf(model);
}

} // namespace vardel
