#include "fileio/FileOwner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

std::optional<FileOwner> ownerForNewEntry(const struct stat& folder, uid_t effectiveUid)
{
    if (effectiveUid != 0 || folder.st_uid == 0)
        return std::nullopt;
    return FileOwner{folder.st_uid, folder.st_gid};
}

std::optional<FileOwner> ownerForNewEntryAt(const QString& path)
{
    QString folder = QDir::cleanPath(QDir(path).absolutePath());
    struct stat st {};
    while (::stat(QFile::encodeName(folder).constData(), &st) != 0) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return std::nullopt;
        folder = parent;
    }
    return ownerForNewEntry(st, ::geteuid());
}

bool makeFolders(const QString& path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    const QByteArray name = QFile::encodeName(clean);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const QString parent = QFileInfo(clean).path();
    if (parent == clean || !makeFolders(parent))
        return false;

    const QByteArray parentName = QFile::encodeName(parent);
    struct stat parentStat {};
    if (::mkdir(name.constData(), 0777) != 0)
        return errno == EEXIST && ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (::stat(parentName.constData(), &parentStat) == 0) {
        if (const auto owner = ownerForNewEntry(parentStat, ::geteuid())) {
            // Opened without following a link, so that only the folder just
            // made changes hands, even if the name was swapped meanwhile.
            const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                if (::fchown(fd, owner->uid, owner->gid) != 0) {
                    // Stays root's; the folder is there all the same.
                }
                ::close(fd);
            }
        }
    }
    return true;
}

void shareWithFolderGroup(const QString& made)
{
    const QByteArray path = QFile::encodeName(made);
    const QByteArray folder = QFile::encodeName(QFileInfo(made).absolutePath());
    struct stat parent {};
    struct stat entry {};
    if (::stat(folder.constData(), &parent) != 0 || ::lstat(path.constData(), &entry) != 0)
        return;
    const bool groupFolder = (parent.st_mode & S_IWGRP) && !(parent.st_mode & S_IWOTH);
    if (!groupFolder || entry.st_uid != ::geteuid() || !(S_ISREG(entry.st_mode) || S_ISDIR(entry.st_mode)))
        return;
    const mode_t wanted = S_ISDIR(entry.st_mode) ? S_IRWXG | S_ISGID : S_IRGRP | S_IWGRP;
    if ((entry.st_mode & wanted) != wanted)
        ::chmod(path.constData(), (entry.st_mode & 07777) | wanted);
}

} // namespace vardel
