// The install step on Windows, read back through the system: the uninstall entry's values and their
// registry types, the shell links of the start menu and the desktop, removal from elsewhere; the copy
// thread's migration out of the browser's virtualized folder; the entry's command line.
#include "Base/CommandLine.h"
#include "Base/LauncherState.h"
#include "Services/Install.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/KeyStore.h"
#include "Platform/Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#undef CopyFile
#undef DeleteFile

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

String Backslashed(String path)
{
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    return path;
}

struct RegistryValue
{
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

bool ReadRegistryValue(const String& key, const char16_t* name, RegistryValue& value)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), 0, KEY_QUERY_VALUE, &handle) !=
        ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    std::wstring wide = ToNativeText(name);
    bool ok = RegQueryValueExW(handle, wide.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS;
    value.bytes.resize(size);
    ok = ok && RegQueryValueExW(handle, wide.c_str(), nullptr, &value.type, value.bytes.data(), &size) ==
                   ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

// A string value exactly as stored: its characters and its terminating zero.
std::u16string StoredText(const RegistryValue& value)
{
    return std::u16string(reinterpret_cast<const char16_t*>(value.bytes.data()), value.bytes.size() / 2);
}

bool LinkTarget(const String& path, std::wstring& target, std::wstring& folder)
{
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&link))) &&
              SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
              SUCCEEDED(file->Load(ToNativeText(path).c_str(), STGM_READ));
    if (ok)
    {
        wchar_t text[2048] = {};
        link->GetPath(text, 2048, nullptr, SLGP_RAWPATH);
        target = text;
        text[0] = 0;
        link->GetWorkingDirectory(text, 2048);
        folder = text;
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
    return ok;
}

class WindowsInstallTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gLogTimeStamp = false;
        mCapture = std::make_unique<LogCapture>();
        mStartFolder = GetCurrentFolder();
        fs::create_directories(mDir / "my programs");
        mProgram = Backslashed(mDir.Wide() + u"\\my programs\\vexel-test.exe");
        ASSERT_TRUE(WriteFile(mProgram, "MZ the program", 14));
        mState = std::make_unique<LauncherState>();
        SetLauncherState(mState.get());
        mState->mProgramPath = mProgram;
        mState->mProgramFolder = FolderOf(mProgram);
        mState->mExeName = u"vexel-test";
        // A title of its own, so that nothing of another run or program is touched.
        mState->mTitle =
            u"Vexel Install Test " + FormatString(u"%d", static_cast<int>(GetCurrentProcessId()));
        mState->mAppName = u"vexeltest";
        mState->mFileName = u"vexel-test";
        mData = Backslashed(mDir.Wide() + u"\\data\\vexel test");
        ASSERT_TRUE(CreateFolder(mData));
        ASSERT_TRUE(MarkDataFolder(mData)); // made by the client, so uninstall may delete it
        mState->mDataFolder = mData;
        mState->mInstallFolder = mData;
    }
    void TearDown() override
    {
        if (mState)
        {
            DeleteUserKey(UninstallKey(*mState));
            for (const String& link :
                 {StartMenuShortcutPath(mState->mTitle), DesktopShortcutPath(mState->mTitle)})
                DeleteFile(link);
            SetLauncherState(nullptr);
        }
        SetCurrentFolder(mStartFolder);
        mCapture.reset();
        gLogTimeStamp = true;
    }
    String Installed() const { return mData + u"\\vexel-test.exe"; }

    TempDir mDir;
    String mStartFolder, mProgram, mData;
    std::unique_ptr<LogCapture> mCapture;
    std::unique_ptr<LauncherState> mState;
};

