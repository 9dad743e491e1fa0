#include "app/CardLock.h"

#include "fileio/SafeFile.h"
#include "fileio/SafePath.h"
#include "link/Module1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vardel {

namespace {

// The process that holds the flock on this file, as the system lists it:
// "1: FLOCK  ADVISORY  WRITE 4242 08:02:131077 0 EOF". 0 when not found.
qint64 holderFromSystem(const struct stat& file)
{
    QByteArray locks;
    if (!readWholeFile(QStringLiteral("/proc/locks"), kSmallFileLimit, locks, nullptr))
        return 0;
    for (const QByteArray& line : locks.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK")
            continue;
        // Device (major:minor, hexadecimal) and inode of the locked file.
        const QList<QByteArray> id = fields[5].split(':');
        if (id.size() != 3)
            continue;
        bool majorOk = false;
        bool minorOk = false;
        bool inodeOk = false;
        const uint lockedMajor = id[0].toUInt(&majorOk, 16);
        const uint lockedMinor = id[1].toUInt(&minorOk, 16);
        const qulonglong lockedInode = id[2].toULongLong(&inodeOk);
        if (!majorOk || !minorOk || !inodeOk || lockedMajor != major(file.st_dev) || lockedMinor != minor(file.st_dev)
            || lockedInode != file.st_ino)
            continue;
        const qint64 pid = fields[4].toLongLong();
        if (pid > 0)
            return pid;
    }
    return 0;
}

// The PID of the holder. Without the system's list, the PID the creator
// wrote: it writes it right after taking the lock, so an empty file is given
// a moment before the holder is called unknown (0).
qint64 holderPid(int fd)
{
    struct stat file {};
    if (::fstat(fd, &file) == 0) {
        if (const qint64 pid = holderFromSystem(file))
            return pid;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        char text[32] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        if (n > 0) {
            const qint64 pid = QByteArray(text, static_cast<qsizetype>(n)).trimmed().toLongLong();
            if (pid > 0)
                return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

bool sameFile(int fd, int folder, const QByteArray& name)
{
    struct stat byFd{};
    struct stat byName{};
    return ::fstat(fd, &byFd) == 0 && ::fstatat(folder, name.constData(), &byName, AT_SYMLINK_NOFOLLOW) == 0
        && byFd.st_dev == byName.st_dev && byFd.st_ino == byName.st_ino;
}

// Anything but a regular file with one name may lead elsewhere: a link or a
// second name planted by another user for a file of theirs or of root's.
QString refusalOf(const struct stat& st)
{
    if (!S_ISREG(st.st_mode))
        return fileKindText(st.st_mode);
    if (st.st_nlink != 1)
        return QStringLiteral("plik ma kilka nazw (dowiązania twarde)");
    return {};
}

} // namespace

CardLock::~CardLock()
{
    release();
}

CardLock::CardLock(CardLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_created(other.m_created)
    , m_at(std::move(other.m_at))
    , m_path(std::move(other.m_path))
    , m_holder(other.m_holder)
    , m_error(std::move(other.m_error))
    , m_owner(std::move(other.m_owner))
{
}

CardLock& CardLock::operator=(CardLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_created = other.m_created;
        m_at = std::move(other.m_at);
        m_path = std::move(other.m_path);
        m_holder = other.m_holder;
        m_error = std::move(other.m_error);
        m_owner = std::move(other.m_owner);
    }
    return *this;
}

CardLock::Outcome CardLock::failed(const QString& reason, const struct stat* file)
{
    m_error = reason;
    m_owner = file ? userName(file->st_uid) : QString();
    return Outcome::Failed;
}

CardLock::Outcome CardLock::take(const QString& path)
{
    release();
    m_path = path;
    m_holder = 0;
    m_error.clear();
    m_owner.clear();
    ResolvedPath at;
    if (!at.resolve(path, false))
        return failed(at.reason());
    const int folder = at.folder();
    const char* name = at.name().constData();
    // A few rounds at most: a round is repeated only when the holder let go
    // and removed the file between our look and our lock.
    for (int round = 0; round < 100; ++round) {
        struct stat st {};
        int fd = -1;
        bool created = false;
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (const QString refused = refusalOf(st); !refused.isEmpty())
                return failed(refused, &st);
            // Read-only is enough for flock, and nothing is written into a
            // file we did not make; another user's file can be locked too.
            fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT)
                continue;
            if (fd < 0)
                return failed(systemErrorText(errno), &st);
        } else if (errno == ENOENT) {
            fd = ::openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0) {
                const int e = errno;
                return failed(e == EACCES || e == EPERM ? at.folderNotWritableText() : systemErrorText(e));
            }
            created = true;
            // Every user's program must be able to open it, to wait its turn
            // and to see who holds the card, whatever our umask.
            ::fchmod(fd, 0644);
        } else {
            return failed(systemErrorText(errno));
        }

        if (::fstat(fd, &st) != 0) {
            const int error = errno;
            ::close(fd);
            return failed(systemErrorText(error));
        }
        if (const QString refused = refusalOf(st); !refused.isEmpty()) {
            ::close(fd);
            return failed(refused, &st);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                m_holder = holderPid(fd);
                ::close(fd);
                return Outcome::Busy;
            }
            ::close(fd);
            return failed(systemErrorText(error), &st);
        }
        if (!sameFile(fd, folder, at.name())) {
            ::close(fd);
            continue;
        }
        if (created) {
            const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
            if (::pwrite(fd, pid.constData(), static_cast<std::size_t>(pid.size()), 0) != pid.size()) {
                // The lock holds all the same; only the note of who holds it is missing.
            }
        }
        m_fd = fd;
        m_created = created;
        m_at = std::move(at);
        return Outcome::Taken;
    }
    return failed(QStringLiteral("plik blokady znika przy każdej próbie"));
}

