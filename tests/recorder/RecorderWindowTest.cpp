// „Rejestrator pomiarów” on the simulated network, found by its object names
// and used as a technician would: refreshes, the values panel, pause, the
// file, the saved plot, and the ways the window closes.

#include "link/Module1.h"
#include "measure/MeasureRecord.h"
#include "recorder/RecorderWindow.h"
#include "recorder/StripChart.h"
#include "recorder/TrendSeries.h"
#include "sim/SimCard.h"
#include "support/CountingErrors.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

namespace vardel {
namespace {

using test::CountingErrors;

class RecorderWindowTest : public ::testing::Test {
protected:
    RecorderWindowTest()
    {
        link.setErrorWindows(&errors);
        link.setCardClock(&card.cardClock());
        link.MeterModel = kModelKX3;
        link.MeterAddress = 2;
        link.BaudCode = 4;
        link.CardSetLink();
        window.setFileChooser([this](const QString&, const QStringList& filters, const QString& suggested) {
            offered << filters.join(u'|');
            suggestions << suggested;
            return chosen;
        });
        window.setConfirm([this](const QString&, const QString& text) {
            questions << text;
            return replace;
        });
        window.setWarn([this](const QString&, const QString& text) { warnings << text; });
    }
    template <class T> T* child(const char* name)
    {
        T* w = window.findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    void click(const char* name) { child<QPushButton>(name)->click(); }

    QTemporaryDir dir;
    SimCard card;
    Module1 link{card};
    CountingErrors errors;
    RecorderWindow window{link, dir.path()};
    QString chosen;
    bool replace = true;
    QStringList offered, suggestions, questions, warnings;
};

TEST_F(RecorderWindowTest, OpensRefreshingTheSelectedMetersValues)
{
    window.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Rejestrator pomiarów"));
    EXPECT_EQ(QApplication::focusWidget(), child<QPushButton>("Pause"));
    EXPECT_TRUE(window.isRunning());
    EXPECT_EQ(window.timer().interval(), 1000);
    QTRY_COMPARE(window.recorder().store().size(), 1u); // the first values at once
    window.refresh();
    window.refresh();

    // The KX-3's six values, each with its current number and statistics.
    for (int box : {1, 2, 3, 4, 5, 7}) {
        SCOPED_TRACE(box);
        EXPECT_TRUE(child<QCheckBox>(qPrintable(QStringLiteral("Show%1").arg(box)))->isVisible());
        for (const char* what : {"Value", "Min", "Max", "Mean", "Std"})
            EXPECT_FALSE(text(qPrintable(QStringLiteral("%1%2").arg(QLatin1String(what)).arg(box))).isEmpty()) << what;
    }
    for (int box : {6, 8, 9, 10})
        EXPECT_FALSE(child<QCheckBox>(qPrintable(QStringLiteral("Show%1").arg(box)))->isVisible()) << box;
    EXPECT_TRUE(text("Status").contains(QStringLiteral("KX-3, adres 2"))) << text("Status").toStdString();

    // A tick box takes its value off the plot; the span follows the choice.
    child<QCheckBox>("Show3")->click();
    EXPECT_EQ(window.chart()->plot().shown, (std::vector<bool>{true, true, false, true, true, true}));
    child<QComboBox>("Span")->setCurrentIndex(0);
    const TrendPlot minute = window.chart()->plot();
    EXPECT_EQ(minute.to - minute.from, 60000);
    child<QComboBox>("Span")->setCurrentIndex(3);
    const TrendPlot all = window.chart()->plot();
    const TrendStore& store = window.recorder().store();
    EXPECT_LE(all.from, store.time(0));
    EXPECT_EQ(all.to, store.time(store.size() - 1));
}

// „Odświeżanie co” takes seconds with a point or a comma, as `vardel-cli
// --interval` does; what it cannot take is refused in words, and the
// interval in force stays: nothing is rounded or clamped behind the user's back.
TEST_F(RecorderWindowTest, TheIntervalIsTakenAsTypedOrRefusedInWords)
{
    window.open();
    auto* interval = child<QLineEdit>("Interval");
    auto* note = child<QLabel>("IntervalNote");
    struct Case {
        const char* typed;
        int ms;            // the interval afterwards
        const char* shown; // the box afterwards
        const char* says;  // the note; empty when none
    };
    const Case cases[] = {
        {"0.5", 500, "0,5", ""},
        {"2,25", 2250, "2,25", ""},
        {"5000", 2250, "2,25", "5000 s jest poza zakresem"},
        {"3600", 3600000, "3600", ""},
        {"0,05", 3600000, "3600", "0,05 s jest poza zakresem"},
        {"1,2345", 3600000, "3600", "nie jest liczbą sekund"},
        {" 10 s", 10000, "10", ""},
        {"0,1", 100, "0,1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        interval->setText(QString::fromUtf8(c.typed));
        emit interval->editingFinished();
        EXPECT_EQ(window.timer().interval(), c.ms);
        EXPECT_EQ(interval->text(), QString::fromUtf8(c.shown));
        EXPECT_EQ(note->isVisibleTo(&window), *c.says != 0);
        if (*c.says) {
            EXPECT_TRUE(note->text().contains(QString::fromUtf8(c.says))) << note->text().toStdString();
            EXPECT_TRUE(note->text().contains(QStringLiteral("pozostaje co %1 s").arg(QString::fromUtf8(c.shown))))
                << note->text().toStdString();
        }
    }
}

TEST_F(RecorderWindowTest, PauseGoesOnAndAFailedExchangeIsAGapNotAnEnd)
{
    window.open();
    QTRY_COMPARE(window.recorder().store().size(), 1u);
    click("Pause");
    EXPECT_FALSE(window.isRunning());
    EXPECT_EQ(child<QPushButton>("Pause")->text(), QStringLiteral("Wznów"));
    EXPECT_EQ(window.recorder().store().kind(1), SampleKind::Break);
    click("Pause");
    EXPECT_TRUE(window.isRunning());
    EXPECT_EQ(child<QPushButton>("Pause")->text(), QStringLiteral("Wstrzymaj"));
    EXPECT_EQ(window.recorder().store().size(), 3u) << "going on refreshes at once";

    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    window.refresh();
    window.refresh();
    EXPECT_TRUE(window.isRunning());
    EXPECT_EQ(errors.receive, 1);
    EXPECT_TRUE(text("Status").contains(QStringLiteral("przerwa w wykresie"))) << text("Status").toStdString();
    // The last good values stay, said to be old, to the eye and to a screen reader.
    EXPECT_FALSE(text("Value1").isEmpty());
    EXPECT_TRUE(text("CurrentHead").endsWith(QStringLiteral("(stare)"))) << text("CurrentHead").toStdString();
    EXPECT_TRUE(child<QLabel>("Value1")->accessibleName().contains(QStringLiteral("stara")));
    card.clearFaults();
    window.refresh();
    EXPECT_EQ(text("CurrentHead"), QStringLiteral("Bieżąca"));
    const QString name = child<QLabel>("Value1")->accessibleName();
    EXPECT_TRUE(name.startsWith(QStringLiteral("Pomiar Nr 1, bieżąca: "))) << name.toStdString();
    EXPECT_TRUE(name.endsWith(text("Value1"))) << name.toStdString();
    EXPECT_TRUE(child<QLabel>("Std1")->accessibleName().endsWith(text("Std1")));

    // A refresh skipped while another exchange holds the link is said so.
    {
        const Module1::Busy busy(link);
        window.refresh();
    }
    EXPECT_EQ(window.recorder().store().kind(window.recorder().store().size() - 1), SampleKind::Skipped);
    EXPECT_TRUE(text("Status").contains(QStringLiteral("pominięte"))) << text("Status").toStdString();
}

// At 1200 baud one KX-4 refresh takes 0,62 s of wire and meter time: a
// shorter interval is refused naming what the wire allows, and one the link
// can no longer keep after the baud rate changed is lengthened, in words.
TEST_F(RecorderWindowTest, AnIntervalTheWireCannotKeepIsRefusedOrLengthenedInWords)
{
    link.MeterModel = kModelKX4;
    link.MeterAddress = 3;
    window.open();
    auto* interval = child<QLineEdit>("Interval");
    auto* note = child<QLabel>("IntervalNote");
    interval->setText(QStringLiteral("0,1"));
    emit interval->editingFinished();
    EXPECT_EQ(window.timer().interval(), 100) << "19200 baud keeps 0,1 s";

    link.BaudCode = 0;
    window.refresh();
    EXPECT_EQ(window.timer().interval(), 620);
    EXPECT_EQ(interval->text(), QStringLiteral("0,62"));
    ASSERT_TRUE(note->isVisibleTo(&window));
    EXPECT_TRUE(note->text().contains(QStringLiteral("przy 1200 bodach"))) << note->text().toStdString();
    EXPECT_TRUE(note->text().contains(QStringLiteral("wydłużono do 0,62 s"))) << note->text().toStdString();

    link.setResponseTime(std::chrono::milliseconds(500));
    for (const char* typed : {"0,62", "1"}) {
        SCOPED_TRACE(typed);
        interval->setText(QString::fromLatin1(typed));
        emit interval->editingFinished();
        EXPECT_EQ(window.timer().interval(), 620);
        EXPECT_TRUE(note->text().contains(QStringLiteral("czasie odpowiedzi miernika 500 ms")));
        EXPECT_TRUE(note->text().contains(QStringLiteral("Najkrótszy możliwy odstęp to 1,19 s. Odświeżanie "
                                                         "pozostaje co 0,62 s.")))
            << note->text().toStdString();
    }
    interval->setText(QStringLiteral("1,19"));
    emit interval->editingFinished();
    EXPECT_EQ(window.timer().interval(), 1190);
    EXPECT_FALSE(note->isVisibleTo(&window));
}

// A tick that falls due while the last refresh still held the link (a meter
// that does not answer keeps it for the whole reply wait, longer than 0,1 s)
// is marked as skipped and never run behind it; the one after refreshes.
TEST_F(RecorderWindowTest, ATickDueDuringTheLastRefreshIsSkippedNotQueued)
{
    window.open();
    QTRY_COMPARE(window.recorder().store().size(), 1u);
    auto* interval = child<QLineEdit>("Interval");
    interval->setText(QStringLiteral("0,1"));
    emit interval->editingFinished();
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    window.refresh();
    const TrendStore& store = window.recorder().store();
    EXPECT_EQ(store.kind(store.size() - 1), SampleKind::Failed);
    window.refresh();
    EXPECT_EQ(store.kind(store.size() - 1), SampleKind::Skipped);
    EXPECT_TRUE(text("Status").contains(QStringLiteral("poprzednie jeszcze trwało"))) << text("Status").toStdString();
    card.clearFaults();
    window.refresh();
    EXPECT_EQ(store.kind(store.size() - 1), SampleKind::Values);
    EXPECT_EQ(window.timer().interval(), 100);
}

// Another meter chosen in the main window keeps the plot and the file; the
// recorder asks, in a bar that stays until answered, whether to record it too.
TEST_F(RecorderWindowTest, AnotherMeterInTheMainWindowIsAskedForAndNothingIsWiped)
{
    window.open();
    QTRY_COMPARE(window.recorder().store().size(), 1u);
    chosen = dir.filePath(QStringLiteral("kx3.csv"));
    click("Record");
    link.MeterModel = kModelKX4;
    link.MeterAddress = 3;
    for (int i = 0; i < 3; ++i)
        window.refresh();
    EXPECT_TRUE(child<QWidget>("Offer")->isVisible());
    EXPECT_TRUE(text("OfferText").contains(QStringLiteral("wybrano miernik KX-4, adres 3. Rejestrator nadal zapisuje "
                                                          "KX-3, adres 2;")))
        << text("OfferText").toStdString();
    EXPECT_EQ(window.recorder().store().size(), 4u);
    EXPECT_TRUE(window.recorder().file().isRecording());

    click("OfferAdd");
    EXPECT_FALSE(child<QWidget>("Offer")->isVisible());
    auto* meters = child<QComboBox>("Meter");
    ASSERT_EQ(meters->count(), 2);
    EXPECT_EQ(meters->itemText(1), QStringLiteral("KX-4, adres 3"));
    EXPECT_EQ(meters->currentIndex(), 1) << "the new meter is shown";
    window.refresh();
    EXPECT_TRUE(child<QCheckBox>("Show10")->isVisible());
    EXPECT_FALSE(text("Value10").isEmpty());
    EXPECT_EQ(window.recorder().meter(0).store.size(), 5u);

    click("RemoveMeter");
    EXPECT_EQ(meters->count(), 1);
    EXPECT_FALSE(child<QPushButton>("RemoveMeter")->isEnabled());
    EXPECT_TRUE(window.recorder().file().isRecording()) << "the KX-3's file goes on";
}

// On 1024 x 768 at 125 % (819 x 614 logical pixels, less the frame) nothing
// scrolls sideways: the plot's right end, the newest values, and the buttons
// stay in view, the KX-4's ten values included.
TEST_F(RecorderWindowTest, FitsASmallScaledScreenWithoutScrollingSideways)
{
    link.MeterModel = kModelKX4;
    link.MeterAddress = 3;
    window.open();
    window.refresh();
    window.resize(819, 580);
    QTest::qWait(0);
    auto* area = child<QScrollArea>("Contents");
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
    EXPECT_LE(area->widget()->width(), area->viewport()->width());
    for (const char* name : {"Chart", "Close", "Pause", "Record", "SavePlot"}) {
        SCOPED_TRACE(name);
        const QWidget* w = child<QWidget>(name);
        const QRect inViewport(w->mapTo(area->viewport(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(area->viewport()->rect().contains(inViewport)) << inViewport.x() << "," << inViewport.y() << " "
                                                                  << inViewport.width() << "x" << inViewport.height();
    }
}


// „Zapisz do pliku…”: the file takes the command line's CSV lines, the window
// names it and counts its rows; „Zakończ zapis” and closing the window end it
// with its last whole line.
TEST_F(RecorderWindowTest, RecordsEveryRefreshIntoAFileItNames)
{
    window.open();
    QTRY_COMPARE(window.recorder().store().size(), 1u);
    chosen = dir.filePath(QStringLiteral("pomiary.csv"));
    click("Record");
    ASSERT_EQ(offered, QStringList{QStringLiteral("Pliki CSV (*.csv)")});
    EXPECT_TRUE(suggestions[0].startsWith(QStringLiteral("pomiary-KX3-adres2-")));
    EXPECT_TRUE(suggestions[0].endsWith(QStringLiteral(".csv")));
    window.refresh();
    window.refresh();
    EXPECT_EQ(text("RecordFile"), QStringLiteral("%1 — wierszy: 2").arg(chosen));
    EXPECT_TRUE(child<QPushButton>("StopRecord")->isEnabled());
    QStringList lines = QString::fromUtf8(test::readBytes(chosen)).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], recorderHeaderLine(kModelKX3));

    click("StopRecord");
    window.refresh();
    EXPECT_FALSE(child<QPushButton>("StopRecord")->isEnabled());
    EXPECT_TRUE(text("RecordFile").startsWith(QStringLiteral("Zakończono: ")));
    EXPECT_EQ(QString::fromUtf8(test::readBytes(chosen)).count(QLatin1Char('\n')), 3);

    // An existing file is replaced only after a "Tak"; "Nie" records nothing.
    replace = false;
    click("Record");
    EXPECT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("już istnieje"))) << questions[0].toStdString();
    EXPECT_FALSE(window.recorder().file().isRecording());
    replace = true;
    click("Record");
    ASSERT_TRUE(window.recorder().file().isRecording());
    window.refresh();

    // Closing by the frame stops the refreshes and ends the file.
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.isRunning());
    EXPECT_FALSE(window.recorder().file().isRecording());
    lines = QString::fromUtf8(test::readBytes(chosen)).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.last().isEmpty()) << "the file ends with a whole line";
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(RecorderWindowTest, SavesThePlotAsAPictureOfTheChosenKind)
{
    window.open();
    QTRY_COMPARE(window.recorder().store().size(), 1u);
    window.refresh();
    chosen = dir.filePath(QStringLiteral("wykres.png"));
    click("SavePlot");
    ASSERT_EQ(offered.size(), 1);
    EXPECT_EQ(offered[0], QStringLiteral("Obraz PNG (*.png)|Rysunek SVG (*.svg)|Dokument PDF (*.pdf)"));
    EXPECT_FALSE(QImage(chosen).isNull());
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u' ').toStdString();

