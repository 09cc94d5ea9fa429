// Shell links and the program's own resources on Windows: a link is read back through the shell's own
// interface, and VEXELRES resources in the program file are found before the generated table.
#include "Platform/File.h"
#include "Platform/Process.h"
#include "Platform/Resources.h"
#include "Platform/Shortcut.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

using namespace Vexel;
using Vexel::Test::TempDir;

namespace fs = std::filesystem;

namespace
{

struct LinkFields
{
    std::wstring target, arguments, folder, icon, description;
    int iconIndex = -1;
};

// What the shell reads from the link file.
bool ReadLink(const String& path, LinkFields& fields)
{
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = false;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(ToNativeText(path).c_str(), STGM_READ)))
    {
        wchar_t text[2048] = {};
        link->GetPath(text, 2048, nullptr, SLGP_RAWPATH);
        fields.target = text;
        text[0] = 0;
        link->GetArguments(text, 2048);
        fields.arguments = text;
        text[0] = 0;
        link->GetWorkingDirectory(text, 2048);
        fields.folder = text;
        text[0] = 0;
        link->GetIconLocation(text, 2048, &fields.iconIndex);
        fields.icon = text;
        text[0] = 0;
        link->GetDescription(text, 2048);
        fields.description = text;
        ok = true;
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
    return ok;
}

String Backslashed(String path)
{
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    return path;
}

} // namespace

TEST(Shortcuts, ALinkReadsBackWithItsTargetArgumentsFolderAndIcon)
{
    TempDir dir;
    const String target = dir.Wide() + u"\\my programs\\vexel.exe";
    fs::create_directories(dir.Path() / "my programs");
    ASSERT_TRUE(WriteFile(target, "MZ", 2));
    Shortcut link;
    link.name = u"Vexel Demo";
    link.target = target;
    link.arguments = {u"/uninstall", u"two words", u"end\\", u"q\"t"};
    link.workingFolder = dir.Wide() + u"\\my programs";
    link.actions.push_back({u"Uninstall", u"Uninstall", {u"/uninstall"}}); // no place in a link
    const String path = ShortcutPath(dir.Wide() + u"\\menu\\sub", u"Vexel: Demo?");
    EXPECT_EQ(path, dir.Wide() + u"\\menu\\sub\\Vexel_ Demo_.lnk");
    ASSERT_TRUE(CreateShortcut(path, link));

    LinkFields fields;
    ASSERT_TRUE(ReadLink(path, fields));
    // Stored with backslashes, however the path was written.
    EXPECT_EQ(FromNativeText(fields.target), Backslashed(target));
    EXPECT_EQ(FromNativeText(fields.folder), Backslashed(link.workingFolder));
    EXPECT_EQ(FromNativeText(fields.icon), Backslashed(target)); // the program's own icon
    EXPECT_EQ(fields.iconIndex, 0);
    EXPECT_EQ(FromNativeText(fields.description), u"Vexel Demo");
    // The arguments split back into the same words.
    std::vector<String> words = SplitCommandLine(u"x " + FromNativeText(fields.arguments));
    EXPECT_EQ(std::vector<String>(words.begin() + 1, words.end()), link.arguments);

    // Replaced whole, a given icon file kept, even over a read-only link.
    SetFileAttributesW(ToNativeText(path).c_str(), FILE_ATTRIBUTE_READONLY);
    link.arguments.clear();
    link.icon = dir.Wide() + u"\\game.ico";
    ASSERT_TRUE(CreateShortcut(path, link));
    ASSERT_TRUE(ReadLink(path, fields));
    EXPECT_EQ(fields.arguments, L"");
    EXPECT_EQ(FromNativeText(fields.icon), Backslashed(link.icon));

    link.target.clear();
    EXPECT_FALSE(CreateShortcut(dir.Wide() + u"\\none.lnk", link));
    EXPECT_FALSE(fs::exists(dir.Path() / "none.lnk"));
}

// The words the system's parser finds are those SplitCommandLine finds, for command lines as programs
// get them (starting with the program). Two quotes inside quotes are left out: parsers of different
// ages of the system disagree there.
TEST(Processes, SplittingMatchesTheSystemsParser)
{
    const wchar_t* lines[] = {
        L"\"C:\\Program Files\\vexel.exe\" /copy C:\\My Games\\a.exe",
        L"C:\\vexel.exe \"a b\" c\\\\\\\"d \"e\\\\\" f\\\\g \"\"",
        L"prog.exe \"a\"b \"c\" d\\\\\\\\\"e f\"",
        L"\"C:\\a\\\" \\b\\\\c\"",
        L"lead.exe\t\ttab\targs  ",
    };
    for (const wchar_t* line : lines)
    {
        int count = 0;
        LPWSTR* words = CommandLineToArgvW(line, &count);
        ASSERT_NE(words, nullptr);
        std::vector<String> expected;
        for (int i = 0; i < count; ++i)
            expected.push_back(FromNativeText(words[i]));
        LocalFree(words);
        EXPECT_EQ(SplitCommandLine(FromNativeText(line)), expected)
            << Vexel::Test::Narrow(FromNativeText(line));
    }
}

TEST(Resources, TheProgramFilesOwnResourcesComeFirst)
{
    std::vector<_byte> bytes;
    ASSERT_TRUE(LoadEmbeddedResource(u"TEST\\Module-Only.txt", bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "from the program file\n");
    // A resource in the program file replaces the generated table's entry of the same name.
    ASSERT_TRUE(LoadEmbeddedResource(u"test/replaceable.txt", bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "replaced by the program file\n");
    // Entries only the table has are still found.
    ASSERT_TRUE(LoadEmbeddedResource(u"config.lua", bytes));
    EXPECT_FALSE(bytes.empty());
}
