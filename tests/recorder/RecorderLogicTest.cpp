// The recorder without its window: the day-long store, the per-column
// downsampling and the statistics, the CSV recording, the refreshes through
// the simulated network, and the saved pictures.

#include "link/Module1.h"
#include "measure/MeasureRecord.h"
#include "recorder/CsvRecording.h"
#include "recorder/CsvReview.h"
#include "recorder/Recorder.h"
#include "recorder/TrendExport.h"
#include "recorder/TrendPainter.h"
#include "recorder/TrendSeries.h"
#include "recorder/TrendStore.h"
#include "sim/SimCard.h"
#include "support/CountingErrors.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <vector>

namespace vardel {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(TrendStore, KeepsTheNewestSamplesInOrderAndFindsTimes)
{
    TrendStore store(2, 5);
    for (int i = 0; i < 8; ++i) {
        const float v[] = {static_cast<float>(i), static_cast<float>(-i)};
        store.append(1000 * i, v);
    }
    ASSERT_EQ(store.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(store.time(i), 1000 * static_cast<qint64>(i + 3));
        EXPECT_EQ(store.value(i, 0), static_cast<float>(i + 3));
        EXPECT_EQ(store.value(i, 1), -static_cast<float>(i + 3));
    }
    EXPECT_EQ(store.lowerBound(0), 0u);
    EXPECT_EQ(store.lowerBound(4500), 2u);
    EXPECT_EQ(store.lowerBound(5000), 2u);
    EXPECT_EQ(store.lowerBound(99999), 5u);

    store.appendFailure(7500); // a clock that went back is held at the last time
    EXPECT_EQ(store.time(4), 7500);
    store.appendBreak(100);
    EXPECT_EQ(store.time(4), 7500);
    EXPECT_EQ(store.kind(4), SampleKind::Break);
    EXPECT_TRUE(std::isnan(store.value(4, 0)));

    // A day at 1 s with the KX-4's ten values stays a few megabytes.
    const TrendStore day(10);
    EXPECT_EQ(day.capacity(), 86400u);
    EXPECT_LT(day.memoryBytes(), 5u << 20);
}

// Columns of one value over 10 s in 10 pixels: a column per second.
TEST(TrendSeries, ColumnsCarryTheirExtremesAndBreakAtEveryGap)
{
    TrendStore store(1);
    auto at = [&](qint64 ms, float v) {
        const float one[] = {v};
        store.append(ms, one);
    };
    at(0, 1);
    at(300, 5);
    at(600, 2);     // column 0: min 1, max 5, first 1, last 2
    at(2100, 3);    // column 2, joined across the empty column 1
    at(3000, kNaN); // a value the reply did not carry
    at(4200, 4);    // column 4: not joined
    store.appendFailure(5500);
    at(6500, 6);    // column 6: not joined
    store.appendBreak(7000);
    at(8000, 7);    // column 8: not joined
    store.appendSkipped(9000); // the link was busy: nobody looked
    at(9999, 8);    // column 9: not joined either

    const TrendSpan span{0, 9999, 10};
    const auto cols = downsample(store, 0, span);
    struct Want { int x; float min, max, first, last; bool joined; };
    const std::vector<Want> want{{0, 1, 5, 1, 2, false}, {2, 3, 3, 3, 3, true}, {4, 4, 4, 4, 4, false},
                                 {6, 6, 6, 6, 6, false}, {8, 7, 7, 7, 7, false}, {9, 8, 8, 8, 8, false}};
    ASSERT_EQ(cols.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cols[i].x, want[i].x);
        EXPECT_EQ(cols[i].min, want[i].min);
        EXPECT_EQ(cols[i].max, want[i].max);
        EXPECT_EQ(cols[i].first, want[i].first);
        EXPECT_EQ(cols[i].last, want[i].last);
        EXPECT_EQ(cols[i].joined, want[i].joined);
    }

