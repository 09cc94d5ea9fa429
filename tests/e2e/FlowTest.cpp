// The client program against the demo site on a private X server, driven with synthesised input and
// checked through its trace log and the site's request log.
#include "E2eSupport.h"

#include "TestServer.h"

#include <gtest/gtest.h>

namespace Vexel::E2e
{
namespace
{

// The main window's size (config.lua frameW, frameH) and its page's place in it (frameWebX, frameWebY).
constexpr int _MAIN_W = 600, _MAIN_H = 400, _WEB_X = 20, _WEB_Y = 76;
// Places on the main window: its close button (frameClose*).
constexpr int _CLOSE_X = 566 + 12, _CLOSE_Y = 16 + 12;
// Places on the site's pages as laid out at the main window's page size (560 x 250).
constexpr int _SERVER_X = 100, _SERVER_Y = 70, _SERVER_STEP = 176; // the first server card, then each next
constexpr int _LOGOUT_X = 515, _LOGOUT_Y = 22;
// The game frame's menu bar once the server data has filled it (entries laid out right to left after it).
constexpr int _MENU_Y = 17, _MENU_RECHARGE_X = 351, _MENU_REFRESH_X = 425, _MENU_SERVERS_X = 640,
              _MENU_MESSAGES_X = 776, _MENU_BOSS_X = 853, _TRAY_BUTTON_X = 914;
// The messages pop-up's outer size (launcher.lua setIMParams).
constexpr int _IM_W = 340, _IM_H = 440;
// The payment page's video button, in the game frame.
constexpr int _VIDEO_BUTTON_X = 300, _VIDEO_BUTTON_Y = 240;
// The boss-key settings window (frame slot 2): check box, hot-key box, OK.
constexpr int _BOSS_CHECK_X = 26, _BOSS_CHECK_Y = 66, _BOSS_KEY_X = 116, _BOSS_KEY_Y = 109, _BOSS_OK_X = 285,
              _BOSS_OK_Y = 161;
// The server window (frame slot 1) and its combo box.
constexpr int _SERVER_WIN_W = 300, _SERVER_WIN_H = 120, _COMBO_X = 150, _COMBO_Y = 63;
// The prompt window (launcher.lua, frame slot 3): its size and its OK and Cancel buttons.
constexpr int _PROMPT_W = 360, _PROMPT_H = 200, _PROMPT_OK_X = 155, _PROMPT_CANCEL_X = 285,
              _PROMPT_BUTTON_Y = 161;

class FlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDesktop.Ready()) << "no display for the end-to-end test: " << mDesktop.Problem();
        ASSERT_TRUE(mPortal->Started()) << "the demo site did not start:\n" << mPortal->Log();
    }

    void TearDown() override
    {
        if (mClient && mClient->Running())
        {
            EXPECT_TRUE(mClient->StopsCleanly());
        }
        if (HasFailure())
        {
            if (mClient)
                std::fprintf(stderr, "--- client trace log ---\n%s\n--- client stderr ---\n%s\n",
                             mClient->Trace().Text().c_str(), mClient->Errors().c_str());
            std::fprintf(stderr, "--- site requests ---\n%s\n", mPortal->Log().c_str());
        }
    }

    void StartClient(const std::string& extraSettings = {})
    {
        mClient = std::make_unique<Client>(*mPortal, extraSettings);
        ASSERT_TRUE(mClient->Started());
    }

    bool FindMainWindow(DesktopWindow& main)
    {
        return mDesktop.WaitForWindow(
            [](const DesktopWindow& w) { return w.width == _MAIN_W && w.height == _MAIN_H; }, main);
    }

    bool FindGameFrame(DesktopWindow& frame)
    {
        return mDesktop.WaitForWindow(
            [](const DesktopWindow& w) { return w.width >= 640 && w.height >= 480; }, frame);
    }

    // Waits for the page at the address (the site's path) to be complete and shown in the main window.
    std::size_t WaitForPage(const std::string& path, std::size_t from = 0)
    {
        std::size_t at = mClient->Trace().WaitFor("[MC] Preload page at: " + mPortal->Site() + path, from);
        if (at == std::string::npos)
            return at;
        return mClient->Trace().WaitFor("[MC] Show page", at);
    }

    void ClickPage(const DesktopWindow& main, int x, int y)
    {
        mDesktop.Click(main.x + _WEB_X + x, main.y + _WEB_Y + y);
    }

    // Signs in on the login page in the main window; the offset in the trace log after the server list.
    std::size_t SignIn(DesktopWindow& main, const std::string& user = "player")
    {
        return E2e::SignIn(mDesktop, *mClient, *mPortal, main, user);
    }

    // Chooses server n (from 1) on the server list; the offset after the game stage was entered.
    std::size_t EnterServer(const DesktopWindow& main, int n, std::size_t from)
    {
        ClickPage(main, _SERVER_X + (n - 1) * _SERVER_STEP, _SERVER_Y);
        const std::string game =
            "[MC] Preload page at: " + mPortal->Site() + "/game?sid=" + std::to_string(n);
        std::size_t at = mClient->Trace().WaitFor(game, from);
        if (at == std::string::npos)
            return at;
        return mClient->Trace().WaitFor("mc type 2", at);
    }

    // Signs in and enters server n; the game frame once the server data has filled its menus.
    std::size_t EnterGame(DesktopWindow& frame, int n = 1)
    {
        DesktopWindow main;
        std::size_t servers = SignIn(main);
        if (servers == std::string::npos)
            return servers;
        std::size_t game = EnterServer(main, n, servers);
        if (game == std::string::npos)
            return game;
        std::size_t data = mClient->Trace().WaitFor("[MC] Servers: 3", game);
        if (data == std::string::npos || !FindGameFrame(frame))
            return std::string::npos;
        return data;
    }

    void ClickFrame(const DesktopWindow& frame, int x, int y) { mDesktop.Click(frame.x + x, frame.y + y); }

    bool WaitForShown(unsigned long id, std::chrono::milliseconds timeout = _EVENT_TIMEOUT)
    {
        DesktopWindow found;
        return mDesktop.WaitForWindow([id](const DesktopWindow& w) { return w.id == id; }, found, timeout);
    }

    Desktop mDesktop;
    std::unique_ptr<Portal> mPortal =
        std::make_unique<Portal>(std::vector<std::string>{"--client", VEXEL_LAUNCHER_PATH});
    std::unique_ptr<Client> mClient;
};

