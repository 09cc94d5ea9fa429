// Canvases shown in windows of the Win32 backend: each window keeps the pixels presented to it (in
// window coordinates) and shows them again when the system asks it to paint; layered windows take the
// canvas's alpha through UpdateLayeredWindow; shaped windows get a region.
#include "UiWin32Private.h"

#include <algorithm>
#include <cstring>

namespace Vexel::Ui::Win32
{
namespace
{

POINT ClientOffset(HWND hwnd)
{
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    RECT outer;
    GetWindowRect(hwnd, &outer);
    return {origin.x - outer.left, origin.y - outer.top};
}

SIZE WindowSize(HWND hwnd)
{
    RECT outer;
    GetWindowRect(hwnd, &outer);
    return {outer.right - outer.left, outer.bottom - outer.top};
}

// Where the client area lies in the window, as of the last time the window was not minimised.
RECT ClientInWindow(WindowRecord& record)
{
    if (IsIconic(record.hwnd))
        return record.clientInWindow;
    POINT offset = ClientOffset(record.hwnd);
    RECT client;
    GetClientRect(record.hwnd, &client);
    OffsetRect(&client, offset.x, offset.y);
    record.clientInWindow = client;
    return client;
}

bool IsLayered(HWND hwnd)
{
    return (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
}

// Makes the backing store the window's size, keeping what it held. A minimised window keeps the
// size it had (its restored size when it never had one), so what is presented meanwhile shows on restore.
void FitBacking(WindowRecord& record)
{
    SIZE size = WindowSize(record.hwnd);
    if (IsIconic(record.hwnd))
    {
        if (record.backingWidth > 0 && record.backingHeight > 0)
            return;
        WINDOWPLACEMENT placement{};
        placement.length = sizeof(placement);
        GetWindowPlacement(record.hwnd, &placement);
        size = {placement.rcNormalPosition.right - placement.rcNormalPosition.left,
                placement.rcNormalPosition.bottom - placement.rcNormalPosition.top};
        const Rect& in = record.insets;
        record.clientInWindow = {in.left, in.top, std::max<LONG>(size.cx - in.right, in.left),
                                 std::max<LONG>(size.cy - in.bottom, in.top)};
    }
    int width = std::max<int>(size.cx, 0);
    int height = std::max<int>(size.cy, 0);
    if (width == record.backingWidth && height == record.backingHeight)
        return;
    // Nothing presented yet: black, or see-through for a window that takes the canvas's alpha.
    std::vector<_dword> pixels(static_cast<std::size_t>(width) * height,
                               IsLayered(record.hwnd) ? 0u : 0xFF000000u);
    for (int y = 0; y < std::min(height, record.backingHeight); ++y)
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * width,
                    record.backing.data() + static_cast<std::size_t>(y) * record.backingWidth,
                    static_cast<std::size_t>(std::min(width, record.backingWidth)) * 4);
    record.backing = std::move(pixels);
    record.backingWidth = width;
    record.backingHeight = height;
}

// Copies the canvas into the backing store at x, y (window coordinates), within the limit.
void CopyIntoBacking(WindowRecord& record, const Canvas& canvas, int x, int y, const RECT& limit)
{
    const auto* src = reinterpret_cast<const _dword*>(canvas.Data());
    int left = std::max<int>(x, limit.left);
    int top = std::max<int>(y, limit.top);
    int right = std::min<int>(x + canvas.Width(), limit.right);
    int bottom = std::min<int>(y + canvas.Height(), limit.bottom);
    for (int row = top; row < bottom; ++row)
        if (right > left)
            std::memcpy(record.backing.data() + static_cast<std::size_t>(row) * record.backingWidth + left,
                        src + static_cast<std::size_t>(row - y) * canvas.Width() + (left - x),
                        static_cast<std::size_t>(right - left) * 4);
}

// Puts part of the backing store on the device context; dcOrigin is where window (0, 0) lies on it.
void Blit(const WindowRecord& record, HDC dc, POINT dcOrigin, const RECT& part)
{
    RECT r{std::max<LONG>(part.left, 0), std::max<LONG>(part.top, 0),
           std::min<LONG>(part.right, record.backingWidth),
           std::min<LONG>(part.bottom, record.backingHeight)};
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = record.backingWidth;
    info.bmiHeader.biHeight = -record.backingHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // A top-down DIB: the start line counts from the bottom of the whole picture.
    StretchDIBits(dc, r.left + dcOrigin.x, r.top + dcOrigin.y, r.right - r.left, r.bottom - r.top, r.left,
                  record.backingHeight - r.bottom, r.right - r.left, r.bottom - r.top, record.backing.data(),
                  &info, DIB_RGB_COLORS, SRCCOPY);
}

// Shows the whole backing store as a per-pixel-alpha window.
bool UpdateLayered(WindowRecord& record)
{
    FitBacking(record);
    if (record.backingWidth <= 0 || record.backingHeight <= 0)
        return false;
    if (IsIconic(record.hwnd))
        return true; // shown when restored (UpdateLayeredWindow would size the window to the picture)
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = record.backingWidth;
    info.bmiHeader.biHeight = -record.backingHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool done = false;
    if (bitmap)
    {
        std::memcpy(bits, record.backing.data(), record.backing.size() * 4);
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECT outer;
        GetWindowRect(record.hwnd, &outer);
        POINT position{outer.left, outer.top};
        SIZE size{record.backingWidth, record.backingHeight};
        POINT origin{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        done = UpdateLayeredWindow(record.hwnd, screen, &position, &size, dc, &origin, 0, &blend,
                                   ULW_ALPHA) != FALSE;
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return done;
}

bool ApplyRegion(HWND hwnd, const std::vector<Rect>& rects)
{
    if (rects.empty())
        return SetWindowRgn(hwnd, nullptr, TRUE) != 0;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    for (const Rect& r : rects)
    {
        HRGN part = CreateRectRgn(r.left, r.top, r.right, r.bottom);
        CombineRgn(region, region, part, RGN_OR);
        DeleteObject(part);
    }
    // The window owns the region from here on.
    if (!SetWindowRgn(hwnd, region, TRUE))
    {
        DeleteObject(region);
        return false;
    }
    return true;
}

} // namespace

void RefreshLayered(WindowRecord& record)
{
    if (!record.backing.empty() && !record.foreignPaint && IsLayered(record.hwnd))
        UpdateLayered(record);
}

void PaintClientFromBacking(WindowRecord& record)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(record.hwnd, &paint);
    if (dc && !record.foreignPaint && !record.backing.empty())
    {
        POINT offset = ClientOffset(record.hwnd);
        RECT client;
        GetClientRect(record.hwnd, &client);
        OffsetRect(&client, offset.x, offset.y);
        Blit(record, dc, POINT{-offset.x, -offset.y}, client);
    }
    EndPaint(record.hwnd, &paint);
}

void PaintFrameFromBacking(WindowRecord& record)
{
    // A frame the program never presented (the system's own caption, say) is left as drawn.
    if (record.foreignPaint || !record.frameBacking || record.backing.empty() || IsLayered(record.hwnd))
        return;
    HDC dc = GetWindowDC(record.hwnd);
    if (!dc)
        return;
    // The frame only: neither the client area nor the system's menu bar.
    POINT offset = ClientOffset(record.hwnd);
    RECT client;
    GetClientRect(record.hwnd, &client);
    OffsetRect(&client, offset.x, offset.y);
    ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
    if (GetMenu(record.hwnd))
    {
        MENUBARINFO info{};
        info.cbSize = sizeof(info);
        if (GetMenuBarInfo(record.hwnd, OBJID_MENU, 0, &info))
        {
            RECT outer;
            GetWindowRect(record.hwnd, &outer);
            OffsetRect(&info.rcBar, -outer.left, -outer.top);
            ExcludeClipRect(dc, info.rcBar.left, info.rcBar.top, info.rcBar.right, info.rcBar.bottom);
        }
    }
    Blit(record, dc, POINT{0, 0}, RECT{0, 0, record.backingWidth, record.backingHeight});
    ReleaseDC(record.hwnd, dc);
}

} // namespace Vexel::Ui::Win32

namespace Vexel::Ui
{
using namespace Win32;

bool PresentCanvas(WindowId window, const Canvas& canvas, int x, int y)
{
    WindowRecord* record = FindRecord(window);
    if (!record || canvas.IsEmpty())
        return false;
    FitBacking(*record);
    RECT client = ClientInWindow(*record);
    POINT offset{client.left, client.top};
    CopyIntoBacking(*record, canvas, offset.x + x, offset.y + y, client);
    if (record->foreignPaint)
        return true;
    if (IsLayered(record->hwnd))
        return UpdateLayered(*record);
    if (IsIconic(record->hwnd))
        return true;
    if (HDC dc = GetDC(record->hwnd))
    {
        RECT part{offset.x + x, offset.y + y, offset.x + x + canvas.Width(), offset.y + y + canvas.Height()};
        IntersectRect(&part, &part, &client);
        Blit(*record, dc, POINT{-offset.x, -offset.y}, part);
        ReleaseDC(record->hwnd, dc);
    }
    return true;
}

bool PresentWindowCanvas(WindowId window, const Canvas& canvas)
{
    WindowRecord* record = FindRecord(window);
    if (!record || canvas.IsEmpty())
        return false;
    FitBacking(*record);
    std::fill(record->backing.begin(), record->backing.end(), IsLayered(record->hwnd) ? 0u : 0xFF000000u);
    CopyIntoBacking(*record, canvas, 0, 0, RECT{0, 0, record->backingWidth, record->backingHeight});
    record->frameBacking = true;
    if (record->foreignPaint)
        return true;
    if (IsLayered(record->hwnd))
        return UpdateLayered(*record);
    if (IsIconic(record->hwnd))
        return true;
    if (HDC dc = GetWindowDC(record->hwnd))
    {
        if (GetMenu(record->hwnd))
        {
            MENUBARINFO info{};
            info.cbSize = sizeof(info);
            RECT outer;
            GetWindowRect(record->hwnd, &outer);
            if (GetMenuBarInfo(record->hwnd, OBJID_MENU, 0, &info))
            {
                OffsetRect(&info.rcBar, -outer.left, -outer.top);
                ExcludeClipRect(dc, info.rcBar.left, info.rcBar.top, info.rcBar.right, info.rcBar.bottom);
            }
        }
        Blit(*record, dc, POINT{0, 0}, RECT{0, 0, record->backingWidth, record->backingHeight});
        ReleaseDC(record->hwnd, dc);
    }
    return true;
}

bool CaptureWindowPixels(WindowId window, Canvas& canvas)
{
    if (!IsUiWindow(window))
        return false;
    RECT outer;
    GetWindowRect(ToHwnd(window), &outer);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    if (!canvas.Resize(width, height))
        return false;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool done = false;
    if (bitmap)
    {
        HGDIOBJ old = SelectObject(dc, bitmap);
        done = BitBlt(dc, 0, 0, width, height, screen, outer.left, outer.top, SRCCOPY | CAPTUREBLT) != FALSE;
        GdiFlush();
        if (done)
        {
            const auto* src = static_cast<const _dword*>(bits);
            auto* dst = reinterpret_cast<_dword*>(canvas.MutableData());
            for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i)
                dst[i] = src[i] | 0xFF000000u; // the screen is opaque
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return done;
}

bool SetWindowRegion(WindowId window, const std::vector<Rect>& rects)
{
    if (!IsUiWindow(window))
        return false;
    return ApplyRegion(ToHwnd(window), rects);
}

bool SetWindowRegionData(WindowId window, const void* data, std::size_t size)
{
    std::vector<Rect> rects;
    if (!IsUiWindow(window) || !ParseRegionData(data, size, rects))
        return false;
    if (rects.empty())
    {
        // A valid block with nothing in it hides the whole window, as an empty region does.
        HRGN empty = CreateRectRgn(0, 0, 0, 0);
        if (!SetWindowRgn(ToHwnd(window), empty, TRUE))
        {
            DeleteObject(empty);
            return false;
        }
        return true;
    }
    return ApplyRegion(ToHwnd(window), rects);
}

} // namespace Vexel::Ui
