// Where the program keeps its files: beside itself when run from a folder the
// user may write to, in the user's folders when installed under a prefix.
// (A folder the user cannot write to is tried by the package test, which runs
// the unpacked programs as an unprivileged user; root may write anywhere.)

#include "app/Settings.h"
#include "fileio/FileLocations.h"
#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "support/FakePort.h"
#include "support/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>


using namespace vardel;
using vardel::test::ScopedEnv;

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// A temporary tree with a program folder "bin", a home and (maybe) the names
// files beside the program or under share/vardel.
struct Tree {
    enum class Names { Beside, Shared, Nowhere };

    QTemporaryDir dir;
    QString bin, share, home;

    explicit Tree(Names names)
    {
        bin = dir.filePath(QStringLiteral("usr/bin"));
        share = dir.filePath(QStringLiteral("usr/share/vardel"));
        home = dir.filePath(QStringLiteral("home"));
        QDir().mkpath(bin);
        QDir().mkpath(home);
        for (const char* name : {"KX2_NAME.TXT", "KX3_NAME.TXT", "KX4_NAME.TXT"}) {
            if (names == Names::Beside)
                touch(bin + QLatin1Char('/') + QLatin1String(name));
            if (names == Names::Shared)
                touch(share + QLatin1Char('/') + QLatin1String(name));
        }
    }
    QString path(const char* relative) const { return dir.filePath(QLatin1String(relative)); }
};

} // namespace

TEST(FileLocations, BesideTheProgramOrInTheUsersFolders)
{
    struct Case {
        const char* what;
        Tree::Names names;
        bool xdgSet;
        bool installed;
        const char* config; // relative to the tree
        const char* data;
        const char* namesDir;
        const char* start;
    };
    const Case cases[] = {
        {"build tree or copied folder", Tree::Names::Beside, true, false, "usr/bin", "usr/bin", "usr/bin", "usr/bin"},
        {"installed, XDG folders given", Tree::Names::Shared, true, true, "xdg-config/vardel", "xdg-data/vardel",
         "usr/share/vardel", "home"},
        {"installed, XDG folders unset", Tree::Names::Shared, false, true, "home/.config/vardel",
         "home/.local/share/vardel", "usr/share/vardel", "home"},
        {"no names files anywhere", Tree::Names::Nowhere, true, false, "usr/bin", "usr/bin", "usr/bin", "usr/bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree tree(c.names);
        ScopedEnv env;
        env.set("HOME", tree.home);
        env.set("XDG_CONFIG_HOME", c.xdgSet ? std::optional(tree.path("xdg-config")) : std::nullopt);
        env.set("XDG_DATA_HOME", c.xdgSet ? std::optional(tree.path("xdg-data")) : std::nullopt);

        const FileLocations places = fileLocations(tree.bin);
        EXPECT_EQ(places.installed, c.installed);
        EXPECT_EQ(places.configDir, tree.path(c.config));
        EXPECT_EQ(places.dataDir, tree.path(c.data));
        EXPECT_EQ(places.namesDir, tree.path(c.namesDir));
        EXPECT_EQ(places.startDir, tree.path(c.start));
    }
}

// Root running another user's build tree writes nothing beside it: its files
// go to root's folders, the names files are still read beside the program.
TEST(FileLocations, RootInAnotherUsersBuildTreeUsesItsOwnFolders)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's build tree needs root";
    Tree tree(Tree::Names::Beside);
    ScopedEnv env;
    env.set("HOME", tree.home);
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_DATA_HOME", std::nullopt);
    ASSERT_EQ(::chown(QFile::encodeName(tree.bin).constData(), 65534, 65534), 0);
    const FileLocations places = fileLocations(tree.bin);
    EXPECT_TRUE(places.installed);
    EXPECT_EQ(places.configDir, tree.path("home/.config/vardel"));
    EXPECT_EQ(places.dataDir, tree.path("home/.local/share/vardel"));
    EXPECT_EQ(places.namesDir, tree.bin);
}

TEST(FileLocations, InstalledProgramReadsSharedNamesAndCreatesItsConfigFolderOnlyWhenWriting)
{
    Tree tree(Tree::Names::Shared);
    ScopedEnv env;
    env.set("HOME", tree.home);
    env.set("XDG_CONFIG_HOME", tree.path("xdg-config"));
    const QString configDir = tree.path("xdg-config/vardel");

    test::FakePort port;
    Module1 link(port);
    RegisterTable table;
    selectModel(link, table, kModelKX4, tree.bin);
    EXPECT_EQ(table.NamesFile, tree.share + QStringLiteral("/KX4_NAME.TXT"));

    const QString settings = settingsFilePath(tree.bin);
    EXPECT_EQ(settings, configDir + QStringLiteral("/Vardel.cfg"));
    bool defaults = false;
    readSettingsFile(settings, &defaults);
    EXPECT_TRUE(defaults);
    EXPECT_FALSE(QFileInfo::exists(configDir)) << "reading must not create the folder";

    Settings s;
    s.MeterAddress = 7;
    ASSERT_TRUE(writeProgramSettings(tree.bin, s));
    EXPECT_EQ(readSettingsFile(settings, &defaults), s);
    EXPECT_FALSE(defaults);
    EXPECT_EQ(QDir(tree.bin).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}
