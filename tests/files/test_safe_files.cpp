// Every file the program writes (settings, configuration, simulator state,
// PDF report) and every file it reads whole, against a full disk, special
// files, links and folders it may not write to.
#include "app/CardLock.h"
#include "app/Settings.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "fileio/SafeFile.h"
#include "fileio/SafePath.h"
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

#include <sys/file.h>
#include <sys/syscall.h>

#include <csignal>
#include <cstdarg>
#include <cstring>
#include <functional>

using namespace vardel;

namespace {

// The files made with O_CREAT while a test listens, with the permissions
// asked for in the open itself.
std::vector<std::pair<std::string, mode_t>>* g_created = nullptr;

} // namespace

// Every openat of the program's libraries passes here first (the test
// program's own definition is the one they are linked to).
extern "C" int openat(int folder, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, unsigned));
        va_end(args);
        if (g_created)
            g_created->emplace_back(path, mode);
    }
    return static_cast<int>(::syscall(SYS_openat, folder, path, flags, mode));
}

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


// Root acts on root's own files only. Planted by a user (nobody) in their
// home and by a group member in a group folder (root's, open to the group,
// sticky or not): links to a root-only file and folder, hard links to that
// file, folders and files made beforehand. None of them may lead root's
// writer, appender, reader or folder maker to a file of root's, nor get a
// byte of root's into a folder or file of the user's.
TEST(RootRuns, NothingAnotherUserPlantsLeadsRootAstrayOrGetsItsFiles)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting files as another user needs root";
    constexpr uid_t kNobody = 65534;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString rootOnly = dir.filePath(QStringLiteral("root"));
    const QString victim = rootOnly + QStringLiteral("/shadow");
    const auto asNobody = [](const QString& p) { return ::lchown(QFile::encodeName(p).constData(), kNobody, kNobody) == 0; };

    struct Folder {
        const char* name;
        mode_t mode;
        uid_t owner;
    };
    const Folder folders[] = {{"home of nobody", 0755, kNobody},
                              {"group folder", 0775, 0},
                              {"sticky group folder", 01770, 0}};
    // What each consumer does with the path, "" when it succeeds.
    struct Plant {
        const char* what;
        std::function<bool(const QString&)> make; // empty: nothing planted
        const char* path;                          // relative to the folder
        const char* writer;
        const char* appender;
        const char* reader;
        const char* folderMaker;
    };
    const char* const viaLink = "jest dowiązaniem należącym do użytkownika nobody; program działający jako root go nie użyje";
    const char* const foreignFile = "plik należy do innego użytkownika (nobody)";
    const char* const foreignFolder = "należy do innego użytkownika (nobody); program działający jako root nie zapisuje";
    const char* const twoNames = "plik ma kilka nazw (dowiązania twarde)";
    const auto linkTo = [&](const QString& target) {
        return [&, target](const QString& p) { return QFile::link(target, p) && asNobody(p); };
    };
    const std::vector<Plant> plants = {
        {"link to root's file", linkTo(victim), "VardelSim.txt", viaLink, viaLink, viaLink, viaLink},
        {"link to a root-only folder", linkTo(rootOnly), "historia-symulatora/x", viaLink, viaLink, viaLink, viaLink},
        {"hard link to root's file",
         [&](const QString& p) { return ::link(QFile::encodeName(victim).constData(), QFile::encodeName(p).constData()) == 0; },
         "VardelSim.txt", "", twoNames, twoNames, "to nie jest folder"},
        {"folder made beforehand", [&](const QString& p) { return QDir().mkdir(p) && asNobody(p); },
         "historia-symulatora/x", foreignFolder, foreignFolder, "plik nie istnieje", foreignFolder},
        {"file made beforehand",
         [&](const QString& p) {
             test::writeBytes(p, "cudzy");
             return ::chmod(QFile::encodeName(p).constData(), 0666) == 0 && asNobody(p);
         },
         "bus.log", foreignFile, foreignFile, "", "to nie jest folder"},
    };
    struct Consumer {
        const char* name;
        std::function<QString(const QString&)> use;
        const char* Plant::*expected;
    };
    const Consumer consumers[] = {
        {"writer", [](const QString& p) { QString r; return writeFileAtomically(p, "ROOT", &r) ? QString() : r; }, &Plant::writer},
        {"appender",
         [](const QString& p) {
             QString r;
             const int fd = openForAppend(p, &r);
             if (fd < 0)
                 return r;
             const bool ok = ::write(fd, "ROOT", 4) == 4;
             ::close(fd);
             return ok ? QString() : QStringLiteral("write");
         },
         &Plant::appender},
        {"reader", [](const QString& p) { QByteArray b; QString r; return readWholeFile(p, kSmallFileLimit, b, &r) ? QString() : r; },
         &Plant::reader},
        {"folder maker", [](const QString& p) { QString r; return makeFolders(p, &r) ? QString() : r; }, &Plant::folderMaker},
    };

    for (const Folder& f : folders) {
        for (const Plant& plant : plants) {
            for (const Consumer& consumer : consumers) {
                SCOPED_TRACE(std::string(f.name) + ", " + plant.what + ", " + consumer.name);
                const QString folder = dir.filePath(QString::fromLatin1(f.name));
                QDir(folder).removeRecursively();
                QDir(rootOnly).removeRecursively();
                ASSERT_TRUE(QDir().mkdir(folder) && QDir().mkdir(rootOnly));
                ::chown(QFile::encodeName(folder).constData(), f.owner, kNobody);
                ::chmod(QFile::encodeName(folder).constData(), f.mode);
                ::chmod(QFile::encodeName(rootOnly).constData(), 0700);
                test::writeBytes(victim, "TAJNE");
                ::chmod(QFile::encodeName(victim).constData(), 0600);
                const QString planted = folder + QLatin1Char('/') + QString::fromLatin1(plant.path).section(QLatin1Char('/'), 0, 0);
                ASSERT_TRUE(plant.make(planted));
                const QStringList before = entries(folder);

                const QString reason = consumer.use(folder + QLatin1Char('/') + QString::fromLatin1(plant.path));
                QString expected = QString::fromUtf8(plant.*(consumer.expected));
                // In the user's own home every write is refused for the folder.
                if (f.owner == kNobody && consumer.expected != &Plant::reader && expected != QString::fromUtf8(viaLink)
                    && expected != QStringLiteral("to nie jest folder"))
                    expected = QString::fromUtf8(foreignFolder);
                if (expected.isEmpty())
                    EXPECT_EQ(reason, QString());
                else
                    EXPECT_TRUE(reason.contains(expected)) << reason.toStdString();
                EXPECT_EQ(readBytes(victim), QByteArray("TAJNE"));
                EXPECT_EQ(entries(rootOnly), QStringList{QStringLiteral("shadow")});
                EXPECT_EQ(entries(folder), before) << "nothing left beside the plant";
                if (plant.path == std::string("bus.log") && consumer.expected != &Plant::reader) {
                    EXPECT_EQ(readBytes(planted), QByteArray("cudzy"));
                }
            }
        }
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
        {"simulator state", kSimStateLimit,
         [](const QString& p) {
             SimStateData state;
             QString reason;
             EXPECT_EQ(loadSimState(p, state, &reason), SimStateLoad::Unreadable);
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

// Another user's plants in a folder open to all (1777, as /tmp and
// /run/lock) must not lead root's writer, reader or card lock to a file of
// root's (a 0600 file in a 0700 folder) or to a new name there. Root is
// needed to plant files as another user (nobody).
TEST(PlantedFiles, NothingAnotherUserPlantsInASharedFolderLeadsTheWriterReaderOrLockAstray)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting files as another user needs root";
    constexpr uid_t kNobody = 65534;
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("wspolny"));
    const QString rootOnly = dir.filePath(QStringLiteral("root"));
    const QString victim = rootOnly + QStringLiteral("/ofiara");
    const auto asNobody = [](const QString& p) { return ::lchown(QFile::encodeName(p).constData(), kNobody, kNobody) == 0; };
    const auto symlinkTo = [&](const QString& target) {
        return [&, target](const QString& p) { return QFile::link(target, p) && asNobody(p); };
    };

    struct Plant {
        const char* what;
        std::function<bool(const QString&)> make;
        const char* writer; // a part of the reason; empty: done
        const char* reader;
        const char* lock;
        const char* lockOwner;
    };
    const char* const byNobody = "jest dowiązaniem należącym do użytkownika nobody";
    const Plant plants[] = {
        {"symlink to root's file", symlinkTo(victim), byNobody, byNobody,
         "to jest dowiązanie symboliczne, a nie zwykły plik", "nobody"},
        {"symlink to a missing name in a root-only folder", symlinkTo(rootOnly + QStringLiteral("/nowy")), byNobody,
         byNobody, "to jest dowiązanie symboliczne, a nie zwykły plik", "nobody"},
        // Without fs.protected_hardlinks anyone may give root's file a second
        // name; the writer replaces the name, never the file behind it.
        {"hard link to root's file",
         [&](const QString& p) { return ::link(QFile::encodeName(victim).constData(), QFile::encodeName(p).constData()) == 0; },
         "", "plik ma kilka nazw (dowiązania twarde), a folder jest wspólny", "plik ma kilka nazw (dowiązania twarde)",
         "root"},
        {"FIFO", [&](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0666) == 0 && asNobody(p); },
         "to jest potok (FIFO)", "to jest potok (FIFO)", "to jest potok (FIFO)", "nobody"},
        {"folder", [&](const QString& p) { return QDir().mkdir(p) && asNobody(p); }, "to jest folder", "to jest folder",
         "to jest folder", "nobody"},
        // Another user's file may be read and locked, but what root wrote
        // into it would stay theirs to read and change.
        {"file of another owner",
         [&](const QString& p) {
             test::writeBytes(p, "cudzy");
             return ::chmod(QFile::encodeName(p).constData(), 0666) == 0 && asNobody(p);
         },
         "plik należy do innego użytkownika (nobody), a folder jest wspólny", "", "", ""},
    };

    struct Consumer {
        const char* name;
        std::function<QString(const QString& path, QString* owner)> use;
        const char* Plant::*expected;
    };
    const Consumer consumers[] = {
        {"writer",
         [](const QString& p, QString*) {
             QString reason;
             return writeFileAtomically(p, "NOWE", &reason) ? QString() : reason;
         },
         &Plant::writer},
        {"reader",
         [](const QString& p, QString*) {
             QByteArray bytes;
             QString reason;
             return readWholeFile(p, kSmallFileLimit, bytes, &reason) ? QString() : reason;
         },
         &Plant::reader},
        {"card lock",
         [](const QString& p, QString* owner) {
             CardLock lock;
             const CardLock::Outcome outcome = lock.take(p);
             *owner = lock.owner();
             return outcome == CardLock::Outcome::Taken ? QString() : lock.error();
         },
         &Plant::lock},
    };

    for (const Plant& plant : plants) {
        for (const Consumer& consumer : consumers) {
            SCOPED_TRACE(std::string(consumer.name) + ", " + plant.what);
            QDir(shared).removeRecursively();
            QDir(rootOnly).removeRecursively();
            ASSERT_TRUE(QDir().mkdir(shared) && QDir().mkdir(rootOnly));
            ::chmod(QFile::encodeName(shared).constData(), 01777);
            ::chmod(QFile::encodeName(rootOnly).constData(), 0700);
            test::writeBytes(victim, "TAJNE");
            ::chmod(QFile::encodeName(victim).constData(), 0600);
            const QString path = shared + QStringLiteral("/m.KX3");
            ASSERT_TRUE(plant.make(path));
            const mode_t kind = kindOf(path);

            QString owner;
            const QString reason = consumer.use(path, &owner);
            const QString expected = QString::fromUtf8(plant.*(consumer.expected));
            if (expected.isEmpty()) {
                EXPECT_EQ(reason, QString());
            } else {
                EXPECT_TRUE(reason.contains(expected)) << reason.toStdString();
                EXPECT_EQ(kindOf(path), kind) << "the plant stays as it is";
            }
            if (consumer.expected == &Plant::lock && !expected.isEmpty()) {
                EXPECT_EQ(owner, QString::fromUtf8(plant.lockOwner));
            }
            EXPECT_EQ(readBytes(victim), QByteArray("TAJNE"));
            EXPECT_EQ(entries(rootOnly), QStringList{QStringLiteral("ofiara")});
            EXPECT_EQ(entries(shared), QStringList{QStringLiteral("m.KX3")}) << "no temporary file left";
        }
    }
    // The file of another owner is read as it is, and locked without a byte
    // written into it.
    const QString path = shared + QStringLiteral("/m.KX3");
    QByteArray bytes;
    ASSERT_TRUE(readWholeFile(path, kSmallFileLimit, bytes, nullptr));
    EXPECT_EQ(bytes, QByteArray("cudzy"));
}

