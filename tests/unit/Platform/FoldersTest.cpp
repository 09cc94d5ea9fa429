#include "Platform/Folders.h"
#include "Platform/File.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace Vexel;
using Vexel::Test::ScopedEnvironment;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace fs = std::filesystem;

TEST(Folders, CreateFolderMakesEveryMissingLevel)
{
    TempDir dir;
    String path = dir.Wide() + u"\\one/two\\three";
    ASSERT_TRUE(CreateFolder(path));
    EXPECT_TRUE(fs::is_directory(dir / "one/two/three"));
    EXPECT_TRUE(CreateFolder(path));                               // exists already
    EXPECT_TRUE(CreateFolder(dir.Wide() + u"\\ONE\\Two\\four\\")); // existing levels found by case
    EXPECT_TRUE(fs::is_directory(dir / "one/two/four"));
#if !defined(_WIN32) // one name there, whatever the case
    EXPECT_FALSE(fs::exists(dir / "ONE"));
#endif
    EXPECT_TRUE(CreateFolder(u"C:"));

    WriteBytes(dir / "file", "x");
    EXPECT_FALSE(CreateFolder(dir.Wide() + u"\\file\\below"));
    EXPECT_FALSE(CreateFolder(String()));
}

TEST(Folders, RemoveFolderTakesEverythingButFollowsNoLinks)
{
    TempDir dir;
    TempDir outside;
    WriteBytes(outside / "keep.txt", "keep");
    WriteBytes(dir / "tree/a.txt", "a");
    WriteBytes(dir / "tree/sub/b.txt", "b");
    fs::permissions(dir / "tree/sub/b.txt", fs::perms::owner_read);
#if !defined(_WIN32) // links need a privilege there
    fs::create_directory_symlink(outside.Path(), dir / "tree/link");
#endif
    fs::permissions(dir / "tree/sub", fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_TRUE(RemoveFolder(dir.Wide("TREE")));
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_TRUE(fs::exists(outside / "keep.txt"));
    EXPECT_FALSE(RemoveFolder(dir.Wide("tree")));
}

TEST(Folders, EnumerateFilesListsFullPathsAndRecursesOnRequest)
{
    TempDir dir;
    WriteBytes(dir / "b.txt", "");
    WriteBytes(dir / "a.txt", "");
    WriteBytes(dir / "sub/c.txt", "");
    WriteBytes(dir / "sub/deeper/d.txt", "");
    fs::create_directory(dir / "empty");
#if !defined(_WIN32)
    fs::create_directory_symlink(dir.Path(), dir / "sub/loop"); // never entered
#endif

    std::vector<String> seen;
    auto collect = [&](const String& path) { seen.push_back(path); };
    String root = dir.Wide();
    EXPECT_EQ(EnumerateFiles(root, false, collect), 2u);
    EXPECT_EQ(seen, (std::vector<String>{root + u"/a.txt", root + u"/b.txt"}));

    seen.clear();
    EXPECT_EQ(EnumerateFiles(root, true, collect), 4u);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<String>{root + u"/a.txt", root + u"/b.txt", root + u"/sub/c.txt",
                                         root + u"/sub/deeper/d.txt"}));

    // The program's own separator is kept.
    seen.clear();
    EXPECT_EQ(EnumerateFiles(root + u"\\SUB", true, collect), 2u);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen[0], root + u"\\SUB\\c.txt");
    EXPECT_EQ(seen[1], root + u"\\SUB\\deeper\\d.txt");

    EXPECT_EQ(EnumerateFiles(root, true, nullptr), 4u);
    EXPECT_EQ(EnumerateFiles(dir.Wide("missing"), true, collect), 0u);
}

TEST(Folders, FreeSpaceOfAMissingPathCreatesNothing)
{
    TempDir dir;
    const auto existing = GetFreeSpace(dir.Wide());
    EXPECT_GT(existing, 0u);
    // The nearest folder that exists answers; other programs may write to the same disk meanwhile, so
    // the two readings agree to within a margin, not to the byte.
    const auto missing = GetFreeSpace(dir.Wide("not/yet/there"));
    const auto apart = missing > existing ? missing - existing : existing - missing;
    EXPECT_LT(apart, _qword(1) << 30) << missing << " against " << existing;
    EXPECT_FALSE(fs::exists(dir / "not"));
}