    chosen = dir.filePath(QStringLiteral("wykres.txt"));
    click("SavePlot");
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("png, svg albo pdf")));
}

// Ten minutes of refreshes a second apart, on the recorder's own clock.
void fillTenMinutes(RecorderWindow& window)
{
    const QDateTime wall(QDate(2026, 12, 10), QTime(10, 0));
    for (qint64 ms = 1000; ms <= 600000; ms += 1000)
        window.recorder().tick(ms, wall.addMSecs(ms));
}

QPoint chartPoint(StripChart* chart, double share)
{
    const QRect box = trendPlotBox(chart->rect(), chart->fontMetrics());
    return {box.left() + static_cast<int>(share * box.width()), box.center().y()};
}

// Looking back while the refreshes go on: the wheel and a dragged band zoom,
// the keys move back in time, „Zatrzymaj wykres” holds the plot still, and
// „Na żywo” (or End) brings back the newest values. Two cursors give the
// time and each value's difference between them.
TEST_F(RecorderWindowTest, ZoomPanFreezeAndCursorsWhileRecordingGoesOn)
{
    window.open();
    window.resize(900, 700);
    fillTenMinutes(window);
    child<QComboBox>("Span")->setCurrentIndex(3);
    StripChart* chart = window.chart();
    auto plot = [&] { return chart->plot(); };
    EXPECT_EQ(plot().to, 600000);
    EXPECT_FALSE(child<QPushButton>("Live")->isEnabled());

    // The wheel zooms in around the time under the mouse.
    const qint64 before = plot().to - plot().from;
    const QPoint middle = chartPoint(chart, 0.5);
    const qint64 under = chart->timeAt(middle.x());
    QWheelEvent wheel(middle, chart->mapToGlobal(middle), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &wheel);
    EXPECT_NEAR(double(plot().to - plot().from), double(before) / 1.25, 2.0);
    EXPECT_NEAR(double(chart->timeAt(middle.x())), double(under), 1500.0);
    EXPECT_TRUE(child<QPushButton>("Live")->isEnabled());
    EXPECT_TRUE(text("Status").contains(QStringLiteral("Wykres zatrzymany"))) << text("Status").toStdString();

    // A band dragged from a quarter to a half of the plot becomes the plot.
    const QPoint a = chartPoint(chart, 0.25);
    const QPoint b = chartPoint(chart, 0.5);
    const qint64 ta = chart->timeAt(a.x());
    const qint64 tb = chart->timeAt(b.x());
    QTest::mousePress(chart, Qt::LeftButton, {}, a);
    QTest::mouseMove(chart, b);
    QTest::mouseRelease(chart, Qt::LeftButton, {}, b);
    EXPECT_EQ(plot().from, ta);
    EXPECT_EQ(plot().to, tb);

    // Left goes back a quarter of the span; the refreshes go on meanwhile,
    // the held plot stays where it is.
    const TrendPlot held = plot();
    chart->setFocus();
    QTest::keyClick(chart, Qt::Key_Left);
    EXPECT_EQ(plot().from, held.from - (held.to - held.from) / 4);
    const TrendPlot back = plot();
    window.refresh();
    EXPECT_EQ(window.recorder().store().time(window.recorder().store().size() - 1), 600000)
        << "the clock never goes back";
    EXPECT_EQ(window.recorder().store().size(), 601u);
    EXPECT_EQ(plot().from, back.from);
    EXPECT_EQ(plot().to, back.to);

    // Cursor A by a click, B by a right click: the time between them and
    // each value's difference, as the store has them.
    const QPoint ca = chartPoint(chart, 0.2);
    const QPoint cb = chartPoint(chart, 0.8);
    QTest::mouseClick(chart, Qt::LeftButton, {}, ca);
    EXPECT_FALSE(child<QLabel>("Delta1")->isVisible());
    QTest::mouseClick(chart, Qt::RightButton, {}, cb);
    ASSERT_TRUE(plot().cursorA && plot().cursorB);
    const qint64 msA = *plot().cursorA;
    const qint64 msB = *plot().cursorB;
    EXPECT_EQ(msA, chart->timeAt(ca.x()));
    EXPECT_TRUE(text("CursorText").contains(QStringLiteral("B − A: "))) << text("CursorText").toStdString();
    const TrendStore& store = window.recorder().store();
    const double delta = double(trendValueAt(store, 0, msB)) - double(trendValueAt(store, 0, msA));
    EXPECT_TRUE(child<QLabel>("Delta1")->isVisible());
    EXPECT_EQ(text("Delta1"), trendNumberText(delta, window.locale()));
    click("ClearCursors");
    EXPECT_FALSE(plot().cursorA || plot().cursorB);

    // „Zatrzymaj wykres” holds the live plot; „Na żywo” follows again.
    click("Live");
    EXPECT_EQ(plot().to, 600000);
    click("Freeze");
    EXPECT_TRUE(child<QPushButton>("Live")->isEnabled());
    const TrendPlot frozen = plot();
    window.recorder().tick(700000, QDateTime::currentDateTime());
    window.refresh();
    EXPECT_EQ(plot().to, frozen.to);
    QTest::keyClick(chart, Qt::Key_End);
    EXPECT_EQ(plot().to, window.recorder().store().time(window.recorder().store().size() - 1));
}

