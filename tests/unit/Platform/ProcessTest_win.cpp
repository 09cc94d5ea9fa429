// Starting programs the Windows way. The child is this test program itself: started with
// VEXEL_PROCESS_TEST_CHILD naming a file, it writes there the words the system's parser finds in its
// command line and its current folder, and exits with code 7 before any test runs.
#include "Platform/KeyStore.h"
#include "Platform/Process.h"
#include "Platform/System.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <windows.h>

#include <shellapi.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ScopedEnvironment;
using Vexel::Test::TempDir;

namespace fs = std::filesystem;

namespace
{

constexpr const char* _CHILD_VARIABLE = "VEXEL_PROCESS_TEST_CHILD";

const bool gRunAsChild = []
{
    wchar_t out[1024];
    DWORD length = GetEnvironmentVariableW(L"VEXEL_PROCESS_TEST_CHILD", out, 1024);
    if (length == 0 || length >= 1024)
        return false;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring text;
    for (int i = 1; words && i < count; ++i)
        text += std::wstring(words[i]) + L"\n";
    wchar_t folder[1024] = {};
    GetCurrentDirectoryW(1024, folder);
    text += L"folder=" + std::wstring(folder) + L"\n";
    HANDLE file = CreateFileW(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    ExitProcess(7);
    return true;
}();

// What a child wrote: one word a line, then "folder=" and its current folder.
std::vector<String> ChildReport(const fs::path& file)
{
    std::string bytes = Vexel::Test::ReadBytes(file);
    String text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    std::vector<String> lines;
    for (std::size_t at = 0; at < text.size();)
    {
        std::size_t end = text.find(u'\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == String::npos ? text.size() : end + 1;
    }
    return lines;
}

String Quoted(const String& path)
{
    return u"\"" + path + u"\"";
}

} // namespace

TEST(Processes, ArgumentsReachTheChildIntact)
{
    TempDir dir;
    ScopedEnvironment child(_CHILD_VARIABLE, (dir / "report").string().c_str());
    // Blanks, quotes, backslash runs before quotes and at the end, an empty word.
    const String arguments = u"\"a b\" \"say \\\"hi\\\"\" C:\\dir\\ \"\" \"tail\\\\\" x\\\\\\\"y %PATH%";
    const String line = Quoted(GetModulePath()) + u" " + arguments;
    int exitCode = -1;
    ASSERT_TRUE(RunProcess(line, String(), &exitCode));
    EXPECT_EQ(exitCode, 7);
    std::vector<String> expected = SplitCommandLine(line);
    expected.erase(expected.begin());
    std::vector<String> report = ChildReport(dir / "report");
    ASSERT_FALSE(report.empty());
    report.pop_back(); // the folder
    EXPECT_EQ(report, expected);
}

TEST(Processes, FolderSearchAndFailures)
{
    TempDir dir;
    fs::create_directory(dir / "Work");
    ScopedEnvironment child(_CHILD_VARIABLE, (dir / "report").string().c_str());
    int exitCode = -1;
    ASSERT_TRUE(RunProcess(Quoted(GetModulePath()), dir.Wide("Work"), &exitCode));
    EXPECT_EQ(exitCode, 7);
    std::vector<String> report = ChildReport(dir / "report");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(fs::path(report[0].substr(7)), fs::path(dir / "Work"));

    // A bare name is searched for, ".exe" added.
    ASSERT_TRUE(RunProcess(u"cmd /c exit 3", String(), &exitCode));
    EXPECT_EQ(exitCode, 3);

    LogCapture capture;
    EXPECT_FALSE(RunProcess(u"vexel-no-such-program --x", String(), &exitCode));
    EXPECT_FALSE(StartProcess(u"vexel-no-such-program"));
    EXPECT_FALSE(StartProcess(dir.Wide("missing-program.exe")));
    EXPECT_FALSE(StartProcess(u"   "));
    EXPECT_FALSE(RunProcess(Quoted(GetModulePath()), dir.Wide("missing-folder"), &exitCode));
    EXPECT_TRUE(capture.Contains(u"vexel-no-such-program"));
}

TEST(Processes, StartedProgramsAreAllAwaited)
{
    TempDir dir;
    constexpr int _CHILDREN = 4;
    for (int i = 0; i < _CHILDREN; ++i)
    {
        ScopedEnvironment child(_CHILD_VARIABLE, (dir / ("report" + std::to_string(i))).string().c_str());
        ASSERT_TRUE(StartProcess(Quoted(GetModulePath()) + u" child"));
    }
    WaitForStartedPrograms();
    for (int i = 0; i < _CHILDREN; ++i)
        EXPECT_EQ(ChildReport(dir / ("report" + std::to_string(i))).front(), u"child") << i;
}

TEST(Processes, AutostartIsTheUsersRunValue)
{
    const String run = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    ASSERT_TRUE(SetAutostart(u"Vexel Test Game", u"C:\\Vexel Games\\mc.exe", u"/autostart -x"));
    EXPECT_EQ(AutostartEntryPath(u"Vexel Test Game"), u"HKEY_CURRENT_USER\\" + run + u"\\Vexel Test Game");
    String value;
    ASSERT_TRUE(GetUserValue(run, u"Vexel Test Game", value));
    EXPECT_EQ(value, u"\"C:\\Vexel Games\\mc.exe\" /autostart -x");

    EXPECT_FALSE(SetAutostart(u"", u"C:\\mc.exe", u""));
    EXPECT_TRUE(RemoveAutostart(u"Vexel Test Game"));
    EXPECT_FALSE(GetUserValue(run, u"Vexel Test Game", value));
    EXPECT_TRUE(RemoveAutostart(u"Vexel Test Game"));
}

TEST(Processes, ElevatedStartOfAProgram)
{
    TempDir dir;
    ScopedEnvironment child(_CHILD_VARIABLE, (dir / "report").string().c_str());
    ASSERT_TRUE(RunElevated(GetModulePath()));
    WaitForStartedPrograms();
    EXPECT_EQ(ChildReport(dir / "report").size(), 1u); // started without arguments
}
