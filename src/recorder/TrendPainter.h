#pragma once

#include "recorder/TrendSeries.h"
#include "recorder/TrendStore.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <vector>

class QPainter;
class QRect;

namespace vardel {

// What a trend plot shows: the span of the store, which values, in which
// colours, and how a time of the store reads on the wall clock.
struct TrendPlot {
    const TrendStore* store = nullptr;
    qint64 from = 0;
    qint64 to = 0;
    std::vector<bool> shown;     // per value of the store
    std::vector<QColor> colours; // per value of the store
    std::function<QDateTime(qint64 ms)> wallTime;
    QLocale locale;
};

// The plot in `area`: value and time axes with their grid, the spans where
// exchanges failed shaded red, and each shown value as a line that breaks at
// every gap. Drawn per pixel column (downsample), whatever the span holds.
void paintTrend(QPainter& painter, const QRect& area, const TrendPlot& plot);

// A line of the legend under a saved plot.
struct TrendLegendRow {
    QString caption;
    QColor colour;
    TrendStats stats;
};

// A saved plot: a title line, the plot, and a legend with each shown value's
// minimum, maximum, mean and standard deviation over the span.
void paintTrendReport(QPainter& painter, const QRect& area, const QString& title, const TrendPlot& plot,
                      const std::vector<TrendLegendRow>& legend);

// Text of a statistic or value: as the test window writes numbers (seven
// significant digits, the locale's separator), empty for NaN.
QString trendNumberText(double value, const QLocale& locale);

} // namespace vardel