    const auto failed = gapColumns(store, span, SampleKind::Failed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].x0, 5);
    EXPECT_EQ(failed[0].x1, 5);
    const auto skipped = gapColumns(store, span, SampleKind::Skipped);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].x0, 9);

    // A column begins exactly where the one before it ends, on any span.
    for (const TrendSpan odd : {TrendSpan{123, 98765, 37}, TrendSpan{-5000, 86399000, 1366}, TrendSpan{0, 59000, 900}}) {
        for (int x = 1; x < odd.columns; ++x) {
            ASSERT_EQ(odd.columnOf(odd.startOf(x)), x);
            ASSERT_EQ(odd.columnOf(odd.startOf(x) - 1), x - 1);
        }
    }

    // Only the span counts.
    const auto part = downsample(store, 0, TrendSpan{4000, 7000, 3});
    ASSERT_EQ(part.size(), 2u);
    EXPECT_EQ(part[0].first, 4);
    EXPECT_EQ(part[1].first, 6);
}

TEST(TrendSeries, AFullDayFallsIntoThePlotsColumns)
{
    TrendStore store(1);
    for (qint64 s = 0; s < 86400; ++s) {
        const float v[] = {static_cast<float>(std::sin(static_cast<double>(s) / 600.0))};
        store.append(s * 1000, v);
    }
    const auto cols = downsample(store, 0, TrendSpan{0, 86399000, 800});
    EXPECT_EQ(cols.size(), 800u);
    EXPECT_NEAR(cols[0].min, 0.0f, 1e-6);
    float low = 1, high = -1;
    for (const TrendColumn& c : cols) {
        low = std::min(low, c.min);
        high = std::max(high, c.max);
    }
    EXPECT_NEAR(low, -1.0f, 1e-4);
    EXPECT_NEAR(high, 1.0f, 1e-4);
}

TEST(TrendSeries, StatisticsOverTheShownSpanOnly)
{
    TrendStore store(2);
    // Values far from zero with a small spread: the spread must survive.
    const std::vector<double> values{1e6 + 0.1, 1e6 + 0.2, 1e6 + 0.3, 1e6 + 0.4};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const float v[] = {static_cast<float>(values[i] - 1e6), static_cast<float>(values[i])};
        store.append(static_cast<qint64>(i) * 1000, v);
    }
    store.appendFailure(4000);
    const float far[] = {100.0f, 0.0f};
    store.append(60000, far);

    const TrendStats s = trendStats(store, 0, 0, 5000);
    EXPECT_EQ(s.count, 4u);
    EXPECT_NEAR(s.min, 0.1, 1e-6);
    EXPECT_NEAR(s.max, 0.4, 1e-6);
    EXPECT_NEAR(s.mean, 0.25, 1e-6);
    EXPECT_NEAR(s.stddev, std::sqrt(0.05 / 3.0), 1e-6); // sample deviation, n - 1
    EXPECT_NEAR(trendStats(store, 1, 0, 5000).stddev, std::sqrt(0.05 / 3.0), 0.05);

    const TrendStats one = trendStats(store, 0, 60000, 60000);
    EXPECT_EQ(one.count, 1u);
    EXPECT_EQ(one.mean, 100.0);
    EXPECT_TRUE(std::isnan(one.stddev));
    const TrendStats none = trendStats(store, 0, 10000, 20000);
    EXPECT_EQ(none.count, 0u);
    EXPECT_TRUE(std::isnan(none.min) && std::isnan(none.mean));
}

// ---------------------------------------------------------------------------

