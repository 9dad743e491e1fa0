// The names in a history folder: any file name a folder can hold, among
// entries written by the program. Promises checked: a name is listed only
// when it is exactly the name the program gives such an entry (a date that
// can be, an address 0..255, model and extension agreeing); a write keeps
// its own entry and the newest others within the bound, and never removes
// a file that is not an entry.
#include "files/ConfigHistory.h"
#include "fuzz/FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                                    : QDir::tempPath();
    QTemporaryDir dir(base + QStringLiteral("/vardel-fuzz-history-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    const QDir folder(dir.path());

    // Up to four names, NUL-separated; the ones a folder cannot hold are skipped.
    QStringList names;
    for (const QByteArray& raw : fuzz::bytesOf(data, size).split('\0')) {
        const QString name = QString::fromUtf8(raw);
        if (names.size() == 4 || name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".")
            || name == QLatin1String("..") || name.toUtf8().size() > 255)
            continue;
        QFile f(folder.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            names << name;
    }

    ConfigHistory history(dir.path(), 2);
    for (const HistoryEntry& e : history.entries()) {
        FUZZ_CHECK(e.time.isValid());
        FUZZ_CHECK(e.address >= 0 && e.address <= 255);
        const QString again = QStringLiteral("%1_%2_adres-%3_%4.%5")
                                  .arg(e.time.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz")), modelNameOf(e.model))
                                  .arg(e.address)
                                  .arg(historyKindText(e.kind), modelTagOf(e.model));
        FUZZ_CHECK(QFileInfo(e.path).fileName() == again);
    }

    QStringList listed;
    for (const HistoryEntry& e : history.entries())
        listed << QFileInfo(e.path).fileName();

    RegisterTable table;
    table.RegCount = regCountOf(kModelKX2);
    FUZZ_CHECK(history.record(table, kModelKX2, 7, HistoryKind::Read).ok);
    const std::vector<HistoryEntry> after = history.entries();
    FUZZ_CHECK(after.size() == static_cast<std::size_t>(std::min<qsizetype>(listed.size() + 1, 2)));
    FUZZ_CHECK(std::any_of(after.begin(), after.end(), [](const HistoryEntry& e) { return e.address == 7; }));
    for (const QString& name : names)
        FUZZ_CHECK(listed.contains(name) || QFileInfo::exists(folder.filePath(name)));
    return 0;
}
