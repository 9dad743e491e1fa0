#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace vardel {

QTranslator* installQtPolish(QCoreApplication& app, const QString& folder)
{
    const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(&app);
    // The program speaks Polish whatever the system's language: ask for the
    // Polish file by name, not by the user's locale.
    if (!translator->load(QStringLiteral("qtbase_pl"), from) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace vardel