CardLock::Outcome CardLock::wait(const QString& path, const std::function<bool()>& stop,
                                 const std::function<void(qint64)>& waiting, std::chrono::milliseconds poll)
{
    for (bool first = true;; first = false) {
        const Outcome outcome = take(path);
        if (outcome != Outcome::Busy)
            return outcome;
        if (first && waiting)
            waiting(m_holder);
        if (stop && stop())
            return outcome;
        std::this_thread::sleep_for(poll);
    }
}

void CardLock::release()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so that nobody can lock the old file after
    // the next holder created a new one; a waiter that opened it already
    // sees it is gone and opens again. The holder removes a file the loser
    // of a race made (it never got the lock, so may not remove it) too,
    // unless it is another user's in a shared folder, which stays theirs.
    struct stat st {};
    const bool ours = m_created
        || (::fstat(m_fd, &st) == 0
            && (st.st_uid == ::geteuid() || !isSharedStickyFolder(m_at.folderStat())));
    if (ours && sameFile(m_fd, m_at.folder(), m_at.name()))
        ::unlinkat(m_at.folder(), m_at.name().constData(), 0);
    ::close(m_fd);
    m_fd = -1;
    m_created = false;
    m_at = ResolvedPath();
}

QString cardBusyMessage(std::uint16_t cardAddress, qint64 holder)
{
    return QStringLiteral("Karta interfejsu %1 jest używana przez inny program (PID %2).")
        .arg(QString::fromStdString(hexText(cardAddress)))
        .arg(holder);
}

QString cardLockFailedMessage(std::uint16_t cardAddress, const CardLock& lock)
{
    const QString file = QDir::toNativeSeparators(lock.path());
    const QString where = lock.owner().isEmpty() ? QStringLiteral("plik %1").arg(file)
                                                 : QStringLiteral("plik %1, właściciel: %2").arg(file, lock.owner());
    return QStringLiteral("Nie można założyć blokady karty interfejsu %1 (%2): %3. Bez blokady karta nie zostanie użyta.")
        .arg(QString::fromStdString(hexText(cardAddress)), where, lock.error());
}

QString systemLockFolder(bool installed)
{
    if (installed)
        return QString::fromLatin1(kPackageLockFolder);
    for (const QString& folder : {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")}) {
        if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
            return folder;
    }
    return QDir::tempPath();
}

QString portCardLockPath(const QString& folder, std::uint16_t cardAddress)
{
    return QDir(folder).filePath(QStringLiteral("vardel-%1.lock").arg(QString::fromStdString(hexText(cardAddress))));
}

QString simCardLockPath(const QString& stateFile)
{
    const QString absolute = QFileInfo(stateFile).absoluteFilePath();
    ResolvedPath at;
    return (at.resolve(absolute) ? at.pathText() : absolute) + QStringLiteral(".lock");
}

// --- the real card's ports ---

LockedPorts::LockedPorts(std::unique_ptr<PortBackend> ports, QString lockFolder, std::uint16_t cardAddress,
                         CardLock lock, Clock clock)
    : m_ports(std::move(ports))
    , m_folder(std::move(lockFolder))
    , m_base(cardAddress)
    , m_lock(std::move(lock))
    , m_clock(std::move(clock))
{
}

void LockedPorts::vbOut(std::uint16_t port, std::uint8_t value)
{
    if (reachable(port))
        m_ports->vbOut(port, value);
}

std::uint8_t LockedPorts::vbInp(std::uint16_t port)
{
    return reachable(port) ? m_ports->vbInp(port) : std::uint8_t{0xFF};
}

bool LockedPorts::reachable(std::uint16_t port)
{
    if (port != m_base && port != static_cast<std::uint16_t>(m_base + 1)) {
        moveTo(port == 0 ? port : static_cast<std::uint16_t>(port - 1));
    } else if (m_busy && m_clock() - m_lastTry >= std::chrono::seconds(1)) {
        // The other program may have ended: look again, but not on every
        // one of the thousands of reads of a wait.
        tryLock(false);
    }
    return !m_busy;
}

void LockedPorts::moveTo(std::uint16_t base)
{
    m_lock.release();
    m_base = base;
    tryLock(true);
}

void LockedPorts::tryLock(bool announce)
{
    m_lastTry = m_clock();
    // A lock that cannot be taken guards nothing: the card stays out of reach
    // as if another program had it.
    const CardLock::Outcome outcome = m_lock.take(portCardLockPath(m_folder, m_base));
    m_busy = outcome != CardLock::Outcome::Taken;
    if (m_busy && announce && m_onMessage)
        m_onMessage(outcome == CardLock::Outcome::Busy ? cardBusyMessage(m_base, m_lock.holder())
                                                       : cardLockFailedMessage(m_base, m_lock));
}

} // namespace vardel
