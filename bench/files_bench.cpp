#include "config/RegisterTable.h"
#include "files/ConfigFile.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vardel;

namespace {

// The largest configuration: a KX-4 table with full free texts.
RegisterTable kx4Table()
{
    RegisterTable t;
    t.RegCount = regCountOf(2);
    for (std::size_t r = 0; r < kRegisterSlots; ++r)
        t.RegValue[r] = static_cast<float>(r) * 1.2345678f - 100.0f;
    t.SerialNo = QStringLiteral("Nr 12, seria A");
    t.ProgVersion = QStringLiteral("3.0");
    t.InVer1 = t.InVer2 = t.InVer3 = t.InVer4 = QStringLiteral("4-20 mA");
    t.CustomerData = QString(255, QLatin1Char('o'));
    t.Remarks = QString(300, QLatin1Char('u'));
    return t;
}

void BM_WriteConfigFileKX4(benchmark::State& state)
{
    QTemporaryDir dir;
    const RegisterTable table = kx4Table();
    const QString path = dir.filePath(QStringLiteral("b.KX4"));
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteConfigFile(table, path).ok);
}
BENCHMARK(BM_WriteConfigFileKX4);

void BM_ReadConfigFileKX4(benchmark::State& state)
{
    QTemporaryDir dir;
    RegisterTable table = kx4Table();
    const QString path = dir.filePath(QStringLiteral("b.KX4"));
    WriteConfigFile(table, path);
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadConfigFile(table, path).ok);
}
BENCHMARK(BM_ReadConfigFileKX4);

// A KX-4 file whose remarks hold state.range(0) MiB of text: the reader's
// time must grow with the file, not with the file times the registers.
void BM_ReadConfigFileKX4LongRemarks(benchmark::State& state)
{
    QTemporaryDir dir;
    RegisterTable table = kx4Table();
    table.Remarks = QString(static_cast<qsizetype>(state.range(0)) << 20, QLatin1Char('u'));
    const QString path = dir.filePath(QStringLiteral("b.KX4"));
    if (!WriteConfigFile(table, path).ok) {
        state.SkipWithError("write failed");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadConfigFile(table, path).ok);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (state.range(0) << 20));
}
BENCHMARK(BM_ReadConfigFileKX4LongRemarks)->Arg(1)->Arg(4)->Arg(15)->Unit(benchmark::kMillisecond);

} // namespace
