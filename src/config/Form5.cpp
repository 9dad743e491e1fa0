#include "config/Form5.h"

#include "config/Form4.h"
#include "config/RegisterTable.h"
#include "config/StoreProof.h"
#include "link/AskYesNo.h"
#include "link/Module1.h"
#include "link/ShowNow.h"
#include "link/WindowHabits.h"

#include <QApplication>

#include <algorithm>
#include <utility>
#include <QMessageBox>

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace vardel {

Form5::Form5(Module1& link, const RegisterTable& table, std::int16_t& eepromFlag, QWidget* parent)
    : QWidget(parent, Qt::Window), m_link(link), m_table(table), m_eepromFlag(eepromFlag)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Zapis rejestrów konfiguracyjnych do miernika"));

    m_progress = new FractionalProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));

    const CounterBox counter = makeCounterBox(this, QStringLiteral("Zapisanych rejestrów"));
    m_text1 = counter.text1;
    m_label1 = counter.label1;
    m_progress->setAccessibleName(m_label1->text());

    m_check1 = new QCheckBox(QStringLiteral("Zapis do EEprom-u"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setAccessibleName(m_check1->text());

    m_command1 = new QPushButton(QStringLiteral("Zapisz"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAccessibleName(m_command1->text());
    m_command2 = new QPushButton(QStringLiteral("Zakończ"), this);
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command2->setAccessibleName(m_command2->text());

    auto* counterRow = new QHBoxLayout;
    counterRow->addWidget(m_text1);
    counterRow->addWidget(m_label1);
    counterRow->addStretch();
    counterRow->addWidget(m_check1);
    // After a store the meter hears nothing until it has finished: the
    // window stays up and says what it waits for.
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("State"));
    m_state->setWordWrap(true);
    m_state->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_command1);
    buttons->addWidget(m_command2);
    auto* layout = new QVBoxLayout(scrollingContents(this));
    layout->addWidget(m_progress);
    layout->addLayout(counterRow);
    layout->addWidget(m_state);
    layout->addLayout(buttons);
    resize(460, 130);
    // Escape leaves as "Zakończ" does (not while a write runs).
    keepWindowHabits(this, [this] { Form5_Command2_Click(); });

    // Every change of the box counts, also the untick made by opening.
    connect(m_check1, &QCheckBox::stateChanged, this, [this] { Form5_Check1_Click(); });
    connect(m_command1, &QPushButton::clicked, this, [this] { Form5_Command1_Click(); });
    connect(m_command2, &QPushButton::clicked, this, [this] { Form5_Command2_Click(); });

    m_ask = [this](const QString& title, const QString& text, bool yesByDefault) {
        return askYesNo(this, title, text, yesByDefault);
    };
    m_warn = [this](const QString& title, const QString& text) { QMessageBox::warning(this, title, text); };
}

Form5::~Form5() = default;

void Form5::Form1_Command9_Click()
{
    m_check1->setChecked(false);
    m_eepromFlag = 0;
    bringBack(this);
    // The window is there to write: Enter or Space starts it.
    m_command1->setFocus();
    m_text1->clear();
    // The maximum stays as the last write left it (100 before the first).
    m_progress->setFractionalValue(0.01);
    repaint();
}

void Form5::Form5_Check1_Click()
{
    m_eepromFlag = m_check1->checkState() != Qt::Unchecked ? std::int16_t{-1} : std::int16_t{0};
}

void Form5::untickEeprom()
{
    m_check1->setChecked(false);
}

void Form5::Form5_Command1_Click()
{
    // A write runs from start to end inside this handler; anything that
    // reaches the buttons meanwhile (a nested event loop of an error window,
    // say) must not start a second one over it.
    if (m_writing)
        return;
    // From the first look at the meter on: the guard reads it, and an event
    // let through meanwhile must find the window busy.
    m_writing = true;
    m_command1->setEnabled(false);
    m_command2->setEnabled(false);
    m_check1->setEnabled(false);
    const auto release = [this] {
        m_command1->setEnabled(true);
        m_command2->setEnabled(true);
        m_check1->setEnabled(true);
        m_writing = false;
    };
    const std::optional<LinkGuard> allowed = askAboutLink();
    if (!allowed) {
        release();
        return;
    }
    const LinkGuard& guard = *allowed;

    m_progress->setFractionalMaximum(m_table.RegCount);
    m_progress->setFractionalValue(0.001);
    const bool store = m_eepromFlag == -1;
    // The counter moves before each acknowledgement is awaited, so after a
    // failure it shows the register that was not confirmed.
    m_lastResult = WriteConfiguration(
        m_link, m_table, store,
        [this](int done, int) {
            m_progress->setFractionalValue(done);
            m_text1->setText(counterText(done));
            paintNow(this);
        },
        m_pause);

    if (m_lastResult.complete && m_written)
        m_written();
    if (m_lastResult.complete && store) {
        // The EEPROM now holds this link, whatever the user says next.
        m_linkAfterReset = guard.changesLink() ? std::optional<MeterLink>(guard.after) : std::nullopt;
        if (guard.changesLink() && m_follow) {
            offerToFollow(guard);
        } else {
            // A meter storing its EEPROM answers nobody: the next exchange
            // (the test window, a read) would fail. Wait here until it
            // answers again, in sight.
            const auto bound = storeBound(m_table.RegCount);
            if (!waitUntilMeterAnswers(m_link, bound, [&](std::chrono::nanoseconds waited) {
                    showWait(QStringLiteral("Miernik zapisuje konfigurację w pamięci EEPROM i do końca zapisu nie odpowiada."),
                             waited, bound);
                }))
                m_warn(windowTitle(), QStringLiteral("Miernik nie odpowiada po poleceniu zapisu w pamięci EEPROM."));
        }
    }
    m_state->hide();
    release();
    hide();
    m_eepromFlag = 0;
}

void Form5::showWait(const QString& what, std::chrono::nanoseconds waited, std::chrono::nanoseconds bound)
{
    using Seconds = std::chrono::duration<double>;
    const double gone = Seconds(waited).count(), all = Seconds(bound).count();
    m_progress->setFractionalMaximum(all);
    m_progress->setFractionalValue(std::min(gone, all));
    m_state->setText(QStringLiteral("%1 Czekanie: %2 s z najwyżej %3 s.")
                         .arg(what, QLocale().toString(gone, 'f', 1), QLocale().toString(all, 'f', 1)));
    m_state->show();
    paintNow(this);
}

std::optional<MeterLink> Form5::takeLinkAfterReset()
{
    return std::exchange(m_linkAfterReset, std::nullopt);
}

std::optional<LinkGuard> Form5::askAboutLink()
{
    // Asked before anything goes out: a table whose link registers differ
    // from the link in use moves the meter where the program cannot see it.
    // The meter's response time is its own: read for the question.
    const std::optional<float> response = readResponseTime(m_link);
    LinkGuard guard = checkLinkChanges(m_link, m_table, response);
    const QString title = windowTitle();
    const QString where = QStringLiteral("w konfiguracji");
    if (guard.unusable()) {
        m_warn(title, QStringLiteral("Nie zapisano konfiguracji: miernik nie przyjmie tych ustawień łącza.\n")
                          + guard.unusableLines(m_link.MeterModel, where,
                                                QStringLiteral("wpisz dłuższy czas w polu „Czas odpowiedzi "
                                                               "miernika [ms]” okna głównego"))
                                .join(QLatin1Char('\n')));
        return std::nullopt;
    }
    if (guard.changesLink()) {
        // Without the store the meter keeps answering where it does now:
        // only the registers change, and the question says no more.
        const QString lines = guard.lines(m_link.MeterModel, where).join(QLatin1Char('\n'));
        const QString question =
            m_eepromFlag == -1
                ? QStringLiteral("Konfiguracja zmienia łącze miernika:\n%1\nPo zapisie w pamięci EEPROM i resecie miernik "
                                 "będzie odpowiadał %2. Zapisać mimo to?")
                      .arg(lines, linkPlaceText(guard.after))
                : QStringLiteral("Konfiguracja zmienia łącze miernika:\n%1\nZapisać mimo to?").arg(lines);
        if (!m_ask(title, question, false))
            return std::nullopt;
    }
    if (guard.movesMeter()) {
        // Onto a meter that answers there already, both would garble each
        // other's replies for good.
        if (const std::optional<QString> found = meterAnsweringAt(m_link, guard.after, m_identify)) {
            m_warn(title, linkTakenText(guard.after, *found));
            return std::nullopt;
        }
    }
    return guard;
}

void Form5::offerToFollow(const LinkGuard& guard)
{
    const QString title = windowTitle();
    if (!m_ask(title,
               QStringLiteral("Miernik przyjmie nowe ustawienia łącza po resecie; potem będzie odpowiadał %1. "
                              "Zresetować go po zakończeniu zapisu w pamięci EEPROM i ustawić te parametry łącza "
                              "w oknie głównym?")
                   .arg(linkPlaceText(guard.after)),
               true))
        return; // remembered: the next „Reset miernika” says where to look
    m_linkAfterReset.reset();
    // The reset waits for the store to end; the main window follows the
    // meter before it is looked for again.
    RestartSteps steps;
    steps.after = guard.after;
    steps.follow = m_follow;
    // Up to 12 s with the window in sight and the wait moving in it.
    steps.progress = [this](RestartStep step, std::chrono::nanoseconds waited, std::chrono::nanoseconds bound) {
        showWait(step == RestartStep::Storing
                     ? QStringLiteral("Miernik zapisuje konfigurację w pamięci EEPROM; potem zostanie zresetowany.")
                     : QStringLiteral("Miernik startuje po resecie."),
                 waited, bound);
    };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const RestartOutcome restarted = restartAfterStore(m_link, steps);
    QApplication::restoreOverrideCursor();
    if (restarted.ok)
        return;
    switch (restarted.failedAt) {
    case RestartStep::Storing:
        m_warn(title, QStringLiteral("Miernik nie odpowiada po poleceniu zapisu w pamięci EEPROM; nie wysłano resetu. "
                                     "Parametry łącza w oknie głównym są bez zmian."));
        break;
    case RestartStep::Reset:
        break; // the transmit error window says it
    case RestartStep::ResetIgnored:
        m_warn(title, QStringLiteral("Miernik odpowiedział zaraz po resecie: reset nie został przyjęty. "
                                     "Parametry łącza w oknie głównym są bez zmian."));
        break;
    case RestartStep::Starting:
        if (restarted.backAtOldLink)
            m_warn(title, QStringLiteral("%1 Miernik odpowiada dalej %2; parametry łącza w oknie głównym wróciły "
                                         "do poprzednich.")
                              .arg(storeLostText(), linkPlaceText(linkInUse(m_link))));
        else
            m_warn(title, QStringLiteral("Miernik nie odpowiada po resecie %1.").arg(linkPlaceText(guard.after)));
        break;
    }
}

void Form5::Form5_Command2_Click()
{
    if (m_writing)
        return;
    hide();
    m_eepromFlag = 0;
}

void Form5::Kx_Reg_Write(std::int16_t r, float value)
{
    m_link.Kx_Reg_Write(r, value);
}

} // namespace vardel
