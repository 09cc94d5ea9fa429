// The install step against real files in a temporary user's folders: installing over a differing copy,
// an identical copy left alone, the uninstall entry, shortcuts and autostart entry, uninstalling from
// elsewhere and from the installed place (through a temporary copy); the copy thread and the migration
// of a program's files; the cache clean-up; preload packs merged into an installed archive, and damaged
// ones refused.
#include "Services/Install.h"
#include "InstallTestSupport.h"

#include "Common/Md5.h"
#include "Platform/File.h"
#include "Platform/KeyStore.h"
#include "Platform/Process.h"
#include "Storage/Archive/HashArchive.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

class InstallTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        mStartFolder = GetCurrentFolder();
        mFolders = std::make_unique<UserFolders>(mDir.Path());
        // A desktop folder with another name, as a translated desktop has it.
        WriteBytes(mDir / "config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        mProgram = mDir / "my programs" / "vexel-launcher";
        fs::create_directories(mProgram.parent_path());
        WriteBytes(mProgram, RecordingProgram(mDir / "record.txt"));
        fs::permissions(mProgram, fs::perms::owner_all);
        SetProgramPath(*mState, String(mProgram.u16string()));
        mState->mAppName = u"vexel demo";
        mState->mFileName = u"vexel-launcher";
        mState->mTitle = u"Vexel Demo";
        mState->mUserRoot = GetUserRoot();
        mData = mDir / "data" / "vexel" / "vexel demo";
        fs::create_directories(mData);
        MarkDataFolder(String(mData.u16string())); // made by the client, so it is the client's to delete
        mState->mDataFolder = String(mData.u16string());
        mState->mInstallFolder = mState->mDataFolder;
    }
    void TearDown() override
    {
        WaitForStartedPrograms();
        SetCurrentFolder(mStartFolder); // uninstalling leaves the folder it deletes
        mFolders.reset();
        LauncherTest::TearDown();
    }
    fs::path Installed() const { return mData / "vexel-launcher"; }
    fs::path DesktopEntry() const { return mDir / "home" / "Schreibtisch" / "Vexel Demo.desktop"; }
    fs::path MenuEntry() const { return mDir / "data" / "applications" / "Vexel Demo.desktop"; }
    fs::path AutostartEntry() const { return mDir / "config" / "autostart" / "vexel demo.desktop"; }
    String Value(const char16_t* name) const
    {
        String value;
        GetUserValue(UninstallKey(*mState), name, value);
        return value;
    }
    void InstallEverything()
    {
        mState->mInstall = true;
        mState->mCreateShortcut = true;
        mState->mAutoStart = true;
        InstallStep(*mState);
    }

    TempDir mDir;
    String mStartFolder;
    std::unique_ptr<UserFolders> mFolders;
    fs::path mProgram;
    fs::path mData;
    FakeRetryClock mClock;
};

