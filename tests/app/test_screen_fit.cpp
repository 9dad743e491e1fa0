// Every window of the program on a screen too small for it (the offscreen
// screen of 800 x 600, and the same at 150 %, as a 768-pixel-high screen at
// 125 % or 150 % leaves): each stands whole on the screen, title bar and all,
// and its last button can be scrolled into view.

#include "app/Form1.h"
#include "config/ConfigWindows.h"
#include "config/Form2.h"
#include "config/Form4.h"
#include "config/Form5.h"
#include "config/RegisterTable.h"
#include "files/ConfigFileDialogs.h"
#include "link/ErrorForms.h"
#include "link/Module1.h"
#include "help/HelpWindow.h"
#include "measure/MeasureTest.h"
#include "recorder/RecorderWindow.h"
#include "sim/SimCard.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace vardel;

namespace {

struct Seen {
    QString window;
    bool inside = false;
    bool lastButtonReachable = true;
};

// Where the window stands, and whether its last button can be shown.
Seen look(QWidget* window, const char* lastButton)
{
    QApplication::processEvents();
    Seen seen{window->objectName()};
    const QRect area = window->screen()->availableGeometry();
    seen.inside = window->isVisible() && area.contains(window->frameGeometry());
    if (lastButton) {
        auto* button = window->findChild<QPushButton*>(QLatin1String(lastButton));
        auto* contents = window->findChild<QScrollArea*>(QStringLiteral("Contents"));
        if (button && contents)
            contents->ensureWidgetVisible(button);
        seen.lastButtonReachable = button && !button->visibleRegion().isEmpty()
            && window->rect().contains(QRect(button->mapTo(window, QPoint(0, 0)), button->size()));
    }
    return seen;
}

} // namespace

TEST(ScreenFit, EveryWindowStandsWholeOnTheScreenAndScrollsToItsLastButton)
{
    QTemporaryDir dir;
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    Form1 form1(link, table, dir.path(), true);
    form1.Form_Load();
    form1.show();

    std::vector<Seen> seen{look(&form1, "Command3")};

    form1.findChild<QPushButton*>(QStringLiteral("Command7"))->click();
    seen.push_back(look(form1.configWindows().editor(), "Command1"));
    form1.configWindows().editor()->hide();

    form1.findChild<QPushButton*>(QStringLiteral("Command9"))->click();
    seen.push_back(look(form1.configWindows().writeWindow(), "Command2"));
    form1.configWindows().writeWindow()->hide();

    form1.findChild<QPushButton*>(QStringLiteral("Command8"))->click();
    seen.push_back(look(form1.measureTest().form3(), "Command1"));
    form1.measureTest().Form3_Command1_Click();

    form1.findChild<QPushButton*>(QStringLiteral("Command5"))->click();
    seen.push_back(look(&form1.recorderWindow(), "Close"));
    form1.recorderWindow().stop();

    form1.findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    seen.push_back(look(form1.help().window(), "Close"));
    form1.help().window()->close();

    // The read window is on screen only while the registers are read.
    struct During : LinkListener {
        std::function<void()> once;
        void linkEvent(LinkEvent event, std::span<const std::uint8_t>) override
        {
            if (event == LinkEvent::RequestSent && once)
                std::exchange(once, nullptr)();
        }
    } during;
    during.once = [&] { seen.push_back(look(form1.configWindows().readWindow(), nullptr)); };
    link.setListener(&during);
    form1.findChild<QPushButton*>(QStringLiteral("Command6"))->click();
    link.setListener(nullptr);

    form1.errorForms().showTransmitError();
    form1.errorForms().showReceiveError();
    seen.push_back(look(form1.errorForms().form6(), nullptr));
    seen.push_back(look(form1.errorForms().form7(), nullptr));

    // The save dialog, as Qt sizes it for a scaled screen the first time:
    // Qt's own settings, where it keeps the size it was left at, start empty.
    QTemporaryDir qtSettings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, qtSettings.path());
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        seen.push_back(look(dialog, nullptr));
        qobject_cast<QDialog*>(dialog)->reject();
    });
    ConfigFileDialogs::FileRequest save;
    save.save = true;
    save.title = QStringLiteral("Zapis danych");
    save.filter = QStringLiteral("Pliki *.KX*");
    save.folder = dir.path();
    save.fileName = QStringLiteral("*.KX3");
    EXPECT_TRUE(ConfigFileDialogs::chooseWithDialog(&form1, save).isEmpty());

    ASSERT_EQ(seen.size(), 10u);
    for (const Seen& s : seen) {
        EXPECT_TRUE(s.inside) << s.window.toStdString() << " reaches beyond the screen";
        EXPECT_TRUE(s.lastButtonReachable) << s.window.toStdString() << ": its last button cannot be shown";
    }
}
