#include "ReportTestSupport.h"

#include "link/Module1.h"
#include "report/PainterSurface.h"
#include "report/PdfReport.h"
#include "report/PrintController.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QAbstractButton>
#include <QImage>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace vardel {
namespace {

using test::pdfPages;
using test::pdfText;
using test::popplerAvailable;
using test::reportTable;

// The words of a PDF file with their boxes, and the size of each page, as
// pdftotext -bbox gives them (points).
struct PdfWord {
    int page;
    double xMin, yMin, xMax, yMax;
    QString text;
};
struct PdfLayout {
    std::vector<QSizeF> pages;
    std::vector<PdfWord> words;
};

PdfLayout pdfLayout(const QString& pdf)
{
    PdfLayout out;
    const auto bbox = test::runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!bbox)
        return out;
    const QRegularExpression pageRe(QStringLiteral("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\""));
    const QRegularExpression wordRe(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    for (const QString& line : bbox->split(QLatin1Char('\n'))) {
        if (const auto pm = pageRe.match(line); pm.hasMatch()) {
            out.pages.emplace_back(pm.captured(1).toDouble(), pm.captured(2).toDouble());
        } else if (const auto wm = wordRe.match(line); wm.hasMatch()) {
            out.words.push_back({static_cast<int>(out.pages.size()), wm.captured(1).toDouble(),
                                 wm.captured(2).toDouble(), wm.captured(3).toDouble(), wm.captured(4).toDouble(),
                                 wm.captured(5)});
        }
    }
    return out;
}

TEST(PdfReport, KX4ReportHasNinePagesWithTheTable)
{
    if (!popplerAvailable())
        GTEST_SKIP() << "pdfinfo/pdftotext (poppler-utils) not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("kx4.pdf"));
    QString error;
    ASSERT_TRUE(printConfigurationToPdf(reportTable(kModelKX4), kModelKX4, pdf, &error)) << error.toStdString();
    EXPECT_EQ(pdfPages(pdf), 9);

    const QString text = pdfText(pdf);
    for (const char* expected : {"Współczynnik żółty 0", "Współczynnik żółty 254", "Konfiguracja miernika tablicowego",
                                 "Zakład Energetyczny Północ", "ul. Łąkowa 5", "Wartość", "FE", "Uwagi ogólne"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    // Register 254 holds 297.5.
    EXPECT_TRUE(text.contains(QStringLiteral("297.5")));

    const PdfLayout layout = pdfLayout(pdf);
    ASSERT_EQ(layout.pages.size(), 9u);
    const std::vector<PdfWord>& words = layout.words;
    const double width = layout.pages[0].width();
    const double height = layout.pages[0].height();
    EXPECT_LT(width, height) << "portrait";
    ASSERT_GT(words.size(), 9u * 33u);
    // Every word lies on its page: the layout's 11000 x 15000 twips fit the
    // portrait A4 with its margins, nothing is cut off at an edge.
    for (const PdfWord& w : words) {
        EXPECT_GE(w.xMin, 0);
        EXPECT_GE(w.yMin, 0);
        EXPECT_LE(w.xMax, width) << w.text.toStdString();
        EXPECT_LE(w.yMax, height) << w.text.toStdString();
    }

    // "strona 1" has one blank, "strona  9 " two: text extraction folds
    // blanks, so the gap between the word and the number tells.
    auto gapAfterWord = [&](int p) {
        for (std::size_t i = 0; i + 1 < words.size(); ++i)
            if (words[i].page == p && words[i].text == QLatin1String("strona"))
                return words[i + 1].xMin - words[i].xMax;
        return -1.0;
    };
    const double one = gapAfterWord(1);
    const double two = gapAfterWord(9);
    ASSERT_GT(one, 0);
    EXPECT_NEAR(two, 2 * one, 0.25 * one);
    EXPECT_EQ(std::count_if(words.begin(), words.end(), [](const PdfWord& w) { return w.page == 9 && w.text == QLatin1String("9"); }),
              1);
}

TEST(PdfReport, FailedWriteKeepsTheOldFileAndLeavesNoLitter)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    EXPECT_FALSE(printConfigurationToPdf(reportTable(kModelKX2), kModelKX2,
                                         dir.filePath(QStringLiteral("brak/raport.pdf")), &error));
    EXPECT_FALSE(error.isEmpty());

    // A report replaces an older file of the same name only once complete.
    const QString pdf = dir.filePath(QStringLiteral("raport.pdf"));
    {
        QFile old(pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("stary raport");
    }
    ASSERT_TRUE(printConfigurationToPdf(reportTable(kModelKX2), kModelKX2, pdf, &error)) << error.toStdString();
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(5).startsWith("%PDF"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("raport.pdf")});
    if (popplerAvailable()) {
        EXPECT_EQ(pdfPages(pdf), 3);
    }
}

// A rule is as wide on paper from a 1200 dpi printer as from a 300 dpi one:
// about 0.2 mm, seen on the page rendered at 600 dpi.
TEST(PdfReport, RulesHaveTheSameWidthOnPaperAtAnyResolution)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        GTEST_SKIP() << "pdftoppm (poppler-utils) is missing";
    for (int dpi : {300, 600, 1200}) {
        SCOPED_TRACE(dpi);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("rule.pdf"));
        {
            QPdfWriter writer(pdf);
            writer.setResolution(dpi);
            writer.setPageSize(QPageSize(QPageSize::A4));
            writer.setPageMargins(QMarginsF(0, 0, 0, 0));
            PainterSurface surface(writer);
            ASSERT_TRUE(surface.begin());
            surface.line(1000, 1440, 11000, 1440); // one inch from the top
            ASSERT_TRUE(surface.endDocument());
        }
        // A strip across the rule, 600 pixels to the inch.
        const QString prefix = dir.filePath(QStringLiteral("strip"));
        ASSERT_TRUE(test::runTool(QStringLiteral("pdftoppm"),
                                  {QStringLiteral("-r"), QStringLiteral("600"), QStringLiteral("-gray"),
                                   QStringLiteral("-singlefile"), QStringLiteral("-x"), QStringLiteral("1200"),
                                   QStringLiteral("-y"), QStringLiteral("560"), QStringLiteral("-W"),
                                   QStringLiteral("20"), QStringLiteral("-H"), QStringLiteral("80"), pdf, prefix}));
        const QImage strip(prefix + QStringLiteral(".pgm"));
        ASSERT_FALSE(strip.isNull());
        int dark = 0;
        for (int y = 0; y < strip.height(); ++y)
            if (qGray(strip.pixel(10, y)) < 128)
                ++dark;
        const double mm = dark * 25.4 / 600.0;
        EXPECT_GE(mm, 0.12) << dark << " pixels";
        EXPECT_LE(mm, 0.3) << dark << " pixels";
    }
}

