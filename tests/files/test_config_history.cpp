// The history of configurations: what is kept, under which name, in which
// order, and how many.
#include "files/ConfigHistory.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace vardel {
namespace {

RegisterTable kx3Table(float first)
{
    RegisterTable t;
    t.RegCount = regCountOf(kModelKX3);
    for (int r = 0; r < t.RegCount; ++r)
        t.RegValue[static_cast<std::size_t>(r)] = first + static_cast<float>(r);
    t.SerialNo = QStringLiteral("Nr 7/2026");
    return t;
}

class History : public testing::Test {
protected:
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("historia"));
    QDateTime at = QDateTime(QDate(2026, 12, 10), QTime(10, 0, 0, 123));
};

TEST_F(History, KeepsEachConfigurationAsAFileNamedForItsMeter)
{
    ASSERT_TRUE(dir.isValid());
    ConfigHistory history(folder);
    const RegisterTable read = kx3Table(1.0f);
    ASSERT_TRUE(history.record(read, kModelKX3, 2, HistoryKind::Read, at).ok);
    ASSERT_TRUE(history.record(kx3Table(500.0f), kModelKX3, 2, HistoryKind::Written, at).ok);
    ASSERT_TRUE(history.record(kx3Table(9.0f), kModelKX3, 7, HistoryKind::Written, at.addSecs(60)).ok);
    // A file of the user's own in the folder is neither listed nor removed.
    test::writeBytes(QDir(folder).filePath(QStringLiteral("moje.KX3")), "x");

    const std::vector<HistoryEntry> kept = history.entries();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(QFileInfo(kept[0].path).fileName(), QStringLiteral("2026-12-10_10-01-00-123_KX-3_adres-7_zapis.KX3"));
    EXPECT_EQ(QFileInfo(kept[1].path).fileName(), QStringLiteral("2026-12-10_10-00-00-124_KX-3_adres-2_zapis.KX3"))
        << "the same millisecond: the next one";
    EXPECT_EQ(QFileInfo(kept[2].path).fileName(), QStringLiteral("2026-12-10_10-00-00-123_KX-3_adres-2_odczyt.KX3"));
    EXPECT_EQ(kept[0].address, 7);
    EXPECT_EQ(kept[0].kind, HistoryKind::Written);
    EXPECT_EQ(kept[2].time, at);
    EXPECT_EQ(kept[2].model, kModelKX3);

    // A kept file is a configuration file like any other.
    RegisterTable back;
    back.RegCount = regCountOf(kModelKX3);
    ASSERT_TRUE(ReadConfigFile(back, kept[2].path).ok);
    EXPECT_EQ(back.RegValue, read.RegValue);
    EXPECT_EQ(back.SerialNo, read.SerialNo);
}

TEST_F(History, OnlyTheNewestAreKept)
{
    ASSERT_TRUE(dir.isValid());
    ConfigHistory history(folder, 3);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(history.record(kx3Table(static_cast<float>(i)), kModelKX3, 2, HistoryKind::Read, at.addSecs(i)).ok);
    const std::vector<HistoryEntry> kept = history.entries();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.back().time, at.addSecs(2));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3);
}

TEST_F(History, AFolderThatCannotBeMadeIsNamed)
{
    ASSERT_TRUE(dir.isValid());
    test::writeBytes(dir.filePath(QStringLiteral("plik")), "x");
    ConfigHistory history(dir.filePath(QStringLiteral("plik/historia")));
    const FileResult kept = history.record(kx3Table(1.0f), kModelKX3, 2, HistoryKind::Read, at);
    EXPECT_FALSE(kept.ok);
    EXPECT_TRUE(kept.message.contains(QStringLiteral("plik/historia"))) << kept.message.toStdString();
    EXPECT_TRUE(history.entries().empty());
}


// Sets a file's modification time, as a clock set wrong or a copy from
// another PC would have left it.
void setModified(const QString& path, const QDateTime& when)
{
    const struct utimbuf times {static_cast<time_t>(when.toSecsSinceEpoch()), static_cast<time_t>(when.toSecsSinceEpoch())};
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0);
}

