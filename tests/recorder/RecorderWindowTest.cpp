// „Rejestrator pomiarów” on the simulated network, found by its object names
// and used as a technician would: refreshes, the values panel, pause, the
// file, the saved plot, and the ways the window closes.

#include "link/Module1.h"
#include "measure/MeasureRecord.h"
#include "recorder/RecorderWindow.h"
#include "recorder/StripChart.h"
#include "sim/SimCard.h"
#include "support/CountingErrors.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

    // The interval: 0,1 s to an hour.
    auto* interval = child<QDoubleSpinBox>("Interval");
    interval->setValue(0.05);
    EXPECT_EQ(window.timer().interval(), 100);
    interval->setValue(5000);
    EXPECT_EQ(window.timer().interval(), 3600000);
    interval->setValue(2.5);
    EXPECT_EQ(window.timer().interval(), 2500);
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
    EXPECT_TRUE(text("Value1").isEmpty() == false) << "the last values stay";
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
    EXPECT_EQ(lines[0], measureHeaderLine(OutputFormat::Csv, kModelKX3));

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
