// GTK signals of the windows become window messages: those Windows sends (size, move, activation,
// focus, close, hit tests) reach the handler at once, input is queued.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include <gdk/gdkx.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace Vexel::Ui::Gtk
{

static _dword MouseKeyState(guint state)
{
    _dword keys = 0;
    if (state & GDK_BUTTON1_MASK)
        keys |= _MK_LBUTTON;
    if (state & GDK_BUTTON2_MASK)
        keys |= _MK_MBUTTON;
    if (state & GDK_BUTTON3_MASK)
        keys |= _MK_RBUTTON;
    if (state & GDK_SHIFT_MASK)
        keys |= _MK_SHIFT;
    if (state & GDK_CONTROL_MASK)
        keys |= _MK_CONTROL;
    return keys;
}

static _dword ButtonKey(guint button)
{
    return button == 1 ? _MK_LBUTTON : button == 2 ? _MK_MBUTTON : button == 3 ? _MK_RBUTTON : 0;
}

static bool IsOwnEvent(const WindowRecord& record, GdkWindow* window)
{
    return window == BodyWindow(record);
}

static Message MakeInput(WindowId window, _dword message, WParam wParam, LParam lParam, Point screen)
{
    Message m;
    m.window = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = NowMs();
    m.point = screen;
    return m;
}

static int HitTest(WindowId id, Point screen)
{
    return static_cast<int>(SendUiMessage(id, _WM_NCHITTEST, 0, MakeLParam(screen.x, screen.y)));
}

static void StartFrameDrag(WindowRecord& record, int hit, const GdkEventButton* event)
{
    GtkWindow* top = ToplevelOf(record);
    if (!top || !record.mTop)
        return;
    int x = static_cast<int>(event->x_root);
    int y = static_cast<int>(event->y_root);
    if (hit == _HTCAPTION)
    {
        gtk_window_begin_move_drag(top, static_cast<int>(event->button), x, y, event->time);
        return;
    }
    if (!(record.mStyle & _WS_THICKFRAME))
        return;
    GdkWindowEdge edge;
    switch (hit)
    {
    case _HTLEFT:
        edge = GDK_WINDOW_EDGE_WEST;
        break;
    case _HTRIGHT:
        edge = GDK_WINDOW_EDGE_EAST;
        break;
    case _HTTOP:
        edge = GDK_WINDOW_EDGE_NORTH;
        break;
    case _HTBOTTOM:
        edge = GDK_WINDOW_EDGE_SOUTH;
        break;
    case _HTTOPLEFT:
        edge = GDK_WINDOW_EDGE_NORTH_WEST;
        break;
    case _HTTOPRIGHT:
        edge = GDK_WINDOW_EDGE_NORTH_EAST;
        break;
    case _HTBOTTOMLEFT:
        edge = GDK_WINDOW_EDGE_SOUTH_WEST;
        break;
    case _HTBOTTOMRIGHT:
        edge = GDK_WINDOW_EDGE_SOUTH_EAST;
        break;
    default:
        return;
    }
    gtk_window_begin_resize_drag(top, edge, static_cast<int>(event->button), x, y, event->time);
}

static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record || !IsOwnEvent(*record, event->window))
        return FALSE;
    if (event->type != GDK_BUTTON_PRESS || event->button < 1 || event->button > 3)
        return TRUE; // GTK's own double and triple presses: the layer detects double clicks itself
    auto& state = State();
    Point screen{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
    state.mPointer = screen;
    if (!(record->mStyle & _WS_CHILD) && record->mEnabled)
        gtk_widget_grab_focus(record->mBody);

    GtkSettings* settings = gtk_settings_get_default();
    int doubleTime = 400;
    int doubleDistance = 5;
    g_object_get(settings, "gtk-double-click-time", &doubleTime, "gtk-double-click-distance", &doubleDistance,
                 nullptr);
    bool isDouble = record->mDoubleClicks && state.mClickWindow == id &&
                    state.mClickButton == static_cast<int>(event->button) &&
                    event->time - state.mClickTime <= static_cast<guint32>(doubleTime) &&
                    std::abs(screen.x - state.mClickPoint.x) <= doubleDistance &&
                    std::abs(screen.y - state.mClickPoint.y) <= doubleDistance;
    if (isDouble)
        state.mClickWindow = 0; // a third click starts over
    else
    {
        state.mClickWindow = id;
        state.mClickButton = static_cast<int>(event->button);
        state.mClickTime = event->time;
        state.mClickPoint = screen;
    }

    int hit = HitTest(id, screen);
    record = FindRecord(id);
    if (!record || hit == _HTNOWHERE || hit == _HTTRANSPARENT || hit == _HTERROR)
        return TRUE;
    static const _dword clientDown[3] = {_WM_LBUTTONDOWN, _WM_MBUTTONDOWN, _WM_RBUTTONDOWN};
    static const _dword clientDouble[3] = {_WM_LBUTTONDBLCLK, _WM_MBUTTONDBLCLK, _WM_RBUTTONDBLCLK};
    static const _dword frameDown[3] = {_WM_NCLBUTTONDOWN, _WM_NCMBUTTONDOWN, _WM_NCRBUTTONDOWN};
    static const _dword frameDouble[3] = {_WM_NCLBUTTONDBLCLK, _WM_NCMBUTTONDBLCLK, _WM_NCRBUTTONDBLCLK};
    int index = static_cast<int>(event->button) - 1;
    if (hit == _HTCLIENT)
    {
        Point client = screen;
        ScreenToClientPoint(id, client);
        _dword keys = MouseKeyState(event->state) | ButtonKey(event->button);
        QueueMessage(MakeInput(id, isDouble ? clientDouble[index] : clientDown[index], keys,
                               MakeLParam(client.x, client.y), screen));
    }
    else
    {
        QueueMessage(MakeInput(id, isDouble ? frameDouble[index] : frameDown[index], static_cast<WParam>(hit),
                               MakeLParam(screen.x, screen.y), screen));
        // The move and size loops have to start while the button is down, so they start here rather
        // than when the queued message is handled.
        if (event->button == 1 && !isDouble && record->mPlacement != Placement::Maximized)
            StartFrameDrag(*record, hit, event);
    }
    return TRUE;
}

