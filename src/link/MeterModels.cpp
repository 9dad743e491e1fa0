#include "link/MeterModels.h"

#include <QFileInfo>

namespace vardel {

namespace {

// The link registers are where each model's names file names them; a test
// holds the two together.
constexpr std::array<MeterModelInfo, 3> kModels{{
    {kModelKX2, "KX-2", "KX2", 64, 585, 24, true, {-1, 51, 52, 53}},
    {kModelKX3, "KX-3", "KX3", 100, 633, 36, false, {0, 1, 2, 3}},
    {kModelKX4, "KX-4", "KX4", 255, 3801, 60, true, {-1, 170, 171, 172}},
}};

} // namespace

std::span<const MeterModelInfo> meterModels()
{
    return kModels;
}

const MeterModelInfo* meterModelInfo(std::int16_t model)
{
    return model >= 0 && model < static_cast<std::int16_t>(kModels.size()) ? &kModels[static_cast<std::size_t>(model)]
                                                                            : nullptr;
}

QString modelNameOf(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? QLatin1String(info->name) : QString::number(model);
}

QString modelTagOf(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? QLatin1String(info->tag) : QString();
}

std::int16_t regCountOf(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? info->registerCount : std::int16_t{0};
}

QString namesFileNameOf(std::int16_t model)
{
    const QString tag = modelTagOf(model);
    return tag.isEmpty() ? QString() : tag + QStringLiteral("_NAME.TXT");
}

MeterLinkRegisters linkRegistersOf(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? info->link : MeterLinkRegisters{};
}

std::optional<std::int16_t> modelFromName(const QString& text)
{
    QString t = text.trimmed().toUpper();
    t.remove(QLatin1Char('-'));
    for (const MeterModelInfo& info : kModels) {
        if (t == QLatin1String(info.tag))
            return info.model;
    }
    return std::nullopt;
}

std::optional<std::int16_t> modelOfFileName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toUpper();
    for (const MeterModelInfo& info : kModels) {
        if (suffix == QLatin1String(info.tag))
            return info.model;
    }
    return std::nullopt;
}

QString registerLabel(std::int16_t model, int r)
{
    const MeterModelInfo* info = meterModelInfo(model);
    if (info && !info->hexRegisterNumbers)
        return QString::number(r);
    return QString::number(r, 16).toUpper() + QLatin1Char('h');
}

int baudRateOf(std::int16_t baudCode)
{
    return baudCode >= 0 && baudCode < static_cast<std::int16_t>(kBaudRates.size())
        ? kBaudRates[static_cast<std::size_t>(baudCode)]
        : 0;
}

std::chrono::nanoseconds wireTime(int bytes, std::int16_t baudCode)
{
    const int rate = baudRateOf(baudCode);
    if (rate <= 0)
        return std::chrono::nanoseconds::zero();
    const auto bits = static_cast<std::int64_t>(bytes + kWireFrameBytes) * kWireBitsPerByte;
    return std::chrono::nanoseconds(bits * 1'000'000'000 / rate);
}

std::optional<std::int16_t> baudCodeOfRate(int rate)
{
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == rate)
            return static_cast<std::int16_t>(i);
    }
    return std::nullopt;
}

} // namespace vardel
