// Standard controls (the system's button, combo box and hot-key classes), menus, the notification-area
// icon and global hot keys of the Win32 backend.
#include "UiWin32Private.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <map>

namespace Vexel::Ui::Win32
{
namespace
{

LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* record = reinterpret_cast<WindowRecord*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!record)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    WNDPROC proc = record->controlProc;
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
        ReleaseRecord(hwnd);
    }
    return CallWindowProcW(proc, hwnd, message, wParam, lParam);
}

WindowRecord* Control(WindowId id, RecordKind kind)
{
    WindowRecord* record = FindRecord(id);
    return record && record->kind == kind ? record : nullptr;
}

struct TrayIcon
{
    String tip;
    HICON icon = nullptr;
    bool ownIcon = false;
};

std::map<std::pair<HWND, _dword>, TrayIcon>& TrayIcons()
{
    static std::map<std::pair<HWND, _dword>, TrayIcon> icons;
    return icons;
}

// Bitmaps shown in menu items, freed with their menu.
std::map<HMENU, std::vector<HBITMAP>>& MenuBitmaps()
{
    static std::map<HMENU, std::vector<HBITMAP>> bitmaps;
    return bitmaps;
}

bool IsMenuValid(MenuId menu)
{
    return menu && IsMenu(ToHmenu(menu));
}

} // namespace

int FilterControlCommand(WindowRecord& control, _dword code, _dword notices[2])
{
    switch (control.kind)
    {
    case RecordKind::PushButton:
    case RecordKind::CheckBox:
        notices[0] = code;
        return code == _BN_CLICKED ? 1 : 0;
    case RecordKind::HotKeyBox:
        notices[0] = code;
        return code == _EN_CHANGE ? 1 : 0;
    case RecordKind::ComboBox:
    {
        // The parent hears of a new item first and of the end of the choice after it, whatever order
        // the control tells them in; the list's opening, closing and focus are not told.
        LRESULT selection = SendMessageW(control.hwnd, CB_GETCURSEL, 0, 0);
        int current = selection < 0 ? -1 : static_cast<int>(selection);
        bool changed = current != control.comboReported;
        control.comboReported = current;
        if (code == _CBN_SELCHANGE)
        {
            notices[0] = _CBN_SELCHANGE;
            return changed ? 1 : 0;
        }
        if (code != _CBN_SELENDOK)
            return 0;
        if (!changed)
        {
            notices[0] = _CBN_SELENDOK;
            return 1;
        }
        notices[0] = _CBN_SELCHANGE;
        notices[1] = _CBN_SELENDOK;
        return 2;
    }
    default:
        notices[0] = code;
        return 1;
    }
}

void ReleaseTrayIcons(HWND hwnd)
{
    auto& icons = TrayIcons();
    for (auto it = icons.begin(); it != icons.end();)
    {
        if (it->first.first != hwnd)
        {
            ++it;
            continue;
        }
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof(data);
        data.hWnd = hwnd;
        data.uID = it->first.second;
        Shell_NotifyIconW(NIM_DELETE, &data);
        if (it->second.ownIcon)
            DestroyIcon(it->second.icon);
        it = icons.erase(it);
    }
}

} // namespace Vexel::Ui::Win32

