#include "app/CardLock.h"

#include "link/Module1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The PID the holder wrote. It writes it right after taking the lock, so an
// empty file is given a moment before the holder is called unknown (0).
qint64 holderPid(int fd)
{
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

bool sameFile(int fd, const QByteArray& name)
{
    struct stat byFd{};
    struct stat byName{};
    return ::fstat(fd, &byFd) == 0 && ::stat(name.constData(), &byName) == 0 && byFd.st_dev == byName.st_dev
        && byFd.st_ino == byName.st_ino;
}

// In a shared folder (sticky and open to all, as /run/lock is) the lock file
// must be open to every user's program, or a second user could not even see
// who holds the card.
void shareIfInSharedFolder(int fd, const QString& path)
{
    struct stat folder{};
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::stat(dir.constData(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0)
        ::fchmod(fd, 0666);
}

} // namespace

CardLock::~CardLock()
{
    release();
}

CardLock::CardLock(CardLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
    , m_holder(other.m_holder)
    , m_error(std::move(other.m_error))
{
}

CardLock& CardLock::operator=(CardLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_holder = other.m_holder;
        m_error = std::move(other.m_error);
    }
    return *this;
}

CardLock::Outcome CardLock::take(const QString& path)
{
    release();
    m_path = path;
    m_holder = 0;
    m_error.clear();
    const QByteArray name = QFile::encodeName(path);
    // A few rounds at most: a round is repeated only when the holder let go
    // and removed the file between our open and our lock.
    for (int round = 0; round < 100; ++round) {
        int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd >= 0)
                shareIfInSharedFolder(fd, path);
        }
        if (fd < 0) {
            m_error = systemReason(errno);
            return Outcome::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                m_holder = holderPid(fd);
                ::close(fd);
                return Outcome::Busy;
            }
            ::close(fd);
            m_error = systemReason(error);
            return Outcome::Failed;
        }
        if (!sameFile(fd, name)) {
            ::close(fd);
            continue;
        }
        const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), static_cast<std::size_t>(pid.size()), 0) != pid.size()) {
            // The lock holds all the same; only the note of who holds it is missing.
        }
        m_fd = fd;
        return Outcome::Taken;
    }
    m_error = QStringLiteral("plik blokady znika przy każdej próbie");
    return Outcome::Failed;
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
    // sees it is gone and opens again.
    const QByteArray name = QFile::encodeName(m_path);
    if (sameFile(m_fd, name))
        ::unlink(name.constData());
    ::close(m_fd);
    m_fd = -1;
}

QString cardBusyMessage(std::uint16_t cardAddress, qint64 holder)
{
    return QStringLiteral("Karta interfejsu %1 jest używana przez inny program (PID %2).")
        .arg(QString::fromStdString(hexText(cardAddress)))
        .arg(holder);
}

QString systemLockFolder()
{
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
    const QFileInfo info(stateFile);
    const QString real = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    return real + QStringLiteral(".lock");
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
    // A lock that cannot be made at all (no folder to write) does not stop
    // the work: it only cannot guard it.
    m_busy = m_lock.take(portCardLockPath(m_folder, m_base)) == CardLock::Outcome::Busy;
    if (m_busy && announce && m_onMessage)
        m_onMessage(cardBusyMessage(m_base, m_lock.holder()));
}

} // namespace vardel