bool Executable(const fs::path& path)
{
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

TEST_F(InstallTest, ADifferingInstalledCopyIsReplacedAndAnIdenticalOneLeftAlone)
{
    WriteBytes(Installed(), "an older build");
    InstallStep(*mState);
    EXPECT_EQ(ReadBytes(Installed()), ReadBytes(mProgram));
    EXPECT_TRUE(Executable(Installed()));
    EXPECT_TRUE(Logged(u"[MC] Program version "));

    struct stat before, after;
    ASSERT_EQ(::stat(Installed().c_str(), &before), 0);
    InstallStep(*mState);
    ASSERT_EQ(::stat(Installed().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino); // not written again
    // Nothing was asked for beyond the copy.
    EXPECT_FALSE(fs::exists(DesktopEntry()));
    EXPECT_FALSE(fs::exists(MenuEntry()));
    EXPECT_FALSE(fs::exists(AutostartEntry()));
}

TEST_F(InstallTest, TheInstallRequestWritesTheUninstallEntryShortcutsAndAutostart)
{
    InstallEverything();
    const String installed = String(Installed().u16string());
    EXPECT_EQ(Value(u"DisplayName"), u"Vexel Demo");
    EXPECT_EQ(Value(u"UninstallString"), u"\"" + installed + u"\" /uninstall");
    EXPECT_EQ(Value(u"Publisher"), _PUBLISHER);
    EXPECT_EQ(Value(u"Contact"), _PUBLISHER);
    EXPECT_EQ(Value(u"URLInfoAbout"), _PUBLISHER_URL);
    EXPECT_EQ(Value(u"HelpLink"), _PUBLISHER_URL);
    EXPECT_EQ(Value(u"DisplayVersion"), u"1.0");
    EXPECT_EQ(Value(u"InstallLocation"), String(mData.u16string()));
    EXPECT_EQ(Value(u"DisplayIcon"), u"\"" + installed + u"\"");
    for (const char16_t* flag : {u"NoModify", u"NoRepair"})
    {
        _dword number = 0;
        EXPECT_TRUE(GetUserNumber(UninstallKey(*mState), flag, number)) << Narrow(flag);
        EXPECT_EQ(number, 1u) << Narrow(flag);
    }

    // The menu entry runs the installed program and offers to uninstall it; the path has a space.
    std::string menu = ReadBytes(MenuEntry());
    const std::string exec = "\"" + Installed().string() + "\"";
    EXPECT_NE(menu.find("Name=Vexel Demo\n"), std::string::npos) << menu;
    EXPECT_NE(menu.find("Exec=" + exec + "\n"), std::string::npos) << menu;
    EXPECT_NE(menu.find("Path=" + mData.string() + "\n"), std::string::npos) << menu;
    EXPECT_NE(menu.find("Actions=Uninstall;"), std::string::npos) << menu;
    EXPECT_NE(menu.find("[Desktop Action Uninstall]\nName=Uninstall\nExec=" + exec + " /uninstall\n"),
              std::string::npos)
        << menu;
    // The desktop entry goes where the user's folders file puts the desktop, ready to be started.
    std::string desktop = ReadBytes(DesktopEntry());
    EXPECT_NE(desktop.find("Exec=" + exec + "\n"), std::string::npos) << desktop;
    EXPECT_TRUE(Executable(DesktopEntry()));
    EXPECT_TRUE(Executable(MenuEntry()));
    std::string autostart = ReadBytes(AutostartEntry());
    EXPECT_NE(autostart.find(Installed().string()), std::string::npos) << autostart;
}

// While it lives, no file of this process may grow beyond a few bytes: every write of more fails part-way,
// as on a full disk (the superuser included).
class FileSizeLimit
{
public:
    FileSizeLimit()
    {
        mOk = ::getrlimit(RLIMIT_FSIZE, &mBefore) == 0;
        mHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = mBefore;
        tight.rlim_cur = 4;
        mOk = mOk && ::setrlimit(RLIMIT_FSIZE, &tight) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &mBefore);
        std::signal(SIGXFSZ, mHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool On() const { return mOk; }

private:
    struct rlimit mBefore
    {
    };
    void (*mHandler)(int) = nullptr;
    bool mOk = false;
};

// The files in the folder, sorted.
std::vector<fs::path> FilesIn(const fs::path& folder)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

// Each file the install step writes is replaced whole or not at all: when writing fails part-way, the one
// a previous start wrote stays as it was and nothing is left beside it. Once it can be, it is written.
TEST_F(InstallTest, AFileTheInstallStepCannotWriteStaysAsThePreviousStartLeftIt)
{
    InstallEverything();
    // What an older build left: another program and entries naming another title.
    WriteBytes(Installed(), "an older build");
    SetUserValue(UninstallKey(*mState), u"DisplayName", u"Older Demo");
    for (const fs::path& entry : {DesktopEntry(), MenuEntry(), AutostartEntry()})
        WriteBytes(entry, "[Desktop Entry]\nName=Older Demo\n");
    const fs::path files[] = {Installed(), fs::path(KeyStorePath().c_str()), DesktopEntry(), MenuEntry(),
                              AutostartEntry()};
    std::vector<std::string> previous;
    std::vector<std::vector<fs::path>> folders;
    for (const fs::path& file : files)
    {
        previous.push_back(ReadBytes(file));
        folders.push_back(FilesIn(file.parent_path()));
    }
    {
        FileSizeLimit limit;
        ASSERT_TRUE(limit.On());
        InstallEverything();
    }
    for (std::size_t i = 0; i < std::size(files); ++i)
    {
        EXPECT_EQ(ReadBytes(files[i]), previous[i]) << files[i];
        EXPECT_EQ(FilesIn(files[i].parent_path()), folders[i]) << files[i];
    }
    EXPECT_TRUE(Logged(u"[MC] Cannot install the program as "));
    InstallEverything();
    for (std::size_t i = 0; i < std::size(files); ++i)
        EXPECT_NE(ReadBytes(files[i]), previous[i]) << files[i];
}

TEST_F(InstallTest, UninstallFromElsewhereRemovesEverythingItMadeAndNothingElse)
{
    InstallEverything();
    WriteBytes(mData / "vexeldemo.fod", "game data");
    WriteBytes(mDir / "home" / "Schreibtisch" / "notes.txt", "mine");
    WriteBytes(mDir / "data" / "applications" / "other.desktop", "[Desktop Entry]\n");
    SetUserValue(u"Software\\Other", u"Kept", u"yes");
    ASSERT_TRUE(fs::exists(Installed()));

    mState->mUninstall = true;
    InstallStep(*mState);
    EXPECT_FALSE(fs::exists(mData));
    EXPECT_FALSE(fs::exists(DesktopEntry()));
    EXPECT_FALSE(fs::exists(MenuEntry()));
    EXPECT_FALSE(fs::exists(AutostartEntry()));
    EXPECT_TRUE(Value(u"DisplayName").empty());
    EXPECT_TRUE(Value(u"UninstallString").empty());
    EXPECT_TRUE(Logged(u"[MC] Deleting folder: "));
    // What belongs to others stays, and so does the program that ran.
    EXPECT_EQ(ReadBytes(mDir / "home" / "Schreibtisch" / "notes.txt"), "mine");
    EXPECT_TRUE(fs::exists(mDir / "data" / "applications" / "other.desktop"));
    String kept;
    EXPECT_TRUE(GetUserValue(u"Software\\Other", u"Kept", kept));
    EXPECT_TRUE(fs::exists(mProgram));
    EXPECT_EQ(mState->mLoopEnd, 0);
}

TEST_F(InstallTest, UninstallFromTheInstalledPlaceHandsOverToATemporaryCopy)
{
    InstallEverything();
    SetProgramPath(*mState, String(Installed().u16string()));
    mState->mUninstall = true;
    InstallStep(*mState);
    EXPECT_EQ(mState->mLoopEnd, 2);
    // Nothing is removed by this process; the copy does it.
    EXPECT_TRUE(fs::exists(Installed()));
    EXPECT_TRUE(fs::exists(MenuEntry()));
    ASSERT_TRUE(WaitUntil([&] { return ReadBytes(mDir / "record.txt").find("end\n") != std::string::npos; }));
    EXPECT_EQ(ReadBytes(mDir / "record.txt"), "/uninstall\nend\n");
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(mDir / "tmp"))
        copies.push_back(entry.path());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].filename().string().rfind("vexel-", 0), 0u);
    EXPECT_EQ(ReadBytes(copies[0]), ReadBytes(mProgram));
    EXPECT_TRUE(Logged(u"[MC] Start process: " + String(copies[0].u16string()) + u" /uninstall"));
}

