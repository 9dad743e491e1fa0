#pragma once

#include <QString>

class QWidget;

namespace vardel {

// A question with the buttons "Tak" and "Nie", Escape for "Nie"; true for
// "Tak". Enter takes the default: "Nie" unless the question asks the
// harmless thing by default.
bool askYesNo(QWidget* parent, const QString& title, const QString& text, bool yesByDefault = false);

} // namespace vardel
