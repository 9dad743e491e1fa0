#include "config/ConfigWindows.h"

#include "config/Form2.h"
#include "config/Form4.h"
#include "config/Form5.h"
#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "link/ShowNow.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace vardel {

ConfigWindows::ConfigWindows(Module1& link, RegisterTable& table, QWidget* mainWindow)
    : m_link(link), m_table(table), m_mainWindow(mainWindow)
{
}

// The windows are owned here and have no parent: they are top-level windows
// of their own, and the main window may go before or after this object.
ConfigWindows::~ConfigWindows() = default;

void ConfigWindows::placeNearMainWindow(QWidget* window)
{
    if (!m_mainWindow)
        return;
    const QRect main = m_mainWindow->frameGeometry();
    QPoint topLeft = main.center() - QPoint(window->width() / 2, window->height() / 2);
    // Never partly off the screen: on a small screen the window would lose
    // its grid or its buttons.
    if (const QScreen* screen = m_mainWindow->screen()) {
        const QRect area = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - window->width())));
        topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() - window->height())));
    }
    window->move(topLeft);
}

Form2* ConfigWindows::editor()
{
    if (!m_form2) {
        m_form2 = std::make_unique<Form2>(m_link, m_table);
        placeNearMainWindow(m_form2.get());
        m_form2->Form2_Form_Load();
    }
    return m_form2.get();
}

Form2* ConfigWindows::editorIfLoaded() const
{
    return m_form2.get();
}

Form4* ConfigWindows::readWindow()
{
    if (!m_form4) {
        m_form4 = std::make_unique<Form4>();
        placeNearMainWindow(m_form4.get());
    }
    return m_form4.get();
}

Form5* ConfigWindows::writeWindow()
{
    if (!m_form5) {
        m_form5 = std::make_unique<Form5>(m_link, m_table, EepromFlag);
        m_form5->setWrittenHandler([this] {
            if (m_transferred)
                m_transferred(true);
        });
        placeNearMainWindow(m_form5.get());
    }
    return m_form5.get();
}

void ConfigWindows::Form1_Command6_Click()
{
    if (readWindow()->readConfiguration(m_link, m_table).complete && m_transferred)
        m_transferred(false);
}

void ConfigWindows::Form1_Command7_Click()
{
    Form2* form = editor();
    form->refill();
    bringBack(form);
}

void ConfigWindows::Form1_Command9_Click()
{
    writeWindow()->Form1_Command9_Click();
}

void ConfigWindows::prepareWriteWindow()
{
    writeWindow()->untickEeprom();
    EepromFlag = 0;
}

} // namespace vardel
