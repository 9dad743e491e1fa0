#pragma once

#include "recorder/TrendStore.h"

#include <QtGlobal>

#include <cstddef>
#include <vector>

namespace vardel {

// The part of the store a plot shows: samples from `from` to `to` (ms, both
// included), spread over `columns` pixel columns.
struct TrendSpan {
    qint64 from = 0;
    qint64 to = 0;
    int columns = 0;
    // Column of a time; times outside the span land on its edge columns.
    int columnOf(qint64 ms) const;
    // The first time that falls into a column (past the last: never).
    qint64 startOf(int column) const;
};

// One pixel column of a value: the least and greatest value that fell into
// it, the first and the last in time, and whether a line joins it to the
// previous column that has values (no failed exchange, break or missing
// value between them).
struct TrendColumn {
    int x;
    float min, max, first, last;
    bool joined;
};

// The columns of a value that hold any, left to right. However many samples
// the span holds, a plot draws at most two lines per column: a day at 1 s is
// as quick to draw as a minute.
std::vector<TrendColumn> downsample(const TrendStore& store, int channel, const TrendSpan& span);

// Pixel ranges [x0, x1] of the samples of one kind (failed or skipped
// refreshes): from such a sample to the next sample (at least one column),
// merged where they touch.
struct ColumnRange {
    int x0, x1;
};
std::vector<ColumnRange> gapColumns(const TrendStore& store, const TrendSpan& span, SampleKind kind);

// Statistics of a value over the samples from `from` to `to` that carry it.
// The standard deviation is the sample one (n - 1), as a spreadsheet gives
// it; with fewer than two values it is NaN, and with none all four are.
struct TrendStats {
    std::size_t count = 0;
    double min, max, mean, stddev;
};
TrendStats trendStats(const TrendStore& store, int channel, qint64 from, qint64 to);

// A value at a cursor: that of the sample nearest to `ms` among the two
// around it, when it carries the value; NaN on a gap (a failed, skipped or
// missing refresh is not bridged with a guess).
float trendValueAt(const TrendStore& store, int channel, qint64 ms);

} // namespace vardel
