#include "measure/MeasureTest.h"

#include "config/RegisterTexts.h"
#include "link/Module1.h"
#include "link/ShowNow.h"
#include "link/WindowHabits.h"
#include "measure/MeasureInterval.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace vardel {

MeasureTest::MeasureTest(Module1& link, QTimer& timer1, QWidget* parent)
    : m_link(link), m_timer(timer1), m_parent(parent)
{
}

MeasureTest::~MeasureTest()
{
    // The window's button calls back into this object; it must not outlive it.
    delete m_form3.data();
}

Form3* MeasureTest::form3()
{
    if (!m_form3) {
        m_form3 = new Form3(m_parent);
        QObject::connect(m_form3->command1(), &QPushButton::clicked, m_form3,
                         [this] { Form3_Command1_Click(); });
        // Escape ends the test, the only way the window goes.
        keepWindowHabits(m_form3, [this] { Form3_Command1_Click(); });
        Form3_Form_Load();
    }
    return m_form3;
}

void MeasureTest::Form3_Form_Load()
{
    ApplyTestLayout();
}

void MeasureTest::ApplyTestLayout()
{
    Form3* form = form3();
    for (const BoxVisibility& v : measureLayoutOf(m_link.MeterModel)) {
        form->frame(v.box)->setVisible(v.visible);
        form->text(v.box)->setVisible(v.visible);
    }
}

std::int16_t MeasureTest::showValues()
{
    const MeasureReading reading = fetchMeasuredValues(m_link);
    if (reading.flag != 0)
        return reading.flag;
    Form3* form = form3();
    // Every box of the model shows what this reply carried: a value it did
    // not carry is no number at all, not the last one seen.
    for (int box : measureBoxesOf(m_link.MeterModel))
        form->text(box)->clear();
    for (const MeasuredValue& v : reading.values)
        form->text(v.box)->setText(ValueText(v.value, QLocale()));
    return 0;
}

void MeasureTest::ShowMeasuredValues()
{
    if (showValues() != 0)
        stopTest();
}

void MeasureTest::stopTest()
{
    m_timer.stop();
    if (m_form3)
        hideHandingKeyboardTo(m_form3, m_parent);
}

void MeasureTest::Form1_Command8_Click()
{
    const Module1::Busy busy(m_link);
    ApplyTestLayout();
    Form3* form = form3();
    // The exchange does not return to the event loop: the window goes on
    // screen now, so that it is there while the meter is asked.
    showNow(form);
    form->command1()->setFocus();

    m_overran = false;
    showPace();
    if (refreshOnce())
        m_timer.start();
}

bool MeasureTest::refreshOnce()
{
    const auto started = m_link.cardClock().cardTime();
    std::int16_t flag = 0;
    m_link.RequestMeasureBlock(flag);
    if (flag != 0 || showValues() != 0) {
        stopTest();
        return false;
    }
    m_overran = overran(m_link, started, m_timer.interval());
    return true;
}

void MeasureTest::showPace()
{
    QLabel* note = form3()->paceNote();
    const std::int16_t model = m_link.MeterModel;
    const int least = shortestRefreshMs(std::span(&model, 1), m_link.BaudCode, responseTimeInForce(m_link));
    if (least <= m_timer.interval()) {
        note->hide();
        return;
    }
    note->setText(QStringLiteral("Łącze nie nadąża z odświeżaniem co %1 s: %2 jeden odczyt (%3) trwa co najmniej "
                                 "%4 s. Wartości odświeżają się rzadziej; odświeżenie, które przypada w trakcie "
                                 "poprzedniego, jest pomijane.")
                      .arg(secondsNumberText(m_timer.interval()), wireConditionsText(m_link), modelNameOf(model),
                           secondsNumberText(least)));
    note->show();
}

void MeasureTest::Form1_Timer1_Timer()
{
    // A tick that comes while another exchange or a read or write of the
    // configuration is on its way (through the event handling of a window
    // being put on screen) skips its turn; the next one refreshes as usual.
    if (m_link.busy())
        return;
    // A tick that fell due while the last refresh still held the link is
    // dropped, not run at once behind it: the test never piles refreshes up.
    if (m_overran) {
        m_overran = false;
        return;
    }
    const Module1::Busy busy(m_link);
    showPace();
    refreshOnce();
}

void MeasureTest::Form3_Command1_Click()
{
    stopTest();
}

bool MeasureTest::isRunning() const
{
    return m_timer.isActive();
}

} // namespace vardel
