#include "link/ModelCheck.h"

#include "link/MeterModels.h"
#include "link/Module1.h"

#include <QStringList>

#include <array>
#include <map>

namespace vardel {

namespace {

// Live values start here in every model (the measured-values request).
constexpr int kLiveBase = 513;
// Registers read at most to rule out one rival: a configuration that holds
// 0 in this many registers in a row where the rival has no memory is left
// unknown rather than read whole.
constexpr int kEvidenceReads = 8;

class Check {
public:
    Check(int address, int baudCode, int transmitCheck, const std::array<std::int16_t, 3>& regBase,
          const ModelRegisterRead& read)
        : m_address(address)
        , m_baudCode(baudCode)
        , m_check(transmitCheck)
        , m_regBase(regBase)
        , m_reader(read)
    {
    }

    ModelFinding run();

private:
    // Register r of `model`'s layout; nullopt when it could not be read.
    std::optional<float> read(const MeterModelInfo& model, int r);
    bool hasMemoryAt(const MeterModelInfo& model, int address) const;
    int addressOf(const MeterModelInfo& model, int r) const;
    bool fits(const MeterModelInfo& model);
    // Reads `model`'s registers where `rival` has no memory until one rules
    // the rival out; false when none did.
    bool ruleOut(const MeterModelInfo& model, const MeterModelInfo& rival);
    std::vector<std::int16_t> possible() const;

    const int m_address;
    const int m_baudCode;
    const int m_check;
    const std::array<std::int16_t, 3>& m_regBase;
    const ModelRegisterRead& m_reader;
    std::map<int, float> m_read; // by meter address: the layouts share places
    std::array<bool, 3> m_ruledOut{};
    std::array<bool, 3> m_fits{};
    bool m_failed = false;
};

int Check::addressOf(const MeterModelInfo& model, int r) const
{
    return m_regBase[static_cast<std::size_t>(model.model)] + 6 * r;
}

bool Check::hasMemoryAt(const MeterModelInfo& model, int address) const
{
    const int base = addressOf(model, 0);
    return (address >= base && address < base + 6 * model.registerCount)
        || (address >= kLiveBase && address < kLiveBase + model.measureBlockLength);
}

std::optional<float> Check::read(const MeterModelInfo& model, int r)
{
    const int address = addressOf(model, r);
    if (const auto known = m_read.find(address); known != m_read.end())
        return known->second;
    if (m_failed)
        return std::nullopt;
    const std::optional<float> read = m_reader(model.model, r);
    if (!read) {
        m_failed = true;
        return std::nullopt;
    }
    const float value = *read;
    m_read.emplace(address, value);
    if (value != 0.0f) {
        for (const MeterModelInfo& other : meterModels()) {
            if (!hasMemoryAt(other, address))
                m_ruledOut[static_cast<std::size_t>(other.model)] = true;
        }
    }
    return value;
}

bool Check::fits(const MeterModelInfo& model)
{
    const auto holds = [&](int r, int expected) {
        if (r < 0)
            return true;
        const std::optional<float> value = read(model, r);
        return value && *value == static_cast<float>(expected);
    };
    // Each read, whatever the others gave: the response time is no part of
    // the fit, but its value may rule the rivals out.
    const bool address = holds(model.link.address, m_address);
    const bool baud = holds(model.link.baudCode, m_baudCode);
    const bool check = holds(model.link.transmitCheck, m_check);
    if (model.link.responseTime >= 0)
        read(model, model.link.responseTime);
    return address && baud && check;
}

bool Check::ruleOut(const MeterModelInfo& model, const MeterModelInfo& rival)
{
    const auto out = [this, &rival] { return m_ruledOut[static_cast<std::size_t>(rival.model)]; };
    int reads = 0;
    for (int r = 0; r < model.registerCount && !out() && !m_failed && reads < kEvidenceReads; ++r) {
        const int address = addressOf(model, r);
        if (hasMemoryAt(rival, address) || m_read.count(address) != 0)
            continue;
        read(model, r);
        ++reads;
    }
    return out();
}

std::vector<std::int16_t> Check::possible() const
{
    std::vector<std::int16_t> models;
    for (const MeterModelInfo& model : meterModels()) {
        const auto i = static_cast<std::size_t>(model.model);
        if (m_fits[i] && !m_ruledOut[i])
            models.push_back(model.model);
    }
    return models;
}

ModelFinding Check::run()
{
    for (const MeterModelInfo& model : meterModels())
        m_fits[static_cast<std::size_t>(model.model)] = fits(model);
    // Each model still possible tries to rule out the others from its own
    // layout; the true one cannot be ruled out, a pretender then falls.
    for (const std::int16_t candidate : possible()) {
        if (m_ruledOut[static_cast<std::size_t>(candidate)])
            continue;
        const MeterModelInfo& model = *meterModelInfo(candidate);
        for (const MeterModelInfo& rival : meterModels()) {
            if (rival.model != candidate && !m_ruledOut[static_cast<std::size_t>(rival.model)])
                ruleOut(model, rival);
        }
    }

    ModelFinding finding;
    finding.readFailed = m_failed;
    finding.possible = possible();
    if (m_failed || finding.possible.size() != 1)
        return finding;
    for (const MeterModelInfo& rival : meterModels()) {
        if (rival.model != finding.possible.front() && !m_ruledOut[static_cast<std::size_t>(rival.model)])
            return finding;
    }
    finding.model = finding.possible.front();
    return finding;
}

} // namespace

ModelFinding checkMeterModel(int address, int baudCode, int transmitCheck, const std::array<std::int16_t, 3>& regBase,
                             const ModelRegisterRead& read)
{
    return Check(address, baudCode, transmitCheck, regBase, read).run();
}

ModelFinding checkMeterModel(Module1& link)
{
    const std::int16_t selected = link.MeterModel;
    const ModelRegisterRead read = [&link](std::int16_t model, int r) -> std::optional<float> {
        link.MeterModel = model;
        float value = 0.0f;
        std::int16_t flag = 1;
        link.ReadConfigReg(static_cast<std::int16_t>(r), value, flag);
        if (flag != 0 || link.stopRequested())
            return std::nullopt;
        return value;
    };
    // A greyed transmit check sends as 0.
    const ModelFinding finding = checkMeterModel(link.MeterAddress, link.BaudCode, link.TransmitCheck == 1 ? 1 : 0,
                                                 link.RegBase, read);
    link.MeterModel = selected;
    return finding;
}

QString modelText(const ModelFinding& finding)
{
    if (finding.model)
        return modelNameOf(*finding.model);
    if (finding.possible.size() < 2)
        return QStringLiteral("nieznany");
    QStringList names;
    for (const std::int16_t model : finding.possible)
        names << modelNameOf(model);
    return names.join(QLatin1Char('|'));
}

} // namespace vardel
