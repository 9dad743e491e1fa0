#include "fileio/SafeFile.h"

#include "fileio/OutputStream.h"
#include "fileio/SafePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

QString fileKindText(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("to jest folder, a nie plik");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("to jest plik urządzenia, a nie zwykły plik");
    if (S_ISFIFO(mode))
        return QStringLiteral("to jest potok (FIFO), a nie zwykły plik");
    if (S_ISSOCK(mode))
        return QStringLiteral("to jest gniazdo, a nie zwykły plik");
    if (S_ISLNK(mode))
        return QStringLiteral("to jest dowiązanie symboliczne, a nie zwykły plik");
    return QStringLiteral("to nie jest zwykły plik");
}

namespace {

// A name with nothing there yet, for rootRefusal.
const struct stat kNoFile {};

QString sizeText(qint64 bytes)
{
    if (bytes >= (qint64{1} << 20) && bytes % (qint64{1} << 20) == 0)
        return QStringLiteral("%1 MB").arg(bytes >> 20);
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QStringLiteral("%1 kB").arg(bytes >> 10);
    return QStringLiteral("%1 B").arg(bytes);
}

QString tooLarge(qint64 limit)
{
    return QStringLiteral("plik jest za duży (ponad %1)").arg(sizeText(limit));
}

// The temporary file of a target: ".NAME.RANDOM.tmp" beside it, the name
// kept short enough to fit where the target's does.
QByteArray temporaryPrefix(const QByteArray& name)
{
    return '.' + name.left(200) + '.';
}

bool isTemporaryOf(const QByteArray& entry, const QByteArray& prefix)
{
    if (entry.size() <= prefix.size() + 4 || !entry.startsWith(prefix) || !entry.endsWith(".tmp"))
        return false;
    const QByteArray random = entry.mid(prefix.size(), entry.size() - prefix.size() - 4);
    // QByteArray::number(quint32, 36): one to seven of 0-9 a-z.
    return !random.isEmpty() && random.size() <= 7
        && std::all_of(random.begin(), random.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

// When this process started, on the wall clock (the kernel counts it in
// clock ticks since boot).
bool processStart(struct timespec& start)
{
    char text[1024];
    const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    const QByteArray line(text, static_cast<qsizetype>(n));
    // The command name in parentheses may hold blanks: count after it.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    constexpr qsizetype kStartTime = 22 - 3;
    bool ok = false;
    const qulonglong ticks = fields.size() > kStartTime ? fields[kStartTime].toULongLong(&ok) : 0;
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    struct timespec sinceBoot {};
    struct timespec now {};
    if (!ok || perSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0
        || ::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return false;
    const double age = static_cast<double>(sinceBoot.tv_sec) + static_cast<double>(sinceBoot.tv_nsec) / 1e9
        - static_cast<double>(ticks) / static_cast<double>(perSecond);
    start.tv_sec = now.tv_sec - static_cast<time_t>(age) - 1; // to the second, never later than it was
    start.tv_nsec = 0;
    return true;
}

// Temporary files left in `folder` by runs that were killed half-way (a
// power cut, kill -9), each whose name `ours` takes: hidden, named as ours
// are, owned by us, older than this run and not held by a writer (each keeps
// its own locked while it writes), so a second program writing the same file
// now keeps its own.
void removeLeftoversWhere(int folder, const std::function<bool(const QByteArray&)>& ours)
{
    struct timespec start {};
    if (!processStart(start))
        return;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    std::vector<QByteArray> found;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') && name.endsWith(".tmp") && ours(name))
            found.push_back(name);
    }
    const int fd0 = ::dirfd(dir);
    for (const QByteArray& name : found) {
        struct stat st {};
        if (::fstatat(fd0, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
            || st.st_uid != ::geteuid() || st.st_nlink != 1 || st.st_mtim.tv_sec >= start.tv_sec)
            continue;
        const int fd = ::openat(fd0, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(fd0, name.constData(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

void removeLeftovers(const ResolvedPath& at)
{
    const QByteArray prefix = temporaryPrefix(at.name());
    removeLeftoversWhere(at.folder(), [&prefix](const QByteArray& name) { return isTemporaryOf(name, prefix); });
}

// The temporary file a write goes to, removed again unless it was renamed
// over its target: also when an exception (out of memory) ends the write.
class Temporary {
public:
    explicit Temporary(int folder) : m_folder(folder) {}
    ~Temporary()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_name.isEmpty() && !m_kept)
            ::unlinkat(m_folder, m_name.constData(), 0);
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // Made only for us (O_EXCL), with the final permissions from the start,
    // so that nobody can open it before they are narrowed.
    bool create(const QByteArray& target, mode_t mode)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_name = temporaryPrefix(target) + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
            m_fd = ::openat(m_folder, m_name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (m_fd >= 0) {
                // Tells removeLeftovers of another program that it is in use.
                ::flock(m_fd, LOCK_EX | LOCK_NB);
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        m_name.clear();
        return false;
    }
    int fd() const { return m_fd; }
    const QByteArray& name() const { return m_name; }
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }
    void keep() { m_kept = true; }

private:
    int m_folder;
    int m_fd = -1;
    QByteArray m_name;
    bool m_kept = false;
};

} // namespace

QString systemErrorText(int errnum)
{
    switch (errnum) {
    case ENOSPC: return QStringLiteral("brak miejsca na dysku");
#ifdef EDQUOT
    case EDQUOT: return QStringLiteral("przekroczony przydział miejsca na dysku");
#endif
    case EACCES:
    case EPERM: return QStringLiteral("brak dostępu do pliku");
    case EROFS: return QStringLiteral("system plików jest tylko do odczytu");
    case ENOENT: return QStringLiteral("nie ma takiego pliku ani folderu");
    case EISDIR: return QStringLiteral("to jest folder, a nie plik");
    case EFBIG: return QStringLiteral("plik przekracza dopuszczalny rozmiar");
    case EIO: return QStringLiteral("błąd wejścia-wyjścia dysku");
    case ENAMETOOLONG: return QStringLiteral("za długa nazwa pliku");
    case ENOTDIR: return QStringLiteral("część ścieżki nie jest folderem");
    case ELOOP: return QStringLiteral("za dużo dowiązań symbolicznych w ścieżce");
    case EMFILE:
    case ENFILE: return QStringLiteral("za dużo otwartych plików");
    case ENOMEM: return QStringLiteral("brak pamięci");
    case ETXTBSY: return QStringLiteral("plik jest używany przez uruchomiony program");
    case EBUSY: return QStringLiteral("plik lub urządzenie jest zajęte");
    case EEXIST: return QStringLiteral("plik już istnieje");
    case EINVAL: return QStringLiteral("nieprawidłowa nazwa pliku");
    case ENXIO:
    case ENODEV: return QStringLiteral("brak urządzenia");
    case EAGAIN: return QStringLiteral("zasób chwilowo niedostępny");
    case EINTR: return QStringLiteral("operację przerwano");
    case ESTALE: return QStringLiteral("plik sieciowy nie jest już dostępny");
    case EPIPE: return QStringLiteral("odbiorca potoku zakończył pracę");
    case ENOSYS: return QStringLiteral("funkcja nieobsługiwana przez jądro systemu");
    case EOPNOTSUPP: return QStringLiteral("operacja nieobsługiwana przez system plików");
    case ENOLCK: return QStringLiteral("brak wolnych blokad plików w systemie");
    case EBADF: return QStringLiteral("nieprawidłowy deskryptor pliku");
    default: return QStringLiteral("błąd systemu nr %1").arg(errnum);
    }
}

bool readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* reason, bool* missing,
                   bool* unreadable)
{
    auto fail = [&](const QString& why, bool isMissing = false, bool isUnreadable = false) {
        if (reason)
            *reason = why;
        if (missing)
            *missing = isMissing;
        if (unreadable)
            *unreadable = isUnreadable;
        return false;
    };
    ResolvedPath at;
    if (!at.resolve(path)) {
        if (at.error() == ENOENT)
            return fail(QStringLiteral("plik nie istnieje"), true);
        return fail(at.reason(), false, true);
    }
    const char* name = at.name().constData();
    // Whatever the name turns out to be, the file opened must pass too.
    const auto refusal = [&](const struct stat& st) -> std::optional<std::pair<QString, bool>> {
        if (!S_ISREG(st.st_mode))
            return std::make_pair(fileKindText(st.st_mode), false);
        if (st.st_nlink > 1 && isSharedStickyFolder(at.folderStat()))
            return std::make_pair(QStringLiteral("plik ma kilka nazw (dowiązania twarde), a folder jest wspólny"), true);
        // Root reads nothing through a second name others could have given
        // one of its files: what it read might be written where they see it.
        if (st.st_nlink > 1 && ::geteuid() == 0 && !isRootOnlyFolder(at.folderStat()))
            return std::make_pair(QStringLiteral("plik ma kilka nazw (dowiązania twarde), a folder jest dostępny dla innych"),
                                  true);
        if (st.st_size > maxBytes)
            return std::make_pair(tooLarge(maxBytes), false);
        return std::nullopt;
    };

    // Looked at before it is opened: opening a FIFO for reading waits for a
    // writer, and opening a device may do something to it.
    struct stat st {};
    if (::fstatat(at.folder(), name, &st, at.statFlags()) != 0) {
        const int error = errno;
        return error == ENOENT ? fail(QStringLiteral("plik nie istnieje"), true)
                               : fail(systemErrorText(error), false, true);
    }
    if (const auto refused = refusal(st))
        return fail(refused->first, false, refused->second);

    // O_NONBLOCK: should the name have been swapped for a FIFO meanwhile, the
    // open does not wait; fstat then refuses it.
    const int fd = ::openat(at.folder(), name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | at.openFlags());
    if (fd < 0)
        return fail(systemErrorText(errno), false, true);
    QByteArray data;
    QString why;
    bool systemFault = false;
    if (::fstat(fd, &st) != 0) {
        why = systemErrorText(errno);
        systemFault = true;
    } else if (const auto refused = refusal(st)) {
        why = refused->first;
        systemFault = refused->second;
    } else {
        // The file may grow while it is read: never more than the bound.
        data.resize(std::min<qint64>(st.st_size, maxBytes) + 1);
        qsizetype got = 0;
        for (;;) {
            if (got == data.size()) {
                if (got > maxBytes) {
                    why = tooLarge(maxBytes);
                    break;
                }
                data.resize(std::min<qint64>(data.size() * 2, maxBytes + 1));
            }
            const ssize_t n = ::read(fd, data.data() + got, static_cast<std::size_t>(data.size() - got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                why = systemErrorText(errno);
                systemFault = true;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (why.isEmpty() && got > maxBytes)
            why = tooLarge(maxBytes);
        data.truncate(got);
    }
    ::close(fd);
    if (!why.isEmpty())
        return fail(why, false, systemFault);
    bytes = std::move(data);
    if (missing)
        *missing = false;
    if (unreadable)
        *unreadable = false;
    return true;
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* reason, mode_t newFileMode)
{
    auto fail = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    ResolvedPath at;
    if (!at.resolve(path))
        return fail(at.reason());
    const int folder = at.folder();
    const QByteArray& name = at.name();

    struct stat st {};
    const bool exists = ::fstatat(folder, name.constData(), &st, at.statFlags()) == 0;
    if (!exists && errno != ENOENT)
        return fail(systemErrorText(errno));
    if (exists) {
        // Renaming over a device node, a FIFO or a socket would replace it
        // with an ordinary file (as root, /dev/null itself).
        if (!S_ISREG(st.st_mode))
            return fail(fileKindText(st.st_mode));
        // /dev/stdout and the like: the name is the kernel's, not a file's.
        if (at.procLink())
            return fail(fileKindText(S_IFLNK));
        // Someone else's file in /tmp: what we write would stay theirs to
        // read and change (the kernel refuses to open such a file too).
        if (isForeignInSharedFolder(st, at.folderStat()))
            return fail(foreignFileText(st.st_uid));
        // A file the user made read-only stays as it is, although the rename
        // would be allowed.
        if (::faccessat(folder, name.constData(), W_OK, AT_EACCESS) != 0)
            return fail(systemErrorText(errno));
    }
    if (const QString refused = rootRefusal(exists ? st : kNoFile, at.folderStat(), at.folderText(), false);
        !refused.isEmpty())
        return fail(refused);
    removeLeftovers(at);

    Temporary temp(folder);
    if (!temp.create(name, (exists ? st.st_mode : newFileMode) & 0777)) {
        const int e = errno;
        // The file itself may be writable, but it is replaced through a new
        // file beside it, which the folder must allow.
        return fail(e == EACCES || e == EPERM ? at.folderNotWritableText() : systemErrorText(e));
    }
    if (exists) {
        // The new file takes the old one's owner where we may give it, and
        // its permissions (the umask may have narrowed them; set after the
        // owner, which would clear set-ID bits).
        if (::geteuid() == 0 && ::fchown(temp.fd(), st.st_uid, st.st_gid) != 0) {
            // Stays ours; nothing is lost by that.
        }
        ::fchmod(temp.fd(), st.st_mode & 07777);
    }

    // fsync reports what the page cache accepted but the disk did not (a
    // full quota, a network file system); EINVAL means it has nothing to do.
    if (!writeAllTo(temp.fd(), bytes.constData(), static_cast<std::size_t>(bytes.size()))
        || (::fsync(temp.fd()) != 0 && errno != EINVAL && errno != EROFS))
        return fail(systemErrorText(errno));
    if (!temp.close())
        return fail(systemErrorText(errno));
    if (::renameat(folder, temp.name().constData(), folder, name.constData()) != 0) {
        const int e = errno;
        return fail(e == EACCES || e == EPERM ? at.folderNotWritableText() : systemErrorText(e));
    }
    temp.keep();

    // The rename itself reaches the disk with the folder; a failure here
    // leaves either the old file or the new one, never a mix.
    const int dirFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

int openForAppend(const QString& path, QString* reason, int* errnum)
{
    auto fail = [&](const QString& why, int error) {
        if (reason)
            *reason = why;
        if (errnum)
            *errnum = error;
        return -1;
    };
    ResolvedPath at;
    if (!at.resolve(path))
        return fail(at.reason(), at.error());
    struct stat st {};
    const bool exists = ::fstatat(at.folder(), at.name().constData(), &st, at.statFlags()) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return fail(fileKindText(st.st_mode), EISDIR);
        if ((S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) && !at.procLink()
            && isForeignInSharedFolder(st, at.folderStat()))
            return fail(foreignFileText(st.st_uid), 0);
    }
    if (!at.procLink()) {
        if (const QString refused = rootRefusal(exists ? st : kNoFile, at.folderStat(), at.folderText(), true);
            !refused.isEmpty())
            return fail(refused, 0);
    }
    const int fd = ::openat(at.folder(), at.name().constData(),
                            O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_CLOEXEC | at.openFlags(), 0666);
    if (fd < 0)
        return fail(systemErrorText(errno), errno);
    return fd;
}

bool makeFolders(const QString& path, QString* reason)
{
    ResolvedPath at;
    if (!at.resolve(path)) {
        if (at.error() != ENOENT || path.isEmpty()) {
            if (reason)
                *reason = at.reason();
            return false;
        }
        // A folder on the way is missing: made first, then this one.
        const QString clean = QDir::cleanPath(QDir(path).absolutePath());
        const QString parent = QFileInfo(clean).path();
        if (parent == clean || !makeFolders(parent, reason) || !at.resolve(path)) {
            if (reason && reason->isEmpty())
                *reason = at.reason();
            return false;
        }
    }
    struct stat st {};
    if (::fstatat(at.folder(), at.name().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (reason)
            *reason = QStringLiteral("to nie jest folder");
        return false;
    }
    if (const QString refused = rootRefusal(kNoFile, at.folderStat(), at.folderText(), false); !refused.isEmpty()) {
        if (reason)
            *reason = refused;
        return false;
    }
    if (::mkdirat(at.folder(), at.name().constData(), 0777) == 0)
        return true;
    const int e = errno;
    if (e == EEXIST && ::fstatat(at.folder(), at.name().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        return true;
    if (reason)
        *reason = e == EACCES || e == EPERM ? at.folderNotWritableText() : systemErrorText(e);
    return false;
}

void removeTemporaryLeftovers(const QString& folder, const std::function<bool(const QByteArray&)>& isTarget)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    removeLeftoversWhere(fd, [&isTarget](const QByteArray& name) {
        // ".NAME.RANDOM.tmp": the target is what lies between the dots.
        const qsizetype dot = name.lastIndexOf('.', name.size() - 5);
        if (dot <= 1)
            return false;
        const QByteArray target = name.mid(1, dot - 1);
        return isTemporaryOf(name, temporaryPrefix(target)) && isTarget(target);
    });
    ::close(fd);
}

void shareWithFolderGroup(const QString& made)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(made).absolutePath());
    struct stat parent {};
    if (::stat(folder.constData(), &parent) != 0)
        return;
    const bool groupFolder = (parent.st_mode & S_IWGRP) && !(parent.st_mode & S_IWOTH);
    if (!groupFolder)
        return;
    // Opened without following a link, and changed through that descriptor:
    // whatever takes the name meanwhile is never what gets the group's bits.
    const int fd = ::open(QFile::encodeName(made).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat entry {};
    if (::fstat(fd, &entry) == 0 && entry.st_uid == ::geteuid() && (S_ISREG(entry.st_mode) || S_ISDIR(entry.st_mode))) {
        const mode_t wanted = S_ISDIR(entry.st_mode) ? S_IRWXG | S_ISGID : S_IRGRP | S_IWGRP;
        if ((entry.st_mode & wanted) != wanted)
            ::fchmod(fd, (entry.st_mode & 07777) | wanted);
    }
    ::close(fd);
}

} // namespace vardel
