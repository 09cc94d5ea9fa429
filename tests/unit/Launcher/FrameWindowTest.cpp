// Skinned frame windows: control drawing on canvases, and hover, press and click on a real window.
#include "LauncherTestSupport.h"

#include "Platform/Ui/UiCanvas.h"

#include <cstring>

namespace Vexel::Test
{

using FrameDrawingTest = LauncherTest;
using FrameWindowTest = LauncherWindowTest;

namespace
{
bool SamePixels(const Ui::Canvas& a, const Ui::Canvas& b)
{
    return a.Height() == b.Height() && a.Stride() == b.Stride() &&
           std::memcmp(a.Data(), b.Data(), static_cast<std::size_t>(a.Stride()) * a.Height()) == 0;
}
} // namespace

TEST_F(FrameDrawingTest, ProgressBarAtHalfSplitsFillAndBack)
{
    SkinProgress bar;
    bar.mRect = Ui::Rect::FromSize(0, 0, 300, 20);
    bar.mBar = LoadSkinImage(u"skin/bar_fill.png");
    bar.mBack = LoadSkinImage(u"skin/bar_back.png");
    ASSERT_TRUE(bar.mBar && bar.mBack);
    bar.mRatio = 0.5;
    bar.mColor = 0xFFFFFF;
    bar.mAlign = 2;
    Ui::Canvas canvas(300, 20);
    DrawProgressBar(canvas, bar);
    // Left of the middle comes from the fill image, right of it from the back image, uncropped columns.
    EXPECT_EQ(canvas.GetPixel(149, 1), bar.mBar->PixelAt(149, 1));
    EXPECT_EQ(canvas.GetPixel(150, 1), bar.mBack->PixelAt(150, 1));
    EXPECT_EQ(canvas.GetPixel(10, 1), bar.mBar->PixelAt(10, 1));
}

TEST_F(FrameDrawingTest, LabelAlignmentOutsideTheKnownValuesDrawsLeft)
{
    auto draw = [](_dword align)
    {
        SkinLabel label{1, Ui::Rect::FromSize(0, 0, 200, 30), u"Label", u"", 0x000000, 16, align};
        Ui::Canvas canvas(200, 30);
        canvas.Clear(0xFFFFFFFF);
        DrawLabel(canvas, label);
        return canvas;
    };
    Ui::Canvas left = draw(0);
    EXPECT_TRUE(SamePixels(draw(3), left));
    EXPECT_FALSE(SamePixels(draw(2), left));
}

TEST_F(FrameDrawingTest, MissingStateImagesFallBackToNormal)
{
    SkinButton button;
    button.mRect = Ui::Rect::FromSize(0, 0, 24, 24);
    button.mImages[0] = LoadSkinImage(u"skin/close_n.png");
    button.mImages[1] = LoadSkinImage(u"skin/close_h.png");
    ASSERT_TRUE(button.mImages[0] && button.mImages[1]);
    Ui::Canvas normal(24, 24), pressed(24, 24), hover(24, 24);
    DrawButtonImage(normal, button);
    button.mState = 2;
    DrawButtonImage(pressed, button);
    button.mState = 1;
    DrawButtonImage(hover, button);
    EXPECT_TRUE(SamePixels(pressed, normal));
    EXPECT_FALSE(SamePixels(hover, normal));
}

TEST_F(FrameDrawingTest, StillImagesDecodedFromTheSameBytesAreShared)
{
    ImageRef first = LoadSkinImage(u"skin/close_n.png");
    ImageRef again = LoadSkinImage(u"skin/close_n.png");
    ImageRef other = LoadSkinImage(u"skin/close_h.png");
    ASSERT_TRUE(first && again && other);
    EXPECT_EQ(first.get(), again.get());
    // Other bytes never get a shared picture of the wrong file.
    EXPECT_NE(first.get(), other.get());
    Ui::Canvas a(24, 24), b(24, 24);
    a.DrawImageAt(*first, 0, 0);
    b.DrawImageAt(*other, 0, 0);
    EXPECT_FALSE(SamePixels(a, b));
    EXPECT_FALSE(LoadSkinImage(u"skin/no-such-picture.png"));
}

TEST_F(FrameWindowTest, HiddenFramesHeldDuringStartUpPaintOnceWhenTheHoldEnds)
{
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"hidden", 10, 10, 200, 100, 1));
    ASSERT_TRUE(CreateFrameWindow(*mState, 2, u"shown", 10, 10, 200, 100, 1));
    FrameWindow& hidden = *mState->mFrames[1];
    FrameWindow& shown = *mState->mFrames[2];
    Ui::ShowUiWindow(shown.mWindow, Ui::_SW_SHOW);
    {
        FrameRepaintHold outer(*mState);
        {
            FrameRepaintHold inner(*mState);
            hidden.AddLabel(1, 5, 5, 100, 20, u"one", u"", 0xFFFFFF, 14, 0);
            ASSERT_TRUE(hidden.SetBackground(u"skin/panel_bg.png"));
            shown.AddLabel(1, 5, 5, 100, 20, u"two", u"", 0xFFFFFF, 14, 0);
            EXPECT_TRUE(hidden.mRepaintPending);
            EXPECT_FALSE(shown.mRepaintPending); // on screen: painted at once
        }
        EXPECT_TRUE(hidden.mRepaintPending); // the outer hold still stands
        // A frame that goes while held is simply left out.
        ASSERT_TRUE(CreateFrameWindow(*mState, 3, u"gone", 10, 10, 50, 50, 1));
        mState->mFrames[3]->AddLabel(1, 0, 0, 40, 20, u"x", u"", 0, 12, 0);
        DestroyFrameWindow(*mState, 3);
    }
    EXPECT_FALSE(hidden.mRepaintPending);
    // The painted frame, never composed while hidden, shows its whole surface once shown.
    Ui::Canvas expected(200, 100);
    hidden.Compose(expected);
    Ui::ShowUiWindow(hidden.mWindow, Ui::_SW_SHOWNA);
    Ui::Canvas shot;
    EXPECT_TRUE(PumpUntil(
        [&]
        {
            return Ui::CaptureWindowPixels(hidden.mWindow, shot) && shot.Width() == 200 &&
                   shot.GetPixel(150, 80) == expected.GetPixel(150, 80) &&
                   shot.GetPixel(10, 90) == expected.GetPixel(10, 90);
        }));
    EXPECT_NE(expected.GetPixel(150, 80), 0xFF000000u); // the background, not an empty surface
}