// The main window's print action, with the dialog replaced by a hook.
class PrintControllerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        link.MeterModel = kModelKX3;
        table = reportTable(kModelKX3);
        table.NamesFile = dir.filePath(QStringLiteral("KX3_NAME.TXT"));
        for (auto& n : table.RegName)
            n = QStringLiteral("stara nazwa");
        controller.setMessageHook([this](const QString& m) { messages << m; });
    }

    void writeNames(int count)
    {
        QFile f(table.NamesFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(test::namesFileBytes(count, QStringLiteral("Próg alarmu")));
    }

    // The hook of a user who picks "print to file".
    void printToFile(const QString& path)
    {
        controller.setDialogHook([path](QPrinter& p) {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(path);
            return true;
        });
    }

    QTemporaryDir dir;
    test::FakePort port;
    Module1 link{port};
    RegisterTable table;
    PrintController controller{link, table, nullptr};
    QStringList messages;
};

TEST_F(PrintControllerTest, PrintsWithFreshNames)
{
    writeNames(100);
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    printToFile(pdf);
    controller.Form1_Print_Click();
    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::Printed);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(table.RegName[99], QStringLiteral("Próg alarmu 99"));
    ASSERT_TRUE(QFile::exists(pdf));
    if (!popplerAvailable())
        return;
    EXPECT_EQ(pdfPages(pdf), 4);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Próg alarmu 99")));
    EXPECT_FALSE(text.contains(QStringLiteral("stara nazwa")));
}

