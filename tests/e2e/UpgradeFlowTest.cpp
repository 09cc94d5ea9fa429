// The client replacing itself against a real site: a copy of this build (version "1.0") sees the digest of
// the newer build the site publishes, downloads it, starts it with "/copy" and its own path and ends; the
// newer build copies itself over the program and restarts it from there, which then runs version
// "1.1-next" and is what starts next time. A download the server stops sending part-way leaves the old
// program running and unchanged.
#include "E2eSupport.h"
#include "TestServer.h"

#include "Common/StringEncoding.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace Vexel::E2e
{
namespace
{

namespace fs = std::filesystem;
using Test::DigestHex;

// The process whose trace holds needle, or 0 when none does before the time-out.
int WaitForProcessLogging(const fs::path& root, const std::string& needle)
{
    int found = 0;
    Test::WaitUntil(
        [&]
        {
            for (const auto& [pid, text] : TraceLog::ByProcess(root))
                if (found == 0 && text.find(needle) != std::string::npos)
                    found = pid;
            return found != 0;
        });
    return found;
}

bool Alive(int pid)
{
    return pid > 0 && ::kill(pid, 0) == 0;
}

// Ends a process this test did not start itself (the program restarted by the new build).
void End(int pid)
{
    if (!Alive(pid))
        return;
    ::kill(pid, SIGTERM);
    if (!Test::WaitUntil([&] { return !Alive(pid); }, std::chrono::seconds(10)))
        ::kill(pid, SIGKILL);
}

class UpgradeFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDesktop.Ready()) << "no display for the end-to-end test: " << mDesktop.Problem();
        // The program that is replaced is a copy, in a folder whose name has a space.
        mProgram = mFolder / "my program" / "vexel-launcher";
        fs::create_directories(mProgram.parent_path());
        fs::copy_file(VEXEL_LAUNCHER_PATH, mProgram);
        mOld = Vexel::Test::ReadBytes(mProgram);
        mNew = Vexel::Test::ReadBytes(VEXEL_LAUNCHER_NEXT_PATH);
        ASSERT_NE(DigestHex(mOld), DigestHex(mNew));
    }
    void TearDown() override
    {
        // Every process that wrote a trace in this test's user root is one of the program's hand-overs.
        if (mClient)
            for (const auto& entry : TraceLog::ByProcess(mClient->UserRoot()))
                if (entry.first != mClient->Pid()) // that one is ended and collected by its owner
                    mStray.push_back(entry.first);
        for (int pid : mStray)
            End(pid);
        if (HasFailure() && mClient)
        {
            for (const auto& [pid, text] : TraceLog::ByProcess(mClient->UserRoot()))
                std::fprintf(stderr, "--- trace of %d ---\n%s\n", pid, text.c_str());
            std::fprintf(stderr, "--- client stderr ---\n%s\n", mClient->Errors().c_str());
        }
    }

    Desktop mDesktop;
    Vexel::Test::TempDir mFolder;
    fs::path mProgram;
    std::string mOld, mNew;
    std::unique_ptr<Client> mClient;
    std::vector<int> mStray;
};

