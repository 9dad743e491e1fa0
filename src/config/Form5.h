#pragma once

#include "config/ConfigTransfer.h"

#include <QWidget>

#include <chrono>
#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vardel {

class Module1;
struct RegisterTable;
class FractionalProgressBar;

// "Zapis rejestrów konfiguracyjnych do miernika": writes the register table
// to the meter, with the EEPROM store when "Zapis do EEprom-u" was ticked in
// this opening.
class Form5 : public QWidget {
    Q_OBJECT
public:
    // eepromFlag is the program's EepromFlag (0 / -1); the window keeps it.
    Form5(Module1& link, const RegisterTable& table, std::int16_t& eepromFlag, QWidget* parent = nullptr);
    ~Form5() override;

    // Main window button: untick, EepromFlag 0, show with an empty counter.
    void Form1_Command9_Click();
    void Form5_Check1_Click();
    // Start-up: "Zapis do EEprom-u" unticked while the window stays hidden.
    void untickEeprom();
    // "Zapisz": the write, then hide. Refuses to start while a write runs.
    void Form5_Command1_Click();
    // "Zakończ".
    void Form5_Command2_Click();

    // One register write request (the reply is awaited separately).
    void Kx_Reg_Write(std::int16_t r, float value);

    bool isWriting() const { return m_writing; }
    const TransferResult& lastResult() const { return m_lastResult; }
    void setEepromPause(std::chrono::milliseconds pause) { m_pause = pause; }

    FractionalProgressBar* progressBar() const { return m_progress; }
    QLineEdit* counter() const { return m_text1; }

private:
    Module1& m_link;
    const RegisterTable& m_table;
    std::int16_t& m_eepromFlag;
    std::chrono::milliseconds m_pause = kEepromPause;
    bool m_writing = false;
    TransferResult m_lastResult;

    FractionalProgressBar* m_progress = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLabel* m_label1 = nullptr;
    QCheckBox* m_check1 = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
};

} // namespace vardel
