// The transmit and receive error windows, shown through the link's interface.
#include "link/ErrorForms.h"
#include "link/Module1.h"
#include "support/FakePort.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

namespace vardel {
namespace {

TEST(ErrorForms, CaptionsTextsAndLook)
{
    ErrorForms forms;
    const struct {
        QWidget* window;
        const char* name;
        QString caption;
        QString text;
    } cases[] = {
        {forms.form6(), "Form6", QStringLiteral("Błąd programu"), QStringLiteral("Błąd nadawania danych")},
        {forms.form7(), "Form7", QStringLiteral("Bląd programu"), QStringLiteral("Błąd odbioru danych")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.window->objectName(), QLatin1String(c.name));
        EXPECT_EQ(c.window->windowTitle(), c.caption) << c.name;
        EXPECT_TRUE(c.window->isWindow()) << c.name;
        EXPECT_EQ(c.window->parentWidget(), nullptr) << c.name;
        EXPECT_FALSE(c.window->isModal()) << c.name;
        EXPECT_FALSE(c.window->isVisible()) << c.name << ": hidden until a failure";

        const auto labels = c.window->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 1) << c.name << ": the label is the only control";
        const QLabel* label = c.window->findChild<QLabel*>(QStringLiteral("Label1"));
        ASSERT_NE(label, nullptr) << c.name;
        EXPECT_EQ(label->text(), c.text);
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
        EXPECT_TRUE(label->alignment() & Qt::AlignVCenter);
        EXPECT_TRUE(label->font().bold());
        EXPECT_GE(label->font().pointSize(), 14);
        const QColor ink = label->palette().color(QPalette::WindowText);
        EXPECT_GT(ink.blue(), 200);
        EXPECT_LT(ink.red(), 80);
        const QColor background = c.window->palette().color(QPalette::Window);
        EXPECT_GT(background.red(), 200);
        EXPECT_LT(background.green(), background.red());
        EXPECT_TRUE(c.window->autoFillBackground());
    }
}

TEST(ErrorForms, ShowingStaysOpenUntilTheUserClosesIt)
{
    ErrorForms forms;
    ErrorWindows& windows = forms;

    windows.showTransmitError();
    Form6* form6 = forms.form6();
    EXPECT_TRUE(form6->isVisible());
    EXPECT_FALSE(forms.form7()->isVisible()) << "each failure shows its own window";

    // A second failure keeps the same window on screen.
    windows.showTransmitError();
    EXPECT_EQ(forms.form6(), form6);
    EXPECT_TRUE(form6->isVisible());
    EXPECT_EQ(QApplication::topLevelWidgets().count(form6), 1);

    // Closing only hides it; the next failure brings it back.
    EXPECT_TRUE(form6->close());
    QApplication::processEvents();
    EXPECT_FALSE(form6->isVisible());
    windows.showTransmitError();
    EXPECT_TRUE(form6->isVisible());

    windows.showReceiveError();
    EXPECT_TRUE(forms.form7()->isVisible());
    EXPECT_TRUE(form6->isVisible()) << "one window does not replace the other";
}

// Both windows on screen at once stand apart, so both texts can be read, and
// a window the user minimised comes back with the next failure.
TEST(ErrorForms, BothStandApartAndAMinimisedOneComesBack)
{
    for (bool transmitFirst : {true, false}) {
        SCOPED_TRACE(transmitFirst);
        ErrorForms forms;
        ErrorWindows& windows = forms;
        if (transmitFirst) {
            windows.showTransmitError();
            windows.showReceiveError();
        } else {
            windows.showReceiveError();
            windows.showTransmitError();
        }
        EXPECT_FALSE(forms.form6()->frameGeometry().intersects(forms.form7()->frameGeometry()))
            << forms.form6()->frameGeometry().y() << " " << forms.form7()->frameGeometry().y();

        forms.form7()->showMinimized();
        QApplication::processEvents();
        windows.showReceiveError();
        EXPECT_FALSE(forms.form7()->isMinimized());
        EXPECT_TRUE(forms.form7()->isVisible());
    }
}

// A failed exchange makes its window visible before the routine returns, with
// nothing for the event loop to do.
TEST(ErrorForms, FailedExchangeShowsTheWindowBeforeReturning)
{
    test::FakePort port;
    port.recordStatusReads = false;
    port.regDefault[7] = 128; // sent, but never answered
    Module1 link(port);
    ErrorForms forms;
    link.setErrorWindows(&forms);

    float value = 0;
    std::int16_t flag = 0;
    link.ReadConfigReg(0, value, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_TRUE(forms.form7()->isVisible());
    EXPECT_FALSE(forms.form6()->isVisible());
}

// Keys go where the window system sends them: to the focus window.
void type(const QString& text)
{
    for (QChar c : text)
        QTest::keyClick(QGuiApplication::focusWindow(), c.toLatin1());
}

// A failed exchange while the user types elsewhere: the error window comes up
// without the keyboard, and not one keystroke is lost. Escape closes it once
// the user has turned to it.
TEST(ErrorForms, AppearWithoutTakingTheKeyboardAndEscapeClosesThem)
{
    QWidget editor;
    auto* box = new QLineEdit(&editor);
    (new QVBoxLayout(&editor))->addWidget(box);
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    box->setFocus();

    ErrorForms forms;
    ErrorWindows& windows = forms;
    type(QStringLiteral("12"));
    windows.showReceiveError();
    type(QStringLiteral("3"));
    windows.showTransmitError();
    type(QStringLiteral("4"));
    QApplication::processEvents();

    EXPECT_TRUE(forms.form6()->isVisible());
    EXPECT_TRUE(forms.form7()->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("1234"));
    EXPECT_EQ(QApplication::activeWindow(), &editor);

    for (QWidget* form : {static_cast<QWidget*>(forms.form7()), static_cast<QWidget*>(forms.form6())}) {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
        EXPECT_FALSE(form->isVisible()) << form->objectName().toStdString();
    }
}

} // namespace
} // namespace vardel
