#include "recorder/TrendPainter.h"

#include "config/RegisterTexts.h"

#include <QFontMetrics>
#include <QPointF>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <array>
#include <cmath>

namespace vardel {

namespace {

constexpr QColor kGrid(225, 225, 225);
constexpr QColor kAxis(120, 120, 120);
constexpr QColor kFailed(255, 200, 200);
constexpr QColor kSkipped(236, 236, 236);
constexpr QColor kSkippedHatch(160, 160, 160);

// 1, 2 or 5 times a power of ten, at least `rough`.
double niceStep(double rough)
{
    if (!(rough > 0) || !std::isfinite(rough))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough)
            return m * power;
    return 10.0 * power;
}

// Steps of the time axis, in ms: from a second to a day.
qint64 timeStep(qint64 rough)
{
    static constexpr std::array<qint64, 19> steps{
        1000, 2000, 5000, 10000, 15000, 30000, 60000, 120000, 300000, 600000, 900000, 1800000,
        3600000, 7200000, 10800000, 21600000, 43200000, 86400000, 7 * 86400000LL};
    for (qint64 s : steps)
        if (s >= rough)
            return s;
    return steps.back();
}

struct Range {
    double low, high;
};

} // namespace

QString trendNumberText(double value, const QLocale& locale)
{
    return std::isnan(value) ? QString() : ValueText(static_cast<float>(value), locale);
}

QRect trendPlotBox(const QRect& area, const QFontMetrics& fm)
{
    // The value labels get a fixed room, as wide as the longest they can be:
    // the plot's left edge stays put while the values change.
    const int labelWidth = fm.horizontalAdvance(QStringLiteral("-0,000000"));
    return area.adjusted(labelWidth + 10, 8, -12, -(fm.height() + 8));
}

namespace {

// A range with room around a single value, so that a flat line is drawn in
// the middle rather than on the frame.
Range opened(Range range)
{
    if (range.high - range.low < 1e-12 * std::max(1.0, std::abs(range.high))) {
        const double pad = std::max(std::abs(range.high) * 0.01, 1e-3);
        range = {range.low - pad, range.high + pad};
    }
    // A little room above and below, so that no line runs along the frame.
    const double margin = (range.high - range.low) * 0.03;
    return {range.low - margin, range.high + margin};
}

void paintCursor(QPainter& painter, const QRect& box, int x, const QString& name)
{
    QPen pen(QColor(40, 40, 40));
    pen.setStyle(Qt::DashLine);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.drawLine(x, box.top(), x, box.bottom());
    const QFontMetrics fm = painter.fontMetrics();
    const QRect tag(x + 2, box.top() + 2, fm.horizontalAdvance(name) + 6, fm.height());
    painter.fillRect(tag, QColor(255, 255, 255, 220));
    painter.setPen(QColor(40, 40, 40));
    painter.drawText(tag, Qt::AlignCenter, name);
}

void paintCursors(QPainter& painter, const QRect& box, const TrendSpan& span, const TrendPlot& plot)
{
    painter.setClipping(false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const std::pair<const std::optional<qint64>*, const char*> cursors[] = {{&plot.cursorA, "A"}, {&plot.cursorB, "B"}};
    for (const auto& [at, name] : cursors) {
        if (*at && **at >= plot.from && **at <= plot.to)
            paintCursor(painter, box, box.left() + span.columnOf(**at), QLatin1String(name));
    }
}

} // namespace

void paintTrend(QPainter& painter, const QRect& area, const TrendPlot& plot)
{
    painter.save();
    painter.fillRect(area, Qt::white);
    const QFontMetrics fm = painter.fontMetrics();
    const TrendStore* store = plot.store;
    const int channels = store ? store->channels() : 0;

    const int labelWidth = fm.horizontalAdvance(QStringLiteral("-0,000000"));
    const QRect box = trendPlotBox(area, fm);
    if (box.width() < 4 || box.height() < 4) {
        painter.restore();
        return;
    }
    const TrendSpan span{plot.from, plot.to, box.width()};
    std::vector<std::vector<TrendColumn>> columns(static_cast<std::size_t>(channels));
    std::vector<Range> own(static_cast<std::size_t>(channels), Range{0, 1});
    bool any = false;
    Range range{0, 0};
    for (int c = 0; c < channels; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        if (ch >= plot.shown.size() || !plot.shown[ch])
            continue;
        columns[ch] = downsample(*store, c, span);
        bool anyHere = false;
        for (const TrendColumn& col : columns[ch]) {
            range = any ? Range{std::min(range.low, double(col.min)), std::max(range.high, double(col.max))}
                        : Range{col.min, col.max};
            own[ch] = anyHere ? Range{std::min(own[ch].low, double(col.min)), std::max(own[ch].high, double(col.max))}
                              : Range{col.min, col.max};
            any = anyHere = true;
        }
        own[ch] = opened(own[ch]);
    }
    const bool manual = plot.scale == TrendScale::Manual && plot.high > plot.low;
    const bool perValue = plot.scale == TrendScale::PerValue;
    if (manual)
        range = {plot.low, plot.high};
    else if (perValue)
        range = {0.0, 100.0};
    else
        range = opened(range);
    const int rows = std::max(2, box.height() / (fm.height() * 3));
    const double step = niceStep((range.high - range.low) / rows);
    if (!manual && !perValue)
        range = {std::floor(range.low / step) * step, std::ceil(range.high / step) * step};
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 6);
    const bool exponent = std::max(std::abs(range.low), std::abs(range.high)) >= 1e6 || step < 1e-5;
    auto label = [&](double v) {
        if (std::abs(v) < step * 1e-9)
            v = 0;
        if (perValue)
            return plot.locale.toString(v, 'f', 0) + QStringLiteral(" %");
        return exponent ? plot.locale.toString(v, 'g', 3) : plot.locale.toString(v, 'f', decimals);
    };
    auto yOf = [&](double v) {
        return box.bottom() - (v - range.low) / (range.high - range.low) * (box.height() - 1);
    };