// The kernel's rule for links in shared folders, whatever the system's
// settings: a link is followed when it is ours, when its folder is not
// sticky and open to all, or when the folder's owner owns it too. Root
// follows root's links only, wherever they lie.
TEST(PlantedFiles, ALinkIsFollowedOnlyWhereTheKernelWouldFollowItAndByRootOnlyWhenItIsRoots)
{
    constexpr uid_t kUser = 1000;
    struct Case {
        const char* what;
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followedByUser; // run as kUser
        bool followedByRoot;
    };
    const Case cases[] = {
        {"another user's link in a sticky folder open to all", 01777, 0, 65534, false, false},
        {"our own link there", 01777, 0, kUser, true, false},
        {"root's link there", 01777, 0, 0, true, true},
        {"the folder owner's link there", 01777, 65534, 65534, true, false},
        {"another user's link in a sticky folder open to a group only", 01770, 0, 65534, true, false},
        {"another user's link in a folder open to all, not sticky", 0777, 0, 65534, true, false},
        {"the owner's link in a home", 0755, 65534, 65534, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct stat folder {};
        folder.st_mode = S_IFDIR | c.folderMode;
        folder.st_uid = c.folderOwner;
        struct stat link {};
        link.st_mode = S_IFLNK | 0777;
        link.st_uid = c.linkOwner;
        EXPECT_EQ(mayFollowLink(link, folder, kUser), c.followedByUser);
        EXPECT_EQ(mayFollowLink(link, folder, 0), c.followedByRoot);
    }

    // The rule in the walk itself, as the last name and as a folder on the way.
    if (::geteuid() != 0)
        GTEST_SKIP() << "links of another user need root";
    for (const uid_t linkOwner : {uid_t{0}, uid_t{65534}}) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("f"));
        ASSERT_TRUE(QDir().mkdir(folder));
        const QString target = dir.filePath(QStringLiteral("cel"));
        test::writeBytes(target, "x");
        for (const QString& link : {folder + QStringLiteral("/l"), folder + QStringLiteral("/d")}) {
            ASSERT_TRUE(QFile::link(link.endsWith(QLatin1Char('l')) ? target : dir.path(), link));
            ::lchown(QFile::encodeName(link).constData(), linkOwner, linkOwner);
        }
        for (const QString& path : {folder + QStringLiteral("/l"), folder + QStringLiteral("/d/cel")}) {
            ResolvedPath at;
            EXPECT_EQ(at.resolve(path), linkOwner == 0) << path.toStdString() << ": " << at.reason().toStdString();
            if (linkOwner == 0)
                EXPECT_EQ(at.pathText(), target);
            else
                EXPECT_TRUE(at.reason().contains(QStringLiteral("jest dowiązaniem należącym do użytkownika nobody")))
                    << at.reason().toStdString();
        }
    }
}

