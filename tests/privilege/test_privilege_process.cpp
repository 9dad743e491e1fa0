// The built programs on copies that hold a privilege, started as `nobody`
// as the kernel would start them for a user: set-uid root or with file
// capabilities, and through a port helper that holds CAP_SYS_RAWIO. While
// they run, /proc shows that nothing of it is left, and a plugin handed to
// Qt through the environment finds nothing either.
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vardel {
namespace {

using test::readBytes;
using test::writeBytes;

constexpr char kNoCapabilities[] = "0000000000000000";

// Lines of /proc/PID/status as name -> value.
std::map<std::string, std::string> statusFields(const QByteArray& text)
{
    std::map<std::string, std::string> fields;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            fields[line.left(colon).toStdString()] = line.mid(colon + 1).trimmed().toStdString();
    }
    return fields;
}

std::map<std::string, std::string> statusOf(pid_t pid)
{
    return statusFields(readBytes(QStringLiteral("/proc/%1/status").arg(pid)));
}

// A pipe whose buffer is full: whoever writes to it waits until the test
// reads, so a program that would end at once stays to be looked at.
struct FullPipe {
    int read = -1;
    int write = -1;

    FullPipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        read = fds[0];
        write = fds[1];
        ::fcntl(write, F_SETFL, O_NONBLOCK);
        const std::string block(4096, 'x');
        while (::write(write, block.data(), block.size()) > 0) {
        }
        ::fcntl(write, F_SETFL, 0);
    }
    ~FullPipe()
    {
        if (read >= 0)
            ::close(read);
        if (write >= 0)
            ::close(write);
    }
};