TEST(CsvRecording, HeaderThenOneSyncedLinePerRefresh)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pomiary.csv"));
    test::writeBytes(path, "stara zawartość\n");
    CsvRecording csv;
    QString error;
    ASSERT_TRUE(csv.start(path, QStringLiteral("Czas;Pomiar Nr 1"), &error)) << error.toStdString();
    EXPECT_EQ(test::readBytes(path), QByteArray("Czas;Pomiar Nr 1\n"));
    ASSERT_TRUE(csv.append(QStringLiteral("2026-12-10T10:00:00.000;1.5"), &error));
    // Each line is on the disk before the next refresh.
    EXPECT_EQ(test::readBytes(path), QByteArray("Czas;Pomiar Nr 1\n2026-12-10T10:00:00.000;1.5\n"));
    ASSERT_TRUE(csv.append(QStringLiteral("2026-12-10T10:00:01.000;"), &error));
    EXPECT_EQ(csv.rows(), 2);
    csv.stop();
    EXPECT_FALSE(csv.isRecording());
    EXPECT_FALSE(csv.append(QStringLiteral("late"), &error));
    EXPECT_TRUE(test::readBytes(path).endsWith("10:00:01.000;\n"));

    EXPECT_FALSE(csv.start(dir.path(), QStringLiteral("Czas"), &error)) << "a folder is no file";
    EXPECT_TRUE(error.startsWith(QStringLiteral("Nie można zapisać pliku"))) << error.toStdString();
}

// A disk that fills up mid-line: the half line goes again, the file ends with
// the last whole line and the recording ends with the reason.
TEST(CsvRecording, ALineThatDoesNotFitIsCutOffAndTheRecordingEnds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pomiary.csv"));
    CsvRecording csv;
    QString error;
    ASSERT_TRUE(csv.start(path, QStringLiteral("Czas;Pomiar Nr 1"), &error));
    ASSERT_TRUE(csv.append(QStringLiteral("2026-12-10T10:00:00.000;1.5"), &error));
    const QByteArray whole = test::readBytes(path);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(whole.size() + 10);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = csv.append(QStringLiteral("2026-12-10T10:00:01.000;2.5"), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);

    EXPECT_FALSE(written);
    EXPECT_FALSE(csv.isRecording());
    EXPECT_EQ(error, QStringLiteral("Nie można zapisać pliku %1: plik przekracza dopuszczalny rozmiar").arg(path));
    EXPECT_EQ(test::readBytes(path), whole);
}

// ---------------------------------------------------------------------------

using test::CountingErrors;

class RecorderOnSim : public ::testing::Test {
protected:
    RecorderOnSim()
    {
        card.setClock([this] { return now; });
        link.setErrorWindows(&errors);
        link.MeterModel = kModelKX3;
        link.MeterAddress = 2; // the factory network's KX-3
        link.BaudCode = 4;
        link.CardSetLink();
    }
    Recorder::Tick tick()
    {
        now += 1.0;
        ms += 1000;
        return recorder.tick(ms, wall.addMSecs(ms));
    }

    double now = 100.0;
    qint64 ms = 0;
    QDateTime wall{QDate(2026, 12, 10), QTime(10, 0)};
    SimCard card;
    Module1 link{card};
    CountingErrors errors;
    Recorder recorder{link};
};

TEST_F(RecorderOnSim, EveryTickIsARefreshOfTheSelectedMeter)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tick().outcome, Recorder::Outcome::Recorded);
    EXPECT_EQ(recorder.boxes(), (std::vector<int>{1, 2, 3, 4, 5, 7}));
    const TrendStore& store = recorder.store();
    ASSERT_EQ(store.size(), 3u);
    ASSERT_EQ(store.channels(), 6);
    EXPECT_EQ(store.time(2), 3000);
    for (int c = 0; c < 6; ++c)
        EXPECT_FALSE(std::isnan(store.value(2, c))) << c;
    EXPECT_NE(store.value(0, 0), store.value(2, 0)) << "the process moves";
    EXPECT_EQ(recorder.latest()[0], store.value(2, 0));
    EXPECT_EQ(recorder.wallTime(2000), wall.addMSecs(2000));

    // A tick while another exchange is under way skips its turn, and leaves
    // a mark of it.
    {
        const Module1::Busy busy(link);
        EXPECT_EQ(tick().outcome, Recorder::Outcome::Skipped);
    }
    ASSERT_EQ(store.size(), 4u);
    EXPECT_EQ(store.kind(3), SampleKind::Skipped);
    EXPECT_EQ(store.time(3), 4000);

    // A reply two bytes short: its last value (Bilans Nr 1) is missing.
    ASSERT_TRUE(card.setFault(QStringLiteral("bad-length")));
    EXPECT_EQ(tick().outcome, Recorder::Outcome::Recorded);
    EXPECT_FALSE(std::isnan(store.value(4, 4)));
    EXPECT_TRUE(std::isnan(store.value(4, 5)));
    EXPECT_EQ(errors.receive + errors.transmit, 0);
}

