// The history of configurations: what is kept, under which name, in which
// order, and how many.
#include "files/ConfigHistory.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

} // namespace
} // namespace vardel