// Another user must not read a file's new contents while it is written: the
// temporary file has the final permissions from its very creation, not
// wider ones narrowed afterwards.
TEST(SafeWrite, TheTemporaryFileIsCreatedWithTheFinalPermissions)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tajny.KX3"));
    const mode_t umaskBefore = ::umask(0);
    std::vector<std::pair<std::string, mode_t>> created;
    g_created = &created;
    QString reason;
    const bool fresh = writeFileAtomically(path, "nowy plik", &reason);
    ::chmod(QFile::encodeName(path).constData(), 0600);
    const bool replaced = writeFileAtomically(path, "tajne", &reason);
    g_created = nullptr;
    ::umask(umaskBefore);
    ASSERT_TRUE(fresh && replaced) << reason.toStdString();
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[0].second, 0666u) << "a new file as any new file";
    EXPECT_EQ(created[1].second, 0600u) << created[1].first;
    EXPECT_EQ(QFileInfo(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                                                  | QFileDevice::WriteUser);
}

// A run killed half-way (a power cut, kill -9) leaves its temporary file;
// the next write of that file removes such leftovers of ours, and only them.
TEST(SafeWrite, LeftoversOfKilledRunsAreRemovedByTheNextWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("m.KX3"));
    const auto make = [&](const char* name, int ageSeconds) {
        const QString p = dir.filePath(QString::fromLatin1(name));
        test::writeBytes(p, "resztki");
        const struct timespec when[2] = {{::time(nullptr) - ageSeconds, 0}, {::time(nullptr) - ageSeconds, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(p).constData(), when, 0);
        return p;
    };
    make(".m.KX3.1a2b3c.tmp", 3600);
    make(".m.KX3.zz.tmp", 60);
    QStringList kept;
    kept << QStringLiteral(".m.KX3.q9.tmp"); // written now: perhaps by another program this moment
    make(".m.KX3.q9.tmp", 0);
    kept << QStringLiteral(".m.KX3.held1.tmp"); // old, but a writer holds it
    const QString held = make(".m.KX3.held1.tmp", 3600);
    const int heldFd = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(heldFd, LOCK_EX), 0);
    for (const char* other : {".m.KX3.tmp", ".m.KX3.ABC.tmp", ".m.KX3.b.c.tmp", ".m.KX30.abc.tmp", "m.KX3.abc.tmp",
                              ".n.KX3.abc.tmp"}) {
        kept << QString::fromLatin1(other); // not this file's, or not named as ours are
        make(other, 3600);
    }
    kept << QStringLiteral(".m.KX3.twice.tmp"); // a second name of something
    ASSERT_EQ(::link(QFile::encodeName(make(".m.KX3.twice.tmp", 3600)).constData(),
                     QFile::encodeName(dir.filePath(QStringLiteral("drugie"))).constData()),
              0);
    kept << QStringLiteral("drugie");
    if (::geteuid() == 0) {
        kept << QStringLiteral(".m.KX3.cudzy.tmp"); // another user's
        ::chown(QFile::encodeName(make(".m.KX3.cudzy.tmp", 3600)).constData(), 65534, 65534);
    }

    QString reason;
    ASSERT_TRUE(writeFileAtomically(path, "nowy", &reason)) << reason.toStdString();
    ::close(heldFd);
    kept << QStringLiteral("m.KX3");
    kept.sort();
    EXPECT_EQ(entries(dir.path()).join(QLatin1Char(' ')).toStdString(), kept.join(QLatin1Char(' ')).toStdString());
}