TEST_F(InstallTest, ShortcutsFollowTheRequestTheNameAndTheTarget)
{
    CreateDesktopShortcut(*mState, u"Other Name", String());
    EXPECT_FALSE(fs::exists(mDir / "home" / "Schreibtisch" / "Other Name.desktop")); // not requested

    mState->mCreateShortcut = true;
    // The name's last component without extension; the target defaults to this program.
    CreateDesktopShortcut(*mState, u"C:\\Games\\Other Name.exe", String());
    std::string entry = ReadBytes(mDir / "home" / "Schreibtisch" / "Other Name.desktop");
    EXPECT_NE(entry.find("Exec=\"" + mProgram.string() + "\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Path=" + mData.string() + "\n"), std::string::npos) << entry;
    // An empty name is the title; an existing entry is replaced.
    WriteBytes(DesktopEntry(), "old");
    CreateDesktopShortcut(*mState, String(), u"/opt/game/run");
    EXPECT_NE(ReadBytes(DesktopEntry()).find("Exec=/opt/game/run\n"), std::string::npos);
}

TEST_F(InstallTest, TheCopyThreadEndsAtOnceHereAndTheMigrationCopiesTheGameFiles)
{
    std::atomic<bool> done{false};
    CopyThreadProc(*mState, done);
    EXPECT_TRUE(done.load());
    EXPECT_TRUE(Logged(u"[MC] CopyThreadProc startpath: " + mState->mProgramFolder + u", vexelpath: " +
                       mState->mInstallFolder));

    mState->mResName = u"vexeldemo";
    mState->mCreateShortcut = true;
    fs::path from = mProgram.parent_path();
    for (const char* name : {"install.inf", "vexel3d.lod", "vexeldemo.fod"})
        WriteBytes(from / name, name);
    fs::path target = mDir / "elsewhere" / "install";
    MigrateProgramFiles(*mState, String(from.u16string()), String(target.u16string()));
    for (const char* name : {"install.inf", "vexel3d.lod", "vexeldemo.fod"})
        EXPECT_EQ(ReadBytes(target / name), name);
    EXPECT_FALSE(fs::exists(target / "vexeldemo.foc")); // only what exists is copied
    EXPECT_EQ(ReadBytes(target / "vexel-launcher"), ReadBytes(mProgram));
    EXPECT_NE(ReadBytes(DesktopEntry()).find((target / "vexel-launcher").string()), std::string::npos);
}