// Paper and orientation chosen in the print dialog: the report comes out on
// them whole, every column and every row of each page on the sheet, smaller
// where it must be; on paper where it would be unreadable the dialog comes
// back with the reason.
TEST_F(PrintControllerTest, ReportIsWholeOnAnyPaperOrSaysWhyNot)
{
    if (!popplerAvailable())
        GTEST_SKIP() << "pdfinfo/pdftotext (poppler-utils) not installed";
    writeNames(100);
    struct Case {
        const char* what;
        QPageSize::PageSizeId paper;
        QPageLayout::Orientation orientation;
        bool printed;
    };
    const Case cases[] = {
        {"A4", QPageSize::A4, QPageLayout::Portrait, true},
        {"Letter", QPageSize::Letter, QPageLayout::Portrait, true},
        {"A5", QPageSize::A5, QPageLayout::Portrait, true},
        {"A4 across", QPageSize::A4, QPageLayout::Landscape, true},
        {"A6", QPageSize::A6, QPageLayout::Portrait, false},
        {"A5 across", QPageSize::A5, QPageLayout::Landscape, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        const QString pdf = dir.filePath(QStringLiteral("%1.pdf").arg(QString::fromLatin1(c.what)));
        int asked = 0;
        controller.setDialogHook([&](QPrinter& p) {
            if (++asked > 1)
                return false; // the user gives up after the reason
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(pdf);
            p.setPageSize(QPageSize(c.paper));
            p.setPageOrientation(c.orientation);
            return true;
        });
        controller.Form1_Print_Click();
        if (!c.printed) {
            EXPECT_EQ(asked, 2) << "the dialog comes back";
            ASSERT_EQ(messages.size(), 1);
            EXPECT_TRUE(messages[0].contains(QStringLiteral("nieczytelny"))) << messages[0].toStdString();
            EXPECT_FALSE(QFile::exists(pdf));
            continue;
        }
        ASSERT_EQ(controller.lastOutcome(), PrintController::Outcome::Printed) << messages.join(u' ').toStdString();
        const PdfLayout layout = pdfLayout(pdf);
        ASSERT_EQ(layout.pages.size(), 4u);
        const QSizeF page = layout.pages[0];
        EXPECT_EQ(page.width() > page.height(), c.orientation == QPageLayout::Landscape);
        const QSizeF paper = QPageSize(c.paper).size(QPageSize::Point);
        EXPECT_NEAR(std::max(page.width(), page.height()), paper.height(), 1.0);
        QStringList onPage1;
        for (const PdfWord& w : layout.words) {
            EXPECT_GE(w.xMin, 0) << w.text.toStdString();
            EXPECT_LE(w.xMax, page.width()) << w.text.toStdString();
            EXPECT_LE(w.yMax, page.height()) << w.text.toStdString();
            if (w.page == 1)
                onPage1 << w.text;
        }
        for (const char* word : {"Wartość", "Rejestr", "Nazwa", "strona", "17"})
            EXPECT_TRUE(onPage1.contains(QString::fromUtf8(word))) << word;
    }
}

TEST_F(PrintControllerTest, PrintToFileOnAFullDiskSaysWhyAndKeepsTheOldFile)
{
    writeNames(100);
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    {
        QFile old(pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("stary raport");
    }
    printToFile(pdf);
    // A file-size limit fails the write part-way, as a full disk does.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    controller.Form1_Print_Click();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);

    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::PrinterError);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Nie można zapisać pliku %1: plik przekracza dopuszczalny rozmiar").arg(pdf)});
    QFile kept(pdf);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("stary raport"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("KX3_NAME.TXT"), QStringLiteral("out.pdf")}));
}

