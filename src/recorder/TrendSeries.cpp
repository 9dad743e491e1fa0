#include "recorder/TrendSeries.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vardel {

qint64 TrendSpan::startOf(int column) const
{
    if (column >= columns)
        return std::numeric_limits<qint64>::max();
    if (column <= 0)
        return std::numeric_limits<qint64>::min();
    // The first ms that columnOf places in this column.
    const double at = static_cast<double>(from) + static_cast<double>(column) * static_cast<double>(to - from) / columns;
    qint64 ms = static_cast<qint64>(std::ceil(at));
    while (ms > from && columnOf(ms - 1) >= column)
        --ms;
    while (columnOf(ms) < column)
        ++ms;
    return ms;
}

int TrendSpan::columnOf(qint64 ms) const
{
    if (columns <= 0)
        return 0;
    if (to <= from)
        return columns - 1;
    const double at = static_cast<double>(ms - from) * columns / static_cast<double>(to - from);
    return std::clamp(static_cast<int>(std::floor(at)), 0, columns - 1);
}

std::vector<TrendColumn> downsample(const TrendStore& store, int channel, const TrendSpan& span)
{
    std::vector<TrendColumn> out;
    if (channel < 0 || channel >= store.channels() || span.columns <= 0)
        return out;
    out.reserve(static_cast<std::size_t>(span.columns));
    bool broken = true; // nothing to join to yet
    // Times only grow: the column changes when a time passes the column's end.
    int x = -1;
    qint64 columnEnd = std::numeric_limits<qint64>::min();
    store.forEach(store.lowerBound(span.from), store.lowerBound(span.to + 1), channel,
                  [&](qint64 t, SampleKind kind, float v) {
        if (kind != SampleKind::Values || std::isnan(v)) {
            broken = true;
            return;
        }
        if (t >= columnEnd) {
            x = span.columnOf(t);
            columnEnd = span.startOf(x + 1);
        }
        if (!out.empty() && out.back().x == x) {
            TrendColumn& c = out.back();
            c.min = std::min(c.min, v);
            c.max = std::max(c.max, v);
            c.last = v;
        } else {
            out.push_back({x, v, v, v, v, !broken && !out.empty()});
        }
        broken = false;
    });
    return out;
}

std::vector<ColumnRange> gapColumns(const TrendStore& store, const TrendSpan& span, SampleKind kind)
{
    std::vector<ColumnRange> out;
    if (span.columns <= 0)
        return out;
    const std::size_t end = store.lowerBound(span.to + 1);
    for (std::size_t i = store.lowerBound(span.from); i < end; ++i) {
        if (store.kind(i) != kind)
            continue;
        const int x0 = span.columnOf(store.time(i));
        const int x1 = i + 1 < store.size() ? std::max(x0, span.columnOf(store.time(i + 1)) - 1) : x0;
        if (!out.empty() && x0 <= out.back().x1 + 1)
            out.back().x1 = std::max(out.back().x1, x1);
        else
            out.push_back({x0, x1});
    }
    return out;
}

TrendStats trendStats(const TrendStore& store, int channel, qint64 from, qint64 to)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    TrendStats s{0, nan, nan, nan, nan};
    if (channel < 0 || channel >= store.channels())
        return s;
    // Welford's running mean and sum of squares: steady for long runs of
    // nearly equal values, where the textbook formula cancels itself out.
    double mean = 0.0;
    double m2 = 0.0;
    store.forEach(store.lowerBound(from), store.lowerBound(to + 1), channel, [&](qint64, SampleKind kind, float f) {
        if (kind != SampleKind::Values || std::isnan(f))
            return;
        const double v = f;
        if (s.count == 0) {
            s.min = s.max = v;
        } else {
            s.min = std::min(s.min, v);
            s.max = std::max(s.max, v);
        }
        ++s.count;
        const double delta = v - mean;
        mean += delta / static_cast<double>(s.count);
        m2 += delta * (v - mean);
    });
    if (s.count > 0)
        s.mean = mean;
    if (s.count > 1)
        s.stddev = std::sqrt(m2 / static_cast<double>(s.count - 1));
    return s;
}

float trendValueAt(const TrendStore& store, int channel, qint64 ms)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    if (store.empty() || channel < 0 || channel >= store.channels())
        return nan;
    std::size_t i = store.lowerBound(ms);
    if (i == store.size() || (i > 0 && ms - store.time(i - 1) < store.time(i) - ms))
        --i;
    return store.kind(i) == SampleKind::Values ? store.value(i, channel) : nan;
}

} // namespace vardel
