// Canvases shown in windows, per-pixel-alpha windows whose transparent pixels let clicks through, and
// windows shaped by a region data block.
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

namespace Vexel::Ui
{
namespace
{
using Test::PumpPending;
using Test::PumpUntil;
using Test::PumpUntilMapped;
using Test::PumpUntilPixel;
using Test::Recorder;
using Test::RegionBlock;

class UiWindowShapeTest : public ::testing::Test
{
protected:
    void SetUp() override { VEXEL_REQUIRE_DISPLAY(); }
    void TearDown() override
    {
        for (WindowId w : GetTopLevelWindows())
            DestroyUiWindow(w);
    }

    WindowId Make(Recorder& r, int x, int y, int w, int h, _dword exStyle = 0)
    {
        WindowParams p;
        p.style = _WS_POPUP;
        p.exStyle = exStyle;
        p.x = x;
        p.y = y;
        p.width = w;
        p.height = h;
        p.handler = r.Handler();
        WindowId id = NewWindow(p);
        ShowUiWindow(id, _SW_SHOW);
        return id;
    }

    // Clicks at the screen point once the window expected to take the click has been told the pointer is
    // over it (some systems learn which window is under the pointer only then).
    void Click(int x, int y, const Recorder& expected)
    {
        const int before = expected.Count(_WM_MOUSEMOVE);
        ASSERT_TRUE(::Vexel::Test::MovePointerTo(x, y));
        ASSERT_TRUE(PumpUntil([&] { return expected.Count(_WM_MOUSEMOVE) > before; }));
        InjectMouseButton(1, true);
        InjectMouseButton(1, false);
    }

    std::deque<Recorder> mRecorders;
};

TEST_F(UiWindowShapeTest, PresentedCanvasShowsInTheClientAreaAndSurvivesExposure)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 100, 100, 120, 90);
    SetFrameInsets(w, Rect{5, 20, 5, 5});
    Canvas frame(120, 90);
    frame.Clear(0xFF202020);
    ASSERT_TRUE(PresentWindowCanvas(w, frame));
    Canvas client(110, 65);
    client.Clear(0xFF3366CC);
    client.SetRect({10, 10, 20, 20}, 0xFFFF0000);
    ASSERT_TRUE(PresentCanvas(w, client));

    Canvas shot;
    ASSERT_TRUE(PumpUntilPixel(w, shot, 15 + 5, 15 + 20, 0xFFFF0000u));
    ASSERT_EQ(shot.Width(), 120);
    ASSERT_EQ(shot.Height(), 90);
    EXPECT_EQ(shot.GetPixel(2, 2), 0xFF202020u);  // frame
    EXPECT_EQ(shot.GetPixel(6, 22), 0xFF3366CCu); // client origin is below and right of the insets
    EXPECT_EQ(shot.GetPixel(15 + 5, 15 + 20), 0xFFFF0000u);
    EXPECT_EQ(shot.GetPixel(117, 87), 0xFF202020u);

    // Hidden and shown again, the window shows the same pixels without being painted anew.
    ShowUiWindow(w, _SW_HIDE);
    ASSERT_TRUE(PumpPending());
    ShowUiWindow(w, _SW_SHOWNA);
    EXPECT_TRUE(PumpUntilPixel(w, shot, 15 + 5, 15 + 20, 0xFFFF0000u));
}

TEST_F(UiWindowShapeTest, TransparentPixelsOfAnAlphaWindowLetClicksThrough)
{
    Recorder& under = mRecorders.emplace_back();
    WindowId back = Make(under, 50, 50, 300, 200);
    Recorder& layered = mRecorders.emplace_back();
    WindowId top = Make(layered, 100, 100, 200, 100, _WS_EX_LAYERED);
    Canvas canvas(200, 100);
    canvas.SetRect({0, 0, 100, 100}, 0xFF00AA00);   // left half opaque
    canvas.SetRect({100, 0, 150, 100}, 0x10FFFFFF); // faint, still solid for clicks
    ASSERT_TRUE(PresentWindowCanvas(top, canvas));
    ASSERT_TRUE(PumpUntilMapped(back));
    Canvas shot;
    ASSERT_TRUE(PumpUntilPixel(top, shot, 50, 50, 0xFF00AA00u));

    Click(150, 150, layered);
    ASSERT_TRUE(PumpUntil([&] { return layered.Count(_WM_LBUTTONUP) >= 1; }));
    EXPECT_EQ(layered.Last(_WM_LBUTTONDOWN)->lParam, MakeLParam(50, 50));
    EXPECT_EQ(under.Count(_WM_LBUTTONDOWN), 0);

    Click(230, 150, layered); // faint pixel: still the layered window's
    ASSERT_TRUE(PumpUntil([&] { return layered.Count(_WM_LBUTTONUP) >= 2; }));

    Click(280, 150, under); // transparent pixel: the click falls to the window behind
    ASSERT_TRUE(PumpUntil([&] { return under.Count(_WM_LBUTTONUP) >= 1; }));
    EXPECT_EQ(under.Last(_WM_LBUTTONDOWN)->lParam, MakeLParam(230, 100));
    EXPECT_EQ(layered.Count(_WM_LBUTTONDOWN), 2);
}

