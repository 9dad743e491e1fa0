#pragma once

#include "recorder/Recorder.h"
#include "recorder/TrendPainter.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace vardel {

class Module1;
class StripChart;

// „Rejestrator pomiarów”: the live trend of the values the test window shows,
// for the meter selected in the main window, refreshed at the interval the
// user sets. Each value has its colour, its current number, a tick box to
// show or hide it and its statistics over what the plot shows. The refreshes
// can be paused, recorded into a CSV file, and the plot saved as a picture.
// Closing the window (frame, „Zamknij”, Escape) stops the refreshes and ends
// a file recording; the plot stays for the next opening.
class RecorderWindow : public QWidget {
    Q_OBJECT
public:
    // startFolder: where the file dialogs open.
    RecorderWindow(Module1& link, QString startFolder, QWidget* parent = nullptr);
    ~RecorderWindow() override;

    // "Rejestrator" of the main window: shown, raised, and refreshing.
    void open();
    // Refreshes stopped and a file recording ended, whole; the window hides.
    void stop();
    // One refresh, as the timer makes it.
    void refresh();

    bool isRunning() const;
    Recorder& recorder() { return m_recorder; }
    QTimer& timer() { return *m_timer; }
    StripChart* chart() const { return m_chart; }

    // Replaceable for tests: the file dialog (the chosen file, or empty for a
    // cancel), the question before replacing a file, a warning.
    using FileChooser = std::function<QString(const QString& title, const QStringList& filters,
                                              const QString& suggested)>;
    using Confirm = std::function<bool(const QString& title, const QString& text)>;
    using Warn = std::function<void(const QString& title, const QString& text)>;
    void setFileChooser(FileChooser chooser) { m_choose = std::move(chooser); }
    // The dialog that picks a recording to open (the chosen file, or empty).
    void setOpenChooser(FileChooser chooser) { m_chooseOpen = std::move(chooser); }
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
    void setWarn(Warn warn) { m_warn = std::move(warn); }

    // Times shown: the last minute, 10 minutes, the hour, everything kept.
    static constexpr std::array<qint64, 4> kSpans{60000, 600000, 3600000, 0};

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    void pauseOrGoOn();
    void clearPlot();
    void recordToFile();
    void endFileRecording();
    void savePlot();
    void showState();   // panel, plot and buttons from the recorder
    void showMeter();   // which value rows the model has
    void showMeters();  // the list of meters recorded
    void showOffer();   // another meter selected in the main window
    void takeInterval();
    int shortestInterval() const; // ms the wire needs for one refresh
    QString modelsText() const;   // "KX-4, KX-2": the meters one refresh reads
    void keepUpWithWire();        // lengthens an interval the wire cannot keep
    void takeScale();
    void showView();    // live or held, cursors, scale
    void setView(qint64 from, qint64 to);
    // The newest span again; the cursors go too unless kept (same clock).
    void goLive(bool keepCursors = false);
    void openRecording();
    QString chooseOpen(const QString& title, const QStringList& filters);
    TrendPlot currentPlot() const;
    QString chooseFile(const QString& title, const QStringList& filters, const QString& suggested);
    QString suggestedName(const QString& stem, const QString& suffix) const;
    bool mayReplace(const QString& title, const QString& path);

    Module1& m_link;
    Recorder m_recorder;
    QString m_startFolder;
    QElapsedTimer m_clock;
    QTimer* m_timer = nullptr;
    bool m_paused = false;
    bool m_overran = false; // the last refresh outlasted the interval
    QString m_note; // what the last refresh had to say

    QLineEdit* m_interval = nullptr;
    QLabel* m_intervalNote = nullptr;
    QComboBox* m_span = nullptr;
    QComboBox* m_meter = nullptr;
    QPushButton* m_removeMeter = nullptr;
    QWidget* m_offer = nullptr;
    QLabel* m_offerText = nullptr;
    QLabel* m_currentHead = nullptr;
    QPushButton* m_freeze = nullptr;
    QPushButton* m_live = nullptr;
    QComboBox* m_scale = nullptr;
    QLineEdit* m_scaleLow = nullptr;
    QLineEdit* m_scaleHigh = nullptr;
    QLabel* m_scaleNote = nullptr;
    QPushButton* m_clearCursors = nullptr;
    QLabel* m_cursorText = nullptr;
    QLabel* m_deltaHead = nullptr;
    QPushButton* m_openRecording = nullptr;

    // What the plot shows: the newest span (live), or a span held still
    // (zoomed, moved back, or frozen) while the refreshes go on.
    bool m_isLive = true;
    qint64 m_viewFrom = 0;
    qint64 m_viewTo = 0;
    std::optional<qint64> m_cursorA;
    std::optional<qint64> m_cursorB;
    TrendScale m_scaleKind = TrendScale::Common;
    double m_low = 0.0;
    double m_high = 1.0;
    QPushButton* m_pause = nullptr;
    QPushButton* m_clear = nullptr;
    StripChart* m_chart = nullptr;
    struct Row {
        QCheckBox* show = nullptr;
        QLabel* value = nullptr;
        QLabel* min = nullptr;
        QLabel* max = nullptr;
        QLabel* mean = nullptr;
        QLabel* stddev = nullptr;
        QLabel* delta = nullptr; // B − A
    };
    std::array<Row, 11> m_rows{}; // by box number 1..10
    QPushButton* m_record = nullptr;
    QPushButton* m_stopRecord = nullptr;
    QLabel* m_file = nullptr;
    QPushButton* m_savePlot = nullptr;
    QPushButton* m_close = nullptr;
    QLabel* m_status = nullptr;

    FileChooser m_choose;
    FileChooser m_chooseOpen;
    Confirm m_confirm;
    Warn m_warn;
};

// The colour of each value (box 1..10), told apart also by readers who do
// not see red from green.
QColor trendColourOf(int box);

} // namespace vardel
