#include "report/PrintController.h"

#include "config/RegisterTexts.h"
#include "link/Module1.h"
#include "report/PainterSurface.h"
#include "report/PdfReport.h"
#include "report/PrintConfiguration.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace vardel {

namespace {

// The report is always printed whole. Qt's own dialog offers "Pages from ... to"
// even without the page-range option, and puts it back each time it is
// shown; its range box is taken away again after every showing.
class ReportPrintDialog : public QPrintDialog {
public:
    using QPrintDialog::QPrintDialog;

    void setVisible(bool visible) override
    {
        QPrintDialog::setVisible(visible);
        if (visible)
            if (auto* range = findChild<QGroupBox*>(QStringLiteral("gbPrintRange")))
                range->hide();
    }
};

} // namespace

std::unique_ptr<QPrintDialog> makePrintDialog(QPrinter& printer, QWidget* parent)
{
    auto dialog = std::make_unique<ReportPrintDialog>(&printer, parent);
    dialog->setObjectName(QStringLiteral("PrintDialog"));
    dialog->setWindowTitle(QStringLiteral("Wydruk danych"));
    // No page ranges. Printing to a file stays on, because on a machine
    // without a printer the PDF file is the only way to get the report.
    dialog->setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    return dialog;
}

PrintController::PrintController(Module1& link, RegisterTable& table, QWidget* parent)
    : QObject(parent)
    , m_link(link)
    , m_table(table)
    , m_parent(parent)
{
}

bool PrintController::runDialog(QPrinter& printer)
{
    if (m_dialogHook)
        return m_dialogHook(printer);
    const std::unique_ptr<QPrintDialog> dialog = makePrintDialog(printer, m_parent);
    if (dialog->exec() != QDialog::Accepted)
        return false;
    printer.setPrintRange(QPrinter::AllPages);
    printer.setFromTo(0, 0);
    return true;
}

void PrintController::warn(const QString& text)
{
    m_message = text;
    if (m_messageHook)
        m_messageHook(text);
    else
        QMessageBox::warning(m_parent, QStringLiteral("Wydruk danych"), text);
}

void PrintController::Form1_Print_Click()
{
    m_outcome = Outcome::None;
    m_message.clear();

    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Konfiguracja miernika %1").arg(m_table.ModelTag));
    applyReportPageSetup(printer);
    for (;;) {
        if (!runDialog(printer)) {
            m_outcome = Outcome::Cancelled;
            return;
        }
        // The paper and the orientation are the user's; the margins are ours.
        // On paper smaller than the layout the report is printed smaller,
        // whole, as long as it stays readable; else the dialog comes back.
        applyReportPageSetup(printer, printer.pageLayout().orientation());
        const double scale = reportScaleOn(printer);
        if (scale >= kSmallestReportScale)
            break;
        const QString paper = printer.pageLayout().pageSize().name();
        const int percent = static_cast<int>(scale * 100);
        warn(printer.pageLayout().orientation() == QPageLayout::Landscape
                 ? QStringLiteral("Na papierze %1 ułożonym poziomo wydruk konfiguracji zmieściłby się tylko "
                                  "zmniejszony do %2 % i byłby nieczytelny. Wybierz orientację pionową albo "
                                  "większy papier.").arg(paper).arg(percent)
                 : QStringLiteral("Papier %1 jest za mały na wydruk konfiguracji: zmniejszony do %2 % byłby "
                                  "nieczytelny. Wybierz większy papier, np. A4.").arg(paper).arg(percent));
    }

    // Names are read before any output, so a missing file prints nothing.
    const NamesLoad names = LoadRegisterNames(m_table);
    if (!names.ok) {
        m_outcome = Outcome::NoNames;
        const bool missing = m_table.NamesFile.isEmpty() || !QFileInfo::exists(m_table.NamesFile);
        warn(missing || names.message.isEmpty()
                 ? QStringLiteral("Nie można wydrukować konfiguracji: brak pliku nazw rejestrów %1")
                       .arg(m_table.NamesFile)
                 : QStringLiteral("Nie można wydrukować konfiguracji.\n%1").arg(names.message));
        return;
    }

    // Printing to a PDF file goes through the program's own PDF output: it
    // writes the file whole or not at all, where the printer would leave a
    // cut file on a full disk without a word.
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        QString error;
        if (!printConfigurationToPdf(m_table, m_link.MeterModel, printer.outputFileName(),
                                     QDateTime::currentDateTime(), &error, printer.pageLayout().pageSize(),
                                     printer.pageLayout().orientation())) {
            m_outcome = Outcome::PrinterError;
            warn(error);
            return;
        }
        m_outcome = Outcome::Printed;
        return;
    }

    PainterSurface surface(printer);
    surface.fitLayout(kReportWidthTwips, kReportHeightTwips);
    surface.setAbortHandler([&printer] { printer.abort(); });
    surface.setErrorProbe([&printer] { return printer.printerState() == QPrinter::Error; });
    const bool printed = surface.begin()
        && PrintConfiguration(surface, m_table, m_link.MeterModel, QDateTime::currentDateTime());
    if (!printed) {
        surface.abort();
        m_outcome = Outcome::PrinterError;
        warn(QStringLiteral("Błąd drukarki: %1. Wydruk przerwano.").arg(surface.failureText()));
        return;
    }
    m_outcome = Outcome::Printed;
}

} // namespace vardel
