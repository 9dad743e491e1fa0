#include "recorder/RecorderWindow.h"

#include "files/ConfigFileDialogs.h"
#include "link/Module1.h"
#include "link/ShowNow.h"
#include "link/WindowHabits.h"
#include "measure/MeasureInterval.h"
#include "measure/MeasureValues.h"
#include "recorder/CsvReview.h"
#include "recorder/StripChart.h"
#include "recorder/TrendExport.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <span>

namespace vardel {

namespace {

const QString kTitle = QStringLiteral("Rejestrator pomiarów");
constexpr int kLeastIntervalMs = 100;
constexpr int kMostIntervalMs = 3600 * 1000;

QString meterText(std::int16_t model, std::int16_t address)
{
    return QStringLiteral("%1, adres %2").arg(modelNameOf(model)).arg(address);
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(caption);
    return b;
}

QLabel* number(QWidget* parent, const QString& name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for any number of seven digits, so that the columns keep their
    // width while the values change.
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("-1,234567E-05")));
    return l;
}

// A time difference as people read it: "12,3 s", "2 min 17,7 s", "3 h 02 min 17 s".
QString durationText(qint64 ms, const QLocale& locale)
{
    const qint64 a = std::abs(ms);
    const QString sign = ms < 0 ? QStringLiteral("−") : QString();
    if (a < 60000)
        return sign + locale.toString(static_cast<double>(a) / 1000.0, 'f', 1) + QStringLiteral(" s");
    if (a < 3600000)
        return sign + QStringLiteral("%1 min %2 s").arg(a / 60000).arg(locale.toString(static_cast<double>(a % 60000) / 1000.0, 'f', 1));
    return sign + QStringLiteral("%1 h %2 min %3 s").arg(a / 3600000).arg((a / 60000) % 60, 2, 10, QLatin1Char('0')).arg((a / 1000) % 60);
}

QIcon swatch(const QColor& colour)
{
    QPixmap p(14, 14);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.fillRect(QRect(1, 5, 12, 4), colour);
    return QIcon(p);
}

} // namespace

QColor trendColourOf(int box)
{
    static const QColor colours[] = {
        QColor(0, 114, 178),  QColor(213, 94, 0),   QColor(0, 158, 115), QColor(230, 159, 0),
        QColor(204, 121, 167), QColor(86, 180, 233), QColor(0, 0, 0),     QColor(140, 109, 0),
        QColor(127, 60, 141),  QColor(160, 82, 45),
    };
    return box >= 1 && box <= 10 ? colours[box - 1] : QColor(Qt::black);
}

RecorderWindow::RecorderWindow(Module1& link, QString startFolder, QWidget* parent)
    : QWidget(parent, Qt::Window), m_link(link), m_recorder(link), m_startFolder(std::move(startFolder))
{
    setObjectName(QStringLiteral("RecorderWindow"));
    setWindowTitle(kTitle);
    m_clock.start();
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer"));
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { refresh(); });

    m_choose = [this](const QString& title, const QStringList& filters, const QString& suggested) {
        return chooseFile(title, filters, suggested);
    };
    m_chooseOpen = [this](const QString& title, const QStringList& filters, const QString&) {
        return chooseOpen(title, filters);
    };
    m_confirm = [this](const QString& title, const QString& text) {
        return ConfigFileDialogs::confirmWithMessageBox(this, title, text);
    };
    m_warn = [this](const QString& title, const QString& text) {
        // Not modal: the refreshes go on while the message waits for the user.
        auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    buildUi();
    keepWindowHabits(this, [this] { stop(); });
}

RecorderWindow::~RecorderWindow() = default;