static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record || !IsOwnEvent(*record, event->window))
        return FALSE;
    if (event->button < 1 || event->button > 3)
        return TRUE;
    Point screen{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
    State().mPointer = screen;
    int hit = HitTest(id, screen);
    if (!FindRecord(id) || hit == _HTNOWHERE || hit == _HTTRANSPARENT || hit == _HTERROR)
        return TRUE;
    static const _dword clientUp[3] = {_WM_LBUTTONUP, _WM_MBUTTONUP, _WM_RBUTTONUP};
    static const _dword frameUp[3] = {_WM_NCLBUTTONUP, _WM_NCMBUTTONUP, _WM_NCRBUTTONUP};
    int index = static_cast<int>(event->button) - 1;
    if (hit == _HTCLIENT)
    {
        Point client = screen;
        ScreenToClientPoint(id, client);
        _dword keys = MouseKeyState(event->state) & ~ButtonKey(event->button);
        QueueMessage(MakeInput(id, clientUp[index], keys, MakeLParam(client.x, client.y), screen));
    }
    else
        QueueMessage(
            MakeInput(id, frameUp[index], static_cast<WParam>(hit), MakeLParam(screen.x, screen.y), screen));
    return TRUE;
}

static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record || !IsOwnEvent(*record, event->window))
        return FALSE;
    Point screen{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
    State().mPointer = screen;
    int hit = HitTest(id, screen);
    record = FindRecord(id);
    if (!record)
        return TRUE;
    int area = hit == _HTCLIENT ? 1 : (hit == _HTNOWHERE || hit == _HTTRANSPARENT) ? 0 : 2;
    if (area != record->mMouseArea)
    {
        if (record->mMouseArea == 1)
            QueueMessage(MakeInput(id, _WM_MOUSELEAVE, 0, 0, screen));
        else if (record->mMouseArea == 2)
            QueueMessage(MakeInput(id, _WM_NCMOUSELEAVE, 0, 0, screen));
        record->mMouseArea = area;
    }
    if (area == 1)
    {
        Point client = screen;
        ScreenToClientPoint(id, client);
        QueueMouseMove(MakeInput(id, _WM_MOUSEMOVE, MouseKeyState(event->state),
                                 MakeLParam(client.x, client.y), screen));
    }
    else if (area == 2)
        QueueMouseMove(
            MakeInput(id, _WM_NCMOUSEMOVE, static_cast<WParam>(hit), MakeLParam(screen.x, screen.y), screen));
    return TRUE;
}

static gboolean OnLeave(GtkWidget*, GdkEventCrossing* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record || !IsOwnEvent(*record, event->window) || event->detail == GDK_NOTIFY_INFERIOR)
        return FALSE;
    Point screen{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
    if (record->mMouseArea == 1)
        QueueMessage(MakeInput(id, _WM_MOUSELEAVE, 0, 0, screen));
    else if (record->mMouseArea == 2)
        QueueMessage(MakeInput(id, _WM_NCMOUSELEAVE, 0, 0, screen));
    record->mMouseArea = 0;
    return FALSE;
}