// The copy thread works from what the state held when it started; the main thread changing the state
// meanwhile (a script setting another resource name or title, say) changes nothing of the copy.
TEST_F(InstallTest, TheCopyThreadWorksFromACopyOfTheStateMadeWhenItStarts)
{
    mState->mResName = u"vexeldemo";
    mState->mCreateShortcut = true;
    fs::path from = mProgram.parent_path();
    WriteBytes(from / "vexeldemo.fod", "game data");
    const CopyJob job = MakeCopyJob(*mState);
    mState->mResName = u"other";
    mState->mTitle = u"Changed Title";
    mState->mCreateShortcut = false;
    mState->mProgramPath = u"/nowhere/else";
    mState->mFileName = u"renamed";
    fs::path target = mDir / "elsewhere" / "install";
    MigrateProgramFiles(job, String(from.u16string()), String(target.u16string()));
    EXPECT_EQ(ReadBytes(target / "vexeldemo.fod"), "game data");
    EXPECT_EQ(ReadBytes(target / "vexel-launcher"), ReadBytes(mProgram));
    EXPECT_NE(ReadBytes(DesktopEntry()).find((target / "vexel-launcher").string()), std::string::npos);
    EXPECT_EQ(job.mInstallFolder, String(mData.u16string()));
}

// A program started from the browser's virtualized copy of the install folder brings every game file and
// itself over; the copies in the virtualized folder stay, so a failed copy loses nothing.
TEST_F(InstallTest, TheCopyThreadMigratesAProgramStartedFromTheVirtualizedFolder)
{
    const String profile = GetSpecialFolder(SpecialFolder::Profile);
    EXPECT_EQ(VirtualizedFolderOf(u"C:\\Users\\me", u"C:\\Users\\me\\vexel\\demo"),
              u"C:\\Users\\me\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet "
              u"Files\\Virtualized\\C\\Users\\me\\vexel\\demo");
    EXPECT_TRUE(SameFolder(u"C:\\Users\\Me\\", u"c:/users/me"));
    EXPECT_FALSE(SameFolder(u"C:\\Users\\Me", u"C:\\Users\\Me2"));

    fs::path virtualized = fs::path(Narrow(profile)) / "AppData" / "Local" / "Microsoft" / "Windows" /
                           "Temporary Internet Files" / "Virtualized" / mData.relative_path();
    fs::create_directories(virtualized);
    fs::copy_file(mProgram, virtualized / "vexel-launcher");
    SetProgramPath(*mState, String((virtualized / "vexel-launcher").u16string()));
    mState->mResName = u"vexeldemo";
    mState->mCreateShortcut = true;
    const std::vector<std::string> names = {"install.inf", "vexel3d.lod", "vexel3d.fob", "vexeldemo.foc",
                                            "vexeldemo.fod"};
    for (const auto& name : names)
        WriteBytes(virtualized / name, "from the virtualized folder: " + name);
    WriteBytes(virtualized / "unrelated.txt", "stays");
    fs::remove_all(mData); // a first start: the install folder is not there yet

    std::atomic<bool> done{false};
    CopyThreadProc(*mState, done);
    EXPECT_TRUE(done.load());
    for (const auto& name : names)
    {
        EXPECT_EQ(ReadBytes(mData / name), "from the virtualized folder: " + name) << name;
        EXPECT_TRUE(fs::exists(virtualized / name)) << name;
    }
    EXPECT_FALSE(fs::exists(mData / "unrelated.txt"));
    EXPECT_EQ(ReadBytes(Installed()), ReadBytes(mProgram));
    EXPECT_NE(ReadBytes(DesktopEntry()).find(Installed().string()), std::string::npos);

    // Started from anywhere else, nothing moves.
    fs::remove_all(mData);
    SetProgramPath(*mState, String(mProgram.u16string()));
    done = false;
    CopyThreadProc(*mState, done);
    EXPECT_TRUE(done.load());
    EXPECT_FALSE(fs::exists(mData));
}

