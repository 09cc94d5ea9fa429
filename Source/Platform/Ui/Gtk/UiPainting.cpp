// Painting of the windows: the backing surface a canvas is presented into, the draw handlers that show
// it, paint requests, per-pixel alpha and region shapes.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include <cairo-xlib.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cstring>

namespace Vexel::Ui::Gtk
{

// A native drawing window (one handed out by GetNativeWindowHandle) does not show what GTK paints
// for the widget: while the layer owns its pixels they go into the X window directly.
void PaintNativeDirect(WindowRecord& record)
{
    GdkWindow* bin = BodyWindow(record);
    if (!bin || !record.mBacking || record.mForeignPaint || !GDK_IS_X11_WINDOW(bin) ||
        !gdk_window_has_native(bin))
        return;
    cairo_surface_t* target = cairo_xlib_surface_create(
        GDK_WINDOW_XDISPLAY(bin), GDK_WINDOW_XID(bin), GDK_VISUAL_XVISUAL(gdk_window_get_visual(bin)),
        gdk_window_get_width(bin), gdk_window_get_height(bin));
    cairo_t* cr = cairo_create(target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, record.mBacking, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    cairo_surface_destroy(target);
    XFlush(GDK_WINDOW_XDISPLAY(bin));
}

static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data)
{
    WindowRecord* record = FindRecord(IdOf(data));
    if (!record)
        return FALSE;
    if (record->mForeignPaint)
        return TRUE;
    if (record->mHandedOut)
    {
        PaintNativeDirect(*record);
        return TRUE;
    }
    int offsetY = record->mTop ? MenuBarHeight(*record) : 0;
    if (record->mBacking)
    {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, record->mBacking, 0, -offsetY);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    else if (record->IsLayered())
    {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    return FALSE;
}

static gboolean OnTopDraw(GtkWidget* widget, cairo_t* cr, gpointer data)
{
    WindowRecord* record = FindRecord(IdOf(data));
    if (record && record->IsLayered())
    {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    return FALSE;
}

static void OnBodyRealize(GtkWidget* widget, gpointer data)
{
    WindowRecord* record = FindRecord(IdOf(data));
    if (!record)
        return;
    GdkWindow* bin = BodyWindow(*record);
    if (!bin)
        return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (record->IsLayered() || record->mBacking)
    {
        GdkRGBA clear{0, 0, 0, 0};
        gdk_window_set_background_rgba(bin, &clear);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (record->mCursor == _IDC_HAND)
        SetUiCursor(record->mId, _IDC_HAND);
}

void ConnectBodyPainting(GtkWidget* body, WindowId id)
{
    gpointer data = GUINT_TO_POINTER(id);
    gtk_widget_set_app_paintable(body, TRUE);
    g_signal_connect(body, "draw", G_CALLBACK(OnDraw), data);
    g_signal_connect(body, "realize", G_CALLBACK(OnBodyRealize), data);
}

void ConnectTopLevelPainting(GtkWidget* top, WindowId id)
{
    g_signal_connect(top, "draw", G_CALLBACK(OnTopDraw), GUINT_TO_POINTER(id));
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{

using namespace Gtk;

bool InvalidateUiWindow(WindowId window, bool frame)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->mInvalid = true;
    if (frame)
        record->mFrameInvalid = true;
    WakeUp();
    return true;
}

bool UpdateUiWindow(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    if (!IsUiWindowVisible(window))
        return true;
    if (record->mFrameInvalid)
    {
        record->mFrameInvalid = false;
        if (record->mInsets != Rect{})
            SendUiMessage(window, _WM_NCPAINT, 1, 0);
    }
    record = FindRecord(window);
    if (record && record->mInvalid)
    {
        record->mInvalid = false;
        SendUiMessage(window, _WM_PAINT, 0, 0);
    }
    return true;
}

static bool EnsureBacking(WindowRecord& record, int width, int height)
{
    if (width <= 0 || height <= 0)
        return false;
    if (record.mBacking && cairo_image_surface_get_width(record.mBacking) == width &&
        cairo_image_surface_get_height(record.mBacking) == height)
        return true;
    cairo_surface_t* fresh = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(fresh) != CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_destroy(fresh);
        return false;
    }
    if (record.mBacking)
    {
        cairo_t* cr = cairo_create(fresh);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, record.mBacking, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(record.mBacking);
    }
    record.mBacking = fresh;
    if (GdkWindow* bin = BodyWindow(record))
    {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GdkRGBA clear{0, 0, 0, 0};
        gdk_window_set_background_rgba(bin, &clear);
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    return true;
}

static bool PaintBacking(WindowRecord& record, const Canvas& canvas, int x, int y, bool replace)
{
    cairo_surface_t* source = CanvasSurface(canvas);
    if (!source)
        return false;
    int width = record.mBounds.Width();
    int height = record.mBounds.Height() - (record.mTop ? MenuBarHeight(record) : 0);
    if (!EnsureBacking(record, width, height))
        return false;
    cairo_t* cr = cairo_create(record.mBacking);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (replace)
    {
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    }
    cairo_rectangle(cr, x, y, canvas.Width(), canvas.Height());
    cairo_clip(cr);
    cairo_set_source_surface(cr, source, x, y);
    cairo_paint(cr);
    cairo_destroy(cr);
    if (record.mHandedOut)
        PaintNativeDirect(record);
    else
        gtk_widget_queue_draw(record.mBody);
    return true;
}

bool PresentCanvas(WindowId window, const Canvas& canvas, int x, int y)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody || !GTK_IS_LAYOUT(record->mBody) || canvas.IsEmpty())
        return false;
    return PaintBacking(*record, canvas, record->mInsets.left + x, record->mInsets.top + y, false);
}

// The input shape of a per-pixel-alpha window: every pixel that is not fully transparent.
static cairo_region_t* RegionFromAlpha(const Canvas& canvas)
{
    cairo_region_t* region = cairo_region_create();
    const _byte* data = canvas.Data();
    int stride = canvas.Stride();
    for (int y = 0; y < canvas.Height(); ++y)
    {
        const _dword* row = reinterpret_cast<const _dword*>(data + static_cast<std::size_t>(y) * stride);
        int x = 0;
        while (x < canvas.Width())
        {
            while (x < canvas.Width() && (row[x] >> 24) == 0)
                ++x;
            int start = x;
            while (x < canvas.Width() && (row[x] >> 24) != 0)
                ++x;
            if (x > start)
            {
                cairo_rectangle_int_t r{start, y, x - start, 1};
                cairo_region_union_rectangle(region, &r);
            }
        }
    }
    return region;
}

bool PresentWindowCanvas(WindowId window, const Canvas& canvas)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody || !GTK_IS_LAYOUT(record->mBody) || canvas.IsEmpty())
        return false;
    bool layered = record->IsLayered();
    if (!PaintBacking(*record, canvas, 0, 0, layered))
        return false;
    if (layered)
    {
        if (record->mAlphaShape)
            cairo_region_destroy(record->mAlphaShape);
        record->mAlphaShape = RegionFromAlpha(canvas);
        ApplyShape(*record);
    }
    return true;
}

bool CaptureWindowPixels(WindowId window, Canvas& canvas)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody)
        return false;
    GtkWindow* top = ToplevelOf(*record);
    if (!top || !gtk_widget_get_mapped(GTK_WIDGET(top)))
        return false;
    // Let pending drawing reach the screen first.
    GdkWindow* gdkTop = gtk_widget_get_window(GTK_WIDGET(top));
    for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i)
    {
    }
    gdk_display_sync(gdk_window_get_display(gdkTop));
    Rect bounds;
    GetWindowBounds(window, bounds);
    WindowRecord* topRecord = FindRecord(GetTopLevelWindow(window));
    Rect topBounds = topRecord ? topRecord->mBounds : bounds;
    int x = bounds.left - topBounds.left;
    int y = bounds.top - topBounds.top;
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdkTop, x, y, bounds.Width(), bounds.Height());
    if (!pixbuf)
        return false;
    int width = gdk_pixbuf_get_width(pixbuf);
    int height = gdk_pixbuf_get_height(pixbuf);
    if (!canvas.Resize(width, height))
    {
        g_object_unref(pixbuf);
        return false;
    }
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    _byte* out = canvas.MutableData();
    for (int row = 0; row < height; ++row)
    {
        const guchar* src = pixels + static_cast<std::size_t>(row) * stride;
        _dword* dst = reinterpret_cast<_dword*>(out + static_cast<std::size_t>(row) * canvas.Stride());
        for (int col = 0; col < width; ++col)
        {
            const guchar* p = src + col * channels;
            _dword a = alpha ? p[3] : 255;
            _dword r = p[0] * a / 255;
            _dword g = p[1] * a / 255;
            _dword b = p[2] * a / 255;
            dst[col] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    g_object_unref(pixbuf);
    return true;
}

bool SetWindowRegion(WindowId window, const std::vector<Rect>& rects)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody)
        return false;
    if (record->mRegion)
        cairo_region_destroy(record->mRegion);
    record->mRegion = nullptr;
    record->mHasRegion = !rects.empty();
    if (record->mHasRegion)
    {
        record->mRegion = cairo_region_create();
        for (const Rect& r : rects)
        {
            if (r.IsEmpty())
                continue;
            cairo_rectangle_int_t area{r.left, r.top, r.Width(), r.Height()};
            cairo_region_union_rectangle(record->mRegion, &area);
        }
    }
    ApplyShape(*record);
    gtk_widget_queue_draw(record->mBody);
    return true;
}

bool SetWindowRegionData(WindowId window, const void* data, std::size_t size)
{
    std::vector<Rect> rects;
    if (!ParseRegionData(data, size, rects))
        return false;
    if (rects.empty())
        rects.push_back({0, 0, 0, 0}); // an empty region hides the whole window
    return SetWindowRegion(window, rects);
}

} // namespace Vexel::Ui