TEST_F(PrintControllerTest, CancelledDialogDoesNothing)
{
    writeNames(100);
    bool asked = false;
    controller.setDialogHook([&](QPrinter&) {
        asked = true;
        return false;
    });
    controller.Form1_Print_Click();
    EXPECT_TRUE(asked);
    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::Cancelled);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(table.RegName[0], QStringLiteral("stara nazwa")) << "names are read only after the dialog";
}

TEST_F(PrintControllerTest, MissingOrShortNamesFilePrintsNothing)
{
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    printToFile(pdf);

    controller.Form1_Print_Click();
    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::NoNames);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0],
              QStringLiteral("Nie można wydrukować konfiguracji: brak pliku nazw rejestrów %1").arg(table.NamesFile));
    EXPECT_FALSE(QFile::exists(pdf));

    writeNames(40);
    controller.Form1_Print_Click();
    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::NoNames);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].startsWith(QStringLiteral("Nie można wydrukować konfiguracji")));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("40")));
    EXPECT_FALSE(QFile::exists(pdf));
    // The names that were read stay read; the rest keep their text.
    EXPECT_EQ(table.RegName[39], QStringLiteral("Próg alarmu 39"));
    EXPECT_EQ(table.RegName[40], QStringLiteral("stara nazwa"));
}

TEST_F(PrintControllerTest, PdfFileThatCannotBeCreatedIsReported)
{
    writeNames(100);
    printToFile(dir.filePath(QStringLiteral("brak/out.pdf")));
    controller.Form1_Print_Click();
    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::PrinterError);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Nie można zapisać pliku %1: folder %2 nie istnieje")
                                        .arg(dir.filePath(QStringLiteral("brak/out.pdf")), dir.filePath(QStringLiteral("brak")))});
}

// The real dialog and message box, found and closed as a user would.
TEST_F(PrintControllerTest, RealDialogAndWarningBox)
{
    controller.setMessageHook({});
    QString title;
    bool pageRanges = true;
    bool toFile = false;
    QStringList rangeControlsShown;
    int rangeControlsFound = 0;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        title = dlg->windowTitle();
        pageRanges = dlg->testOption(QAbstractPrintDialog::PrintPageRange);
        toFile = dlg->testOption(QAbstractPrintDialog::PrintToFile);
        // What the user sees with the dialog's options opened ("Options >>").
        for (QAbstractButton* b : dlg->findChildren<QAbstractButton*>())
            if (b->text().endsWith(QLatin1String(">>")))
                b->click();
        QApplication::processEvents();
        for (const char* name : {"printRange", "from", "to", "pagesRadioButton", "pagesLineEdit"}) {
            if (auto* w = dlg->findChild<QWidget*>(QLatin1String(name))) {
                ++rangeControlsFound;
                if (w->isVisible())
                    rangeControlsShown << QLatin1String(name);
            }
        }
        dlg->reject();
    });
    controller.Form1_Print_Click();
    EXPECT_EQ(controller.lastOutcome(), PrintController::Outcome::Cancelled);
    EXPECT_EQ(title, QStringLiteral("Wydruk danych"));
    EXPECT_FALSE(pageRanges);
    EXPECT_GT(rangeControlsFound, 0) << "the dialog's page range controls were not found";
    EXPECT_EQ(rangeControlsShown, QStringList{});
    EXPECT_TRUE(toFile) << "without a printer the PDF file is the only way out";

    // No names file: the warning box says so.
    printToFile(dir.filePath(QStringLiteral("out.pdf")));
    QString boxText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxText = box->text();
        box->accept();
    });
    controller.Form1_Print_Click();
    EXPECT_TRUE(boxText.startsWith(QStringLiteral("Nie można wydrukować konfiguracji: brak pliku nazw rejestrów")));
}

} // namespace
} // namespace vardel
