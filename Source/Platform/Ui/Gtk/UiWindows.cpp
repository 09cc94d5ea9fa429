// Windows of the GTK backend: each window is a GtkLayout "body" (drawing, input, children), inside its
// own GtkWindow when it is a top-level one. This file keeps the window table and each window's life and
// geometry; UiEvents.cpp turns GTK signals into window messages and UiPainting.cpp draws.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/System.h"

#include <gdk/gdkx.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Vexel::Ui::Gtk
{

UiState& State()
{
    static UiState state;
    return state;
}

WindowRecord* FindRecord(WindowId window)
{
    if (window == 0)
        return nullptr;
    auto& windows = State().mWindows;
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : it->second.get();
}

WindowId AllocateWindowId()
{
    auto& state = State();
    for (;;)
    {
        WindowId id = state.mNextId++;
        if (state.mNextId == 0)
            state.mNextId = 0x00010000;
        if (id != 0 && state.mWindows.find(id) == state.mWindows.end())
            return id;
    }
}

WindowId AddRecord(std::unique_ptr<WindowRecord> record)
{
    WindowId id = AllocateWindowId();
    record->mId = id;
    State().mWindows.emplace(id, std::move(record));
    return id;
}

_dword NowMs()
{
    return GetTime();
}

std::string Utf8(const String& text)
{
    return ToUtf8(text);
}
String Wide(const char* text)
{
    return text ? FromUtf8(text) : String();
}

GdkWindow* BodyWindow(const WindowRecord& record)
{
    if (!record.mBody)
        return nullptr;
    if (GTK_IS_LAYOUT(record.mBody))
        return gtk_layout_get_bin_window(GTK_LAYOUT(record.mBody));
    return gtk_widget_get_window(record.mBody);
}

GtkWindow* ToplevelOf(const WindowRecord& record)
{
    if (record.mTop)
        return GTK_WINDOW(record.mTop);
    if (!record.mBody)
        return nullptr;
    GtkWidget* top = gtk_widget_get_toplevel(record.mBody);
    return GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

int MenuBarHeight(const WindowRecord& record)
{
    if (!record.mMenuBar || !gtk_widget_get_visible(record.mMenuBar))
        return 0;
    int minimum = 0;
    int natural = 0;
    gtk_widget_get_preferred_height(record.mMenuBar, &minimum, &natural);
    return natural;
}

Size ClientSize(const WindowRecord& record)
{
    int width = record.mBounds.Width() - record.mInsets.left - record.mInsets.right;
    int height = record.mBounds.Height() - record.mInsets.top - record.mInsets.bottom - MenuBarHeight(record);
    return {std::max(width, 0), std::max(height, 0)};
}

Point ClientOriginOnScreen(const WindowRecord& record)
{
    Point origin{record.mBounds.left + record.mInsets.left,
                 record.mBounds.top + record.mInsets.top + MenuBarHeight(record)};
    if (!record.mTop && record.mParent)
    {
        if (WindowRecord* parent = FindRecord(record.mParent))
        {
            Point base = ClientOriginOnScreen(*parent);
            origin.x += base.x;
            origin.y += base.y;
        }
    }
    return origin;
}

static Point PositionInParentBody(const WindowRecord& record)
{
    Point p{record.mBounds.left, record.mBounds.top};
    if (WindowRecord* parent = FindRecord(record.mParent))
    {
        p.x += parent->mInsets.left;
        p.y += parent->mInsets.top;
    }
    return p;
}

void NotifyGeometry(WindowRecord& record, bool sizeMessages)
{
    WindowId id = record.mId;
    Size size = ClientSize(record);
    Point origin = record.mTop ? ClientOriginOnScreen(record)
                               : Point{record.mBounds.left + record.mInsets.left,
                                       record.mBounds.top + record.mInsets.top};
    bool sized = size.width != record.mLastClientSize.width || size.height != record.mLastClientSize.height;
    bool moved = origin.x != record.mLastClientOrigin.x || origin.y != record.mLastClientOrigin.y;
    record.mLastClientSize = size;
    record.mLastClientOrigin = origin;
    if (sized)
    {
        record.mInvalid = true;
        record.mFrameInvalid = true;
        LayoutWebView(record);
    }
    if (!sizeMessages)
        return;
    if (sized && record.mPlacement != Placement::Minimized)
    {
        _dword kind = record.mPlacement == Placement::Maximized ? _SIZE_MAXIMIZED : _SIZE_RESTORED;
        SendUiMessage(id, _WM_SIZE, kind, MakeLParam(size.width, size.height));
    }
    if (moved && FindRecord(id))
        SendUiMessage(id, _WM_MOVE, 0, MakeLParam(origin.x, origin.y));
}

void ApplyShape(WindowRecord& record)
{
    GtkWidget* widget = record.mTop ? record.mTop : record.mBody;
    if (!widget)
        return;
    gtk_widget_shape_combine_region(widget, record.mHasRegion ? record.mRegion : nullptr);
    cairo_region_t* input = nullptr;
    if (record.mHasRegion && record.mAlphaShape)
    {
        input = cairo_region_copy(record.mRegion);
        cairo_region_intersect(input, record.mAlphaShape);
    }
    else if (record.mHasRegion)
        input = cairo_region_copy(record.mRegion);
    else if (record.mAlphaShape)
        input = cairo_region_copy(record.mAlphaShape);
    gtk_widget_input_shape_combine_region(widget, input);
    if (input)
        cairo_region_destroy(input);
}

static GtkWidget* MakeTopLevel(WindowRecord& record, const WindowParams& params)
{
    GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    bool caption = (params.style & _WS_CAPTION) == _WS_CAPTION;
    bool popup = (params.style & _WS_POPUP) != 0;
    // Overlapped windows without a caption of their own (the launcher draws its frames) stay bare too.
    gtk_window_set_decorated(GTK_WINDOW(top), caption && !popup);
    if (params.exStyle & _WS_EX_TOOLWINDOW)
    {
        gtk_window_set_type_hint(GTK_WINDOW(top), GDK_WINDOW_TYPE_HINT_UTILITY);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(top), !(params.exStyle & _WS_EX_APPWINDOW));
    }
    if (params.exStyle & _WS_EX_TOPMOST)
    {
        gtk_window_set_keep_above(GTK_WINDOW(top), TRUE);
        record.mTopmost = true;
    }
    if (params.exStyle & _WS_EX_LAYERED)
    {
        GdkScreen* screen = gtk_widget_get_screen(top);
        if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen))
            gtk_widget_set_visual(top, visual);
        // Only the canvas's pixels show: no theme background under them.
        gtk_widget_set_app_paintable(top, TRUE);
    }
    if (WindowRecord* owner = FindRecord(record.mOwner))
        if (GtkWindow* ownerTop = ToplevelOf(*owner))
            gtk_window_set_transient_for(GTK_WINDOW(top), ownerTop);
    gtk_window_set_title(GTK_WINDOW(top), Utf8(params.title).c_str());
    gtk_window_set_default_size(GTK_WINDOW(top), std::max(params.width, 1), std::max(params.height, 1));
    gtk_window_move(GTK_WINDOW(top), params.x, params.y);
    ConnectTopLevelEvents(top, record.mId);
    ConnectTopLevelPainting(top, record.mId);
    return top;
}

