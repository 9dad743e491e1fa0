#include "config/RegisterTable.h"

#include "config/FileLocations.h"
#include "link/Module1.h"

namespace vardel {

std::int16_t regCountOf(std::int16_t model)
{
    switch (model) {
    case kModelKX2: return 64;
    case kModelKX3: return 100;
    case kModelKX4: return 255;
    default: return 0;
    }
}

QString modelTagOf(std::int16_t model)
{
    switch (model) {
    case kModelKX2: return QStringLiteral("KX2");
    case kModelKX3: return QStringLiteral("KX3");
    case kModelKX4: return QStringLiteral("KX4");
    default: return {};
    }
}

QString namesFileNameOf(std::int16_t model)
{
    const QString tag = modelTagOf(model);
    return tag.isEmpty() ? QString() : tag + QStringLiteral("_NAME.TXT");
}

QString modelTextOf(std::int16_t model)
{
    switch (model) {
    case kModelKX2: return QStringLiteral(" KX-2");
    case kModelKX3: return QStringLiteral(" KX-3");
    case kModelKX4: return QStringLiteral(" KX-4");
    default: return {};
    }
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
