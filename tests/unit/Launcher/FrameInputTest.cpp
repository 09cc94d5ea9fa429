// Frame windows driven by synthesised mouse input through the window system: hover, press and click,
// the hand cursor, region and per-pixel-alpha hit testing.
#include "LauncherTestSupport.h"

#include "Platform/Ui/UiCanvas.h"
#include "UiTestSupport.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <fstream>

namespace Vexel::Test
{

namespace
{

struct Click
{
    int kind;
    int frame;
};

// The cursor the X server shows now, read over a connection of our own (the layer has no getter).
class CursorReader
{
public:
    CursorReader()
    {
        mLibrary = dlopen("libXfixes.so.3", RTLD_NOW | RTLD_LOCAL);
        if (mLibrary)
            mGetImage = reinterpret_cast<GetImage>(dlsym(mLibrary, "XFixesGetCursorImage"));
        if (mGetImage)
            mDisplay = XOpenDisplay(nullptr);
    }
    ~CursorReader()
    {
        if (mDisplay)
            XCloseDisplay(mDisplay);
        if (mLibrary)
            dlclose(mLibrary);
    }
    bool Usable() const { return mDisplay != nullptr; }
    // Size and pixels of the cursor image; empty when it cannot be read.
    std::vector<unsigned long> Image()
    {
        std::vector<unsigned long> out;
        XFixesCursorImage* image = mGetImage(mDisplay);
        if (!image)
            return out;
        out.push_back(image->width);
        out.push_back(image->height);
        out.insert(out.end(), image->pixels, image->pixels + image->width * image->height);
        XFree(image);
        return out;
    }

private:
    using GetImage = XFixesCursorImage* (*)(Display*);
    void* mLibrary = nullptr;
    GetImage mGetImage = nullptr;
    Display* mDisplay = nullptr;
};

} // namespace

class FrameInputTest : public LauncherWindowTest
{
protected:
    void SetUp() override
    {
        LauncherWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        mState->mButtonHandler = [this](int kind, ScriptObject*, FrameWindow& frame) {
            mClicks.push_back({kind, frame.mIndex});
        };
    }
    void TearDown() override
    {
        if (mBehind)
            Ui::DestroyUiWindow(mBehind);
        LauncherWindowTest::TearDown();
    }

    // A plain window under where the frames go, to see which clicks fall through them.
    void MakeWindowBehind()
    {
        Ui::WindowParams p;
        p.style = Ui::_WS_POPUP;
        p.x = 50;
        p.y = 50;
        p.width = 400;
        p.height = 250;
        p.handler = mBehindLog.Handler();
        mBehind = Ui::NewWindow(p);
        ASSERT_TRUE(mBehind);
        Ui::ShowUiWindow(mBehind, Ui::_SW_SHOW);
    }

    FrameWindow& MakeFrame(int index, int kind, const Ui::Canvas& background)
    {
        EXPECT_TRUE(CreateFrameWindow(*mState, index, u"frame", 100, 100, background.Width(),
                                      background.Height(), kind));
        FrameWindow& frame = *mState->mFrames[index];
        frame.mBackground = ImageRef(Ui::UiImage::FromCanvas(background).release());
        Ui::ShowUiWindow(frame.mWindow, Ui::_SW_SHOW);
        frame.Repaint();
        EXPECT_TRUE(PumpUntilMapped(frame.mWindow));
        return frame;
    }

    static Ui::Point OnScreen(const FrameWindow& frame, int x, int y)
    {
        Ui::Point p{x, y};
        Ui::ClientToScreenPoint(frame.mWindow, p);
        return p;
    }
    static void MoveTo(Ui::Point screen) { Ui::InjectMouseMove(screen.x, screen.y); }
    static void ClickAt(Ui::Point screen) { ASSERT_TRUE(::Vexel::Test::ClickAt(screen.x, screen.y)); }

