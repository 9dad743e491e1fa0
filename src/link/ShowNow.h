#pragma once

class QWidget;

namespace vardel {

// Whether a window put on screen takes the keyboard. An error window must
// not: the user may be typing in another one, and no keystroke may be lost.
enum class Focus { Take, Leave };

// Shows a window and puts it on screen before returning. The callers go
// straight on into busy polling of the card, which never returns to the event
// loop: without this a newly mapped window would stay blank until the whole
// operation ended. Only events other than user input are handled meanwhile,
// so no button or key of the user can start a second operation inside this one.
void showNow(QWidget* window, Focus focus = Focus::Take);

// Shows a window, or brings it back when the user minimised it or buried it
// under others: restored and raised, and with Focus::Take the active window.
void bringBack(QWidget* window, Focus focus = Focus::Take);

// Hides a window that may have the keyboard and gives the keyboard to `heir`
// (the window that had it before): left to itself the window system hands
// it to the newest window on screen, an error window perhaps, which must
// not take it.
void hideHandingKeyboardTo(QWidget* window, QWidget* heir);

// Inside a long operation: paints the window as it stands now and lets the
// window system take the picture (exposures, a compositor's frame sync), so
// that its progress moves on screen. No user input is handled.
void paintNow(QWidget* window);

} // namespace vardel