class PrivilegedCopies : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "only root can give a copy a privilege and start it as another user";
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        m_nobody = std::to_string(nobody->pw_uid);
        ASSERT_TRUE(m_dir.isValid());
        m_root = m_dir.path();
        ASSERT_EQ(::chmod(QFile::encodeName(m_root).constData(), 0755), 0);

        // An installed tree: <root>/bin, <root>/libexec/vardel, <root>/share/vardel.
        for (const char* sub : {"bin", "libexec/vardel", "share/vardel", "plugins/generic", "home"})
            ASSERT_TRUE(QDir(m_root).mkpath(QString::fromLatin1(sub)));
        copy(QStringLiteral(VARDEL_BIN_DIR "/vardel"), QStringLiteral("bin/vardel"));
        copy(QStringLiteral(VARDEL_BIN_DIR "/vardel-cli"), QStringLiteral("bin/vardel-cli"));
        copy(QStringLiteral(VARDEL_BIN_DIR "/../libexec/vardel/vardel-ports"),
             QStringLiteral("libexec/vardel/vardel-ports"));
        for (const char* names : {"KX2_NAME.TXT", "KX3_NAME.TXT", "KX4_NAME.TXT"})
            copy(QStringLiteral(VARDEL_BIN_DIR "/") + QLatin1String(names),
                 QStringLiteral("share/vardel/") + QLatin1String(names));
        const QString probe = QStringLiteral(VARDEL_PROBE_PLUGIN);
        copy(probe, QStringLiteral("plugins/generic/") + QFileInfo(probe).fileName());

        const QByteArray golden = readBytes(QStringLiteral(VARDEL_SOURCE_DIR "/tests/files/data/golden.KX3"));
        ASSERT_FALSE(golden.isEmpty());
        writeBytes(home(QStringLiteral("a.KX3")), golden);
        writeBytes(home(QStringLiteral("b.KX3")), QByteArray(golden).replace(" 12.5\r\n", " 13.5\r\n"));
        ASSERT_EQ(::chown(QFile::encodeName(home(QString())).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    void TearDown() override
    {
        for (pid_t pid : m_started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    QString path(const QString& relative) const { return m_root + QLatin1Char('/') + relative; }
    QString home(const QString& name) const { return path(QStringLiteral("home/")) + name; }

    void copy(const QString& from, const QString& to)
    {
        const QString target = path(to);
        ASSERT_TRUE(QFile::copy(from, target)) << from.toStdString();
        ASSERT_TRUE(QFile::setPermissions(target, QFile::permissions(from)));
    }

    // Gives the file at `relative` a privilege as an administrator would.
    // False (the test then skips) where the file system holds no capabilities.
    bool givePrivilege(const QString& relative, const QString& how)
    {
        if (how == QLatin1String("set-uid root"))
            return ::chmod(QFile::encodeName(path(relative)).constData(), 04755) == 0;
        QProcess setcap;
        setcap.start(QStringLiteral("setcap"), {QStringLiteral("cap_sys_rawio=p"), path(relative)});
        return setcap.waitForFinished(10000) && setcap.exitStatus() == QProcess::NormalExit && setcap.exitCode() == 0;
    }

    // Starts the program at `relative` as `user`; stdout and stderr go to
    // the given descriptors (-1: a file in the home folder).
    pid_t startAsUser(const char* user, const QString& relative, const QStringList& args, int out = -1, int err = -1)
    {
        const passwd* account = ::getpwnam(user);
        if (!account) {
            ADD_FAILURE() << "no user " << user;
            return -1;
        }
        std::vector<std::string> argv{"setpriv", "--reuid=" + std::to_string(account->pw_uid),
                                      "--regid=" + std::to_string(account->pw_gid), "--clear-groups", "--",
                                      path(relative).toStdString()};
        for (const QString& a : args)
            argv.push_back(a.toStdString());
        const std::string h = home(QString()).toStdString();
        std::vector<std::string> env{"PATH=/usr/bin:/bin",
                                     "HOME=" + h,
                                     "LC_ALL=C.UTF-8",
                                     "XDG_CONFIG_HOME=" + h + "config",
                                     "XDG_DATA_HOME=" + h + "data",
                                     "XDG_RUNTIME_DIR=" + h,
                                     "QT_QPA_PLATFORM=offscreen",
                                     "QT_PLUGIN_PATH=" + path(QStringLiteral("plugins")).toStdString(),
                                     "QT_QPA_GENERIC_PLUGINS=vardelprobe",
                                     "VARDEL_PROBE_OUT=" + h + "probe.txt"};
        if (const char* asan = std::getenv("ASAN_OPTIONS"))
            env.push_back(std::string("ASAN_OPTIONS=") + asan);
        const int log = ::open((h + "log.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out >= 0 ? out : log, STDOUT_FILENO);
            ::dup2(err >= 0 ? err : log, STDERR_FILENO);
            std::vector<char*> a;
            for (std::string& s : argv)
                a.push_back(s.data());
            a.push_back(nullptr);
            std::vector<char*> e;
            for (std::string& s : env)
                e.push_back(s.data());
            e.push_back(nullptr);
            ::execve("/usr/bin/setpriv", a.data(), e.data());
            ::_exit(127);
        }
        ::close(log);
        m_started.push_back(pid);
        return pid;
    }

    pid_t startAsNobody(const QString& relative, const QStringList& args, int out = -1, int err = -1)
    {
        return startAsUser("nobody", relative, args, out, err);
    }

    // How the test knows the program is past its start (where a privilege it
    // was started with is dropped) and not merely exec'd: it waits in a write
    // to stdout or stderr (a full pipe), or the probe plugin has written.
    enum class Running { BlockedWriting, ProbeWritten };

    std::map<std::string, std::string> runningStatus(pid_t pid, const char* name, Running sign)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            auto fields = statusOf(pid);
            if (fields.empty())
                break; // it ended
            const QByteArray call = readBytes(QStringLiteral("/proc/%1/syscall").arg(pid));
            const bool running = sign == Running::ProbeWritten
                ? QFileInfo(home(QStringLiteral("probe.txt"))).size() > 0
                : call.startsWith("1 0x1 ") || call.startsWith("1 0x2 "); // write(1 or 2, ...)
            if (fields["Name"] == name && running)
                return statusOf(pid);
            QThread::msleep(20);
        }
        ADD_FAILURE() << name << " did not come up; its output: "
                      << readBytes(home(QStringLiteral("log.txt"))).toStdString();
        return {};
    }

    void expectNothingHeld(const std::map<std::string, std::string>& fields)
    {
        for (const char* set : {"CapEff", "CapPrm", "CapInh", "CapAmb"}) {
            const auto it = fields.find(set);
            ASSERT_NE(it, fields.end()) << set;
            EXPECT_EQ(it->second, kNoCapabilities) << set;
        }
        EXPECT_EQ(fields.at("NoNewPrivs"), "1");
        const std::string ids = m_nobody + '\t' + m_nobody + '\t' + m_nobody + '\t' + m_nobody;
        EXPECT_EQ(fields.at("Uid"), ids);
        EXPECT_EQ(fields.at("Gid"), ids);
    }

    // What the plugin saw from inside the program, in the same form.
    std::map<std::string, std::string> probeSaw() { return statusFields(readBytes(home(QStringLiteral("probe.txt")))); }

    QTemporaryDir m_dir;
    QString m_root;
    std::string m_nobody;
    std::vector<pid_t> m_started;
};

const QStringList kPrivileges{QStringLiteral("file capability"), QStringLiteral("set-uid root")};

// vardel-cli with a privilege of its own drops it on every start, whatever
// the command and whatever the card.
TEST_F(PrivilegedCopies, CommandLineDropsWhatItWasStartedWith)
{
    for (const QString& how : kPrivileges) {
        SCOPED_TRACE(how.toStdString());
        if (!givePrivilege(QStringLiteral("bin/vardel-cli"), how))
            GTEST_SKIP() << "the file system of " << m_root.toStdString() << " cannot hold file capabilities";

        // Commands that write their results to stdout wait on a full pipe.
        const QStringList commands[] = {
            {QStringLiteral("--card=sim"), QStringLiteral("--model"), QStringLiteral("KX-3"), QStringLiteral("measure"),
             QStringLiteral("--count"), QStringLiteral("5")},
            {QStringLiteral("diff"), home(QStringLiteral("a.KX3")), home(QStringLiteral("b.KX3"))},
        };
        for (const QStringList& args : commands) {
            SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
            FullPipe out;
            const pid_t pid = startAsNobody(QStringLiteral("bin/vardel-cli"), args, out.write);
            expectNothingHeld(runningStatus(pid, "vardel-cli", Running::BlockedWriting));
        }

        // The printout makes a Qt application, which loads the plugin.
        QFile::remove(home(QStringLiteral("probe.txt")));
        const pid_t pid = startAsNobody(QStringLiteral("bin/vardel-cli"),
                                        {QStringLiteral("--model"), QStringLiteral("KX-3"), QStringLiteral("print"),
                                         home(QStringLiteral("a.KX3")), QStringLiteral("--pdf"),
                                         home(QStringLiteral("a.pdf"))});
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        m_started.clear();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << readBytes(home(QStringLiteral("log.txt"))).toStdString();
        expectNothingHeld(probeSaw());
        EXPECT_TRUE(QFileInfo(home(QStringLiteral("a.pdf"))).size() > 0);
    }
}

// The window likewise: the plugin runs inside it, /proc shows it running.
TEST_F(PrivilegedCopies, WindowDropsWhatItWasStartedWith)
{
    for (const QString& how : kPrivileges) {
        SCOPED_TRACE(how.toStdString());
        if (!givePrivilege(QStringLiteral("bin/vardel"), how))
            GTEST_SKIP() << "the file system of " << m_root.toStdString() << " cannot hold file capabilities";
        QFile::remove(home(QStringLiteral("probe.txt")));
        const pid_t pid = startAsNobody(QStringLiteral("bin/vardel"), {QStringLiteral("--card=sim"), QStringLiteral("--sim-pace=fast")});
        expectNothingHeld(runningStatus(pid, "vardel", Running::ProbeWritten));
        expectNothingHeld(probeSaw());
        TearDown();
        m_started.clear();
    }
}

// Through the port helper, which alone holds CAP_SYS_RAWIO: the programs it
// starts hold nothing, whether the kernel gave the ports or not.
TEST_F(PrivilegedCopies, ProgramsStartedByThePortHelperHoldNothing)
{
    if (!givePrivilege(QStringLiteral("libexec/vardel/vardel-ports"), QStringLiteral("file capability")))
        GTEST_SKIP() << "the file system of " << m_root.toStdString() << " cannot hold file capabilities";

    {
        // The refusal (or the card's status) waits on full pipes.
        FullPipe out;
        FullPipe err;
        const pid_t pid = startAsNobody(QStringLiteral("bin/vardel-cli"),
                                        {QStringLiteral("--card"), QStringLiteral("port"), QStringLiteral("card-test")},
                                        out.write, err.write);
        expectNothingHeld(runningStatus(pid, "vardel-cli", Running::BlockedWriting));
        TearDown();
        m_started.clear();
    }

    // The window: its refusal box, or the window itself, stays up.
    const pid_t pid = startAsNobody(QStringLiteral("bin/vardel"), {QStringLiteral("--card=port")});
    expectNothingHeld(runningStatus(pid, "vardel", Running::ProbeWritten));
    expectNothingHeld(probeSaw());
}

// A helper that someone other than root (or the user) could have changed is
// not run, whatever it is: the user would run someone else's program.
TEST_F(PrivilegedCopies, AHelperSomeoneElseCouldChangeIsNotRun)
{
    const QByteArray helper = QFile::encodeName(path(QStringLiteral("libexec/vardel/vardel-ports")));
    for (const char* how : {"owned by nobody", "writable by its group"}) {
        SCOPED_TRACE(how);
        if (std::string(how) == "owned by nobody")
            ASSERT_EQ(::chown(helper.constData(), static_cast<uid_t>(std::stoul(m_nobody)), 0), 0);
        else
            ASSERT_EQ(::chown(helper.constData(), 0, 0) || ::chmod(helper.constData(), 0775), 0);
        // Run by another ordinary user, who holds no CAP_SYS_RAWIO.
        const pid_t pid = startAsUser("daemon", QStringLiteral("bin/vardel-cli"),
                                      {QStringLiteral("--card"), QStringLiteral("port"), QStringLiteral("card-test")});
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        m_started.clear();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
        EXPECT_TRUE(readBytes(home(QStringLiteral("log.txt")))
                        .contains("nie został uruchomiony, bo może go zmienić ktoś inny niż root"))
            << readBytes(home(QStringLiteral("log.txt"))).toStdString();
        QFile::remove(home(QStringLiteral("log.txt")));
    }
}

} // namespace
} // namespace vardel