TEST_F(UpgradeFlowTest, ANewerBuildReplacesTheProgramAndRunsFromThenOn)
{
    Portal portal({"--client", VEXEL_LAUNCHER_NEXT_PATH});
    ASSERT_TRUE(portal.Started()) << portal.Log();
    mClient =
        std::make_unique<Client>(portal, std::string(), std::vector<std::string>{"/noshortcut"}, mProgram);
    ASSERT_TRUE(mClient->Started());
    const fs::path root = mClient->UserRoot();

    const int old = WaitForProcessLogging(root, "[MC] Program version 1.0");
    ASSERT_NE(old, 0);
    const std::string target = (root / "vexeldemo" / ("vexel-launcher[" + DigestHex(mNew) + "]")).string();
    ASSERT_NE(WaitForProcessLogging(root, "[MC] Start process: " + target + " /copy " + mProgram.string()),
              0);
    // The old process ends by itself once the new build has been started.
    EXPECT_TRUE(mClient->ExitsWith(0)) << "the old program";

    // The new build copies itself over the program and starts it there with "/delete" and the download.
    const int handover = WaitForProcessLogging(root, "[MC] Program version 1.1-next");
    ASSERT_NE(handover, 0);
    const int restarted = WaitForProcessLogging(root, "[MC] Deleting file: " + target);
    ASSERT_NE(restarted, 0);
    mStray = {handover, restarted};
    EXPECT_NE(restarted, old);
    EXPECT_NE(TraceLog::ByProcess(root)[restarted].find("[MC] Program version 1.1-next"), std::string::npos);
    EXPECT_EQ(Vexel::Test::ReadBytes(mProgram), mNew);
    EXPECT_FALSE(Alive(old));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(Alive(restarted)); // it carries on as the launcher
    End(restarted);

    // Next time the program is the new build, and it finds itself current.
    Client again(portal, std::string(), {"/noshortcut"}, mProgram);
    ASSERT_TRUE(again.Started());
    const int next = WaitForProcessLogging(again.UserRoot(), "[MC] Local mc md5 " + DigestHex(mNew) +
                                                                 ", remote mc md5 " + DigestHex(mNew));
    ASSERT_NE(next, 0);
    EXPECT_NE(TraceLog::ByProcess(again.UserRoot())[next].find("[MC] Program version 1.1-next"),
              std::string::npos);
    EXPECT_EQ(portal.CountRequests("GET /client/vexel-launcher "), 1);
    EXPECT_TRUE(again.StopsCleanly());
    // The hand-over processes wrote to the first run's stderr.
    EXPECT_EQ(mClient->SanitizerReport(), "");
}

TEST_F(UpgradeFlowTest, ADownloadTheServerStopsSendingLeavesTheOldProgramRunning)
{
    Portal portal;
    ASSERT_TRUE(portal.Started()) << portal.Log();
    // The program and its digest come from a server that stops after the first bytes.
    Vexel::Test::TestServer files;
    files.AddFile("/client/vexel-launcher", mNew);
    files.AddFile("/client/vexel-launcher.md5", DigestHex(mNew));
    files.SetMode("/client/vexel-launcher", Vexel::Test::TestServer::Mode::Stall);
    const std::string settings = "mcurl = \"" + files.Url("/client/vexel-launcher") + "\"\nmcmd5url = \"" +
                                 files.Url("/client/vexel-launcher.md5") + "\"\n";
    mClient = std::make_unique<Client>(portal, settings, std::vector<std::string>{"/noshortcut"}, mProgram);
    ASSERT_TRUE(mClient->Started());
    const fs::path root = mClient->UserRoot();

    ASSERT_NE(WaitForProcessLogging(root, "[MC] Start download mc from"), 0);
    ASSERT_NE(WaitForProcessLogging(root, "[MC] MC download fail"), 0);
    EXPECT_NE(mClient->Trace().Text().find("[MC] MC download stalled"), std::string::npos);
    // It goes on to its main window as the same program.
    DesktopWindow main;
    EXPECT_TRUE(mDesktop.WaitForWindow(
        [](const DesktopWindow& w) { return w.width == 600 && w.height == 400; }, main));
    EXPECT_TRUE(mClient->Running());
    EXPECT_EQ(Vexel::Test::ReadBytes(mProgram), mOld);
    EXPECT_FALSE(fs::exists(root / "vexeldemo" / ("vexel-launcher[" + DigestHex(mNew) + "]")));
    EXPECT_EQ(mClient->Trace().Text().find("[MC] Start process"), std::string::npos);
    EXPECT_TRUE(mClient->StopsCleanly());
}

} // namespace
} // namespace Vexel::E2e
