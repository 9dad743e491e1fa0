#pragma once

#include <QString>

class QCoreApplication;
class QTranslator;

namespace vardel {

// Qt's own texts (file and print dialogs, standard buttons) in Polish, from
// `folder` or else Qt's translations folder. Returns the translator, owned by
// `app`, or nullptr when the translation cannot be loaded: Qt's texts then
// stay English and nothing else changes.
QTranslator* installQtPolish(QCoreApplication& app, const QString& folder = QString());

} // namespace vardel
