#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace vardel {

// A path walked the way the kernel walks it when it guards shared folders
// (/tmp, /run/lock, a group folder), whatever the system's own settings say:
// a symbolic link is followed only when it belongs to the user the program
// runs as, or its folder is not sticky and open to all, or the folder's owner
// owns the link too. Any other user's link there is refused, so nobody can
// lead the program's writes, reads or locks to a file of their choosing.
// Root follows root's own links only, wherever they lie.
//
// The result is the folder that holds the last name, kept open, and that
// name: whatever is done there afterwards (create, rename, open, unlink) is
// done relative to the open folder, so the folders on the way cannot be
// swapped for links in the meantime. The last name is not a link (unless the
// caller asked to keep one there), except one of /proc's own (/dev/stderr),
// which only the kernel can follow.
class ResolvedPath {
public:
    ResolvedPath() = default;
    ~ResolvedPath();
    ResolvedPath(ResolvedPath&& other) noexcept;
    ResolvedPath& operator=(ResolvedPath&& other) noexcept;
    ResolvedPath(const ResolvedPath&) = delete;
    ResolvedPath& operator=(const ResolvedPath&) = delete;

    // False on failure: reason() is a Polish text, error() the system's code
    // (0 for a refused link; ENOENT when a folder on the way is missing, and
    // the reason names it). With followLast false a link at the end is left
    // as the last name, for a caller that takes no link there at all.
    bool resolve(const QString& path, bool followLast = true);

    int folder() const { return m_folder; }         // open (O_PATH) folder of the last name
    const QByteArray& name() const { return m_name; } // the last name, no slash in it
    const struct stat& folderStat() const { return m_folderStat; }
    // The last name is one of /proc's links: stat and open it following.
    bool procLink() const { return m_procLink; }
    int statFlags() const { return m_procLink ? 0 : AT_SYMLINK_NOFOLLOW; }
    int openFlags() const { return m_procLink ? 0 : O_NOFOLLOW; }
    // For messages: the folder as it was reached, and the whole name.
    QString folderText() const;
    QString pathText() const;

    // „brak prawa zapisu w folderze …”: a new file cannot be made there.
    QString folderNotWritableText() const;

    const QString& reason() const { return m_reason; }
    int error() const { return m_error; }

private:
    bool fail(int error, const QString& reason);
    void close();

    int m_folder = -1;
    QByteArray m_folderPath;
    QByteArray m_name;
    struct stat m_folderStat {};
    QString m_reason;
    int m_error = 0;
    bool m_procLink = false;
};

// Whether a process whose effective user is `effectiveUid` follows the link
// described by `link` in `folder` (see ResolvedPath).
bool mayFollowLink(const struct stat& link, const struct stat& folder, uid_t effectiveUid);

// Root's folder that nobody else may write to.
bool isRootOnlyFolder(const struct stat& folder);

// Why a program running as root does not write `file` (st_mode 0: a name not
// there yet) in `folder`: the folder or the file is another user's, or it
// appends to a file with several names in a folder others may write to.
// Empty when it may, and always for any other user. The folder as shown.
QString rootRefusal(const struct stat& file, const struct stat& folder, const QString& folderText, bool appending);

// A folder others may put files into, guarded by the sticky bit (/tmp,
// /run/lock): sticky and writable for all, or for a group too when
// `groupToo`. Files there may have been planted by another user.
bool isSharedStickyFolder(const struct stat& folder, bool groupToo = true);

// Whether a file named in a shared sticky folder is another user's (neither
// ours nor the folder owner's): the kernel's rule for files created there.
bool isForeignInSharedFolder(const struct stat& file, const struct stat& folder);

// The user's login name for messages, or the number when it has none.
QString userName(uid_t uid);

// „plik należy do innego użytkownika (jan), a folder jest wspólny”
QString foreignFileText(uid_t owner);

} // namespace vardel
