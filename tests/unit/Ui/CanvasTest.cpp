// The off-screen canvas read back pixel by pixel: fills, decoded images (PNG with alpha, animated GIF),
// cropping and stretching, and text placement, wrapping and measuring.
#include "Platform/Ui/UiCanvas.h"
#include "UiTestImages.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace Vexel::Ui
{
namespace
{
using Test::_GIF_3_FRAMES;
using Test::_PNG_4X2;

// Colours equal within rounding of premultiplied storage.
::testing::AssertionResult Near(_dword expected, _dword actual, int tolerance = 2)
{
    for (int shift = 0; shift < 32; shift += 8)
    {
        int a = static_cast<int>((expected >> shift) & 0xFF);
        int b = static_cast<int>((actual >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance)
            return ::testing::AssertionFailure()
                   << std::hex << "expected 0x" << expected << ", got 0x" << actual;
    }
    return ::testing::AssertionSuccess();
}

class UiCanvasTest : public ::testing::Test
{
protected:
    void SetUp() override { VEXEL_REQUIRE_DISPLAY(); }
};

TEST_F(UiCanvasTest, FillsReadBackPixelByPixel)
{
    Canvas canvas(8, 6);
    ASSERT_FALSE(canvas.IsEmpty());
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(canvas.GetPixel(x, y), 0u) << x << "," << y;

    canvas.Clear(0xFF0000FF);
    canvas.SetRect({2, 1, 5, 4}, 0xFF112233);
    canvas.FillRect({4, 3, 8, 6}, 0x80FF0000); // half red over blue and over the dark block
    canvas.SetRect({0, 5, 1, 6}, 0x00000000);  // a hole, alpha included
    for (int y = 0; y < 6; ++y)
    {
        for (int x = 0; x < 8; ++x)
        {
            _dword expected = 0xFF0000FF;
            if (x >= 2 && x < 5 && y >= 1 && y < 4)
                expected = 0xFF112233;
            if (x >= 4 && y >= 3)
                expected = expected == 0xFF112233 ? 0xFF881119 : 0xFF80007F;
            if (x == 0 && y == 5)
                expected = 0;
            EXPECT_TRUE(Near(expected, canvas.GetPixel(x, y))) << x << "," << y;
        }
    }
    EXPECT_EQ(canvas.GetPixel(-1, 0), 0u);
    EXPECT_EQ(canvas.GetPixel(8, 0), 0u);

    // Clipping limits drawing.
    canvas.SetClip({0, 0, 1, 1});
    canvas.SetRect({0, 0, 8, 6}, 0xFFFFFFFF);
    canvas.ResetClip();
    EXPECT_EQ(canvas.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(canvas.GetPixel(1, 0), 0xFF0000FFu);

    Canvas empty(0, 10);
    EXPECT_TRUE(empty.IsEmpty());
    empty.FillRect({0, 0, 5, 5}, 0xFFFFFFFF); // ignored, no crash
    EXPECT_TRUE(Canvas(20000, 10).IsEmpty());
}

TEST_F(UiCanvasTest, PngKeepsItsAlphaAndDrawsAtSizeCroppedAndStretched)
{
    auto image = UiImage::Decode(_PNG_4X2, sizeof(_PNG_4X2));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 4);
    EXPECT_EQ(image->Height(), 2);
    EXPECT_EQ(image->FrameCount(), 1u);
    EXPECT_TRUE(Near(0xFFFF0000, image->PixelAt(0, 0)));
    EXPECT_TRUE(Near(0x80FFFFFF, image->PixelAt(3, 0)));
    EXPECT_EQ(image->PixelAt(0, 1), 0u);
    EXPECT_TRUE(Near(0xFF0A141E, image->PixelAt(2, 1)));
    EXPECT_TRUE(Near(0x40FFFF00, image->PixelAt(3, 1), 4));

    Canvas canvas(10, 6);
    canvas.DrawImageAt(*image, 1, 1);
    const _dword expected[2][4] = {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x80FFFFFF},
                                   {0x00000000, 0xFF000000, 0xFF0A141E, 0x40FFFF00}};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
        {
            bool inside = x >= 1 && x < 5 && y >= 1 && y < 3;
            _dword want = inside ? expected[y - 1][x - 1] : 0;
            EXPECT_TRUE(Near(want, canvas.GetPixel(x, y), 4)) << x << "," << y;
        }

    // Cropping: the middle two pixels of the top row.
    Canvas crop(2, 1);
    crop.DrawImagePart(*image, {1, 0, 3, 1}, {0, 0, 2, 1});
    EXPECT_TRUE(Near(0xFF00FF00, crop.GetPixel(0, 0)));
    EXPECT_TRUE(Near(0xFF0000FF, crop.GetPixel(1, 0)));

    // Stretching to twice the size keeps the corners and fills the whole rectangle.
    Canvas big(8, 4);
    big.DrawImage(*image, {0, 0, 8, 4});
    EXPECT_TRUE(Near(0xFFFF0000, big.GetPixel(0, 0), 6));
    EXPECT_TRUE(Near(0xFF0A141E, big.GetPixel(4, 3), 40));
    EXPECT_NE(big.GetPixel(7, 0), 0u);

    EXPECT_FALSE(UiImage::Decode(nullptr, 0));
    EXPECT_FALSE(UiImage::Decode(_PNG_4X2, 20)); // cut short
    const char junk[] = "not an image at all";
    EXPECT_FALSE(UiImage::Decode(junk, sizeof(junk)));
}

TEST_F(UiCanvasTest, AnimatedGifFramesAreSelectable)
{
    auto gif = UiImage::Decode(_GIF_3_FRAMES, sizeof(_GIF_3_FRAMES));
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->FrameCount(), 3u);
    EXPECT_EQ(gif->FrameDelay(0), 100u);
    EXPECT_EQ(gif->FrameDelay(1), 200u);
    EXPECT_EQ(gif->FrameDelay(2), 300u);
    EXPECT_TRUE(Near(0xFFFF0000, gif->PixelAt(1, 1)));
    EXPECT_TRUE(gif->SelectFrame(1));
    EXPECT_TRUE(Near(0xFF00FF00, gif->PixelAt(1, 1)));
    // A frame that does not exist leaves the one shown.
    EXPECT_FALSE(gif->SelectFrame(7));
    EXPECT_EQ(gif->SelectedFrame(), 1u);
    Canvas canvas(4, 4);
    canvas.DrawImage(*gif, {0, 0, 4, 4});
    EXPECT_TRUE(Near(0xFF00FF00, canvas.GetPixel(3, 3)));
    gif->SelectFrame(2);
    canvas.DrawImageAt(*gif, 0, 0);
    EXPECT_TRUE(Near(0xFF0000FF, canvas.GetPixel(0, 0)));
}

// Leftmost and rightmost columns holding any text pixel, -1 when none.
std::pair<int, int> InkColumns(const Canvas& canvas)
{
    int left = -1;
    int right = -1;
    for (int x = 0; x < canvas.Width(); ++x)
        for (int y = 0; y < canvas.Height(); ++y)
            if (canvas.GetPixel(x, y) >> 24)
            {
                if (left < 0)
                    left = x;
                right = x;
                break;
            }
    return {left, right};
}

TEST_F(UiCanvasTest, TextIsAlignedClippedWrappedAndMeasured)
{
    FontSpec font{u"Sans", 20, false};
    Canvas left(200, 40);
    left.DrawString(u"Hello", {0, 0, 200, 40}, font, 0xFFFFFFFF, _DT_LEFT);
    Canvas centre(200, 40);
    centre.DrawString(u"Hello", {0, 0, 200, 40}, font, 0xFFFFFFFF, _DT_CENTER | _DT_WORDBREAK);
    Canvas right(200, 40);
    right.DrawString(u"Hello", {0, 0, 200, 40}, font, 0xFFFFFFFF, _DT_RIGHT);
    auto [l0, l1] = InkColumns(left);
    auto [c0, c1] = InkColumns(centre);
    auto [r0, r1] = InkColumns(right);
    ASSERT_GE(l0, 0);
    EXPECT_LT(l0, 5);
    EXPECT_GT(r1, 194);
    EXPECT_NEAR((c0 + c1) / 2.0, 100.0, 4.0);
    EXPECT_NEAR(l1 - l0, r1 - r0, 2);

    // The colour is the one asked for, and nothing lands outside the rectangle.
    Canvas clipped(100, 60);
    clipped.DrawString(u"Wide text that does not fit", {10, 10, 60, 40}, font, 0xFF00FF00, _DT_LEFT);
    bool green = false;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
        {
            _dword p = clipped.GetPixel(x, y);
            bool inside = x >= 10 && x < 60 && y >= 10 && y < 40;
            if (!inside)
            {
                ASSERT_EQ(p, 0u) << x << "," << y;
            }
            if ((p >> 24) == 0xFF)
                green = green || p == 0xFF00FF00;
        }
    EXPECT_TRUE(green);

    // A positive height is the cell height; a negative one the character height, so larger.
    Size cell = left.MeasureString(u"Ag", FontSpec{u"Sans", 20});
    Size chars = left.MeasureString(u"Ag", FontSpec{u"Sans", -20});
    EXPECT_NEAR(cell.height, 20, 2);
    EXPECT_GT(chars.height, cell.height);
    EXPECT_GT(left.MeasureString(u"Hello world", font).width, left.MeasureString(u"Hello", font).width);
    Size wrapped = left.MeasureString(u"one two three four five six", font, 60, _DT_WORDBREAK);
    EXPECT_LE(wrapped.width, 60);
    EXPECT_GE(wrapped.height, 3 * cell.height);
    // Vertical centring puts one line in the middle of the rectangle.
    Canvas middle(100, 100);
    middle.DrawString(u"X", {0, 0, 100, 100}, font, 0xFFFFFFFF, _DT_CENTER | _DT_VCENTER | _DT_SINGLELINE);
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (middle.GetPixel(x, y) >> 24)
            {
                if (top < 0)
                    top = y;
                bottom = y;
            }
    EXPECT_NEAR((top + bottom) / 2.0, 50.0, 5.0);
}

TEST_F(UiCanvasTest, CanvasesCompose)
{
    Canvas under(4, 4);
    under.Clear(0xFF000000);
    Canvas over(2, 2);
    over.Clear(0xFFFFFFFF);
    under.DrawCanvas(over, 1, 1);
    EXPECT_EQ(under.GetPixel(0, 0), 0xFF000000u);
    EXPECT_EQ(under.GetPixel(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(under.GetPixel(3, 3), 0xFF000000u);
    auto image = UiImage::FromCanvas(under);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->PixelAt(2, 2), 0xFFFFFFFFu);
}

} // namespace
} // namespace Vexel::Ui
