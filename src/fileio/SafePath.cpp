#include "fileio/SafePath.h"

#include "fileio/SafeFile.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vardel {

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

QList<QByteArray> partsOf(const QByteArray& path)
{
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (!part.isEmpty())
            parts << part;
    }
    return parts;
}

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    if (folder.isEmpty())
        return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray parentOf(const QByteArray& folder)
{
    if (folder.isEmpty())
        return QByteArrayLiteral("..");
    if (folder == "/")
        return folder;
    if (folder == ".." || folder.endsWith("/.."))
        return folder + "/..";
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash < 0)
        return {};
    return slash == 0 ? QByteArrayLiteral("/") : folder.left(slash);
}

} // namespace

bool mayFollowLink(const struct stat& link, const struct stat& folder, uid_t effectiveUid)
{
    // Root follows its own links only: any other user's link, wherever it
    // lies, could lead it to a file only root may touch.
    if (effectiveUid == 0)
        return link.st_uid == 0;
    // The kernel's own rule (fs.protected_symlinks), whatever the system says.
    return link.st_uid == effectiveUid || (folder.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)
        || folder.st_uid == link.st_uid;
}

namespace {

bool onProcFs(int folder)
{
    struct statfs fs {};
    return ::fstatfs(folder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

int openFolder(int at, const char* name)
{
    return ::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

ResolvedPath::~ResolvedPath()
{
    close();
}

ResolvedPath::ResolvedPath(ResolvedPath&& other) noexcept
    : m_folder(std::exchange(other.m_folder, -1))
    , m_folderPath(std::move(other.m_folderPath))
    , m_name(std::move(other.m_name))
    , m_folderStat(other.m_folderStat)
    , m_reason(std::move(other.m_reason))
    , m_error(other.m_error)
    , m_procLink(other.m_procLink)
{
}

ResolvedPath& ResolvedPath::operator=(ResolvedPath&& other) noexcept
{
    if (this != &other) {
        close();
        m_folder = std::exchange(other.m_folder, -1);
        m_folderPath = std::move(other.m_folderPath);
        m_name = std::move(other.m_name);
        m_folderStat = other.m_folderStat;
        m_reason = std::move(other.m_reason);
        m_error = other.m_error;
        m_procLink = other.m_procLink;
    }
    return *this;
}

void ResolvedPath::close()
{
    if (m_folder >= 0)
        ::close(m_folder);
    m_folder = -1;
}

bool ResolvedPath::fail(int error, const QString& reason)
{
    close();
    m_error = error;
    m_reason = reason;
    return false;
}

QString ResolvedPath::folderText() const
{
    return m_folderPath.isEmpty() ? QStringLiteral(".") : QFile::decodeName(m_folderPath);
}

QString ResolvedPath::pathText() const
{
    return QFile::decodeName(joined(m_folderPath, m_name));
}

QString ResolvedPath::folderNotWritableText() const
{
    return QStringLiteral("brak prawa zapisu w folderze %1").arg(folderText());
}

bool ResolvedPath::resolve(const QString& path, bool followLast)
{
    close();
    m_name.clear();
    m_reason.clear();
    m_error = 0;
    m_procLink = false;

    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.isEmpty())
        return fail(ENOENT, systemErrorText(ENOENT));
    const auto startAt = [this](bool absolute) {
        const int fd = ::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return fail(errno, systemErrorText(errno));
        close();
        m_folder = fd;
        m_folderPath = absolute ? QByteArrayLiteral("/") : QByteArray();
        return true;
    };
    if (!startAt(bytes.startsWith('/')))
        return false;

    QList<QByteArray> pending = partsOf(bytes);
    if (pending.isEmpty())
        pending << QByteArrayLiteral(".");
    int links = 0;
    while (!pending.isEmpty()) {
        const QByteArray part = pending.takeFirst();
        const bool last = pending.isEmpty();
        if (!last && part == ".")
            continue;
        if (!last && part == "..") {
            const int up = openFolder(m_folder, "..");
            if (up < 0)
                return fail(errno, systemErrorText(errno));
            close();
            m_folder = up;
            m_folderPath = parentOf(m_folderPath);
            continue;
        }

        struct stat st {};
        if (::fstatat(m_folder, part.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int e = errno;
            if (e == ENOENT && last) {
                m_name = part;
                break;
            }
            if (e == ENOENT)
                return fail(e, QStringLiteral("folder %1 nie istnieje").arg(QFile::decodeName(joined(m_folderPath, part))));
            return fail(e, systemErrorText(e));
        }

        if (S_ISLNK(st.st_mode) && (followLast || !last)) {
            struct stat folder {};
            if (::fstat(m_folder, &folder) != 0)
                return fail(errno, systemErrorText(errno));
            if (!mayFollowLink(st, folder, ::geteuid())) {
                const QString link = QFile::decodeName(joined(m_folderPath, part));
                if (::geteuid() == 0)
                    return fail(0, QStringLiteral("%1 jest dowiązaniem należącym do użytkownika %2; program działający "
                                                  "jako root go nie użyje")
                                       .arg(link, userName(st.st_uid)));
                return fail(0, QStringLiteral("dowiązanie symboliczne %1 w folderze wspólnym należy do innego "
                                              "użytkownika (%2)")
                                   .arg(link, userName(st.st_uid)));
            }
            // /proc/self/fd/2 names a pipe or a terminal, not a path: only
            // the kernel can follow it.
            if (last && onProcFs(m_folder)) {
                m_name = part;
                m_procLink = true;
                break;
            }
            if (++links > kMaxLinks)
                return fail(ELOOP, systemErrorText(ELOOP));
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlinkat(m_folder, part.constData(), target.data(), static_cast<std::size_t>(target.size()));
            if (n < 0)
                return fail(errno, systemErrorText(errno));
            if (n >= target.size())
                return fail(ENAMETOOLONG, systemErrorText(ENAMETOOLONG));
            target.truncate(n);
            if (target.startsWith('/') && !startAt(true))
                return false;
            QList<QByteArray> rest = partsOf(target);
            if (rest.isEmpty())
                rest << QByteArrayLiteral(".");
            pending = rest + pending;
            continue;
        }

        if (last) {
            m_name = part;
            break;
        }
        if (!S_ISDIR(st.st_mode))
            return fail(ENOTDIR, QStringLiteral("%1 nie jest folderem").arg(QFile::decodeName(joined(m_folderPath, part))));
        const int next = openFolder(m_folder, part.constData());
        if (next < 0)
            return fail(errno, systemErrorText(errno));
        close();
        m_folder = next;
        m_folderPath = joined(m_folderPath, part);
    }
    if (::fstat(m_folder, &m_folderStat) != 0)
        return fail(errno, systemErrorText(errno));
    return true;
}

bool isSharedStickyFolder(const struct stat& folder, bool groupToo)
{
    const mode_t writable = groupToo ? (S_IWOTH | S_IWGRP) : S_IWOTH;
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & writable) != 0;
}

bool isForeignInSharedFolder(const struct stat& file, const struct stat& folder)
{
    return isSharedStickyFolder(folder) && file.st_uid != ::geteuid() && file.st_uid != folder.st_uid;
}

bool isRootOnlyFolder(const struct stat& folder)
{
    return folder.st_uid == 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString rootRefusal(const struct stat& file, const struct stat& folder, const QString& folderText, bool appending)
{
    if (::geteuid() != 0)
        return {};
    if (folder.st_uid != 0)
        return QStringLiteral("folder %1 należy do innego użytkownika (%2); program działający jako root nie "
                              "zapisuje w cudzych folderach")
            .arg(folderText, userName(folder.st_uid));
    if (file.st_mode == 0)
        return {};
    if (file.st_uid != 0)
        return QStringLiteral("plik należy do innego użytkownika (%1); program działający jako root nie zapisuje "
                              "w cudzych plikach")
            .arg(userName(file.st_uid));
    // A second name in a folder others may write to can be anyone's way to
    // one of root's files (without fs.protected_hardlinks).
    if (appending && file.st_nlink > 1 && !isRootOnlyFolder(folder))
        return QStringLiteral("plik ma kilka nazw (dowiązania twarde), a folder jest dostępny dla innych");
    return {};
}

QString userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString foreignFileText(uid_t owner)
{
    return QStringLiteral("plik należy do innego użytkownika (%1), a folder jest wspólny").arg(userName(owner));
}

} // namespace vardel
