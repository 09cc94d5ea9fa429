// The game itself, end to end: the client signs in on the demo site, enters a server, downloads the demo
// game module (the first CDN holds the request, the second serves it), verifies and loads it, and the game
// draws into the game frame and answers the mouse and the keyboard; closing ends the program. A CDN that
// stops half-way hands over to the next. Each module that may not run (a digest no address serves
// included, after one round with one request per address) shows its refusal on the loading screen and
// none of its code runs.
#include "E2eSupport.h"
#include "TestServer.h"

// GoogleTest first: X11's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fstream>

#if defined(VEXEL_DEMO_GAME_DIR)

namespace Vexel::E2e
{
namespace
{

const std::string _DEMO = VEXEL_DEMO_GAME_DIR;
// The main window and the places on the site's pages (as in FlowTest).
constexpr int _WEB_X = 20, _WEB_Y = 76, _SERVER_X = 100, _SERVER_Y = 70;
// The exit question and its OK button.
constexpr int _PROMPT_W = 360, _PROMPT_H = 200, _PROMPT_OK_X = 155, _PROMPT_BUTTON_Y = 161;
// The demo game's ship colour, used nowhere else on screen.
constexpr unsigned long _SHIP = 0xFF40A0;
constexpr unsigned long _LOADING_FILL = 0x111111;

struct Centre
{
    double x = -1, y = -1;
    int count = 0;
};

// Reads the screen through a display connection of the test's own.
class Screen
{
public:
    Screen() : mDisplay(XOpenDisplay(nullptr)) {}
    ~Screen()
    {
        if (mDisplay)
            XCloseDisplay(mDisplay);
    }
    std::vector<unsigned long> Pixels(const DesktopWindow& area) const
    {
        std::vector<unsigned long> pixels;
        XImage* image = XGetImage(mDisplay, DefaultRootWindow(mDisplay), area.x, area.y, area.width,
                                  area.height, AllPlanes, ZPixmap);
        if (!image)
            return pixels;
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x)
                pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return pixels;
    }
    Centre Ship(const DesktopWindow& area) const
    {
        Centre centre;
        std::vector<unsigned long> pixels = Pixels(area);
        double sx = 0, sy = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i)
            if (pixels[i] == _SHIP)
                sx += static_cast<double>(i % area.width), sy += static_cast<double>(i / area.width),
                    ++centre.count;
        if (centre.count)
            centre.x = sx / centre.count, centre.y = sy / centre.count;
        return centre;
    }
    void Key(KeySym key, bool down)
    {
        XTestFakeKeyEvent(mDisplay, XKeysymToKeycode(mDisplay, key), down ? True : False, CurrentTime);
        XFlush(mDisplay);
    }
    bool Ready() const { return mDisplay != nullptr; }

private:
    Display* mDisplay;
};

// The shared condition wait, with the end-to-end tests' event time-out.
bool Within(const std::function<bool()>& condition, std::chrono::milliseconds timeout = _EVENT_TIMEOUT)
{
    return Test::WaitUntil(condition, timeout);
}

class GameTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (mClient && mClient->Running())
        {
            EXPECT_TRUE(mClient->StopsCleanly());
        }
        if (HasFailure() && mClient)
            std::fprintf(stderr, "--- client trace log ---\n%s\n--- client stderr ---\n%s\n",
                         mClient->Trace().Text().c_str(), mClient->Errors().c_str());
        if (HasFailure() && mPortal)
            std::fprintf(stderr, "--- site requests ---\n%s\n", mPortal->Log().c_str());
    }

    void Start(std::vector<std::string> portalArguments, bool trustTestCa = true)
    {
        ASSERT_TRUE(mDesktop.Ready()) << "no display for the end-to-end test: " << mDesktop.Problem();
        portalArguments.insert(portalArguments.begin(), {"--client", VEXEL_LAUNCHER_PATH});
        mPortal = std::make_unique<Portal>(portalArguments);
        ASSERT_TRUE(mPortal->Started()) << "the demo site did not start:\n" << mPortal->Log();
        std::string settings = trustTestCa ? "loaderCaFile = \"" + _DEMO + "/test-ca/root.pem\"\n" : "";
        mClient = std::make_unique<Vexel::E2e::Client>(*mPortal, settings);
        ASSERT_TRUE(mClient->Started());
    }

    // Signs in, enters the first server; the game frame once the game stage runs.
    std::size_t EnterGame(DesktopWindow& frame)
    {
        TraceLog& trace = mClient->Trace();
        DesktopWindow main;
        std::size_t at = SignIn(mDesktop, *mClient, *mPortal, main);
        if (at == std::string::npos)
            return std::string::npos;
        mDesktop.Click(main.x + _WEB_X + _SERVER_X, main.y + _WEB_Y + _SERVER_Y);
        at = trace.WaitFor("mc type 2", at);
        if (at == std::string::npos ||
            !mDesktop.WaitForWindow([](const DesktopWindow& w) { return w.width >= 640 && w.height >= 480; },
                                    frame))
            return std::string::npos;
        return at;
    }

    // The game frame's client area (below its title bar).
    static DesktopWindow ClientArea(const DesktopWindow& frame)
    {
        DesktopWindow area = frame;
        area.x += 2;
        area.y += 40;
        area.width -= 4;
        area.height -= 42;
        return area;
    }

    Desktop mDesktop;
    Screen mScreen;
    std::unique_ptr<Portal> mPortal;
    std::unique_ptr<Vexel::E2e::Client> mClient;
};

TEST_F(GameTest, TheGameDownloadsPastAStalledCdnRunsTakesInputAndEndsWithTheProgram)
{
    Start({"--module", _DEMO + "/vexel3d.lod", "--stall-first-cdn"});
    DesktopWindow frame;
    std::size_t game = EnterGame(frame);
    ASSERT_NE(game, std::string::npos) << "the game stage was not entered";
    TraceLog& trace = mClient->Trace();
    // The loading screen while the first CDN holds the request.
    ASSERT_NE(trace.WaitFor("[MC] Download loader from http://127.0.0.1:", game), std::string::npos);
    mDesktop.Snap("game-loading", &frame);
    std::size_t stalled = trace.WaitFor("[MC] No progress from http://127.0.0.1:", game);
    ASSERT_NE(stalled, std::string::npos);
    std::size_t first = trace.WaitFor("[MC] Loader first frame", stalled);
    ASSERT_NE(first, std::string::npos) << "the game did not render";
    std::string text = trace.Text().substr(game);
    EXPECT_NE(text.find("verified (Vexel Studio Ltd.)"), std::string::npos);
    EXPECT_NE(text.find("[MC] Save loader to "), std::string::npos);
    EXPECT_TRUE(Within([&] { return mPortal->CountRequests("GET /dev/bl") == 1; }));
    std::string log = mPortal->Log();
    EXPECT_NE(log.find("CDN 1 GET /download/vexel3d.lod?pv=10004"), std::string::npos) << log;
    EXPECT_NE(log.find("CDN 2 GET /download/vexel3d.lod?pv=10004"), std::string::npos) << log;

    // Frames keep coming: the window's pixels change.
    DesktopWindow area = ClientArea(frame);
    std::vector<unsigned long> before;
    ASSERT_TRUE(Within([&] { return (before = mScreen.Pixels(area), mScreen.Ship(area).count > 100); }))
        << "the ship never showed";
    EXPECT_TRUE(Within([&] { return mScreen.Pixels(area) != before; }));
    mDesktop.Snap("game-running", &frame);

    // A click sends the ship to the point; the left arrow moves it left.
    Centre start = mScreen.Ship(area);
    int targetX = static_cast<int>(start.x) + 150, targetY = static_cast<int>(start.y) - 100;
    mDesktop.Click(area.x + targetX, area.y + targetY);
    EXPECT_TRUE(Within(
        [&]
        {
            Centre c = mScreen.Ship(area);
            return std::abs(c.x - targetX) < 4 && std::abs(c.y - targetY) < 4;
        }))
        << "the click did not reach the game";
    Centre clicked = mScreen.Ship(area);
    mScreen.Key(XK_Left, true);
    bool moved = Within([&] { return mScreen.Ship(area).x < clicked.x - 60; });
    mScreen.Key(XK_Left, false);
    EXPECT_TRUE(moved) << "the key did not reach the game";

    // Closing asks first; yes ends the program.
    mDesktop.Click(frame.x + frame.width - 18, frame.y + 14);
    DesktopWindow prompt;
    ASSERT_TRUE(mDesktop.WaitForWindow(
        [](const DesktopWindow& w) { return w.width == _PROMPT_W && w.height == _PROMPT_H; }, prompt));
    mDesktop.Click(prompt.x + _PROMPT_OK_X, prompt.y + _PROMPT_BUTTON_Y);
    EXPECT_TRUE(mClient->ExitsWith(0));
    EXPECT_NE(trace.Text().find("[MC] Loader unloaded", first), std::string::npos);
}

