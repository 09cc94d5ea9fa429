// Web windows over real browsers: load-state flags and callbacks, show-on-load, the page's `external`
// calls by window kind, named values, hide-on-close.
#include "PortalTestSupport.h"

namespace Vexel::Test
{
namespace
{

class LauncherWebWindowTest : public PortalTest
{
protected:
    void SetUp() override
    {
        PortalTest::SetUp();
        Ui::WindowParams p;
        p.title = u"web parent";
        p.x = 30;
        p.y = 30;
        p.width = 500;
        p.height = 400;
        p.handler = mParentLog.Handler();
        mParent = Ui::NewWindow(p);
        ASSERT_NE(mParent, 0u);
        Ui::ShowUiWindow(mParent, Ui::_SW_SHOW);
    }
    void TearDown() override
    {
        mWebs.clear();
        Ui::DestroyUiWindow(mParent);
        PortalTest::TearDown();
    }
    WebRef Make(int kind)
    {
        WebRef web = CreateWebWindow(mParent, 10, 10, 300, 200, kind);
        EXPECT_TRUE(web && web->mBrowser);
        mWebs.push_back(web);
        return web;
    }

    Recorder mParentLog;
    Ui::WindowId mParent = 0;
    std::vector<WebRef> mWebs;
};

TEST_F(LauncherWebWindowTest, RestartCallbackOnlyForANavigationAfterACompletedDocument)
{
    mServer.Page("/one", "<html><body><p>one</p></body></html>");
    mServer.Page("/two", "<html><body><p>two</p></body></html>");
    WebRef web = Make(_WEB_CHILD);
    web->mShowOnLoad = true;
    int restarts = 0, readies = 0;
    bool flagsAtRestart = true;
    web->mOnRestart = [&](WebWindow& w)
    {
        ++restarts;
        flagsAtRestart = w.mReady || w.mPageDone || w.mForce;
    };
    web->mOnReady = [&](WebWindow&) { ++readies; };

    ASSERT_EQ(NavigateWeb(*web, mServer.Url("/one")), 0);
    ASSERT_TRUE(WaitReady(*web));
    EXPECT_EQ(restarts, 0); // the first navigation starts from nothing
    EXPECT_EQ(readies, 1);
    EXPECT_TRUE(web->mPageDone);
    EXPECT_TRUE(PumpUntil([&] { return Ui::IsUiWindowVisible(web->mWindow); }));

    ASSERT_EQ(NavigateWeb(*web, mServer.Url("/two")), 0);
    ASSERT_TRUE(PumpUntil([&] { return restarts == 1 && web->mReady; }));
    EXPECT_FALSE(flagsAtRestart); // cleared before the callback
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(readies, 2);
    EXPECT_TRUE(Logged(u"[MC] Show page 0x"));
}

TEST_F(LauncherWebWindowTest, ShowOnLoadClearKeepsAHiddenPageHidden)
{
    mServer.Page("/quiet", "<html><body><script>var a = 1;</script>quiet</body></html>");
    WebRef web = Make(_WEB_CHILD);
    HidePage(*web);
    web->mShowOnLoad = false;
    NavigateWeb(*web, mServer.Url("/quiet"));
    ASSERT_TRUE(WaitReady(*web));
    EXPECT_FALSE(web->mPageDone);
    EXPECT_FALSE(Ui::IsUiWindowVisible(web->mWindow));
    EXPECT_TRUE(Logged(u"[MC] Start to load page, but not shown"));
    EXPECT_TRUE(Logged(u"[MC] Hide page 0x"));
}

TEST_F(LauncherWebWindowTest, OnlyTopLevelKindsAnswerThePage)
{
    mServer.Page("/im", "<html><body><script>external.getGsName('Server 7'); external.consoleMsg('hello');"
                        "external.getNewMsg();</script></body></html>");
    WebRef child = Make(_WEB_CHILD);
    NavigateWeb(*child, mServer.Url("/im"));
    ASSERT_TRUE(WaitReady(*child));
    WebRef top = Make(_WEB_TOPLEVEL);
    top->mTitleSuffix = u" - Vexel";
    NavigateWeb(*top, mServer.Url("/im"));
    ASSERT_TRUE(PumpUntil([&] { return mParentLog.Count(Ui::_WM_WEB_NEWMSG) == 1; }));
    // Everything the page sent came from the top-level window alone.
    EXPECT_EQ(mParentLog.Count(Ui::_WM_WEB_GSNAME), 1);
    EXPECT_EQ(Count(u"LOG: hello"), 1);
    EXPECT_EQ(Ui::GetWindowTitle(top->mWindow), u"Server 7 - Vexel");
    EXPECT_TRUE(Logged(u"webpage got new msg"));
    for (const auto& r : mParentLog.mLog)
    {
        if (r.message == Ui::_WM_WEB_GSNAME)
        {
            EXPECT_EQ(r.lParam, 1);
        }
    }
}

// `external` on other loopback origins (other ports): a sign-in host the operator's page redirects to
// gets it; a host reached by the page's own navigation gets it only once trustedOrigins names it.
TEST_F(LauncherWebWindowTest, ExternalFollowsARedirectFromATrustedPageAndTheTrustedOrigins)
{
    PortalServer login, other;
    login.Page("/login", "<html><body><script>external.consoleMsg('login ' + external.ismc());</script>"
                         "</body></html>");
    mServer.Redirect("/enter", login.Url("/login"));
    other.Page("/linked", "<html><body><script>external.consoleMsg('linked ' + location.search);</script>"
                          "</body></html>");
    const String linkedUrl = other.Url("/linked");
    const std::string linked(linkedUrl.begin(), linkedUrl.end());
    for (const char* n : {"1", "2"})
        mServer.Page(std::string("/links") + n, "<html><body><script>location.href = '" + linked + "?n=" + n +
                                                    "';</script></body></html>");

    WebRef top = Make(_WEB_TOPLEVEL);
    NavigateWeb(*top, mServer.Url("/enter"));
    EXPECT_TRUE(PumpUntil([&] { return Logged(u"LOG: login true"); }))
        << "the redirected sign-in lost `external`";

    NavigateWeb(*top, mServer.Url("/links1"));
    ASSERT_TRUE(
        PumpUntil([&] { return CurrentUrl(*top).find(u"?n=1") != String::npos && IsDocumentReady(*top); }));
    ASSERT_TRUE(Run(u"_launcher.trustedOrigins = 'http://example.test|" + other.Url("") + u"'"));
    EXPECT_EQ(mState->mTrustedOrigins.size(), 2u);
    NavigateWeb(*top, mServer.Url("/links2"));
    ASSERT_TRUE(PumpUntil([&] { return Logged(u"LOG: linked ?n=2"); }));
    // Messages of one page arrive in order: the first visit's would be here by now.
    EXPECT_EQ(Count(u"LOG: linked ?n=1"), 0);

    // An origin the server data names (here the messages page's) is trusted without being listed.
    PortalServer messages;
    messages.Page("/news", "<html><body><script>external.consoleMsg('news');</script></body></html>");
    const String newsUrl = messages.Url("/news");
    mServer.Page("/to-news", "<html><body><script>location.href = '" +
                                 std::string(newsUrl.begin(), newsUrl.end()) + "';</script></body></html>");
    mState->mImUrl = messages.Url("/im");
    NavigateWeb(*top, mServer.Url("/to-news"));
    EXPECT_TRUE(PumpUntil([&] { return Logged(u"LOG: news"); }));
}

TEST_F(LauncherWebWindowTest, NamedValuesFromThePageAndItsFrames)
{
    mServer.Page("/inner", "<html><body><param name='framed' value='2'></body></html>");
    mServer.Page("/params", "<html><body><object><param name='libmd5' value='abc'><param name='novalue'>"
                            "<param name='liburl' value='http://x/y'></object><iframe src='/inner'></iframe>"
                            "</body></html>");
    mServer.Page("/none", "<html><body><p>nothing</p></body></html>");
    WebRef web = Make(_WEB_CHILD);
    NavigateWeb(*web, mServer.Url("/params"));
    ASSERT_TRUE(WaitReady(*web));
    std::vector<Ui::NamedValue> values = ReadNamedValues(*web, u"param");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, u"libmd5");
    EXPECT_EQ(values[1].value, u"http://x/y");
    EXPECT_EQ(values[2].name, u"framed");