static void AttachTopLevel(WindowRecord& record, const WindowParams& params)
{
    record.mTop = MakeTopLevel(record, params);
    record.mBox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(record.mTop), record.mBox);
    gtk_box_pack_end(GTK_BOX(record.mBox), record.mBody, TRUE, TRUE, 0);
    gtk_widget_show(record.mBox);
    gtk_widget_show(record.mBody);
    gtk_widget_realize(record.mTop);
}

static bool AttachChild(WindowRecord& record, WindowRecord& parent)
{
    if (!parent.mBody || !GTK_IS_LAYOUT(parent.mBody))
        return false;
    Point p = PositionInParentBody(record);
    gtk_widget_set_size_request(record.mBody, std::max(record.mBounds.Width(), 0),
                                std::max(record.mBounds.Height(), 0));
    gtk_layout_put(GTK_LAYOUT(parent.mBody), record.mBody, p.x, p.y);
    return true;
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{
using namespace Gtk;

bool InitUi()
{
    auto& state = State();
    if (state.mInitialized)
        return state.mAvailable;
    state.mInitialized = true;
    state.mMainThread = std::this_thread::get_id();
    // Nothing here draws with GL, and the probe GDK makes for it at start loads a whole GL driver
    // (about 50 MB resident with a software one). Users can still ask for it by setting the variable.
    setenv("GDK_GL", "disable", 0);
    state.mAvailable = gtk_init_check(nullptr, nullptr);
    if (!state.mAvailable)
        LogError(u"[FG] No display for windows");
    return state.mAvailable;
}

bool IsUiAvailable()
{
    return State().mInitialized && State().mAvailable;
}

WindowId NewWindow(const WindowParams& params)
{
    if (!InitUi())
        return 0;
    bool child = (params.style & _WS_CHILD) != 0;
    WindowRecord* parent = FindRecord(params.parent);
    if (child && !parent)
        return 0;
    auto owned = std::make_unique<WindowRecord>();
    WindowRecord& record = *owned;
    record.mStyle = params.style & ~_WS_VISIBLE;
    record.mExStyle = params.exStyle;
    record.mHandler = params.handler;
    record.mUserData = params.userData;
    record.mTitle = params.title;
    record.mDoubleClicks = params.doubleClicks;
    record.mBounds =
        Rect::FromSize(params.x, params.y, std::max(params.width, 0), std::max(params.height, 0));
    if (child)
        record.mParent = params.parent;
    else if (parent)
        record.mOwner = params.parent;
    record.mEnabled = !(params.style & _WS_DISABLED);
    WindowId id = AddRecord(std::move(owned));

    record.mBody = gtk_layout_new(nullptr, nullptr);
    ConnectBodyEvents(record.mBody, id);
    ConnectBodyPainting(record.mBody, id);
    if (child)
    {
        if (!AttachChild(record, *parent))
        {
            gtk_widget_destroy(record.mBody);
            State().mWindows.erase(id);
            return 0;
        }
    }
    else
        AttachTopLevel(record, params);
    if (!record.mEnabled)
        gtk_widget_set_sensitive(record.mTop ? record.mTop : record.mBody, FALSE);

    if (SendUiMessage(id, _WM_CREATE, 0, reinterpret_cast<LParam>(&params)) == -1)
    {
        DestroyUiWindow(id);
        return 0;
    }
    WindowRecord* made = FindRecord(id);
    if (!made)
        return 0;
    NotifyGeometry(*made, true);
    if (FindRecord(id) && (params.style & _WS_VISIBLE))
        ShowUiWindow(id, params.style & _WS_MINIMIZE   ? _SW_SHOWMINIMIZED
                         : params.style & _WS_MAXIMIZE ? _SW_SHOWMAXIMIZED
                                                       : _SW_SHOW);
    return FindRecord(id) ? id : 0;
}

bool DestroyUiWindow(WindowId window)
{
    auto& state = State();
    WindowRecord* record = FindRecord(window);
    if (!record || record->mDestroying)
        return false;
    record->mDestroying = true;
    bool wasShown = record->mShown;
    if (wasShown && record->mTop)
        gtk_widget_hide(record->mTop);
    SendUiMessage(window, _WM_DESTROY, 0, 0);

    std::vector<WindowId> dependents;
    for (auto& [id, other] : state.mWindows)
        if (other->mParent == window || other->mOwner == window)
            dependents.push_back(id);
    for (WindowId id : dependents)
        DestroyUiWindow(id);

    for (auto it = state.mTimers.begin(); it != state.mTimers.end();)
    {
        if (it->first.first == window)
        {
            if (it->second.mSource)
                g_source_remove(it->second.mSource);
            it = state.mTimers.erase(it);
        }
        else
            ++it;
    }
    ReleaseWindowSystemParts(window);
    record = FindRecord(window);
    if (record)
    {
        ReleaseWebView(*record);
        ReleaseControl(*record);
        ReleaseMenuBar(*record);
    }
    SendUiMessage(window, _WM_NCDESTROY, 0, 0);

    auto it = state.mWindows.find(window);
    if (it == state.mWindows.end())
        return true;
    std::unique_ptr<WindowRecord> owned = std::move(it->second);
    state.mWindows.erase(it);
    if (state.mFocus == window)
        state.mFocus = 0;
    if (state.mActive == window)
        state.mActive = 0;
    if (state.mClickWindow == window)
        state.mClickWindow = 0;
    if (owned->mMessageBox)
        return true; // the box's own loop destroys its dialog
    GtkWidget* widget = owned->mTop ? owned->mTop : owned->mBody;
    if (widget)
        gtk_widget_destroy(widget);
    if (owned->mBacking)
        cairo_surface_destroy(owned->mBacking);
    if (owned->mRegion)
        cairo_region_destroy(owned->mRegion);
    if (owned->mAlphaShape)
        cairo_region_destroy(owned->mAlphaShape);
    return true;
}

bool IsUiWindow(WindowId window)
{
    return FindRecord(window) != nullptr;
}

LResult DefaultHandler(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return 0;
    switch (message)
    {
    case _WM_CLOSE:
        DestroyUiWindow(window);
        return 0;
    case _WM_NCHITTEST:
    {
        Point p{PointX(lParam), PointY(lParam)};
        Point origin = ClientOriginOnScreen(*record);
        Size size = ClientSize(*record);
        if (Rect::FromSize(origin.x, origin.y, size.width, size.height).Contains(p))
            return _HTCLIENT;
        Rect outer = record->mBounds;
        if (!record->mTop)
        {
            Point base = ClientOriginOnScreen(*record);
            outer = Rect::FromSize(base.x - record->mInsets.left, base.y - record->mInsets.top,
                                   record->mBounds.Width(), record->mBounds.Height());
        }
        if (!outer.Contains(p))
            return _HTNOWHERE;
        const Rect& in = record->mInsets;
        bool sizing = (record->mStyle & _WS_THICKFRAME) != 0 && record->mPlacement != Placement::Maximized;
        bool left = p.x < outer.left + in.left;
        bool right = p.x >= outer.right - in.right;
        bool bottom = p.y >= outer.bottom - in.bottom;
        if (sizing && bottom)
            return left ? _HTBOTTOMLEFT : right ? _HTBOTTOMRIGHT : _HTBOTTOM;
        if (sizing && left)
            return _HTLEFT;
        if (sizing && right)
            return _HTRIGHT;
        int menu = MenuBarHeight(*record);
        if (p.y < outer.top + in.top)
            return left || right ? _HTBORDER : _HTCAPTION;
        if (menu > 0 && p.y < outer.top + in.top + menu)
            return _HTMENU;
        return _HTBORDER;
    }
    case _WM_NCLBUTTONDBLCLK:
        if (wParam == static_cast<WParam>(_HTCAPTION) && (record->mStyle & _WS_MAXIMIZEBOX))
            ShowUiWindow(window, record->mPlacement == Placement::Maximized ? _SW_RESTORE : _SW_MAXIMIZE);
        return 0;
    case _WM_SYSCOMMAND:
        switch (wParam & 0xFFF0)
        {
        case _SC_MINIMIZE:
            ShowUiWindow(window, _SW_MINIMIZE);
            break;
        case _SC_MAXIMIZE:
            ShowUiWindow(window, _SW_MAXIMIZE);
            break;
        case _SC_RESTORE:
            ShowUiWindow(window, _SW_RESTORE);
            break;
        case _SC_CLOSE:
            SendUiMessage(window, _WM_CLOSE, 0, 0);
            break;
        default:
            break;
        }
        return 0;
    case _WM_ERASEBKGND:
        return 1;
    default:
        return 0;
    }
}

bool SetWindowHandler(WindowId window, WindowHandler handler)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->mHandler = std::move(handler);
    return true;
}

bool SetWindowData(WindowId window, void* data)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->mUserData = data;
    return true;
}

