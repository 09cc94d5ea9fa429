// Key symbols of X11/GDK and the Windows virtual-key codes the layer speaks.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include <gdk/gdkkeysyms.h>

namespace Vexel::Ui::Gtk
{

namespace
{
struct KeyPair
{
    guint keyval;
    _dword vk;
};

// The first entry of a virtual key is the one used to turn it back into a key symbol.
const KeyPair _KEYS[] = {
    {GDK_KEY_BackSpace, _VK_BACK},
    {GDK_KEY_Tab, _VK_TAB},
    {GDK_KEY_ISO_Left_Tab, _VK_TAB},
    {GDK_KEY_Return, _VK_RETURN},
    {GDK_KEY_KP_Enter, _VK_RETURN},
    {GDK_KEY_Shift_L, _VK_SHIFT},
    {GDK_KEY_Shift_R, _VK_SHIFT},
    {GDK_KEY_Control_L, _VK_CONTROL},
    {GDK_KEY_Control_R, _VK_CONTROL},
    {GDK_KEY_Alt_L, _VK_MENU},
    {GDK_KEY_Alt_R, _VK_MENU},
    {GDK_KEY_Meta_L, _VK_MENU},
    {GDK_KEY_ISO_Level3_Shift, _VK_MENU},
    {GDK_KEY_Pause, _VK_PAUSE},
    {GDK_KEY_Caps_Lock, _VK_CAPITAL},
    {GDK_KEY_Escape, _VK_ESCAPE},
    {GDK_KEY_space, _VK_SPACE},
    {GDK_KEY_Page_Up, _VK_PRIOR},
    {GDK_KEY_KP_Page_Up, _VK_PRIOR},
    {GDK_KEY_Page_Down, _VK_NEXT},
    {GDK_KEY_KP_Page_Down, _VK_NEXT},
    {GDK_KEY_End, _VK_END},
    {GDK_KEY_KP_End, _VK_END},
    {GDK_KEY_Home, _VK_HOME},
    {GDK_KEY_KP_Home, _VK_HOME},
    {GDK_KEY_Left, _VK_LEFT},
    {GDK_KEY_KP_Left, _VK_LEFT},
    {GDK_KEY_Up, _VK_UP},
    {GDK_KEY_KP_Up, _VK_UP},
    {GDK_KEY_Right, _VK_RIGHT},
    {GDK_KEY_KP_Right, _VK_RIGHT},
    {GDK_KEY_Down, _VK_DOWN},
    {GDK_KEY_KP_Down, _VK_DOWN},
    {GDK_KEY_Print, _VK_SNAPSHOT},
    {GDK_KEY_Insert, _VK_INSERT},
    {GDK_KEY_KP_Insert, _VK_INSERT},
    {GDK_KEY_Delete, _VK_DELETE},
    {GDK_KEY_KP_Delete, _VK_DELETE},
    {GDK_KEY_Super_L, _VK_LWIN},
    {GDK_KEY_Super_R, _VK_RWIN},
    {GDK_KEY_Menu, _VK_APPS},
    {GDK_KEY_KP_Multiply, _VK_MULTIPLY},
    {GDK_KEY_KP_Add, _VK_ADD},
    {GDK_KEY_KP_Subtract, _VK_SUBTRACT},
    {GDK_KEY_KP_Decimal, _VK_DECIMAL},
    {GDK_KEY_KP_Divide, _VK_DIVIDE},
    {GDK_KEY_Num_Lock, _VK_NUMLOCK},
    {GDK_KEY_Scroll_Lock, _VK_SCROLL},
    {GDK_KEY_semicolon, _VK_OEM_1},
    {GDK_KEY_equal, _VK_OEM_PLUS},
    {GDK_KEY_comma, _VK_OEM_COMMA},
    {GDK_KEY_minus, _VK_OEM_MINUS},
    {GDK_KEY_period, _VK_OEM_PERIOD},
    {GDK_KEY_slash, _VK_OEM_2},
    {GDK_KEY_grave, _VK_OEM_3},
    {GDK_KEY_bracketleft, _VK_OEM_4},
    {GDK_KEY_backslash, _VK_OEM_5},
    {GDK_KEY_bracketright, _VK_OEM_6},
    {GDK_KEY_apostrophe, _VK_OEM_7},
};
} // namespace

_dword VirtualKeyFromKeyval(guint keyval)
{
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z)
        return 'A' + (keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z)
        return 'A' + (keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9)
        return '0' + (keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9)
        return _VK_NUMPAD0 + (keyval - GDK_KEY_KP_0);
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24)
        return _VK_F1 + (keyval - GDK_KEY_F1);
    for (const KeyPair& pair : _KEYS)
        if (pair.keyval == keyval)
            return pair.vk;
    return 0;
}

guint KeyvalFromVirtualKey(_dword vk)
{
    if (vk >= 'A' && vk <= 'Z')
        return GDK_KEY_a + (vk - 'A');
    if (vk >= '0' && vk <= '9')
        return GDK_KEY_0 + (vk - '0');
    if (vk >= _VK_NUMPAD0 && vk <= _VK_NUMPAD0 + 9)
        return GDK_KEY_KP_0 + (vk - _VK_NUMPAD0);
    if (vk >= _VK_F1 && vk <= _VK_F24)
        return GDK_KEY_F1 + (vk - _VK_F1);
    for (const KeyPair& pair : _KEYS)
        if (pair.vk == vk)
            return pair.keyval;
    return 0;
}

_dword VirtualKeyFromEvent(const GdkEventKey* event)
{
    // The key's own symbol without Shift, so that Shift+1 is still the key '1'.
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    guint base = 0;
    if (keymap &&
        gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, static_cast<GdkModifierType>(0),
                                            event->group, &base, nullptr, nullptr, nullptr))
    {
        if (_dword vk = VirtualKeyFromKeyval(base))
            return vk;
    }
    return VirtualKeyFromKeyval(event->keyval);
}

_dword HotKeyModifiersFromState(guint state)
{
    _dword flags = 0;
    if (state & GDK_SHIFT_MASK)
        flags |= _HOTKEYF_SHIFT;
    if (state & GDK_CONTROL_MASK)
        flags |= _HOTKEYF_CONTROL;
    if (state & GDK_MOD1_MASK)
        flags |= _HOTKEYF_ALT;
    return flags;
}

} // namespace Vexel::Ui::Gtk
