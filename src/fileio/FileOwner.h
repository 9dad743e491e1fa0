#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

struct stat;

namespace vardel {

// Root writing into a folder that belongs to another user (run through sudo
// with the user's HOME, or saving into the user's folder): what it makes
// there goes to that user, so that the user's own runs can replace it later.
// Anywhere else, and for any other user, files stay as the system makes them.
struct FileOwner {
    uid_t uid = 0;
    gid_t gid = 0;

    bool operator==(const FileOwner&) const = default;
};

// The owner a new file or folder in `folder` is given by a process whose
// effective user is `effectiveUid`; none when nothing is to be changed.
std::optional<FileOwner> ownerForNewEntry(const struct stat& folder, uid_t effectiveUid);

// The same for whatever would be made at `path` by this process, judged by
// the nearest folder on the way there that exists.
std::optional<FileOwner> ownerForNewEntryAt(const QString& path);

// Makes the folder at `path` and every missing folder above it, each given
// to its parent's owner as ownerForNewEntry says. False when it is not there
// afterwards.
bool makeFolders(const QString& path);

// Files that users of one group share (the simulated card's state, its
// history) in a folder of that group: writable by the group, whatever the
// umask of the user who made them first; a folder made there is open to the
// group too. Nothing changes where the folder is not group-writable, or is
// open to all (/tmp), or the entry is not ours. `made` is the file or
// folder just made in such a folder.
void shareWithFolderGroup(const QString& made);

} // namespace vardel
