#include "sim/SimCard.h"
#include "sim/SimFactory.h"

#include "link/BasNumber.h"
#include "link/MeterModels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vardel {

namespace {

int inputCount(std::int16_t model) { return model == 0 ? 2 : 4; }
int functionCount(std::int16_t model) { return model == 2 ? 2 : 1; }
int balanceCount(std::int16_t model) { return model == 2 ? 4 : 1; }

float factoryValue(std::int16_t model, int address, int baudCode, int r)
{
    const SimFactoryEntry entry = simFactoryEntry(model, r);
    switch (entry.kind) {
    case SimFactoryKind::Address: return static_cast<float>(address);
    case SimFactoryKind::Baud: return static_cast<float>(baudCode);
    default: return entry.value;
    }
}

void putNumber(SimMemory& memory, std::size_t at, float value)
{
    RxBuffer buf{};
    FloatToBas(buf, value);
    for (std::size_t i = 0; i < 6; ++i)
        memory[(at + i) % SimMeter::kMemorySize] = buf[i + 1];
}

float getNumber(const SimMemory& memory, std::size_t at)
{
    RxBuffer buf{};
    for (std::size_t i = 0; i < 6; ++i)
        buf[i + 1] = memory[(at + i) % SimMeter::kMemorySize];
    return BasToFloat(buf, 1);
}

// Repeatable noise in [-1, 1] for one channel and one quarter second, so two
// reads at the same instant agree.
double noise(int address, int channel, long long quarter)
{
    const std::uint64_t a = static_cast<std::uint64_t>(quarter) * std::uint64_t{0x9E3779B97F4A7C15u};
    const std::uint64_t b = static_cast<std::uint64_t>(address * 131 + channel) * std::uint64_t{0xC2B2AE3D27D4EB4Fu};
    std::uint64_t x = a ^ b;
    x ^= x >> 31;
    x *= std::uint64_t{0xBF58476D1CE4E5B9u};
    x ^= x >> 29;
    return static_cast<double>(x % 20001u) / 10000.0 - 1.0;
}

struct Wave {
    double base, amplitude, omega, phase;
};

Wave waveOf(int address, int channel)
{
    const double period = 60.0 + 17.0 * channel + 7.0 * address; // seconds
    return {20.0 + 15.0 * channel, 5.0 + 2.0 * channel, 2.0 * std::numbers::pi / period, 0.7 * channel + 0.3 * address};
}

} // namespace

std::uint16_t SimMeter::configBase(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? info->configBase : meterModelInfo(kModelKX4)->configBase;
}

int SimMeter::registerCount(std::int16_t model)
{
    const MeterModelInfo* info = meterModelInfo(model);
    return info ? info->registerCount : meterModelInfo(kModelKX4)->registerCount;
}

int SimMeter::liveValueCount(std::int16_t model)
{
    return inputCount(model) + functionCount(model) + balanceCount(model);
}

std::size_t SimMeter::liveEnd() const
{
    return kLiveBase + 6 * static_cast<std::size_t>(liveValueCount(model));
}

bool SimMeter::hasMemoryAt(std::size_t at) const
{
    const std::size_t base = configBase(model);
    const std::size_t end = base + 6 * static_cast<std::size_t>(registerCount(model));
    return (at >= base && at < end) || (at >= kLiveBase && at < liveEnd());
}

SimMeter SimMeter::factory(std::int16_t model, int address, int baudCode)
{
    SimMeter m;
    m.model = model;
    m.address = address;
    m.baudCode = baudCode;
    const std::size_t base = configBase(model);
    for (int r = 0; r < registerCount(model); ++r)
        putNumber(m.eeprom, base + 6 * static_cast<std::size_t>(r), factoryValue(model, address, baudCode, r));
    m.ram = m.eeprom;
    m.setLink(m.linkFromEeprom());
    m.markFiled();
    return m;
}

void SimMeter::setLink(const SimLink& l)
{
    address = l.address;
    baudCode = l.baudCode;
    transmitCheck = l.transmitCheck;
    response = l.response;
}

