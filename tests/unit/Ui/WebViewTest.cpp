// The web view against HTTP servers on the loopback address: the order of the browser messages, a second
// navigation, `external` calls arriving as messages (and refused from a foreign frame), named values
// from a page and its frame, visit errors, and cookies set by the server read back from the store.
#include "Platform/Ui/WebView.h"
#include "Platform/Ui/Ui.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <deque>
#include <filesystem>
#include <memory>

namespace Vexel::Ui
{
namespace
{
using Test::PumpPending;
using Test::PumpUntil;
using Test::Recorder;
using Test::TestServer;

// The program's store lives for the whole test process.
const String& StoreFolder()
{
    static ::Vexel::Test::TempDir folder;
    static String wide = folder.Wide();
    return wide;
}

class UiWebViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VEXEL_REQUIRE_DISPLAY();
        ASSERT_TRUE(InitWebViews(StoreFolder()));
        WindowParams p;
        p.style = _WS_POPUP | _WS_VISIBLE;
        p.x = 50;
        p.y = 50;
        p.width = 500;
        p.height = 400;
        p.handler = mRecorder.Handler();
        mRecorder.mHook = [this](WindowId, _dword m, WParam wp, LParam lp, LResult&)
        {
            if (m == _WM_WEB_GSNAME || m == _WM_WEB_CONSOLEMSG)
                mTexts.push_back(reinterpret_cast<const char16_t*>(wp));
            if (m == _WM_WEB_BEFORENAVIGATE || m == _WM_WEB_NAVIGATECOMPLETE ||
                m == _WM_WEB_DOCUMENTCOMPLETE || m == _WM_WEB_NAVIGATEERROR || m == _WM_WEB_SCRIPTSTART)
                mAddresses.push_back(reinterpret_cast<const char16_t*>(wp));
            return false;
        };
        mWindow = NewWindow(p);
        ASSERT_NE(mWindow, 0u);
        ASSERT_TRUE(NewWebView(mWindow));
    }
    void TearDown() override
    {
        if (mWindow)
            DestroyUiWindow(mWindow);
    }

    bool LoadAndWait(const String& url)
    {
        int done = mRecorder.Count(_WM_WEB_DOCUMENTCOMPLETE) + mRecorder.Count(_WM_WEB_NAVIGATEERROR);
        if (WebNavigate(mWindow, url) != 0)
            return false;
        return PumpUntil(
            [&] {
                return mRecorder.Count(_WM_WEB_DOCUMENTCOMPLETE) + mRecorder.Count(_WM_WEB_NAVIGATEERROR) >
                       done;
            });
    }

    std::vector<_dword> BrowserEvents() const
    {
        return mRecorder.Filtered({_WM_WEB_BEFORENAVIGATE, _WM_WEB_NAVIGATECOMPLETE, _WM_WEB_DOCUMENTCOMPLETE,
                                   _WM_WEB_NAVIGATEERROR, _WM_WEB_SCRIPTSTART});
    }

    Recorder mRecorder;
    std::vector<String> mTexts;
    std::vector<String> mAddresses;
    WindowId mWindow = 0;
    TestServer mServer{TestServer::Connections::OnePerRequest};
};

int IndexOf(const std::vector<_dword>& list, _dword value, int from = 0)
{
    for (int i = from; i < static_cast<int>(list.size()); ++i)
        if (list[i] == value)
            return i;
    return -1;
}