// A meter that stops answering: the error window comes once for the whole
// outage, every tick marks the gap, and the recording goes on; a refresh that
// works ends the outage, so the next failure shows the window again.
TEST_F(RecorderOnSim, AnOutageShowsTheErrorWindowOnceAndMarksTheGap)
{
    tick();
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tick().outcome, Recorder::Outcome::Failed);
    EXPECT_EQ(errors.receive, 1);
    card.clearFaults();
    EXPECT_EQ(tick().outcome, Recorder::Outcome::Recorded);
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    tick();
    tick();
    EXPECT_EQ(errors.receive, 2);
    EXPECT_EQ(link.errorWindows(), &errors) << "the link reports to its own windows again";
    // After a pause the meter still silent is told again.
    recorder.markBreak(ms);
    tick();
    EXPECT_EQ(errors.receive, 3);

    const TrendStore& store = recorder.store();
    const SampleKind kinds[] = {SampleKind::Values, SampleKind::Failed, SampleKind::Failed, SampleKind::Failed,
                                SampleKind::Failed, SampleKind::Values, SampleKind::Failed, SampleKind::Failed,
                                SampleKind::Break, SampleKind::Failed};
    ASSERT_EQ(store.size(), std::size(kinds));
    for (std::size_t i = 0; i < std::size(kinds); ++i)
        EXPECT_EQ(store.kind(i), kinds[i]) << i;
}

// The file holds the lines of `vardel-cli measure --format csv` and a last
// field saying why a line has no values: a failed or a skipped refresh.
TEST_F(RecorderOnSim, TheFileHoldsTheCommandLinesCsvLinesAndWhyALineIsEmpty)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pomiary.csv"));
    QString error;
    ASSERT_TRUE(recorder.startFile(path, &error)) << error.toStdString();
    tick();
    tick();
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    EXPECT_EQ(tick().outcome, Recorder::Outcome::Failed);
    card.clearFaults();
    {
        const Module1::Busy busy(link);
        EXPECT_EQ(tick().outcome, Recorder::Outcome::Skipped);
    }
    EXPECT_EQ(recorder.file().rows(), 4);

    const QStringList lines = QString::fromUtf8(test::readBytes(path)).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 6) << "header, four lines, nothing after the last LF";
    EXPECT_EQ(lines[0], measureHeaderLine(OutputFormat::Csv, kModelKX3) + QStringLiteral(";Uwagi"));
    const TrendStore& store = recorder.store();
    std::vector<MeasuredValue> first;
    for (int c = 0; c < 6; ++c)
        first.push_back({recorder.boxes()[static_cast<std::size_t>(c)], 6 * c + 1, store.value(0, c)});
    EXPECT_EQ(lines[1], measureRecordLine(OutputFormat::Csv, kModelKX3, wall.addMSecs(1000), first) + u';');
    EXPECT_EQ(lines[3], measureRecordLine(OutputFormat::Csv, kModelKX3, wall.addMSecs(3000), {})
                            + QStringLiteral(";błąd wymiany z miernikiem"));
    EXPECT_EQ(lines[4], measureRecordLine(OutputFormat::Csv, kModelKX3, wall.addMSecs(4000), {})
                            + QStringLiteral(";pominięto: łącze zajęte inną wymianą"));
    EXPECT_TRUE(lines[5].isEmpty());
}