TEST_F(WindowsInstallTest, TheUninstallEntryAndTheLinksReadBackAndGoWithTheUninstall)
{
    mState->mInstall = true;
    mState->mCreateShortcut = true;
    InstallStep(*mState);
    ASSERT_TRUE(FilesEqual(mProgram, Installed())) << "installed under its Windows name";

    const String key = UninstallKey(*mState);
    EXPECT_EQ(key, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + mState->mTitle);
    const String quoted = u"\"" + Installed() + u"\"";
    const std::pair<const char16_t*, String> texts[] = {
        {u"DisplayName", mState->mTitle},
        {u"UninstallString", quoted + u" /uninstall"},
        {u"Publisher", u"Orrin Harbor (Capital) Tech Ltd"},
        {u"Contact", u"Orrin Harbor (Capital) Tech Ltd"},
        {u"URLInfoAbout", _PUBLISHER_URL},
        {u"HelpLink", _PUBLISHER_URL},
        {u"DisplayVersion", u"1.0"},
        {u"InstallLocation", mData},
        {u"DisplayIcon", quoted},
    };
    for (const auto& [name, text] : texts)
    {
        RegistryValue value;
        ASSERT_TRUE(ReadRegistryValue(key, name, value)) << Narrow(name);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << Narrow(name);
        // Written with its terminating zero.
        EXPECT_EQ(StoredText(value), text + u'\0') << Narrow(name);
    }
    for (const char16_t* name : {u"NoModify", u"NoRepair"})
    {
        RegistryValue value;
        ASSERT_TRUE(ReadRegistryValue(key, name, value)) << Narrow(name);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << Narrow(name);
        ASSERT_EQ(value.bytes.size(), 4u);
        EXPECT_EQ(value.bytes[0], 1);
        EXPECT_EQ(value.bytes[1] | value.bytes[2] | value.bytes[3], 0);
    }

    const String menu = StartMenuShortcutPath(mState->mTitle), desktop = DesktopShortcutPath(mState->mTitle);
    EXPECT_EQ(menu.substr(menu.size() - 4), u".lnk");
    std::wstring target, folder;
    ASSERT_TRUE(LinkTarget(menu, target, folder));
    EXPECT_EQ(FromNativeText(target), Installed());
    EXPECT_EQ(FromNativeText(folder), mData);
    ASSERT_TRUE(LinkTarget(desktop, target, folder));
    EXPECT_EQ(FromNativeText(target), Installed());

    // Removal, started from somewhere else than the installed place.
    mState->mUninstall = true;
    InstallStep(*mState);
    RegistryValue gone;
    EXPECT_FALSE(ReadRegistryValue(key, u"DisplayName", gone));
    EXPECT_FALSE(FileExists(menu));
    EXPECT_FALSE(FileExists(desktop));
    EXPECT_FALSE(FolderExists(mData));
    EXPECT_TRUE(FileExists(mProgram));
}

// A program the browser's protected mode started from its virtualized copy of the install folder brings
// the game files and itself over; nothing in the virtualized folder is lost.
TEST_F(WindowsInstallTest, TheCopyThreadMigratesOutOfTheVirtualizedFolder)
{
    const String profile = GetSpecialFolder(SpecialFolder::Profile);
    ASSERT_FALSE(profile.empty());
    const String virtualized = VirtualizedFolderOf(profile, mData);
    ASSERT_EQ(virtualized.substr(0, profile.size()), profile);
    EXPECT_NE(
        virtualized.find(u"\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Virtualized\\" +
                         mData.substr(0, 1) + mData.substr(2)),
        String::npos)
        << Narrow(virtualized);
    ASSERT_TRUE(CreateFolder(virtualized));
    struct RemoveAfter
    {
        String folder;
        ~RemoveAfter() { RemoveFolder(folder); }
    } cleanup{profile + u"\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Virtualized"};

    const String program = virtualized + u"\\vexel-test.exe";
    ASSERT_TRUE(CopyFile(mProgram, program));
    mState->mProgramPath = program;
    mState->mProgramFolder = virtualized;
    mState->mResName = u"vexeltest";
    const std::vector<String> names = {u"install.inf", u"vexel3d.lod", u"vexel3d.fob", u"vexeltest.foc",
                                       u"vexeltest.fod"};
    for (const String& name : names)
    {
        std::string bytes = "from the virtualized folder: " + Narrow(name);
        ASSERT_TRUE(WriteFile(virtualized + u"\\" + name, bytes.data(), bytes.size()));
    }
    ASSERT_TRUE(RemoveFolder(mData)); // a first start: the install folder is not there yet

    std::atomic<bool> done{false};
    CopyThreadProc(*mState, done);
    EXPECT_TRUE(done.load());
    for (const String& name : names)
    {
        EXPECT_TRUE(FilesEqual(virtualized + u"\\" + name, mData + u"\\" + name)) << Narrow(name);
        EXPECT_TRUE(FileExists(virtualized + u"\\" + name)) << Narrow(name);
    }
    EXPECT_TRUE(FilesEqual(program, Installed()));
    EXPECT_TRUE(
        mCapture->Contains(u"[MC] CopyThreadProc startpath: " + virtualized + u", vexelpath: " + mData));
}

