// A production line's scale: the simulator's state file stored into once
// per meter over a network of 32 and of 247 meters (each store must cost the
// same, whatever the network's size), the memory a simulated meter holds,
// and one entry written into a full history of 5000.
// Together with bench/line_bench.sh, which times `vardel-cli program` over
// such networks as separate processes.
#include "files/ConfigHistory.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <QFileInfo>

namespace {

using namespace vardel;

std::vector<SimMeter> kx3Network(int count)
{
    std::vector<SimMeter> meters;
    for (int a = 1; a <= count; ++a)
        meters.push_back(SimMeter::factory(kModelKX3, a));
    return meters;
}

// One EEPROM store through the link per iteration, into the meters in turn,
// each with a changed register: the state file is written on every store.
void BM_SimStorePerMeter(benchmark::State& state)
{
    QTemporaryDir dir;
    const int count = static_cast<int>(state.range(0));
    SimCard card(kx3Network(count));
    card.setStateFile(dir.filePath(QStringLiteral("VardelSim.txt")));
    QString error;
    if (!card.saveState(&error))
        state.SkipWithError("the state file cannot be written");
    Module1 link(card);
    link.setCardAddress(static_cast<std::int16_t>(card.baseAddress()));
    link.MeterModel = kModelKX3;
    int at = 0;
    float value = 1.0f;
    for (auto _ : state) {
        SimMeter& m = card.meters()[static_cast<std::size_t>(at)];
        m.setConfigValue(50, value += 1.0f);
        link.MeterAddress = static_cast<std::int16_t>(m.address);
        link.CardSetLink();
        link.SendEepromStore();
        card.passTime(std::chrono::seconds(2));
        at = (at + 1) % count;
    }
    state.counters["file_kB"] = static_cast<double>(QFile(card.stateFile()).size()) / 1024.0;
}
BENCHMARK(BM_SimStorePerMeter)->Arg(32)->Arg(247)->Unit(benchmark::kMillisecond);

// What a simulated meter holds in memory once programmed: its pages (shared
// ones once) and the meter itself.
void BM_SimMeterMemory(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<SimMeter> meters = kx3Network(247);
        for (SimMeter& m : meters) {
            for (int r = 5; r < SimMeter::registerCount(m.model); ++r)
                m.setConfigValue(r, static_cast<float>(r) + 0.5f);
        }
        benchmark::DoNotOptimize(meters.data());
        std::size_t bytes = 0;
        for (const SimMeter& m : meters)
            bytes += sizeof(SimMeter) + m.ram.heldBytes() + m.eeprom.heldBytes();
        state.counters["bytes_per_meter"] = static_cast<double>(bytes) / static_cast<double>(meters.size());
    }
}
BENCHMARK(BM_SimMeterMemory)->Unit(benchmark::kMillisecond);

// One entry into a history that holds its full 5000: the write, the folder
// listed, the oldest let go.
void BM_HistoryRecordIntoFull(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("historia"));
    ConfigHistory history(folder);
    RegisterTable table;
    table.RegCount = regCountOf(kModelKX3);
    const QDateTime start = QDateTime::currentDateTime().addDays(-30);
    if (!history.record(table, kModelKX3, 1, HistoryKind::Read, start).ok)
        state.SkipWithError("the history cannot be written");
    const QString first = history.entries().front().path;
    for (int i = 1; i < kHistoryLimit; ++i) {
        const QString name = QFileInfo(first).fileName().replace(
            0, 23, start.addSecs(i).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz")));
        QFile::copy(first, QDir(folder).filePath(name));
    }
    for (auto _ : state)
        history.record(table, kModelKX3, 2, HistoryKind::Written);
    state.counters["entries"] = static_cast<double>(history.entries().size());
}
BENCHMARK(BM_HistoryRecordIntoFull)->Unit(benchmark::kMillisecond);

} // namespace