TEST_F(GameTest, ACdnThatStopsHalfWayHandsTheDownloadToTheNextAndTheGameRuns)
{
    Start({"--module", _DEMO + "/vexel3d.lod", "--half-first-cdn"});
    DesktopWindow frame;
    std::size_t game = EnterGame(frame);
    ASSERT_NE(game, std::string::npos) << "the game stage was not entered";
    TraceLog& trace = mClient->Trace();
    // The loading screen while the first CDN holds the rest: the bytes so far, the speed, the time left.
    ASSERT_NE(trace.WaitFor("[MC] Download loader from http://127.0.0.1:", game), std::string::npos);
    mDesktop.Snap("game-loading-progress", &frame);
    std::size_t stalled = trace.WaitFor("[MC] No progress from http://127.0.0.1:", game);
    ASSERT_NE(stalled, std::string::npos) << "the half-way stall was never noticed";
    std::size_t first = trace.WaitFor("[MC] Loader first frame", stalled);
    ASSERT_NE(first, std::string::npos) << "the game did not render";
    EXPECT_NE(trace.Text().find("[MC] Save loader to ", stalled), std::string::npos);
    // The holding CDN was asked once; the other one served the module.
    EXPECT_EQ(mPortal->CountRequests("CDN 1 GET /download/vexel3d.lod?pv=10004"), 1) << mPortal->Log();
    EXPECT_EQ(mPortal->CountRequests("CDN 2 GET /download/vexel3d.lod?pv=10004"), 1) << mPortal->Log();
    DesktopWindow area = ClientArea(frame);
    EXPECT_TRUE(Within([&] { return mScreen.Ship(area).count > 100; })) << "the ship never showed";
    EXPECT_TRUE(mClient->StopsCleanly());
}

TEST_F(GameTest, RefreshOfTheRunningGameReloadsItsPageAndRunsTheCachedModuleAgain)
{
    Start({"--module", _DEMO + "/vexel3d.lod"});
    DesktopWindow frame;
    std::size_t game = EnterGame(frame);
    ASSERT_NE(game, std::string::npos) << "the game stage was not entered";
    TraceLog& trace = mClient->Trace();
    std::size_t first = trace.WaitFor("[MC] Loader first frame", game);
    ASSERT_NE(first, std::string::npos) << "the game did not render";

    // The menu bar's refresh entry (the player has not signed in through a page command, so the game's
    // page is loaded again and the game starts over).
    constexpr int _MENU_REFRESH_X = 425, _MENU_Y = 17;
    mDesktop.Click(frame.x + _MENU_REFRESH_X, frame.y + _MENU_Y);
    std::size_t refresh = trace.WaitFor("[MC] Refresh " + mPortal->Site() + "/game?sid=1", first);
    ASSERT_NE(refresh, std::string::npos) << "the refresh did not reach the running game";
    std::size_t cached = trace.WaitFor("[MC] Loader is the cached file", refresh);
    ASSERT_NE(cached, std::string::npos) << "the module was not taken from the cache";
    EXPECT_NE(trace.WaitFor("[MC] Loader first frame", cached), std::string::npos)
        << "the game did not restart";
    // One download in all, from whichever CDN served it.
    const std::string log = mPortal->Log();
    std::size_t downloads = 0;
    for (std::size_t at = log.find("GET /download/vexel3d.lod"); at != std::string::npos;
         at = log.find("GET /download/vexel3d.lod", at + 1))
        ++downloads;
    EXPECT_EQ(downloads, 1u) << log;
    EXPECT_TRUE(mClient->Running());
}

struct Refusal
{
    const char* name;
    std::vector<std::string> portalArguments;
    bool trustTestCa;
    const char* message;
};

