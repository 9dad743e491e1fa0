#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QXmlStreamReader>

// The texts are compiled into this static library; a resource there is
// registered only when asked for by name.
static void registerOwnTranslations()
{
    static bool registered = false;
    if (!registered) {
        Q_INIT_RESOURCE(vardel_translations);
        registered = true;
    }
}

namespace vardel {

namespace {

QString key(const QString& context, const QString& source)
{
    return context + QLatin1Char('\n') + source;
}

} // namespace

bool TsTranslator::loadTs(const QByteArray& xml)
{
    m_byContext.clear();
    m_bySource.clear();
    QXmlStreamReader reader(xml);
    QString context, source, translation;
    while (reader.readNext() != QXmlStreamReader::Invalid && !reader.atEnd()) {
        if (reader.isStartElement()) {
            const auto name = reader.name();
            if (name == QLatin1String("context")) {
                context.clear();
            } else if (name == QLatin1String("name")) {
                context = reader.readElementText();
            } else if (name == QLatin1String("message")) {
                source.clear();
                translation.clear();
            } else if (name == QLatin1String("source")) {
                source = reader.readElementText();
            } else if (name == QLatin1String("translation")) {
                translation = reader.readElementText();
            }
        } else if (reader.isEndElement() && reader.name() == QLatin1String("message") && !source.isEmpty()
                   && !translation.isEmpty()) {
            m_byContext.insert(key(context, source), translation);
            m_bySource.insert(source, translation);
        }
    }
    if (reader.hasError()) {
        m_byContext.clear();
        m_bySource.clear();
    }
    return !m_bySource.isEmpty();
}

QString TsTranslator::translate(const char* context, const char* sourceText, const char*, int) const
{
    if (!sourceText)
        return {};
    const QString source = QString::fromUtf8(sourceText);
    const auto exact = m_byContext.constFind(key(QString::fromUtf8(context), source));
    if (exact != m_byContext.constEnd())
        return *exact;
    return m_bySource.value(source);
}

QTranslator* installQtPolish(QCoreApplication& app, const QString& folder)
{
    const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(&app);
    // The program speaks Polish whatever the system's language: ask for the
    // Polish file by name, not by the user's locale.
    if (!translator->load(QStringLiteral("qtbase_pl"), from)) {
        delete translator;
        return nullptr;
    }
    // Ours goes in first: the last one installed is asked first, so Qt's
    // translation keeps every text it has and ours fills only its gaps.
    registerOwnTranslations();
    QFile own(QStringLiteral(":/vardel/vardel_pl.ts"));
    auto* ours = new TsTranslator(&app);
    if (!own.open(QIODevice::ReadOnly) || !ours->loadTs(own.readAll()) || !QCoreApplication::installTranslator(ours))
        delete ours;
    if (!QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace vardel
