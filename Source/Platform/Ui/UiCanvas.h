// Off-screen drawing: a 32-bit ARGB canvas with fills, images and text, and images decoded from bytes.
// A canvas is shown with PresentCanvas / PresentWindowCanvas (Ui.h). Colours are 0xAARRGGBB; scripts'
// 0xRRGGBB colours become opaque with OpaqueColor.
#pragma once

#include "Common/String.h"
#include "Platform/Ui/Ui.h"

#include <cstddef>
#include <memory>

namespace Vexel::Ui
{

constexpr _dword OpaqueColor(_dword rgb)
{
    return 0xFF000000u | (rgb & 0x00FFFFFFu);
}

// A font by family name and height in pixels. A positive height is the height of the character cell
// (ascent plus descent), a negative one the height of the characters themselves, as Windows fonts take
// it; 0 gives a default size.
struct FontSpec
{
    String name;
    int height = 0;
    bool bold = false;
};

// A decoded image (PNG, GIF, JPEG, BMP, ...). Animated images keep all their frames; one is selected.
class UiImage
{
public:
    // Null when the bytes are empty or cannot be decoded.
    static std::unique_ptr<UiImage> Decode(const void* bytes, std::size_t size);
    // An image of the canvas's pixels.
    static std::unique_ptr<UiImage> FromCanvas(const Canvas& canvas);
    ~UiImage();
    UiImage(const UiImage&) = delete;
    UiImage& operator=(const UiImage&) = delete;

    int Width() const;
    int Height() const;
    _dword FrameCount() const;
    // Display time of a frame in milliseconds (0 for still images).
    _dword FrameDelay(_dword frame) const;
    // Selects the frame that drawing uses. A frame that does not exist leaves the selection as it was.
    bool SelectFrame(_dword frame);
    _dword SelectedFrame() const;
    // One pixel of the selected frame as 0xAARRGGBB (0 outside the image).
    _dword PixelAt(int x, int y) const;

    struct Impl;
    Impl* GetImpl() const { return mImpl.get(); }

private:
    explicit UiImage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> mImpl;
};

class Canvas
{
public:
    // A transparent canvas; sizes below 1 or above 16384 give an empty canvas that ignores drawing.
    Canvas(int width, int height);
    Canvas();
    ~Canvas();
    Canvas(Canvas&& other) noexcept;
    Canvas& operator=(Canvas&& other) noexcept;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool IsEmpty() const;
    int Width() const;
    int Height() const;
    // Makes the canvas the given size, transparent.
    bool Resize(int width, int height);

    // Sets every pixel to the colour (no blending).
    void Clear(_dword argb);
    // Paints the colour over the rectangle, blended by its alpha.
    void FillRect(const Rect& rect, _dword argb);
    // Sets the rectangle's pixels to the colour, alpha included (no blending).
    void SetRect(const Rect& rect, _dword argb);

    // The image's selected frame stretched into the rectangle.
    void DrawImage(const UiImage& image, const Rect& dest);
    // The image at its natural size with its top-left corner at x, y.
    void DrawImageAt(const UiImage& image, int x, int y);
    // The part src of the image (image coordinates) stretched into dest: cropping when sizes match.
    void DrawImagePart(const UiImage& image, const Rect& src, const Rect& dest);
    // Another canvas at x, y, blended by its alpha.
    void DrawCanvas(const Canvas& canvas, int x, int y);

    // Text in the rectangle with the _DT_ format flags (horizontal and vertical alignment, word wrap,
    // single line, ellipsis); clipped to the rectangle unless _DT_NOCLIP. Returns the height drawn.
    int DrawString(const String& text, const Rect& rect, const FontSpec& font, _dword argb, _dword format);
    // The size the text takes; maxWidth limits lines when format has _DT_WORDBREAK (0: no limit).
    Size MeasureString(const String& text, const FontSpec& font, int maxWidth = 0, _dword format = 0) const;

    // Limits drawing to the rectangle until ResetClip.
    void SetClip(const Rect& rect);
    void ResetClip();

    // One pixel as 0xAARRGGBB (not premultiplied); 0 outside the canvas.
    _dword GetPixel(int x, int y) const;
    // Rows of premultiplied ARGB words in native byte order, Stride() bytes apart.
    const _byte* Data() const;
    _byte* MutableData();
    int Stride() const;

    struct Impl;
    Impl* GetImpl() const { return mImpl.get(); }

private:
    std::unique_ptr<Impl> mImpl;
};

} // namespace Vexel::Ui