TEST_F(FlowTest, ClientStartsAndShowsItsMainWindow)
{
    StartClient();
    ASSERT_NE(mClient->Trace().WaitFor("[MC] Main window shown"), std::string::npos);
    DesktopWindow main;
    ASSERT_TRUE(FindMainWindow(main));
    EXPECT_TRUE(mClient->StopsCleanly());
}

TEST_F(FlowTest, SignInLeadsThroughTheServerListToTheGameStage)
{
    StartClient();
    DesktopWindow main;
    std::size_t servers = SignIn(main);
    ASSERT_NE(servers, std::string::npos) << "the server list did not come after signing in";
    EXPECT_EQ(mPortal->CountRequests("POST /login 302"), 1);

    std::size_t game = EnterServer(main, 2, servers);
    ASSERT_NE(game, std::string::npos) << "the game stage was not entered";
    const std::string text = mClient->Trace().Text().substr(servers);
    // The game page is found on its quiet address, kept hidden, and its parameters name the remote loader.
    EXPECT_NE(text.find("[MC] Hide page"), std::string::npos);
    // (from the site's first CDN address)
    EXPECT_NE(text.find("[MC] Use remote loader: http://127.0.0.1:"), std::string::npos);
    EXPECT_NE(text.find("/download/vexel3d.lod, "), std::string::npos);
    EXPECT_NE(text.find("[MC] Show game window, game stage 1, mc type 2"), std::string::npos);
    // The main window gives way to the game frame.
    EXPECT_TRUE(mDesktop.WaitUntilGone(main.id));
    DesktopWindow frame;
    EXPECT_TRUE(mDesktop.WaitForWindow(
        [](const DesktopWindow& w) { return w.width >= 640 && w.height >= 480; }, frame));
}

