#pragma once

#include "config/ConfigTransfer.h"

#include <QProgressBar>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace vardel {

class Module1;
struct RegisterTable;

// A progress bar that takes fractional values (0.1 before the first register,
// 0.001 at the start of a write). QProgressBar counts in integers, so the
// value and the maximum are kept in thousandths.
class FractionalProgressBar : public QProgressBar {
    Q_OBJECT
public:
    static constexpr double kScale = 1000.0;

    explicit FractionalProgressBar(QWidget* parent = nullptr);

    void setFractionalMaximum(double maximum);
    void setFractionalValue(double value);
    double fractionalMaximum() const { return m_maximum; }
    double fractionalValue() const { return m_value; }

private:
    double m_maximum = 100.0; // the control's default until a loop sets it
    double m_value = 0.0;
};

// "Odczyt rejestrów konfiguracyjnych z miernika": shown only while the
// registers are read.
class Form4 : public QWidget {
    Q_OBJECT
public:
    explicit Form4(QWidget* parent = nullptr);
    ~Form4() override;

    // The whole read: show, read every register of the model with the
    // counter moving, hide. Stops at the first failed exchange.
    TransferResult readConfiguration(Module1& link, RegisterTable& table);

    FractionalProgressBar* progressBar() const { return m_progress; }
    QLineEdit* counter() const { return m_text1; }

private:
    FractionalProgressBar* m_progress = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLabel* m_label1 = nullptr;
};

// The counter text of Form4 and Form5: three blanks and the digits.
QString counterText(int n);

// The counter of the read and write windows: the small read-only Arial box
// Text1 and its caption Label1 beside it, both named after the caption.
struct CounterBox {
    QLineEdit* text1;
    QLabel* label1;
};
CounterBox makeCounterBox(QWidget* parent, const QString& caption);

} // namespace vardel
