#include "Platform/System.h"
#include "Common/Kernel.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Module.h"
#include "Platform/Resources.h"
#include "ScopedEnvironment.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::Narrow;
using Vexel::Test::ScopedEnvironment;
using Vexel::Test::TempDir;
using Vexel::Test::WaitUntil;
using Vexel::Test::WriteBytes;

namespace fs = std::filesystem;

TEST(System, InitializeRecordsProgramAndMainThread)
{
    InitializePlatform();
    EXPECT_TRUE(IsMainThread());
    bool workerIsMain = true;
    std::thread([&] { workerIsMain = IsMainThread(); }).join();
    EXPECT_FALSE(workerIsMain);
    String program = GetModulePath();
    EXPECT_EQ(Kernel().modulePath, program);
    EXPECT_TRUE(FileExists(program));
    EXPECT_NE(Narrow(program).find("vexel_platform_tests"), std::string::npos);
}

TEST(System, OsVersionCodes)
{
    EXPECT_EQ(OsVersionCode(5, 0), 1);
    EXPECT_EQ(OsVersionCode(5, 1), 2);
    EXPECT_EQ(OsVersionCode(5, 2), 3);
    EXPECT_EQ(OsVersionCode(6, 0), 4);
    EXPECT_EQ(OsVersionCode(6, 3), 7);
    EXPECT_EQ(OsVersionCode(10, 0), 8);
    EXPECT_EQ(OsVersionCode(6, 4), 0);
    EXPECT_EQ(OsVersionCode(4, 0), 0);
#if defined(_WIN32)
    // What the system says, which the compatibility layer must not lower; the build needs Windows 7.
    EXPECT_GE(GetOSVersion(), OsVersionCode(6, 1));
#else
    EXPECT_EQ(GetOSVersion(), 8);
#endif
}

TEST(System, EnvironmentRoundTrip)
{
    ScopedEnvironment number("VEXEL_TEST_NUMBER", nullptr);
    ScopedEnvironment text("VEXEL_TEST_TEXT", nullptr);
    String value = u"stale";
    EXPECT_FALSE(GetEnvironment(u"VEXEL_TEST_NUMBER", value));
    EXPECT_TRUE(value.empty());

    ASSERT_TRUE(SetEnvironment(u"VEXEL_TEST_NUMBER", 0x1Fu));
    ASSERT_TRUE(GetEnvironment(u"VEXEL_TEST_NUMBER", value));
    EXPECT_EQ(value, u"0000001f");
    ASSERT_TRUE(SetEnvironment(u"VEXEL_TEST_NUMBER", 0xDEADBEEFu));
    ASSERT_TRUE(GetEnvironment(u"VEXEL_TEST_NUMBER", value));
    EXPECT_EQ(value, u"deadbeef");

    ASSERT_TRUE(SetEnvironmentText(u"VEXEL_TEST_TEXT", u"a\\b \u4e2d"));
    ASSERT_TRUE(GetEnvironment(u"VEXEL_TEST_TEXT", value));
    EXPECT_EQ(value, u"a\\b \u4e2d");

    EXPECT_TRUE(SetEnvironmentText(u"VEXEL_TEST_TEXT", String(1024, u'x')));
    EXPECT_TRUE(GetEnvironment(u"VEXEL_TEST_TEXT", value));
    EXPECT_TRUE(SetEnvironmentText(u"VEXEL_TEST_TEXT", String(1025, u'x')));
    EXPECT_FALSE(GetEnvironment(u"VEXEL_TEST_TEXT", value));

    EXPECT_FALSE(SetEnvironment(u"", 1));
    EXPECT_FALSE(SetEnvironment(u"A=B", 1));
}

TEST(System, MacAddressHasTheAdapterForm)
{
    String mac = GetMACAddress();
    ASSERT_FALSE(mac.empty()) << "no network adapter with a hardware address was found";
    ASSERT_EQ(mac.size(), 17u);
    for (std::size_t i = 0; i < mac.size(); ++i)
    {
        char16_t c = mac[i];
        bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
        EXPECT_TRUE(i % 3 == 2 ? c == u':' : hex) << Narrow(mac);
    }
    EXPECT_NE(mac, u"00:00:00:00:00:00");
}

