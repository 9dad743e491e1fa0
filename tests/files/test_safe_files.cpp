// Every file the program writes (settings, configuration, simulator state,
// PDF report) and every file it reads whole, against a full disk, special
// files, links and folders it may not write to.
#include "app/Settings.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "fileio/FileOwner.h"
#include "fileio/SafeFile.h"
#include "files/ConfigFile.h"
#include "link/Module1.h"
#include "report/PdfReport.h"
#include "sim/SimCard.h"
#include "sim/SimState.h"
#include "support/TestFiles.h"
#include "support/FakePort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

using namespace vardel;

namespace {

using vardel::test::readBytes;
using vardel::test::writeBytes;

// Everything in a folder, hidden temporaries included.
QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

mode_t kindOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

bool makeSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(addr.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// The file-size limit makes a write fail part-way, as a full disk does,
// without killing the process (SIGXFSZ ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

// Root writes anywhere; for file permissions to bind, the file system sees
// an ordinary user for a while.
class AsOrdinaryUser {
public:
    AsOrdinaryUser()
    {
        if (::geteuid() == 0) {
            setfsgid(65534);
            setfsuid(65534);
        }
    }
    ~AsOrdinaryUser()
    {
        if (::geteuid() == 0) {
            setfsuid(0);
            setfsgid(0);
        }
    }
};

RegisterTable configuration()
{
    test::FakePort port;
    Module1 link(port);
    RegisterTable table;
    selectModel(link, table, kModelKX3, QStringLiteral(VARDEL_SOURCE_DIR "/data"));
    table.SerialNo = QStringLiteral("Nr 7");
    for (int r = 0; r < table.RegCount; ++r)
        table.RegValue[static_cast<std::size_t>(r)] = static_cast<float>(r) + 0.5f;
    return table;
}

// Each writer as a call that gives its failure message, empty on success.
struct Writer {
    const char* name;
    std::function<QString(const QString&)> write;
};

std::vector<Writer> writers()
{
    return {
        {"settings",
         [](const QString& p) {
             QString e;
             return writeSettingsFile(p, Settings{}, &e) ? QString() : e;
         }},
        {"configuration", [](const QString& p) { return WriteConfigFile(configuration(), p).message; }},
        {"simulator state",
         [](const QString& p) {
             SimStateData state;
             state.meters = factoryNetwork();
             QString e;
             return saveSimState(p, state, &e) ? QString() : QStringLiteral("%1: %2").arg(p, e);
         }},
        {"PDF report",
         [](const QString& p) {
             QString e;
             return printConfigurationToPdf(configuration(), kModelKX3, p, &e) ? QString() : e;
         }},
    };
}

} // namespace

TEST(SafeWrite, EveryWriterKeepsTheOldFileOnAFullDiskAndReplacesItOtherwise)
{
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("plik"));
        writeBytes(path, "stara zawartość\r\n");
        QString message;
        {
            // Each of these files is longer than 32 bytes.
            FileSizeLimit limit(32);
            message = w.write(path);
        }
        EXPECT_TRUE(message.endsWith(QStringLiteral(": plik przekracza dopuszczalny rozmiar"))) << message.toStdString();
        EXPECT_EQ(readBytes(path), QByteArray("stara zawartość\r\n"));
        EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("plik")});

        EXPECT_EQ(w.write(path), QString());
        EXPECT_GT(readBytes(path).size(), 32);
        EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("plik")});
    }
}

