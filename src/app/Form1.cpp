#include "app/Form1.h"

#include "app/Settings.h"
#include "app/TextRules.h"
#include "config/ConfigWindows.h"
#include "config/Form5.h"
#include "config/RegisterTable.h"
#include "fileio/FileLocations.h"
#include "files/ConfigFileDialogs.h"
#include "files/ConfigHistory.h"
#include "help/HelpWindow.h"
#include "link/ErrorForms.h"
#include "link/Module1.h"
#include "link/WindowHabits.h"
#include "measure/MeasureTest.h"
#include "recorder/RecorderWindow.h"
#include "report/PrintController.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vardel {

namespace {

QString hexBoxText(int value) { return QString::fromStdString(hexText(value)); }

const QString kResponseTimeTip = QStringLiteral(
    "Dla miernika, który odpowiada później niż zwykle: oczekiwanie na odpowiedź trwa tyle, ile on potrzebuje. "
    "Puste: zwykłe oczekiwanie łącza (ok. 0,6 s).");

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(caption);
    return b;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption)
{
    auto* f = new QGroupBox(caption, parent);
    f->setObjectName(QLatin1String(name));
    f->setAccessibleName(caption);
    return f;
}

QLineEdit* box(QWidget* parent, const char* name, const QString& labelCaption)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setAccessibleName(labelCaption);
    return e;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, QWidget* buddy)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setBuddy(buddy);
    return l;
}

// The Tab key enters a group of option buttons at its ticked button (at the
// first one while none is ticked); the arrow keys move within the group. So
// Space on a group never changes a setting the user did not point at.
void keepTabStopOnTick(QButtonGroup* group)
{
    const auto update = [group] {
        const QList<QAbstractButton*> buttons = group->buttons();
        QAbstractButton* stop = group->checkedButton();
        if (!stop && !buttons.isEmpty())
            stop = buttons.first();
        for (QAbstractButton* b : buttons)
            b->setFocusPolicy(b == stop ? Qt::StrongFocus : Qt::ClickFocus);
    };
    QObject::connect(group, &QButtonGroup::buttonToggled, group, update);
    update();
}

} // namespace

Form1::Form1(Module1& link, RegisterTable& table, QString programDir, bool simulatedCard, QWidget* parent)
    : QWidget(parent), m_link(link), m_table(table), m_programDir(std::move(programDir)), m_simulated(simulatedCard)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vardel  V1.0b "));
    buildUi();
    keepWindowHabits(this);

    m_errors = std::make_unique<ErrorForms>();
    m_link.setErrorWindows(m_errors.get());
    m_link.setControls(this);
    m_config = std::make_unique<ConfigWindows>(m_link, m_table, this);
    m_config->setTransferHandler([this](bool written) { keepInHistory(written); });
    m_config->writeWindow()->setLinkFollower([this](const MeterLink& to) { followMeter(to); });
    m_files = std::make_unique<ConfigFileDialogs>(m_link, m_table, *m_config, m_programDir, this);
    m_print = std::make_unique<PrintController>(m_link, m_table, this);
    m_measure = std::make_unique<MeasureTest>(m_link, *m_timer1, this);
    // A window of its own, beside the main one: it may run while the user
    // works in the others.
    m_recorder = std::make_unique<RecorderWindow>(m_link, fileLocations(m_programDir).startDir);
    // F1 in any window of the program, from now on.
    m_help = std::make_unique<HelpController>();
}

Form1::~Form1()
{
    // The link outlives the window; it must not call back into it.
    m_link.setControls(nullptr);
    m_link.setErrorWindows(nullptr);
}

