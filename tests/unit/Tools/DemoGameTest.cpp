// The demo game module as the client loads it: the signed vexel3d.lod opened with the platform's module
// loader, driven through its seven exports, drawing into a window of a private X server.
#include "Platform/Module.h"
#include "PrivateDisplay.h"
#include "TestSupport.h"
#include "Vexel/LoaderModule.h"

#include <gtest/gtest.h>

#if defined(VEXEL_DEMO_GAME_DIR)
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <dlfcn.h>
#include <vector>

using namespace Vexel;

namespace
{

constexpr int _WIDTH = 320;
constexpr int _HEIGHT = 240;
constexpr unsigned long _SHIP = 0xFF40A0;

struct Snapshot
{
    std::vector<unsigned long> pixels;
    unsigned long At(int x, int y) const { return pixels[static_cast<std::size_t>(y * _WIDTH + x)]; }
};

struct Centre
{
    double x = -1, y = -1;
    int count = 0;
};

class DemoGame : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // In the client these libraries are loaded for good (the window system uses them); here they
        // would leave with the module and their caches would read as leaks.
        for (const char* library : {"libcairo.so.2", "libfontconfig.so.1", "libfreetype.so.6"})
            dlopen(library, RTLD_NOW | RTLD_NODELETE);
        Vexel::Test::UsePrivateDisplay();
        // Held for the whole suite: the private server ends when its last client leaves.
        sDisplay = XOpenDisplay(nullptr);
    }
    static void TearDownTestSuite()
    {
        if (sDisplay)
            XCloseDisplay(sDisplay);
        sDisplay = nullptr;
    }

    void SetUp() override
    {
        mDisplay = sDisplay;
        ASSERT_NE(mDisplay, nullptr) << "no X display (Xvfb missing?)";
        int screen = DefaultScreen(mDisplay);
        mWindow = XCreateSimpleWindow(mDisplay, RootWindow(mDisplay, screen), 0, 0, _WIDTH, _HEIGHT, 0, 0,
                                      BlackPixel(mDisplay, screen));
        XSelectInput(mDisplay, mWindow, StructureNotifyMask);
        XMapWindow(mDisplay, mWindow);
        XEvent event;
        do
            XWindowEvent(mDisplay, mWindow, StructureNotifyMask, &event);
        while (event.type != MapNotify);

        ASSERT_TRUE(mModule.LoadModule(String(std::u16string_view(u"" VEXEL_DEMO_GAME_DIR "/vexel3d.lod"))));
        mCreate = reinterpret_cast<VexelCreateFunc>(mModule.GetModuleProc(VEXEL_EXPORT_CREATE));
        mDelete = reinterpret_cast<VexelDeleteFunc>(mModule.GetModuleProc(VEXEL_EXPORT_DELETE));
        mSetup = reinterpret_cast<VexelSetupFunc>(mModule.GetModuleProc(VEXEL_EXPORT_SETUP));
        mUpdate = reinterpret_cast<VexelUpdateFunc>(mModule.GetModuleProc(VEXEL_EXPORT_UPDATE));
        mRender = reinterpret_cast<VexelRenderFunc>(mModule.GetModuleProc(VEXEL_EXPORT_RENDER));
        mMessage = reinterpret_cast<VexelMessageFunc>(mModule.GetModuleProc(VEXEL_EXPORT_MESSAGE));
        ASSERT_TRUE(mCreate && mDelete && mSetup && mUpdate && mRender && mMessage);
        EXPECT_NE(mModule.GetModuleProc(VEXEL_EXPORT_PROGRESS), nullptr);
        ASSERT_NE(mCreate(Id(), u"", u"", u"", 1), 0);
        mCreated = true;
    }

    void TearDown() override
    {
        if (mCreated)
            mDelete(Id());
        mModule.UnloadModule();
        if (mDisplay && mWindow)
            XDestroyWindow(mDisplay, mWindow);
    }

    uint32_t Id() const { return static_cast<uint32_t>(mWindow); }

    // Frames of 17 ms, as a client running at about 60 frames a second calls them.
    void Frames(int count)
    {
        for (int i = 0; i < count; ++i)
            if (mUpdate(Id(), 17))
                mRender(Id());
    }

    Snapshot Take()
    {
        XImage* image = XGetImage(mDisplay, mWindow, 0, 0, _WIDTH, _HEIGHT, AllPlanes, ZPixmap);
        EXPECT_NE(image, nullptr);
        Snapshot shot;
        if (!image)
            return shot;
        EXPECT_EQ(image->red_mask, 0xFF0000ul);
        EXPECT_EQ(image->green_mask, 0x00FF00ul);
        EXPECT_EQ(image->blue_mask, 0x0000FFul);
        for (int y = 0; y < _HEIGHT; ++y)
            for (int x = 0; x < _WIDTH; ++x)
                shot.pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return shot;
    }

    static Centre Ship(const Snapshot& shot)
    {
        Centre centre;
        double sx = 0, sy = 0;
        for (int y = 0; y < _HEIGHT; ++y)
            for (int x = 0; x < _WIDTH; ++x)
                if (shot.At(x, y) == _SHIP)
                    sx += x, sy += y, ++centre.count;
        if (centre.count)
            centre.x = sx / centre.count, centre.y = sy / centre.count;
        return centre;
    }

    void Send(uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        mMessage(Id(), message, wParam, lParam);
    }

    static Display* sDisplay;
    Display* mDisplay = nullptr;
    Window mWindow = 0;
    Module mModule;
    bool mCreated = false;
    VexelCreateFunc mCreate = nullptr;
    VexelDeleteFunc mDelete = nullptr;
    VexelSetupFunc mSetup = nullptr;
    VexelUpdateFunc mUpdate = nullptr;
    VexelRenderFunc mRender = nullptr;
    VexelMessageFunc mMessage = nullptr;
};

