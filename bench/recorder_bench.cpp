// The recorder: a redraw of the plot with a full day of ten values (86 400
// refreshes at 1 s, the KX-4's ten values) must stay within a frame (16 ms),
// zoomed and with the cursors on too, and the day's store within a few
// megabytes.
#include "BenchApplication.h"

#include "recorder/TrendPainter.h"
#include "recorder/TrendSeries.h"
#include "recorder/TrendStore.h"

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using namespace vardel;

// A day of a noisy, drifting process with an outage every few hours.
const TrendStore& fullDay()
{
    static const TrendStore store = [] {
        TrendStore s(10);
        for (qint64 t = 0; t < 86400; ++t) {
            if (t % 10000 < 30) {
                s.appendFailure(t * 1000);
                continue;
            }
            float v[10];
            for (int c = 0; c < 10; ++c)
                v[c] = static_cast<float>(20.0 * c + std::sin(static_cast<double>(t) / (300.0 + 40.0 * c))
                                          + 0.05 * std::sin(static_cast<double>(t) * 7.3));
            s.append(t * 1000, v);
        }
        return s;
    }();
    return store;
}

TrendPlot fullDayPlot()
{
    const TrendStore& store = fullDay();
    TrendPlot plot;
    plot.store = &store;
    plot.from = store.time(0);
    plot.to = store.time(store.size() - 1);
    plot.shown.assign(10, true);
    for (int c = 0; c < 10; ++c)
        plot.colours.push_back(QColor::fromHsv(36 * c, 200, 180));
    const QDateTime origin(QDate(2026, 12, 10), QTime(0, 0));
    plot.wallTime = [origin](qint64 ms) { return origin.addMSecs(ms); };
    return plot;
}

void redraw(benchmark::State& state, const TrendPlot& plot)
{
    bench::ensureApplication();
    QImage image(static_cast<int>(state.range(0)), 480, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        paintTrend(painter, image.rect(), plot);
    }
    state.counters["samples"] = static_cast<double>(plot.store->lowerBound(plot.to + 1) - plot.store->lowerBound(plot.from));
    state.counters["store_bytes"] = static_cast<double>(plot.store->memoryBytes());
}

// The window's plot area on a 1366 x 768 screen, everything shown.
void BM_Recorder_RedrawFullDay(benchmark::State& state)
{
    redraw(state, fullDayPlot());
}
BENCHMARK(BM_Recorder_RedrawFullDay)->Arg(900)->Arg(1800)->Unit(benchmark::kMillisecond);

// The whole day with both cursors on and each value on its own scale (the
// most work a redraw does), and zoomed into six hours of it.
void BM_Recorder_RedrawFullDayCursorsPerValue(benchmark::State& state)
{
    TrendPlot plot = fullDayPlot();
    plot.scale = TrendScale::PerValue;
    plot.cursorA = 20000000;
    plot.cursorB = 60000000;
    redraw(state, plot);
}
BENCHMARK(BM_Recorder_RedrawFullDayCursorsPerValue)->Arg(900)->Arg(1800)->Unit(benchmark::kMillisecond);

void BM_Recorder_RedrawZoomedSixHoursWithCursors(benchmark::State& state)
{
    TrendPlot plot = fullDayPlot();
    plot.from = 30000000;
    plot.to = plot.from + 6 * 3600000;
    plot.cursorA = plot.from + 3600000;
    plot.cursorB = plot.to - 3600000;
    redraw(state, plot);
}
BENCHMARK(BM_Recorder_RedrawZoomedSixHoursWithCursors)->Arg(900)->Arg(1800)->Unit(benchmark::kMillisecond);

} // namespace

namespace {
void BM_Recorder_DownsampleFullDay(benchmark::State& state)
{
    const TrendStore& store = fullDay();
    const TrendSpan span{store.time(0), store.time(store.size() - 1), 900};
    for (auto _ : state)
        for (int c = 0; c < 10; ++c)
            benchmark::DoNotOptimize(downsample(store, c, span));
}
BENCHMARK(BM_Recorder_DownsampleFullDay)->Unit(benchmark::kMillisecond);
}
