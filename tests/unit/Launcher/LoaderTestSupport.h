// The loader host of a launcher state with a game window of its own, an injected clock, no sleeps, the
// demo game's test CA trusted and a support address for the refusal texts.
#pragma once

#include "LauncherTestSupport.h"

#include "Services/LoaderHost.h"

#include <string>

namespace Vexel::Test
{

class LoaderHostWindowTest : public LauncherWindowTest
{
protected:
    void SetUp() override
    {
        LauncherWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        mHost = &LoaderHostOf(*mState);
        mHost->mClock = [this] { return mNow; };
        mHost->mSleep = [](_dword) {};
        mHost->mSettings.mPolicy.supportAddress = u"help@vexel.test";
        mHost->mSettings.mCaFile = Wide(std::string(VEXEL_DEMO_GAME_DIR) + "/test-ca/root.pem");
        Ui::WindowParams p;
        p.title = u"game window";
        p.width = 320;
        p.height = 240;
        p.style = Ui::_WS_OVERLAPPED | Ui::_WS_VISIBLE;
        mWindow = Ui::NewWindow(p);
        ASSERT_NE(mWindow, 0u);
    }
    void TearDown() override
    {
        if (mHost)
            mHost->ResetLoaderHost();
        if (mWindow)
            Ui::DestroyUiWindow(mWindow);
        LauncherWindowTest::TearDown();
    }
    static String Wide(const std::string& text) { return String(text.begin(), text.end()); }

    LoaderHost* mHost = nullptr;
    Ui::WindowId mWindow = 0;
    _qword mNow = 1000;
    TempDir mData;
};

} // namespace Vexel::Test