    int restarts = 0;
    web->mOnRestart = [&](WebWindow&) { ++restarts; };
    NavigateWeb(*web, mServer.Url("/none"));
    ASSERT_TRUE(PumpUntil([&] { return restarts == 1 && web->mReady; }));
    EXPECT_TRUE(ReadNamedValues(*web, u"param").empty());
}

TEST_F(LauncherWebWindowTest, HideOnCloseHidesAndTellsTheParent)
{
    mServer.Page("/p", "<html><body>p</body></html>");
    WebRef web = Make(_WEB_TOPLEVEL);
    web->mHideOnClose = true;
    NavigateWeb(*web, mServer.Url("/p"));
    ASSERT_TRUE(WaitReady(*web));
    ShowPage(*web);
    ASSERT_TRUE(PumpUntil([&] { return Ui::IsUiWindowVisible(web->mWindow); }));
    Ui::SendUiMessage(web->mWindow, Ui::_WM_CLOSE, 7, 0);
    EXPECT_TRUE(Ui::IsUiWindow(web->mWindow));
    EXPECT_FALSE(Ui::IsUiWindowVisible(web->mWindow));
    EXPECT_FALSE(web->mShown);
    EXPECT_EQ(mParentLog.Count(_WM_WEB_HIDDEN), 1);

    // A child asks its parent instead.
    mParentLog.mHook = [](Ui::WindowId, _dword message, Ui::WParam, Ui::LParam, Ui::LResult&)
    { return message == Ui::_WM_CLOSE; };
    WebRef child = Make(_WEB_CHILD);
    Ui::SendUiMessage(child->mWindow, Ui::_WM_CLOSE);
    EXPECT_TRUE(Ui::IsUiWindow(child->mWindow));
    EXPECT_EQ(mParentLog.Count(Ui::_WM_CLOSE), 1);
}

TEST_F(LauncherWebWindowTest, DrawnFrameAndItsCloseButton)
{
    WebRef web = Make(_WEB_TOPLEVEL);
    web->mHideOnClose = true;
    web->mCloseNormal = LoadSkinImage(u"skin/close_n.png");
    web->mCloseHover = LoadSkinImage(u"skin/close_h.png");
    ASSERT_TRUE(web->mCloseNormal);
    web->mCloseRight = 4;
    web->mCloseTop = 2;
    Ui::Rect insets;
    ASSERT_TRUE(Ui::GetFrameInsets(web->mWindow, insets));
    EXPECT_EQ(insets.top, _WEB_FIXED_FRAME + _WEB_CAPTION_HEIGHT); // no title image: the caption height
    EXPECT_EQ(insets.left, _WEB_FIXED_FRAME);
    ShowPage(*web, 1);
    Ui::ShowUiWindow(web->mWindow, Ui::_SW_SHOW);
    web->PaintFrame();
    Ui::Rect bounds;
    ASSERT_TRUE(Ui::GetWindowBounds(web->mWindow, bounds));
    const Ui::Rect& close = web->mCloseRect;
    EXPECT_EQ(close.right, bounds.Width() - _WEB_FIXED_FRAME - 4);
    EXPECT_EQ(close.top, _WEB_FIXED_FRAME + 2);
    Ui::LParam at = Ui::MakeLParam(bounds.left + (close.left + close.right) / 2,
                                   bounds.top + (close.top + close.bottom) / 2);
    EXPECT_EQ(Ui::SendUiMessage(web->mWindow, Ui::_WM_NCHITTEST, 0, at), Ui::_HTBORDER);
    // The title bar drags the window; the system's own buttons are never hit.
    Ui::LParam title = Ui::MakeLParam(bounds.left + 20, bounds.top + _WEB_FIXED_FRAME + 5);
    EXPECT_EQ(Ui::SendUiMessage(web->mWindow, Ui::_WM_NCHITTEST, 0, title), Ui::_HTCAPTION);
    Ui::SendUiMessage(web->mWindow, Ui::_WM_NCMOUSEMOVE, Ui::_HTBORDER, at);
    EXPECT_TRUE(web->mCloseHot);
    Ui::SendUiMessage(web->mWindow, Ui::_WM_NCLBUTTONUP, Ui::_HTBORDER, at);
    EXPECT_FALSE(Ui::IsUiWindowVisible(web->mWindow));
    EXPECT_EQ(mParentLog.Count(_WM_WEB_HIDDEN), 1);
}

} // namespace
} // namespace Vexel::Test
