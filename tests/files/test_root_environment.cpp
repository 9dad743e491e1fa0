// What a run as root keeps of the environment it was started with: root's
// own folders whatever HOME and XDG_* say, and nothing that leads Qt to code
// when the environment is another user's.
#include "fileio/RootEnvironment.h"
#include "fileio/SafePath.h"

#include <QFile>
#include <QMap>

#include <gtest/gtest.h>

using namespace vardel;

namespace {

struct Case {
    const char* what;
    QMap<QByteArray, QByteArray> env;
    QByteArray home;                // expected HOME to set
    QList<QByteArray> unset;        // expected, in order
    const char* user;
    bool foreignFolders;
};

// /home/jan is jan's (1000), /srv/root-owned and /root are root's.
std::optional<uid_t> ownerOf(const QByteArray& path)
{
    if (path.startsWith("/home/jan"))
        return 1000;
    if (path.startsWith("/srv") || path.startsWith("/root"))
        return 0;
    return std::nullopt;
}

} // namespace

TEST(RootEnvironment, RootUsesItsOwnFoldersAndDropsWhatLoadsCodeInAnotherUsersEnvironment)
{
    const Case cases[] = {
        {"plain sudo: root's HOME, the caller named", {{"HOME", "/root"}, {"SUDO_USER", "jan"}}, {}, {}, "jan", false},
        {"sudo -E: jan's HOME, folders and plugins",
         {{"HOME", "/home/jan"},
          {"SUDO_USER", "jan"},
          {"XDG_DATA_HOME", "/home/jan/.local/share"},
          {"XDG_CONFIG_DIRS", "/home/jan/etc"},
          {"QT_PLUGIN_PATH", "/home/jan/plugins"},
          {"QT_QPA_GENERIC_PLUGINS", "evil"},
          {"QT_QPA_PLATFORM", "offscreen"}},
         "/root",
         {"XDG_DATA_HOME", "XDG_CONFIG_DIRS", "QT_PLUGIN_PATH", "QT_QPA_GENERIC_PLUGINS"},
         "jan",
         true},
        {"su without '-': no SUDO_USER, the HOME tells whose it is",
         {{"HOME", "/home/jan/"}, {"QT_STYLE_OVERRIDE", "x"}, {"GTK_MODULES", "m"}},
         "/root",
         {"QT_STYLE_OVERRIDE", "GTK_MODULES"},
         "jan",
         true},
        {"root's own environment keeps its plugins",
         {{"HOME", "/root"}, {"QT_PLUGIN_PATH", "/root/plugins"}, {"XDG_CONFIG_HOME", "/root/cfg"}},
         {},
         {"XDG_CONFIG_HOME"},
         "",
         false},
        {"a HOME of root's that is not root's home is not root's environment",
         {{"HOME", "/srv/root-owned"}, {"QT_PLUGIN_PATH", "/srv/root-owned/p"}},
         "/root",
         {"QT_PLUGIN_PATH"},
         "",
         false},
        {"no HOME at all", {{"LD_PRELOAD", "/tmp/x.so"}}, "/root", {"LD_PRELOAD"}, "", false},
        {"SUDO_USER=root is root's own", {{"HOME", "/root"}, {"SUDO_USER", "root"}, {"QT_PLUGIN_PATH", "/p"}}, {}, {}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RootEnvironmentPlan plan = planRootEnvironment(
            "/root",
            [&](const char* name) -> std::optional<QByteArray> {
                const auto it = c.env.find(QByteArray(name));
                return it == c.env.end() ? std::nullopt : std::optional<QByteArray>(*it);
            },
            ownerOf);
        EXPECT_EQ(plan.home, c.home);
        EXPECT_EQ(plan.unset, c.unset);
        EXPECT_EQ(plan.foreignFolders, c.foreignFolders);
        if (std::string(c.user) == "jan")
            EXPECT_TRUE(plan.user == QStringLiteral("jan") || plan.user == userName(1000)) << plan.user.toStdString();
        else
            EXPECT_EQ(plan.user, QString::fromLatin1(c.user));
    }
}

// Every variable the README names is one the plan removes, and the other way round.
TEST(RootEnvironment, TheListedVariablesAreTheOnesCleared)
{
    for (const char* name : {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME",
                             "QT_QPA_GENERIC_PLUGINS", "QT_STYLE_OVERRIDE", "QT_QUICK_CONTROLS_STYLE",
                             "QML2_IMPORT_PATH", "QML_IMPORT_PATH", "QT_ACCESSIBILITY"})
        EXPECT_TRUE(codeLoadingVariables().contains(name)) << name;
    const QByteArray readme = [] {
        QFile f(QStringLiteral(VARDEL_SOURCE_DIR "/README.md"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(readme.isEmpty());
    for (const QByteArray& name : codeLoadingVariables())
        EXPECT_TRUE(readme.contains('`' + name + '`')) << name.toStdString() << " is not in the README";
}
