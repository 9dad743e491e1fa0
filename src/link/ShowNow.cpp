#include "link/ShowNow.h"

#include <QApplication>
#include <QPointer>
#include <QDeadlineTimer>
#include <QWidget>
#include <QWindow>

namespace vardel {

void bringBack(QWidget* window, Focus focus)
{
    // Asked of the window system when the window is mapped; set each time,
    // since the same window may be shown either way.
    window->setAttribute(Qt::WA_ShowWithoutActivating, focus == Focus::Leave);
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    if (focus == Focus::Take)
        window->activateWindow();
}

void showNow(QWidget* window, Focus focus)
{
    const QPointer<QWidget> active = QApplication::activeWindow();
    bringBack(window, focus);
    QCoreApplication::sendPostedEvents(window);
    // The window system maps the window and reports it exposed only through
    // the event loop; wait for that, briefly.
    const QDeadlineTimer deadline(500);
    while (window->windowHandle() && !window->windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    // Some window systems activate every window they map, whatever it asked
    // for: give the keyboard back to the window that had it.
    if (focus == Focus::Leave && active && active != window && QApplication::activeWindow() == window)
        active->activateWindow();
    paintNow(window);
}

void hideHandingKeyboardTo(QWidget* window, QWidget* heir)
{
    const bool hadKeyboard = window->isActiveWindow();
    window->hide();
    if (hadKeyboard && heir && heir != window && heir->isVisible())
        heir->activateWindow();
}

void paintNow(QWidget* window)
{
    window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace vardel