void* GetWindowData(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record ? record->mUserData : nullptr;
}

_dword GetWindowStyle(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return 0;
    _dword style = record->mStyle;
    if (record->mShown)
        style |= _WS_VISIBLE;
    if (record->mPlacement == Placement::Minimized)
        style |= _WS_MINIMIZE;
    if (record->mPlacement == Placement::Maximized)
        style |= _WS_MAXIMIZE;
    if (!record->mEnabled)
        style |= _WS_DISABLED;
    return style;
}

_dword GetWindowExStyle(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return 0;
    return record->mExStyle | (record->mTopmost ? _WS_EX_TOPMOST : 0);
}

WindowId GetParentWindow(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record ? record->mParent : 0;
}

WindowId GetOwnerWindow(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record ? record->mOwner : 0;
}

WindowId GetTopLevelWindow(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    while (record && record->mParent)
    {
        WindowRecord* parent = FindRecord(record->mParent);
        if (!parent)
            break;
        record = parent;
    }
    return record ? record->mId : 0;
}

std::vector<WindowId> GetTopLevelWindows()
{
    std::vector<WindowId> list;
    for (auto& [id, record] : State().mWindows)
        if (record->mTop)
            list.push_back(id);
    return list;
}

WindowId FindUiWindow(const String& title)
{
    for (auto& [id, record] : State().mWindows)
        if (record->mTop && record->mTitle == title)
            return id;
    return 0;
}

