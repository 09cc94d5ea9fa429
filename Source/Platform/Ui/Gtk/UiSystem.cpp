// Desktop-wide parts of the GTK backend: global hot keys (X11 key grabs on the root window), the
// notification-area icon, and input synthesised through the XTest extension.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include "Common/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

#include <vector>

namespace Vexel::Ui::Gtk
{

namespace
{
struct HotKey
{
    WindowId window = 0;
    int id = 0;
    _dword modifiers = 0;
    _dword virtualKey = 0;
    KeyCode keycode = 0;
    unsigned int mask = 0;
};

struct TrayIcon
{
    WindowId window = 0;
    _dword iconId = 0;
    _dword callbackMessage = 0;
    GtkStatusIcon* icon = nullptr;
    String tip;
};

std::vector<HotKey>& HotKeys()
{
    static std::vector<HotKey> keys;
    return keys;
}

std::vector<TrayIcon>& TrayIcons()
{
    static std::vector<TrayIcon> icons;
    return icons;
}

Display* XDisplayOf()
{
    if (!InitUi())
        return nullptr;
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display))
        return nullptr;
    return gdk_x11_display_get_xdisplay(display);
}

// Lock keys change the state of every key event; grabs are made for each combination of them.
const unsigned int _LOCK_MASKS[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
constexpr unsigned int _RELEVANT_MASK = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

unsigned int XMaskOf(_dword modifiers)
{
    unsigned int mask = 0;
    if (modifiers & _MOD_ALT)
        mask |= Mod1Mask;
    if (modifiers & _MOD_CONTROL)
        mask |= ControlMask;
    if (modifiers & _MOD_SHIFT)
        mask |= ShiftMask;
    if (modifiers & _MOD_WIN)
        mask |= Mod4Mask;
    return mask;
}

void Ungrab(Display* display, const HotKey& key)
{
    Window root = DefaultRootWindow(display);
    for (unsigned int lock : _LOCK_MASKS)
        XUngrabKey(display, key.keycode, key.mask | lock, root);
}

GdkFilterReturn HotKeyFilter(GdkXEvent* native, GdkEvent*, gpointer)
{
    auto* event = static_cast<XEvent*>(native);
    if (event->type != KeyPress)
        return GDK_FILTER_CONTINUE;
    for (const HotKey& key : HotKeys())
    {
        if (key.keycode == event->xkey.keycode && (event->xkey.state & _RELEVANT_MASK) == key.mask)
        {
            PostUiMessage(key.window, _WM_HOTKEY, static_cast<WParam>(key.id),
                          MakeLParam(static_cast<int>(key.modifiers), static_cast<int>(key.virtualKey)));
            return GDK_FILTER_REMOVE;
        }
    }
    return GDK_FILTER_CONTINUE;
}

void InstallFilter()
{
    static bool installed = false;
    if (!installed)
    {
        gdk_window_add_filter(nullptr, HotKeyFilter, nullptr);
        installed = true;
    }
}

void DropHotKey(Display* display, std::size_t index)
{
    auto& keys = HotKeys();
    if (display)
        Ungrab(display, keys[index]);
    keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(index));
}

gboolean OnTrayButton(GtkStatusIcon* icon, GdkEventButton* event, gpointer)
{
    for (const TrayIcon& tray : TrayIcons())
    {
        if (tray.icon != icon)
            continue;
        _dword message = 0;
        bool press = event->type == GDK_BUTTON_PRESS;
        bool twice = event->type == GDK_2BUTTON_PRESS;
        bool release = event->type == GDK_BUTTON_RELEASE;
        if (event->button == 1)
            message = press ? _WM_LBUTTONDOWN : twice ? _WM_LBUTTONDBLCLK : release ? _WM_LBUTTONUP : 0;
        else if (event->button == 3)
            message = press ? _WM_RBUTTONDOWN : twice ? _WM_RBUTTONDBLCLK : release ? _WM_RBUTTONUP : 0;
        if (message)
            PostUiMessage(tray.window, tray.callbackMessage, tray.iconId, static_cast<LParam>(message));
        return TRUE;
    }
    return FALSE;
}

void FreeTray(TrayIcon& tray)
{
    if (tray.icon)
    {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_status_icon_set_visible(tray.icon, FALSE);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_unref(tray.icon);
    }
    tray.icon = nullptr;
}
} // namespace