TEST_F(InstallTest, CleanCacheDeletesTheGameFilesAndKeepsUnrelatedOnes)
{
    mState->mResName = u"game";
    const std::vector<std::string> doomed = {
        "vexel3d.lod",       "vexel3d.fob",    "@vexel3d.fob", "vexelmclient.tmp",
        "vexelnotifier.exe", "vexelsetup.exe", "loading.swf",  "game.fob",
        "game.foc",          "game.fod",       "game.shr",     "@game.fob",
        "GAME2.fod",         "game.fod.old",   "Game-x.lod",   "game.fodz"};
    const std::vector<std::string> kept = {"game.txt", "other.fod",    "readme.lod",
                                           "game.LOD", "mcconfig.ini", "gam.fod"};
    for (const auto& name : doomed)
        WriteBytes(mData / name, "x");
    for (const auto& name : kept)
        WriteBytes(mData / name, "x");
    fs::create_directories(mData / "game.fod.d");
    CleanCache(*mState);
    for (const auto& name : doomed)
        EXPECT_FALSE(fs::exists(mData / name)) << name;
    for (const auto& name : kept)
        EXPECT_TRUE(fs::exists(mData / name)) << name;
    EXPECT_TRUE(fs::is_directory(mData / "game.fod.d"));
}

// --- Preload packs -----------------------------------------------------------------------------------

class PreloadPackTest : public InstallTest
{
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        mPack = mProgram.parent_path() / "preload";
        fs::create_directories(mPack);
    }
    static void MakeArchive(const fs::path& path,
                            const std::vector<std::pair<std::string, std::string>>& items)
    {
        StorageLock lock;
        HashArchive archive(&lock, u"made");
        ASSERT_TRUE(archive.Create(String(path.u16string()), 16));
        for (const auto& [name, bytes] : items)
            ASSERT_TRUE(archive.WriteResource(String(name.begin(), name.end()), bytes.data(),
                                              static_cast<_dword>(bytes.size()),
                                              Md5Of(bytes.data(), bytes.size())));
    }
    static std::string Entry(const fs::path& path, const std::string& name)
    {
        StorageLock lock;
        HashArchive archive(&lock, u"read");
        if (!archive.Open(String(path.u16string()), false))
            return "<cannot open>";
        DataStream* stream = archive.OpenStream(String(name.begin(), name.end()));
        if (!stream)
            return "<missing>";
        ByteBuffer bytes;
        stream->ReadText(bytes, false);
        MD5 md5 = stream->GetMD5();
        stream->ReleaseRefCount();
        delete stream;
        if (md5 != Md5Of(bytes.data(), bytes.size()))
            return "<corrupt>";
        return std::string(bytes.begin(), bytes.end());
    }

    fs::path mPack;
};