TEST_F(UiWebViewTest, EventsOfAPageComeInOrderAndASecondNavigationRepeatsThem)
{
    mServer.AddPage("/one", "<html><body><p>one</p><script>var x = 1;</script></body></html>");
    mServer.AddPage("/two", "<html><body><p>two</p></body></html>");
    EXPECT_EQ(WebReadyState(mWindow), 0);
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/one")));
    ASSERT_TRUE(PumpPending());
    std::vector<_dword> events = BrowserEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], _WM_WEB_BEFORENAVIGATE);
    EXPECT_EQ(events[1], _WM_WEB_NAVIGATECOMPLETE);
    EXPECT_LT(IndexOf(events, _WM_WEB_SCRIPTSTART), IndexOf(events, _WM_WEB_DOCUMENTCOMPLETE));
    EXPECT_EQ(events[3], _WM_WEB_DOCUMENTCOMPLETE);
    EXPECT_EQ(mAddresses.back(), mServer.WideUrl("/one"));
    EXPECT_EQ(WebReadyState(mWindow), 4);
    EXPECT_TRUE(WebIsDocumentReady(mWindow));
    EXPECT_EQ(WebCurrentUrl(mWindow), mServer.WideUrl("/one"));

    mRecorder.mLog.clear();
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/two")));
    ASSERT_TRUE(PumpPending());
    events = BrowserEvents();
    EXPECT_EQ(events.front(), _WM_WEB_BEFORENAVIGATE);
    EXPECT_EQ(events.back(), _WM_WEB_DOCUMENTCOMPLETE);
    EXPECT_EQ(mRecorder.Count(_WM_WEB_BEFORENAVIGATE), 1);
    EXPECT_EQ(mRecorder.Count(_WM_WEB_SCRIPTSTART), 1);
    EXPECT_EQ(WebCurrentUrl(mWindow), mServer.WideUrl("/two"));

    mRecorder.mLog.clear();
    ASSERT_TRUE(WebRefresh(mWindow));
    ASSERT_TRUE(PumpUntil([&] { return mRecorder.Count(_WM_WEB_DOCUMENTCOMPLETE) == 1; }));
    EXPECT_EQ(mRecorder.Count(_WM_WEB_BEFORENAVIGATE), 1);
}

TEST_F(UiWebViewTest, VisitErrorsAreReportedWithTheirStatus)
{
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/nothing-here")));
    ASSERT_NE(mRecorder.Last(_WM_WEB_NAVIGATEERROR), nullptr);
    EXPECT_EQ(mRecorder.Last(_WM_WEB_NAVIGATEERROR)->lParam, 404);
    // The server's own error page still loads.
    ASSERT_TRUE(PumpUntil([&] { return mRecorder.Count(_WM_WEB_DOCUMENTCOMPLETE) == 1; }));

    // A port nobody listens on: the connection fails, no document completes.
    int closedPort = 0;
    {
        TestServer gone;
        closedPort = gone.Port();
    }
    mRecorder.mLog.clear();
    std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
    ASSERT_TRUE(LoadAndWait(String(url.begin(), url.end())));
    ASSERT_TRUE(PumpPending());
    EXPECT_EQ(mRecorder.Count(_WM_WEB_NAVIGATEERROR), 1);
    EXPECT_EQ(mRecorder.Last(_WM_WEB_NAVIGATEERROR)->lParam, 0);
    EXPECT_EQ(mRecorder.Count(_WM_WEB_DOCUMENTCOMPLETE), 0);
    EXPECT_FALSE(WebIsDocumentReady(mWindow));

    EXPECT_EQ(WebNavigate(mWindow, u"not a url"), -5);
    EXPECT_EQ(WebNavigate(0x7FFFFFF0u, mServer.WideUrl("/")), -1);
}

TEST_F(UiWebViewTest, ExternalCallsArriveAsMessages)
{
    mServer.AddPage("/ext", "<html><body><script>"
                            "var ok = external.ismc() === true;"
                            "external.getNewMsg();"
                            "external.getGsName('Server \\u4e00');"
                            "try { external.getGsName(); } catch (e) { external.consoleMsg('threw'); }"
                            "external.consoleMsg(ok ? 'ismc' : 'no ismc');"
                            "</script></body></html>");
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/ext")));
    ASSERT_TRUE(PumpUntil([&] { return mRecorder.Count(_WM_WEB_CONSOLEMSG) >= 2; }));
    EXPECT_EQ(mRecorder.Count(_WM_WEB_NEWMSG), 1);
    EXPECT_EQ(mRecorder.Count(_WM_WEB_GSNAME), 1);
    EXPECT_EQ(mRecorder.Last(_WM_WEB_GSNAME)->lParam, 1);
    ASSERT_EQ(mTexts.size(), 3u);
    EXPECT_EQ(mTexts[0], String(u"Server \u4e00"));
    EXPECT_EQ(mTexts[1], String(u"threw")); // a missing argument fails and sends nothing
    EXPECT_EQ(mTexts[2], String(u"ismc"));
    // Order of the calls is kept.
    EXPECT_EQ(mRecorder.Filtered({_WM_WEB_NEWMSG, _WM_WEB_GSNAME, _WM_WEB_CONSOLEMSG}),
              (std::vector<_dword>{_WM_WEB_NEWMSG, _WM_WEB_GSNAME, _WM_WEB_CONSOLEMSG, _WM_WEB_CONSOLEMSG}));
}