TEST_F(FlowTest, GameStageAsksForTheServerInformationWithTheSessionAndFillsTheServerData)
{
    StartClient();
    DesktopWindow main;
    std::size_t servers = SignIn(main);
    ASSERT_NE(servers, std::string::npos);
    std::size_t game = EnterServer(main, 1, servers);
    ASSERT_NE(game, std::string::npos);
    ASSERT_NE(mClient->Trace().WaitFor("[MC] Servers: 3", game), std::string::npos);
    EXPECT_EQ(mPortal->CountRequests("GET /serverinfo"), mPortal->CountRequests("GET /serverinfo?uid="));
    EXPECT_GE(mPortal->CountRequests("GET /serverinfo?uid="), 1);
    // Signed, with the session cookie: the site answered it.
    const std::string log = mPortal->Log();
    EXPECT_NE(log.find(" 200\n", log.find("GET /serverinfo")), std::string::npos) << log;
    EXPECT_NE(mClient->Trace().Text().find("一区 青龙", game), std::string::npos);
}

TEST_F(FlowTest, LogOffOnTheServerListReturnsToTheLoginPage)
{
    StartClient();
    DesktopWindow main;
    std::size_t servers = SignIn(main);
    ASSERT_NE(servers, std::string::npos);
    ClickPage(main, _LOGOUT_X, _LOGOUT_Y);
    ASSERT_NE(WaitForPage("/login", servers), std::string::npos);
    EXPECT_EQ(mPortal->CountRequests("GET /logout 302"), 1);
    // The session is gone: the site asks for the sign-in again.
    EXPECT_NE(SignIn(main, "second"), std::string::npos);
}

TEST_F(FlowTest, ClosingAsksFirstAndOnlyYesEndsTheProgram)
{
    StartClient();
    DesktopWindow main;
    ASSERT_NE(WaitForPage("/login"), std::string::npos);
    ASSERT_TRUE(FindMainWindow(main));
    auto isPrompt = [](const DesktopWindow& w) { return w.width == _PROMPT_W && w.height == _PROMPT_H; };

    mDesktop.Click(main.x + _CLOSE_X, main.y + _CLOSE_Y);
    DesktopWindow prompt;
    ASSERT_TRUE(mDesktop.WaitForWindow(isPrompt, prompt)) << "no exit question";
    auto prompts = [&]
    {
        int count = 0;
        for (const DesktopWindow& w : mDesktop.Windows())
            count += w.viewable && isPrompt(w);
        return count;
    };
    // A second close while the question is open changes nothing: the one question stays.
    mDesktop.Click(main.x + _CLOSE_X, main.y + _CLOSE_Y);
    EXPECT_EQ(prompts(), 1);
    EXPECT_TRUE(mDesktop.Viewable(prompt.id));
    // No: the question goes (the input is handled in order, so the second close has been too), and
    // nothing else comes: no second question, no end, the main window stays.
    mDesktop.Click(prompt.x + _PROMPT_CANCEL_X, prompt.y + _PROMPT_BUTTON_Y);
    ASSERT_TRUE(mDesktop.WaitUntilGone(prompt.id));
    EXPECT_EQ(prompts(), 0);
    EXPECT_TRUE(mClient->Running());
    EXPECT_TRUE(mDesktop.Viewable(main.id));

    // Yes: the program ends by itself.
    mDesktop.Click(main.x + _CLOSE_X, main.y + _CLOSE_Y);
    ASSERT_TRUE(mDesktop.WaitForWindow(isPrompt, prompt));
    mDesktop.Click(prompt.x + _PROMPT_OK_X, prompt.y + _PROMPT_BUTTON_Y);
    EXPECT_TRUE(mClient->ExitsWith(0)) << "after Yes";
}

