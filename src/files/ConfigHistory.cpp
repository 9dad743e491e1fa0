#include "files/ConfigHistory.h"

#include "fileio/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace vardel {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz");

const QRegularExpression& namePattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d-\d{3})_(KX-[234])_adres-(\d{1,3})_(odczyt|zapis)\.KX[234]$)"));
    return pattern;
}

struct Named {
    HistoryEntry entry;
    QString stamp; // sorts as the time does
};

} // namespace

QString historyKindText(HistoryKind kind)
{
    return kind == HistoryKind::Read ? QStringLiteral("odczyt") : QStringLiteral("zapis");
}

ConfigHistory::ConfigHistory(QString folder, int limit)
    : m_folder(std::move(folder))
    , m_limit(limit)
{
}

FileResult ConfigHistory::record(const RegisterTable& table, std::int16_t model, int address, HistoryKind kind,
                                 const QDateTime& at)
{
    if (QString reason; !makeFolderPath(m_folder, &reason))
        return {false, QStringLiteral("Nie można utworzyć folderu historii konfiguracji %1: %2")
                           .arg(QDir::toNativeSeparators(m_folder), reason)};
    // Every file its own millisecond: the names sort as the records were made.
    const QDir dir(m_folder);
    QDateTime when = at;
    while (!dir.entryList({when.toString(kTimeFormat) + QStringLiteral("_*")}, QDir::Files).isEmpty())
        when = when.addMSecs(1);
    const QString path = dir.filePath(QStringLiteral("%1_%2_adres-%3_%4.%5")
                                          .arg(when.toString(kTimeFormat), modelNameOf(model))
                                          .arg(address)
                                          .arg(historyKindText(kind), modelTagOf(model)));

    const FileResult written = WriteConfigFile(table, path);
    if (!written.ok)
        return written;
    const std::vector<HistoryEntry> kept = entries();
    for (std::size_t i = static_cast<std::size_t>(std::max(m_limit, 0)); i < kept.size(); ++i)
        QFile::remove(kept[i].path);
    return written;
}

std::vector<HistoryEntry> ConfigHistory::entries() const
{
    std::vector<Named> found;
    const QDir dir(m_folder);
    for (const QString& name : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch m = namePattern().match(name);
        const auto model = m.hasMatch() ? modelFromName(m.captured(2)) : std::nullopt;
        if (!model || modelOfFileName(name) != model)
            continue;
        Named n;
        n.stamp = m.captured(1);
        n.entry.path = dir.filePath(name);
        n.entry.time = QDateTime::fromString(n.stamp, kTimeFormat);
        n.entry.model = *model;
        n.entry.address = m.captured(3).toInt();
        n.entry.kind = m.captured(4) == QLatin1String("odczyt") ? HistoryKind::Read : HistoryKind::Written;
        found.push_back(std::move(n));
    }
    std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) { return a.stamp > b.stamp; });
    std::vector<HistoryEntry> out;
    out.reserve(found.size());
    for (Named& n : found)
        out.push_back(std::move(n.entry));
    return out;
}

} // namespace vardel
