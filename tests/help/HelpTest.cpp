// The user manual and its window: every topic has its page and every link its
// target, F1 opens the topic of the window it is pressed in, the search finds
// words with or without Polish diacritics.

#include "app/Form1.h"
#include "config/ConfigWindows.h"
#include "config/Form2.h"
#include "config/Form5.h"
#include "config/RegisterTable.h"
#include "help/HelpTopics.h"
#include "help/HelpWindow.h"
#include "link/ErrorForms.h"
#include "link/Module1.h"
#include "measure/MeasureTest.h"
#include "recorder/RecorderWindow.h"
#include "sim/SimCard.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <set>

namespace vardel {
namespace {

TEST(HelpTopics, EveryTopicHasItsPageAndEveryLinkItsTarget)
{
    std::set<QString> ids;
    for (const HelpTopic& t : helpTopics())
        ids.insert(QString::fromLatin1(t.id));
    const QRegularExpression link(QStringLiteral("href=\"([^\"]+)\""));
    const QRegularExpression heading(QStringLiteral("<h1>([^<]+)</h1>"));
    for (const HelpTopic& t : helpTopics()) {
        SCOPED_TRACE(t.id);
        const QString html = helpTopicHtml(QString::fromLatin1(t.id));
        ASSERT_FALSE(html.isEmpty());
        EXPECT_EQ(heading.match(html).captured(1), QString::fromUtf8(t.title));
        EXPECT_EQ(helpTopicOfUrl(helpTopicUrl(QString::fromLatin1(t.id))), QString::fromLatin1(t.id));
        for (auto m = link.globalMatch(html); m.hasNext();) {
            // A link names a page, and maybe a place in it that the page has.
            const QString target = m.next().captured(1);
            const QString page = target.section(QLatin1Char('#'), 0, 0);
            const QString place = target.section(QLatin1Char('#'), 1);
            EXPECT_TRUE(page.endsWith(QLatin1String(".html")) && ids.count(page.chopped(5)) == 1) << target.toStdString();
            if (!place.isEmpty()) {
                EXPECT_TRUE(helpTopicHtml(page.chopped(5)).contains(QStringLiteral("id=\"%1\"").arg(place)))
                    << target.toStdString();
            }
        }
    }
    // The copy for a browser lists every topic.
    QFile index(QStringLiteral(VARDEL_SOURCE_DIR "/src/help/pomoc/index.html"));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QString contents = QString::fromUtf8(index.readAll());
    for (const QString& id : ids)
        EXPECT_TRUE(contents.contains(QStringLiteral("href=\"%1.html\"").arg(id))) << id.toStdString();
    // Each window has its topic.
    for (const char* window : {"Form1", "Form2", "Form3", "Form4", "Form5", "Form6", "Form7", "RecorderWindow",
                               "HelpWindow", "CommonDialog1", "PrintDialog"})
        EXPECT_EQ(ids.count(helpTopicForWindow(QLatin1String(window))), 1u) << window;
}

TEST(HelpTopics, SearchFindsEveryWordWithOrWithoutDiacritics)
{
    struct Case { const char* query; const char* first; };
    for (const Case c : {Case{"błąd odbioru", "bledy"}, Case{"BLAD ODBIORU", "bledy"}, Case{"rejestrator csv", "rejestrator"},
                         Case{"zanik zasilania", "rejestrator"}, Case{"Rezerwa", "edycja"}}) {
        SCOPED_TRACE(c.query);
        const auto hits = searchHelp(QString::fromUtf8(c.query));
        ASSERT_FALSE(hits.empty());
        EXPECT_EQ(hits.front().id, QLatin1String(c.first));
        for (std::size_t i = 1; i < hits.size(); ++i)
            EXPECT_GE(hits[i - 1].hits, hits[i].hits);
    }
    EXPECT_TRUE(searchHelp(QStringLiteral("kwantowy")).empty());
    EXPECT_TRUE(searchHelp(QStringLiteral("  ,; ")).empty());
    EXPECT_EQ(foldForSearch(QStringLiteral("Żółć ŁĄKA")), QStringLiteral("zolc laka"));
}

// F1 in a window of the program opens the manual on that window's topic.
TEST(HelpWindowTest, F1OpensTheTopicOfTheWindowItIsPressedIn)
{
    QTemporaryDir dir;
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    Form1 form1(link, table, dir.path(), true);
    form1.Form_Load();
    form1.show();

    struct Case {
        const char* topic;
        std::function<QWidget*()> open;
    };
    const Case cases[] = {
        {"okno-glowne", [&]() -> QWidget* { return &form1; }},
        {"edycja", [&]() -> QWidget* { form1.Form1_Command7_Click(); return form1.configWindows().editor(); }},
        {"zapis", [&]() -> QWidget* { form1.Form1_Command9_Click(); return form1.configWindows().writeWindow(); }},
        {"test-pomiarow", [&]() -> QWidget* { form1.Form1_Command8_Click(); return form1.measureTest().form3(); }},
        {"rejestrator", [&]() -> QWidget* { form1.Command5_Click(); return &form1.recorderWindow(); }},
        {"bledy", [&]() -> QWidget* {
             form1.errorForms().showReceiveError();
             form1.errorForms().form7()->activateWindow();
             return form1.errorForms().form7();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.topic);
        QWidget* window = c.open();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_F1);
        HelpWindow* help = form1.help().window();
        ASSERT_NE(help, nullptr);
        EXPECT_TRUE(help->isVisible());
        EXPECT_EQ(help->currentTopic(), QLatin1String(c.topic));
        EXPECT_TRUE(help->browser()->toPlainText().contains(QString::fromUtf8(
            [&] { for (const HelpTopic& t : helpTopics()) if (QLatin1String(t.id) == QLatin1String(c.topic)) return t.title; return ""; }())));
        help->close();
    }
    form1.measureTest().Form3_Command1_Click();
    form1.recorderWindow().stop();

    // "Pomoc" opens the manual at its beginning.
    form1.findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    EXPECT_EQ(form1.help().window()->currentTopic(), QStringLiteral("wstep"));
}

// The window's own use: the contents, a search with its hits highlighted,
// links between topics and back, Escape.
TEST(HelpWindowTest, ContentsSearchLinksAndEscape)
{
    HelpController controller;
    HelpWindow* help = controller.showTopic(QStringLiteral("wstep"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    EXPECT_EQ(help->contents()->count(), static_cast<int>(helpTopics().size()));
    EXPECT_EQ(help->contents()->currentItem()->text(), QStringLiteral("O programie"));

    help->contents()->setCurrentRow(8);
    EXPECT_EQ(help->currentTopic(), QStringLiteral("rejestrator"));

    help->searchBox()->setFocus();
    QTest::keyClicks(help->searchBox(), QStringLiteral("kontrola nadawania"));
    ASSERT_GT(help->contents()->count(), 0);
    EXPECT_TRUE(help->contents()->item(0)->text().startsWith(QStringLiteral("Okno główne")))
        << help->contents()->item(0)->text().toStdString();
    QTest::keyClick(help->searchBox(), Qt::Key_Return);
    EXPECT_EQ(help->currentTopic(), QStringLiteral("okno-glowne"));
    const auto marks = help->browser()->extraSelections();
    ASSERT_GE(marks.size(), 2);
    EXPECT_EQ(foldForSearch(marks[0].cursor.selectedText()), QStringLiteral("kontrola"));

    help->searchBox()->clear();
    EXPECT_EQ(help->contents()->count(), static_cast<int>(helpTopics().size()));
    EXPECT_TRUE(help->browser()->extraSelections().isEmpty());

    // A link to another topic (as a click resolves it), and back; the
    // contents follow the page, and a click on the topic left behind opens it.
    const auto listed = [help] { return help->contents()->currentItem()->data(Qt::UserRole).toString(); };
    help->browser()->setSource(help->browser()->source().resolved(QUrl(QStringLiteral("rejestrator.html"))));
    EXPECT_EQ(help->currentTopic(), QStringLiteral("rejestrator"));
    EXPECT_EQ(listed(), QStringLiteral("rejestrator"));
    auto* back = help->findChild<QPushButton*>(QStringLiteral("Back"));
    ASSERT_TRUE(back->isEnabled());
    back->click();
    EXPECT_EQ(help->currentTopic(), QStringLiteral("okno-glowne"));
    EXPECT_EQ(listed(), QStringLiteral("okno-glowne"));
    help->browser()->setSource(help->browser()->source().resolved(QUrl(QStringLiteral("rejestrator.html"))));
    QListWidget* contents = help->contents();
    for (int i = 0; i < contents->count(); ++i) {
        if (contents->item(i)->data(Qt::UserRole).toString() == QLatin1String("okno-glowne")) {
            const QRect row = contents->visualItemRect(contents->item(i));
            QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, row.center());
        }
    }
    EXPECT_EQ(help->currentTopic(), QStringLiteral("okno-glowne"));

    // A link to a place within a topic opens the topic there, not at its top.
    help->resize(500, 200);
    help->browser()->setSource(help->browser()->source().resolved(QUrl(QStringLiteral("pliki.html#historia"))));
    EXPECT_EQ(help->currentTopic(), QStringLiteral("pliki"));
    EXPECT_GT(help->browser()->verticalScrollBar()->value(), 0);

    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    EXPECT_FALSE(help->isVisible());
}

// F1 in a modal dialog opens a help window that takes the keyboard while
// the dialog is up, and stays open on its own once the dialog has gone.
TEST(HelpWindowTest, HelpOverAModalDialogCanBeUsed)
{
    HelpController controller;
    auto dialog = std::make_unique<QDialog>();
    dialog->setObjectName(QStringLiteral("Form5"));
    auto* field = new QLineEdit(dialog.get());
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    field->setFocus();
    QTest::keyClick(dialog->windowHandle(), Qt::Key_F1);
    HelpWindow* help = controller.window();
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
    help->activateWindow();
    help->searchBox()->setFocus();
    // Through the window system, where a blocked window gets no keys.
    for (char c : std::string("eeprom"))
        QTest::keyClick(help->windowHandle(), c);
    EXPECT_EQ(help->searchBox()->text(), QStringLiteral("eeprom"));

    dialog.reset();
    ASSERT_EQ(controller.window(), help);
    EXPECT_TRUE(help->isVisible()) << "the help outlives the dialog";
    EXPECT_EQ(help->parentWidget(), nullptr);
}

} // namespace
} // namespace vardel

// The pages are compiled in without their files' times, so that two
// checkouts of one commit (their files made at different moments) give the
// same program and the same package.
TEST(HelpTopics, ThePagesCarryNoFileTimes)
{
    const QStringList pages = QDir(QStringLiteral(":/vardel/pomoc")).entryList(QDir::Files);
    ASSERT_FALSE(pages.isEmpty());
    for (const QString& page : pages) {
        const QDateTime stamp = QFileInfo(QStringLiteral(":/vardel/pomoc/") + page).lastModified();
        EXPECT_TRUE(!stamp.isValid() || stamp.toMSecsSinceEpoch() == 0) << page.toStdString() << ": " << stamp.toString().toStdString();
    }
}
