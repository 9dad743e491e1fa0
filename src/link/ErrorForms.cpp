#include "link/ErrorForms.h"

#include "link/ShowNow.h"
#include "link/WindowHabits.h"

#include <QCoreApplication>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QVBoxLayout>

namespace vardel {

namespace {

// Both windows look the same: light red, one large bold blue line in the middle.
// No buttons: the user closes them with the title bar.
QLabel* buildErrorWindow(QWidget* window, const char* name, const QString& caption, const QString& text)
{
    window->setObjectName(QString::fromLatin1(name));
    window->setWindowTitle(caption);
    window->setWindowFlag(Qt::Window, true);
    window->setAttribute(Qt::WA_DeleteOnClose, false);

    QPalette windowPalette = window->palette();
    windowPalette.setColor(QPalette::Window, QColor(255, 192, 192));
    window->setPalette(windowPalette);
    window->setAutoFillBackground(true);

    auto* label = new QLabel(text, window);
    label->setObjectName(QStringLiteral("Label1"));
    label->setAccessibleName(text);
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setPointSize(18);
    font.setBold(true);
    label->setFont(font);
    QPalette labelPalette = label->palette();
    labelPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    label->setPalette(labelPalette);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(label);
    window->resize(440, 160);
    // Escape closes it as the title bar does (once the user has clicked it).
    keepWindowHabits(window, [window] { window->close(); });
    return label;
}

// The caller goes straight back to busy polling the card, so the window has to
// be on screen now, not when the event loop gets round to it. It leaves the
// keyboard where it is: a failed tick of the measurement test must not take
// the keystrokes of a user typing in the editor.
void showAndPaint(QWidget* window)
{
    showNow(window, Focus::Leave);
}

// A window coming on screen while the other error window is there goes just
// below it (above it when the screen has no room below), so that both texts
// can be read. One already on screen stays where it is.
void standApart(QWidget* coming, const QWidget* other)
{
    if (coming->isVisible() || !other || !other->isVisible())
        return;
    // Before its first showing a window knows nothing of its title bar:
    // leave room for one.
    const int gap = 48;
    const QRect there = other->frameGeometry();
    QRect place = coming->frameGeometry();
    // A window never shown has no place of its own yet (the window manager
    // would pick one): it always goes beside the other.
    const bool shownBefore = coming->windowHandle() != nullptr;
    if (shownBefore && !place.adjusted(0, -gap, 0, gap).intersects(there))
        return;
    place.moveTopLeft(QPoint(there.left(), there.bottom() + 1 + gap));
    if (const QScreen* screen = other->screen()) {
        const QRect area = screen->availableGeometry();
        if (place.bottom() > area.bottom())
            place.moveBottom(there.top() - 1 - gap);
    }
    coming->move(place.topLeft());
}

} // namespace

Form6::Form6(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    m_label1 = buildErrorWindow(this, "Form6", QStringLiteral("Błąd programu"),
                                QStringLiteral("Błąd nadawania danych"));
}

void Form6::showError() { showAndPaint(this); }

Form7::Form7(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    // The caption of this window has always been written with a plain "l".
    m_label1 = buildErrorWindow(this, "Form7", QStringLiteral("Bląd programu"),
                                QStringLiteral("Błąd odbioru danych"));
}

void Form7::showError() { showAndPaint(this); }

ErrorForms::ErrorForms() = default;
ErrorForms::~ErrorForms() = default;

Form6* ErrorForms::form6()
{
    if (!m_form6)
        m_form6 = std::make_unique<Form6>();
    return m_form6.get();
}

Form7* ErrorForms::form7()
{
    if (!m_form7)
        m_form7 = std::make_unique<Form7>();
    return m_form7.get();
}

void ErrorForms::showTransmitError()
{
    standApart(form6(), m_form7.get());
    m_form6->showError();
}

void ErrorForms::showReceiveError()
{
    standApart(form7(), m_form6.get());
    m_form7->showError();
}

} // namespace vardel