TEST_F(UiWindowShapeTest, RegionShapedWindowTakesClicksOnlyInsideItsRegion)
{
    Recorder& under = mRecorders.emplace_back();
    WindowId back = Make(under, 50, 50, 300, 200);
    Recorder& shaped = mRecorders.emplace_back();
    WindowId top = Make(shaped, 100, 100, 200, 100);
    Canvas canvas(200, 100);
    canvas.Clear(0xFFCC3300);
    PresentWindowCanvas(top, canvas);
    auto block = RegionBlock({{0, 0, 50, 50}, {150, 50, 200, 100}});
    ASSERT_TRUE(SetWindowRegionData(top, block.data(), block.size()));
    ASSERT_TRUE(PumpUntilMapped(back));
    Canvas shot;
    ASSERT_TRUE(PumpUntilPixel(top, shot, 10, 10, 0xFFCC3300u));

    Click(110, 110, shaped); // inside the first rectangle
    ASSERT_TRUE(PumpUntil([&] { return shaped.Count(_WM_LBUTTONUP) >= 1; }));
    Click(280, 180, shaped); // inside the second
    ASSERT_TRUE(PumpUntil([&] { return shaped.Count(_WM_LBUTTONUP) >= 2; }));
    Click(200, 130, under); // outside both: behind
    ASSERT_TRUE(PumpUntil([&] { return under.Count(_WM_LBUTTONUP) >= 1; }));
    EXPECT_EQ(shaped.Count(_WM_LBUTTONDOWN), 2);

    // Without a region the whole window takes clicks again.
    ASSERT_TRUE(SetWindowRegion(top, {}));
    ASSERT_TRUE(PumpUntilPixel(top, shot, 100, 30, 0xFFCC3300u)); // outside the old region
    Click(201, 131, shaped);
    ASSERT_TRUE(PumpUntil([&] { return shaped.Count(_WM_LBUTTONUP) >= 3; }));
}

TEST_F(UiWindowShapeTest, DamagedRegionBlocksAreRefused)
{
    std::vector<Rect> rects;
    auto good = RegionBlock({{1, 2, 3, 4}, {5, 5, 5, 9}});
    ASSERT_TRUE(ParseRegionData(good.data(), good.size(), rects));
    ASSERT_EQ(rects.size(), 1u); // the empty rectangle is dropped
    EXPECT_EQ(rects[0], (Rect{1, 2, 3, 4}));

    EXPECT_FALSE(ParseRegionData(good.data(), good.size() - 1, rects)); // count beyond the data
    EXPECT_FALSE(ParseRegionData(good.data(), 31, rects));
    EXPECT_FALSE(ParseRegionData(nullptr, 64, rects));
    auto wrongType = RegionBlock({{1, 2, 3, 4}}, 2);
    EXPECT_FALSE(ParseRegionData(wrongType.data(), wrongType.size(), rects));
    auto huge = RegionBlock({});
    _dword count = 0x10000001; // would overflow a 32-bit size computation
    std::memcpy(huge.data() + 8, &count, 4);
    EXPECT_FALSE(ParseRegionData(huge.data(), huge.size(), rects));
    _dword header = 0xFFFFFFF0;
    std::memcpy(good.data(), &header, 4);
    EXPECT_FALSE(ParseRegionData(good.data(), good.size(), rects));

    Recorder& r = mRecorders.emplace_back();
    WindowParams p;
    p.style = _WS_POPUP;
    p.width = 10;
    p.height = 10;
    p.handler = r.Handler();
    WindowId w = NewWindow(p);
    EXPECT_FALSE(SetWindowRegionData(w, wrongType.data(), wrongType.size()));
}

} // namespace
} // namespace Vexel::Ui
