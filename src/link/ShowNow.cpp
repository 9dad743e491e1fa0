#include "link/ShowNow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QWidget>
#include <QWindow>

namespace vardel {

void bringBack(QWidget* window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
}

void showNow(QWidget* window)
{
    bringBack(window);
    QCoreApplication::sendPostedEvents(window);
    // The window system maps the window and reports it exposed only through
    // the event loop; wait for that, briefly.
    const QDeadlineTimer deadline(500);
    while (window->windowHandle() && !window->windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace vardel