TEST_F(FlowTest, GamePageWithOneParameterIsRefreshedAfterTheTimeout)
{
    mPortal = std::make_unique<Portal>(
        std::vector<std::string>{"--client", VEXEL_LAUNCHER_PATH, "--game-params", "single"});
    ASSERT_TRUE(mPortal->Started());
    StartClient("appTimeout = 2000\n");
    DesktopWindow main;
    std::size_t servers = SignIn(main);
    ASSERT_NE(servers, std::string::npos);
    ClickPage(main, _SERVER_X, _SERVER_Y);
    const std::string timeout =
        "[MC] Timeout of getting game param, refresh " + mPortal->Site() + "/game?sid=1";
    std::size_t first = mClient->Trace().WaitFor(timeout, servers);
    ASSERT_NE(first, std::string::npos);
    // The page was reloaded and, still lacking its parameters, times out again; the game stage never comes.
    ASSERT_NE(mClient->Trace().WaitFor(timeout, first), std::string::npos);
    EXPECT_GE(mPortal->CountRequests("GET /game?sid=1"), 2);
    EXPECT_EQ(mClient->Trace().Count("mc type 2"), 0);
}

TEST_F(FlowTest, MessagesEntryOpensTheImPopupWhichNamesTheServerAndMakesTheEntryBlink)
{
    StartClient();
    DesktopWindow frame;
    std::size_t data = EnterGame(frame);
    ASSERT_NE(data, std::string::npos);
    mDesktop.Snap("portal-game-frame", &frame);

    ClickFrame(frame, _MENU_MESSAGES_X, _MENU_Y);
    std::size_t open =
        mClient->Trace().WaitFor("[MC] Open IM window: " + mPortal->Site() + "/im, Messages", data);
    ASSERT_NE(open, std::string::npos);
    // The page, still hidden, reports through `external`: its log line, the server's name, news.
    EXPECT_NE(mClient->Trace().WaitFor("LOG: messages page of player on 一区 青龙", open), std::string::npos);
    EXPECT_NE(mClient->Trace().WaitFor("[MC] Got gs name: 一区 青龙", open), std::string::npos);
    ASSERT_NE(mClient->Trace().WaitFor("[MC] Got new message", open), std::string::npos);

    // The news makes the entry blink: with the pointer away from it, its picture changes and comes back.
    mDesktop.MoveTo(frame.x + frame.width / 2, frame.y + frame.height / 2);
    const DesktopWindow entry{0, frame.x + _MENU_MESSAGES_X - 20, frame.y + _MENU_Y - 8, 40, 16, true, {}};
    const std::vector<unsigned long> first = mDesktop.Pixels(entry);
    ASSERT_FALSE(first.empty());
    std::vector<unsigned long> other;
    EXPECT_TRUE(Vexel::Test::WaitUntil([&] { return (other = mDesktop.Pixels(entry)) != first; }, 10s))
        << "the messages entry does not blink";
    EXPECT_TRUE(Vexel::Test::WaitUntil([&] { return mDesktop.Pixels(entry) != other; }, 10s))
        << "the messages entry changed once and stayed";

    // A second click shows the pop-up.
    ClickFrame(frame, _MENU_MESSAGES_X, _MENU_Y);
    DesktopWindow popup;
    ASSERT_TRUE(mDesktop.WaitForWindow(
        [&](const DesktopWindow& w) { return w.width == _IM_W && w.height == _IM_H; }, popup));
    mDesktop.Snap("portal-im-popup", &frame);
}