TEST(Folders, CurrentFolderAndTemporaryNames)
{
    TempDir dir;
    String previous = GetCurrentFolder();
    ASSERT_FALSE(previous.empty());
    fs::create_directory(dir / "Work");
    ASSERT_TRUE(SetCurrentFolder(dir.Wide("work")));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir / "Work"));
    EXPECT_EQ(GetCurrentFolder(), String(fs::current_path().u16string()));
    EXPECT_FALSE(SetCurrentFolder(dir.Wide("missing")));
    ASSERT_TRUE(SetCurrentFolder(previous));

    String first = GetTempFileName(dir.Wide(), u"vexel-");
    String second = GetTempFileName(dir.Wide(), u"vexel-");
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(first.substr(0, dir.Wide().size() + 7), dir.Wide() + u"/vexel-");
    EXPECT_TRUE(FileExists(first));
    EXPECT_TRUE(GetTempFileName(dir.Wide("missing"), u"vexel-").empty());
    EXPECT_FALSE(GetTempFolder().empty());
}

#if !defined(_WIN32)
TEST(Folders, SpecialFoldersFollowTheUsersSettings)
{
    TempDir dir;
    ScopedEnvironment home("HOME", dir.Path().c_str());
    {
        ScopedEnvironment data("XDG_DATA_HOME", nullptr);
        ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(GetUserRoot(), dir.Wide() + u"/.local/share/vexel");
        EXPECT_EQ(GetSpecialFolder(SpecialFolder::Profile), dir.Wide());
        EXPECT_EQ(GetSpecialFolder(SpecialFolder::Desktop), dir.Wide() + u"/Desktop");
        EXPECT_EQ(GetSpecialFolder(SpecialFolder::StartMenu), dir.Wide() + u"/.local/share/applications");
        WriteBytes(dir / ".config/user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        EXPECT_EQ(GetSpecialFolder(SpecialFolder::Desktop), dir.Wide() + u"/Schreibtisch");
    }
    {
        ScopedEnvironment data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(GetUserRoot(), u"/srv/data/vexel");
        EXPECT_EQ(GetSpecialFolder(SpecialFolder::AppData), u"/srv/data");
    }
    {
        ScopedEnvironment data("XDG_DATA_HOME", "relative/ignored");
        EXPECT_EQ(GetUserRoot(), dir.Wide() + u"/.local/share/vexel");
    }
}
#else
TEST(Folders, SpecialFoldersAreTheShellsAndTheRootIsInTheProfile)
{
    const String profile = GetSpecialFolder(SpecialFolder::Profile);
    ASSERT_FALSE(profile.empty());
    EXPECT_EQ(GetUserRoot(), profile + u"\\vexel");
    for (SpecialFolder which : {SpecialFolder::Profile, SpecialFolder::AppData})
        EXPECT_TRUE(FolderExists(GetSpecialFolder(which))) << Vexel::Test::Narrow(GetSpecialFolder(which));
    EXPECT_FALSE(GetSpecialFolder(SpecialFolder::Desktop).empty());
    EXPECT_FALSE(GetSpecialFolder(SpecialFolder::StartMenu).empty());
    EXPECT_FALSE(GetTempFolder().empty());
    EXPECT_NE(GetTempFolder().back(), u'\\');
}
#endif

TEST(Folders, JoinFolderKeepsTheFoldersSeparator)
{
    EXPECT_EQ(JoinFolder(u"C:\\data", u"x"), u"C:\\data\\x");
    EXPECT_EQ(JoinFolder(u"/home/u", u"x"), u"/home/u/x");
    EXPECT_EQ(JoinFolder(u"/home/u/", u"x"), u"/home/u/x");
    EXPECT_EQ(JoinFolder(u"data", u"x"), u"data\\x");
    EXPECT_EQ(JoinFolder(u"", u"x"), u"x");
}