TEST(System, TimeCountsMillisecondsOfTheSteadyClock)
{
    // Waits until GetTime says 50 ms passed and checks the steady clock agrees on the unit: a clock in
    // microseconds or seconds, or one that stands still, fails.
    auto start = std::chrono::steady_clock::now();
    _dword first = GetTime();
    ASSERT_TRUE(WaitUntil([&] { return GetTime() - first >= 50; }));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(49));
}

TEST(Resources, LookupIgnoresCaseAndSeparator)
{
    std::vector<_byte> bytes;
    ASSERT_TRUE(LoadEmbeddedResource(u"test/embedded.txt", bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "embedded resource for tests\n");
    bytes.clear();
    ASSERT_TRUE(LoadEmbeddedResource(u"TEST\\Embedded.TXT", bytes));
    EXPECT_FALSE(bytes.empty());

    EXPECT_FALSE(LoadEmbeddedResource(u"", bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(LoadEmbeddedResource(u"test/missing.txt", bytes));
    EXPECT_FALSE(LoadEmbeddedResource(u"test/embedded.tx", bytes));
    EXPECT_FALSE(LoadEmbeddedResource(u"test/embedded.txt2", bytes));
#if !defined(_WIN32)
    // Only Windows programs carry resources of their own that come first.
    ASSERT_TRUE(LoadEmbeddedResource(u"test/replaceable.txt", bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "from the generated table\n");
#endif
}

#if !defined(_WIN32)
TEST(Modules, LoadsALibraryAndFindsItsExports)
{
    String library;
    for (const char* candidate : {"/usr/lib/x86_64-linux-gnu/libz.so.1", "/lib/x86_64-linux-gnu/libz.so.1",
                                  "/usr/lib64/libz.so.1", "/usr/lib/libz.so.1"})
        if (fs::exists(candidate))
            library = FromNativeText(candidate);
    ASSERT_FALSE(library.empty()) << "libz.so.1 not found (the zlib1g package installs it)";

    String before = GetCurrentFolder();
    Module module;
    ASSERT_TRUE(module.LoadModule(library));
    EXPECT_EQ(GetCurrentFolder(), before);
    EXPECT_TRUE(module.IsLoaded());
    using Version = const char* (*)();
    auto version = reinterpret_cast<Version>(module.GetModuleProc("zlibVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version()[0], '1');
    EXPECT_EQ(module.GetModuleProc("noSuchExport"), nullptr);
    EXPECT_EQ(module.GetModuleProc(nullptr), nullptr);
    module.UnloadModule();
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(module.GetModuleProc("zlibVersion"), nullptr);
}
#else
TEST(Modules, LoadsALibraryAndFindsItsExports)
{
    String library;
    ASSERT_TRUE(GetEnvironment(u"SystemRoot", library));
    library += u"\\system32\\ws2_32.dll";
    String before = GetCurrentFolder();
    Module module;
    ASSERT_TRUE(module.LoadModule(library));
    EXPECT_EQ(GetCurrentFolder(), before);
    EXPECT_TRUE(module.IsLoaded());
    EXPECT_NE(module.GetModuleProc("WSAStartup"), nullptr);
    EXPECT_EQ(module.GetModuleProc("noSuchExport"), nullptr);
    EXPECT_EQ(module.GetModuleProc(nullptr), nullptr);
    module.UnloadModule();
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(module.GetModuleProc("WSAStartup"), nullptr);
}
#endif

TEST(Modules, FailuresLeaveNoModuleAndTheFolderUnchanged)
{
    TempDir dir;
    WriteBytes(dir / "fake.so", "not a library");
    String before = GetCurrentFolder();
    Module module;
    EXPECT_FALSE(module.LoadModule(dir.Wide("missing.so")));
    EXPECT_FALSE(module.LoadModule(dir.Wide()));
    {
        LogCapture capture;
        EXPECT_FALSE(module.LoadModule(dir.Wide("FAKE.so")));
        EXPECT_TRUE(capture.Contains(u"[FG] LoadModule")) << Narrow(capture.Text());
        EXPECT_TRUE(capture.Contains(u"fake.so") || capture.Contains(u"FAKE.so")) << Narrow(capture.Text());
    }
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(GetCurrentFolder(), before);
}
