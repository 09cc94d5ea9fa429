// The client program's start-up as its trace log shows it: the steps in their order up to the main loop,
// the short way out when the scripts abort (/regserver) or the program's own file fails its integrity
// check (a message box, then the end, with nothing of the upgrade check or the main loop).
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace Vexel::E2e
{
namespace
{

namespace fs = std::filesystem;

// The lines in the order given, each after the one before; a message naming the first out of place.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& lines)
{
    std::size_t at = 0;
    for (const std::string& line : lines)
    {
        std::size_t found = text.find(line, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "\"" << line << "\" missing or out of order in:\n"
                                                 << text;
        at = found + line.size();
    }
    return ::testing::AssertionSuccess();
}

// What runs before the integrity check, in the order the start-up runs it.
const std::vector<std::string> _FIRST_STEPS = {
    "[KL] Lua ScriptManager Created", "[MC] Settings script from",
    "[MC] File path: ", "[MC] Current working folder: ", "[MC] Program version"};

class StartupFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDesktop.Ready()) << "no display for the end-to-end test: " << mDesktop.Problem();
        ASSERT_TRUE(mPortal.Started()) << "the demo site did not start:\n" << mPortal.Log();
    }
    // The error log of the client's run, decoded.
    static std::string ErrorLog(const Client& client)
    {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(client.UserRoot(), error))
            if (entry.path().filename().string().find("[Error].log") != std::string::npos)
                return TraceLog::Decode(Vexel::Test::ReadBytes(entry.path()));
        return {};
    }
    static bool Contains(const std::string& text, const std::string& needle)
    {
        return text.find(needle) != std::string::npos;
    }

    Desktop mDesktop;
    Portal mPortal{{"--client", VEXEL_LAUNCHER_PATH}};
};

TEST_F(StartupFlowTest, TheStepsRunInTheirOrderUpToTheMainLoop)
{
    Client client(mPortal);
    ASSERT_TRUE(client.Started());
    ASSERT_NE(client.Trace().WaitFor("[MC] Main window shown"), std::string::npos);
    std::vector<std::string> steps = _FIRST_STEPS;
    steps.insert(steps.begin() + 2, "launcher script done");
    steps.insert(steps.end(), {"[MC] Local mc md5", "[MC] Report to url", "[MC] Show frame window"});
    EXPECT_TRUE(InOrder(client.Trace().Text(), steps));
    EXPECT_TRUE(client.StopsCleanly());
}

// /regserver: the launcher script asks for the abort; the program ends after the install step.
TEST_F(StartupFlowTest, AnAbortFromTheScriptsEndsTheStartBeforeTheUpgradeCheck)
{
    Client client(mPortal, {}, {"/noshortcut", "/regserver"});
    ASSERT_TRUE(client.Started());
    EXPECT_TRUE(client.ExitsWith(0));
    const std::string text = client.Trace().Text();
    EXPECT_TRUE(InOrder(text, _FIRST_STEPS));
    for (const char* later : {"[MC] Local mc md5", "[MC] Report to url", "[MC] Show frame window"})
        EXPECT_FALSE(Contains(text, later)) << later;
}

// A copy of the program whose signature trailer cannot be right: the player is told, and after the box
// the program ends without checking for upgrades or showing its windows.
TEST_F(StartupFlowTest, AProgramFileThatFailsItsIntegrityCheckSaysSoAndEnds)
{
    Vexel::Test::TempDir folder;
    const fs::path program = folder / "vexel-launcher";
    Vexel::Test::WriteBytes(program, Vexel::Test::ReadBytes(VEXEL_LAUNCHER_PATH) +
                                         std::string("\xFF\xFF\xFF\x7F", 4) + "VXSIGN01");
    fs::permissions(program, fs::perms::owner_all);
    Client client(mPortal, {}, {"/noshortcut"}, program);
    ASSERT_TRUE(client.Started());
    DesktopWindow box;
    ASSERT_TRUE(mDesktop.WaitForWindow([](const DesktopWindow& w) { return w.name == "Vexel Demo"; }, box));
    mDesktop.Click(box.x + box.width / 2, box.y + 10);
    mDesktop.Press("Return");
    EXPECT_TRUE(client.ExitsWith(0));
    const std::string text = client.Trace().Text();
    EXPECT_TRUE(InOrder(text, _FIRST_STEPS));
    EXPECT_TRUE(Contains(ErrorLog(client), "failed its integrity check: ")) << ErrorLog(client);
    for (const char* later : {"[MC] Local mc md5", "[MC] Report to url", "[MC] Show frame window"})
        EXPECT_FALSE(Contains(text, later)) << later;
}

} // namespace
} // namespace Vexel::E2e
