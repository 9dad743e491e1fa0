#pragma once

#include "measure/Form3.h"

#include <QPointer>

#include <cstdint>

class QTimer;
class QWidget;

namespace vardel {

class Module1;

// The measurement test: "Test pomiarów" of the main window starts it, every
// tick of the main window's Timer1 refreshes it, "Koniec testu" or a failed
// exchange ends it. Timer1 stays the main window's; it connects its timeout
// to Form1_Timer1_Timer and gives it a 1000 ms interval.
class MeasureTest {
public:
    MeasureTest(Module1& link, QTimer& timer1, QWidget* parent = nullptr);
    ~MeasureTest();
    MeasureTest(const MeasureTest&) = delete;
    MeasureTest& operator=(const MeasureTest&) = delete;

    void Form1_Command8_Click(); // "Test pomiarów": start or restart
    void Form1_Timer1_Timer();   // one refresh
    void Form3_Command1_Click(); // "Koniec testu"

    // The test window, created (and laid out for the model) on first use.
    Form3* form3();

    // Frames 3, 4, 6, 8, 9, 10 and their boxes shown or hidden for MeterModel.
    void ApplyTestLayout();
    // Fetches the reply the card holds into RxBuf and writes the values into
    // their boxes; a box of the model whose value the reply did not carry is
    // emptied. A reply too long for RxBuf is refused by the fetch and ends the
    // test like a failed exchange.
    void ShowMeasuredValues();

    bool isRunning() const; // Timer1 enabled

private:
    void Form3_Form_Load();
    // ShowMeasuredValues with its flag: 1 when the reply was refused.
    std::int16_t showValues();
    void stopTest();
    // One exchange, timed on the card's clock; false when the test ended.
    bool refreshOnce();
    // The note of a refresh longer than Timer1's interval.
    void showPace();

    Module1& m_link;
    QTimer& m_timer;
    QWidget* m_parent;
    QPointer<Form3> m_form3;
    bool m_overran = false; // the last refresh outlasted Timer1's interval
};

} // namespace vardel
