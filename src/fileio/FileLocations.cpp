#include "fileio/FileLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

bool holdsNamesFiles(const QDir& dir)
{
    for (const char* name : {"KX2_NAME.TXT", "KX3_NAME.TXT", "KX4_NAME.TXT"}) {
        if (QFileInfo::exists(dir.filePath(QLatin1String(name))))
            return true;
    }
    return false;
}

// The user's folder of one kind with "vardel" under it; Qt follows the XDG
// variables and falls back to ~/.config and ~/.local/share.
QString userFolder(QStandardPaths::StandardLocation kind)
{
    return QDir(QStandardPaths::writableLocation(kind)).filePath(QStringLiteral("vardel"));
}

} // namespace

FileLocations fileLocations(const QString& programDir)
{
    const QDir program(programDir);
    // <prefix>/bin/vardel reads <prefix>/share/vardel, wherever the prefix is
    // (/usr, /usr/local, an unpacked package).
    const QDir shared(program.absoluteFilePath(QStringLiteral("../share/vardel")));
    const bool namesBeside = holdsNamesFiles(program);
    const bool namesShared = !namesBeside && holdsNamesFiles(shared);
    // access() asks for the real user: root running /usr/bin/vardel could
    // write there, which is why the shared names files count as installed too.
    const bool writable = ::access(QFile::encodeName(program.absolutePath()).constData(), W_OK) == 0;
    // Root run from another user's build tree keeps its files in its own
    // folders: it writes into no folder of another user's.
    struct stat folder {};
    const bool anotherUsers = ::geteuid() == 0 && ::stat(QFile::encodeName(program.absolutePath()).constData(), &folder) == 0
        && folder.st_uid != 0;

    FileLocations places;
    places.installed = namesShared || !writable || anotherUsers;
    places.namesDir = namesShared ? QDir::cleanPath(shared.absolutePath()) : program.absolutePath();
    if (places.installed) {
        places.configDir = userFolder(QStandardPaths::GenericConfigLocation);
        places.dataDir = userFolder(QStandardPaths::GenericDataLocation);
        places.startDir = QDir::homePath();
    } else {
        places.configDir = places.dataDir = places.startDir = program.absolutePath();
    }
    return places;
}

} // namespace vardel
