#pragma once

#include "recorder/TrendSeries.h"
#include "recorder/TrendStore.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QFontMetrics;
class QPainter;
class QRect;

namespace vardel {

// How the value axis is scaled: one range that holds every shown value
// (chosen from the values), each value stretched over the plot's height on
// its own (0 to 100 % of its range in the span: small and large values
// side by side), or a range the user set.
enum class TrendScale { Common, PerValue, Manual };

// What a trend plot shows: the span of the store, which values, in which
// colours, and how a time of the store reads on the wall clock; the value
// axis's scale and up to two cursors (times on the store's clock).
struct TrendPlot {
    const TrendStore* store = nullptr;
    qint64 from = 0;
    qint64 to = 0;
    std::vector<bool> shown;     // per value of the store
    std::vector<QColor> colours; // per value of the store
    std::function<QDateTime(qint64 ms)> wallTime;
    QLocale locale;
    TrendScale scale = TrendScale::Common;
    double low = 0.0;  // the manual range
    double high = 1.0;
    std::optional<qint64> cursorA;
    std::optional<qint64> cursorB;
};

// Where paintTrend draws the plot itself within `area` (without the axes'
// labels): the same for the screen's mouse as for the painting.
QRect trendPlotBox(const QRect& area, const QFontMetrics& fm);

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
