// The built vardel-cli run as root the way sudo -E or su would start it:
// with the environment of another user (nobody) whose home holds links,
// and with names on the command line that lead into that home. Root must
// load none of the user's code and write nothing of its own there.
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {
namespace {

using test::readBytes;
using test::writeBytes;

constexpr uid_t kNobody = 65534;

struct Outcome {
    int code = -1;
    QString err;
};

class RootRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a run as root with another user's home needs root";
        ASSERT_TRUE(m_dir.isValid());
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        for (const char* sub : {"home", "root", "plugins/generic", "work"})
            ASSERT_TRUE(QDir(m_dir.path()).mkpath(QString::fromLatin1(sub)));
        const QString probe = QStringLiteral(VARDEL_PROBE_PLUGIN);
        ASSERT_TRUE(QFile::copy(probe, path("plugins/generic/") + QFileInfo(probe).fileName()));
        // Root's secret in a folder of root's alone.
        ::chmod(QFile::encodeName(path("root")).constData(), 0700);
        writeBytes(path("root/shadow"), "TAJNE");
        ::chmod(QFile::encodeName(path("root/shadow")).constData(), 0600);
        writeBytes(path("work/a.KX3"), readBytes(QStringLiteral(VARDEL_SOURCE_DIR "/tests/files/data/golden.KX3")));
        ASSERT_EQ(::chown(QFile::encodeName(path("home")).constData(), kNobody, kNobody), 0);
    }

    QString path(const char* relative) const { return m_dir.filePath(QString::fromUtf8(relative)); }

    Outcome run(const QStringList& args, const QProcessEnvironment& env)
    {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(path("work"));
        cli.start(QStringLiteral(VARDEL_BIN_DIR "/vardel-cli"), args);
        EXPECT_TRUE(cli.waitForFinished(60000));
        return {cli.exitCode(), QString::fromUtf8(cli.readAllStandardError())};
    }

    // sudo -E from nobody's session: their HOME, their plugin.
    QProcessEnvironment usersEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path("home"));
        env.insert(QStringLiteral("SUDO_USER"), QStringLiteral("nobody"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path("home/.local/share"));
        env.insert(QStringLiteral("QT_PLUGIN_PATH"), path("plugins"));
        env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("vardelprobe"));
        env.insert(QStringLiteral("VARDEL_PROBE_OUT"), path("work/probe.txt"));
        return env;
    }

    QTemporaryDir m_dir;
};

// The probe plugin loads for root in root's own environment (so the test can
// see it), and not in the user's.
TEST_F(RootRuns, NoPluginOfTheUsersEnvironmentLoadsAndTheRunSaysWhatItDropped)
{
    const QStringList print = {QStringLiteral("--sim-state"), path("work/VardelSim.txt"), QStringLiteral("print"),
                               QStringLiteral("a.KX3"), QStringLiteral("--pdf"), path("work/a.pdf")};
    QProcessEnvironment own = usersEnvironment();
    const passwd* root = ::getpwuid(0);
    ASSERT_NE(root, nullptr);
    own.insert(QStringLiteral("HOME"), QString::fromLocal8Bit(root->pw_dir));
    own.remove(QStringLiteral("SUDO_USER"));
    own.remove(QStringLiteral("XDG_DATA_HOME"));
    const Outcome control = run(print, own);
    EXPECT_EQ(control.code, 0) << control.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("work/probe.txt"))) << "the probe does not load even where it may";
    QFile::remove(path("work/probe.txt"));

    const Outcome users = run(print, usersEnvironment());
    EXPECT_EQ(users.code, 0) << users.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("work/probe.txt"))) << "the user's plugin ran as root";
    EXPECT_TRUE(users.err.contains(QStringLiteral("Program działa jako root ze środowiskiem użytkownika nobody: używa "
                                                  "folderów roota; pominięto zmienne HOME, XDG_DATA_HOME, QT_PLUGIN_PATH, "
                                                  "QT_QPA_GENERIC_PLUGINS.")))
        << users.err.toStdString();
}

// Every name a user may give on the command line, led into the user's home or
// through the user's link to root's secret: refused with the owner named,
// nothing made in the home, the secret neither read out nor changed.
TEST_F(RootRuns, NoNameOnTheCommandLineLeadsRootIntoAnotherUsersFilesOrThroughTheirLinks)
{
    ASSERT_TRUE(QFile::link(path("root/shadow"), path("home/VardelSim.txt")));
    ASSERT_EQ(::lchown(QFile::encodeName(path("home/VardelSim.txt")).constData(), kNobody, kNobody), 0);
    ASSERT_TRUE(QFile::link(path("root"), path("home/historia")));
    ASSERT_EQ(::lchown(QFile::encodeName(path("home/historia")).constData(), kNobody, kNobody), 0);
    const QString state = path("work/VardelSim.txt");
    struct Case {
        const char* what;
        QStringList args;
        const char* refusal;
    };
    const char* const folderRefused = "należy do innego użytkownika (nobody); program działający jako root nie zapisuje";
    const char* const linkRefused = "jest dowiązaniem należącym do użytkownika nobody";
    const Case cases[] = {
        {"-o", {"--sim-state", state, "read", "-o", path("home/m.KX3")}, folderRefused},
        {"--pdf", {"--sim-state", state, "print", "a.KX3", "--pdf", path("home/m.pdf")}, folderRefused},
        {"--trace", {"--sim-state", state, "--trace", path("home/bus.log"), "card-test"}, folderRefused},
        {"--log", {"--sim-state", state, "program", "a.KX3", "--addresses", "2", "--log", path("home/log.csv")},
         folderRefused},
        {"--trace through a link to root's folder",
         {"--sim-state", state, "--trace", path("home/historia/bus.log"), "card-test"},
         linkRefused},
        {"--sim-state through a link to root's secret",
         {"--sim-state", path("home/VardelSim.txt"), "write", "a.KX3", "--eeprom"},
         linkRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(c.args, usersEnvironment());
        EXPECT_NE(r.code, 0);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.refusal))) << r.err.toStdString();
        EXPECT_EQ(QDir(path("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name),
                  (QStringList{QStringLiteral("VardelSim.txt"), QStringLiteral("historia")}));
        EXPECT_EQ(QDir(path("root")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QStringLiteral("shadow")});
        EXPECT_EQ(readBytes(path("root/shadow")), QByteArray("TAJNE"));
    }
}

// A note of the port helper typed by hand, for this very process and under
// no_new_privs as the helper leaves it: the ports it claims are tried before
// they are used, so the claim ends in a refusal, not in a crash at the first
// inb.
TEST(PortGrantNote, AForgedNoteIsRefusedWithAMessageNotACrash)
{
    QProcess shell;
    shell.start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("exec setpriv --no-new-privs env VARDEL_PORT_GRANT=\"340 0 $$\" \"$0\" --card port "
                                "card-test"),
                 QStringLiteral(VARDEL_BIN_DIR "/vardel-cli")});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitStatus(), QProcess::NormalExit) << "it crashed";
    EXPECT_EQ(shell.exitCode(), 3);
    const QString err = QString::fromUtf8(shell.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("zmienna środowiska VARDEL_PORT_GRANT mówi, że je przydzielono, ale program "
                                            "pomocniczy tego nie zrobił")))
        << err.toStdString();
}

} // namespace
} // namespace vardel
