// A launcher state with a real script manager and the launcher classes, per test.
#pragma once

#include "Binding/LauncherScript.h"
#include "Frames/FrameWindow.h"
#include "Frames/GameFrame.h"
#include "Startup/Startup.h"

#include "Common/Log.h"
#include "Common/Variable.h"
#include "Platform/Ui/Ui.h"
#include "PrivateDisplay.h"
#include "Script/IScriptManager.h"
#include "Storage/ResourceManager.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace Vexel::Test
{

inline Variable TextVar(const String& text)
{
    Variable value(u"", _VAR_TEXT);
    value.SetText(text);
    return value;
}

class LauncherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gLogTimeStamp = false;
        gLogLineEnd = false;
        mCapture = std::make_unique<LogCapture>();
        mState = std::make_unique<LauncherState>();
        SetLauncherState(mState.get());
        mManager = PrepareScripting(*mState);
    }
    void TearDown() override
    {
        if (!mState)
            return; // SetUp stopped before the state was made (no display)
        for (auto& frame : mState->mFrames)
            frame.reset();
        mState->mGameFrame.reset();
        mState->mScriptManager.reset();
        mState->mResourceManager.reset();
        SetLauncherState(nullptr);
        mState.reset();
        mCapture.reset();
        gLogTimeStamp = true;
        gLogLineEnd = true;
    }
    bool Run(const std::u16string& text)
    {
        mManager->RunString(text, u"test", _SCRIPT_RESULT_DISCARD);
        EXPECT_TRUE(mManager->GetLastError().empty()) << Narrow(mManager->GetLastError());
        return mManager->GetLastError().empty();
    }
    Variable Eval(const std::u16string& text)
    {
        return mManager->RunString(text, u"test", _SCRIPT_RESULT_VALUE);
    }
    bool Logged(std::u16string_view needle) const
    {
        return mCapture->Text().find(needle) != std::u16string::npos;
    }

    std::unique_ptr<LogCapture> mCapture;
    std::unique_ptr<LauncherState> mState;
    IScriptManager* mManager = nullptr;
};

// Window tests need a display: a private X server, or a failure with its reason under CI.
class LauncherWindowTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        VEXEL_REQUIRE_DISPLAY();
        LauncherTest::SetUp();
    }
};

} // namespace Vexel::Test
