// Parts of the window-system layer that are the same on every platform: region data blocks and hot-key
// values.
#include "Platform/Ui/Ui.h"

#include <cstring>
#include <limits>

namespace Vexel::Ui
{

namespace
{
_dword ReadDword(const _byte* p)
{
    return static_cast<_dword>(p[0]) | (static_cast<_dword>(p[1]) << 8) | (static_cast<_dword>(p[2]) << 16) |
           (static_cast<_dword>(p[3]) << 24);
}

int ReadInt(const _byte* p)
{
    return static_cast<int>(static_cast<std::int32_t>(ReadDword(p)));
}

constexpr _dword _REGION_HEADER_SIZE = 32;
constexpr _dword _REGION_RECTANGLES = 1;
constexpr _dword _REGION_MAX_RECTS = 1u << 20;
} // namespace

bool ParseRegionData(const void* data, std::size_t size, std::vector<Rect>& rects)
{
    rects.clear();
    if (!data || size < _REGION_HEADER_SIZE)
        return false;
    const _byte* bytes = static_cast<const _byte*>(data);
    _dword headerSize = ReadDword(bytes);
    _dword type = ReadDword(bytes + 4);
    _dword count = ReadDword(bytes + 8);
    if (headerSize < _REGION_HEADER_SIZE || headerSize > size || type != _REGION_RECTANGLES ||
        count > _REGION_MAX_RECTS)
        return false;
    // The count is bounded above, so this product cannot overflow.
    std::size_t needed = static_cast<std::size_t>(count) * 16;
    if (needed > size - headerSize)
        return false;
    rects.reserve(count);
    const _byte* p = bytes + headerSize;
    for (_dword i = 0; i < count; ++i, p += 16)
    {
        Rect r{ReadInt(p), ReadInt(p + 4), ReadInt(p + 8), ReadInt(p + 12)};
        if (!r.IsEmpty())
            rects.push_back(r);
    }
    return true;
}

String HotKeyText(_dword value)
{
    _dword key = value & 0xFF;
    _dword modifiers = (value >> 8) & 0xFF;
    if (key == 0 && modifiers == 0)
        return u"None";
    String text;
    if (modifiers & _HOTKEYF_CONTROL)
        text += u"Ctrl + ";
    if (modifiers & _HOTKEYF_SHIFT)
        text += u"Shift + ";
    if (modifiers & _HOTKEYF_ALT)
        text += u"Alt + ";
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        text += static_cast<char16_t>(key);
    else if (key >= _VK_F1 && key <= _VK_F24)
    {
        text += u'F';
        _dword n = key - _VK_F1 + 1;
        if (n >= 10)
            text += static_cast<char16_t>(u'0' + n / 10);
        text += static_cast<char16_t>(u'0' + n % 10);
    }
    else if (key >= _VK_NUMPAD0 && key <= _VK_NUMPAD0 + 9)
    {
        text += u"Num ";
        text += static_cast<char16_t>(u'0' + (key - _VK_NUMPAD0));
    }
    else
    {
        static const struct
        {
            _dword key;
            const char16_t* name;
        } names[] = {{_VK_SPACE, u"Space"},    {_VK_PRIOR, u"Page Up"},
                     {_VK_NEXT, u"Page Down"}, {_VK_END, u"End"},
                     {_VK_HOME, u"Home"},      {_VK_LEFT, u"Left"},
                     {_VK_UP, u"Up"},          {_VK_RIGHT, u"Right"},
                     {_VK_DOWN, u"Down"},      {_VK_INSERT, u"Insert"},
                     {_VK_DELETE, u"Delete"},  {_VK_PAUSE, u"Pause"},
                     {_VK_RETURN, u"Enter"},   {_VK_TAB, u"Tab"},
                     {_VK_BACK, u"Backspace"}, {_VK_ESCAPE, u"Esc"},
                     {_VK_MULTIPLY, u"Num *"}, {_VK_ADD, u"Num +"},
                     {_VK_SUBTRACT, u"Num -"}, {_VK_DECIMAL, u"Num ."},
                     {_VK_DIVIDE, u"Num /"},   {_VK_OEM_1, u";"},
                     {_VK_OEM_PLUS, u"="},     {_VK_OEM_COMMA, u","},
                     {_VK_OEM_MINUS, u"-"},    {_VK_OEM_PERIOD, u"."},
                     {_VK_OEM_2, u"/"},        {_VK_OEM_3, u"`"},
                     {_VK_OEM_4, u"["},        {_VK_OEM_5, u"\\"},
                     {_VK_OEM_6, u"]"},        {_VK_OEM_7, u"'"},
                     {_VK_SNAPSHOT, u"Print"}, {_VK_SCROLL, u"Scroll Lock"}};
        bool found = false;
        for (const auto& entry : names)
            if (entry.key == key)
            {
                text += entry.name;
                found = true;
                break;
            }
        if (!found && key != 0)
        {
            static const char16_t digits[] = u"0123456789ABCDEF";
            text += u"0x";
            text += digits[(key >> 4) & 0xF];
            text += digits[key & 0xF];
        }
    }
    if (key == 0 && text.size() >= 3)
        text.resize(text.size() - 3); // modifiers alone: no trailing " + "
    return text;
}

void HotKeyValueToRegistration(_dword value, _dword& modifiers, _dword& virtualKey)
{
    virtualKey = value & 0xFF;
    _dword flags = (value >> 8) & 0xFF;
    modifiers = 0;
    if (flags & _HOTKEYF_ALT)
        modifiers |= _MOD_ALT;
    if (flags & _HOTKEYF_CONTROL)
        modifiers |= _MOD_CONTROL;
    if (flags & _HOTKEYF_SHIFT)
        modifiers |= _MOD_SHIFT;
}

} // namespace Vexel::Ui
