// printf-style formatting of wide text, type-safe: each argument carries its own type, so "%ls", "%d",
// "%x", "%.8x", "%3.2f", "%I64d" and the like work as written in the program's texts without C varargs.
//
// Integer directives take their signedness from the directive and their width from the argument (an
// "h" or "hh" modifier narrows it, as in C): "%x" of -1 as a 32-bit int gives ffffffff, "%d" of a
// 64-bit value prints all of it. A text directive (%s, %ls, %hs, %S) prints any text argument; a
// mismatched argument is printed in its natural form rather than reinterpreted. Missing arguments print
// as 0 or the empty text; "%n" writes nothing.
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace Vexel
{

struct FormatArg
{
    enum class Kind : std::uint8_t
    {
        Signed,
        Unsigned,
        Float,
        WideText,
        NarrowText,
        Pointer,
    };
    Kind kind = Kind::Signed;
    std::uint8_t size = 4; // bytes of the original integer
    union
    {
        std::int64_t i;
        std::uint64_t u;
        double d;
        const char16_t* ws;
        const char* ns;
        const void* p;
    };
    std::size_t length = 0; // characters of a text argument
};

namespace Detail
{
template <typename T> FormatArg MakeFormatArg(const T& value)
{
    FormatArg arg;
    using D = std::decay_t<T>;
    if constexpr (std::is_same_v<D, bool>)
    {
        arg.kind = FormatArg::Kind::Signed;
        arg.size = 4;
        arg.i = value ? 1 : 0;
    }
    else if constexpr (std::is_same_v<D, char16_t> || std::is_same_v<D, wchar_t>)
    {
        arg.kind = FormatArg::Kind::Unsigned;
        arg.size = sizeof(D);
        arg.u = static_cast<std::uint64_t>(value);
    }
    else if constexpr (std::is_enum_v<D>)
    {
        return MakeFormatArg(static_cast<std::underlying_type_t<D>>(value));
    }
    else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>)
    {
        arg.kind = FormatArg::Kind::Signed;
        arg.size = sizeof(D);
        arg.i = static_cast<std::int64_t>(value);
    }
    else if constexpr (std::is_integral_v<D>)
    {
        arg.kind = FormatArg::Kind::Unsigned;
        arg.size = sizeof(D);
        arg.u = static_cast<std::uint64_t>(value);
    }
    else if constexpr (std::is_floating_point_v<D>)
    {
        arg.kind = FormatArg::Kind::Float;
        arg.size = sizeof(D);
        arg.d = static_cast<double>(value);
    }
    else if constexpr (std::is_convertible_v<const D&, std::u16string_view> && !std::is_pointer_v<D> &&
                       !std::is_array_v<T>)
    {
        std::u16string_view view = value;
        arg.kind = FormatArg::Kind::WideText;
        arg.ws = view.data();
        arg.length = view.size();
    }
    else if constexpr (std::is_same_v<D, const char16_t*> || std::is_same_v<D, char16_t*>)
    {
        const char16_t* text = value;
        arg.kind = FormatArg::Kind::WideText;
        arg.ws = text ? text : u"(null)";
        arg.length = std::char_traits<char16_t>::length(arg.ws);
    }
    else if constexpr (std::is_convertible_v<const D&, std::string_view> && !std::is_pointer_v<D> &&
                       !std::is_array_v<T>)
    {
        std::string_view view = value;
        arg.kind = FormatArg::Kind::NarrowText;
        arg.ns = view.data();
        arg.length = view.size();
    }
    else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>)
    {
        const char* text = value;
        arg.kind = FormatArg::Kind::NarrowText;
        arg.ns = text ? text : "(null)";
        arg.length = std::char_traits<char>::length(arg.ns);
    }
    else if constexpr (std::is_pointer_v<D> || std::is_null_pointer_v<D>)
    {
        arg.kind = FormatArg::Kind::Pointer;
        arg.size = sizeof(void*);
        arg.p = static_cast<const void*>(value);
    }
    else
    {
        static_assert(sizeof(T) == 0, "type cannot be formatted");
    }
    return arg;
}
} // namespace Detail

// Formats into buffer (length characters including the terminator, which is always written); output is
// cut at length - 1 characters. Returns the number of characters written, without the terminator.
std::size_t FormatArgs(char16_t* buffer, std::size_t length, const char16_t* format, const FormatArg* args,
                       std::size_t count);

// The variant over a prepared argument list; asserts its arguments like the other variants.
char16_t* FormatBufferList(char16_t* buffer, std::size_t length, const char16_t* format,
                           const FormatArg* args, std::size_t count);

namespace Detail
{
char16_t* FormatBufferChecked(char16_t* buffer, std::size_t length, const char16_t* format,
                              const FormatArg* args, std::size_t count);
}

template <typename... Args>
char16_t* FormatBuffer(char16_t* buffer, std::size_t length, const char16_t* format, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0)
        return Detail::FormatBufferChecked(buffer, length, format, nullptr, 0);
    else
    {
        const FormatArg list[] = {Detail::MakeFormatArg(args)...};
        return Detail::FormatBufferChecked(buffer, length, format, list, sizeof...(Args));
    }
}

// Formats into a scratch buffer of 8,192 characters (longer output is cut) and returns a copy.
String FormatStringList(const char16_t* format, const FormatArg* args, std::size_t count);

template <typename... Args> String FormatString(const char16_t* format, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0)
        return FormatStringList(format, nullptr, 0);
    else
    {
        const FormatArg list[] = {Detail::MakeFormatArg(args)...};
        return FormatStringList(format, list, sizeof...(Args));
    }
}

} // namespace Vexel