bool ReparentWindow(WindowId window, WindowId parent, _dword style, _dword exStyle, int x, int y)
{
    WindowRecord* record = FindRecord(window);
    if (!record || record->mIsControl || record->mMessageBox || !record->mBody || window == parent)
        return false;
    WindowRecord* newParent = nullptr;
    if (parent)
    {
        newParent = FindRecord(parent);
        if (!newParent || !newParent->mBody || !GTK_IS_LAYOUT(newParent->mBody))
            return false;
        for (WindowId up = parent; up; up = GetParentWindow(up))
            if (up == window)
                return false; // would make the window its own ancestor
    }
    bool visible = record->mShown;
    GtkWidget* body = record->mBody;
    g_object_ref(body);
    gtk_container_remove(GTK_CONTAINER(gtk_widget_get_parent(body)), body);
    if (record->mTop)
    {
        if (record->mMenuBar)
            ReleaseMenuBar(*record);
        gtk_widget_destroy(record->mTop);
        record->mTop = nullptr;
        record->mBox = nullptr;
        if (State().mActive == window)
            State().mActive = 0;
        record->mActive = false;
    }
    record->mStyle = style & ~_WS_VISIBLE;
    record->mExStyle = exStyle;
    record->mBounds = Rect::FromSize(x, y, record->mBounds.Width(), record->mBounds.Height());
    record->mPlacement = Placement::Normal;
    record->mShown = false;
    if (newParent)
    {
        record->mParent = parent;
        record->mOwner = 0;
        AttachChild(*record, *newParent);
        gtk_widget_hide(body);
    }
    else
    {
        record->mParent = 0;
        WindowParams params;
        params.style = style;
        params.exStyle = exStyle;
        params.title = record->mTitle;
        params.x = x;
        params.y = y;
        params.width = record->mBounds.Width();
        params.height = record->mBounds.Height();
        AttachTopLevel(*record, params);
    }
    g_object_unref(body);
    record->mLastClientOrigin = {-100000, -100000};
    NotifyGeometry(*record, true);
    if (FindRecord(window) && (visible || (style & _WS_VISIBLE)))
        ShowUiWindow(window, (style & _WS_VISIBLE) ? _SW_SHOWNA : _SW_HIDE);
    return true;
}