TEST_F(UiWebViewTest, AForeignFrameCannotDriveTheProgram)
{
    TestServer foreign{TestServer::Connections::OnePerRequest};
    foreign.AddPage(
        "/ad",
        "<html><body><script>"
        "try { external.getGsName('evil'); } catch (e) {}"
        "try { window.webkit.messageHandlers.vexel.postMessage('g\\n" +
            mServer.Url("") +
            "\\nforged'); } catch (e) {}"
            "try { document.dispatchEvent(new CustomEvent('vexel-external-call', {detail: 'g\\nspoofed'})); }"
            "catch (e) {}"
            "</script></body></html>");
    std::string adUrl = foreign.Url("") + "/ad";
    mServer.AddPage("/host", "<html><body><iframe src='" + adUrl +
                                 "' onload=\"external.consoleMsg('frame loaded')\"></iframe></body></html>");
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/host")));
    // The frame's calls were made before its load event, whose call comes through the same channel.
    ASSERT_TRUE(PumpUntil([&] { return mRecorder.Count(_WM_WEB_CONSOLEMSG) >= 1; }));
    EXPECT_EQ(mRecorder.Count(_WM_WEB_GSNAME), 0);
    ASSERT_EQ(mTexts.size(), 1u);
    EXPECT_EQ(mTexts[0], String(u"frame loaded"));

    // Once the program allows that origin, its documents may call.
    ASSERT_TRUE(WebAllowOrigin(mWindow, foreign.WideUrl("/")));
    mRecorder.mLog.clear();
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/host")));
    ASSERT_TRUE(PumpUntil([&] { return mRecorder.Count(_WM_WEB_GSNAME) >= 2; }));
    EXPECT_EQ(mTexts[1], String(u"evil"));
}

TEST_F(UiWebViewTest, NamedValuesComeFromThePageAndItsFrames)
{
    mServer.AddPage(
        "/game", "<html><body>"
                 "<object><param name='loader' value='http://cdn/loader.lod'><param name='size' value='1234'>"
                 "<param name='novalue'><param value='noname'></object>"
                 "<iframe src='/inner'></iframe>"
                 "<param name='long' value='" +
                     std::string(9000, 'x') +
                     "'>"
                     "</body></html>");
    mServer.AddPage("/inner", "<html><body><param name='framed' value='\xe5\x80\xbc'></body></html>");
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/game")));
    std::vector<NamedValue> values = WebReadNamedValues(mWindow, u"param");
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].name, String(u"loader"));
    EXPECT_EQ(values[0].value, String(u"http://cdn/loader.lod"));
    EXPECT_EQ(values[1].name, String(u"size"));
    EXPECT_EQ(values[1].value, String(u"1234"));
    EXPECT_EQ(values[2].name, String(u"long"));
    EXPECT_EQ(values[2].value.size(), 8192u);
    EXPECT_EQ(values[3].name, String(u"framed"));
    EXPECT_EQ(values[3].value, String(u"\u503c"));

    EXPECT_TRUE(WebReadNamedValues(mWindow, u"nosuchtag").empty());
    EXPECT_TRUE(WebReadNamedValues(0x7FFFFFF0u, u"param").empty());
}

TEST_F(UiWebViewTest, CookiesSetByTheServerAreReadBackAndKept)
{
    mServer.AddHandler("/login",
                       [](const httplib::Request&, httplib::Response& res)
                       {
                           res.set_header("Set-Cookie", "session=abc123; Path=/");
                           res.set_content("<html><body>in</body></html>", "text/html");
                       });
    mServer.AddHandler("/more",
                       [](const httplib::Request&, httplib::Response& res)
                       {
                           res.set_header("Set-Cookie", "token=t0k; Path=/; HttpOnly");
                           res.set_content("<html><body>more</body></html>", "text/html");
                       });
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/login")));
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/more")));
    String cookies = WebGetCookies(mServer.WideUrl("/"));
    EXPECT_NE(cookies.find(u"session=abc123"), String::npos) << ::Vexel::Test::Narrow(cookies);
    EXPECT_NE(cookies.find(u"token=t0k"), String::npos) << ::Vexel::Test::Narrow(cookies);
    EXPECT_NE(cookies.find(u"; "), String::npos);
    EXPECT_TRUE(WebGetCookies(u"http://127.0.0.2:1/").empty());

    // The store is a file in the program's folder.
    std::filesystem::path store =
        std::filesystem::path(::Vexel::Test::Narrow(StoreFolder())) / "cookies.sqlite";
    EXPECT_TRUE(PumpUntil([&] { return std::filesystem::exists(store); }));
}