    // Refreshes that failed: red. Refreshes skipped while another exchange
    // held the link: grey and hatched, so the two are told apart in print too.
    if (store) {
        for (const ColumnRange& r : gapColumns(*store, span, SampleKind::Failed))
            painter.fillRect(QRect(box.left() + r.x0, box.top(), r.x1 - r.x0 + 1, box.height()), kFailed);
        for (const ColumnRange& r : gapColumns(*store, span, SampleKind::Skipped)) {
            const QRect strip(box.left() + r.x0, box.top(), r.x1 - r.x0 + 1, box.height());
            painter.fillRect(strip, kSkipped);
            painter.fillRect(strip, QBrush(kSkippedHatch, Qt::BDiagPattern));
        }
    }

    // Value grid and labels.
    painter.setPen(kGrid);
    for (double v = std::ceil(range.low / step - 1e-9) * step; v <= range.high + step * 1e-6; v += step) {
        const double y = yOf(v);
        painter.setPen(kGrid);
        painter.drawLine(QPointF(box.left(), y), QPointF(box.right(), y));
        painter.setPen(kAxis);
        const QRect text(area.left(), static_cast<int>(y) - fm.height() / 2, labelWidth + 4, fm.height());
        painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, label(v));
    }

    // Time grid and labels, on whole seconds, minutes or hours of the clock.
    const qint64 length = std::max<qint64>(plot.to - plot.from, 1);
    if (plot.wallTime) {
        const int labelRoom = fm.horizontalAdvance(QStringLiteral("00:00:00")) + 24;
        const qint64 tStep = timeStep(length * labelRoom / std::max(box.width(), 1));
        const QDateTime fromWall = plot.wallTime(plot.from);
        const qint64 offset = fromWall.offsetFromUtc() * 1000LL;
        const qint64 wallFrom = fromWall.toMSecsSinceEpoch() + offset;
        const QString format = tStep >= 86400000 || length > 86400000
            ? QStringLiteral("dd.MM HH:mm")
            : (tStep >= 60000 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
        for (qint64 w = (wallFrom / tStep + 1) * tStep; w <= wallFrom + length; w += tStep) {
            const qint64 ms = plot.from + (w - wallFrom);
            const int x = box.left() + span.columnOf(ms);
            painter.setPen(kGrid);
            painter.drawLine(x, box.top(), x, box.bottom());
            painter.setPen(kAxis);
            const QString text = plot.wallTime(ms).toString(format);
            const int width = fm.horizontalAdvance(text);
            // A tick at the right end keeps its label whole inside the picture.
            const int left = std::max(std::min(x - width / 2, painter.window().right() + 1 - width), painter.window().left());
            painter.drawText(QRect(left, box.bottom() + 4, width, fm.height()), Qt::AlignCenter, text);
        }
    }
    painter.setPen(kAxis);
    painter.drawRect(box.adjusted(0, 0, -1, -1));

    if (!any) {
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("Brak danych"));
        paintCursors(painter, box, span, plot);
        painter.restore();
        return;
    }

    // The values: one polyline per unbroken run, at most four points per
    // column (first, least, greatest, last), so a day of samples costs no
    // more than the plot's width, and a saved drawing stays small.
    painter.setClipRect(box);
    // Few samples per column: smooth, wider lines. A dense span (up to a day
    // at 1 s) is a band of vertical strokes anyway: thin plain lines, which
    // the painter draws many times faster.
    const bool dense = store->lowerBound(plot.to + 1) - store->lowerBound(plot.from)
        > static_cast<std::size_t>(span.columns) / 2;
    painter.setRenderHint(QPainter::Antialiasing, !dense);
    std::vector<QPointF> run;
    auto flush = [&] {
        if (run.size() == 1) // a lone value between two gaps: a short dash
            painter.drawLine(run[0] - QPointF(1.5, 0), run[0] + QPointF(1.5, 0));
        else if (run.size() > 1)
            painter.drawPolyline(run.data(), static_cast<int>(run.size()));
        run.clear();
    };
    auto add = [&](double x, double y) {
        if (run.empty() || run.back() != QPointF(x, y))
            run.emplace_back(x, y);
    };
    for (int c = 0; c < channels; ++c) {
        const auto& cols = columns[static_cast<std::size_t>(c)];
        if (cols.empty())
            continue;
        QPen pen(c < static_cast<int>(plot.colours.size()) ? plot.colours[static_cast<std::size_t>(c)] : Qt::black);
        pen.setWidthF(dense ? 0.0 : 1.6);
        pen.setCosmetic(true);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        run.reserve(cols.size() * 4);
        // Scaled on its own: the value's range onto the axis's 0 to 100 %.
        const Range from = perValue ? own[static_cast<std::size_t>(c)] : range;
        const double k = (range.high - range.low) / (from.high - from.low);
        auto yOfValue = [&](float v) { return yOf(range.low + (double(v) - from.low) * k); };
        for (const TrendColumn& col : cols) {
            if (!col.joined)
                flush();
            const double x = box.left() + col.x + 0.5;
            add(x, yOfValue(col.first));
            add(x, yOfValue(col.min));
            add(x, yOfValue(col.max));
            add(x, yOfValue(col.last));
        }
        flush();
    }
    paintCursors(painter, box, span, plot);
    painter.restore();
}