void Gtk::PresentNow(GtkWindow* top)
{
    gtk_widget_show(GTK_WIDGET(top));
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(top));
    // The server's current time: an older stamp (the last input's) would let the server ignore the focus.
    guint32 stamp =
        gdkWindow && GDK_IS_X11_WINDOW(gdkWindow) ? gdk_x11_get_server_time(gdkWindow) : GDK_CURRENT_TIME;
    gtk_window_present_with_time(top, stamp);
}

static void PresentTop(WindowRecord& record, bool activate)
{
    GtkWindow* top = GTK_WINDOW(record.mTop);
    if (activate)
    {
        gtk_window_set_focus_on_map(top, TRUE);
        gtk_widget_show(record.mTop);
        GdkWindow* gdkWindow = gtk_widget_get_window(record.mTop);
        guint32 stamp =
            gdkWindow && GDK_IS_X11_WINDOW(gdkWindow) ? gdk_x11_get_server_time(gdkWindow) : GDK_CURRENT_TIME;
        gtk_window_present_with_time(top, stamp);
    }
    else
    {
        gtk_window_set_focus_on_map(top, FALSE);
        gtk_widget_show(record.mTop);
        gtk_window_set_focus_on_map(top, TRUE);
    }
}

bool ShowUiWindow(WindowId window, int command)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    bool wasVisible = record->mShown;
    GtkWidget* shown = record->mTop ? record->mTop : record->mBody;
    if (command == _SW_HIDE)
    {
        if (wasVisible)
        {
            record->mShown = false;
            gtk_widget_hide(shown);
            SendUiMessage(window, _WM_SHOWWINDOW, 0, 0);
        }
        return wasVisible;
    }
    if (!wasVisible)
    {
        record->mShown = true;
        record->mInvalid = true;
        record->mFrameInvalid = true;
        SendUiMessage(window, _WM_SHOWWINDOW, 1, 0);
        record = FindRecord(window);
        if (!record)
            return wasVisible;
    }
    if (!record->mTop)
    {
        gtk_widget_show(record->mBody);
        return wasVisible;
    }
    GtkWindow* top = GTK_WINDOW(record->mTop);
    switch (command)
    {
    case _SW_SHOWMINIMIZED:
    case _SW_MINIMIZE:
    case _SW_SHOWMINNOACTIVE:
        if (!gtk_widget_get_visible(record->mTop))
            PresentTop(*record, false);
        if (record->mPlacement != Placement::Minimized)
        {
            record->mMaximizedBeforeMinimize = record->mPlacement == Placement::Maximized;
            record->mPlacement = Placement::Minimized;
            gtk_window_iconify(top);
            SendUiMessage(window, _WM_SIZE, _SIZE_MINIMIZED, 0);
        }
        break;
    case _SW_SHOWMAXIMIZED:
        if (record->mPlacement != Placement::Maximized)
        {
            if (record->mPlacement == Placement::Minimized)
                gtk_window_deiconify(top);
            record->mPlacement = Placement::Maximized;
            gtk_window_maximize(top);
            PresentTop(*record, true);
            record->mLastClientSize = {-1, -1};
            NotifyGeometry(*record, true);
        }
        else
            PresentTop(*record, true);
        break;
    case _SW_RESTORE:
    case _SW_SHOWNORMAL:
        if (record->mPlacement == Placement::Minimized)
        {
            record->mPlacement = record->mMaximizedBeforeMinimize && command == _SW_RESTORE
                                     ? Placement::Maximized
                                     : Placement::Normal;
            gtk_window_deiconify(top);
            if (record->mPlacement == Placement::Normal)
                gtk_window_unmaximize(top);
            PresentTop(*record, true);
            record->mLastClientSize = {-1, -1};
            NotifyGeometry(*record, true);
        }
        else if (record->mPlacement == Placement::Maximized)
        {
            record->mPlacement = Placement::Normal;
            gtk_window_unmaximize(top);
            PresentTop(*record, true);
            record->mLastClientSize = {-1, -1};
            NotifyGeometry(*record, true);
        }
        else
            PresentTop(*record, true);
        break;
    case _SW_SHOWNOACTIVATE:
    case _SW_SHOWNA:
        PresentTop(*record, false);
        break;
    default:
        PresentTop(*record, !gtk_widget_get_visible(record->mTop) || command == _SW_SHOW);
        break;
    }
    return wasVisible;
}