TEST_F(FrameWindowTest, LayeredFramesHeldDuringStartUpAreComposedWhenTheHoldEnds)
{
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"layered", 10, 10, 120, 80, 0));
    FrameWindow& layered = *mState->mFrames[1];
    EXPECT_TRUE(layered.IsLayered());
    {
        FrameRepaintHold hold(*mState);
        ASSERT_TRUE(layered.SetBackground(u"skin/panel_bg.png"));
        EXPECT_TRUE(layered.mRepaintPending);
    }
    EXPECT_FALSE(layered.mRepaintPending);
    // Without a hold a hidden frame paints at once again.
    layered.AddLabel(2, 5, 30, 100, 20, u"three", u"", 0xFFFFFF, 14, 0);
    EXPECT_FALSE(layered.mRepaintPending);
}

TEST_F(FrameWindowTest, HoverPressAndClickFollowTheMouse)
{
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"t", 50, 50, 200, 100, 1));
    EXPECT_FALSE(CreateFrameWindow(*mState, 1, u"t", 0, 0, 10, 10, 1)); // a taken slot stays
    EXPECT_FALSE(CreateFrameWindow(*mState, 7, u"t", 0, 0, 10, 10, 1));
    FrameWindow& frame = *mState->mFrames[1];
    Ui::ShowUiWindow(frame.mWindow, Ui::_SW_SHOW);
    int clicks = 0;
    mState->mButtonHandler = [&](int kind, ScriptObject*, FrameWindow& f)
    {
        EXPECT_EQ(kind, _BUTTON_USER);
        EXPECT_EQ(&f, &frame);
        ++clicks;
    };
    frame.AddButton(_BUTTON_USER, nullptr, 10, 10, 40, 20, u"", u"", u"", true);
    Ui::Point inside{20, 20}, outside{120, 60};
    Ui::ClientToScreenPoint(frame.mWindow, inside);
    Ui::ClientToScreenPoint(frame.mWindow, outside);

    EXPECT_EQ(Ui::SendUiMessage(frame.mWindow, Ui::_WM_NCHITTEST, 0, Ui::MakeLParam(inside.x, inside.y)),
              Ui::_HTCLIENT);
    EXPECT_EQ(frame.mButtons[0].mState, 1);
    Ui::SendUiMessage(frame.mWindow, Ui::_WM_LBUTTONDOWN, Ui::_MK_LBUTTON, Ui::MakeLParam(20, 20));
    EXPECT_EQ(frame.mButtons[0].mState, 2);
    Ui::SendUiMessage(frame.mWindow, Ui::_WM_LBUTTONUP, 0, Ui::MakeLParam(20, 20));
    EXPECT_EQ(frame.mButtons[0].mState, 1);
    EXPECT_EQ(clicks, 1);
    // Everywhere else drags the window.
    EXPECT_EQ(Ui::SendUiMessage(frame.mWindow, Ui::_WM_NCHITTEST, 0, Ui::MakeLParam(outside.x, outside.y)),
              Ui::_HTCAPTION);
    EXPECT_EQ(frame.mButtons[0].mState, 0);
    // The rectangle's edge is outside.
    Ui::Point edge{10, 10};
    Ui::ClientToScreenPoint(frame.mWindow, edge);
    EXPECT_EQ(Ui::SendUiMessage(frame.mWindow, Ui::_WM_NCHITTEST, 0, Ui::MakeLParam(edge.x, edge.y)),
              Ui::_HTCAPTION);
}

TEST_F(FrameWindowTest, UserButtonCallsItsScriptFunction)
{
    Run(u"_launcher:newFrameWin(2, 'w', 10, 10, 100, 60, 1)"
        u"clicked = 0; b = _launcher:addUserButton(5, 5, 30, 20, '', '', '', 1, 2)\n"
        u"b.onClick = function() clicked = clicked + 1 end\n"
        u"none = _launcher:addUserButton(5, 5, 30, 20, '', '', '', 1, 7)");
    mState->mButtonHandler = [](int, ScriptObject* object, FrameWindow&) { CallButtonClick(object); };
    FrameWindow& frame = *mState->mFrames[2];
    ASSERT_EQ(frame.mButtons.size(), 1u);
    EXPECT_TRUE(frame.mButtons[0].mHand);
    Ui::SendUiMessage(frame.mWindow, Ui::_WM_LBUTTONUP, 0, Ui::MakeLParam(10, 10));
    EXPECT_EQ(Eval(u"return clicked").GetInt32(), 1);
    EXPECT_TRUE(Eval(u"return none == nil").GetBool());
    EXPECT_TRUE(Eval(u"return b.onClick == nil").GetBool());
}

} // namespace Vexel::Test
