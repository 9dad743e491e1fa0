#include "files/ConfigHistory.h"

#include "fileio/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <optional>
#include <utility>

#include <dirent.h>

namespace vardel {

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz");

struct Named {
    QString name;
    QString stamp; // sorts as the time does
    std::int16_t model = 0;
    int address = 0;
    HistoryKind kind = HistoryKind::Read;
};

// A name exactly as record() makes it,
//   2026-12-10_10-00-00-123_KX-3_adres-2_odczyt.KX3
// with a date that can be (no 30 February, no hour 24), an address a meter
// can have, written without leading zeros, and the model's own extension.
// Read character by character: a full history is thousands of names at
// every write.
std::optional<Named> parseName(QStringView name)
{
    const auto digitsAt = [&name](qsizetype at, qsizetype count) -> int {
        int v = 0;
        for (qsizetype i = at; i < at + count; ++i) {
            if (i >= name.size() || !name[i].isDigit() || name[i].unicode() > '9')
                return -1;
            v = v * 10 + (name[i].unicode() - '0');
        }
        return v;
    };
    const auto textAt = [&name](qsizetype at, QLatin1StringView text) {
        return name.mid(at, text.size()) == text;
    };
    // The stamp: yyyy-MM-dd_HH-mm-ss-zzz, 23 characters.
    static constexpr struct { qsizetype at; char c; } kSeparators[] = {
        {4, '-'}, {7, '-'}, {10, '_'}, {13, '-'}, {16, '-'}, {19, '-'}, {23, '_'}};
    if (name.size() < 46)
        return std::nullopt;
    for (const auto& sep : kSeparators) {
        if (name[sep.at] != QLatin1Char(sep.c))
            return std::nullopt;
    }
    const int year = digitsAt(0, 4), month = digitsAt(5, 2), day = digitsAt(8, 2);
    const int hour = digitsAt(11, 2), minute = digitsAt(14, 2), second = digitsAt(17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0
        || second > 59 || digitsAt(20, 3) < 0 || !QDate::isValid(year, month, day))
        return std::nullopt;
    // _KX-N_adres-A_kind.KXN
    if (!textAt(24, QLatin1StringView("KX-")) || !textAt(28, QLatin1StringView("_adres-")))
        return std::nullopt;
    const auto model = modelFromName(name.mid(24, 4).toString());
    qsizetype at = 35;
    qsizetype digits = 0;
    while (at + digits < name.size() && digits < 4 && name[at + digits].isDigit() && name[at + digits].unicode() <= '9')
        ++digits;
    const int address = digits > 0 && digits <= 3 ? digitsAt(at, digits) : -1;
    if (!model || address < 0 || address > 255 || (digits > 1 && name[at] == QLatin1Char('0')))
        return std::nullopt;
    at += digits;
    Named n;
    if (textAt(at, QLatin1StringView("_odczyt."))) {
        n.kind = HistoryKind::Read;
        at += 8;
    } else if (textAt(at, QLatin1StringView("_zapis."))) {
        n.kind = HistoryKind::Written;
        at += 7;
    } else {
        return std::nullopt;
    }
    if (name.mid(at) != modelTagOf(*model))
        return std::nullopt;
    n.name = name.toString();
    n.stamp = name.left(23).toString();
    n.model = *model;
    n.address = address;
    return n;
}

// The entries in the folder, in no order. Read straight from the folder:
// a listing that looked at each file (QDir's filters do) would cost a full
// history thousands of system calls at every write.
std::vector<Named> namedIn(const QDir& dir)
{
    std::vector<Named> found;
    DIR* listing = ::opendir(QFile::encodeName(dir.path()).constData());
    if (!listing)
        return found;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        auto n = parseName(QFile::decodeName(entry->d_name));
        if (n && (entry->d_type == DT_REG || QFileInfo(dir.filePath(n->name)).isFile()))
            found.push_back(std::move(*n));
    }
    ::closedir(listing);
    return found;
}

// ".NAME.RANDOM.tmp" of a write that was killed: its NAME is one of ours.
bool isHistoryName(const QByteArray& name)
{
    return parseName(QString::fromUtf8(name)).has_value();
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
    if (QString reason; !makeFolders(m_folder, &reason))
        return {false, QStringLiteral("Nie można utworzyć folderu historii konfiguracji %1: %2")
                           .arg(QDir::toNativeSeparators(m_folder), reason)};
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
