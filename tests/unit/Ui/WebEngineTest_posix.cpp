// The web engine comes up only when a web view needs it, after the window's first paint. Each case runs in
// a fresh child process of this program (the engine, once loaded, stays for the process): a program
// that never makes a web view never loads the engine; what is asked of a view before the engine is up
// is applied, in order, once it is; views destroyed before then are harmless; a missing engine is a
// visit error, not a crash.
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/WebView.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/wait.h>

namespace Vexel::Ui
{
namespace
{
using Test::PumpUntil;
using Test::Recorder;
using Test::TestServer;

constexpr const char* _CHILD = "VEXEL_WEB_ENGINE_CHILD";

bool EngineLoaded()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libwebkit2gtk") != std::string::npos)
            return true;
    return false;
}

// Runs one UiWebEngineChild case in a new process of this program, on this display.
void RunChild(const std::string& name, const std::string& engine = "")
{
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string command = std::string(_CHILD) + "=1 VEXEL_TEST_SHARED_DISPLAY=1 ";
    if (!engine.empty())
        command += "VEXEL_WEB_ENGINE='" + engine + "' ";
    command += "'" + program + "' --gtest_filter=UiWebEngineChild." + name + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        output.append(buffer, n);
    int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

// The child's cases: each runs only when started by RunChild.
class UiWebEngineChild : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mChild = std::getenv(_CHILD) != nullptr;
        if (!mChild)
            return; // the parent's case below runs this one in a process of its own
        VEXEL_REQUIRE_DISPLAY();
        ASSERT_FALSE(EngineLoaded());
        ASSERT_TRUE(InitWebViews(mStore.Wide()));
        mRecorder.mHook = [this](WindowId, _dword m, WParam wp, LParam, LResult&)
        {
            if (m == _WM_WEB_CONSOLEMSG)
                mTexts.push_back(reinterpret_cast<const char16_t*>(wp));
            if (m == _WM_WEB_DOCUMENTCOMPLETE || m == _WM_WEB_NAVIGATEERROR)
                mDone.push_back(reinterpret_cast<const char16_t*>(wp));
            return false;
        };
    }
    WindowId Window()
    {
        WindowParams p;
        p.style = _WS_POPUP | _WS_VISIBLE;
        p.x = 40;
        p.y = 40;
        p.width = 400;
        p.height = 300;
        p.handler = mRecorder.Handler();
        WindowId window = NewWindow(p);
        EXPECT_NE(window, 0u);
        return window;
    }

    bool mChild = false;
    ::Vexel::Test::TempDir mStore;
    Recorder mRecorder;
    std::vector<String> mTexts;
    std::vector<String> mDone;
};

TEST_F(UiWebEngineChild, NoEngineWithoutWebView)
{
    if (!mChild)
        return;
    WindowId window = Window();
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == window; }));
    EXPECT_FALSE(EngineLoaded());
    EXPECT_TRUE(WebGetCookies(u"http://127.0.0.1:1/").empty());
    EXPECT_TRUE(EngineLoaded()); // the check above can see the engine
    DestroyUiWindow(window);
}

TEST_F(UiWebEngineChild, QueuedOperationsApplyInOrder)
{
    if (!mChild)
        return;
    TestServer site(TestServer::Connections::OnePerRequest);
    site.AddPage("/first", "<html><body>first</body></html>");
    site.AddPage("/never", "<html><body>never</body></html>");
    site.AddPage("/second", "<html><body style='height:5000px'><script>alert('hi');"
                            "external.consoleMsg(String(confirm('sure?')) + ' ' +"
                            "  getComputedStyle(document.documentElement).overflow);</script></body></html>");
    WindowId window = Window();
    WindowId gone = Window();
    WindowId closed = Window();
    ASSERT_TRUE(NewWebView(window));
    ASSERT_TRUE(NewWebView(gone));
    ASSERT_TRUE(NewWebView(closed));
    EXPECT_FALSE(NewWebView(window));
    EXPECT_FALSE(EngineLoaded()); // views are placeholders until after the first paint

    EXPECT_TRUE(WebSetOption(window, u's', false));
    EXPECT_TRUE(WebSetOption(window, u'm', false));
    EXPECT_FALSE(WebGetOption(window, u'm'));
    EXPECT_EQ(WebNavigate(window, site.WideUrl("/first")), 0);
    EXPECT_TRUE(WebStop(window));
    EXPECT_EQ(WebNavigate(window, u"no address"), -5);
    EXPECT_EQ(WebNavigate(window, site.WideUrl("/second")), 0);
    EXPECT_EQ(WebCurrentUrl(window), site.WideUrl("/second"));
    EXPECT_EQ(WebReadyState(window), 0);

    // Views that go before the engine is up leave nothing behind.
    EXPECT_EQ(WebNavigate(gone, site.WideUrl("/never")), 0);
    EXPECT_TRUE(DestroyWebView(gone));
    EXPECT_EQ(WebNavigate(closed, site.WideUrl("/never")), 0);
    DestroyUiWindow(closed);

    ASSERT_TRUE(PumpUntil([&] { return !mDone.empty(); }));
    EXPECT_TRUE(EngineLoaded());
    ASSERT_TRUE(PumpUntil([&] { return !mTexts.empty(); }));
    EXPECT_EQ(mTexts[0], String(u"false hidden")); // no dialog, no scroll bars, `external` allowed
    EXPECT_EQ(mDone, std::vector<String>{site.WideUrl("/second")});
    EXPECT_EQ(site.Requests("/first"), 0);
    EXPECT_EQ(site.Requests("/never"), 0);
    EXPECT_TRUE(HasWebView(window));
    EXPECT_FALSE(HasWebView(gone));
    DestroyUiWindow(window);
    DestroyUiWindow(gone);
}

TEST_F(UiWebEngineChild, MissingEngineIsAVisitError)
{
    if (!mChild)
        return;
    WindowId window = Window();
    ASSERT_TRUE(NewWebView(window));
    EXPECT_EQ(WebNavigate(window, u"http://127.0.0.1:1/start"), 0);
    ASSERT_TRUE(PumpUntil([&] { return !mDone.empty(); }));
    EXPECT_EQ(mDone, std::vector<String>{u"http://127.0.0.1:1/start"});
    EXPECT_EQ(mRecorder.Count(_WM_WEB_NAVIGATEERROR), 1);
    WindowId later = Window();
    EXPECT_FALSE(NewWebView(later)); // later views are refused at once
    DestroyUiWindow(later);
    EXPECT_TRUE(WebGetCookies(u"http://127.0.0.1:1/").empty());
    EXPECT_FALSE(EngineLoaded());
    DestroyUiWindow(window);
}

TEST(UiWebEngineTest, ProgramWithoutWebViewsNeverLoadsTheEngine)
{
    VEXEL_REQUIRE_DISPLAY();
    RunChild("NoEngineWithoutWebView");
}

TEST(UiWebEngineTest, OperationsQueuedBeforeTheEngineApplyInOrderOnceItIsUp)
{
    VEXEL_REQUIRE_DISPLAY();
    RunChild("QueuedOperationsApplyInOrder");
}

TEST(UiWebEngineTest, AMissingEngineIsAVisitErrorNotACrash)
{
    VEXEL_REQUIRE_DISPLAY();
    RunChild("MissingEngineIsAVisitError", "/nonexistent/libwebkit2gtk-none.so");
}

} // namespace
} // namespace Vexel::Ui