// Another meter selected in the main window wipes nothing: the recorder
// offers it, and once added records both at every tick, each into its own
// trend and file, the main window's selection left as the user set it.
TEST_F(RecorderOnSim, AnotherMeterSelectedIsOfferedAndRecordedBesideTheFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kx3.csv"));
    ASSERT_TRUE(recorder.startFile(path, nullptr));
    tick();
    tick();
    EXPECT_FALSE(recorder.offered(nullptr, nullptr));

    link.MeterModel = kModelKX4;
    link.MeterAddress = 3;
    std::int16_t model = 0;
    std::int16_t address = 0;
    ASSERT_TRUE(recorder.offered(&model, &address));
    EXPECT_EQ(model, kModelKX4);
    EXPECT_EQ(address, 3);
    EXPECT_EQ(tick().outcome, Recorder::Outcome::Recorded);
    ASSERT_EQ(recorder.meterCount(), 1u);
    EXPECT_EQ(recorder.store().size(), 3u) << "the KX-3's trend goes on";
    EXPECT_TRUE(recorder.file().isRecording());

    const std::size_t kx4 = recorder.addMeter(model, address);
    EXPECT_FALSE(recorder.offered(nullptr, nullptr));
    link.MeterModel = kModelKX2; // the user goes on in the main window
    link.MeterAddress = 1;
    EXPECT_EQ(tick().outcome, Recorder::Outcome::Recorded);
    EXPECT_EQ(link.MeterModel, kModelKX2);
    EXPECT_EQ(link.MeterAddress, 1);
    EXPECT_EQ(recorder.meter(0).store.size(), 4u);
    ASSERT_EQ(recorder.meter(kx4).store.size(), 1u);
    EXPECT_EQ(recorder.meter(kx4).store.channels(), 10);
    for (int c = 0; c < 10; ++c)
        EXPECT_FALSE(std::isnan(recorder.meter(kx4).store.value(0, c))) << c;
    EXPECT_EQ(errors.receive + errors.transmit, 0);

    // Declined, the KX-2 is not offered again until another one is selected.
    recorder.decline(kModelKX2, 1);
    EXPECT_FALSE(recorder.offered(nullptr, nullptr));
    recorder.removeMeter(kx4);
    EXPECT_EQ(recorder.meterCount(), 1u);
    EXPECT_EQ(QString::fromUtf8(test::readBytes(path)).count(QLatin1Char('\n')), 5);
}

// A file of `measure --format csv --decimal-comma` read back: the model from
// the header, comma decimals, times across the night the clocks go back
// (by their offsets, 1,256 s apart, not an hour back); and what is no recording.
TEST(CsvReview, ReadsTheCommandLinesFileAcrossAChangeOfTheClocks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kx2.csv"));
    test::writeBytes(path, "Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1\n"
                           "2026-10-25T02:59:58.844+02:00;22,74867;1;2;3\n"
                           "2026-10-25T02:00:00.100+01:00;;;;\n");
    QString error;
    const auto meter = readRecording(path, &error);
    ASSERT_NE(meter, nullptr) << error.toStdString();
    EXPECT_EQ(meter->model, kModelKX2);
    ASSERT_EQ(meter->store.size(), 2u);
    EXPECT_FLOAT_EQ(meter->store.value(0, 0), 22.74867f);
    EXPECT_EQ(meter->store.time(1), 1256);
    EXPECT_EQ(meter->store.kind(1), SampleKind::Failed);

    const struct {
        const char* bytes;
        const char* says;
    } bad[] = {
        {"Czas;Temperatura\n2026-12-10T10:00:00.000+01:00;1\n", "nagłówek nie odpowiada"},
        {"Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1\nwczoraj;1;2;3;4\n", "nieprawidłowy czas w wierszu 2"},
        {"Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1\n2026-12-10T10:00:00.000+01:00;1;x;3;4\n",
         "nieprawidłowa liczba w wierszu 2"},
        {"Czas;Pomiar Nr 1;Pomiar Nr 2;Funkcja Nr 1;Bilans Nr 1\n", "nie zawiera żadnego odczytu"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.says);
        test::writeBytes(path, b.bytes);
        EXPECT_EQ(readRecording(path, &error), nullptr);
        EXPECT_TRUE(error.contains(QString::fromUtf8(b.says))) << error.toStdString();
    }
}

