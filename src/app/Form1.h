#pragma once

#include "config/LinkGuard.h"
#include "link/LinkInterfaces.h"

#include <QString>
#include <QWidget>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace vardel {

class Module1;
struct RegisterTable;
class ConfigWindows;
class ConfigFileDialogs;
class PrintController;
class MeasureTest;
class ErrorForms;
class RecorderWindow;
class HelpController;

// The main window: link parameters, card status, and one button for each
// operation on the card, the meter and configuration files.
class Form1 : public QWidget, public LinkControls {
    Q_OBJECT
public:
    Form1(Module1& link, RegisterTable& table, QString programDir, bool simulatedCard, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: settings file, controls, card reset, link parameters.
    void Form_Load();
    // The simulated card keeps a real card's pace: its note says so.
    void noteRealPace();

    // LinkControls: CardSetLink reads the buttons and the box themselves.
    int selectedBaudButton() const override;
    int transmitCheckValue() const override;

    // Handlers, named after their controls.
    void Option_Click(int model);      // Option1..Option3
    void BaudOption_Click(int code);   // Option4..Option9
    void Check1_Click();
    void Text1_Change();
    void Text2_Change();
    void Text3_Change();
    void Text5_Change();               // "Czas odpowiedzi miernika [ms]"
    void Command1_Click();             // "Test karty"
    void Command2_Click();             // "Reset karty"
    void Command4_Click();             // "Koniec pracy"
    void KxReset_Click();              // "Reset miernika"
    void Form1_Command6_Click();
    void Form1_Command7_Click();
    void Form1_Command9_Click();
    void Form1_Save_Click();
    void Form1_Load_Click();
    void Form1_Print_Click();
    void Form1_Command8_Click();
    void Form1_Timer1_Timer();
    void Command5_Click();             // "Rejestrator"
    void Command3_Click();             // "Pomoc"

    QString settingsPath() const;
    // Where the configurations read from meters and written to them are
    // kept; empty (the default): nowhere.
    void setHistoryFolder(QString folder) { m_historyFolder = std::move(folder); }
    // The link parameters set to where a meter answers: address (on a KX-3,
    // whose address is a register), baud button and "Kontrola nadawania".
    void followMeter(const MeterLink& to);

    ConfigWindows& configWindows() { return *m_config; }
    MeasureTest& measureTest() { return *m_measure; }
    ErrorForms& errorForms() { return *m_errors; }
    ConfigFileDialogs& fileDialogs() { return *m_files; }
    PrintController& printController() { return *m_print; }
    RecorderWindow& recorderWindow() { return *m_recorder; }
    HelpController& help() { return *m_help; }
    QTimer& timer1() { return *m_timer1; }

signals:
    // Emitted by "Koniec pracy" and by closing the window, just before the
    // window ends the event loop.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    // Ends the event loop, whatever other windows are open.
    void endProgram();
    void showStatus(int status);
    void markAddressBox(QLineEdit* box, bool valid);
    void keepInHistory(bool written);

    Module1& m_link;
    RegisterTable& m_table;
    QString m_programDir;
    bool m_simulated;
    QString m_historyFolder;

    QLabel* m_heading = nullptr;
    QRadioButton* m_model[3] = {};
    QRadioButton* m_baud[6] = {};
    QCheckBox* m_check1 = nullptr;
    QLineEdit* m_text1 = nullptr; // "Adres karty"
    QLineEdit* m_text2 = nullptr; // "Adres sieciowy master-a"
    QLineEdit* m_text3 = nullptr; // "Adres sieciowy miernika"
    QLineEdit* m_text4 = nullptr; // "Status karty"
    QLineEdit* m_text5 = nullptr; // "Czas odpowiedzi miernika [ms]"
    QTimer* m_timer1 = nullptr;

    std::unique_ptr<ErrorForms> m_errors;
    std::unique_ptr<ConfigWindows> m_config;
    std::unique_ptr<ConfigFileDialogs> m_files;
    std::unique_ptr<PrintController> m_print;
    std::unique_ptr<MeasureTest> m_measure;
    std::unique_ptr<RecorderWindow> m_recorder;
    std::unique_ptr<HelpController> m_help;
    bool m_ending = false;
};

} // namespace vardel
