#pragma once

#include "link/LinkInterfaces.h"

#include <QWidget>

#include <memory>

class QLabel;

namespace vardel {

// Transmit error window: "Błąd nadawania danych".
class Form6 : public QWidget {
    Q_OBJECT
public:
    explicit Form6(QWidget* parent = nullptr);
    // Makes the window visible and paints it at once; a visible one stays.
    void showError();
    QLabel* label1() const { return m_label1; }

private:
    QLabel* m_label1;
};

// Receive error window: "Błąd odbioru danych".
class Form7 : public QWidget {
    Q_OBJECT
public:
    explicit Form7(QWidget* parent = nullptr);
    void showError();
    QLabel* label1() const { return m_label1; }

private:
    QLabel* m_label1;
};

// The two error windows behind the link's ErrorWindows interface. Each window
// is made on first use and kept until this object goes; closing one by the
// user only hides it, so the next failure shows the same window again.
class ErrorForms : public ErrorWindows {
public:
    ErrorForms();
    ~ErrorForms() override;

    void showTransmitError() override;
    void showReceiveError() override;

    Form6* form6();
    Form7* form7();

private:
    std::unique_ptr<Form6> m_form6;
    std::unique_ptr<Form7> m_form7;
};

} // namespace vardel