SimLink SimMeter::linkFromEeprom() const
{
    const MeterLinkRegisters regs = linkRegistersOf(model);
    SimLink l = link();
    // The register's value when the meter can use it as a whole number in
    // [low, high].
    const auto take = [this](int r, int low, int high, int& into) {
        if (r < 0)
            return;
        const double v = getNumber(eeprom, configBase(model) + 6 * static_cast<std::size_t>(r));
        if (v >= low && v <= high && v == std::floor(v))
            into = static_cast<int>(v);
    };
    take(regs.address, 0, 255, l.address);
    take(regs.baudCode, 0, 5, l.baudCode);
    take(regs.transmitCheck, 0, 1, l.transmitCheck);
    int ms = -1;
    take(regs.responseTime, 0, kMaxResponseTimeMs, ms);
    if (ms >= 0)
        l.response = std::chrono::milliseconds(ms);
    return l;
}

void SimMeter::commitStore(nanoseconds at)
{
    if (!storing)
        return;
    const int count = registerCount(model);
    const auto done = static_cast<int>(std::min<std::int64_t>(
        count, storePerRegister.count() > 0 ? (at - storeStart) / storePerRegister : count));
    const std::size_t base = configBase(model);
    eeprom.copyRange(storeSource, base, base + 6 * static_cast<std::size_t>(std::max(done, 0)));
    if (done >= count) {
        // Live values are measurements, not settings: they stay out of the EEPROM.
        eeprom.copyRange(storeSource, 0, kLiveBase);
        eeprom.copyRange(storeSource, liveEnd(), kMemorySize);
    }
    storing = false;
    storeSource = SimMemory();
}

void SimMeter::start(nanoseconds at)
{
    ram = eeprom;
    setLink(linkFromEeprom());
    busyUntil = at + startup;
}

bool SimMeter::ramMatchesEeprom() const
{
    const std::size_t end = liveEnd();
    return ram.equalRange(eeprom, 0, kLiveBase) && ram.equalRange(eeprom, end, kMemorySize);
}

SimMeter SimMeter::whenStored() const
{
    SimMeter m = *this;
    m.commitStore(busyUntil);
    return m;
}

void SimMeter::markFiled()
{
    fileAddress = address;
    fileBaudCode = baudCode;
    changed = false;
}

float SimMeter::configValue(int r, bool fromEeprom) const
{
    return getNumber(fromEeprom ? eeprom : ram, configBase(model) + 6 * static_cast<std::size_t>(r));
}

void SimMeter::setConfigValue(int r, float value)
{
    putNumber(ram, configBase(model) + 6 * static_cast<std::size_t>(r), value);
}

std::vector<SimMeter> factoryNetwork()
{
    std::vector<SimMeter> meters;
    meters.push_back(SimMeter::factory(0, 1));
    meters.push_back(SimMeter::factory(1, 2));
    meters.push_back(SimMeter::factory(2, 3));
    return meters;
}

std::vector<float> SimCard::liveValues(const SimMeter& meter) const
{
    // Time since the meter was switched on: the balances count from there.
    const double t = (m_liveClock ? m_liveClock() : 0.0) - m_startTime;
    const int inputs = inputCount(meter.model);
    std::vector<double> in(static_cast<std::size_t>(inputs));
    const auto quarter = static_cast<long long>(std::floor(t * 4.0));
    for (int c = 0; c < inputs; ++c) {
        const Wave w = waveOf(meter.address, c);
        in[static_cast<std::size_t>(c)] = w.base + w.amplitude * std::sin(w.omega * t + w.phase)
                                          + 0.2 * noise(meter.address, c, quarter);
    }

    std::vector<float> values;
    for (double v : in)
        values.push_back(static_cast<float>(v));
    // Function values: the sum and the difference of the first two inputs.
    values.push_back(static_cast<float>(in[0] + in[1]));
    if (functionCount(meter.model) > 1)
        values.push_back(static_cast<float>(in[0] - in[1]));
    // Balances: the inputs' smooth part integrated over time, in units per
    // hour; the integral is taken in closed form, so they only ever grow.
    for (int c = 0; c < balanceCount(meter.model); ++c) {
        const Wave w = waveOf(meter.address, c);
        const double integral = w.base * t + w.amplitude / w.omega * (std::cos(w.phase) - std::cos(w.omega * t + w.phase));
        values.push_back(static_cast<float>(integral / 3600.0));
    }
    return values;
}

void SimCard::refreshLiveValues(SimMeter& meter)
{
    const std::vector<float> values = liveValues(meter);
    for (std::size_t i = 0; i < values.size(); ++i)
        putNumber(meter.ram, SimMeter::kLiveBase + 6 * i, values[i]);
}

} // namespace vardel
