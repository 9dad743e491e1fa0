#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

namespace vardel {

class Module1;
struct RegisterTable;
class Form2;
class Form4;
class Form5;

// The configuration windows of the main window: the read-progress window, the
// register editor and the write window. Each is a top-level, modeless window
// made once and afterwards only shown and hidden.
class ConfigWindows {
public:
    ConfigWindows(Module1& link, RegisterTable& table, QWidget* mainWindow = nullptr);
    ~ConfigWindows();
    ConfigWindows(const ConfigWindows&) = delete;
    ConfigWindows& operator=(const ConfigWindows&) = delete;

    // "Odczyt konfiguracji z miernika tablicowego": reads every register of
    // the selected model with the progress window on screen.
    void Form1_Command6_Click();
    // "Edycja   konfiguracji miernika tablicowego": refills and shows the editor.
    void Form1_Command7_Click();
    // "Zapis konfiguracji do miernika tablicowego": prepares and shows Form5.
    void Form1_Command9_Click();
    // Start-up: the write window exists (hidden) with "Zapis do EEprom-u" unticked.
    void prepareWriteWindow();
    // Told after every complete read (false) and write (true) of the meter.
    void setTransferHandler(std::function<void(bool written)> handler) { m_transferred = std::move(handler); }

    // The editor; the first call creates it and runs Form2_Form_Load, hidden.
    Form2* editor();
    // The editor if it was made already, else nullptr (nothing is created).
    Form2* editorIfLoaded() const;
    Form4* readWindow();
    Form5* writeWindow();

    // -1 while "Zapis do EEprom-u" is ticked in the current opening of Form5.
    std::int16_t EepromFlag = 0;

private:
    void placeNearMainWindow(QWidget* window);

    Module1& m_link;
    RegisterTable& m_table;
    QPointer<QWidget> m_mainWindow;
    std::unique_ptr<Form2> m_form2;
    std::unique_ptr<Form4> m_form4;
    std::unique_ptr<Form5> m_form5;
    std::function<void(bool)> m_transferred;
};

} // namespace vardel