// A write killed half-way leaves its hidden temporary file; no later write
// has that name, so the next write into the folder clears it. Another
// program's temporary file, one being written now, and other files stay.
TEST_F(History, LeftoversOfKilledWritesGoAtTheNextWrite)
{
    ASSERT_TRUE(dir.isValid());
    ConfigHistory history(folder);
    ASSERT_TRUE(history.record(kx3Table(1.0f), kModelKX3, 2, HistoryKind::Read, at).ok);
    const QDir d(folder);
    const QString killed = d.filePath(QStringLiteral(".2026-12-10_09-00-00-000_KX-3_adres-2_zapis.KX3.k3x9a.tmp"));
    const QString fresh = d.filePath(QStringLiteral(".2026-12-10_09-00-00-001_KX-3_adres-2_zapis.KX3.q1.tmp"));
    const QString foreign = d.filePath(QStringLiteral(".notatki.txt.k3x9a.tmp"));
    for (const QString& p : {killed, fresh, foreign})
        test::writeBytes(p, "[Rejestry]\r\n1\r\n");
    // Written before this run started: a leftover, not a write under way.
    setModified(killed, QDateTime::currentDateTime().addSecs(-3600));
    setModified(foreign, QDateTime::currentDateTime().addSecs(-3600));
    EXPECT_EQ(history.entries().size(), 1u) << "a leftover is never an entry";

    ASSERT_TRUE(history.record(kx3Table(2.0f), kModelKX3, 2, HistoryKind::Written, at.addSecs(1)).ok);
    EXPECT_FALSE(QFile::exists(killed));
    EXPECT_TRUE(QFile::exists(fresh)) << "may be another program's write under way";
    EXPECT_TRUE(QFile::exists(foreign));
    EXPECT_EQ(history.entries().size(), 2u);
}

// Files dated ahead of the clock cannot push the entries being written out:
// whether they reached the disk long ago or under the same wrong clock.
TEST_F(History, EntriesDatedInTheFutureDoNotPushNewOnesOut)
{
    ASSERT_TRUE(dir.isValid());
    const QDateTime now = QDateTime::currentDateTime();
    for (const QDateTime& landed : {now.addSecs(-3600), now.addYears(3)}) {
        SCOPED_TRACE(landed.toString(Qt::ISODate).toStdString());
        QDir(folder).removeRecursively();
        ConfigHistory history(folder, 3);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(history.record(kx3Table(1.0f), kModelKX3, 5, HistoryKind::Read, now.addYears(3).addSecs(i)).ok);
        }
        for (const HistoryEntry& e : history.entries())
            setModified(e.path, landed);

        for (int i = 0; i < 3; ++i) {
            const FileResult r = history.record(kx3Table(2.0f), kModelKX3, 2, HistoryKind::Written, now.addMSecs(i));
            ASSERT_TRUE(r.ok) << r.message.toStdString();
            const std::vector<HistoryEntry> kept = history.entries();
            EXPECT_EQ(std::count_if(kept.begin(), kept.end(), [](const HistoryEntry& e) { return e.address == 2; }), i + 1)
                << "the entry just written is never the one let go";
        }
        const std::vector<HistoryEntry> kept = history.entries();
        ASSERT_EQ(kept.size(), 3u);
        for (const HistoryEntry& e : kept)
            EXPECT_EQ(e.address, 2) << e.path.toStdString();
    }
}

// Names of our pattern that no write makes: not listed, not removed.
TEST_F(History, ImpossibleNamesAreNotEntries)
{
    ASSERT_TRUE(dir.isValid());
    ConfigHistory history(folder, 2);
    ASSERT_TRUE(QDir().mkpath(folder));
    const char* names[] = {
        "2026-02-30_10-00-00-000_KX-3_adres-2_odczyt.KX3", // no 30 February
        "2026-13-01_10-00-00-000_KX-3_adres-2_odczyt.KX3",
        "2026-12-10_24-00-00-000_KX-3_adres-2_odczyt.KX3",
        "2026-12-10_10-60-00-000_KX-3_adres-2_odczyt.KX3",
        "2026-12-10_10-00-61-000_KX-3_adres-2_odczyt.KX3",
        "2026-12-10_10-00-00-000_KX-3_adres-256_odczyt.KX3",
        "2026-12-10_10-00-00-000_KX-3_adres-999_zapis.KX3",
        "2026-12-10_10-00-00-000_KX-3_adres-007_zapis.KX3", // never written so
        "2026-12-10_10-00-00-000_KX-3_adres-2_odczyt.KX2", // model and extension disagree
    };
    for (const char* name : names)
        test::writeBytes(QDir(folder).filePath(QString::fromLatin1(name)), "x");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(history.record(kx3Table(1.0f), kModelKX3, 255, HistoryKind::Read, at.addSecs(i)).ok);
    const std::vector<HistoryEntry> kept = history.entries();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].address, 255);
    for (const char* name : names)
        EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QString::fromLatin1(name)))) << name;
}

} // namespace
} // namespace vardel

namespace vardel {
namespace {

// In a group's folder the history folder and its files are the group's to
// write, whatever the umask of the user who made them.
TEST(HistoryShared, AHistoryInAGroupFolderIsTheGroups)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 02770), 0);
    const QString folder = dir.filePath(QStringLiteral("historia"));
    const mode_t before = ::umask(077);
    const bool ok = ConfigHistory(folder).record(kx3Table(1.0f), kModelKX3, 2, HistoryKind::Read).ok;
    ::umask(before);
    ASSERT_TRUE(ok);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 02070, 02070u);
    const std::vector<HistoryEntry> kept = ConfigHistory(folder).entries();
    ASSERT_EQ(kept.size(), 1u);
    ASSERT_EQ(::stat(QFile::encodeName(kept[0].path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0660, 0660u);
}

} // namespace
} // namespace vardel