static gboolean OnScroll(GtkWidget*, GdkEventScroll* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record || !IsOwnEvent(*record, event->window))
        return FALSE;
    int delta = 0;
    if (event->direction == GDK_SCROLL_UP)
        delta = _WHEEL_DELTA;
    else if (event->direction == GDK_SCROLL_DOWN)
        delta = -_WHEEL_DELTA;
    else if (event->direction == GDK_SCROLL_SMOOTH)
        delta = static_cast<int>(std::lround(-event->delta_y * _WHEEL_DELTA));
    if (delta == 0)
        return TRUE;
    Point screen{static_cast<int>(event->x_root), static_cast<int>(event->y_root)};
    QueueMessage(MakeInput(id, _WM_MOUSEWHEEL,
                           MakeWParam(static_cast<int>(MouseKeyState(event->state)), delta),
                           MakeLParam(screen.x, screen.y), screen));
    return TRUE;
}

static _dword KeyCharacter(const GdkEventKey* event)
{
    switch (event->keyval)
    {
    case GDK_KEY_BackSpace:
        return 0x08;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return 0x09;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return 0x0D;
    case GDK_KEY_Escape:
        return 0x1B;
    default:
        break;
    }
    gunichar c = gdk_keyval_to_unicode(event->keyval);
    if (c == 0)
        return 0;
    if ((event->state & GDK_CONTROL_MASK) && c < 0x80)
    {
        char16_t upper = static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (upper >= '@' && upper <= '_')
            return upper & 0x1F; // Ctrl+A gives 1, as the Windows keyboard does
        return 0;
    }
    return c;
}

static gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record)
        return FALSE;
    GtkWindow* top = ToplevelOf(*record);
    if (!top || gtk_window_get_focus(top) != widget)
        return FALSE; // a child control has the focus; the key is not this window's
    static std::map<_dword, bool> down;
    bool press = event->type == GDK_KEY_PRESS;
    _dword vk = VirtualKeyFromEvent(event);
    if (vk == 0)
        return FALSE;
    bool alt = (event->state & GDK_MOD1_MASK) != 0 || vk == _VK_MENU;
    bool wasDown = down[vk];
    down[vk] = press;
    _dword scan = event->hardware_keycode >= 8 ? event->hardware_keycode - 8u : 0u;
    _dword lParam = 1 | ((scan & 0xFF) << 16);
    if (alt)
        lParam |= 1u << 29;
    if (press && wasDown)
        lParam |= 1u << 30;
    if (!press)
        lParam |= (1u << 30) | (1u << 31);
    _dword message = press ? (alt || vk == 0x79 ? _WM_SYSKEYDOWN : _WM_KEYDOWN)
                           : (alt || vk == 0x79 ? _WM_SYSKEYUP : _WM_KEYUP);
    Message m = MakeInput(id, message, vk, static_cast<LParam>(lParam), State().mPointer);
    if (press)
        m.character = KeyCharacter(event);
    QueueMessage(m);
    return TRUE;
}

static gboolean OnFocusIn(GtkWidget*, GdkEventFocus*, gpointer data)
{
    WindowId id = IdOf(data);
    auto& state = State();
    WindowId previous = state.mFocus;
    state.mFocus = id;
    WindowRecord* record = FindRecord(id);
    if (record && !record->mIsControl)
        SendUiMessage(id, _WM_SETFOCUS, previous, 0);
    return FALSE;
}

static gboolean OnFocusOut(GtkWidget*, GdkEventFocus*, gpointer data)
{
    WindowId id = IdOf(data);
    auto& state = State();
    if (state.mFocus == id)
        state.mFocus = 0;
    WindowRecord* record = FindRecord(id);
    if (record && !record->mIsControl)
        SendUiMessage(id, _WM_KILLFOCUS, 0, 0);
    return FALSE;
}

static void ConnectFocusTree(GtkWidget* widget, gpointer data)
{
    g_signal_connect(widget, "focus-in-event", G_CALLBACK(OnFocusIn), data);
    g_signal_connect(widget, "focus-out-event", G_CALLBACK(OnFocusOut), data);
    // Composite controls (a combo box's button) take the focus in their parts.
    if (GTK_IS_CONTAINER(widget) && !GTK_IS_LAYOUT(widget))
        gtk_container_forall(GTK_CONTAINER(widget), ConnectFocusTree, data);
}

void ConnectFocusTracking(GtkWidget* widget, WindowId window)
{
    ConnectFocusTree(widget, GUINT_TO_POINTER(window));
}

static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data)
{
    SendUiMessage(IdOf(data), _WM_CLOSE, 0, 0);
    return TRUE; // the handler decides; the default handling destroys the window
}

static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data)
{
    WindowRecord* record = FindRecord(IdOf(data));
    if (!record || !record->mTop)
        return FALSE;
    int x = 0;
    int y = 0;
    gtk_window_get_position(GTK_WINDOW(record->mTop), &x, &y);
    Rect bounds = Rect::FromSize(x, y, event->width, event->height);
    if (record->mPlacement == Placement::Minimized)
    {
        record->mBounds.left = x;
        record->mBounds.top = y;
        return FALSE;
    }
    if (bounds != record->mBounds)
    {
        record->mBounds = bounds;
        NotifyGeometry(*record, true);
    }
    return FALSE;
}

