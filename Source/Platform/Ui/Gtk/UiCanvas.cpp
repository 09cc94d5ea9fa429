// The off-screen canvas (a cairo image surface), images decoded by gdk-pixbuf, and text laid out by
// pango.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace Vexel::Ui
{

namespace
{
constexpr int _MAX_CANVAS_SIDE = 16384;
constexpr _dword _MAX_FRAMES = 1024;
constexpr std::size_t _MAX_IMAGE_BYTES = std::size_t(512) << 20;

// Number of images in a GIF file, read from its block structure; 0 when it is not a GIF. gdk-pixbuf
// composes every frame into one shared buffer, so its iterator cannot tell when the animation wraps.
std::size_t CountGifFrames(const _byte* data, std::size_t size)
{
    if (size < 13 || std::memcmp(data, "GIF", 3) != 0)
        return 0;
    std::size_t at = 13;
    if (data[10] & 0x80)
        at += 3u << ((data[10] & 7) + 1);
    auto skipBlocks = [&](std::size_t p)
    {
        while (p < size && data[p] != 0)
            p += data[p] + 1u;
        return p + 1;
    };
    std::size_t frames = 0;
    while (at < size)
    {
        _byte kind = data[at];
        if (kind == 0x21 && at + 2 <= size)
            at = skipBlocks(at + 2);
        else if (kind == 0x2C && at + 10 <= size)
        {
            _byte flags = data[at + 9];
            at += 10;
            if (flags & 0x80)
                at += 3u << ((flags & 7) + 1);
            at = skipBlocks(at + 1); // LZW code size, then the data blocks
            ++frames;
        }
        else
            break;
    }
    return frames;
}

// ARGB32 premultiplied surface from a pixbuf (RGB or RGBA, straight alpha).
cairo_surface_t* SurfaceFromPixbuf(const GdkPixbuf* pixbuf)
{
    int width = gdk_pixbuf_get_width(pixbuf);
    int height = gdk_pixbuf_get_height(pixbuf);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    int srcStride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* src = gdk_pixbuf_read_pixels(pixbuf);
    unsigned char* dst = cairo_image_surface_get_data(surface);
    int dstStride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
    {
        const guchar* s = src + static_cast<std::size_t>(y) * srcStride;
        auto* d = reinterpret_cast<_dword*>(dst + static_cast<std::size_t>(y) * dstStride);
        for (int x = 0; x < width; ++x, s += channels)
        {
            _dword a = alpha ? s[3] : 255;
            _dword r = (s[0] * a + 127) / 255;
            _dword g = (s[1] * a + 127) / 255;
            _dword b = (s[2] * a + 127) / 255;
            d[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

_dword Unpremultiply(_dword pixel)
{
    _dword a = pixel >> 24;
    if (a == 0)
        return 0;
    if (a == 255)
        return pixel;
    _dword r = std::min<_dword>(255, (((pixel >> 16) & 0xFF) * 255 + a / 2) / a);
    _dword g = std::min<_dword>(255, (((pixel >> 8) & 0xFF) * 255 + a / 2) / a);
    _dword b = std::min<_dword>(255, ((pixel & 0xFF) * 255 + a / 2) / a);
    return (a << 24) | (r << 16) | (g << 8) | b;
}

void SetColor(cairo_t* cr, _dword argb)
{
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
}

PangoFontMap* FontMap()
{
    return pango_cairo_font_map_get_default();
}

// Pixels of character height per pixel of cell height, for one family (cached).
double CellToEmRatio(const std::string& family)
{
    static std::unordered_map<std::string, double> cache;
    auto it = cache.find(family);
    if (it != cache.end())
        return it->second;
    double ratio = 1.0 / 1.2;
    PangoContext* context = pango_font_map_create_context(FontMap());
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family.c_str());
    pango_font_description_set_absolute_size(desc, 100.0 * PANGO_SCALE);
    if (PangoFontMetrics* metrics = pango_context_get_metrics(context, desc, nullptr))
    {
        int cell = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
        if (cell > 0)
            ratio = 100.0 * PANGO_SCALE / cell;
        pango_font_metrics_unref(metrics);
    }
    pango_font_description_free(desc);
    g_object_unref(context);
    cache.emplace(family, ratio);
    return ratio;
}
} // namespace

namespace Gtk
{
PangoFontDescription* NewFontDescription(const FontSpec& font)
{
    std::string family = font.name.empty() ? std::string("Sans") : Utf8(font.name);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family.c_str());
    double em = 12.0;
    if (font.height > 0)
        em = font.height * CellToEmRatio(family);
    else if (font.height < 0)
        em = -font.height;
    pango_font_description_set_absolute_size(desc, std::max(em, 1.0) * PANGO_SCALE);
    if (font.bold)
        pango_font_description_set_weight(desc, PANGO_WEIGHT_BOLD);
    return desc;
}
} // namespace Gtk

// --- Images -----------------------------------------------------------------------------------------

struct UiImage::Impl
{
    struct Frame
    {
        cairo_surface_t* surface = nullptr;
        _dword delay = 0;
    };
    std::vector<Frame> frames;
    _dword selected = 0;
    int width = 0;
    int height = 0;

    ~Impl()
    {
        for (Frame& frame : frames)
            cairo_surface_destroy(frame.surface);
    }
};

UiImage::UiImage(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}
UiImage::~UiImage() = default;

std::unique_ptr<UiImage> UiImage::Decode(const void* bytes, std::size_t size)
{
    if (!bytes || size == 0)
        return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GError* error = nullptr;
    bool ok = gdk_pixbuf_loader_write(loader, static_cast<const guchar*>(bytes), size, &error);
    ok = gdk_pixbuf_loader_close(loader, ok ? &error : nullptr) && ok;
    if (error)
        g_error_free(error);
    GdkPixbufAnimation* animation = ok ? gdk_pixbuf_loader_get_animation(loader) : nullptr;
    if (!animation)
    {
        g_object_unref(loader);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->width = gdk_pixbuf_animation_get_width(animation);
    impl->height = gdk_pixbuf_animation_get_height(animation);
    std::size_t frameBytes = static_cast<std::size_t>(impl->width) * impl->height * 4;
    if (impl->width <= 0 || impl->height <= 0 || impl->width > _MAX_CANVAS_SIDE ||
        impl->height > _MAX_CANVAS_SIDE)
    {
        g_object_unref(loader);
        return nullptr;
    }
    if (gdk_pixbuf_animation_is_static_image(animation))
    {
        GdkPixbuf* still = gdk_pixbuf_animation_get_static_image(animation);
        if (cairo_surface_t* surface = still ? SurfaceFromPixbuf(still) : nullptr)
            impl->frames.push_back({surface, 0});
    }
    else
    {
        // Walk the animation's clock frame by frame until it shows the first frame again.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GTimeVal clock{0, 0};
        GdkPixbufAnimationIter* iter = gdk_pixbuf_animation_get_iter(animation, &clock);
        const GdkPixbuf* first = nullptr;
        std::size_t gifFrames = CountGifFrames(static_cast<const _byte*>(bytes), size);
        std::size_t limit = gifFrames ? std::min<std::size_t>(gifFrames, _MAX_FRAMES) : _MAX_FRAMES;
        while (iter && impl->frames.size() < limit &&
               (impl->frames.size() + 1) * frameBytes <= _MAX_IMAGE_BYTES)
        {
            GdkPixbuf* pixbuf = gdk_pixbuf_animation_iter_get_pixbuf(iter);
            if (!pixbuf || (!gifFrames && first && pixbuf == first))
                break;
            if (!first)
                first = pixbuf;
            int delay = gdk_pixbuf_animation_iter_get_delay_time(iter);
            cairo_surface_t* surface = SurfaceFromPixbuf(pixbuf);
            if (!surface)
                break;
            impl->frames.push_back({surface, static_cast<_dword>(std::max(delay, 0))});
            if (delay < 0)
                break;
            g_time_val_add(&clock, static_cast<glong>(std::max(delay, 1)) * 1000);
            gdk_pixbuf_animation_iter_advance(iter, &clock);
        }
        if (iter)
            g_object_unref(iter);
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    g_object_unref(loader);
    if (impl->frames.empty())
        return nullptr;
    return std::unique_ptr<UiImage>(new UiImage(std::move(impl)));
}

std::unique_ptr<UiImage> UiImage::FromCanvas(const Canvas& canvas)
{
    cairo_surface_t* source = Gtk::CanvasSurface(canvas);
    if (!source)
        return nullptr;
    cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, canvas.Width(), canvas.Height());
    cairo_t* cr = cairo_create(copy);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    auto impl = std::make_unique<Impl>();
    impl->width = canvas.Width();
    impl->height = canvas.Height();
    impl->frames.push_back({copy, 0});
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
    return frame < mImpl->frames.size() ? mImpl->frames[frame].delay : 0;
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
    cairo_surface_t* surface = mImpl->frames[mImpl->selected].surface;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    return Unpremultiply(reinterpret_cast<const _dword*>(data + static_cast<std::size_t>(y) * stride)[x]);
}

namespace Gtk
{
cairo_surface_t* ImageSurface(const UiImage& image)
{
    UiImage::Impl* impl = image.GetImpl();
    return impl ? impl->frames[impl->selected].surface : nullptr;
}

GdkPixbuf* ImageToPixbuf(const UiImage& image)
{
    cairo_surface_t* surface = ImageSurface(image);
    if (!surface)
        return nullptr;
    return gdk_pixbuf_get_from_surface(surface, 0, 0, image.Width(), image.Height());
}
} // namespace Gtk

// --- Canvas -----------------------------------------------------------------------------------------

struct Canvas::Impl
{
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    int width = 0;
    int height = 0;

    ~Impl() { Release(); }
    void Release()
    {
        if (cr)
            cairo_destroy(cr);
        if (surface)
            cairo_surface_destroy(surface);
        cr = nullptr;
        surface = nullptr;
        width = height = 0;
    }
};

Canvas::Canvas() : mImpl(std::make_unique<Impl>()) {}

Canvas::Canvas(int width, int height) : mImpl(std::make_unique<Impl>())
{
    Resize(width, height);
}

Canvas::~Canvas() = default;
Canvas::Canvas(Canvas&& other) noexcept = default;
Canvas& Canvas::operator=(Canvas&& other) noexcept = default;

bool Canvas::Resize(int width, int height)
{
    if (!mImpl)
        mImpl = std::make_unique<Impl>();
    mImpl->Release();
    if (width < 1 || height < 1 || width > _MAX_CANVAS_SIDE || height > _MAX_CANVAS_SIDE)
        return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_destroy(surface);
        return false;
    }
    mImpl->surface = surface;
    mImpl->cr = cairo_create(surface);
    mImpl->width = width;
    mImpl->height = height;
    return true;
}

bool Canvas::IsEmpty() const
{
    return !mImpl || !mImpl->surface;
}
int Canvas::Width() const
{
    return mImpl ? mImpl->width : 0;
}
int Canvas::Height() const
{
    return mImpl ? mImpl->height : 0;
}

void Canvas::Clear(_dword argb)
{
    if (IsEmpty())
        return;
    cairo_t* cr = mImpl->cr;
    cairo_save(cr);
    cairo_reset_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    SetColor(cr, argb);
    cairo_paint(cr);
    cairo_restore(cr);
}

void Canvas::FillRect(const Rect& rect, _dword argb)
{
    if (IsEmpty() || rect.IsEmpty())
        return;
    cairo_t* cr = mImpl->cr;
    cairo_save(cr);
    SetColor(cr, argb);
    cairo_rectangle(cr, rect.left, rect.top, rect.Width(), rect.Height());
    cairo_fill(cr);
    cairo_restore(cr);
}

void Canvas::SetRect(const Rect& rect, _dword argb)
{
    if (IsEmpty() || rect.IsEmpty())
        return;
    cairo_t* cr = mImpl->cr;
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    SetColor(cr, argb);
    cairo_rectangle(cr, rect.left, rect.top, rect.Width(), rect.Height());
    cairo_fill(cr);
    cairo_restore(cr);
}

void Canvas::DrawImagePart(const UiImage& image, const Rect& src, const Rect& dest)
{
    cairo_surface_t* surface = Gtk::ImageSurface(image);
    if (IsEmpty() || !surface || src.IsEmpty() || dest.IsEmpty())
        return;
    cairo_t* cr = mImpl->cr;
    cairo_save(cr);
    cairo_rectangle(cr, dest.left, dest.top, dest.Width(), dest.Height());
    cairo_clip(cr);
    double sx = static_cast<double>(dest.Width()) / src.Width();
    double sy = static_cast<double>(dest.Height()) / src.Height();
    cairo_translate(cr, dest.left, dest.top);
    cairo_scale(cr, sx, sy);
    cairo_set_source_surface(cr, surface, -src.left, -src.top);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    bool exact = sx == 1.0 && sy == 1.0;
    cairo_pattern_set_filter(pattern, exact ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    // Padding keeps stretched edges from fading into transparency.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    // Padding stops at the image's own edges.
    cairo_rectangle(cr, -src.left, -src.top, image.Width(), image.Height());
    cairo_clip(cr);
    cairo_paint(cr);
    cairo_restore(cr);
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

void Canvas::DrawCanvas(const Canvas& canvas, int x, int y)
{
    cairo_surface_t* source = Gtk::CanvasSurface(canvas);
    if (IsEmpty() || !source)
        return;
    cairo_t* cr = mImpl->cr;
    cairo_save(cr);
    cairo_set_source_surface(cr, source, x, y);
    cairo_rectangle(cr, x, y, canvas.Width(), canvas.Height());
    cairo_fill(cr);
    cairo_restore(cr);
}

static PangoLayout* MakeLayout(cairo_t* cr, const String& text, const FontSpec& font, int width,
                               _dword format)
{
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* desc = Gtk::NewFontDescription(font);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    std::string utf8 = Gtk::Utf8(text);
    if (format & _DT_SINGLELINE)
        std::replace_if(
            utf8.begin(), utf8.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
    if (width > 0 && (format & _DT_WORDBREAK) && !(format & _DT_SINGLELINE))
    {
        pango_layout_set_width(layout, width * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(layout, (format & _DT_RIGHT)    ? PANGO_ALIGN_RIGHT
                                           : (format & _DT_CENTER) ? PANGO_ALIGN_CENTER
                                                                   : PANGO_ALIGN_LEFT);
    }
    else if (width > 0 && (format & _DT_END_ELLIPSIS))
    {
        pango_layout_set_width(layout, width * PANGO_SCALE);
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    }
    return layout;
}

int Canvas::DrawString(const String& text, const Rect& rect, const FontSpec& font, _dword argb, _dword format)
{
    if (IsEmpty() || text.empty())
        return 0;
    cairo_t* cr = mImpl->cr;
    cairo_save(cr);
    if (!(format & _DT_NOCLIP))
    {
        cairo_rectangle(cr, rect.left, rect.top, rect.Width(), rect.Height());
        cairo_clip(cr);
    }
    PangoLayout* layout = MakeLayout(cr, text, font, rect.Width(), format);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    bool wrapped = pango_layout_get_width(layout) > 0 && (format & _DT_WORDBREAK);
    double x = rect.left;
    if (!wrapped)
    {
        if (format & _DT_RIGHT)
            x = rect.right - logical.width - logical.x;
        else if (format & _DT_CENTER)
            x = rect.left + (rect.Width() - logical.width) / 2.0 - logical.x;
        else
            x = rect.left - logical.x;
    }
    double y = rect.top;
    if (format & _DT_BOTTOM)
        y = rect.bottom - logical.height;
    else if (format & _DT_VCENTER)
        y = rect.top + (rect.Height() - logical.height) / 2.0;
    SetColor(cr, argb);
    cairo_move_to(cr, std::floor(x), std::floor(y));
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_restore(cr);
    return logical.height;
}

Size Canvas::MeasureString(const String& text, const FontSpec& font, int maxWidth, _dword format) const
{
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    PangoLayout* layout = MakeLayout(cr, text, font, maxWidth, format);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return {logical.width, logical.height};
}

void Canvas::SetClip(const Rect& rect)
{
    if (IsEmpty())
        return;
    cairo_reset_clip(mImpl->cr);
    cairo_rectangle(mImpl->cr, rect.left, rect.top, std::max(rect.Width(), 0), std::max(rect.Height(), 0));
    cairo_clip(mImpl->cr);
}

void Canvas::ResetClip()
{
    if (!IsEmpty())
        cairo_reset_clip(mImpl->cr);
}

_dword Canvas::GetPixel(int x, int y) const
{
    if (IsEmpty() || x < 0 || y < 0 || x >= mImpl->width || y >= mImpl->height)
        return 0;
    cairo_surface_flush(mImpl->surface);
    const _byte* row = Data() + static_cast<std::size_t>(y) * Stride();
    return Unpremultiply(reinterpret_cast<const _dword*>(row)[x]);
}

const _byte* Canvas::Data() const
{
    if (IsEmpty())
        return nullptr;
    cairo_surface_flush(mImpl->surface);
    return cairo_image_surface_get_data(mImpl->surface);
}

_byte* Canvas::MutableData()
{
    if (IsEmpty())
        return nullptr;
    cairo_surface_flush(mImpl->surface);
    return cairo_image_surface_get_data(mImpl->surface);
}

int Canvas::Stride() const
{
    return IsEmpty() ? 0 : cairo_image_surface_get_stride(mImpl->surface);
}

namespace Gtk
{
cairo_surface_t* CanvasSurface(const Canvas& canvas)
{
    Canvas::Impl* impl = canvas.GetImpl();
    if (!impl || !impl->surface)
        return nullptr;
    // The pixels may have been written directly (MutableData).
    cairo_surface_mark_dirty(impl->surface);
    return impl->surface;
}
} // namespace Gtk

} // namespace Vexel::Ui