void paintTrendReport(QPainter& painter, const QRect& area, const QString& title, const TrendPlot& plot,
                      const std::vector<TrendLegendRow>& legend)
{
    painter.save();
    painter.fillRect(area, Qt::white);
    const QFontMetrics fm = painter.fontMetrics();
    const int line = fm.lineSpacing();
    const int legendHeight = line * (static_cast<int>(legend.size()) + 1) + line / 2;
    const QFont normal = painter.font();
    QFont bold = normal;
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(Qt::black);
    painter.drawText(QRect(area.left(), area.top(), area.width(), line), Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.setFont(normal);
    const QRect plotArea(area.left(), area.top() + line + line / 2, area.width(),
                         area.height() - 2 * line - legendHeight);
    paintTrend(painter, plotArea, plot);

    // The legend as a small table: colour, value, then its statistics.
    const QStringList heads{QStringLiteral("Minimum"), QStringLiteral("Maksimum"), QStringLiteral("Średnia"),
                            QStringLiteral("Odch. std."), QStringLiteral("Odczytów")};
    int captionWidth = 0;
    for (const TrendLegendRow& r : legend)
        captionWidth = std::max(captionWidth, fm.horizontalAdvance(r.caption));
    const int x0 = area.left() + line * 2 + captionWidth + line;
    const int cell = std::max(fm.horizontalAdvance(QStringLiteral("-1,234567E+38")) + line,
                              (area.right() - x0) / static_cast<int>(heads.size()));
    int y = plotArea.bottom() + line;
    painter.setPen(Qt::black);
    for (int i = 0; i < heads.size(); ++i)
        painter.drawText(QRect(x0 + i * cell, y, cell - line / 2, line), Qt::AlignRight | Qt::AlignVCenter, heads[i]);
    for (const TrendLegendRow& r : legend) {
        y += line;
        painter.fillRect(QRect(area.left(), y + line / 4, line, line / 2), r.colour);
        painter.drawText(QRect(area.left() + line * 2, y, captionWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                         r.caption);
        const QStringList cells{trendNumberText(r.stats.min, plot.locale), trendNumberText(r.stats.max, plot.locale),
                                trendNumberText(r.stats.mean, plot.locale),
                                trendNumberText(r.stats.stddev, plot.locale),
                                plot.locale.toString(static_cast<qulonglong>(r.stats.count))};
        for (int i = 0; i < cells.size(); ++i)
            painter.drawText(QRect(x0 + i * cell, y, cell - line / 2, line), Qt::AlignRight | Qt::AlignVCenter,
                             cells[i]);
    }
    painter.restore();
}

} // namespace vardel