    std::vector<Click> mClicks;
    Recorder mBehindLog;
    Ui::WindowId mBehind = 0;
};

TEST_F(FrameInputTest, PointerHoversPressesAndClicksAButtonAndTheScreenFollows)
{
    Ui::Canvas background(200, 100);
    background.Clear(0xFF204060);
    FrameWindow& frame = MakeFrame(1, 1, background);
    frame.AddButton(_BUTTON_USER, nullptr, 20, 20, 40, 30, u"skin/close_n.png", u"skin/close_h.png",
                    u"skin/close_p.png", false);
    ASSERT_TRUE(frame.mButtons[0].mImages[0] && frame.mButtons[0].mImages[1] && frame.mButtons[0].mImages[2]);
    const SkinButton& button = frame.mButtons[0];
    // The button's pixels as the screen shows them; empty until the window can be read.
    auto shown = [&]
    {
        std::vector<_dword> pixels;
        Ui::Canvas shot;
        if (Ui::CaptureWindowPixels(frame.mWindow, shot))
            for (int y = button.mRect.top; y < button.mRect.bottom; ++y)
                for (int x = button.mRect.left; x < button.mRect.right; ++x)
                    pixels.push_back(shot.GetPixel(x, y));
        return pixels;
    };
    auto composed = [&]
    {
        std::vector<_dword> pixels;
        Ui::Canvas canvas(200, 100);
        frame.Compose(canvas);
        for (int y = button.mRect.top; y < button.mRect.bottom; ++y)
            for (int x = button.mRect.left; x < button.mRect.right; ++x)
                pixels.push_back(canvas.GetPixel(x, y));
        return pixels;
    };
    MoveTo(OnScreen(frame, 150, 70));
    ASSERT_TRUE(PumpUntil([&] { return shown() == composed(); }));
    std::vector<_dword> normal = shown();

    MoveTo(OnScreen(frame, 40, 35));
    ASSERT_TRUE(PumpUntil([&] { return button.mState == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return shown() == composed(); }));
    std::vector<_dword> hover = shown();
    EXPECT_NE(hover, normal);

    Ui::InjectMouseButton(1, true);
    ASSERT_TRUE(PumpUntil([&] { return button.mState == 2; }));
    ASSERT_TRUE(PumpUntil([&] { return shown() == composed(); }));
    EXPECT_NE(shown(), hover);
    EXPECT_TRUE(mClicks.empty()); // a click happens on release
    Ui::InjectMouseButton(1, false);
    ASSERT_TRUE(PumpUntil([&] { return !mClicks.empty(); }));
    EXPECT_EQ(button.mState, 1);
    EXPECT_EQ(mClicks[0].kind, _BUTTON_USER);
    EXPECT_EQ(mClicks[0].frame, 1);

    // Off the button, over the background: back to normal, on the screen too.
    MoveTo(OnScreen(frame, 150, 70));
    ASSERT_TRUE(PumpUntil([&] { return button.mState == 0; }));
    ASSERT_TRUE(PumpUntil([&] { return shown() == normal; }));
    EXPECT_EQ(mClicks.size(), 1u);
}

TEST_F(FrameInputTest, HandCursorOnlyOverButtonsMadeWithTheHandFlag)
{
    CursorReader cursor;
    ASSERT_TRUE(cursor.Usable()) << "the cursor image cannot be read: libXfixes.so.3 (libxfixes3) is missing "
                                    "or the display cannot be opened";
    Ui::Canvas background(240, 100);
    background.Clear(0xFF204060);
    ASSERT_TRUE(Run(u"_launcher:newFrameWin(1, 'frame', 100, 100, 240, 100, 1)\n"
                    u"_launcher:addCloseButton(10, 10, 40, 30, '', '', '', 1)\n"
                    u"_launcher:addUserButton(70, 10, 40, 30, '', '', '', 3, 1)\n"
                    u"_launcher:addUserButton(130, 10, 40, 30, '', '', '', 0, 1)\n"));
    FrameWindow& frame = *mState->mFrames[1];
    ASSERT_EQ(frame.mButtons.size(), 3u);
    frame.mBackground = ImageRef(Ui::UiImage::FromCanvas(background).release());
    Ui::ShowUiWindow(frame.mWindow, Ui::_SW_SHOW);
    frame.Repaint();
    ASSERT_TRUE(PumpUntilMapped(frame.mWindow));

    // Once the motion has been handled the frame has chosen its cursor.
    Ui::Point plain = OnScreen(frame, 200, 80);
    ASSERT_TRUE(::Vexel::Test::MovePointerTo(plain.x, plain.y));
    ASSERT_TRUE(PumpPending());
    std::vector<unsigned long> arrow = cursor.Image();
    ASSERT_FALSE(arrow.empty());

    MoveTo(OnScreen(frame, 90, 25)); // the user button with a non-zero value
    ASSERT_TRUE(PumpUntil([&] { return frame.mButtons[1].mState == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return cursor.Image() != arrow; }));
    std::vector<unsigned long> hand = cursor.Image();

    MoveTo(OnScreen(frame, 30, 25)); // the close button stays an arrow
    ASSERT_TRUE(PumpUntil([&] { return frame.mButtons[0].mState == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return cursor.Image() == arrow; }));

    MoveTo(OnScreen(frame, 90, 25));
    ASSERT_TRUE(PumpUntil([&] { return cursor.Image() == hand; }));
    MoveTo(OnScreen(frame, 150, 25)); // a user button made with value 0
    ASSERT_TRUE(PumpUntil([&] { return frame.mButtons[2].mState == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return cursor.Image() == arrow; }));
}

TEST_F(FrameInputTest, TransparentBackgroundPixelsLetClicksThroughTheFrame)
{
    MakeWindowBehind();
    Ui::Canvas background(200, 100);
    background.SetRect({0, 0, 100, 100}, 0xFF00AA00); // left half opaque, right half transparent
    FrameWindow& frame = MakeFrame(1, 0, background);
    frame.AddButton(_BUTTON_USER, nullptr, 20, 20, 40, 30, u"", u"", u"", false);
    frame.AddButton(_BUTTON_USER, nullptr, 130, 20, 40, 30, u"", u"", u"", false); // nothing drawn there
    ASSERT_TRUE(PumpPending());

    ClickAt(OnScreen(frame, 150, 35));
    ASSERT_TRUE(PumpUntil([&] { return mBehindLog.Count(Ui::_WM_LBUTTONUP) >= 1; }));
    EXPECT_TRUE(mClicks.empty());
    EXPECT_EQ(frame.mButtons[1].mState, 0);

    ClickAt(OnScreen(frame, 40, 35));
    ASSERT_TRUE(PumpUntil([&] { return mClicks.size() == 1; }));
    EXPECT_EQ(mBehindLog.Count(Ui::_WM_LBUTTONDOWN), 1);
}

TEST_F(FrameInputTest, RegionFromTheScriptDecidesWhereTheFrameTakesClicks)
{
    MakeWindowBehind();
    Ui::Canvas background(200, 100);
    background.Clear(0xFF00AA00);
    background.SetRect({40, 60, 80, 90}, 0); // a transparent spot inside the region
    FrameWindow& frame = MakeFrame(1, 0, background);
    frame.AddButton(_BUTTON_USER, nullptr, 20, 10, 40, 30, u"", u"", u"", false);
    frame.AddButton(_BUTTON_USER, nullptr, 140, 10, 40, 30, u"", u"", u"", false);
    frame.AddButton(_BUTTON_CLOSE, nullptr, 45, 65, 30, 20, u"", u"", u"", false);
    TempDir dir;
    std::vector<_byte> block = RegionBlock({{0, 0, 100, 100}}); // the left half
    std::ofstream(dir / "region.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    ASSERT_TRUE(Run(u"_launcher:setupRegion('" + dir.Wide("region.dat") + u"', 1)"));
    EXPECT_EQ(frame.mKind, 1);
    ASSERT_TRUE(PumpPending());

    ClickAt(OnScreen(frame, 160, 25)); // a button outside the region never hears of it
    ASSERT_TRUE(PumpUntil([&] { return mBehindLog.Count(Ui::_WM_LBUTTONUP) >= 1; }));
    EXPECT_TRUE(mClicks.empty());

    ClickAt(OnScreen(frame, 40, 25));
    ASSERT_TRUE(PumpUntil([&] { return mClicks.size() == 1; }));

    // Inside its region the frame is painted whole: the background's transparency no longer shapes it.
    ClickAt(OnScreen(frame, 60, 75));
    ASSERT_TRUE(PumpUntil([&] { return mClicks.size() == 2; }));
    EXPECT_EQ(mClicks[1].kind, _BUTTON_CLOSE);
    EXPECT_EQ(mBehindLog.Count(Ui::_WM_LBUTTONDOWN), 1);
}

} // namespace Vexel::Test
