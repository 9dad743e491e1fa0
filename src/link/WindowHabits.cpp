#include "link/WindowHabits.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace vardel {

namespace {

// A scroll area as large as what it holds: the window opens at the natural
// size of its contents and only a screen too small for them makes it scroll.
class WholeScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;

    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget() ? widget()->sizeHint() + QSize(frame, frame) : QScrollArea::sizeHint();
    }
};

// Before a window manager has framed a window its frame is unknown: take
// that of a window it has framed already, else room for a title bar.
QMargins frameMarginsOf(const QWidget* window)
{
    if (window->isVisible() && window->windowHandle()) {
        const QMargins m = window->windowHandle()->frameMargins();
        if (!m.isNull())
            return m;
    }
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() && other->windowHandle()) {
            const QMargins m = other->windowHandle()->frameMargins();
            if (!m.isNull())
                return m;
        }
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return {};
    return {4, 30, 4, 4};
}

QScreen* screenOf(const QWidget* window)
{
    if (QScreen* s = QGuiApplication::screenAt(window->geometry().center()))
        return s;
    return window->screen();
}

class Habits : public QObject {
public:
    Habits(QWidget* window, std::function<void()> onEscape)
        : QObject(window), m_window(window), m_onEscape(std::move(onEscape))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::KeyPress:
            return keyPress(static_cast<QKeyEvent*>(event));
        case QEvent::Show:
            keepOnScreen(m_window);
            // The window manager's frame becomes known only once it has framed
            // the window, and no event says when: fit once more with the real
            // title bar at the first sign of it, or a moment later.
            m_framePending = true;
            QTimer::singleShot(300, this, [this] { fitFramed(true); });
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Paint:
            if (m_framePending)
                QTimer::singleShot(0, this, [this] { fitFramed(false); });
            break;
        default:
            break;
        }
        return false;
    }

private:
    void fitFramed(bool last)
    {
        if (!m_framePending || !m_window->isVisible())
            return;
        const bool framed = m_window->windowHandle() && !m_window->windowHandle()->frameMargins().isNull();
        if (!framed && !last)
            return;
        m_framePending = false;
        keepOnScreen(m_window);
    }

    // Keys the focused widget left unused come up to the window.
    bool keyPress(QKeyEvent* key)
    {
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
            if (!button || button->window() != m_window || !button->isEnabled())
                return false;
            button->animateClick();
            return true;
        }
        if (key->key() == Qt::Key_Escape && m_onEscape) {
            m_onEscape();
            return true;
        }
        return false;
    }

    QWidget* m_window;
    std::function<void()> m_onEscape;
    bool m_framePending = false;
};

} // namespace

void keepWindowHabits(QWidget* window, std::function<void()> onEscape)
{
    new Habits(window, std::move(onEscape));
}

QWidget* scrollingContents(QWidget* window)
{
    auto* area = new WholeScrollArea(window);
    area->setObjectName(QStringLiteral("Contents"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    // Tab goes through the contents, never stops on the area itself; a
    // widget reached by Tab is scrolled into view by the area.
    area->setFocusPolicy(Qt::NoFocus);
    auto* contents = new QWidget(area);
    area->setWidget(contents);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return contents;
}

void displayOnly(QLineEdit* box)
{
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::ClickFocus);
}

void keepOnScreen(QWidget* window)
{
    const QScreen* screen = screenOf(window);
    if (!screen)
        return;
    // A pixel short at the right and the bottom: on a scaled screen the frame
    // is known only to the nearest pixel.
    const QRect area = screen->availableGeometry().adjusted(0, 0, -1, -1);
    const QMargins frame = frameMarginsOf(window);
    // A window never sized by hand opens at its natural size; one the
    // program or the user sized keeps that size. Either is cut to the screen.
    const bool natural = !window->testAttribute(Qt::WA_Resized);
    QSize size = natural ? window->sizeHint() : window->size();
    size = size.expandedTo(window->minimumSize()).boundedTo(window->maximumSize());
    const QSize room = area.size().shrunkBy(frame);
    // Contents cut in height scroll: their scroll bar takes width, which the
    // window gets on top of its natural width where the screen has it.
    if (natural && size.height() > room.height() && window->findChild<QScrollArea*>(QStringLiteral("Contents")))
        size.rwidth() += window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
    size = size.boundedTo(room).expandedTo(QSize(1, 1));
    if (size != window->size())
        window->resize(size);

    const QSize outer = size.grownBy(frame);
    const QPoint at = window->pos(); // a window's pos() is its frame's corner
    const QPoint fitted(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
                        std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (fitted != at)
        window->move(fitted);
}

} // namespace vardel
