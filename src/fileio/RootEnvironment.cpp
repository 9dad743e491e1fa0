#include "fileio/RootEnvironment.h"

#include "fileio/SafePath.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

// Where Qt and the XDG rules keep a user's files; root's come from its home.
const char* const kFolderVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                        "XDG_RUNTIME_DIR"};

// The system's own search lists, which another user's environment may have
// put their folders in front of.
const char* const kSearchVariables[] = {"XDG_CONFIG_DIRS", "XDG_DATA_DIRS"};

QByteArray cleanPath(const QByteArray& path)
{
    return QDir::cleanPath(QString::fromLocal8Bit(path)).toLocal8Bit();
}

} // namespace

const QList<QByteArray>& codeLoadingVariables()
{
    static const QList<QByteArray> names = {
        // Qt: plugin folders, the plugins chosen by name, QML imports.
        "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME", "QT_QPA_GENERIC_PLUGINS",
        "QT_STYLE_OVERRIDE", "QT_IM_MODULE", "QT_XCB_GL_INTEGRATION", "QT_WAYLAND_SHELL_INTEGRATION",
        "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "QT_WAYLAND_DECORATION", "QT_LOAD_TESTABILITY", "QT_VULKAN_LIB",
        "QT_VULKAN_INSTANCE_LAYERS", "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
        "QT_QUICK_CONTROLS_STYLE", "QML2_IMPORT_PATH", "QML_IMPORT_PATH", "QT_QPA_FONTDIR",
        // A GTK platform theme loads GTK, which loads modules of its own.
        "GTK_MODULES", "GTK3_MODULES", "GTK_PATH", "GTK_EXE_PREFIX", "GTK_IM_MODULE", "GTK_IM_MODULE_FILE",
        "GIO_EXTRA_MODULES", "GIO_MODULE_DIR", "GDK_PIXBUF_MODULE_FILE", "GDK_PIXBUF_MODULEDIR",
        // OpenGL and Vulkan drivers and layers.
        "LIBGL_DRIVERS_PATH", "__EGL_VENDOR_LIBRARY_FILENAMES", "__EGL_VENDOR_LIBRARY_DIRS",
        "__GLX_VENDOR_LIBRARY_NAME", "GBM_BACKENDS_PATH", "VK_ICD_FILENAMES", "VK_DRIVER_FILES", "VK_LAYER_PATH",
        "VK_ADD_LAYER_PATH", "VK_INSTANCE_LAYERS", "LIBVA_DRIVERS_PATH",
        // The loader has used these already; nothing started later gets them.
        "LD_PRELOAD", "LD_LIBRARY_PATH", "LD_AUDIT"};
    return names;
}

RootEnvironmentPlan planRootEnvironment(const QByteArray& rootHome,
                                        const std::function<std::optional<QByteArray>(const char*)>& value,
                                        const std::function<std::optional<uid_t>(const QByteArray&)>& ownerOf)
{
    RootEnvironmentPlan plan;
    const QByteArray home = cleanPath(rootHome);
    const auto anotherUsers = [&](const QByteArray& path) {
        const std::optional<uid_t> owner = path.isEmpty() ? std::nullopt : ownerOf(cleanPath(path));
        if (!owner || *owner == 0)
            return false;
        if (plan.user.isEmpty())
            plan.user = userName(*owner);
        return true;
    };

    const std::optional<QByteArray> sudoUser = value("SUDO_USER");
    if (sudoUser && !sudoUser->isEmpty() && *sudoUser != "root")
        plan.user = QString::fromLocal8Bit(*sudoUser);
    const std::optional<QByteArray> givenHome = value("HOME");
    const bool homeIsRoots = givenHome && cleanPath(*givenHome) == home;
    if (!homeIsRoots) {
        plan.home = home;
        plan.foreignFolders = givenHome && anotherUsers(*givenHome);
    }
    for (const char* name : kFolderVariables) {
        if (const std::optional<QByteArray> path = value(name)) {
            plan.unset << name;
            if (anotherUsers(*path))
                plan.foreignFolders = true;
        }
    }
    // Another user's environment: nothing in it may lead to code.
    if (!plan.user.isEmpty() || !homeIsRoots) {
        for (const char* name : kSearchVariables) {
            if (value(name))
                plan.unset << name;
        }
        for (const QByteArray& name : codeLoadingVariables()) {
            if (value(name.constData()))
                plan.unset << name;
        }
    }
    return plan;
}

QString confineRootEnvironment()
{
    if (::getuid() != 0 && ::geteuid() != 0)
        return {};
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    const QByteArray rootHome = ::getpwuid_r(0, &entry, buffer.data(), buffer.size(), &found) == 0 && found
            && found->pw_dir && found->pw_dir[0] == '/'
        ? QByteArray(found->pw_dir)
        : QByteArrayLiteral("/root");
    const RootEnvironmentPlan plan = planRootEnvironment(
        rootHome,
        [](const char* name) -> std::optional<QByteArray> {
            const char* v = std::getenv(name);
            return v ? std::optional<QByteArray>(QByteArray(v)) : std::nullopt;
        },
        [](const QByteArray& path) -> std::optional<uid_t> {
            // The nearest folder that exists on the way: that is where a
            // new file would land.
            QString at = QString::fromLocal8Bit(path);
            struct stat st {};
            while (::stat(at.toLocal8Bit().constData(), &st) != 0) {
                const QString up = QFileInfo(at).path();
                if (up == at)
                    return std::nullopt;
                at = up;
            }
            return st.st_uid;
        });

    bool loadsCode = false;
    QStringList changed;
    if (!plan.home.isEmpty()) {
        ::setenv("HOME", plan.home.constData(), 1);
        changed << QStringLiteral("HOME");
    }
    for (const QByteArray& name : plan.unset) {
        ::unsetenv(name.constData());
        changed << QString::fromLatin1(name);
        loadsCode = loadsCode || codeLoadingVariables().contains(name);
    }
    // Root's own choices need no word; another user's do.
    if (changed.isEmpty() || (plan.user.isEmpty() && !plan.foreignFolders && !loadsCode))
        return {};
    if (plan.user.isEmpty())
        return QStringLiteral("Program działa jako root z obcym środowiskiem: używa folderów roota; pominięto zmienne %1.")
            .arg(changed.join(QStringLiteral(", ")));
    return QStringLiteral("Program działa jako root ze środowiskiem użytkownika %1: używa folderów roota; pominięto "
                          "zmienne %2.")
        .arg(plan.user, changed.join(QStringLiteral(", ")));
}

} // namespace vardel