TEST_F(UiWebViewTest, BackspaceAndArrowsActOnlyInsideEditableFields)
{
    mServer.AddPage(
        "/keys",
        "<html><body style='width:5000px'><input id='f' value='abc'><script>"
        "var f = document.getElementById('f');"
        "f.addEventListener('focus', function () { external.consoleMsg('in field'); });"
        "f.addEventListener('blur', function () { external.consoleMsg('left field'); });"
        "f.addEventListener('input', function () { external.consoleMsg('value ' + f.value); });"
        "document.addEventListener('keyup', function (e) {"
        "  if (e.key === 'ArrowRight') setTimeout(function () { external.consoleMsg('x ' + window.scrollX); "
        "}, 300);"
        "});"
        "</script></body></html>");
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/keys")));
    ShowUiWindow(mWindow, _SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == mWindow; }));
    SetFocusUiWindow(mWindow);
    ASSERT_TRUE(PumpUntil([&] { return GetFocusUiWindow() == mWindow; }));

    // Inside the field: Backspace edits.
    Rect bounds;
    GetWindowBounds(mWindow, bounds);
    ASSERT_TRUE(::Vexel::Test::ClickAt(bounds.left + 60, bounds.top + 18));
    ASSERT_TRUE(PumpUntil([&] { return !mTexts.empty(); }));
    EXPECT_EQ(mTexts[0], String(u"in field"));
    InjectKey(_VK_END, true);
    InjectKey(_VK_END, false);
    InjectKey(_VK_BACK, true);
    InjectKey(_VK_BACK, false);
    ASSERT_TRUE(PumpUntil([&] { return mTexts.size() >= 2; }));
    EXPECT_EQ(mTexts[1], String(u"value ab"));

    // Outside it: Right does not scroll the page.
    ASSERT_TRUE(::Vexel::Test::ClickAt(bounds.left + 300, bounds.top + 300));
    ASSERT_TRUE(PumpUntil([&] { return mTexts.size() >= 3; }));
    EXPECT_EQ(mTexts[2], String(u"left field"));
    InjectKey(_VK_RIGHT, true);
    InjectKey(_VK_RIGHT, false);
    ASSERT_TRUE(PumpUntil([&] { return mTexts.size() >= 4; }));
    EXPECT_EQ(mTexts[3], String(u"x 0"));
}

TEST_F(UiWebViewTest, OptionsAndDestruction)
{
    for (char16_t letter : {u's', u'a', u'm', u'c'})
    {
        EXPECT_TRUE(WebGetOption(mWindow, letter));
        EXPECT_TRUE(WebSetOption(mWindow, letter, false));
        EXPECT_FALSE(WebGetOption(mWindow, letter));
    }
    EXPECT_FALSE(WebSetOption(mWindow, u'x', true));
    // With page messages off an alert does not block the page.
    mServer.AddPage("/alert", "<html><body><script>alert('hi'); "
                              "external.consoleMsg(String(confirm('sure?')));</script></body></html>");
    ASSERT_TRUE(LoadAndWait(mServer.WideUrl("/alert")));
    ASSERT_TRUE(PumpUntil([&] { return !mTexts.empty(); }));
    EXPECT_EQ(mTexts[0], String(u"false"));

    EXPECT_FALSE(NewWebView(mWindow)); // one per window
    EXPECT_TRUE(DestroyWebView(mWindow));
    EXPECT_FALSE(HasWebView(mWindow));
    EXPECT_EQ(WebNavigate(mWindow, mServer.WideUrl("/alert")), -1);
    EXPECT_TRUE(NewWebView(mWindow));
}

} // namespace
} // namespace Vexel::Ui