TEST(SafeWrite, EveryWriterRefusesSpecialFilesAndWritesThroughLinks)
{
    struct Target {
        const char* what;
        std::function<bool(const QString&)> make;
        const char* reason;
    };
    const Target targets[] = {
        {"FIFO", [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0644) == 0; },
         "to jest potok (FIFO), a nie zwykły plik"},
        {"socket", makeSocket, "to jest gniazdo, a nie zwykły plik"},
        {"link to /dev/null", [](const QString& p) { return QFile::link(QStringLiteral("/dev/null"), p); },
         "to jest plik urządzenia, a nie zwykły plik"},
        {"folder", [](const QString& p) { return QDir().mkdir(p); }, "to jest folder, a nie plik"},
    };
    for (const Writer& w : writers()) {
        for (const Target& t : targets) {
            SCOPED_TRACE(std::string(w.name) + ", " + t.what);
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("cel"));
            ASSERT_TRUE(t.make(path));
            const mode_t kind = kindOf(path);
            const QString message = w.write(path);
            EXPECT_TRUE(message.endsWith(QStringLiteral(": ") + QString::fromUtf8(t.reason))) << message.toStdString();
            EXPECT_EQ(kindOf(path), kind);
            EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("cel")});
        }

        // A link stays a link; the file it points to (here in another folder)
        // gets the new contents.
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("prawdziwy"));
        writeBytes(target, "stary");
        const QString link = dir.filePath(QStringLiteral("skrót"));
        ASSERT_TRUE(QFile::link(QStringLiteral("../") + QFileInfo(elsewhere.path()).fileName() + QStringLiteral("/prawdziwy"), link));
        EXPECT_EQ(w.write(link), QString());
        EXPECT_EQ(kindOf(link), static_cast<mode_t>(S_IFLNK));
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
        EXPECT_GT(readBytes(target).size(), 5);
        EXPECT_EQ(entries(elsewhere.path()), QStringList{QStringLiteral("prawdziwy")});
    }
}

TEST(SafeWrite, AFolderThatCannotBeWrittenIsNamedAsTheReason)
{
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                              | QFileDevice::ReadOther | QFileDevice::ExeOther);
        const QString locked = dir.filePath(QStringLiteral("zamknięty"));
        ASSERT_TRUE(QDir().mkdir(locked));
        const QString path = locked + QStringLiteral("/plik");
        writeBytes(path, "stary");
        ::chmod(QFile::encodeName(path).constData(), 0666);
        ::chmod(QFile::encodeName(locked).constData(), 0555);
        QString message;
        {
            AsOrdinaryUser user;
            message = w.write(path);
        }
        EXPECT_TRUE(message.endsWith(QStringLiteral(": brak prawa zapisu w folderze ") + locked)) << message.toStdString();
        EXPECT_EQ(readBytes(path), QByteArray("stary"));
        ::chmod(QFile::encodeName(locked).constData(), 0755);

        const QString missing = dir.filePath(QStringLiteral("brak"));
        const QString noFolder = w.write(missing + QStringLiteral("/plik"));
        EXPECT_TRUE(noFolder.endsWith(QStringLiteral(": folder %1 nie istnieje").arg(missing))) << noFolder.toStdString();
    }
}

namespace {

uid_t ownerOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

} // namespace

// Root (a program run through sudo, which may keep the user's HOME) writing
// into a user's folder: every file and folder it makes there is the user's,
// so that the user's own runs can replace them later. In root's own folders
// nothing changes hands, and nobody else's writes are touched.
TEST(SafeWrite, RootGivesWhatItMakesInAUsersFolderToThatUser)
{
    struct stat folder {};
    folder.st_uid = 1000;
    folder.st_gid = 1001;
    EXPECT_EQ(ownerForNewEntry(folder, 0), (FileOwner{1000, 1001}));
    EXPECT_EQ(ownerForNewEntry(folder, 1000), std::nullopt);
    EXPECT_EQ(ownerForNewEntry(folder, 1002), std::nullopt);
    folder.st_uid = 0;
    EXPECT_EQ(ownerForNewEntry(folder, 0), std::nullopt);

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root writes into another user's folder";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkdir(home));
    ASSERT_EQ(::chown(QFile::encodeName(home).constData(), 65534, 65534), 0);
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        // As the program makes its data folder: ~/.local/share/vardel.
        const QString folderPath = home + QStringLiteral("/.local/") + QLatin1String(w.name) + QStringLiteral("/vardel");
        ASSERT_TRUE(makeFolders(folderPath));
        const QString file = folderPath + QStringLiteral("/file");
        EXPECT_EQ(w.write(file), QString());
        EXPECT_EQ(ownerOf(file), 65534u);
        EXPECT_EQ(ownerOf(folderPath), 65534u);
        EXPECT_EQ(ownerOf(home + QStringLiteral("/.local")), 65534u);

        const QString own = dir.filePath(QStringLiteral("own-") + QLatin1String(w.name));
        EXPECT_EQ(w.write(own), QString());
        EXPECT_EQ(ownerOf(own), 0u);
    }
}