// ---------------------------------------------------------------------------

TrendStore gappedStore()
{
    TrendStore store(2);
    for (int s = 0; s <= 600; ++s) {
        if (s >= 200 && s < 260) {
            store.appendFailure(s * 1000);
            continue;
        }
        const float v[] = {static_cast<float>(s % 50), 10.0f};
        store.append(s * 1000, v);
    }
    return store;
}

TrendPlot plotOf(const TrendStore& store)
{
    TrendPlot plot;
    plot.store = &store;
    plot.from = 0;
    plot.to = 600000;
    plot.shown = {true, true};
    plot.colours = {QColor(0, 114, 178), QColor(213, 94, 0)};
    plot.wallTime = [](qint64 ms) { return QDateTime(QDate(2026, 12, 10), QTime(10, 0)).addMSecs(ms); };
    plot.locale = QLocale(QLocale::Polish);
    return plot;
}

// The gap of a failed outage is shaded and no line crosses it; a hidden value
// is not drawn at all.
TEST(TrendPainter, GapsAreShadedAndNoLineCrossesThem)
{
    const TrendStore store = gappedStore();
    TrendPlot plot = plotOf(store);
    plot.shown = {false, true};
    QImage image(800, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    paintTrend(painter, image.rect(), plot);
    painter.end();

    auto countColour = [&](int x0, int x1, QColor colour) {
        int n = 0;
        for (int x = x0; x <= x1; ++x)
            for (int y = 0; y < image.height(); ++y)
                n += QColor(image.pixel(x, y)) == colour ? 1 : 0;
        return n;
    };
    // The outage lies at 200..260 s of 600 s: the middle of it is shaded,
    // without the value's colour; outside it the line is drawn.
    const int plotLeft = 40;
    const int width = image.width() - plotLeft;
    const int mid = plotLeft + width * 230 / 600;
    EXPECT_GT(countColour(mid - 3, mid + 3, QColor(255, 200, 200)), 100);
    EXPECT_EQ(countColour(mid - 3, mid + 3, QColor(213, 94, 0)), 0);
    EXPECT_GT(countColour(plotLeft + width / 10, image.width() - 20, QColor(213, 94, 0)), 100);
    EXPECT_EQ(countColour(0, image.width() - 1, QColor(0, 114, 178)), 0) << "a hidden value is drawn";

    // Refreshes skipped for another exchange: grey, not red, and no line across.
    TrendStore skipped(2);
    for (int s = 0; s <= 600; ++s) {
        const float v[] = {0.0f, static_cast<float>(s % 50)};
        if (s >= 200 && s < 260)
            skipped.appendSkipped(s * 1000);
        else
            skipped.append(s * 1000, v);
    }
    plot.store = &skipped;
    image.fill(Qt::black);
    QPainter again(&image);
    paintTrend(again, image.rect(), plot);
    again.end();
    EXPECT_GT(countColour(mid - 3, mid + 3, QColor(236, 236, 236)) + countColour(mid - 3, mid + 3, QColor(160, 160, 160)),
              100);
    EXPECT_EQ(countColour(mid - 3, mid + 3, QColor(255, 200, 200)), 0);
    EXPECT_EQ(countColour(mid - 3, mid + 3, QColor(213, 94, 0)), 0);
}

// A value of 0..1 beside one of 1000..1001: on the common axis the small one
// is a flat line at the bottom; each on its own, both fill the height; on a
// typed range the large one lies outside and is not drawn over the frame.
// The cursors are drawn where their times fall.
TEST(TrendPainter, ScalesAndCursors)
{
    TrendStore store(2);
    for (int s = 0; s <= 600; ++s) {
        const float v[] = {static_cast<float>(s % 100) / 100.0f, 1001.0f - static_cast<float>(s % 100) / 100.0f};
        store.append(s * 1000, v);
    }
    TrendPlot plot = plotOf(store);
    QImage image(800, 400, QImage::Format_RGB32);
    const QRect box = trendPlotBox(image.rect(), QFontMetrics(QFont()));
    // Rows of the plot in which a colour appears.
    auto rowsOf = [&](const QColor& colour) {
        int top = image.height();
        int bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (QColor(image.pixel(x, y)) == colour) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        return bottom - top + 1;
    };
    auto paint = [&] {
        image.fill(Qt::black);
        QPainter painter(&image);
        paintTrend(painter, image.rect(), plot);
    };
    const QColor small = plot.colours[0];
    const QColor large = plot.colours[1];

    paint();
    EXPECT_LT(rowsOf(small), box.height() / 10);
    plot.scale = TrendScale::PerValue;
    paint();
    EXPECT_GT(rowsOf(small), box.height() * 8 / 10);
    EXPECT_GT(rowsOf(large), box.height() * 8 / 10);
    plot.scale = TrendScale::Manual;
    plot.low = 0.0;
    plot.high = 2.0;
    paint();
    EXPECT_GT(rowsOf(small), box.height() * 4 / 10);
    EXPECT_LE(rowsOf(large), 0) << "a value off the typed range is drawn";

    plot.cursorA = 150000;
    plot.cursorB = 450000;
    plot.shown = {false, false};
    paint();
    const TrendSpan span{plot.from, plot.to, box.width()};
    for (qint64 at : {*plot.cursorA, *plot.cursorB}) {
        const int x = box.left() + span.columnOf(at);
        int dark = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            dark += QColor(image.pixel(x, y)) == QColor(40, 40, 40) ? 1 : 0;
        EXPECT_GT(dark, box.height() / 3) << at;
    }
}

TEST(TrendExport, PngSvgAndPdfHoldThePlotAndAnUnknownKindIsRefused)
{
    QTemporaryDir dir;
    const TrendStore store = gappedStore();
    const TrendPlot plot = plotOf(store);
    const std::vector<TrendLegendRow> legend{{QStringLiteral("Pomiar Nr 1"), plot.colours[0], trendStats(store, 0, 0, 600000)},
                                             {QStringLiteral("Pomiar Nr 2"), plot.colours[1], trendStats(store, 1, 0, 600000)}};
    const QString title = QStringLiteral("Rejestrator pomiarów — KX-3, adres 2");
    QString error;
    for (const char* name : {"wykres.png", "wykres.SVG", "wykres.pdf"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(saveTrendPicture(path, title, plot, legend, &error)) << error.toStdString();
        const QByteArray bytes = test::readBytes(path);
        ASSERT_FALSE(bytes.isEmpty());
        if (path.endsWith(QLatin1String(".png"))) {
            const QImage image = QImage::fromData(bytes, "PNG");
            EXPECT_EQ(image.size(), QSize(1600, 1000));
        } else if (path.endsWith(QLatin1String(".SVG"))) {
            EXPECT_TRUE(bytes.contains("<svg"));
            EXPECT_TRUE(QString::fromUtf8(bytes).contains(QStringLiteral("Średnia")));
        } else {
            EXPECT_TRUE(bytes.startsWith("%PDF"));
        }
    }
    EXPECT_FALSE(saveTrendPicture(dir.filePath(QStringLiteral("wykres.bmp")), title, plot, legend, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("png, svg albo pdf"))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("wykres.bmp"))));
    EXPECT_FALSE(saveTrendPicture(dir.filePath(QStringLiteral("brak/wykres.png")), title, plot, legend, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Nie można zapisać pliku"))) << error.toStdString();
}

} // namespace
} // namespace vardel