// The value axis: common, each value on its own, or a range typed in; a
// range that cannot be is refused in words and the one in force stays.
TEST_F(RecorderWindowTest, TheValueAxisIsCommonPerValueOrTypedIn)
{
    window.open();
    fillTenMinutes(window);
    auto* scale = child<QComboBox>("Scale");
    auto* low = child<QLineEdit>("ScaleLow");
    auto* high = child<QLineEdit>("ScaleHigh");
    EXPECT_FALSE(low->isEnabled());
    scale->setCurrentIndex(1);
    EXPECT_EQ(window.chart()->plot().scale, TrendScale::PerValue);

    scale->setCurrentIndex(2);
    EXPECT_TRUE(low->isEnabled());
    EXPECT_FALSE(low->text().isEmpty()) << "starts from what the plot shows";
    EXPECT_EQ(window.chart()->plot().scale, TrendScale::Manual);
    struct Case {
        const char* low;
        const char* high;
        double wantLow, wantHigh;
        const char* says;
    };
    const Case cases[] = {
        {"-5,5", "20.25", -5.5, 20.25, ""},
        {"10", "5", -5.5, 20.25, "musi być mniejsza"},
        {"zero", "5", -5.5, 20.25, "nie jest liczbą"},
        {"0", "1e3", 0, 1000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.low);
        low->setText(QString::fromUtf8(c.low));
        high->setText(QString::fromUtf8(c.high));
        emit high->editingFinished();
        EXPECT_EQ(window.chart()->plot().low, c.wantLow);
        EXPECT_EQ(window.chart()->plot().high, c.wantHigh);
        EXPECT_EQ(child<QLabel>("ScaleNote")->isVisibleTo(&window), *c.says != 0);
        if (*c.says) {
            EXPECT_TRUE(text("ScaleNote").contains(QString::fromUtf8(c.says))) << text("ScaleNote").toStdString();
        }
    }
}