bool IsUiWindowVisible(WindowId window)
{
    for (WindowRecord* record = FindRecord(window); record; record = FindRecord(record->mParent))
    {
        if (!record->mShown)
            return false;
        if (!record->mParent)
            return true;
    }
    return false;
}

bool IsUiWindowMinimized(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record && record->mPlacement == Placement::Minimized;
}

bool IsUiWindowMaximized(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record && record->mPlacement == Placement::Maximized;
}

bool EnableUiWindow(WindowId window, bool enable)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    bool was = record->mEnabled;
    if (was != enable)
    {
        record->mEnabled = enable;
        gtk_widget_set_sensitive(record->mTop ? record->mTop : record->mBody, enable);
        SendUiMessage(window, _WM_ENABLE, enable ? 1 : 0, 0);
    }
    return !was;
}

bool IsUiWindowEnabled(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record && record->mEnabled;
}

bool MoveUiWindow(WindowId window, int x, int y, int width, int height)
{
    WindowRecord* record = FindRecord(window);
    if (!record || record->mMessageBox)
        return false;
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (record->mTop)
    {
        width = std::max(width, record->mMinSize.width);
        height = std::max(height, record->mMinSize.height);
    }
    record->mBounds = Rect::FromSize(x, y, width, height);
    if (record->mTop)
    {
        gtk_window_move(GTK_WINDOW(record->mTop), x, y);
        gtk_window_resize(GTK_WINDOW(record->mTop), std::max(width, 1), std::max(height, 1));
    }
    else if (WindowRecord* parent = FindRecord(record->mParent))
    {
        Point p = PositionInParentBody(*record);
        gtk_widget_set_size_request(record->mBody, width, height);
        if (parent->mBody && GTK_IS_LAYOUT(parent->mBody))
            gtk_layout_move(GTK_LAYOUT(parent->mBody), record->mBody, p.x, p.y);
    }
    NotifyGeometry(*record, true);
    return true;
}

