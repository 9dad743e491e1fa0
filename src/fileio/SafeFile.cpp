#include "fileio/SafeFile.h"

#include "fileio/FileOwner.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

QString kindOfSpecialFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("to jest folder, a nie plik");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("to jest plik urządzenia, a nie zwykły plik");
    if (S_ISFIFO(mode))
        return QStringLiteral("to jest potok (FIFO), a nie zwykły plik");
    if (S_ISSOCK(mode))
        return QStringLiteral("to jest gniazdo, a nie zwykły plik");
    return QStringLiteral("to nie jest zwykły plik");
}

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

QString folderText(const QByteArray& dir)
{
    return QFile::decodeName(dir);
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray nameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// Follows symbolic links from path to the name they finally lead to (a file
// that may not exist yet). False and errno when the chain cannot be followed.
bool followLinks(QByteArray& path, int& error)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            error = errno;
            return false;
        }
        if (!S_ISLNK(st.st_mode))
            return true;
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), static_cast<std::size_t>(target.size()));
        if (n < 0) {
            error = errno;
            return false;
        }
        if (n >= target.size()) {
            error = ENAMETOOLONG;
            return false;
        }
        target.truncate(n);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    error = ELOOP;
    return false;
}

// A new file beside the target, made only for us (O_EXCL), with the usual
// permissions of a new file.
int createTemporary(const QByteArray& folder, const QByteArray& name, QByteArray& tempPath)
{
    // Kept short enough that the temporary name fits where the target's does.
    const QByteArray stem = folder + "/." + name.left(200) + '.';
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, std::min<std::size_t>(left, std::size_t{1} << 20));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

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
    default: return QStringLiteral("błąd systemu nr %1").arg(errnum);
    }
}

bool readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* reason, bool* missing)
{
    auto fail = [&](const QString& why, bool isMissing = false) {
        if (reason)
            *reason = why;
        if (missing)
            *missing = isMissing;
        return false;
    };
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return fail(QStringLiteral("plik nie istnieje"), true);

    // Looked at before it is opened: opening a FIFO for reading waits for a
    // writer, and opening a device may do something to it.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int error = errno;
        return error == ENOENT ? fail(QStringLiteral("plik nie istnieje"), true) : fail(systemErrorText(error));
    }
    if (!S_ISREG(st.st_mode))
        return fail(kindOfSpecialFile(st.st_mode));
    if (st.st_size > maxBytes)
        return fail(tooLarge(maxBytes));

    // O_NONBLOCK: should the name have been swapped for a FIFO meanwhile, the
    // open does not wait; fstat then refuses it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(systemErrorText(errno));
    QByteArray data;
    QString why;
    if (::fstat(fd, &st) != 0) {
        why = systemErrorText(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = kindOfSpecialFile(st.st_mode);
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
        return fail(why);
    bytes = std::move(data);
    if (missing)
        *missing = false;
    return true;
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* reason)
{
    auto fail = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return fail(systemErrorText(ENOENT));
    int error = 0;
    if (!followLinks(target, error))
        return fail(systemErrorText(error));

    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return fail(systemErrorText(errno));
    if (exists) {
        // Renaming over a device node, a FIFO or a socket would replace it
        // with an ordinary file (as root, /dev/null itself).
        if (!S_ISREG(st.st_mode))
            return fail(kindOfSpecialFile(st.st_mode));
        // A file the user made read-only stays as it is, although the rename
        // would be allowed.
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            return fail(systemErrorText(errno));
    }

    const QByteArray folder = folderOf(target);
    struct stat folderStat {};
    if (::stat(folder.constData(), &folderStat) != 0) {
        if (errno == ENOENT)
            return fail(QStringLiteral("folder %1 nie istnieje").arg(folderText(folder)));
        return fail(systemErrorText(errno));
    }
    if (!S_ISDIR(folderStat.st_mode))
        return fail(QStringLiteral("%1 nie jest folderem").arg(folderText(folder)));

    QByteArray temp;
    const int fd = createTemporary(folder, nameOf(target), temp);
    if (fd < 0) {
        const int e = errno;
        // The file itself may be writable, but it is replaced through a new
        // file beside it, which the folder must allow.
        if (e == EACCES || e == EPERM)
            return fail(QStringLiteral("brak prawa zapisu w folderze %1").arg(folderText(folder)));
        return fail(systemErrorText(e));
    }
    if (exists) {
        // The new file takes the old one's permissions and, where we may
        // give it, its owner.
        ::fchmod(fd, st.st_mode & 07777);
        if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Stays ours; nothing is lost by that.
        }
    } else if (const auto owner = ownerForNewEntry(folderStat, ::geteuid())) {
        if (::fchown(fd, owner->uid, owner->gid) != 0) {
            // Stays root's; the file is written all the same.
        }
    }

    auto abandon = [&](const QString& why, bool open) {
        if (open)
            ::close(fd);
        ::unlink(temp.constData());
        return fail(why);
    };
    // fsync reports what the page cache accepted but the disk did not (a
    // full quota, a network file system); EINVAL means it has nothing to do.
    if (!writeAll(fd, bytes) || (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS))
        return abandon(systemErrorText(errno), true);
    if (::close(fd) != 0)
        return abandon(systemErrorText(errno), false);
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int e = errno;
        return abandon(e == EACCES || e == EPERM ? QStringLiteral("brak prawa zapisu w folderze %1").arg(folderText(folder))
                                                 : systemErrorText(e),
                       false);
    }

    // The rename itself reaches the disk with the folder; a failure here
    // leaves either the old file or the new one, never a mix.
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace vardel
