#include "files/ConfigHistory.h"

#include "fileio/FileOwner.h"
#include "fileio/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <optional>
#include <utility>

namespace vardel {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz");

const QRegularExpression& namePattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^((\d{4})-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)-\d{3})_(KX-[234])_adres-(0|[1-9]\d{0,2})_(odczyt|zapis)\.KX[234]$)"));
    return pattern;
}

struct Named {
    QString name;
    QString stamp; // sorts as the time does
    std::int16_t model = 0;
    int address = 0;
    HistoryKind kind = HistoryKind::Read;
};

// A name of ours with a date that can be (no 30 February, no hour 25) and an
// address a meter can have. The time is checked by its digits: a full
// history is thousands of names at every write.
std::optional<Named> parseName(const QString& name)
{
    const QRegularExpressionMatch m = namePattern().match(name);
    if (!m.hasMatch())
        return std::nullopt;
    const auto model = modelFromName(m.captured(8));
    if (!model || modelOfFileName(name) != model)
        return std::nullopt;
    const auto part = [&m](int i) { return m.capturedView(i).toInt(); };
    if (!QDate::isValid(part(2), part(3), part(4)) || part(5) > 23 || part(6) > 59 || part(7) > 59)
        return std::nullopt;
    Named n;
    n.address = part(9);
    if (n.address > 255)
        return std::nullopt;
    n.name = name;
    n.stamp = m.captured(1);
    n.model = *model;
    n.kind = m.captured(10) == QLatin1String("odczyt") ? HistoryKind::Read : HistoryKind::Written;
    return n;
}

std::vector<Named> namedIn(const QDir& dir)
{
    std::vector<Named> found;
    for (const QString& name : dir.entryList(QDir::Files)) {
        if (auto n = parseName(name))
            found.push_back(std::move(*n));
    }
    return found;
}

// ".NAME.RANDOM.tmp" of a write that was killed: its NAME is one of ours.
bool isHistoryName(const QByteArray& name)
{
    return namePattern().match(QString::fromUtf8(name)).hasMatch();
}

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
    if (!QDir().mkpath(m_folder)) {
        QFileInfo blocker(m_folder);
        while (!blocker.exists() && !blocker.isRoot() && blocker.absolutePath() != blocker.absoluteFilePath())
            blocker.setFile(blocker.absolutePath());
        const QString why = !blocker.exists()  ? QStringLiteral("brak dostępu")
            : !blocker.isDir()                 ? QStringLiteral("%1 jest plikiem, a nie folderem").arg(QDir::toNativeSeparators(blocker.absoluteFilePath()))
            : !blocker.isWritable()            ? QStringLiteral("brak prawa zapisu w folderze %1").arg(QDir::toNativeSeparators(blocker.absoluteFilePath()))
                                               : QStringLiteral("brak dostępu");
        return {false, QStringLiteral("Nie można utworzyć folderu historii konfiguracji %1: %2.")
                           .arg(QDir::toNativeSeparators(m_folder), why)};
    }
    shareWithFolderGroup(m_folder);
    // Writes killed half-way leave hidden files that no later write of the
    // same name would find: each history file is written only once.
    removeTemporaryLeftovers(m_folder, isHistoryName);

    const QDir dir(m_folder);
    std::vector<Named> kept = namedIn(dir);
    // Every file its own millisecond: the names sort as the records were made.
    QSet<QString> taken;
    for (const Named& n : kept)
        taken.insert(n.stamp);
    QDateTime when = at;
    while (taken.contains(when.toString(kTimeFormat)))
        when = when.addMSecs(1);
    const QString stamp = when.toString(kTimeFormat);
    const QString name = QStringLiteral("%1_%2_adres-%3_%4.%5")
                             .arg(stamp, modelNameOf(model))
                             .arg(address)
                             .arg(historyKindText(kind), modelTagOf(model));
    const QString path = dir.filePath(name);

    const FileResult written = WriteConfigFile(table, path);
    if (!written.ok)
        return written;
    shareWithFolderGroup(path);

    // The entry just written stays, whatever else the folder holds. Of the
    // others the newest are kept; a date ahead of the clock (a clock set
    // wrong once, files copied from another PC) cannot be true and would
    // push every new entry out, so such a file counts by when it reached
    // this disk, and as the oldest of all when that is ahead too.
    const std::size_t room = static_cast<std::size_t>(std::max(m_limit, 1)) - 1;
    if (kept.size() <= room)
        return written;
    const QString now = std::max(QDateTime::currentDateTime(), when).toString(kTimeFormat);
    std::vector<std::pair<QString, const Named*>> byAge;
    byAge.reserve(kept.size());
    for (const Named& n : kept) {
        QString age = n.stamp;
        if (age > now) {
            const QString landed = QFileInfo(dir.filePath(n.name)).lastModified().toString(kTimeFormat);
            age = landed > now ? QString() : landed;
        }
        byAge.emplace_back(std::move(age), &n);
    }
    std::sort(byAge.begin(), byAge.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = room; i < byAge.size(); ++i)
        QFile::remove(dir.filePath(byAge[i].second->name));
    return written;
}

std::vector<HistoryEntry> ConfigHistory::entries() const
{
    const QDir dir(m_folder);
    std::vector<Named> found = namedIn(dir);
    std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) { return a.stamp > b.stamp; });
    std::vector<HistoryEntry> out;
    out.reserve(found.size());
    for (const Named& n : found) {
        HistoryEntry e;
        e.path = dir.filePath(n.name);
        e.time = QDateTime::fromString(n.stamp, kTimeFormat);
        e.model = n.model;
        e.address = n.address;
        e.kind = n.kind;
        // A local time the clocks skipped (the spring change) names no moment.
        if (!e.time.isValid())
            continue;
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace vardel