TEST(SafeRead, EveryReaderRefusesWhatIsNotARegularFileOrIsFarTooLarge)
{
    // Each reader gives its message (the settings only fall back to defaults)
    // and leaves what it reads into as it was.
    struct Reader {
        const char* name;
        qint64 limit;
        std::function<QString(const QString&)> read;
    };
    const Reader readers[] = {
        {"configuration", kConfigFileLimit,
         [](const QString& p) {
             RegisterTable table = configuration();
             const FileResult r = ReadConfigFile(table, p);
             EXPECT_EQ(table.SerialNo, QStringLiteral("Nr 7"));
             return r.message;
         }},
        {"register names", kSmallFileLimit,
         [](const QString& p) {
             RegisterTable table = configuration();
             table.NamesFile = p;
             const NamesLoad r = LoadRegisterNames(table);
             EXPECT_EQ(r.namesRead, 0);
             return r.message;
         }},
        {"simulator state", kSmallFileLimit,
         [](const QString& p) {
             SimStateData state;
             QString reason;
             EXPECT_EQ(loadSimState(p, state, &reason), SimStateLoad::Damaged);
             EXPECT_TRUE(state.meters.empty());
             return reason;
         }},
        {"settings", kSmallFileLimit,
         [](const QString& p) {
             bool defaults = false;
             EXPECT_EQ(readSettingsFile(p, &defaults), Settings{});
             EXPECT_TRUE(defaults);
             return QString();
         }},
    };
    struct Source {
        const char* what;
        std::function<bool(const QString&, qint64 limit)> make;
        const char* reason;
    };
    const Source sources[] = {
        // Opening a FIFO for reading would wait for a writer for ever.
        {"FIFO", [](const QString& p, qint64) { return ::mkfifo(QFile::encodeName(p).constData(), 0644) == 0; },
         "to jest potok (FIFO), a nie zwykły plik"},
        {"link to /dev/zero", [](const QString& p, qint64) { return QFile::link(QStringLiteral("/dev/zero"), p); },
         "to jest plik urządzenia, a nie zwykły plik"},
        {"folder", [](const QString& p, qint64) { return QDir().mkdir(p); }, "to jest folder, a nie plik"},
        // Sparse: one byte over the bound costs no disk.
        {"one byte too large",
         [](const QString& p, qint64 limit) {
             QFile f(p);
             return f.open(QIODevice::WriteOnly) && f.resize(limit + 1);
         },
         "plik jest za duży (ponad "},
    };
    for (const Reader& r : readers) {
        for (const Source& s : sources) {
            SCOPED_TRACE(std::string(r.name) + ", " + s.what);
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("zrodlo"));
            ASSERT_TRUE(s.make(path, r.limit));
            const QString message = r.read(path);
            if (std::strcmp(r.name, "settings") != 0) {
                EXPECT_TRUE(message.contains(QString::fromUtf8(s.reason))) << message.toStdString();
            }
        }
    }
}

TEST(SafeRead, FileAtTheBoundIsRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(kSmallFileLimit));
    f.close();
    QByteArray bytes;
    QString reason;
    ASSERT_TRUE(readWholeFile(path, kSmallFileLimit, bytes, &reason)) << reason.toStdString();
    EXPECT_EQ(bytes.size(), kSmallFileLimit);
}