bool SetWindowPlace(WindowId window, int x, int y)
{
    WindowRecord* record = FindRecord(window);
    return record && MoveUiWindow(window, x, y, record->mBounds.Width(), record->mBounds.Height());
}

bool SetWindowSize(WindowId window, int width, int height)
{
    WindowRecord* record = FindRecord(window);
    return record && MoveUiWindow(window, record->mBounds.left, record->mBounds.top, width, height);
}

bool GetWindowBounds(WindowId window, Rect& rect)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    if (record->mTop)
    {
        rect = record->mBounds;
        return true;
    }
    Point origin = ClientOriginOnScreen(*record);
    rect = Rect::FromSize(origin.x - record->mInsets.left, origin.y - record->mInsets.top,
                          record->mBounds.Width(), record->mBounds.Height());
    return true;
}

bool GetClientBounds(WindowId window, Rect& rect)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    Size size = ClientSize(*record);
    rect = {0, 0, size.width, size.height};
    return true;
}

bool ClientToScreenPoint(WindowId window, Point& point)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    Point origin = ClientOriginOnScreen(*record);
    point.x += origin.x;
    point.y += origin.y;
    return true;
}

bool ScreenToClientPoint(WindowId window, Point& point)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    Point origin = ClientOriginOnScreen(*record);
    point.x -= origin.x;
    point.y -= origin.y;
    return true;
}

bool SetFrameInsets(WindowId window, const Rect& insets)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody || !GTK_IS_LAYOUT(record->mBody))
        return false;
    record->mInsets = {std::max(insets.left, 0), std::max(insets.top, 0), std::max(insets.right, 0),
                       std::max(insets.bottom, 0)};
    for (auto& [id, other] : State().mWindows)
    {
        if (other->mParent != window || !other->mBody)
            continue;
        Point p = PositionInParentBody(*other);
        gtk_layout_move(GTK_LAYOUT(record->mBody), other->mBody, p.x, p.y);
    }
    record->mFrameInvalid = true;
    NotifyGeometry(*record, true);
    return true;
}

bool GetPointerPosition(Point& screen)
{
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer)
        return false;
    gdk_device_get_position(pointer, nullptr, &screen.x, &screen.y);
    return true;
}

bool OuterSizeForClient(_dword, _dword, int& width, int& height)
{
    // The window manager's decorations lie outside the window's own size here.
    return width >= 0 && height >= 0;
}

bool GetFrameInsets(WindowId window, Rect& insets)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    insets = record->mInsets;
    return true;
}

bool SetMinimumSize(WindowId window, int width, int height)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mTop)
        return false;
    record->mMinSize = {std::max(width, 0), std::max(height, 0)};
    GdkGeometry geometry{};
    geometry.min_width = record->mMinSize.width;
    geometry.min_height = record->mMinSize.height;
    gtk_window_set_geometry_hints(GTK_WINDOW(record->mTop), nullptr, &geometry, GDK_HINT_MIN_SIZE);
    if (record->mBounds.Width() < width || record->mBounds.Height() < height)
        SetWindowSize(window, std::max(record->mBounds.Width(), width),
                      std::max(record->mBounds.Height(), height));
    return true;
}

bool SetTopmost(WindowId window, bool topmost)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mTop)
        return false;
    record->mTopmost = topmost;
    gtk_window_set_keep_above(GTK_WINDOW(record->mTop), topmost);
    return true;
}

bool SetWindowTitle(WindowId window, const String& title)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->mTitle = title;
    if (record->mTop)
        gtk_window_set_title(GTK_WINDOW(record->mTop), Utf8(title).c_str());
    else if (record->mIsControl && record->mBody && GTK_IS_BUTTON(record->mBody))
        gtk_button_set_label(GTK_BUTTON(record->mBody), Utf8(title).c_str());
    SendUiMessage(window, _WM_SETTEXT, 0, reinterpret_cast<LParam>(title.c_str()));
    return true;
}