namespace Vexel::Ui
{
using namespace Win32;

WindowId NewControl(ControlKind kind, WindowId parent, _dword controlId, const String& text, int x, int y,
                    int width, int height, _dword style, _dword exStyle)
{
    if (!InitUi() || !FindRecord(parent))
        return 0;
    static bool commonControls = false;
    if (!commonControls)
    {
        INITCOMMONCONTROLSEX init{};
        init.dwSize = sizeof(init);
        init.dwICC = ICC_HOTKEY_CLASS | ICC_STANDARD_CLASSES;
        commonControls = InitCommonControlsEx(&init) != FALSE;
    }
    const wchar_t* className = L"BUTTON";
    DWORD realStyle = (style | WS_CHILD) & ~static_cast<DWORD>(0xFFFF);
    RecordKind recordKind = RecordKind::PushButton;
    int createHeight = height;
    switch (kind)
    {
    case ControlKind::PushButton:
        realStyle |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    case ControlKind::CheckBox:
        // The caller's button flags (flat, text placement) stay; an automatic check box unless it names
        // another kind of check box.
        realStyle |= (style & 0xFFFF) | ((style & BS_TYPEMASK) ? 0 : BS_AUTOCHECKBOX) | WS_TABSTOP;
        recordKind = RecordKind::CheckBox;
        break;
    case ControlKind::ComboBox:
        className = L"COMBOBOX";
        realStyle |= CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL;
        recordKind = RecordKind::ComboBox;
        createHeight = height + 240; // the height given to a drop list is the open list's
        break;
    case ControlKind::HotKeyBox:
        className = HOTKEY_CLASSW;
        realStyle |= WS_TABSTOP;
        recordKind = RecordKind::HotKeyBox;
        break;
    }
    bool withText = kind == ControlKind::PushButton || kind == ControlKind::CheckBox;
    HWND hwnd = CreateWindowExW(
        exStyle, className, withText ? W(text) : L"", realStyle, x, y, width, createHeight, ToHwnd(parent),
        reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(controlId)), State().instance, nullptr);
    if (!hwnd)
        return 0;
    auto record = std::make_unique<WindowRecord>();
    record->hwnd = hwnd;
    record->kind = recordKind;
    record->style = realStyle;
    record->created = true;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record.get()));
    record->controlProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlProc)));
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    State().records[hwnd] = std::move(record);
    return ToId(hwnd);
}

_dword GetControlId(WindowId control)
{
    if (!IsUiWindow(control))
        return 0;
    return static_cast<_dword>(GetDlgCtrlID(ToHwnd(control)));
}

bool SetControlFont(WindowId control, const FontSpec& font)
{
    WindowRecord* record = FindRecord(control);
    if (!record || record->kind == RecordKind::Window)
        return false;
    HFONT made = MakeFont(font);
    if (!made)
        return false;
    SendMessageW(record->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
    if (record->kind == RecordKind::ComboBox && font.height != 0)
    {
        // The selection field and the list's items take the font's height.
        WPARAM height = static_cast<WPARAM>(font.height < 0 ? -font.height : font.height);
        SendMessageW(record->hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), static_cast<LPARAM>(height));
        SendMessageW(record->hwnd, CB_SETITEMHEIGHT, 0, static_cast<LPARAM>(height));
    }
    if (record->font)
        DeleteObject(record->font);
    record->font = made;
    return true;
}

