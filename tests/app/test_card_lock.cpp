// One program at a time per card: the lock file, waiting for it, and the real
// card's lock following "Adres karty". Two CardLock objects stand for two
// programs: the lock is per open file, so they exclude each other within one
// process as two processes would.
#include "app/CardLock.h"
#include "link/Module1.h"
#include "support/FakePort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace vardel {
namespace {

using Outcome = CardLock::Outcome;

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class CardLockTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("VardelSim.txt.lock"));
};

TEST_F(CardLockTest, SecondProgramIsRefusedWithTheHoldersPidUntilTheFirstLetsGo)
{
    CardLock first;
    ASSERT_EQ(first.take(path), Outcome::Taken);
    EXPECT_EQ(contents(path), QByteArray::number(::getpid()) + '\n');

    CardLock second;
    EXPECT_EQ(second.take(path), Outcome::Busy);
    EXPECT_EQ(second.holder(), ::getpid());
    EXPECT_FALSE(second.held());
    EXPECT_EQ(cardBusyMessage(0x340, second.holder()),
              QStringLiteral("Karta interfejsu 340h jest używana przez inny program (PID %1).").arg(::getpid()));

    first.release();
    EXPECT_FALSE(QFileInfo::exists(path)) << "the holder clears its file away";
    EXPECT_EQ(second.take(path), Outcome::Taken);

    CardLock nowhere;
    EXPECT_EQ(nowhere.take(dir.filePath(QStringLiteral("no/such/x.lock"))), Outcome::Failed);
    EXPECT_FALSE(nowhere.error().isEmpty());
}

TEST_F(CardLockTest, WaitEndsWhenTheCardIsFreeOrWhenAskedToStop)
{
    CardLock first;
    ASSERT_EQ(first.take(path), Outcome::Taken);

    CardLock second;
    int told = 0;
    int polls = 0;
    const auto waiting = [&](qint64 holder) {
        ++told;
        EXPECT_EQ(holder, ::getpid());
    };
    // Stopped (Ctrl+C) while the card is taken: gives up, holding nothing.
    EXPECT_EQ(second.wait(path, [&] { return ++polls == 3; }, waiting, std::chrono::milliseconds(1)), Outcome::Busy);
    EXPECT_EQ(polls, 3);
    EXPECT_FALSE(second.held());

    // The first program ends during the wait: the waiter gets the card.
    polls = 0;
    const auto firstEnds = [&] {
        if (++polls == 3)
            first.release();
        return false;
    };
    EXPECT_EQ(second.wait(path, firstEnds, waiting, std::chrono::milliseconds(1)), Outcome::Taken);
    EXPECT_TRUE(second.held());
    EXPECT_EQ(told, 2) << "once per wait";
}

// The real card's lock follows "Adres karty": the card the program talks to is
// the one it holds, and a card another program holds stays out of reach.
TEST_F(CardLockTest, PortLockFollowsTheCardAddress)
{
    const QString folder = dir.path();
    auto inner = std::make_unique<test::FakePort>();
    test::FakePort& fake = *inner;
    CardLock first;
    ASSERT_EQ(first.take(portCardLockPath(folder, 0x340)), Outcome::Taken);
    auto now = std::chrono::steady_clock::time_point{};
    LockedPorts ports(std::move(inner), folder, 0x340, std::move(first), [&] { return now; });
    QStringList messages;
    ports.setMessageHandler([&](const QString& m) { messages << m; });

    CardLock other; // another program on the card at 300h
    ASSERT_EQ(other.take(portCardLockPath(folder, 0x300)), Outcome::Taken);

    Module1 link(ports);
    link.setCardAddress(0x300);
    EXPECT_EQ(link.ReadCardStatus(), 0xFF) << "as from an empty slot";
    EXPECT_EQ(link.CardWaitReady(), 1);
    EXPECT_TRUE(fake.ops.empty()) << "not one operation reaches the other program's card";
    EXPECT_EQ(messages, QStringList{cardBusyMessage(0x300, ::getpid())});
    CardLock third;
    EXPECT_EQ(third.take(portCardLockPath(folder, 0x340)), Outcome::Taken) << "the card left behind is free";
    third.release();

    // The other program ends; within a second the card is this program's.
    other.release();
    fake.setDataPort(0x300);
    now += std::chrono::seconds(1);
    EXPECT_EQ(link.ReadCardStatus(), 4);
    EXPECT_TRUE(ports.cardHeld());
    EXPECT_EQ(fake.ops.size(), 1u);
    EXPECT_EQ(messages.size(), 1);

    link.setCardAddress(0x340);
    link.ReadCardStatus();
    EXPECT_EQ(ports.cardAddress(), 0x340);
    EXPECT_EQ(third.take(portCardLockPath(folder, 0x300)), Outcome::Taken) << "300h let go";
    EXPECT_EQ(third.take(portCardLockPath(folder, 0x340)), Outcome::Busy);
}

// Two programs start at once: the loser of the race created the file (O_EXCL)
// but the winner, who found it there, locked it first. The loser never held
// the lock and may not remove it; the winner removes it when it lets go,
// as it would its own. Another user's file in a shared folder stays theirs.
TEST_F(CardLockTest, TheFileALoserOfTheRaceMadeIsRemovedByTheHolder)
{
    {
        QFile loser(path); // made, never locked, nothing written
        ASSERT_TRUE(loser.open(QIODevice::WriteOnly));
    }
    CardLock winner;
    ASSERT_EQ(winner.take(path), Outcome::Taken);
    winner.release();
    EXPECT_FALSE(QFileInfo::exists(path)) << "an empty lock file is left behind";

    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's file needs root";
    const QString shared = dir.filePath(QStringLiteral("wspolny"));
    ASSERT_TRUE(QDir().mkdir(shared));
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    const QString theirs = shared + QStringLiteral("/vardel-340h.lock");
    {
        QFile file(theirs);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ::chmod(QFile::encodeName(theirs).constData(), 0644);
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    ASSERT_EQ(winner.take(theirs), Outcome::Taken);
    winner.release();
    EXPECT_TRUE(QFileInfo::exists(theirs));
}

TEST(CardLockPaths, NamedAfterTheCardOrBesideTheStateFile)
{
    EXPECT_EQ(portCardLockPath(QStringLiteral("/run/lock"), 0x340), QStringLiteral("/run/lock/vardel-340h.lock"));
    // The installed program's real card: the package's folder for root and
    // the card's group alone; a build tree keeps the system's lock folder.
    EXPECT_EQ(systemLockFolder(true), QStringLiteral("/run/vardel"));
    EXPECT_NE(systemLockFolder(false), QStringLiteral("/run/vardel"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString real = dir.filePath(QStringLiteral("real.txt"));
    ASSERT_TRUE(QFile(real).open(QIODevice::WriteOnly));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(real, link));
    // Two names of one state file must give one lock.
    EXPECT_EQ(simCardLockPath(link), simCardLockPath(real));
    EXPECT_EQ(simCardLockPath(real), QFileInfo(real).canonicalFilePath() + QStringLiteral(".lock"));
}

} // namespace
} // namespace vardel