TEST_F(FlowTest, BossKeyAndTrayButtonHideTheGameAndTheBossKeyBringsItBack)
{
    StartClient();
    DesktopWindow frame;
    ASSERT_NE(EnterGame(frame), std::string::npos);

    ClickFrame(frame, _MENU_BOSS_X, _MENU_Y);
    DesktopWindow settings;
    ASSERT_TRUE(mDesktop.WaitForWindow(
        [](const DesktopWindow& w) { return w.width == _PROMPT_W && w.height == _PROMPT_H; }, settings))
        << "no boss-key settings window";
    mDesktop.Click(settings.x + _BOSS_CHECK_X, settings.y + _BOSS_CHECK_Y);
    mDesktop.Click(settings.x + _BOSS_KEY_X, settings.y + _BOSS_KEY_Y);
    mDesktop.Press("b", {"Control_L", "Alt_L"});
    mDesktop.Click(settings.x + _BOSS_OK_X, settings.y + _BOSS_OK_Y);
    ASSERT_TRUE(mDesktop.WaitUntilGone(settings.id));

    mDesktop.Press("b", {"Control_L", "Alt_L"});
    ASSERT_TRUE(mDesktop.WaitUntilGone(frame.id)) << "the boss key did not hide the game";
    mDesktop.Press("b", {"Control_L", "Alt_L"});
    ASSERT_TRUE(WaitForShown(frame.id)) << "the boss key did not bring the game back";

    ClickFrame(frame, _TRAY_BUTTON_X, _MENU_Y);
    ASSERT_TRUE(mDesktop.WaitUntilGone(frame.id)) << "the tray button did not hide the game";
    mDesktop.Press("b", {"Control_L", "Alt_L"});
    ASSERT_TRUE(WaitForShown(frame.id));
    EXPECT_TRUE(mClient->Running());
}

TEST_F(FlowTest, TrayIconClickBringsTheHiddenGameBack)
{
    // A notification area for the client's icon: the private display has none of its own.
    Vexel::Test::TempDir trayFolder;
    ChildProcess tray;
    const char* display = std::getenv("DISPLAY");
    ASSERT_TRUE(
        tray.Start({"/usr/bin/trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
                    "48", "--heighttype", "pixel", "--height", "48", "--SetDockType", "false",
                    "--SetPartialStrut", "false", "--transparent", "false"},
                   {std::string("DISPLAY=") + (display ? display : ""), "HOME=" + trayFolder.Path().string()},
                   trayFolder.Path() / "out.txt", trayFolder.Path() / "err.txt"))
        << "trayer is missing (scripts/setup installs it)";
    DesktopWindow area;
    ASSERT_TRUE(
        mDesktop.WaitForWindow([](const DesktopWindow& w) { return w.width == 48 && w.height == 48; }, area))
        << "the notification area did not appear";

    StartClient();
    DesktopWindow frame;
    ASSERT_NE(EnterGame(frame), std::string::npos);
    ClickFrame(frame, _TRAY_BUTTON_X, _MENU_Y);
    ASSERT_TRUE(mDesktop.WaitUntilGone(frame.id)) << "the tray button did not hide the game";
    // Clicked until the icon has been placed in the area and answers.
    ASSERT_TRUE(Vexel::Test::WaitUntil(
        [&]
        {
            mDesktop.Click(area.x + 8, area.y + area.height / 2); // the first icon, at the left
            return WaitForShown(frame.id, std::chrono::milliseconds(500));
        },
        _EVENT_TIMEOUT))
        << "clicking the tray icon did not bring the game back";
    EXPECT_TRUE(mClient->Running());
    tray.Stop();
}