int ComboAddItem(WindowId combo, const String& text)
{
    WindowRecord* record = Control(combo, RecordKind::ComboBox);
    if (!record)
        return -1;
    LRESULT index = SendMessageW(record->hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
    return index < 0 ? -1 : static_cast<int>(index);
}

bool ComboClear(WindowId combo)
{
    WindowRecord* record = Control(combo, RecordKind::ComboBox);
    if (!record)
        return false;
    SendMessageW(record->hwnd, CB_RESETCONTENT, 0, 0);
    record->comboReported = -1;
    return true;
}

int ComboGetCount(WindowId combo)
{
    WindowRecord* record = Control(combo, RecordKind::ComboBox);
    return record ? static_cast<int>(SendMessageW(record->hwnd, CB_GETCOUNT, 0, 0)) : 0;
}

int ComboGetSelection(WindowId combo)
{
    WindowRecord* record = Control(combo, RecordKind::ComboBox);
    if (!record)
        return -1;
    LRESULT index = SendMessageW(record->hwnd, CB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : static_cast<int>(index);
}

bool ComboSetSelection(WindowId combo, int index)
{
    WindowRecord* record = Control(combo, RecordKind::ComboBox);
    if (!record || index < -1 || index >= ComboGetCount(combo))
        return false;
    SendMessageW(record->hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    record->comboReported = index;
    return true;
}

String ComboGetItem(WindowId combo, int index)
{
    WindowRecord* record = Control(combo, RecordKind::ComboBox);
    if (!record || index < 0)
        return {};
    LRESULT length = SendMessageW(record->hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0)
        return {};
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
    LRESULT got = SendMessageW(record->hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(text.data()));
    return got < 0 ? String() : FromW(text.data(), static_cast<std::size_t>(got));
}

bool SetCheckState(WindowId check, bool checked)
{
    WindowRecord* record = Control(check, RecordKind::CheckBox);
    if (!record)
        return false;
    SendMessageW(record->hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
}

bool GetCheckState(WindowId check)
{
    WindowRecord* record = Control(check, RecordKind::CheckBox);
    return record && SendMessageW(record->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool SetHotKeyValue(WindowId box, _dword value)
{
    WindowRecord* record = Control(box, RecordKind::HotKeyBox);
    if (!record)
        return false;
    SendMessageW(record->hwnd, HKM_SETHOTKEY, value & 0xFFFF, 0);
    return true;
}

_dword GetHotKeyValue(WindowId box)
{
    WindowRecord* record = Control(box, RecordKind::HotKeyBox);
    return record ? static_cast<_dword>(SendMessageW(record->hwnd, HKM_GETHOTKEY, 0, 0)) & 0xFFFF : 0;
}

// --- Menus ------------------------------------------------------------------------------------------

MenuId NewMenu()
{
    // A bar-kind menu: one put in a submenu item or opened as a popup becomes a popup menu then, while
    // the item rectangles of a popup-kind menu shown as a bar would be taken as client coordinates.
    return ToMenuId(CreateMenu());
}

bool DeleteUiMenu(MenuId menu)
{
    if (!IsMenuValid(menu))
        return false;
    HMENU hmenu = ToHmenu(menu);
    bool done = DestroyMenu(hmenu) != FALSE;
    auto& bitmaps = MenuBitmaps();
    auto it = bitmaps.find(hmenu);
    if (it != bitmaps.end())
    {
        for (HBITMAP bitmap : it->second)
            DeleteObject(bitmap);
        bitmaps.erase(it);
    }
    return done;
}

bool AppendMenuItem(MenuId menu, _dword flags, _dword commandId, const String& text, const UiImage* image)
{
    if (!IsMenuValid(menu))
        return false;
    HMENU hmenu = ToHmenu(menu);
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_FTYPE;
    item.fType = (flags & _MF_RIGHTJUSTIFY) ? MFT_RIGHTJUSTIFY : 0;
    item.fState = ((flags & _MF_GRAYED) ? MFS_GRAYED : 0) | ((flags & _MF_CHECKED) ? MFS_CHECKED : 0);
    item.wID = commandId;
    std::wstring label(W(text));
    item.dwTypeData = label.data();
    if (image)
        if (HBITMAP bitmap = MakeBitmap(*image, true))
        {
            item.fMask |= MIIM_BITMAP;
            item.hbmpItem = bitmap;
            MenuBitmaps()[hmenu].push_back(bitmap);
        }
    return InsertMenuItemW(hmenu, GetMenuItemCount(hmenu), TRUE, &item) != FALSE;
}

bool AppendSubMenu(MenuId menu, MenuId subMenu, const String& text, _dword flags)
{
    if (!IsMenuValid(menu) || !IsMenuValid(subMenu) || menu == subMenu)
        return false;
    UINT native = MF_POPUP | MF_STRING | ((flags & _MF_GRAYED) ? MF_GRAYED : 0) |
                  ((flags & _MF_RIGHTJUSTIFY) ? MF_RIGHTJUSTIFY : 0);
    return AppendMenuW(ToHmenu(menu), native, reinterpret_cast<UINT_PTR>(ToHmenu(subMenu)), W(text)) != FALSE;
}

bool AppendMenuSeparator(MenuId menu)
{
    return IsMenuValid(menu) && AppendMenuW(ToHmenu(menu), MF_SEPARATOR, 0, nullptr) != FALSE;
}

_dword GetMenuItemCount(MenuId menu)
{
    if (!IsMenuValid(menu))
        return 0;
    int count = ::GetMenuItemCount(ToHmenu(menu));
    return count < 0 ? 0 : static_cast<_dword>(count);
}

bool SetWindowMenuBar(WindowId window, MenuId menu)
{
    WindowRecord* record = FindRecord(window);
    if (!record || (menu && !IsMenuValid(menu)))
        return false;
    return SetMenu(record->hwnd, menu ? ToHmenu(menu) : nullptr) != FALSE;
}

bool GetMenuItemBounds(MenuId menu, _dword index, Rect& rect)
{
    if (!IsMenuValid(menu))
        return false;
    HMENU hmenu = ToHmenu(menu);
    HWND owner = nullptr;
    // A menu bar belongs to its window; an open popup menu is found by the system.
    for (const auto& [hwnd, record] : State().records)
        if (!record->dead && record->kind == RecordKind::Window && IsWindow(hwnd) && GetMenu(hwnd) == hmenu)
        {
            owner = hwnd;
            break;
        }
    RECT r;
    if (!GetMenuItemRect(owner, hmenu, index, &r))
        return false;
    if (IsRectEmpty(&r))
        return false;
    rect = {r.left, r.top, r.right, r.bottom};
    return true;
}

bool PopupMenuAt(MenuId menu, WindowId owner, int screenX, int screenY)
{
    if (!IsMenuValid(menu) || !FindRecord(owner))
        return false;
    // The system's menu runs a loop of its own until it closes: started from the pump, so that this
    // call returns at once as on the other platforms.
    return PostMessageW(ToHwnd(owner), _POPUP_REQUEST, static_cast<WPARAM>(menu),
                        MAKELPARAM(screenX, screenY)) != FALSE;
}

// --- Notification area ------------------------------------------------------------------------------

bool AddTrayIcon(WindowId window, _dword iconId, const UiImage* icon, const String& tip,
                 _dword callbackMessage)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    auto& icons = TrayIcons();
    auto key = std::make_pair(record->hwnd, iconId);
    auto existing = icons.find(key);
    TrayIcon entry;
    entry.tip = tip.substr(0, 127);
    if (icon)
    {
        entry.icon = MakeIcon(*icon, GetSystemMetrics(SM_CXSMICON));
        entry.ownIcon = entry.icon != nullptr;
    }
    if (!entry.icon && existing != icons.end())
    {
        entry.icon = existing->second.icon;
        entry.ownIcon = existing->second.ownIcon;
        existing->second.ownIcon = false;
    }
    if (!entry.icon)
        entry.icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = record->hwnd;
    data.uID = iconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage;
    data.hIcon = entry.icon;
    std::copy(entry.tip.begin(), entry.tip.end(), reinterpret_cast<char16_t*>(data.szTip));
    bool shown = Shell_NotifyIconW(existing != icons.end() ? NIM_MODIFY : NIM_ADD, &data) != FALSE;
    if (!shown && existing != icons.end())
        shown = Shell_NotifyIconW(NIM_ADD, &data) != FALSE; // the shell restarted and lost it
    if (!shown)
    {
        if (entry.ownIcon)
            DestroyIcon(entry.icon);
        return false;
    }
    if (existing != icons.end() && existing->second.ownIcon)
        DestroyIcon(existing->second.icon);
    icons[key] = entry;
    return true;
}

bool RemoveTrayIcon(WindowId window, _dword iconId)
{
    auto& icons = TrayIcons();
    auto it = icons.find(std::make_pair(ToHwnd(window), iconId));
    if (!window || it == icons.end())
        return false;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = ToHwnd(window);
    data.uID = iconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    if (it->second.ownIcon)
        DestroyIcon(it->second.icon);
    icons.erase(it);
    return true;
}

bool HasTrayIcon(WindowId window, _dword iconId)
{
    return window && TrayIcons().count(std::make_pair(ToHwnd(window), iconId)) > 0;
}

String GetTrayIconTip(WindowId window, _dword iconId)
{
    auto& icons = TrayIcons();
    auto it = icons.find(std::make_pair(ToHwnd(window), iconId));
    return it == icons.end() ? String() : it->second.tip;
}

// --- Global hot keys --------------------------------------------------------------------------------

bool RegisterGlobalHotKey(WindowId window, int id, _dword modifiers, _dword virtualKey)
{
    if (!FindRecord(window))
        return false;
    return RegisterHotKey(ToHwnd(window), id, modifiers & (MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN),
                          virtualKey) != FALSE;
}

bool UnregisterGlobalHotKey(WindowId window, int id)
{
    if (!FindRecord(window))
        return false;
    return UnregisterHotKey(ToHwnd(window), id) != FALSE;
}

} // namespace Vexel::Ui