// What the entry hands the launcher splits into the words the system's parser finds after the program.
TEST(WindowsEntry, TheCommandLineTailHoldsTheProgramsArguments)
{
    const wchar_t* lines[] = {
        L"\"C:\\Program Files\\Vexel\\vexel.exe\" /copy C:\\My Games\\vexel.exe",
        L"C:\\vexel.exe \"a b\" c\\\\\\\"d \"e\\\\\" f\\\\g \"\"",
        L"vexel.exe",
    };
    for (const wchar_t* line : lines)
    {
        int count = 0;
        LPWSTR* words = CommandLineToArgvW(line, &count);
        ASSERT_NE(words, nullptr);
        std::vector<String> expected;
        for (int i = 1; i < count; ++i)
            expected.push_back(FromNativeText(words[i]));
        LocalFree(words);
        std::vector<String> got = SplitCommandLine(u"x " + CommandLineTail(FromNativeText(line)));
        got.erase(got.begin());
        EXPECT_EQ(got, expected) << Narrow(FromNativeText(line));
    }
}

} // namespace
} // namespace Vexel::Test

namespace Vexel::Test
{
namespace
{

// The launcher program file as built: its embedded files as VEXELRES resources (the launcher script as
// the source it runs), icon 101 with its 32-bit image, and the version information.
TEST(WindowsProgramFile, CarriesItsFilesIconAndVersion)
{
    // A path of the build machine: under Wine its root is drive Z.
    String path = u"" VEXEL_LAUNCHER_PATH;
    if (path.rfind(u"/", 0) == 0)
        path = u"Z:" + path;
    const std::wstring program = ToNativeText(path);
    HMODULE module =
        LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot open " << VEXEL_LAUNCHER_PATH;
    auto resource = [&](const wchar_t* name)
    {
        std::string bytes;
        if (HRSRC found = FindResourceW(module, name, L"VEXELRES"))
            if (HGLOBAL loaded = LoadResource(module, found))
                bytes.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
        return bytes;
    };
    std::string script = resource(L"launcher.lua");
    EXPECT_NE(script.find("L:checkMC(mcurl, mcmd5url)"), std::string::npos);
    EXPECT_NE(resource(L"Config.Lua").find("fileName = \"vexel-launcher\""), std::string::npos);
    EXPECT_EQ(resource(L"SKIN/MAIN_BG.PNG").substr(1, 3), "PNG");
    EXPECT_EQ(resource(L"IDR_LOADING").substr(0, 3), "GIF");
    EXPECT_TRUE(resource(L"skin/none.png").empty());

    HICON icon =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    ASSERT_TRUE(info.hbmColor && GetObjectW(info.hbmColor, sizeof colour, &colour));
    EXPECT_GT(colour.bmWidth, 0);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    FreeLibrary(module);

    DWORD ignored = 0, size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> version(size);
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, L"vexel-launcher.exe");
}

} // namespace
} // namespace Vexel::Test
