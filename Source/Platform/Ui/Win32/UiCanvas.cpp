// The canvas of the Win32 backend: its own premultiplied ARGB pixels (the layout of a 32-bit top-down
// DIB), fills and image drawing done here, text drawn by GDI as a coverage mask and blended in the
// colour asked for, images decoded by GDI+ (every frame of an animated one).
#include "UiWin32Private.h"

// GDI+ needs the COM declarations that the lean Windows header leaves out.
#include <objidl.h>
#include <propidl.h>
// (kept apart so that sorting keeps them first)
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Vexel::Ui
{

struct Canvas::Impl
{
    int width = 0;
    int height = 0;
    std::vector<_dword> pixels;
    Rect clip;
    bool clipped = false;
};

struct UiImage::Impl
{
    int width = 0;
    int height = 0;
    std::vector<std::vector<_dword>> frames; // premultiplied ARGB
    std::vector<_dword> delays;
    _dword selected = 0;

    const std::vector<_dword>& Pixels() const { return frames[selected]; }
};

namespace
{
constexpr int _MAX_SIDE = 16384;

_dword Mul(_dword a, _dword b)
{
    _dword t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

_dword Premultiply(_dword argb)
{
    _dword a = argb >> 24;
    if (a == 255)
        return argb;
    return (a << 24) | (Mul((argb >> 16) & 0xFF, a) << 16) | (Mul((argb >> 8) & 0xFF, a) << 8) |
           Mul(argb & 0xFF, a);
}

_dword Unpremultiply(_dword p)
{
    _dword a = p >> 24;
    if (a == 0)
        return 0;
    if (a == 255)
        return p;
    auto channel = [&](int shift)
    { return std::min<_dword>(255, (((p >> shift) & 0xFF) * 255 + a / 2) / a); };
    return (a << 24) | (channel(16) << 16) | (channel(8) << 8) | channel(0);
}

// Source over destination, both premultiplied.
_dword Over(_dword src, _dword dst)
{
    _dword a = src >> 24;
    if (a == 255)
        return src;
    if (a == 0)
        return dst;
    _dword inv = 255 - a;
    _dword out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= std::min<_dword>(255, ((src >> shift) & 0xFF) + Mul((dst >> shift) & 0xFF, inv)) << shift;
    return out;
}

// Where drawing may land: the canvas, less the clip.
Rect Bounds(const Canvas::Impl& c)
{
    Rect r{0, 0, c.width, c.height};
    if (c.clipped)
        r = {std::max(r.left, c.clip.left), std::max(r.top, c.clip.top), std::min(r.right, c.clip.right),
             std::min(r.bottom, c.clip.bottom)};
    return r;
}

Rect Intersect(const Rect& a, const Rect& b)
{
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.IsEmpty())
        return {};
    return r;
}

// A bilinear sample of premultiplied pixels at (x, y) in pixel-centre coordinates, edges clamped.
_dword Sample(const std::vector<_dword>& pixels, int width, int height, const Rect& src, double x, double y)
{
    x = std::clamp(x, static_cast<double>(src.left), static_cast<double>(src.right - 1));
    y = std::clamp(y, static_cast<double>(src.top), static_cast<double>(src.bottom - 1));
    int x0 = static_cast<int>(std::floor(x));
    int y0 = static_cast<int>(std::floor(y));
    int x1 = std::min(x0 + 1, src.right - 1);
    int y1 = std::min(y0 + 1, src.bottom - 1);
    double fx = x - x0;
    double fy = y - y0;
    _dword p00 = pixels[static_cast<std::size_t>(y0) * width + x0];
    _dword p10 = pixels[static_cast<std::size_t>(y0) * width + x1];
    _dword p01 = pixels[static_cast<std::size_t>(y1) * width + x0];
    _dword p11 = pixels[static_cast<std::size_t>(y1) * width + x1];
    _dword out = 0;
    for (int shift = 0; shift < 32; shift += 8)
    {
        double top = ((p00 >> shift) & 0xFF) * (1 - fx) + ((p10 >> shift) & 0xFF) * fx;
        double bottom = ((p01 >> shift) & 0xFF) * (1 - fx) + ((p11 >> shift) & 0xFF) * fx;
        double v = top * (1 - fy) + bottom * fy;
        out |= static_cast<_dword>(std::clamp(std::lround(v), 0L, 255L)) << shift;
    }
    (void)height;
    return out;
}

void DrawPixels(Canvas::Impl& c, const std::vector<_dword>& pixels, int width, int height, Rect src,
                const Rect& dest)
{
    src = Intersect(src, Rect{0, 0, width, height});
    if (src.IsEmpty() || dest.IsEmpty())
        return;
    Rect area = Intersect(Bounds(c), dest);
    if (area.IsEmpty())
        return;
    bool exact = src.Width() == dest.Width() && src.Height() == dest.Height();
    double sx = static_cast<double>(src.Width()) / dest.Width();
    double sy = static_cast<double>(src.Height()) / dest.Height();
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
        {
            _dword p;
            if (exact)
                p = pixels[static_cast<std::size_t>(src.top + y - dest.top) * width +
                           (src.left + x - dest.left)];
            else
                p = Sample(pixels, width, height, src, src.left + (x - dest.left + 0.5) * sx - 0.5,
                           src.top + (y - dest.top + 0.5) * sy - 0.5);
            _dword& d = c.pixels[static_cast<std::size_t>(y) * c.width + x];
            d = Over(p, d);
        }
}

} // namespace

namespace Win32
{

bool StartGdiPlus()
{
    static bool started = []
    {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return started;
}

HFONT MakeFont(const FontSpec& font)
{
    LOGFONTW lf{};
    lf.lfHeight = font.height;
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = ANTIALIASED_QUALITY;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    std::size_t length = std::min<std::size_t>(font.name.size(), LF_FACESIZE - 1);
    std::memcpy(lf.lfFaceName, font.name.data(), length * sizeof(wchar_t));
    return CreateFontIndirectW(&lf);
}

namespace
{
// A 32-bit top-down DIB section and its bits.
HBITMAP MakeDib(int width, int height, void** bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// The selected frame scaled to size x size (nearest pixel), premultiplied or not.
std::vector<_dword> FramePixels(const UiImage& image, int width, int height, bool premultiplied)
{
    std::vector<_dword> out(static_cast<std::size_t>(width) * height);
    const UiImage::Impl& impl = *image.GetImpl();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            int sx = std::min(impl.width - 1, x * impl.width / width);
            int sy = std::min(impl.height - 1, y * impl.height / height);
            _dword p = impl.Pixels()[static_cast<std::size_t>(sy) * impl.width + sx];
            out[static_cast<std::size_t>(y) * width + x] = premultiplied ? p : Unpremultiply(p);
        }
    return out;
}
} // namespace

HBITMAP MakeBitmap(const UiImage& image, bool premultiplied)
{
    if (image.Width() <= 0 || image.Height() <= 0)
        return nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = MakeDib(image.Width(), image.Height(), &bits);
    if (!bitmap)
        return nullptr;
    auto pixels = FramePixels(image, image.Width(), image.Height(), premultiplied);
    std::memcpy(bits, pixels.data(), pixels.size() * 4);
    return bitmap;
}

HICON MakeIcon(const UiImage& image, int size)
{
    if (image.Width() <= 0 || image.Height() <= 0 || size <= 0)
        return nullptr;
    void* bits = nullptr;
    HBITMAP colour = MakeDib(size, size, &bits);
    if (!colour)
        return nullptr;
    auto pixels = FramePixels(image, size, size, false);
    std::memcpy(bits, pixels.data(), pixels.size() * 4);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
}

} // namespace Win32

// --- UiImage ----------------------------------------------------------------------------------------

UiImage::UiImage(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}
UiImage::~UiImage() = default;

std::unique_ptr<UiImage> UiImage::Decode(const void* bytes, std::size_t size)
{
    if (!bytes || size == 0 || size > 0x7FFFFFFF || !Win32::StartGdiPlus())
        return nullptr;
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!global)
        return nullptr;
    std::memcpy(GlobalLock(global), bytes, size);
    GlobalUnlock(global);
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(global, TRUE, &stream) != S_OK)
    {
        GlobalFree(global);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    {
        Gdiplus::Bitmap bitmap(stream);
        if (bitmap.GetLastStatus() != Gdiplus::Ok || bitmap.GetWidth() == 0 || bitmap.GetHeight() == 0 ||
            bitmap.GetWidth() > _MAX_SIDE || bitmap.GetHeight() > _MAX_SIDE)
        {
            stream->Release();
            return nullptr;
        }
        impl->width = static_cast<int>(bitmap.GetWidth());
        impl->height = static_cast<int>(bitmap.GetHeight());
        UINT frames = 1;
        GUID dimension = Gdiplus::FrameDimensionTime;
        if (bitmap.GetFrameDimensionsCount() > 0)
        {
            GUID first;
            bitmap.GetFrameDimensionsList(&first, 1);
            dimension = first;
            frames = std::max<UINT>(bitmap.GetFrameCount(&dimension), 1);
        }
        std::vector<_dword> delays;
        if (UINT propertySize = bitmap.GetPropertyItemSize(PropertyTagFrameDelay); propertySize > 0)
        {
            std::vector<std::byte> buffer(propertySize);
            auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
            if (bitmap.GetPropertyItem(PropertyTagFrameDelay, propertySize, item) == Gdiplus::Ok)
            {
                std::size_t count = item->length / 4;
                for (std::size_t i = 0; i < count; ++i)
                {
                    _dword value = 0;
                    std::memcpy(&value, static_cast<const std::byte*>(item->value) + i * 4, 4);
                    delays.push_back(value * 10); // hundredths of a second
                }
            }
        }
        for (UINT f = 0; f < frames; ++f)
        {
            if (frames > 1 && bitmap.SelectActiveFrame(&dimension, f) != Gdiplus::Ok)
                break;
            Gdiplus::Rect area(0, 0, impl->width, impl->height);
            Gdiplus::BitmapData data{};
            if (bitmap.LockBits(&area, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) !=
                Gdiplus::Ok)
                break;
            std::vector<_dword> pixels(static_cast<std::size_t>(impl->width) * impl->height);
            for (int y = 0; y < impl->height; ++y)
            {
                const auto* row = reinterpret_cast<const _dword*>(
                    static_cast<const std::byte*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride);
                for (int x = 0; x < impl->width; ++x)
                    pixels[static_cast<std::size_t>(y) * impl->width + x] = Premultiply(row[x]);
            }
            bitmap.UnlockBits(&data);
            impl->frames.push_back(std::move(pixels));
            impl->delays.push_back(frames > 1 && f < delays.size() ? delays[f] : 0);
        }
    }
    stream->Release();
    if (impl->frames.empty())
        return nullptr;
    return std::unique_ptr<UiImage>(new UiImage(std::move(impl)));
}

std::unique_ptr<UiImage> UiImage::FromCanvas(const Canvas& canvas)
{
    if (canvas.IsEmpty())
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->width = canvas.Width();
    impl->height = canvas.Height();
    impl->frames.push_back(canvas.GetImpl()->pixels);
    impl->delays.push_back(0);
    return std::unique_ptr<UiImage>(new UiImage(std::move(impl)));
}

int UiImage::Width() const
{
    return mImpl->width;
}

int UiImage::Height() const
{
    return mImpl->height;
}

_dword UiImage::FrameCount() const
{
    return static_cast<_dword>(mImpl->frames.size());
}

_dword UiImage::FrameDelay(_dword frame) const
{
    return frame < mImpl->delays.size() ? mImpl->delays[frame] : 0;
}

bool UiImage::SelectFrame(_dword frame)
{
    if (frame >= mImpl->frames.size())
        return false;
    mImpl->selected = frame;
    return true;
}

_dword UiImage::SelectedFrame() const
{
    return mImpl->selected;
}

_dword UiImage::PixelAt(int x, int y) const
{
    if (x < 0 || y < 0 || x >= mImpl->width || y >= mImpl->height)
        return 0;
    return Unpremultiply(mImpl->Pixels()[static_cast<std::size_t>(y) * mImpl->width + x]);
}

// --- Canvas -----------------------------------------------------------------------------------------

Canvas::Canvas(int width, int height) : mImpl(std::make_unique<Impl>())
{
    Resize(width, height);
}

Canvas::Canvas() : mImpl(std::make_unique<Impl>()) {}
Canvas::~Canvas() = default;
Canvas::Canvas(Canvas&& other) noexcept : mImpl(std::move(other.mImpl))
{
    other.mImpl = std::make_unique<Impl>();
}
Canvas& Canvas::operator=(Canvas&& other) noexcept
{
    if (this != &other)
    {
        mImpl = std::move(other.mImpl);
        other.mImpl = std::make_unique<Impl>();
    }
    return *this;
}

bool Canvas::IsEmpty() const
{
    return mImpl->width == 0 || mImpl->height == 0;
}

int Canvas::Width() const
{
    return mImpl->width;
}

int Canvas::Height() const
{
    return mImpl->height;
}

bool Canvas::Resize(int width, int height)
{
    mImpl->clipped = false;
    if (width < 1 || height < 1 || width > _MAX_SIDE || height > _MAX_SIDE)
    {
        mImpl->width = mImpl->height = 0;
        mImpl->pixels.clear();
        return false;
    }
    mImpl->width = width;
    mImpl->height = height;
    mImpl->pixels.assign(static_cast<std::size_t>(width) * height, 0);
    return true;
}

void Canvas::Clear(_dword argb)
{
    std::fill(mImpl->pixels.begin(), mImpl->pixels.end(), Premultiply(argb));
}

void Canvas::FillRect(const Rect& rect, _dword argb)
{
    Rect area = Intersect(Bounds(*mImpl), rect);
    _dword p = Premultiply(argb);
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
        {
            _dword& d = mImpl->pixels[static_cast<std::size_t>(y) * mImpl->width + x];
            d = Over(p, d);
        }
}

void Canvas::SetRect(const Rect& rect, _dword argb)
{
    Rect area = Intersect(Bounds(*mImpl), rect);
    _dword p = Premultiply(argb);
    for (int y = area.top; y < area.bottom; ++y)
        std::fill_n(mImpl->pixels.begin() + static_cast<std::ptrdiff_t>(y) * mImpl->width + area.left,
                    area.Width(), p);
}

void Canvas::DrawImage(const UiImage& image, const Rect& dest)
{
    DrawImagePart(image, Rect{0, 0, image.Width(), image.Height()}, dest);
}

void Canvas::DrawImageAt(const UiImage& image, int x, int y)
{
    DrawImagePart(image, Rect{0, 0, image.Width(), image.Height()},
                  Rect::FromSize(x, y, image.Width(), image.Height()));
}

void Canvas::DrawImagePart(const UiImage& image, const Rect& src, const Rect& dest)
{
    if (IsEmpty())
        return;
    const UiImage::Impl& impl = *image.GetImpl();
    DrawPixels(*mImpl, impl.Pixels(), impl.width, impl.height, src, dest);
}

void Canvas::DrawCanvas(const Canvas& canvas, int x, int y)
{
    if (IsEmpty() || canvas.IsEmpty() || &canvas == this)
        return;
    const Impl& other = *canvas.mImpl;
    DrawPixels(*mImpl, other.pixels, other.width, other.height, Rect{0, 0, other.width, other.height},
               Rect::FromSize(x, y, other.width, other.height));
}

namespace
{
constexpr _dword _DT_CALCRECT = 0x0400;
constexpr _dword _DT_NOPREFIX = 0x0800;
constexpr _dword _TEXT_FLAGS = _DT_CENTER | _DT_RIGHT | _DT_VCENTER | _DT_BOTTOM | _DT_WORDBREAK |
                               _DT_SINGLELINE | _DT_NOCLIP | _DT_END_ELLIPSIS;
} // namespace

int Canvas::DrawString(const String& text, const Rect& rect, const FontSpec& font, _dword argb, _dword format)
{
    if (IsEmpty() || text.empty())
        return 0;
    // The text is drawn white on black into a mask as large as the part of the canvas it may touch;
    // the mask's brightness is the coverage of each pixel.
    Rect area = Bounds(*mImpl);
    if (!(format & _DT_NOCLIP))
        area = Intersect(area, rect);
    else
    {
        // Unclipped text still lies within its own size of the rectangle: the mask need not be larger.
        Size extent = MeasureString(text, font, rect.Width(), format);
        area = Intersect(area, Rect{rect.left - extent.width, rect.top - extent.height,
                                    rect.right + extent.width, rect.bottom + extent.height});
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT hfont = Win32::MakeFont(font);
    if (!dc || !hfont)
    {
        if (dc)
            DeleteDC(dc);
        if (hfont)
            DeleteObject(hfont);
        return 0;
    }
    int drawn = 0;
    if (area.IsEmpty())
    {
        HGDIOBJ old = SelectObject(dc, hfont);
        RECT r{rect.left, rect.top, rect.right, rect.bottom};
        drawn = ::DrawTextW(dc, Win32::W(text), static_cast<int>(text.size()), &r,
                            (format & _TEXT_FLAGS) | _DT_NOPREFIX | _DT_CALCRECT);
        SelectObject(dc, old);
    }
    else
    {
        void* bits = nullptr;
        HBITMAP mask = Win32::MakeDib(area.Width(), area.Height(), &bits);
        if (mask)
        {
            std::memset(bits, 0, static_cast<std::size_t>(area.Width()) * area.Height() * 4);
            HGDIOBJ oldBitmap = SelectObject(dc, mask);
            HGDIOBJ oldFont = SelectObject(dc, hfont);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkMode(dc, TRANSPARENT);
            RECT r{rect.left - area.left, rect.top - area.top, rect.right - area.left,
                   rect.bottom - area.top};
            drawn = ::DrawTextW(dc, Win32::W(text), static_cast<int>(text.size()), &r,
                                (format & _TEXT_FLAGS) | _DT_NOPREFIX | _DT_NOCLIP);
            GdiFlush();
            _dword colour = Premultiply(argb);
            const auto* coverage = static_cast<const _dword*>(bits);
            for (int y = 0; y < area.Height(); ++y)
                for (int x = 0; x < area.Width(); ++x)
                {
                    _dword m = coverage[static_cast<std::size_t>(y) * area.Width() + x];
                    _dword cover = std::max({(m >> 16) & 0xFF, (m >> 8) & 0xFF, m & 0xFF});
                    if (cover == 0)
                        continue;
                    _dword src = 0;
                    for (int shift = 0; shift < 32; shift += 8)
                        src |= Mul((colour >> shift) & 0xFF, cover) << shift;
                    _dword& d =
                        mImpl->pixels[static_cast<std::size_t>(area.top + y) * mImpl->width + area.left + x];
                    d = Over(src, d);
                }
            SelectObject(dc, oldFont);
            SelectObject(dc, oldBitmap);
            DeleteObject(mask);
        }
    }
    DeleteObject(hfont);
    DeleteDC(dc);
    return drawn;
}

Size Canvas::MeasureString(const String& text, const FontSpec& font, int maxWidth, _dword format) const
{
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT hfont = Win32::MakeFont(font);
    Size size;
    if (dc && hfont)
    {
        HGDIOBJ old = SelectObject(dc, hfont);
        bool wrap = (format & _DT_WORDBREAK) && maxWidth > 0;
        RECT r{0, 0, wrap ? maxWidth : 0, 0};
        _dword flags = (format & (_DT_WORDBREAK | _DT_SINGLELINE)) | _DT_NOPREFIX | _DT_CALCRECT;
        if (!wrap)
            flags &= ~_DT_WORDBREAK;
        const wchar_t* chars = text.empty() ? L" " : Win32::W(text);
        int height = ::DrawTextW(dc, chars, text.empty() ? 1 : static_cast<int>(text.size()), &r, flags);
        size = {text.empty() ? 0 : static_cast<int>(r.right - r.left), height};
        SelectObject(dc, old);
    }
    if (hfont)
        DeleteObject(hfont);
    if (dc)
        DeleteDC(dc);
    return size;
}

void Canvas::SetClip(const Rect& rect)
{
    mImpl->clip = rect;
    mImpl->clipped = true;
}

void Canvas::ResetClip()
{
    mImpl->clipped = false;
}

_dword Canvas::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= mImpl->width || y >= mImpl->height)
        return 0;
    return Unpremultiply(mImpl->pixels[static_cast<std::size_t>(y) * mImpl->width + x]);
}

const _byte* Canvas::Data() const
{
    return reinterpret_cast<const _byte*>(mImpl->pixels.data());
}

_byte* Canvas::MutableData()
{
    return reinterpret_cast<_byte*>(mImpl->pixels.data());
}

int Canvas::Stride() const
{
    return mImpl->width * 4;
}

} // namespace Vexel::Ui
