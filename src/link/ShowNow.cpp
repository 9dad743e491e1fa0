#include "link/ShowNow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QWidget>
#include <QWindow>

namespace vardel {

void showNow(QWidget* window)
{
    if (!window->isVisible())
        window->show();
    window->raise();
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