TEST_F(FlowTest, ChoosingTheSameServerAsksFirstAndAnotherServerIsEntered)
{
    StartClient();
    DesktopWindow frame;
    std::size_t data = EnterGame(frame);
    ASSERT_NE(data, std::string::npos);

    auto isServers = [](const DesktopWindow& w)
    { return w.width == _SERVER_WIN_W && w.height == _SERVER_WIN_H; };
    auto isPrompt = [](const DesktopWindow& w) { return w.width == _PROMPT_W && w.height == _PROMPT_H; };
    ClickFrame(frame, _MENU_SERVERS_X, _MENU_Y);
    DesktopWindow servers;
    ASSERT_TRUE(mDesktop.WaitForWindow(isServers, servers)) << "no server window";

    // The server already played: the choice asks first, and Cancel stays on it.
    mDesktop.Click(servers.x + _COMBO_X, servers.y + _COMBO_Y);
    mDesktop.Press("Return");
    std::size_t same = mClient->Trace().WaitFor("[MC] Change server to 一区 青龙", data);
    ASSERT_NE(same, std::string::npos) << "choosing the current server again was not noticed";
    DesktopWindow prompt;
    ASSERT_TRUE(mDesktop.WaitForWindow(isPrompt, prompt)) << "no question before entering the same server";
    EXPECT_EQ(mClient->Trace().Count("[MC] Switch location to", same), 0);
    mDesktop.Click(prompt.x + _PROMPT_CANCEL_X, prompt.y + _PROMPT_BUTTON_Y);
    ASSERT_TRUE(mDesktop.WaitUntilGone(prompt.id));
    EXPECT_EQ(mClient->Trace().Count("[MC] Switch location to", same), 0);

    if (!mDesktop.Viewable(servers.id))
        ClickFrame(frame, _MENU_SERVERS_X, _MENU_Y);
    ASSERT_TRUE(mDesktop.WaitForWindow(isServers, servers)) << "no server window";
    mDesktop.Click(servers.x + _COMBO_X, servers.y + _COMBO_Y);
    mDesktop.Press("Down");
    mDesktop.Press("Return");
    std::size_t change = mClient->Trace().WaitFor("[MC] Change server to 二区 白虎", same);
    ASSERT_NE(change, std::string::npos);
    std::size_t game =
        mClient->Trace().WaitFor("[MC] Preload page at: " + mPortal->Site() + "/game?sid=2", change);
    ASSERT_NE(game, std::string::npos);
    EXPECT_NE(mClient->Trace().WaitFor("mc type 2", game), std::string::npos);
    EXPECT_NE(mClient->Trace().WaitFor("current 二区 白虎", game), std::string::npos);
    // One choice, one change: the new server is not offered again as "the same server".
    EXPECT_EQ(mClient->Trace().Count("[MC] Change server to 二区 白虎", same), 1);
}

TEST_F(FlowTest, RefreshWithoutARunningGameReloadsThePages)
{
    StartClient();
    DesktopWindow frame;
    ASSERT_NE(EnterGame(frame), std::string::npos);
    const int before = mPortal->CountRequests("GET /game?sid=1");
    ClickFrame(frame, _MENU_REFRESH_X, _MENU_Y);
    EXPECT_TRUE(Vexel::Test::WaitUntil([&] { return mPortal->CountRequests("GET /game?sid=1") > before; },
                                       _EVENT_TIMEOUT));
    EXPECT_TRUE(mClient->Running());
}

TEST_F(FlowTest, PaymentPageOpensTheVideoPopupThroughAPageCommand)
{
    StartClient();
    DesktopWindow frame;
    ASSERT_NE(EnterGame(frame), std::string::npos);
    const std::size_t mark = mClient->Trace().Size();
    ClickFrame(frame, _MENU_RECHARGE_X, _MENU_Y);
    // The payment page is a web page of the game frame: its document is complete when it is ready.
    ASSERT_NE(mClient->Trace().WaitFor(" ready in window ", mark), std::string::npos);
    ASSERT_TRUE(Vexel::Test::WaitUntil([&] { return mPortal->CountRequests("GET /charge 200") > 0; },
                                       _EVENT_TIMEOUT));
    // The button's script may still be on its way: press again until the command comes (a second press
    // only shows the pop-up again).
    std::size_t command = std::string::npos;
    for (int attempt = 0; attempt < 6 && command == std::string::npos; ++attempt)
    {
        ClickFrame(frame, _VIDEO_BUTTON_X, _VIDEO_BUTTON_Y);
        command = mClient->Trace().WaitFor("[MC] _WM_INVOKE called, openvideo", mark, 10s);
    }
    ASSERT_NE(command, std::string::npos);
    EXPECT_NE(mClient->Trace().WaitFor(
                  "[MC] Openvideo / QQpay: 120,80,640,420," + mPortal->Site() + "/video,攻略视频", command),
              std::string::npos);
    EXPECT_TRUE(
        Vexel::Test::WaitUntil([&] { return mPortal->CountRequests("GET /video 200") > 0; }, _EVENT_TIMEOUT));
}

} // namespace
} // namespace Vexel::E2e