Display* DemoGame::sDisplay = nullptr;

} // namespace

TEST_F(DemoGame, RendersAnAnimatedSceneAtASteadyRate)
{
    mSetup(u"foaparam", u"pluginver|0x00010004");
    std::u16string odd(600, u'\u00e9');
    odd += u"\xD800 unpaired \xDC00 end";
    mSetup(u"paramlong", odd.c_str());

    // Frames come from game time, not from calls: 8 ms is not a frame yet, 8 + 9 is.
    EXPECT_EQ(mUpdate(Id(), 0), 0);
    EXPECT_EQ(mUpdate(Id(), 8), 0);
    ASSERT_NE(mUpdate(Id(), 9), 0);
    mRender(Id());
    Snapshot first = Take();
    Centre ship = Ship(first);
    EXPECT_GT(ship.count, 400);
    EXPECT_NEAR(ship.x, _WIDTH / 2.0, 2.0);

    Frames(20);
    Snapshot later = Take();
    std::size_t changed = 0;
    for (std::size_t i = 0; i < first.pixels.size(); ++i)
        changed += first.pixels[i] != later.pixels[i];
    EXPECT_GT(changed, 2000u) << "the scene does not move";
    // Nothing moved the ship.
    EXPECT_NEAR(Ship(later).x, ship.x, 0.5);
}

TEST_F(DemoGame, ArrowKeysAndTheMouseMoveTheShip)
{
    Frames(1);
    Centre start = Ship(Take());
    ASSERT_GT(start.count, 400);

    // Half a second of the left arrow at 240 pixels a second.
    Send(VEXEL_WM_KEYDOWN, VEXEL_VK_LEFT, 1);
    Frames(30);
    Send(VEXEL_WM_KEYUP, VEXEL_VK_LEFT, static_cast<intptr_t>(0xC0000001u));
    Centre moved = Ship(Take());
    EXPECT_NEAR(moved.x, start.x - 120, 4.0);
    EXPECT_NEAR(moved.y, start.y, 1.0);
    Frames(10);
    EXPECT_NEAR(Ship(Take()).x, moved.x, 0.5) << "the ship goes on after the key was released";

    // A click sends it to the point.
    Send(VEXEL_WM_LBUTTONDOWN, VEXEL_MK_LBUTTON, VEXEL_MAKE_LPARAM(250, 150));
    Send(VEXEL_WM_LBUTTONUP, 0, VEXEL_MAKE_LPARAM(250, 150));
    Frames(60);
    Centre clicked = Ship(Take());
    EXPECT_NEAR(clicked.x, 250, 2.0);
    EXPECT_NEAR(clicked.y, 150, 2.0);

    // Moving without a button held does nothing; dragging leads the ship.
    Send(VEXEL_WM_MOUSEMOVE, 0, VEXEL_MAKE_LPARAM(60, 200));
    Frames(30);
    EXPECT_NEAR(Ship(Take()).x, 250, 2.0);
    Send(VEXEL_WM_LBUTTONDOWN, VEXEL_MK_LBUTTON, VEXEL_MAKE_LPARAM(240, 150));
    Send(VEXEL_WM_MOUSEMOVE, VEXEL_MK_LBUTTON, VEXEL_MAKE_LPARAM(100, 190));
    Frames(40);
    Centre dragged = Ship(Take());
    EXPECT_NEAR(dragged.x, 100, 2.0);
    EXPECT_NEAR(dragged.y, 190, 2.0);
}

TEST_F(DemoGame, AnotherCreateOrAMissingWindowIsRefusedWithoutHarm)
{
    // One game per process.
    EXPECT_EQ(mCreate(Id(), u"", u"", u"", 1), 0);
    mDelete(Id());
    mCreated = false;
    // A window id that names no window: refused, and the process goes on.
    EXPECT_EQ(mCreate(0x7ffffff0u, u"", u"", u"", 1), 0);
    ASSERT_NE(mCreate(Id(), u"a", u"b", u"c", 0), 0);
    mCreated = true;
    Frames(2);
    EXPECT_GT(Ship(Take()).count, 400);
}

#else

TEST(DemoGame, IsBuilt)
{
    FAIL() << "the demo game was not built (needs x11, cairo and the openssl program)";
}

#endif
