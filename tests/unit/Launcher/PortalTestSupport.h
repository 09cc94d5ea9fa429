// Launcher tests with real web windows: a loopback server for the operator's pages, the web store in a
// temporary folder, a clock the test moves by hand, and helpers for the pass-ending quit message.
#pragma once

#include "LauncherTestSupport.h"

#include "Flow/Commands.h"
#include "Flow/MainLoop.h"
#include "Frames/WebWindow.h"
#include "Platform/Folders.h"
#include "Platform/Ui/WebView.h"
#include "TestServer.h"
#include "UiTestSupport.h"

namespace Vexel::Test
{

// The operator's pages and redirects on the suite's loopback server.
class PortalServer
{
public:
    void Page(const std::string& path, const std::string& body) { mServer.AddPage(path, body); }
    // A 302 to location.
    void Redirect(const std::string& path, const String& location)
    {
        mServer.AddRedirect(path, std::string(location.begin(), location.end()));
    }
    String Url(const std::string& path) const { return mServer.WideUrl(path); }
    TestServer& Server() { return mServer; }

private:
    TestServer mServer{TestServer::Connections::OnePerRequest};
};

// The web store lives for the whole test process.
inline const String& WebStore()
{
    static TempDir folder;
    static String wide = folder.Wide();
    return wide;
}

class PortalTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        UsePrivateDisplay();
        ASSERT_TRUE(Ui::InitUi()) << "no display";
        // The store is the program's for good: whichever test made the first web view (here, a start-up
        // test, or a window test without a store) fixed it, and every test works in any store.
        Ui::InitWebViews(WebStore());
        LauncherTest::SetUp();
        mFolder = GetCurrentFolder();
        SetLoopClock({[this] { return mNow; },
                      [this](_dword ms)
                      {
                          mSleeps.push_back(ms);
                          Ui::WaitUiMessage(5);
                      }});
        Drain();
    }
    void TearDown() override
    {
        SetLoopClock({});
        mState->mPages.clear();
        mState->mLoginPage.reset();
        mState->mGamePage.reset();
        ClosePopups(*mState);
        LauncherTest::TearDown();
        Drain();
        SetCurrentFolder(mFolder);
    }

    // Takes every waiting message; true when a quit (the end of a pass) was among them.
    bool Drain()
    {
        bool quit = false;
        Ui::Message m;
        while (Ui::PeekUiMessage(m, true))
        {
            if (m.message == Ui::_WM_QUIT)
                quit = true;
            else
                Ui::DispatchUiMessage(m);
        }
        return quit;
    }

    // A main window (slot 0) with a web window of the kind registered as the main page.
    WebRef AddMainPage(const String& url, int kind = _WEB_CHILD)
    {
        if (!mState->mFrames[_FRAME_MAIN])
        {
            EXPECT_TRUE(CreateFrameWindow(*mState, _FRAME_MAIN, u"main", 40, 40, 640, 480, 1));
        }
        FrameWindow& main = *mState->mFrames[_FRAME_MAIN];
        main.mWebRect = {10, 10, 600, 400};
        Ui::ShowUiWindow(main.mWindow, Ui::_SW_SHOW);
        PageEntry page;
        page.mId = -1;
        page.mSlot = _FRAME_MAIN;
        page.mUrl = url;
        page.mKind = static_cast<_dword>(kind);
        page.mShowOnLoad = true;
        mState->mPages.push_back(page);
        AddPageWindow(*mState, mState->mPages.back());
        return mState->mPages.back().mWeb;
    }

    static bool WaitReady(const WebWindow& web)
    {
        return PumpUntil([&] { return web.mReady; });
    }

    int Count(std::u16string_view needle) const
    {
        std::u16string text = mCapture->Text();
        int count = 0;
        for (std::size_t at = text.find(needle); at != std::u16string::npos; at = text.find(needle, at + 1))
            ++count;
        return count;
    }

    PortalServer mServer;
    _dword mNow = 1000;
    std::vector<_dword> mSleeps;
    String mFolder;
};

} // namespace Vexel::Test