static void SetActive(WindowId id, bool active)
{
    WindowRecord* record = FindRecord(id);
    if (!record || record->mActive == active)
        return;
    auto& state = State();
    WindowId other = 0;
    record->mActive = active;
    if (active)
    {
        other = state.mActive;
        state.mActive = id;
    }
    else if (state.mActive == id)
        state.mActive = 0;
    SendUiMessage(id, _WM_NCACTIVATE, active ? 1 : 0, 0);
    if (FindRecord(id))
        SendUiMessage(id, _WM_ACTIVATE, active ? _WA_ACTIVE : _WA_INACTIVE, static_cast<LParam>(other));
}

static gboolean OnTopFocusIn(GtkWidget*, GdkEventFocus*, gpointer data)
{
    SetActive(IdOf(data), true);
    return FALSE;
}

static gboolean OnTopFocusOut(GtkWidget*, GdkEventFocus*, gpointer data)
{
    SetActive(IdOf(data), false);
    return FALSE;
}

void ConnectActivation(GtkWidget* top, WindowId window)
{
    g_signal_connect(top, "focus-in-event", G_CALLBACK(OnTopFocusIn), GUINT_TO_POINTER(window));
    g_signal_connect(top, "focus-out-event", G_CALLBACK(OnTopFocusOut), GUINT_TO_POINTER(window));
}

static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data)
{
    WindowId id = IdOf(data);
    WindowRecord* record = FindRecord(id);
    if (!record)
        return FALSE;
    bool iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    bool maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if ((event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) != 0)
    {
        if (iconified && record->mPlacement != Placement::Minimized)
        {
            // Minimised by the user through the desktop.
            record->mMaximizedBeforeMinimize = record->mPlacement == Placement::Maximized;
            record->mPlacement = Placement::Minimized;
            SendUiMessage(id, _WM_SIZE, _SIZE_MINIMIZED, 0);
        }
        else if (!iconified && record->mPlacement == Placement::Minimized)
        {
            // Restored by the user through the desktop: the window learns of it as a restore command.
            SendUiMessage(id, _WM_SYSCOMMAND, _SC_RESTORE, 0);
            record = FindRecord(id);
            if (record && record->mPlacement == Placement::Minimized)
            {
                record->mPlacement = maximized ? Placement::Maximized : Placement::Normal;
                record->mLastClientSize = {-1, -1};
                NotifyGeometry(*record, true);
            }
        }
    }
    record = FindRecord(id);
    if (record && (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) != 0 &&
        record->mPlacement != Placement::Minimized)
    {
        Placement placement = maximized ? Placement::Maximized : Placement::Normal;
        if (placement != record->mPlacement)
        {
            record->mPlacement = placement;
            record->mLastClientSize = {-1, -1};
            NotifyGeometry(*record, true);
        }
    }
    return FALSE;
}

void ConnectBodyEvents(GtkWidget* body, WindowId id)
{
    gpointer data = GUINT_TO_POINTER(id);
    gtk_widget_add_events(body, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                    GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK |
                                    GDK_ENTER_NOTIFY_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                                    GDK_FOCUS_CHANGE_MASK | GDK_EXPOSURE_MASK);
    gtk_widget_set_can_focus(body, TRUE);
    g_signal_connect(body, "button-press-event", G_CALLBACK(OnButtonPress), data);
    g_signal_connect(body, "button-release-event", G_CALLBACK(OnButtonRelease), data);
    g_signal_connect(body, "motion-notify-event", G_CALLBACK(OnMotion), data);
    g_signal_connect(body, "leave-notify-event", G_CALLBACK(OnLeave), data);
    g_signal_connect(body, "scroll-event", G_CALLBACK(OnScroll), data);
    g_signal_connect(body, "key-press-event", G_CALLBACK(OnKey), data);
    g_signal_connect(body, "key-release-event", G_CALLBACK(OnKey), data);
    ConnectFocusTracking(body, id);
}

void ConnectTopLevelEvents(GtkWidget* top, WindowId id)
{
    gpointer data = GUINT_TO_POINTER(id);
    g_signal_connect(top, "delete-event", G_CALLBACK(OnDelete), data);
    g_signal_connect(top, "configure-event", G_CALLBACK(OnConfigure), data);
    g_signal_connect(top, "focus-in-event", G_CALLBACK(OnTopFocusIn), data);
    g_signal_connect(top, "focus-out-event", G_CALLBACK(OnTopFocusOut), data);
    g_signal_connect(top, "window-state-event", G_CALLBACK(OnWindowState), data);
}

} // namespace Vexel::Ui::Gtk