void ReleaseWindowSystemParts(WindowId window)
{
    Display* display = State().mAvailable ? XDisplayOf() : nullptr;
    auto& keys = HotKeys();
    for (std::size_t i = keys.size(); i-- > 0;)
        if (keys[i].window == window)
            DropHotKey(display, i);
    auto& icons = TrayIcons();
    for (std::size_t i = icons.size(); i-- > 0;)
        if (icons[i].window == window)
        {
            FreeTray(icons[i]);
            icons.erase(icons.begin() + static_cast<std::ptrdiff_t>(i));
        }
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{
using namespace Gtk;

bool RegisterGlobalHotKey(WindowId window, int id, _dword modifiers, _dword virtualKey)
{
    Display* display = XDisplayOf();
    if (!display || !FindRecord(window))
        return false;
    guint keysym = KeyvalFromVirtualKey(virtualKey);
    KeyCode keycode = keysym ? XKeysymToKeycode(display, keysym) : 0;
    if (keycode == 0)
        return false;
    unsigned int mask = XMaskOf(modifiers);
    auto& keys = HotKeys();
    for (std::size_t i = 0; i < keys.size(); ++i)
    {
        if (keys[i].window == window && keys[i].id == id)
        {
            DropHotKey(display, i);
            break;
        }
    }
    for (const HotKey& key : keys)
        if (key.keycode == keycode && key.mask == mask)
            return false; // the program holds this combination already
    HotKey key{window, id, modifiers, virtualKey, keycode, mask};
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    gdk_x11_display_error_trap_push(gdkDisplay);
    Window root = DefaultRootWindow(display);
    for (unsigned int lock : _LOCK_MASKS)
        XGrabKey(display, keycode, mask | lock, root, False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    if (gdk_x11_display_error_trap_pop(gdkDisplay) != 0)
    {
        // Another program grabbed the combination.
        gdk_x11_display_error_trap_push(gdkDisplay);
        Ungrab(display, key);
        XSync(display, False);
        gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
        return false;
    }
    InstallFilter();
    keys.push_back(key);
    return true;
}

bool UnregisterGlobalHotKey(WindowId window, int id)
{
    Display* display = XDisplayOf();
    auto& keys = HotKeys();
    for (std::size_t i = 0; i < keys.size(); ++i)
    {
        if (keys[i].window == window && keys[i].id == id)
        {
            DropHotKey(display, i);
            if (display)
                XFlush(display);
            return true;
        }
    }
    return false;
}

bool AddTrayIcon(WindowId window, _dword iconId, const UiImage* icon, const String& tip,
                 _dword callbackMessage)
{
    if (!InitUi() || !FindRecord(window))
        return false;
    RemoveTrayIcon(window, iconId);
    TrayIcon tray;
    tray.window = window;
    tray.iconId = iconId;
    tray.callbackMessage = callbackMessage;
    tray.tip = tip;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GdkPixbuf* pixbuf = icon ? ImageToPixbuf(*icon) : nullptr;
    tray.icon = pixbuf ? gtk_status_icon_new_from_pixbuf(pixbuf)
                       : gtk_status_icon_new_from_icon_name("application-x-executable");
    if (pixbuf)
        g_object_unref(pixbuf);
    gtk_status_icon_set_tooltip_text(tray.icon, Utf8(tip).c_str());
    gtk_status_icon_set_visible(tray.icon, TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_signal_connect(tray.icon, "button-press-event", G_CALLBACK(OnTrayButton), nullptr);
    g_signal_connect(tray.icon, "button-release-event", G_CALLBACK(OnTrayButton), nullptr);
    TrayIcons().push_back(tray);
    return true;
}

bool RemoveTrayIcon(WindowId window, _dword iconId)
{
    auto& icons = TrayIcons();
    for (std::size_t i = 0; i < icons.size(); ++i)
    {
        if (icons[i].window == window && icons[i].iconId == iconId)
        {
            FreeTray(icons[i]);
            icons.erase(icons.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

bool HasTrayIcon(WindowId window, _dword iconId)
{
    for (const TrayIcon& tray : TrayIcons())
        if (tray.window == window && tray.iconId == iconId)
            return true;
    return false;
}

String GetTrayIconTip(WindowId window, _dword iconId)
{
    for (const TrayIcon& tray : TrayIcons())
        if (tray.window == window && tray.iconId == iconId)
            return tray.tip;
    return {};
}

bool InjectMouseMove(int screenX, int screenY)
{
    Display* display = XDisplayOf();
    if (!display)
        return false;
    bool ok = XTestFakeMotionEvent(display, -1, screenX, screenY, CurrentTime);
    XFlush(display);
    return ok;
}

bool InjectMouseButton(int button, bool down)
{
    Display* display = XDisplayOf();
    if (!display || button < 1 || button > 3)
        return false;
    bool ok = XTestFakeButtonEvent(display, static_cast<unsigned int>(button), down, CurrentTime);
    XFlush(display);
    return ok;
}

bool InjectKey(_dword virtualKey, bool down)
{
    Display* display = XDisplayOf();
    guint keysym = KeyvalFromVirtualKey(virtualKey);
    if (!display || keysym == 0)
        return false;
    KeyCode keycode = XKeysymToKeycode(display, keysym);
    if (keycode == 0)
        return false;
    bool ok = XTestFakeKeyEvent(display, keycode, down, CurrentTime);
    XFlush(display);
    return ok;
}

} // namespace Vexel::Ui
