#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include <sys/types.h>

namespace vardel {

// Root is the most dangerous user: a run as root uses root's own folders
// from the password database, whatever HOME and XDG_* say (sudo -E, su
// without "-" keep another user's), and, in another user's environment
// (SUDO_USER set, or HOME not root's), none of the variables through which
// Qt and the libraries under it load code (plugins, themes, styles, GL and
// Vulkan drivers, GTK modules).
struct RootEnvironmentPlan {
    QByteArray home;          // HOME to set; empty when it is root's already
    QList<QByteArray> unset;  // variables to remove, in the order checked
    QString user;             // whose environment it is; empty when root's own
    bool foreignFolders = false; // HOME or XDG_* pointed into another user's folder
};

// The variables that lead Qt or a library it loads to code (listed in the README).
const QList<QByteArray>& codeLoadingVariables();

// What a run as root changes. `value` gives a variable's value (nullopt:
// not set); `ownerOf` the owner of the nearest folder on a path that exists.
RootEnvironmentPlan planRootEnvironment(const QByteArray& rootHome,
                                        const std::function<std::optional<QByteArray>(const char*)>& value,
                                        const std::function<std::optional<uid_t>(const QByteArray&)>& ownerOf);

// For this process, before any Qt object is made: nothing unless the real
// or effective user is root. Returns the note to say once (empty when
// nothing was changed that the user should hear of).
QString confineRootEnvironment();

} // namespace vardel