// A saved recording opens again in the same window, beside the live meters,
// read-only: its values, failed and skipped refreshes as they were recorded.
TEST_F(RecorderWindowTest, ASavedRecordingOpensForReviewReadOnly)
{
    window.open();
    QTRY_COMPARE(window.recorder().store().size(), 1u);
    chosen = dir.filePath(QStringLiteral("pomiary.csv"));
    click("Record");
    window.refresh();
    ASSERT_TRUE(card.setFault(QStringLiteral("no-meter")));
    window.refresh();
    card.clearFaults();
    {
        const Module1::Busy busy(link);
        window.refresh();
    }
    window.refresh();
    click("StopRecord");
    const std::vector<float> last = window.recorder().latest();

    QString opened = chosen;
    window.setOpenChooser([&](const QString&, const QStringList&, const QString&) { return opened; });
    click("OpenRecording");
    ASSERT_TRUE(warnings.isEmpty()) << warnings.join(u' ').toStdString();
    auto* meters = child<QComboBox>("Meter");
    ASSERT_EQ(meters->count(), 2);
    EXPECT_EQ(meters->currentText(), QStringLiteral("Plik pomiary.csv (przegląd)"));
    EXPECT_TRUE(text("Status").contains(QStringLiteral("tylko do odczytu"))) << text("Status").toStdString();
    EXPECT_FALSE(child<QPushButton>("Record")->isEnabled());
    const TrendStore& reviewed = window.recorder().store();
    const SampleKind kinds[] = {SampleKind::Values, SampleKind::Failed, SampleKind::Skipped, SampleKind::Values};
    ASSERT_EQ(reviewed.size(), std::size(kinds));
    for (std::size_t i = 0; i < std::size(kinds); ++i)
        EXPECT_EQ(reviewed.kind(i), kinds[i]) << i;
    for (int c = 0; c < reviewed.channels(); ++c)
        EXPECT_FLOAT_EQ(reviewed.value(3, c), last[static_cast<std::size_t>(c)]) << c;
    window.refresh();
    EXPECT_EQ(reviewed.size(), std::size(kinds)) << "a file under review takes no refreshes";
    EXPECT_EQ(window.recorder().meter(0).store.size(), 6u) << "the live meter goes on";

    // Not a recording: said so, nothing opened.
    opened = dir.filePath(QStringLiteral("inny.csv"));
    test::writeBytes(opened, "Czas;Temperatura\n2026-12-10T10:00:00.000+01:00;1.5\n");
    click("OpenRecording");
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(QStringLiteral("Nie można wczytać pliku"))) << warnings[0].toStdString();
    EXPECT_EQ(meters->count(), 2);
}

// Escape and „Zamknij” close as the frame does; the plot stays for the next
// opening, which goes on after a break.
TEST_F(RecorderWindowTest, EscapeAndZamknijStopTheRefreshesAndKeepThePlot)
{
    for (const char* how : {"Escape", "Zamknij"}) {
        SCOPED_TRACE(how);
        window.open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        window.refresh();
        const std::size_t kept = window.recorder().store().size();
        if (QLatin1String(how) == QLatin1String("Escape"))
            QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
        else
            click("Close");
        EXPECT_FALSE(window.isVisible());
        EXPECT_FALSE(window.isRunning());
        EXPECT_GE(window.recorder().store().size(), kept);
    }
}

} // namespace
} // namespace vardel
