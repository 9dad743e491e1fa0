// Configuration windows: a full KX-4 read through the simulated network with
// the progress window repainting, and filling the editor with 255 rows.
#include "config/ConfigWindows.h"
#include "config/Form2.h"
#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include "BenchApplication.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace vardel;

using bench::ensureApplication;

// A KX-4 names file of 255 lines in a temporary folder.
struct Kx4Names {
    QTemporaryDir dir;
    Kx4Names()
    {
        QFile f(dir.filePath(namesFileNameOf(kModelKX4)));
        if (f.open(QIODevice::WriteOnly))
            for (int r = 0; r < 255; ++r)
                f.write(QByteArray("Rejestr konfiguracyjny ") + QByteArray::number(r) + "\r\n");
    }
};

void BM_ReadKx4WithProgressWindow(benchmark::State& state)
{
    ensureApplication();
    Kx4Names names;
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    selectModel(link, table, kModelKX4, names.dir.path());
    link.MeterAddress = 3; // the KX-4 of the factory network
    link.CardSetLink();
    ConfigWindows windows(link, table);
    for (auto _ : state) {
        windows.Form1_Command6_Click();
        benchmark::DoNotOptimize(table.RegValue[254]);
    }
    state.counters["registers"] = benchmark::Counter(255.0 * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadKx4WithProgressWindow)->Unit(benchmark::kMillisecond);

void BM_EditorFirstLoad255Rows(benchmark::State& state)
{
    ensureApplication();
    Kx4Names names;
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    selectModel(link, table, kModelKX4, names.dir.path());
    for (auto _ : state) {
        ConfigWindows windows(link, table);
        benchmark::DoNotOptimize(windows.editor());
    }
}
BENCHMARK(BM_EditorFirstLoad255Rows)->Unit(benchmark::kMillisecond);

void BM_EditorRefill255Rows(benchmark::State& state)
{
    ensureApplication();
    Kx4Names names;
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    selectModel(link, table, kModelKX4, names.dir.path());
    ConfigWindows windows(link, table);
    Form2* editor = windows.editor();
    for (auto _ : state)
        editor->refill(); // what every press of the edit button does before showing it
}
BENCHMARK(BM_EditorRefill255Rows)->Unit(benchmark::kMillisecond);

} // namespace
