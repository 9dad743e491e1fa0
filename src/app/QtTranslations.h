#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTranslator>

class QCoreApplication;

namespace vardel {

// Qt's own texts (file and print dialogs, standard buttons) in Polish, from
// `folder` or else Qt's translations folder, and beside them the program's
// own Polish texts for the few that Qt's translation leaves English (the
// print dialog's double-sided printing, the printer properties' "Advanced").
// Returns Qt's translator, owned by `app`, or nullptr when it cannot be
// loaded: Qt's texts then stay English and nothing else changes.
QTranslator* installQtPolish(QCoreApplication& app, const QString& folder = QString());

// A translator over a Qt Linguist source file (.ts) as it stands, so the
// program's few texts need no compiled .qm and no translation tools to build.
// A message is found by its context and source text, else by its source text
// alone (Qt moves strings between its classes from one version to the next).
class TsTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;

    // False when the bytes are no .ts file or hold no translated message.
    bool loadTs(const QByteArray& xml);

    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return m_bySource.isEmpty(); }

private:
    QHash<QString, QString> m_byContext; // context, '\n', source
    QHash<QString, QString> m_bySource;
};

} // namespace vardel