String GetWindowTitle(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record ? record->mTitle : String();
}

bool SetWindowIconImage(WindowId window, const UiImage& image)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mTop)
        return false;
    GdkPixbuf* pixbuf = ImageToPixbuf(image);
    if (!pixbuf)
        return false;
    gtk_window_set_icon(GTK_WINDOW(record->mTop), pixbuf);
    g_object_unref(pixbuf);
    return true;
}

bool FlashUiWindow(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    GtkWindow* top = ToplevelOf(*record);
    if (!top)
        return false;
    gtk_window_set_urgency_hint(top, TRUE);
    return true;
}

bool SetUiCursor(WindowId window, _dword cursor)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->mCursor = cursor;
    GdkWindow* target = BodyWindow(*record);
    if (!target)
        return true; // applied when the window is realised
    GdkCursor* made =
        cursor == _IDC_HAND ? gdk_cursor_new_from_name(gdk_window_get_display(target), "pointer") : nullptr;
    gdk_window_set_cursor(target, made);
    if (made)
        g_object_unref(made);
    return true;
}

WindowId GetForegroundUiWindow()
{
    auto& state = State();
    if (FindRecord(state.mActive))
        return state.mActive;
    for (auto& [id, record] : state.mWindows)
        if (record->mTop && gtk_window_is_active(GTK_WINDOW(record->mTop)))
            return id;
    return 0;
}

bool SetForegroundUiWindow(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    WindowId topId = GetTopLevelWindow(window);
    WindowRecord* top = FindRecord(topId);
    if (!top || !top->mTop)
        return false;
    if (!top->mShown)
        return false;
    PresentTop(*top, true);
    return true;
}

WindowId GetFocusUiWindow()
{
    auto& state = State();
    return FindRecord(state.mFocus) ? state.mFocus : 0;
}

WindowId SetFocusUiWindow(WindowId window)
{
    WindowId previous = GetFocusUiWindow();
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody)
        return previous;
    GtkWidget* target = record->mBody;
    if (record->mWeb)
    {
        // The browser takes the keys of a window that hosts one.
        GList* children = gtk_container_get_children(GTK_CONTAINER(record->mBody));
        for (GList* it = children; it; it = it->next)
            if (gtk_widget_get_can_focus(GTK_WIDGET(it->data)))
                target = GTK_WIDGET(it->data);
        g_list_free(children);
    }
    gtk_widget_grab_focus(target);
    WindowRecord* top = FindRecord(GetTopLevelWindow(window));
    if (top && top->mTop && top->mShown && !top->mActive)
        PresentTop(*top, true);
    return previous;
}

Size GetScreenSize()
{
    if (!InitUi())
        return {};
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return {};
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    return {area.width, area.height};
}

bool GetWorkArea(WindowId window, Rect& rect)
{
    if (!InitUi())
        return false;
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = nullptr;
    WindowRecord* record = FindRecord(GetTopLevelWindow(window));
    if (record && record->mTop && gtk_widget_get_window(record->mTop))
        monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(record->mTop));
    if (!monitor)
        monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return false;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    rect = Rect::FromSize(area.x, area.y, area.width, area.height);
    return true;
}

_dword GetNativeWindowHandle(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody)
        return 0;
    gtk_widget_realize(record->mBody);
    GdkWindow* target = BodyWindow(*record);
    if (!target || !GDK_IS_X11_WINDOW(target) || !gdk_window_ensure_native(target))
        return 0;
    record->mForeignPaint = true;
    record->mHandedOut = true;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_window_set_background_pattern(target, nullptr);
    G_GNUC_END_IGNORE_DEPRECATIONS
    return static_cast<_dword>(gdk_x11_window_get_xid(target));
}

bool SetForeignPainting(WindowId window, bool foreign)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mBody)
        return false;
    record->mForeignPaint = foreign;
    if (!foreign && record->mHandedOut)
        PaintNativeDirect(*record);
    else if (!foreign)
        gtk_widget_queue_draw(record->mBody);
    return true;
}

} // namespace Vexel::Ui
