#include "recorder/RecorderWindow.h"

#include "files/ConfigFileDialogs.h"
#include "link/Module1.h"
#include "link/ShowNow.h"
#include "link/WindowHabits.h"
#include "measure/MeasureValues.h"
#include "recorder/StripChart.h"
#include "recorder/TrendExport.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
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

QLabel* number(QWidget* parent, const QString& name, const QString& accessible)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setAccessibleName(accessible);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for any number of seven digits, so that the columns keep their
    // width while the values change.
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("-1,234567E-05")));
    return l;
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
    m_interval = new QDoubleSpinBox(contents);
    m_interval->setObjectName(QStringLiteral("Interval"));
    m_interval->setAccessibleName(intervalLabel->text());
    m_interval->setRange(0.1, 3600.0);
    m_interval->setDecimals(1);
    m_interval->setSingleStep(0.1);
    m_interval->setSuffix(QStringLiteral(" s"));
    m_interval->setValue(1.0);
    m_interval->setToolTip(QStringLiteral("Od 0,1 s do 3600 s (1 godzina)"));
    intervalLabel->setBuddy(m_interval);

    auto* spanLabel = new QLabel(QStringLiteral("Oś czasu"), contents);
    m_span = new QComboBox(contents);
    m_span->setObjectName(QStringLiteral("Span"));
    m_span->setAccessibleName(spanLabel->text());
    m_span->addItems({QStringLiteral("Ostatnia minuta"), QStringLiteral("Ostatnie 10 minut"),
                      QStringLiteral("Ostatnia godzina"), QStringLiteral("Wszystko")});
    m_span->setCurrentIndex(1);
    spanLabel->setBuddy(m_span);

    m_pause = button(contents, "Pause", QStringLiteral("Wstrzymaj"));
    m_clear = button(contents, "Clear", QStringLiteral("Wyczyść"));

    auto* top = new QHBoxLayout;
    top->addWidget(intervalLabel);
    top->addWidget(m_interval);
    top->addSpacing(12);
    top->addWidget(spanLabel);
    top->addWidget(m_span);
    top->addStretch();
    top->addWidget(m_pause);
    top->addWidget(m_clear);

    m_chart = new StripChart(contents);

    // Per value: its tick box with its colour, the current number and the
    // statistics over what the plot shows.
    auto* values = new QGroupBox(QStringLiteral("Wartości"), contents);
    values->setObjectName(QStringLiteral("Values"));
    auto* grid = new QGridLayout(values);
    const QStringList heads{QStringLiteral("Bieżąca"), QStringLiteral("Min"), QStringLiteral("Maks"),
                            QStringLiteral("Średnia"), QStringLiteral("Odch. std.")};
    for (int i = 0; i < heads.size(); ++i) {
        auto* head = new QLabel(heads[i], values);
        head->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont bold = head->font();
        bold.setBold(true);
        head->setFont(bold);
        grid->addWidget(head, 0, i + 1);
    }
    for (int box = 1; box <= kMeasureBoxes; ++box) {
        const QString caption = measureCaptionOf(box).trimmed();
        Row& r = m_rows[static_cast<std::size_t>(box)];
        r.show = new QCheckBox(caption, values);
        r.show->setObjectName(QStringLiteral("Show%1").arg(box));
        r.show->setAccessibleName(caption);
        r.show->setIcon(swatch(trendColourOf(box)));
        r.show->setChecked(true);
        r.value = number(values, QStringLiteral("Value%1").arg(box), caption);
        r.min = number(values, QStringLiteral("Min%1").arg(box), caption + QStringLiteral(", minimum"));
        r.max = number(values, QStringLiteral("Max%1").arg(box), caption + QStringLiteral(", maksimum"));
        r.mean = number(values, QStringLiteral("Mean%1").arg(box), caption + QStringLiteral(", średnia"));
        r.stddev = number(values, QStringLiteral("Std%1").arg(box),
                          caption + QStringLiteral(", odchylenie standardowe"));
        QFont strong = r.value->font();
        strong.setBold(true);
        r.value->setFont(strong);
        int column = 0;
        for (QWidget* w : {static_cast<QWidget*>(r.show), static_cast<QWidget*>(r.value),
                           static_cast<QWidget*>(r.min), static_cast<QWidget*>(r.max),
                           static_cast<QWidget*>(r.mean), static_cast<QWidget*>(r.stddev)})
            grid->addWidget(w, box, column++);
        connect(r.show, &QCheckBox::toggled, this, [this] { showState(); });
    }


    auto* fileFrame = new QGroupBox(QStringLiteral("Zapis do pliku"), contents);
    m_record = button(fileFrame, "Record", QStringLiteral("Zapisz do pliku…"));
    m_stopRecord = button(fileFrame, "StopRecord", QStringLiteral("Zakończ zapis"));
    m_file = new QLabel(fileFrame);
    m_file->setObjectName(QStringLiteral("RecordFile"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_file->setWordWrap(true);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(m_record);
    fileButtons->addWidget(m_stopRecord);
    fileButtons->addStretch();
    auto* fileColumn = new QVBoxLayout(fileFrame);
    fileColumn->addLayout(fileButtons);
    fileColumn->addWidget(m_file);
    fileColumn->addStretch();

    m_savePlot = button(contents, "SavePlot", QStringLiteral("Zapisz wykres…"));
    m_close = button(contents, "Close", QStringLiteral("Zamknij"));
    auto* closing = new QHBoxLayout;
    closing->addWidget(m_savePlot);
    closing->addStretch();
    closing->addWidget(m_close);
    auto* side = new QVBoxLayout;
    side->addWidget(fileFrame, 1);
    side->addLayout(closing);

    // The plot takes the window's width; the values and the file below it.
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(values);
    bottom->addLayout(side, 1);

    m_status = new QLabel(contents);
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setWordWrap(true);

    auto* layout = new QVBoxLayout(contents);
    layout->addLayout(top);
    layout->addWidget(m_chart, 1);
    layout->addLayout(bottom);
    layout->addWidget(m_status);
    resize(1000, 720);

    // Tab follows the screen; the window opens on "Wstrzymaj" all the same.
    QList<QWidget*> order{m_interval, m_span, m_pause, m_clear};
    for (int box = 1; box <= kMeasureBoxes; ++box)
        order << m_rows[static_cast<std::size_t>(box)].show;
    order << m_record << m_stopRecord << m_savePlot << m_close;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(m_interval, &QDoubleSpinBox::valueChanged, this,
            [this](double seconds) { m_timer->setInterval(static_cast<int>(std::lround(seconds * 1000))); });
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] { showState(); });
    connect(m_pause, &QPushButton::clicked, this, [this] { pauseOrGoOn(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { clearPlot(); });
    connect(m_record, &QPushButton::clicked, this, [this] { recordToFile(); });
    connect(m_stopRecord, &QPushButton::clicked, this, [this] { endFileRecording(); });
    connect(m_savePlot, &QPushButton::clicked, this, [this] { savePlot(); });
    connect(m_close, &QPushButton::clicked, this, [this] { stop(); });
    showState();
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
    m_recorder.markBreak(m_clock.elapsed());
    m_recorder.stopFile();
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
    const Recorder::Tick t = m_recorder.tick(m_clock.elapsed(), QDateTime::currentDateTime());
    if (t.outcome == Recorder::Outcome::Skipped)
        return;
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    if (t.outcome == Recorder::Outcome::Failed)
        m_note = QStringLiteral("%1: wymiana z miernikiem nie powiodła się — przerwa w wykresie.").arg(time);
    else
        m_note = QStringLiteral("Ostatni odczyt: %1").arg(time);
    if (t.meterChanged) {
        m_note += QStringLiteral(" Wybrano inny miernik w oknie głównym: wykres zaczyna się od nowa");
        m_note += t.fileEnded ? QStringLiteral(", zapis do pliku zakończono.") : QStringLiteral(".");
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
    showState();
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
    const qint64 length = kSpans[static_cast<std::size_t>(std::max(0, m_span->currentIndex()))];
    plot.to = store.empty() ? std::max<qint64>(length, 1000) : store.time(store.size() - 1);
    plot.from = length > 0 ? plot.to - length : (store.empty() ? 0 : store.time(0));
    if (plot.to - plot.from < 1000)
        plot.from = plot.to - 1000; // one sample alone still gets room
    for (int box : m_recorder.boxes()) {
        plot.shown.push_back(m_rows[static_cast<std::size_t>(box)].show->isChecked());
        plot.colours.push_back(trendColourOf(box));
    }
    const Recorder* recorder = &m_recorder;
    plot.wallTime = [recorder](qint64 ms) { return recorder->wallTime(ms); };
    plot.locale = locale();
    return plot;
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
    }
}

void RecorderWindow::showState()
{
    showMeter();
    const TrendPlot plot = currentPlot();
    m_chart->setPlot(plot);
    const std::vector<int>& boxes = m_recorder.boxes();
    const std::vector<float>& latest = m_recorder.latest();
    const QLocale loc = locale();
    for (std::size_t c = 0; c < boxes.size(); ++c) {
        const Row& r = m_rows[static_cast<std::size_t>(boxes[c])];
        r.value->setText(c < latest.size() ? trendNumberText(latest[c], loc) : QString());
        const TrendStats s = trendStats(m_recorder.store(), static_cast<int>(c), plot.from, plot.to);
        r.min->setText(trendNumberText(s.min, loc));
        r.max->setText(trendNumberText(s.max, loc));
        r.mean->setText(trendNumberText(s.mean, loc));
        r.stddev->setText(trendNumberText(s.stddev, loc));
    }

    const CsvRecording& file = m_recorder.file();
    m_stopRecord->setEnabled(file.isRecording());
    if (file.isRecording())
        m_file->setText(QStringLiteral("%1 — wierszy: %2").arg(QDir::toNativeSeparators(file.path())).arg(file.rows()));
    else if (!file.path().isEmpty())
        m_file->setText(QStringLiteral("Zakończono: %1 — wierszy: %2").arg(QDir::toNativeSeparators(file.path())).arg(file.rows()));
    else
        m_file->setText(QStringLiteral("Pomiary nie są zapisywane do pliku."));

    const std::int16_t model = m_recorder.model() >= 0 ? m_recorder.model() : m_link.MeterModel;
    const std::int16_t address = m_recorder.model() >= 0 ? m_recorder.meterAddress() : m_link.MeterAddress;
    QString state = QStringLiteral("Miernik %1.").arg(meterText(model, address));
    if (m_paused)
        state += QStringLiteral(" Wstrzymano.");
    if (!m_note.isEmpty())
        state += QLatin1Char(' ') + m_note;
    m_status->setText(state);
}

} // namespace vardel