void Form1::buildUi()
{
    QWidget* contents = scrollingContents(this);
    m_heading = new QLabel(QStringLiteral("SIECIOWY PROGRAM TESTOWY  DLA MIERNIKÓW TABLICOWYCH"), contents);
    m_heading->setObjectName(QStringLiteral("Label1"));
    m_heading->setAlignment(Qt::AlignCenter);
    QFont headingFont(QStringLiteral("Times New Roman"));
    headingFont.setPointSizeF(15.75);
    headingFont.setBold(true);
    m_heading->setFont(headingFont);
    QPalette headingPalette = m_heading->palette();
    headingPalette.setColor(QPalette::WindowText, Qt::blue);
    m_heading->setPalette(headingPalette);

    // Wersja miernika
    QGroupBox* frame1 = frame(contents, "Frame1", QStringLiteral("Wersja miernika"));
    auto* modelLayout = new QVBoxLayout(frame1);
    const char* modelNames[] = {"Option1", "Option2", "Option3"};
    const QString modelCaptions[] = {QStringLiteral("KX-2"), QStringLiteral("KX-3"), QStringLiteral("KX-4")};
    auto* modelGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        m_model[i] = new QRadioButton(modelCaptions[i], frame1);
        m_model[i]->setObjectName(QLatin1String(modelNames[i]));
        m_model[i]->setAccessibleName(modelCaptions[i]);
        modelGroup->addButton(m_model[i]);
        modelLayout->addWidget(m_model[i]);
        connect(m_model[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                Option_Click(i);
        });
    }
    modelLayout->addStretch();
    keepTabStopOnTick(modelGroup);

    // Parametry transmisji
    QGroupBox* frame2 = frame(contents, "Frame2", QStringLiteral("Parametry transmisji"));
    auto* linkLayout = new QGridLayout(frame2);
    m_text2 = box(frame2, "Text2", QStringLiteral("Adres sieciowy master-a"));
    m_text3 = box(frame2, "Text3", QStringLiteral("Adres sieciowy miernika"));
    linkLayout->addWidget(label(frame2, "Label3", QStringLiteral("Adres sieciowy master-a"), m_text2), 0, 0);
    linkLayout->addWidget(m_text2, 0, 1);
    linkLayout->addWidget(label(frame2, "Label4", QStringLiteral("Adres sieciowy miernika"), m_text3), 1, 0);
    linkLayout->addWidget(m_text3, 1, 1);
    m_check1 = new QCheckBox(QStringLiteral("Kontrola nadawania"), frame2);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setAccessibleName(QStringLiteral("Kontrola nadawania"));
    linkLayout->addWidget(m_check1, 2, 0, 1, 2);
    QGroupBox* frame3 = frame(frame2, "Frame3", QStringLiteral("Baudrate"));
    auto* baudLayout = new QGridLayout(frame3);
    const char* baudNames[] = {"Option4", "Option5", "Option6", "Option7", "Option8", "Option9"};
    const char* baudCaptions[] = {"1200", "2400", "4800", "9600", "19200", "38400"};
    auto* baudGroup = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        m_baud[i] = new QRadioButton(QLatin1String(baudCaptions[i]), frame3);
        m_baud[i]->setObjectName(QLatin1String(baudNames[i]));
        m_baud[i]->setAccessibleName(QLatin1String(baudCaptions[i]));
        baudGroup->addButton(m_baud[i]);
        baudLayout->addWidget(m_baud[i], i % 3, i / 3);
        connect(m_baud[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                BaudOption_Click(i);
        });
    }
    keepTabStopOnTick(baudGroup);
    linkLayout->addWidget(frame3, 3, 0, 1, 2);
    // How long the meter takes to answer is part of its link too. Kept for
    // this run only (Vardel.cfg holds its nine numbers); empty: the link's
    // usual wait.
    m_text5 = box(frame2, "Text5", QStringLiteral("Czas odpowiedzi miernika [ms]"));
    m_text5->setPlaceholderText(QStringLiteral("zwykłe oczekiwanie"));
    m_text5->setToolTip(kResponseTimeTip);
    linkLayout->addWidget(label(frame2, "Label6", QStringLiteral("Czas odpowiedzi miernika [ms]"), m_text5), 4, 0);
    linkLayout->addWidget(m_text5, 4, 1);

    // Parametry karty w PC
    QGroupBox* frame4 = frame(contents, "Frame4", QStringLiteral("Parametry karty w PC"));
    auto* cardLayout = new QGridLayout(frame4);
    m_text1 = box(frame4, "Text1", QStringLiteral("Adres karty"));
    m_text4 = box(frame4, "Text4", QStringLiteral("Status karty"));
    displayOnly(m_text4);
    cardLayout->addWidget(label(frame4, "Label2", QStringLiteral("Adres karty"), m_text1), 0, 0);
    cardLayout->addWidget(m_text1, 0, 1);
    cardLayout->addWidget(label(frame4, "Label5", QStringLiteral("Status karty"), m_text4), 1, 0);
    cardLayout->addWidget(m_text4, 1, 1);
    QPushButton* command1 = button(frame4, "Command1", QStringLiteral("Test karty"));
    QPushButton* command2 = button(frame4, "Command2", QStringLiteral("Reset karty"));
    cardLayout->addWidget(command1, 2, 0);
    cardLayout->addWidget(command2, 2, 1);

    // Operacje ogólne
    QGroupBox* frame5 = frame(contents, "Frame5", QStringLiteral("Operacje ogólne"));
    auto* generalLayout = new QVBoxLayout(frame5);
    QPushButton* command4 = button(frame5, "Command4", QStringLiteral("Koniec pracy"));
    QPushButton* command3 = button(frame5, "Command3", QStringLiteral("Pomoc"));
    generalLayout->addWidget(command4);
    generalLayout->addWidget(command3);

    // Operacje na mierniku
    QGroupBox* frame6 = frame(contents, "Frame6", QStringLiteral("Operacje na mierniku"));
    auto* meterLayout = new QVBoxLayout(frame6);
    QPushButton* command6 = button(frame6, "Command6", QStringLiteral("Odczyt konfiguracji z miernika tablicowego"));
    QPushButton* command7 = button(frame6, "Command7", QStringLiteral("Edycja   konfiguracji miernika tablicowego"));
    QPushButton* command9 = button(frame6, "Command9", QStringLiteral("Zapis konfiguracji do miernika tablicowego"));
    QPushButton* save = button(frame6, "Save", QStringLiteral("Zapis konfiguracji miernika na dysk"));
    QPushButton* load = button(frame6, "Load", QStringLiteral("Odczyt konfiguracji miernika z dysku"));
    QPushButton* print = button(frame6, "Print", QStringLiteral("Wydruk konfiguracji miernika na drukarce"));
    QPushButton* command8 = button(frame6, "Command8", QStringLiteral("Test pomiarów"));
    QPushButton* command5 = button(frame6, "Command5", QStringLiteral("Rejestrator"));
    QPushButton* kxReset = button(frame6, "KxReset", QStringLiteral("Reset miernika"));
    for (QPushButton* b : {command6, command7, command9, save, load, print, command8, command5, kxReset})
        meterLayout->addWidget(b);

    auto* left = new QVBoxLayout;
    left->addWidget(frame1);
    left->addWidget(frame2);
    left->addWidget(frame4);
    auto* right = new QVBoxLayout;
    right->addWidget(frame6);
    right->addWidget(frame5);
    right->addStretch();
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    auto* top = new QVBoxLayout(contents);
    top->addWidget(m_heading);
    if (m_simulated) {
        // Nobody should take the simulated network for real meters.
        auto* note = new QLabel(QStringLiteral("Karta symulowana — mierniki symulowane"), contents);
        note->setObjectName(QStringLiteral("SimNote"));
        note->setAlignment(Qt::AlignCenter);
        note->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; color: #8a4b00; font-weight: bold;"
                                           " border: 1px solid #d9a400; padding: 3px; }"));
        top->addWidget(note);
    }
    top->addLayout(columns);

    // Tab follows the screen: the left column from the top, then the meter
    // operations, then "Koniec pracy" below them.
    QList<QWidget*> tabOrder{m_model[0], m_model[1], m_model[2], m_text2, m_text3, m_check1};
    for (QRadioButton* b : m_baud)
        tabOrder << b;
    tabOrder << m_text5 << m_text1 << m_text4 << command1 << command2 << command6 << command7 << command9 << save << load
             << print << command8 << command5 << kxReset << command4 << command3;
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(1000);

    connect(m_check1, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });
    connect(m_check1, &QCheckBox::clicked, this, [this] {
        // A greyed value from the settings file is only ever set by the program;
        // the user's clicks toggle between ticked and unticked.
        m_check1->setTristate(false);
    });
    connect(m_text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    connect(m_text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
    connect(m_text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
    connect(m_text5, &QLineEdit::textChanged, this, [this] { Text5_Change(); });
    connect(command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(kxReset, &QPushButton::clicked, this, [this] { KxReset_Click(); });
    connect(command6, &QPushButton::clicked, this, [this] { Form1_Command6_Click(); });
    connect(command7, &QPushButton::clicked, this, [this] { Form1_Command7_Click(); });
    connect(command9, &QPushButton::clicked, this, [this] { Form1_Command9_Click(); });
    connect(save, &QPushButton::clicked, this, [this] { Form1_Save_Click(); });
    connect(load, &QPushButton::clicked, this, [this] { Form1_Load_Click(); });
    connect(print, &QPushButton::clicked, this, [this] { Form1_Print_Click(); });
    connect(command8, &QPushButton::clicked, this, [this] { Form1_Command8_Click(); });
    connect(command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(m_timer1, &QTimer::timeout, this, [this] { Form1_Timer1_Timer(); });
}

QString Form1::settingsPath() const { return settingsFilePath(m_programDir); }

void Form1::noteRealPace()
{
    if (auto* note = findChild<QLabel*>(QStringLiteral("SimNote")))
        note->setText(QStringLiteral("Karta symulowana — mierniki symulowane, w tempie prawdziwej karty"));
}

void Form1::Form_Load()
{
    m_timer1->stop();

    const Settings s = readSettingsFile(settingsPath());
    m_link.setCardAddress(s.CardAddress);
    m_link.MasterAddress = s.MasterAddress;
    m_link.MeterAddress = s.MeterAddress;
    m_link.MeterModel = s.MeterModel;
    m_link.BaudCode = s.BaudCode;
    m_link.TransmitCheck = s.TransmitCheck;
    m_link.RegBase = s.RegBase;

    m_text2->setText(QString::number(s.MasterAddress));
    m_text3->setText(QString::number(s.MeterAddress));
    if (s.TransmitCheck == 2)
        m_check1->setCheckState(Qt::PartiallyChecked);
    else
        m_check1->setCheckState(s.TransmitCheck == 1 ? Qt::Checked : Qt::Unchecked);

    if (s.MeterModel >= 0 && s.MeterModel <= 2) {
        m_model[s.MeterModel]->setChecked(true);
        selectModel(m_link, m_table, s.MeterModel, m_programDir);
    }
    if (s.BaudCode >= 0 && s.BaudCode <= 5)
        m_baud[s.BaudCode]->setChecked(true);

    Command2_Click();
    // An address the link refused (ports below 100h) shows as the file has it,
    // marked red, while the default one stays in force.
    m_text1->setText(hexBoxText(s.CardAddress));
    showStatus(m_link.ReadCardStatus());
    m_config->prepareWriteWindow();
    m_link.CardSetLink();
}

int Form1::selectedBaudButton() const
{
    for (int i = 0; i < 6; ++i)
        if (m_baud[i]->isChecked())
            return i;
    return -1;
}

int Form1::transmitCheckValue() const
{
    switch (m_check1->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

void Form1::Option_Click(int model)
{
    selectModel(m_link, m_table, static_cast<std::int16_t>(model), m_programDir);
}

void Form1::BaudOption_Click(int code)
{
    m_link.CardSetLink();
    m_link.BaudCode = static_cast<std::int16_t>(code);
}

void Form1::Check1_Click()
{
    m_link.CardSetLink();
    m_link.TransmitCheck = static_cast<std::int16_t>(transmitCheckValue());
}

void Form1::markAddressBox(QLineEdit* box, bool valid)
{
    // A refused text stays in the box, in red, until it is valid again; the
    // last valid value stays in force meanwhile.
    box->setStyleSheet(valid ? QString() : QStringLiteral("QLineEdit { color: red; }"));
    box->setToolTip(valid ? QString() : QStringLiteral("Nieprawidłowy adres: wartość poza zakresem 16 bitów"));
    box->setProperty("rejected", !valid);
}

void Form1::Text1_Change()
{
    QString refusal;
    const auto address = parseCardAddressText(m_text1->text(), &refusal);
    if (address)
        m_link.setCardAddress(*address);
    markAddressBox(m_text1, address.has_value());
    if (!address)
        m_text1->setToolTip(refusal);
    m_link.CardSetLink();
}

void Form1::Text2_Change()
{
    const auto address = parseNetworkAddressText(m_text2->text());
    if (address)
        m_link.MasterAddress = *address;
    markAddressBox(m_text2, address.has_value());
    m_link.CardSetLink();
}

void Form1::Text3_Change()
{
    const auto address = parseNetworkAddressText(m_text3->text());
    if (address)
        m_link.MeterAddress = *address;
    markAddressBox(m_text3, address.has_value());
    m_link.CardSetLink();
}

void Form1::Text5_Change()
{
    // Whole milliseconds as the meter's register holds them; a text that is
    // none stays in red and the last valid value stays in force.
    const QString text = m_text5->text().trimmed();
    bool ok = text.isEmpty();
    if (ok) {
        m_link.setResponseTime(std::nullopt);
    } else {
        const int ms = text.toInt(&ok);
        ok = ok && ms >= 0 && ms <= kMaxResponseTimeMs;
        if (ok)
            m_link.setResponseTime(std::chrono::milliseconds(ms));
    }
    m_text5->setStyleSheet(ok ? QString() : QStringLiteral("QLineEdit { color: red; }"));
    m_text5->setToolTip(ok ? kResponseTimeTip
                           : QStringLiteral("Czas odpowiedzi: liczba całkowita od 0 do %1 ms").arg(kMaxResponseTimeMs));
    m_text5->setProperty("rejected", !ok);
}

void Form1::followMeter(const MeterLink& to)
{
    // Each control loads the card as the user's click would.
    m_text3->setText(QString::number(to.address));
    if (to.baudCode >= 0 && to.baudCode <= 5)
        m_baud[to.baudCode]->setChecked(true);
    m_check1->setTristate(false);
    m_check1->setCheckState(to.transmitCheck == 1 ? Qt::Checked : Qt::Unchecked);
}

void Form1::keepInHistory(bool written)
{
    if (m_historyFolder.isEmpty())
        return;
    const FileResult kept = ConfigHistory(m_historyFolder)
                                .record(m_table, m_link.MeterModel, m_link.MeterAddress,
                                        written ? HistoryKind::Written : HistoryKind::Read);
    if (!kept.ok)
        QMessageBox::warning(this, QStringLiteral("Historia konfiguracji"), kept.message);
}

void Form1::showStatus(int status) { m_text4->setText(hexBoxText(status)); }

void Form1::Command1_Click() { showStatus(m_link.ReadCardStatus()); }

void Form1::Command2_Click() { showStatus(m_link.CardReset()); }

void Form1::Command4_Click()
{
    // Written through a temporary file: a failed write keeps the old settings
    // whole. The program ends either way, but not silently: the settings of
    // this session are lost, and the user should know why.
    QString error;
    if (!writeProgramSettings(m_programDir, settingsFrom(m_link), &error))
        QMessageBox::warning(this, QStringLiteral("Koniec pracy"), error);
    endProgram();
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing by the frame ends the program without saving the settings.
    event->accept();
    endProgram();
}

void Form1::endProgram()
{
    if (m_ending)
        return;
    m_ending = true;
    // A running measurement test keeps its window on screen and refuses the
    // user's close; the program ends all the same, at once. The recorder
    // stops its refreshes and ends a file recording with its last whole line.
    m_measure->Form3_Command1_Click();
    m_recorder->stop();
    emit quitRequested();
    QCoreApplication::exit(0);
}

void Form1::KxReset_Click()
{
    m_link.SendMeterReset();
    showStatus(m_link.ReadCardStatus());
    // A stored link the user chose not to follow at once takes effect now.
    if (const auto after = m_config->writeWindow()->takeLinkAfterReset())
        QMessageBox::information(this, QStringLiteral("Reset miernika"),
                                 QStringLiteral("Po resecie miernik odpowiada %1 (ustawienia łącza zapisane w pamięci "
                                                "EEPROM). Parametry łącza w oknie głównym są bez zmian.")
                                     .arg(linkPlaceText(*after)));
}

void Form1::Form1_Command6_Click() { m_config->Form1_Command6_Click(); }
void Form1::Form1_Command7_Click() { m_config->Form1_Command7_Click(); }
void Form1::Form1_Command9_Click() { m_config->Form1_Command9_Click(); }
void Form1::Form1_Save_Click() { m_files->Form1_Save_Click(); }
void Form1::Form1_Load_Click() { m_files->Form1_Load_Click(); }
void Form1::Form1_Print_Click() { m_print->Form1_Print_Click(); }
void Form1::Form1_Command8_Click() { m_measure->Form1_Command8_Click(); }
void Form1::Form1_Timer1_Timer() { m_measure->Form1_Timer1_Timer(); }
void Form1::Command5_Click() { m_recorder->open(); }
// The manual from its beginning; F1 opens it on this window's topic.
void Form1::Command3_Click() { m_help->showTopic(QStringLiteral("wstep")); }

} // namespace vardel