void RecorderWindow::buildUi()
{
    QWidget* contents = scrollingContents(this);

    auto* intervalLabel = new QLabel(QStringLiteral("Odświeżanie co"), contents);
    m_interval = new QLineEdit(QStringLiteral("1"), contents);
    m_interval->setObjectName(QStringLiteral("Interval"));
    m_interval->setAccessibleName(QStringLiteral("Odświeżanie co, w sekundach"));
    m_interval->setToolTip(QStringLiteral("W sekundach, od 0,1 do 3600 (1 godzina); przecinek albo kropka"));
    m_interval->setMaximumWidth(m_interval->fontMetrics().horizontalAdvance(QStringLiteral("3600,000")) + 16);
    intervalLabel->setBuddy(m_interval);
    m_intervalNote = new QLabel(contents);
    m_intervalNote->setObjectName(QStringLiteral("IntervalNote"));
    m_intervalNote->setWordWrap(true);
    m_intervalNote->setStyleSheet(QStringLiteral("color: #b00000"));
    m_intervalNote->hide();

    auto* spanLabel = new QLabel(QStringLiteral("Oś czasu"), contents);
    m_span = new QComboBox(contents);
    m_span->setObjectName(QStringLiteral("Span"));
    m_span->setAccessibleName(spanLabel->text());
    m_span->addItems({QStringLiteral("Ostatnia minuta"), QStringLiteral("Ostatnie 10 minut"),
                      QStringLiteral("Ostatnia godzina"), QStringLiteral("Wszystko")});
    m_span->setCurrentIndex(1);
    spanLabel->setBuddy(m_span);

    auto* meterLabel = new QLabel(QStringLiteral("Miernik"), contents);
    m_meter = new QComboBox(contents);
    m_meter->setObjectName(QStringLiteral("Meter"));
    m_meter->setAccessibleName(meterLabel->text());
    m_meter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    meterLabel->setBuddy(m_meter);
    m_removeMeter = button(contents, "RemoveMeter", QStringLiteral("Usuń z rejestratora"));

    m_pause = button(contents, "Pause", QStringLiteral("Wstrzymaj"));
    m_clear = button(contents, "Clear", QStringLiteral("Wyczyść"));

    // Two short rows rather than one long one: the window fits 1024 x 768 at
    // 125 % without scrolling sideways.
    auto* top = new QHBoxLayout;
    top->addWidget(intervalLabel);
    top->addWidget(m_interval);
    top->addWidget(new QLabel(QStringLiteral("s"), contents));
    top->addSpacing(12);
    top->addWidget(spanLabel);
    top->addWidget(m_span);
    top->addSpacing(12);
    top->addWidget(meterLabel);
    top->addWidget(m_meter);
    top->addWidget(m_removeMeter);
    top->addStretch();

    // A meter selected in the main window while others are recorded: asked
    // here, without a modal question, until the user answers.
    m_offer = new QFrame(contents);
    m_offer->setObjectName(QStringLiteral("Offer"));
    m_offer->setStyleSheet(QStringLiteral("#Offer { background: #fff4c0; }"));
    m_offerText = new QLabel(m_offer);
    m_offerText->setObjectName(QStringLiteral("OfferText"));
    m_offerText->setWordWrap(true);
    auto* offerAdd = button(m_offer, "OfferAdd", QStringLiteral("Rejestruj także ten miernik"));
    auto* offerDecline = button(m_offer, "OfferDecline", QStringLiteral("Nie rejestruj"));
    auto* offerRow = new QHBoxLayout(m_offer);
    offerRow->addWidget(m_offerText, 1);
    offerRow->addWidget(offerAdd);
    offerRow->addWidget(offerDecline);
    m_offer->hide();

    m_record = button(contents, "Record", QStringLiteral("Zapisz do pliku…"));
    m_stopRecord = button(contents, "StopRecord", QStringLiteral("Zakończ zapis"));
    m_openRecording = button(contents, "OpenRecording", QStringLiteral("Otwórz zapis…"));
    m_savePlot = button(contents, "SavePlot", QStringLiteral("Zapisz wykres…"));
    m_close = button(contents, "Close", QStringLiteral("Zamknij"));
    auto* actions = new QHBoxLayout;
    actions->addWidget(m_pause);
    actions->addWidget(m_clear);
    actions->addSpacing(12);
    actions->addWidget(m_record);
    actions->addWidget(m_stopRecord);
    actions->addWidget(m_openRecording);
    actions->addWidget(m_savePlot);
    actions->addStretch();
    actions->addWidget(m_close);

    // How the plot is looked at: held or live, the value axis, the cursors.
    m_freeze = button(contents, "Freeze", QStringLiteral("Zatrzymaj wykres"));
    m_freeze->setToolTip(QStringLiteral("Wykres stoi, rejestracja trwa"));
    m_live = button(contents, "Live", QStringLiteral("Na żywo"));
    m_live->setToolTip(QStringLiteral("Z powrotem do najnowszych wartości (End na wykresie)"));
    auto* scaleLabel = new QLabel(QStringLiteral("Skala Y"), contents);
    m_scale = new QComboBox(contents);
    m_scale->setObjectName(QStringLiteral("Scale"));
    m_scale->setAccessibleName(scaleLabel->text());
    m_scale->addItems({QStringLiteral("Wspólna"), QStringLiteral("Każda osobno (%)"), QStringLiteral("Ręczna")});
    scaleLabel->setBuddy(m_scale);
    m_scaleLow = new QLineEdit(contents);
    m_scaleLow->setObjectName(QStringLiteral("ScaleLow"));
    m_scaleLow->setAccessibleName(QStringLiteral("Skala Y od"));
    m_scaleHigh = new QLineEdit(contents);
    m_scaleHigh->setObjectName(QStringLiteral("ScaleHigh"));
    m_scaleHigh->setAccessibleName(QStringLiteral("Skala Y do"));
    for (QLineEdit* e : {m_scaleLow, m_scaleHigh}) {
        e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("-1,234567E+05")));
        e->setEnabled(false); // for the manual scale only
    }
    m_clearCursors = button(contents, "ClearCursors", QStringLiteral("Usuń kursory"));
    m_clearCursors->setToolTip(QStringLiteral("Kursor A: kliknięcie na wykresie, kursor B: prawy przycisk"));
    auto* view = new QHBoxLayout;
    view->addWidget(m_freeze);
    view->addWidget(m_live);
    view->addSpacing(12);
    view->addWidget(scaleLabel);
    view->addWidget(m_scale);
    view->addWidget(new QLabel(QStringLiteral("od"), contents));
    view->addWidget(m_scaleLow);
    view->addWidget(new QLabel(QStringLiteral("do"), contents));
    view->addWidget(m_scaleHigh);
    view->addStretch();
    view->addWidget(m_clearCursors);
    m_scaleNote = new QLabel(contents);
    m_scaleNote->setObjectName(QStringLiteral("ScaleNote"));
    m_scaleNote->setWordWrap(true);
    m_scaleNote->setStyleSheet(QStringLiteral("color: #b00000"));
    m_scaleNote->hide();
    m_cursorText = new QLabel(contents);
    m_cursorText->setObjectName(QStringLiteral("CursorText"));
    m_cursorText->setWordWrap(true);
    m_cursorText->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_file = new QLabel(contents);
    m_file->setObjectName(QStringLiteral("RecordFile"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_file->setWordWrap(true);

    m_chart = new StripChart(contents);

    // Per value: its tick box with its colour, the current number and the
    // statistics over what the plot shows.
    auto* values = new QGroupBox(QStringLiteral("Wartości"), contents);
    values->setObjectName(QStringLiteral("Values"));
    auto* grid = new QGridLayout(values);
    const QStringList heads{QStringLiteral("Bieżąca"), QStringLiteral("Min"), QStringLiteral("Maks"),
                            QStringLiteral("Średnia"), QStringLiteral("Odch. std."), QStringLiteral("B − A")};
    for (int i = 0; i < heads.size(); ++i) {
        auto* head = new QLabel(heads[i], values);
        head->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont bold = head->font();
        bold.setBold(true);
        head->setFont(bold);
        grid->addWidget(head, 0, i + 1);
        if (i == 0) {
            head->setObjectName(QStringLiteral("CurrentHead"));
            m_currentHead = head;
        }
        if (i == 5) {
            head->setObjectName(QStringLiteral("DeltaHead"));
            m_deltaHead = head;
        }
    }
    for (int box = 1; box <= kMeasureBoxes; ++box) {
        const QString caption = measureCaptionOf(box).trimmed();
        Row& r = m_rows[static_cast<std::size_t>(box)];
        r.show = new QCheckBox(caption, values);
        r.show->setObjectName(QStringLiteral("Show%1").arg(box));
        r.show->setAccessibleName(caption);
        r.show->setIcon(swatch(trendColourOf(box)));
        r.show->setChecked(true);
        r.value = number(values, QStringLiteral("Value%1").arg(box));
        r.min = number(values, QStringLiteral("Min%1").arg(box));
        r.max = number(values, QStringLiteral("Max%1").arg(box));
        r.mean = number(values, QStringLiteral("Mean%1").arg(box));
        r.stddev = number(values, QStringLiteral("Std%1").arg(box));
        r.delta = number(values, QStringLiteral("Delta%1").arg(box));
        QFont strong = r.value->font();
        strong.setBold(true);
        r.value->setFont(strong);
        int column = 0;
        for (QWidget* w : {static_cast<QWidget*>(r.show), static_cast<QWidget*>(r.value),
                           static_cast<QWidget*>(r.min), static_cast<QWidget*>(r.max),
                           static_cast<QWidget*>(r.mean), static_cast<QWidget*>(r.stddev),
                           static_cast<QWidget*>(r.delta)})
            grid->addWidget(w, box, column++);
        connect(r.show, &QCheckBox::toggled, this, [this] { showState(); });
    }
    grid->setColumnStretch(7, 1);

    m_status = new QLabel(contents);
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setWordWrap(true);

    // The controls and buttons above the plot, so that they stay in view
    // when a small screen scrolls the values below it.
    auto* layout = new QVBoxLayout(contents);
    layout->addLayout(top);
    layout->addWidget(m_intervalNote);
    layout->addLayout(actions);
    layout->addWidget(m_offer);
    layout->addLayout(view);
    layout->addWidget(m_scaleNote);
    layout->addWidget(m_chart, 1);
    layout->addWidget(m_cursorText);
    layout->addWidget(m_status);
    layout->addWidget(m_file);
    layout->addWidget(values);
    resize(1000, 720);

    // Tab follows the screen; the window opens on "Wstrzymaj" all the same.
    QList<QWidget*> order{m_interval, m_span,       m_meter,     m_removeMeter, m_pause,    m_clear,
                          m_record,   m_stopRecord, m_openRecording, m_savePlot, m_close,   offerAdd,
                          offerDecline, m_freeze,  m_live,      m_scale,       m_scaleLow, m_scaleHigh,
                          m_clearCursors, m_chart};
    for (int box = 1; box <= kMeasureBoxes; ++box)
        order << m_rows[static_cast<std::size_t>(box)].show;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(m_interval, &QLineEdit::editingFinished, this, [this] { takeInterval(); });
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] { goLive(true); });
    connect(m_meter, &QComboBox::activated, this, [this](int i) {
        m_recorder.setCurrent(static_cast<std::size_t>(i));
        goLive(); // another meter's clock: its own newest values
    });
    connect(m_removeMeter, &QPushButton::clicked, this, [this] {
        m_recorder.removeMeter(m_recorder.current());
        goLive();
    });
    connect(m_freeze, &QPushButton::clicked, this, [this] {
        const TrendPlot now = currentPlot();
        setView(now.from, now.to);
    });
    connect(m_live, &QPushButton::clicked, this, [this] { goLive(true); });
    connect(m_chart, &StripChart::viewRequested, this, [this](qint64 from, qint64 to) { setView(from, to); });
    connect(m_chart, &StripChart::liveRequested, this, [this] { goLive(true); });
    connect(m_chart, &StripChart::cursorRequested, this, [this](int which, qint64 ms) {
        (which == 0 ? m_cursorA : m_cursorB) = ms;
        showState();
    });
    connect(m_clearCursors, &QPushButton::clicked, this, [this] {
        m_cursorA.reset();
        m_cursorB.reset();
        showState();
    });
    connect(m_scale, &QComboBox::currentIndexChanged, this, [this] { takeScale(); });
    connect(m_scaleLow, &QLineEdit::editingFinished, this, [this] { takeScale(); });
    connect(m_scaleHigh, &QLineEdit::editingFinished, this, [this] { takeScale(); });
    connect(m_openRecording, &QPushButton::clicked, this, [this] { openRecording(); });
    connect(offerAdd, &QPushButton::clicked, this, [this] {
        std::int16_t model = 0;
        std::int16_t address = 0;
        if (m_recorder.offered(&model, &address))
            m_recorder.setCurrent(m_recorder.addMeter(model, address));
        keepUpWithWire();
        showState();
    });
    connect(offerDecline, &QPushButton::clicked, this, [this] {
        std::int16_t model = 0;
        std::int16_t address = 0;
        if (m_recorder.offered(&model, &address))
            m_recorder.decline(model, address);
        showState();
    });
    connect(m_pause, &QPushButton::clicked, this, [this] { pauseOrGoOn(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { clearPlot(); });
    connect(m_record, &QPushButton::clicked, this, [this] { recordToFile(); });
    connect(m_stopRecord, &QPushButton::clicked, this, [this] { endFileRecording(); });
    connect(m_savePlot, &QPushButton::clicked, this, [this] { savePlot(); });
    connect(m_close, &QPushButton::clicked, this, [this] { stop(); });
    showState();
}

void RecorderWindow::takeInterval()
{
    const int now = m_timer->interval();
    QString text = m_interval->text().trimmed();
    if (text.endsWith(QLatin1Char('s')))
        text = text.chopped(1).trimmed();
    const auto ms = parseSeconds(text, 0, 1 << 30);
    QString problem;
    if (!ms)
        problem = QStringLiteral("„%1” nie jest liczbą sekund (np. 0,5 albo 2.25; co najwyżej trzy miejsca po przecinku).")
                      .arg(m_interval->text());
    else if (*ms < kLeastIntervalMs || *ms > kMostIntervalMs)
        problem = QStringLiteral("%1 s jest poza zakresem: od 0,1 s do 3600 s (1 godzina).").arg(secondsNumberText(*ms));
    else if (const int least = shortestInterval(); *ms < least)
        problem = QStringLiteral("Łącze nie nadąży z odświeżaniem co %1 s: %2 jedno odświeżenie (%3) trwa co najmniej "
                                 "%4 s. Najkrótszy możliwy odstęp to %4 s.")
                      .arg(secondsNumberText(*ms), wireConditionsText(m_link), modelsText(), secondsNumberText(least));
    if (!problem.isEmpty()) {
        // The interval in force stays, and the window says so.
        m_intervalNote->setText(problem + QStringLiteral(" Odświeżanie pozostaje co %1 s.").arg(secondsNumberText(now)));
        m_intervalNote->show();
        m_interval->setText(secondsNumberText(now));
        return;
    }
    m_intervalNote->hide();
    m_interval->setText(secondsNumberText(*ms));
    m_timer->setInterval(*ms);
}

int RecorderWindow::shortestInterval() const
{
    const std::vector<std::int16_t> models = m_recorder.liveModels();
    return std::max(kLeastIntervalMs, shortestRefreshMs(models, m_link.BaudCode, responseTimeInForce(m_link)));
}

QString RecorderWindow::modelsText() const
{
    QStringList names;
    for (const std::int16_t model : m_recorder.liveModels())
        names << modelNameOf(model);
    return names.join(QStringLiteral(", "));
}

void RecorderWindow::keepUpWithWire()
{
    // A slower baud rate, a longer response time or another meter since the
    // interval was chosen: the refreshes would overrun one another, so they
    // come less often, and the window says so until the user sets another.
    const int least = shortestInterval();
    const int now = m_timer->interval();
    if (now >= least)
        return;
    m_intervalNote->setText(QStringLiteral("Łącze nie nadąża z odświeżaniem co %1 s: %2 jedno odświeżenie (%3) trwa co "
                                           "najmniej %4 s. Odświeżanie wydłużono do %4 s.")
                                .arg(secondsNumberText(now), wireConditionsText(m_link), modelsText(),
                                     secondsNumberText(least)));
    m_intervalNote->show();
    m_interval->setText(secondsNumberText(least));
    m_timer->setInterval(least);
}

bool RecorderWindow::isRunning() const
{
    return m_timer->isActive();
}

void RecorderWindow::open()
{
    bringBack(this);
    m_pause->setFocus();
    if (isRunning() || m_paused) {
        showState();
        return;
    }
    keepUpWithWire();
    m_timer->start();
    // The first values at once, not an interval later.
    QTimer::singleShot(0, this, [this] {
        if (isRunning())
            refresh();
    });
}

void RecorderWindow::stop()
{
    m_timer->stop();
    m_paused = false;
    m_overran = false;
    m_recorder.markBreak(m_clock.elapsed());
    m_recorder.stopFiles();
    m_pause->setText(QStringLiteral("Wstrzymaj"));
    m_pause->setAccessibleName(m_pause->text());
    hide();
    showState();
}

void RecorderWindow::closeEvent(QCloseEvent* event)
{
    // Closing by the frame is "Zamknij": the refreshes stop with the window.
    stop();
    event->accept();
}

void RecorderWindow::refresh()
{
    keepUpWithWire();
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    Recorder::Tick t;
    if (m_overran) {
        // This tick fell due while the last refresh still held the link (a
        // meter that did not answer keeps it for the whole reply wait): it
        // is marked as skipped, never queued behind it.
        m_overran = false;
        t.fileError = m_recorder.skip(m_clock.elapsed(), QDateTime::currentDateTime());
        m_note = QStringLiteral("%1: odświeżenie pominięte — poprzednie jeszcze trwało (szary pas na wykresie).")
                     .arg(time);
    } else {
        // Measured on the card's clock: the wire's time, whatever the PC did meanwhile.
        const auto started = m_link.cardClock().cardTime();
        t = m_recorder.tick(m_clock.elapsed(), QDateTime::currentDateTime());
        m_overran = t.outcome != Recorder::Outcome::Skipped && overran(m_link, started, m_timer->interval());
        if (t.outcome == Recorder::Outcome::Skipped) {
            m_note = QStringLiteral("%1: odświeżenie pominięte — łącze zajmowała inna wymiana (szary pas na wykresie).")
                         .arg(time);
        } else if (t.outcome == Recorder::Outcome::Failed) {
            QStringList meters;
            for (std::size_t i : t.failed)
                meters << meterText(m_recorder.meter(i).model, m_recorder.meter(i).address);
            m_note = QStringLiteral("%1: wymiana z miernikiem %2 nie powiodła się — przerwa w wykresie.")
                         .arg(time, meters.join(QStringLiteral(", ")));
        } else {
            m_note = QStringLiteral("Ostatni odczyt: %1").arg(time);
        }
    }
    showState();
    if (!t.fileError.isEmpty())
        m_warn(kTitle, t.fileError + QStringLiteral("\nZapis do pliku zakończono; plik zawiera wiersze zapisane dotąd."));
}

void RecorderWindow::pauseOrGoOn()
{
    if (isRunning()) {
        m_timer->stop();
        m_paused = true;
        m_recorder.markBreak(m_clock.elapsed());
        m_pause->setText(QStringLiteral("Wznów"));
    } else {
        m_paused = false;
        m_overran = false;
        m_timer->start();
        refresh();
        m_pause->setText(QStringLiteral("Wstrzymaj"));
    }
    m_pause->setAccessibleName(m_pause->text());
    showState();
}

void RecorderWindow::clearPlot()
{
    m_recorder.clear();
    goLive(); // a held span of what is gone would show nothing
}

QString RecorderWindow::suggestedName(const QString& stem, const QString& suffix) const
{
    const std::int16_t model = m_recorder.model() >= 0 ? m_recorder.model() : m_link.MeterModel;
    const std::int16_t address = m_recorder.model() >= 0 ? m_recorder.meterAddress() : m_link.MeterAddress;
    return QStringLiteral("%1-%2-adres%3-%4.%5")
        .arg(stem, modelTagOf(model))
        .arg(address)
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmm")), suffix);
}

QString RecorderWindow::chooseFile(const QString& title, const QStringList& filters, const QString& suggested)
{
    QFileDialog dialog(this, title, m_startFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Replacing a file is asked in Polish below.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QFileInfo(suggested).suffix());
    // A name typed without an extension takes the chosen kind's.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const qsizetype star = filter.indexOf(QLatin1String("*."));
        if (star >= 0)
            dialog.setDefaultSuffix(filter.mid(star + 2).section(QLatin1Char(')'), 0, 0));
    });
    dialog.selectFile(suggested);
    ConfigFileDialogs::speakPolish(dialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool RecorderWindow::mayReplace(const QString& title, const QString& path)
{
    return !QFileInfo::exists(path)
        || m_confirm(title, QStringLiteral("Plik %1 już istnieje. Zastąpić go?").arg(QDir::toNativeSeparators(path)));
}

void RecorderWindow::recordToFile()
{
    const QString title = QStringLiteral("Zapis pomiarów do pliku");
    const QString path = m_choose(title, {QStringLiteral("Pliki CSV (*.csv)")}, suggestedName(QStringLiteral("pomiary"), QStringLiteral("csv")));
    if (path.isEmpty() || !mayReplace(title, path))
        return;
    QString error;
    if (!m_recorder.startFile(path, &error)) {
        m_warn(title, error);
        return;
    }
    showState();
}

void RecorderWindow::endFileRecording()
{
    m_recorder.stopFile();
    showState();
}

void RecorderWindow::savePlot()
{
    const QString title = QStringLiteral("Zapis wykresu");
    const QString path = m_choose(title,
                                  {QStringLiteral("Obraz PNG (*.png)"), QStringLiteral("Rysunek SVG (*.svg)"),
                                   QStringLiteral("Dokument PDF (*.pdf)")},
                                  suggestedName(QStringLiteral("wykres"), QStringLiteral("png")));
    if (path.isEmpty() || !mayReplace(title, path))
        return;
    const TrendPlot plot = currentPlot();
    std::vector<TrendLegendRow> legend;
    const std::vector<int>& boxes = m_recorder.boxes();
    for (std::size_t c = 0; c < boxes.size(); ++c) {
        if (plot.shown[c])
            legend.push_back({measureCaptionOf(boxes[c]).trimmed(), plot.colours[c],
                              trendStats(m_recorder.store(), static_cast<int>(c), plot.from, plot.to)});
    }
    const QString heading = QStringLiteral("%1 — %2, %3 – %4")
                                .arg(kTitle, meterText(m_recorder.model(), m_recorder.meterAddress()),
                                     m_recorder.wallTime(plot.from).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                     m_recorder.wallTime(plot.to).toString(QStringLiteral("HH:mm:ss")));
    QString error;
    if (!saveTrendPicture(path, heading, plot, legend, &error))
        m_warn(title, error);
}

TrendPlot RecorderWindow::currentPlot() const
{
    TrendPlot plot;
    const TrendStore& store = m_recorder.store();
    plot.store = &store;
    if (m_isLive) {
        const qint64 length = kSpans[static_cast<std::size_t>(std::max(0, m_span->currentIndex()))];
        plot.to = store.empty() ? std::max<qint64>(length, 1000) : store.time(store.size() - 1);
        plot.from = length > 0 ? plot.to - length : (store.empty() ? 0 : store.time(0));
        if (plot.to - plot.from < 1000)
            plot.from = plot.to - 1000; // one sample alone still gets room
    } else {
        plot.from = m_viewFrom;
        plot.to = m_viewTo;
    }
    for (int box : m_recorder.boxes()) {
        plot.shown.push_back(m_rows[static_cast<std::size_t>(box)].show->isChecked());
        plot.colours.push_back(trendColourOf(box));
    }
    const Recorder* recorder = &m_recorder;
    plot.wallTime = [recorder](qint64 ms) { return recorder->wallTime(ms); };
    plot.locale = locale();
    plot.scale = m_scaleKind;
    plot.low = m_low;
    plot.high = m_high;
    plot.cursorA = m_cursorA;
    plot.cursorB = m_cursorB;
    return plot;
}

void RecorderWindow::setView(qint64 from, qint64 to)
{
    // Not past the newest sample nor before the oldest by more than the span:
    // the plot never wanders off into nothing.
    const TrendStore& store = m_recorder.store();
    const qint64 length = std::max<qint64>(to - from, 1000);
    if (!store.empty()) {
        const qint64 newest = store.time(store.size() - 1);
        const qint64 oldest = store.time(0);
        from = std::clamp(from, std::min(oldest, newest - length), newest - length / 2);
    }
    m_isLive = false;
    m_viewFrom = from;
    m_viewTo = from + length;
    showState();
}

void RecorderWindow::goLive(bool keepCursors)
{
    m_isLive = true;
    if (!keepCursors) {
        m_cursorA.reset();
        m_cursorB.reset();
    }
    showState();
}

void RecorderWindow::takeScale()
{
    m_scaleNote->hide();
    const auto kind = static_cast<TrendScale>(std::max(0, m_scale->currentIndex()));
    const bool manual = kind == TrendScale::Manual;
    m_scaleLow->setEnabled(manual);
    m_scaleHigh->setEnabled(manual);
    if (!manual) {
        m_scaleKind = kind;
        showState();
        return;
    }
    if (m_scaleLow->text().trimmed().isEmpty() && m_scaleHigh->text().trimmed().isEmpty()) {
        // Start from what the plot shows now.
        double low = 0;
        double high = 0;
        bool any = false;
        const TrendPlot plot = currentPlot();
        for (std::size_t c = 0; c < m_recorder.boxes().size(); ++c) {
            if (!plot.shown[c])
                continue;
            const TrendStats st = trendStats(m_recorder.store(), static_cast<int>(c), plot.from, plot.to);
            if (st.count == 0)
                continue;
            low = any ? std::min(low, st.min) : st.min;
            high = any ? std::max(high, st.max) : st.max;
            any = true;
        }
        if (!any || high <= low) {
            low = any ? low - 1 : 0;
            high = any ? high + 1 : 1;
        }
        m_scaleLow->setText(trendNumberText(low, locale()));
        m_scaleHigh->setText(trendNumberText(high, locale()));
    }
    auto number = [](const QString& text, bool* ok) {
        return QString(text.trimmed()).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(ok);
    };
    bool okLow = false;
    bool okHigh = false;
    const double low = number(m_scaleLow->text(), &okLow);
    const double high = number(m_scaleHigh->text(), &okHigh);
    QString problem;
    if (!okLow || !okHigh || !std::isfinite(low) || !std::isfinite(high))
        problem = QStringLiteral("Skala Y: „%1” nie jest liczbą.").arg(!okLow ? m_scaleLow->text() : m_scaleHigh->text());
    else if (low >= high)
        problem = QStringLiteral("Skala Y: dolna granica (%1) musi być mniejsza od górnej (%2).")
                      .arg(m_scaleLow->text(), m_scaleHigh->text());
    if (!problem.isEmpty()) {
        // The scale in force stays, and the window says which it is.
        m_scaleNote->setText(problem + (m_scaleKind == TrendScale::Manual
                                            ? QStringLiteral(" Pozostaje od %1 do %2.")
                                                  .arg(trendNumberText(m_low, locale()), trendNumberText(m_high, locale()))
                                            : QStringLiteral(" Pozostaje skala dotychczasowa.")));
        m_scaleNote->show();
        showState();
        return;
    }
    m_scaleKind = TrendScale::Manual;
    m_low = low;
    m_high = high;
    showState();
}

QString RecorderWindow::chooseOpen(const QString& title, const QStringList& filters)
{
    QFileDialog dialog(this, title, m_startFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    ConfigFileDialogs::speakPolish(dialog, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void RecorderWindow::openRecording()
{
    const QString title = QStringLiteral("Otwarcie zapisu pomiarów");
    const QString path = m_chooseOpen(title, {QStringLiteral("Pliki CSV (*.csv)")}, QString());
    if (path.isEmpty())
        return;
    QString error;
    std::unique_ptr<RecordedMeter> reviewed = readRecording(path, &error);
    if (!reviewed) {
        m_warn(title, error);
        return;
    }
    m_recorder.setCurrent(m_recorder.addReview(std::move(reviewed)));
    // The whole file at first.
    m_span->setCurrentIndex(3);
    goLive();
}

void RecorderWindow::showMeter()
{
    // Before the first refresh the model selected now decides.
    const std::span<const int> boxes = m_recorder.boxes().empty() ? measureBoxesOf(m_link.MeterModel)
                                                                  : std::span<const int>(m_recorder.boxes());
    for (int box = 1; box <= kMeasureBoxes; ++box) {
        const Row& r = m_rows[static_cast<std::size_t>(box)];
        const bool has = std::find(boxes.begin(), boxes.end(), box) != boxes.end();
        for (QWidget* w : {static_cast<QWidget*>(r.show), static_cast<QWidget*>(r.value),
                           static_cast<QWidget*>(r.min), static_cast<QWidget*>(r.max),
                           static_cast<QWidget*>(r.mean), static_cast<QWidget*>(r.stddev)})
            w->setVisible(has);
        r.delta->setVisible(has && m_cursorA && m_cursorB);
    }
    m_deltaHead->setVisible(m_cursorA && m_cursorB);
}

void RecorderWindow::showView()
{
    m_freeze->setEnabled(m_isLive);
    m_live->setEnabled(!m_isLive);
    m_clearCursors->setEnabled(m_cursorA || m_cursorB);
    const QLocale loc = locale();
    auto at = [&](const std::optional<qint64>& ms) {
        return m_recorder.wallTime(*ms).toString(QStringLiteral("HH:mm:ss,zzz")).chopped(2);
    };
    QStringList parts;
    if (m_cursorA)
        parts << QStringLiteral("Kursor A: %1").arg(at(m_cursorA));
    if (m_cursorB)
        parts << QStringLiteral("Kursor B: %1").arg(at(m_cursorB));
    if (m_cursorA && m_cursorB)
        parts << QStringLiteral("B − A: %1").arg(durationText(*m_cursorB - *m_cursorA, loc));
    m_cursorText->setText(parts.isEmpty() ? QStringLiteral("Kursory: kliknięcie na wykresie (A), prawy przycisk (B).")
                                          : parts.join(QStringLiteral("   ")));
    m_cursorText->setAccessibleName(m_cursorText->text());
}

void RecorderWindow::showMeters()
{
    QStringList names;
    for (std::size_t i = 0; i < m_recorder.meterCount(); ++i) {
        const RecordedMeter& m = m_recorder.meter(i);
        names << (m.isReview() ? QStringLiteral("Plik %1 (przegląd)").arg(QFileInfo(m.review).fileName())
                               : meterText(m.model, m.address));
    }
    if (names.isEmpty())
        names << meterText(m_link.MeterModel, m_link.MeterAddress);
    QStringList now;
    for (int i = 0; i < m_meter->count(); ++i)
        now << m_meter->itemText(i);
    if (now != names) {
        const QSignalBlocker quiet(m_meter);
        m_meter->clear();
        m_meter->addItems(names);
    }
    m_meter->setCurrentIndex(std::min(static_cast<int>(m_recorder.current()), static_cast<int>(names.size()) - 1));
    m_removeMeter->setEnabled(m_recorder.meterCount() > 1 || m_recorder.shownMeter().isReview());
    m_removeMeter->setText(m_recorder.shownMeter().isReview() ? QStringLiteral("Zamknij przegląd")
                                                             : QStringLiteral("Usuń z rejestratora"));
    m_removeMeter->setAccessibleName(m_removeMeter->text());
}

void RecorderWindow::showOffer()
{
    std::int16_t model = 0;
    std::int16_t address = 0;
    const bool offered = m_recorder.offered(&model, &address);
    if (offered) {
        QStringList recorded;
        for (std::size_t i = 0; i < m_recorder.meterCount(); ++i)
            if (!m_recorder.meter(i).isReview())
                recorded << meterText(m_recorder.meter(i).model, m_recorder.meter(i).address);
        m_offerText->setText(QStringLiteral("W oknie głównym wybrano miernik %1. Rejestrator nadal zapisuje %2; "
                                            "dotychczasowe wykresy i pliki zostają.")
                                 .arg(meterText(model, address), recorded.join(QStringLiteral(", "))));
    }
    m_offer->setVisible(offered);
}

void RecorderWindow::showState()
{
    showMeters();
    showOffer();
    showMeter();
    const TrendPlot plot = currentPlot();
    m_chart->setPlot(plot);
    // What the plot spans, for a screen reader (the numbers are in the table).
    m_chart->setAccessibleDescription(
        QStringLiteral("Od %1 do %2%3")
            .arg(m_recorder.wallTime(plot.from).toString(QStringLiteral("HH:mm:ss")),
                 m_recorder.wallTime(plot.to).toString(QStringLiteral("HH:mm:ss")),
                 m_isLive ? QStringLiteral(", na żywo") : QStringLiteral(", zatrzymany")));
    const std::vector<int>& boxes = m_recorder.boxes();
    const std::vector<float>& latest = m_recorder.latest();
    const QLocale loc = locale();
    const RecordedMeter& meter = m_recorder.shownMeter();
    // During an outage the last good values stay, told apart as old: grey,
    // and the column says from when.
    const bool stale = meter.stale && meter.latestMs >= 0 && !meter.isReview();
    const QString since = stale ? m_recorder.wallTime(meter.latestMs).toString(QStringLiteral("HH:mm:ss")) : QString();
    m_currentHead->setText(stale ? QStringLiteral("Z %1 (stare)").arg(since)
                                 : (meter.isReview() ? QStringLiteral("Ostatnia w pliku") : QStringLiteral("Bieżąca")));
    m_currentHead->setToolTip(stale ? QStringLiteral("Ostatnie wartości, które nadeszły (o %1); od tej chwili "
                                                     "wymiana z miernikiem się nie udaje.")
                                          .arg(since)
                                    : QString());
    for (std::size_t c = 0; c < boxes.size(); ++c) {
        const Row& r = m_rows[static_cast<std::size_t>(boxes[c])];
        const QString caption = measureCaptionOf(boxes[c]).trimmed();
        const TrendStats s = trendStats(m_recorder.store(), static_cast<int>(c), plot.from, plot.to);
        const QString current = c < latest.size() ? trendNumberText(latest[c], loc) : QString();
        r.value->setText(current);
        r.value->setStyleSheet(stale ? QStringLiteral("color: #808080; font-style: italic") : QString());
        // A screen reader reads the name: the value's caption with its number.
        auto say = [&](QLabel* l, const QString& what, const QString& text) {
            l->setText(text);
            l->setAccessibleName(QStringLiteral("%1, %2: %3").arg(caption, what, text.isEmpty() ? QStringLiteral("brak") : text));
        };
        say(r.value, stale ? QStringLiteral("ostatnia z %1, stara").arg(since) : QStringLiteral("bieżąca"), current);
        say(r.min, QStringLiteral("minimum"), trendNumberText(s.min, loc));
        say(r.max, QStringLiteral("maksimum"), trendNumberText(s.max, loc));
        say(r.mean, QStringLiteral("średnia"), trendNumberText(s.mean, loc));
        say(r.stddev, QStringLiteral("odchylenie standardowe"), trendNumberText(s.stddev, loc));
        if (m_cursorA && m_cursorB) {
            const int ch = static_cast<int>(c);
            const double d = double(trendValueAt(m_recorder.store(), ch, *m_cursorB))
                - double(trendValueAt(m_recorder.store(), ch, *m_cursorA));
            say(r.delta, QStringLiteral("różnica B − A"), trendNumberText(d, loc));
        }
    }
    showView();

    const CsvRecording& file = m_recorder.file();
    m_stopRecord->setEnabled(file.isRecording());
    m_record->setEnabled(!meter.isReview());
    if (file.isRecording())
        m_file->setText(QStringLiteral("%1 — wierszy: %2").arg(QDir::toNativeSeparators(file.path())).arg(file.rows()));
    else if (!file.path().isEmpty())
        m_file->setText(QStringLiteral("Zakończono: %1 — wierszy: %2").arg(QDir::toNativeSeparators(file.path())).arg(file.rows()));
    else
        m_file->setText(QStringLiteral("Pomiary nie są zapisywane do pliku."));

    const std::int16_t model = m_recorder.model() >= 0 ? m_recorder.model() : m_link.MeterModel;
    const std::int16_t address = m_recorder.model() >= 0 ? m_recorder.meterAddress() : m_link.MeterAddress;
    QString state = meter.isReview()
        ? QStringLiteral("Przegląd pliku %1 (tylko do odczytu, %2 – %3).")
              .arg(QDir::toNativeSeparators(meter.review),
                   m_recorder.wallTime(meter.store.time(0)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                   m_recorder.wallTime(meter.store.time(meter.store.size() - 1)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        : QStringLiteral("Miernik %1.").arg(meterText(model, address));
    if (m_paused)
        state += QStringLiteral(" Wstrzymano.");
    if (!m_isLive)
        state += QStringLiteral(" Wykres zatrzymany, rejestracja trwa; „Na żywo” wraca do najnowszych wartości.");
    if (!m_note.isEmpty())
        state += QLatin1Char(' ') + m_note;
    m_status->setText(state);
}

} // namespace vardel
