// The client program against the demo site on a private X server, driven with synthesised input and
// checked through its trace log and the site's request log.
#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace Vexel::E2e
{
namespace
{

// The main window's size (config.lua frameW, frameH) and its page's place in it (frameWebX, frameWebY).
constexpr int _MAIN_W = 600, _MAIN_H = 400, _WEB_X = 20, _WEB_Y = 76;

class FlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDesktop.Ready()) << "no display for the end-to-end test: " << mDesktop.Problem();
        ASSERT_TRUE(mPortal.Started()) << "the demo site did not start:\n" << mPortal.Log();
    }

    void TearDown() override
    {
        if (HasFailure())
        {
            if (mClient)
                std::fprintf(stderr, "--- client trace log ---\n%s\n--- client stderr ---\n%s\n",
                             mClient->Trace().Text().c_str(), mClient->Errors().c_str());
            std::fprintf(stderr, "--- site requests ---\n%s\n", mPortal.Log().c_str());
        }
    }

    void StartClient(const std::string& extraSettings = {})
    {
        mClient = std::make_unique<Client>(mPortal, extraSettings);
        ASSERT_TRUE(mClient->Started());
    }

    bool FindMainWindow(DesktopWindow& main)
    {
        return mDesktop.WaitForWindow(
            [](const DesktopWindow& w) { return w.width == _MAIN_W && w.height == _MAIN_H; }, main);
    }

    Desktop mDesktop;
    Portal mPortal;
    std::unique_ptr<Client> mClient;
};

TEST_F(FlowTest, ClientStartsAndShowsItsMainWindow)
{
    StartClient();
    ASSERT_NE(mClient->Trace().WaitFor("[MC] Main window shown"), std::string::npos);
    DesktopWindow main;
    ASSERT_TRUE(FindMainWindow(main));
    EXPECT_TRUE(mClient->Running());
    mClient->Stop();
    EXPECT_FALSE(mClient->Running());
}

} // namespace
} // namespace Vexel::E2e
