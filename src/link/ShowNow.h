#pragma once

class QWidget;

namespace vardel {

// Shows a window and puts it on screen before returning. The callers go
// straight on into busy polling of the card, which never returns to the event
// loop: without this a newly mapped window would stay blank until the whole
// operation ended. Only events other than user input are handled meanwhile,
// so no button or key of the user can start a second operation inside this one.
void showNow(QWidget* window);

// Shows a window, or brings it back when the user minimised it or buried it
// under others: restored, raised and made the active window.
void bringBack(QWidget* window);

} // namespace vardel