TEST_F(PreloadPackTest, AnArchiveIsCopiedWhenNoneIsInstalledWithTheOtherFiles)
{
    MakeArchive(mPack / "world.fod", {{"maps/one", "first map"}});
    WriteBytes(mPack / "vexel3d.lod", "loader");
    WriteBytes(mPack / "world.fob", "fob");
    WriteBytes(mPack / "world.foc", "foc");
    EXPECT_TRUE(InstallPreloadPack(*mState, u"preload", u"world"));
    EXPECT_EQ(Entry(mData / "world.fod", "maps/one"), "first map");
    EXPECT_EQ(ReadBytes(mData / "vexel3d.lod"), "loader");
    EXPECT_EQ(ReadBytes(mData / "world.fob"), "fob");
    EXPECT_EQ(ReadBytes(mData / "world.foc"), "foc");
}

// The merged archive takes the installed one's place only when it is whole: when writing fails part-way,
// the installed archive stays as it was and the merge's work file goes.
TEST_F(PreloadPackTest, AnInstalledArchiveStaysAsItWasWhenTheMergeCannotBeWritten)
{
    MakeArchive(mData / "world.fod", {{"maps/one", "installed one"}});
    MakeArchive(mPack / "world.fod", {{"maps/one", "pack one"}});
    const std::string installed = ReadBytes(mData / "world.fod");
    {
        FileSizeLimit limit;
        ASSERT_TRUE(limit.On());
        EXPECT_FALSE(InstallPreloadPack(*mState, u"preload", u"world"));
    }
    EXPECT_EQ(ReadBytes(mData / "world.fod"), installed);
    EXPECT_FALSE(fs::exists(mData / "world.fod.merge"));
    EXPECT_TRUE(InstallPreloadPack(*mState, u"preload", u"world"));
    EXPECT_EQ(Entry(mData / "world.fod", "maps/one"), "pack one");
}

TEST_F(PreloadPackTest, APackMergesIntoTheInstalledArchiveAndItsEntriesWin)
{
    MakeArchive(mData / "world.fod", {{"maps/one", "installed one"}, {"maps/two", "installed two"}});
    std::string big(200000, 'b');
    MakeArchive(mPack / "world.fod", {{"maps/two", "pack two"}, {"maps/three", big}});
    EXPECT_TRUE(InstallPreloadPack(*mState, u"preload", u"world"));
    EXPECT_EQ(Entry(mData / "world.fod", "maps/one"), "installed one");
    EXPECT_EQ(Entry(mData / "world.fod", "maps/two"), "pack two");
    EXPECT_EQ(Entry(mData / "world.fod", "maps/three"), big);
    EXPECT_FALSE(fs::exists(mData / "world.fod.merge"));
    // Again: nothing changes.
    EXPECT_TRUE(InstallPreloadPack(*mState, u"preload", u"world"));
    EXPECT_EQ(Entry(mData / "world.fod", "maps/two"), "pack two");
}

TEST_F(PreloadPackTest, ADamagedPackIsRefusedAndTheInstalledArchiveStaysAsItWas)
{
    MakeArchive(mData / "world.fod", {{"maps/one", "installed one"}});
    const std::string before = ReadBytes(mData / "world.fod");
    MakeArchive(mPack / "world.fod", {{"maps/two", "pack two, whose bytes are damaged"}});
    std::string pack = ReadBytes(mPack / "world.fod");
    std::size_t at = pack.find("whose bytes");
    ASSERT_NE(at, std::string::npos);
    pack[at] ^= 0x20;
    WriteBytes(mPack / "world.fod", pack);
    EXPECT_FALSE(InstallPreloadPack(*mState, u"preload", u"world"));
    EXPECT_TRUE(Logged(u"is damaged; nothing installed from it"));
    EXPECT_EQ(ReadBytes(mData / "world.fod"), before);

    // Not an archive at all, and no installed one: nothing is copied either.
    fs::remove(mData / "world.fod");
    WriteBytes(mPack / "world.fod", "<html>not an archive</html>");
    EXPECT_FALSE(InstallPreloadPack(*mState, u"preload", u"world"));
    EXPECT_FALSE(fs::exists(mData / "world.fod"));
    // No pack folder at all.
    EXPECT_FALSE(InstallPreloadPack(*mState, u"missing", u"world"));
}

} // namespace
} // namespace Vexel::Test
