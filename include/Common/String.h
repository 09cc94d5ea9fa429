// Wide (UTF-16) text, the one string type of the program.
//
// A thin layer over std::u16string: it keeps the standard container's storage and algorithms and adds
// the few operations the engine speaks in (exact or case-blind comparison with ASCII folding, character
// search from either end). Conversions, formatting and paths live in Common/StringEncoding.h and
// Common/StringFormatter.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Vexel
{

using _dword = std::uint32_t;
using _qword = std::uint64_t;
using _byte = std::uint8_t;
using _word = std::uint16_t;

// ASCII-only case folding: A-Z and a-z fold, every other unit compares unchanged.
constexpr char16_t AsciiLower(char16_t c) noexcept
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

// Three-way comparison of two wide texts, exact or without regard to ASCII case.
inline int CompareText(std::u16string_view a, std::u16string_view b, bool exact) noexcept
{
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i)
    {
        char16_t x = exact ? a[i] : AsciiLower(a[i]);
        char16_t y = exact ? b[i] : AsciiLower(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

class String : public std::u16string
{
public:
    using std::u16string::u16string;
    String() = default;
    String(const std::u16string& other) : std::u16string(other) {}
    String(std::u16string&& other) noexcept : std::u16string(std::move(other)) {}
    explicit String(std::u16string_view view) : std::u16string(view) {}
    // A null pointer reads as the empty text, as every text parameter of the engine does.
    String(const char16_t* text) : std::u16string(text ? text : u"") {}

    String& operator=(const char16_t* text)
    {
        assign(text ? text : u"");
        return *this;
    }

    _dword Length() const noexcept { return static_cast<_dword>(size()); }
    bool IsEmpty() const noexcept { return empty(); }

    int Compare(std::u16string_view other, bool exact = true) const noexcept
    {
        return CompareText(*this, other, exact);
    }
    bool Equals(std::u16string_view other, bool exact = true) const noexcept
    {
        return CompareText(*this, other, exact) == 0;
    }

    // Index of the character searched from the front (or from the back), or -1.
    int SearchChar(char16_t c, bool fromBack = false) const noexcept
    {
        size_type at = fromBack ? rfind(c) : find(c);
        return at == npos ? -1 : static_cast<int>(at);
    }

    String& Append(std::u16string_view text)
    {
        append(text);
        return *this;
    }
    String& Append(char16_t c)
    {
        push_back(c);
        return *this;
    }
};

} // namespace Vexel

template <> struct std::hash<Vexel::String>
{
    std::size_t operator()(const Vexel::String& s) const noexcept { return std::hash<std::u16string>()(s); }
};