std::string AlteredModule()
{
    static std::string path = []
    {
        std::ifstream in(_DEMO + "/vexel3d.lod", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        bytes[bytes.size() / 3] ^= 0x5A;
        std::string out = (std::filesystem::temp_directory_path() / "vexel-e2e-altered.lod").string();
        std::ofstream(out, std::ios::binary) << bytes;
        return out;
    }();
    return path;
}

class RefusalTest : public GameTest, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(RefusalTest, TheLoadingScreenShowsTheRefusalAndNothingOfTheModuleRuns)
{
    const Refusal& refusal = GetParam();
    std::vector<std::string> arguments = refusal.portalArguments;
    for (auto& argument : arguments)
        if (argument == "ALTERED")
            argument = AlteredModule();
    Start(arguments, refusal.trustTestCa);
    DesktopWindow frame;
    std::size_t game = EnterGame(frame);
    ASSERT_NE(game, std::string::npos) << "the game stage was not entered";
    TraceLog& trace = mClient->Trace();
    DesktopWindow area = ClientArea(frame);
    ASSERT_NE(trace.WaitFor(std::string("[MC] Loader error: ") + refusal.message, game), std::string::npos);
    auto moduleRequests = [&]
    { return mPortal->CountRequests("CDN 1 GET /download") + mPortal->CountRequests("CDN 2 GET /download"); };
    const int requests = moduleRequests();
    // The loading screen is back (or never left) and shows the text; the game draws nothing.
    EXPECT_TRUE(Within(
        [&]
        {
            std::vector<unsigned long> pixels = mScreen.Pixels(area);
            return !pixels.empty() && pixels[5] == _LOADING_FILL;
        }));
    EXPECT_EQ(mScreen.Ship(area).count, 0);
    if (std::string(refusal.name) == "unsigned")
        mDesktop.Snap("game-refused", &frame);
    if (std::string(refusal.name) == "wrongdigest")
    {
        // One round: the address's own host, the second CDN, the first again (the page lists it last);
        // then nothing more, and nothing is written.
        EXPECT_EQ(requests, 3) << mPortal->Log();
        EXPECT_EQ(trace.Count("has digest", game), 3);
        EXPECT_EQ(trace.Text().find("[MC] Save loader", game), std::string::npos);
    }
    std::string text = trace.Text().substr(game);
    if (std::string(refusal.name) == "banned")
        EXPECT_NE(text.find("[MC] Loader unloaded"), std::string::npos);
    else
        EXPECT_EQ(text.find(".lod loaded"), std::string::npos) << text;
    if (std::string(refusal.name) == "wrongdigest")
    {
        EXPECT_EQ(moduleRequests(), requests) << mPortal->Log();
    }
    EXPECT_TRUE(mClient->StopsCleanly());
}

const Refusal _REFUSALS[] = {
    {"wrongdigest",
     {"--module", _DEMO + "/vexel3d.lod", "--module-md5", "0123456789abcdef0123456789abcdef"},
     true,
     "Invalid loader, contact support@vexel-demo.test"},
    {"untrustedroot",
     {"--module", _DEMO + "/vexel3d.lod"},
     false,
     "Invalid signature of loader, contact support@vexel-demo.test"},
    {"copiedsigner",
     {"--module", _DEMO + "/vexel3d-untrusted.lod"},
     true,
     "Invalid signature of loader, contact support@vexel-demo.test"},
    {"altered",
     {"--module", "ALTERED"},
     true,
     "Invalid signature of loader, contact support@vexel-demo.test"},
    {"unsigned",
     {"--module", _DEMO + "/vexel3d-unsigned.lod"},
     true,
     "Invalid loader, contact support@vexel-demo.test"},
    {"banned",
     {"--module", _DEMO + "/vexel3d.lod", "--ban-module", "This build is withdrawn, please update"},
     true,
     "This build is withdrawn, please update"},
};

INSTANTIATE_TEST_SUITE_P(Modules, RefusalTest, ::testing::ValuesIn(_REFUSALS),
                         [](const ::testing::TestParamInfo<Refusal>& info)
                         { return std::string(info.param.name); });

} // namespace
} // namespace Vexel::E2e

#else

TEST(GameTest, IsBuilt)
{
    FAIL() << "the demo game was not built (needs x11, cairo and the openssl program)";
}

#endif
