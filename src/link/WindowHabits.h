#pragma once

#include <functional>

class QLineEdit;
class QWidget;

namespace vardel {

// What every window of the program does with the keyboard and the screen:
// - Enter presses the focused push button, as Space does (outside a dialog
//   Qt leaves Enter to the window);
// - Escape runs `onEscape` when one is given: the window closes as its frame
//   or its own closing button would close it;
// - whenever it is shown it stands whole inside the available area of its
//   screen (title bar and bottom buttons included), no larger than that area.
void keepWindowHabits(QWidget* window, std::function<void()> onEscape = {});

// Gives `window` a scroll area and returns the widget to build its contents
// on: a window taller or wider than the screen allows scrolls them instead
// of losing its bottom buttons. Its natural size is that of the contents.
QWidget* scrollingContents(QWidget* window);

// A box the program writes and the user only reads: read-only, and no Tab
// stop (a click still selects its text for copying).
void displayOnly(QLineEdit* box);

// Size and place `window` so that its frame lies inside the available area
// of its screen. Done by keepWindowHabits at every showing; for use before
// a window is placed by hand.
void keepOnScreen(QWidget* window);

} // namespace vardel
