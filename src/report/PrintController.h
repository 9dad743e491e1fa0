#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QPrintDialog;
class QPrinter;
class QWidget;

namespace vardel {

// The printer dialog of the printout, not yet shown: "Wydruk danych",
// without any choice of pages.
std::unique_ptr<QPrintDialog> makePrintDialog(QPrinter& printer, QWidget* parent);

class Module1;
struct RegisterTable;

// The main window's "Wydruk konfiguracji miernika na drukarce": the printer
// dialog, the register names, then the report on the chosen printer.
class PrintController : public QObject {
    Q_OBJECT
public:
    enum class Outcome { None, Cancelled, NoNames, PrinterError, Printed };

    // Stands in for the printer dialog: configures the printer and returns
    // true to print, false for a cancelled dialog.
    using DialogHook = std::function<bool(QPrinter&)>;
    // Receives what would be shown in a warning box.
    using MessageHook = std::function<void(const QString&)>;

    PrintController(Module1& link, RegisterTable& table, QWidget* parent);

    void setDialogHook(DialogHook hook) { m_dialogHook = std::move(hook); }
    void setMessageHook(MessageHook hook) { m_messageHook = std::move(hook); }

    void Form1_Print_Click();

    // How the last printout ended, and the message shown for it (if any).
    Outcome lastOutcome() const { return m_outcome; }
    QString lastMessage() const { return m_message; }

private:
    bool runDialog(QPrinter& printer);
    void warn(const QString& text);

    Module1& m_link;
    RegisterTable& m_table;
    QWidget* m_parent;
    DialogHook m_dialogHook;
    MessageHook m_messageHook;
    Outcome m_outcome = Outcome::None;
    QString m_message;
};

} // namespace vardel
