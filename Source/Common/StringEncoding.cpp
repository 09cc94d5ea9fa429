#include "Common/StringEncoding.h"

#include "Common/Assert.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace Vexel
{

namespace
{

constexpr const char16_t* _NULL_SOURCE = u"str != _null";

// Units of a source up to its terminator or maxLength, whichever comes first.
template <typename Char> std::size_t SourceLength(const Char* str, _dword maxLength)
{
    std::size_t n = 0;
    while (n < maxLength && str[n] != 0)
        ++n;
    return n;
}

void ClearOutputs(_dword* produced, bool* truncated)
{
    if (produced)
        *produced = 0;
    if (truncated)
        *truncated = false;
}

void SetOutputs(_dword* produced, std::size_t count, bool* truncated, bool cut)
{
    if (produced)
        *produced = static_cast<_dword>(count);
    if (truncated)
        *truncated = cut;
}

// --- The engine's per-unit UTF-8 ------------------------------------------------------------------

constexpr std::size_t Utf8Bytes(char16_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
}

char* EncodeUnit(char* out, char16_t c)
{
    return out + EncodeUtf8(c, out);
}

std::size_t Utf8Size(const char16_t* str, std::size_t n)
{
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < n; ++i)
        bytes += Utf8Bytes(str[i]);
    return bytes;
}

std::string EncodeUnits(const char16_t* str, std::size_t n)
{
    std::string out(Utf8Size(str, n), '\0');
    char* p = out.data();
    for (std::size_t i = 0; i < n; ++i)
        p = EncodeUnit(p, str[i]);
    return out;
}

// Calls sink(unit) for each unit the bytes decode to, until it returns false. Units are counted by
// lead byte alone; what follows a lead is taken as it is. With fourByte, a four-byte sequence is read as
// the surrogate pair of its character; without it (the engine's per-unit form) a four-byte lead is
// skipped like any byte that cannot lead.
template <bool fourByte = false, typename Sink> void DecodeUtf8(const char* str, std::size_t n, Sink&& sink)
{
    const auto* s = reinterpret_cast<const unsigned char*>(str);
    std::size_t i = 0;
    while (i < n)
    {
        unsigned char lead = s[i];
        std::size_t need = lead < 0x80                                ? 1
                           : (lead & 0xE0) == 0xC0                    ? 2
                           : (lead & 0xF0) == 0xE0                    ? 3
                           : fourByte && lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                      : 0;
        if (need == 0)
        {
            ++i; // a continuation byte out of place or a lead this form does not have produces nothing
            continue;
        }
        if (need > n - i)
            return; // a sequence cut off by the end is dropped
        if (need == 4)
        {
            char32_t cp = ((lead & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                          (s[i + 3] & 0x3F);
            i += 4;
            if (cp < 0x10000 || cp > 0x10FFFF)
            {
                if (!sink(u'\uFFFD'))
                    return;
                continue;
            }
            cp -= 0x10000;
            if (!sink(static_cast<char16_t>(0xD800 | (cp >> 10))) ||
                !sink(static_cast<char16_t>(0xDC00 | (cp & 0x3FF))))
                return;
            continue;
        }
        char16_t c;
        if (need == 1)
            c = lead;
        else if (need == 2)
            c = static_cast<char16_t>(((lead & 0x1F) << 6) | (s[i + 1] & 0x3F));
        else
            c = static_cast<char16_t>(((lead & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
        i += need;
        if (!sink(c))
            return;
    }
}

// --- The system code page --------------------------------------------------------------------------

// The built-in converters (used until the platform installs its own): the system code page of a POSIX
// system is UTF-8: standard decoding, as the system's own converters do.
// An ill-formed sequence gives one U+FFFD for its longest valid-looking start (at least one byte).
// Calls sink(units, count) for each character (1 or 2 units) until it returns false.
template <typename Sink> void DecodeSystem(const char* str, std::size_t n, Sink&& sink)
{
    const auto* s = reinterpret_cast<const unsigned char*>(str);
    std::size_t i = 0;
    while (i < n)
    {
        unsigned char lead = s[i];
        char32_t cp = 0xFFFD;
        std::size_t used = 1;
        if (lead < 0x80)
            cp = lead;
        else if (lead >= 0xC2 && lead <= 0xF4)
        {
            std::size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            // Range of the second byte that keeps the sequence well formed (no overlong form, no
            // surrogate, nothing above U+10FFFF); later bytes are any continuation byte.
            unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            char32_t value = lead & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
            std::size_t k = 1;
            for (; k < need && i + k < n; ++k)
            {
                unsigned char b = s[i + k];
                bool ok = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
                if (!ok)
                    break;
                value = (value << 6) | (b & 0x3F);
            }
            used = k;
            if (k == need)
                cp = value;
        }
        i += used;
        char16_t units[2];
        std::size_t count = 1;
        if (cp >= 0x10000)
        {
            cp -= 0x10000;
            units[0] = static_cast<char16_t>(0xD800 | (cp >> 10));
            units[1] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
            count = 2;
        }
        else
            units[0] = static_cast<char16_t>(cp);
        if (!sink(units, count))
            return;
    }
}

// Calls sink(bytes, count) for each character (a surrogate pair is one character; a lone surrogate
// becomes U+FFFD) until it returns false.
template <typename Sink> void EncodeSystem(const char16_t* str, std::size_t n, Sink&& sink)
{
    std::size_t i = 0;
    while (i < n)
    {
        char32_t cp = str[i++];
        if (cp >= 0xD800 && cp <= 0xDBFF && i < n && str[i] >= 0xDC00 && str[i] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (str[i++] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        char bytes[4];
        std::size_t count = EncodeUtf8(cp, bytes);
        if (!sink(bytes, count))
            return;
    }
}

// A sink for the system decoders: copies each character whole into dest while it fits (counting the
// units even without a dest), and stops at the first that does not.
template <typename Char> auto CopyWhileRoom(Char* dest, std::size_t room, std::size_t& count, bool& cut)
{
    return [dest, room, &count, &cut](const Char* units, std::size_t k)
    {
        if (dest && k > room - count)
        {
            cut = true;
            return false;
        }
        if (dest)
            std::copy(units, units + k, dest + count);
        count += k;
        return true;
    };
}

String BuiltInSystemToWide(const char* str, std::size_t n)
{
    String out;
    out.reserve(n);
    DecodeSystem(str, n,
                 [&](const char16_t* units, std::size_t count)
                 {
                     out.append(units, count);
                     return true;
                 });
    return out;
}

std::string BuiltInWideToSystem(const char16_t* str, std::size_t n)
{
    std::string out;
    out.reserve(n);
    EncodeSystem(str, n,
                 [&](const char* bytes, std::size_t count)
                 {
                     out.append(bytes, count);
                     return true;
                 });
    return out;
}

std::atomic<SystemTextConverters::ToWide> gToWide{nullptr};
std::atomic<SystemTextConverters::FromWide> gFromWide{nullptr};

bool PlatformConverts()
{
    return gToWide.load(std::memory_order_acquire) != nullptr;
}

String SystemToWide(const char* str, std::size_t n)
{
    auto convert = gToWide.load(std::memory_order_acquire);
    return convert ? convert(str, n) : BuiltInSystemToWide(str, n);
}

std::string WideToSystem(const char16_t* str, std::size_t n)
{
    auto convert = gFromWide.load(std::memory_order_acquire);
    return convert ? convert(str, n) : BuiltInWideToSystem(str, n);
}

bool IsHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

std::u16string_view TrimBlanks(std::u16string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameUnits(std::u16string_view a, std::u16string_view b, bool exact)
{
    return a.size() == b.size() && CompareText(a, b, exact) == 0;
}

} // namespace

void SetSystemTextConverters(const SystemTextConverters& converters)
{
    gToWide.store(converters.toWide, std::memory_order_release);
    gFromWide.store(converters.fromWide, std::memory_order_release);
}

std::size_t EncodeUtf8(char32_t codePoint, char* out)
{
    if (codePoint < 0x80)
    {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800)
    {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000)
    {
        out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

void AppendUtf8(std::string& out, char32_t codePoint)
{
    char bytes[4];
    out.append(bytes, EncodeUtf8(codePoint, bytes));
}

// --- Whole-text conversions ----------------------------------------------------------------------

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    char bytes[4];
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        out.append(bytes, EncodeUtf8(cp, bytes)); // a lone surrogate keeps its three-byte form
    }
    return out;
}

String FromUtf8(std::string_view text)
{
    String out;
    out.reserve(text.size());
    DecodeUtf8<true>(text.data(), text.size(),
                     [&](char16_t c)
                     {
                         out += c;
                         return true;
                     });
    return out;
}

// --- Buffer conversions --------------------------------------------------------------------------

char* WideToUtf8(char* dest, _dword destSize, const char16_t* str, _dword maxLength, _dword* produced,
                 bool* truncated)
{
    ClearOutputs(produced, truncated);
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return nullptr;
    std::size_t n = SourceLength(str, maxLength);
    if (!dest)
    {
        SetOutputs(produced, Utf8Size(str, n), truncated, false);
        return nullptr;
    }
    if (destSize == 0)
    {
        SetOutputs(produced, 0, truncated, n > 0);
        return dest;
    }
    // Stop before the first unit whose bytes would leave no room for the terminator.
    std::size_t room = static_cast<std::size_t>(destSize) - 1;
    std::size_t used = 0;
    std::size_t i = 0;
    for (; i < n; ++i)
    {
        std::size_t bytes = Utf8Bytes(str[i]);
        if (bytes > room - used)
            break;
        EncodeUnit(dest + used, str[i]);
        used += bytes;
    }
    dest[used] = '\0';
    SetOutputs(produced, used, truncated, i < n);
    return dest;
}

std::string WideToUtf8(const char16_t* str, _dword maxLength)
{
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return std::string();
    return EncodeUnits(str, SourceLength(str, maxLength));
}

char16_t* Utf8ToWide(char16_t* dest, _dword destSize, const char* str, _dword maxLength, _dword* produced,
                     bool* truncated)
{
    ClearOutputs(produced, truncated);
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return nullptr;
    std::size_t n = SourceLength(str, maxLength);
    if (!dest)
    {
        std::size_t count = 0;
        DecodeUtf8(str, n,
                   [&](char16_t)
                   {
                       ++count;
                       return true;
                   });
        SetOutputs(produced, count, truncated, false);
        return nullptr;
    }
    // The destination takes at most destSize - 1 units; a unit beyond that means the text was cut.
    std::size_t room = destSize == 0 ? 0 : static_cast<std::size_t>(destSize) - 1;
    std::size_t count = 0;
    bool cut = false;
    DecodeUtf8(str, n,
               [&](char16_t c)
               {
                   if (count == room)
                   {
                       cut = true;
                       return false;
                   }
                   dest[count++] = c;
                   return true;
               });
    if (destSize > 0)
        dest[count] = u'\0';
    SetOutputs(produced, count, truncated, cut);
    return dest;
}

String Utf8ToWide(const char* str, _dword maxLength)
{
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return String();
    std::size_t n = SourceLength(str, maxLength);
    String out;
    out.reserve(n);
    DecodeUtf8(str, n,
               [&](char16_t c)
               {
                   out += c;
                   return true;
               });
    return out;
}

char16_t* AnsiToWide(char16_t* dest, _dword destSize, const char* str, _dword maxLength, _dword* produced,
                     bool* truncated)
{
    ClearOutputs(produced, truncated);
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return nullptr;
    std::size_t n = SourceLength(str, maxLength);
    std::size_t room = destSize == 0 ? 0 : static_cast<std::size_t>(destSize) - 1;
    std::size_t count = 0;
    bool cut = false;
    if (!PlatformConverts())
        DecodeSystem(str, n, CopyWhileRoom(dest, room, count, cut));
    else
    {
        String all = SystemToWide(str, n);
        count = all.size();
        if (dest && count > room)
        {
            // Never end on the first half of a surrogate pair.
            count = room;
            if (count > 0 && IsHighSurrogate(all[count - 1]))
                --count;
            cut = true;
        }
        if (dest)
            std::copy(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count), dest);
    }
    if (dest && destSize > 0)
        dest[count] = u'\0';
    SetOutputs(produced, count, truncated, cut);
    return dest;
}

String AnsiToWide(const char* str, _dword maxLength)
{
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return String();
    return SystemToWide(str, SourceLength(str, maxLength));
}

char* WideToAnsi(char* dest, _dword destSize, const char16_t* str, _dword maxLength, _dword* produced,
                 bool* truncated)
{
    ClearOutputs(produced, truncated);
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return nullptr;
    std::size_t n = SourceLength(str, maxLength);
    std::size_t room = destSize == 0 ? 0 : static_cast<std::size_t>(destSize) - 1;
    std::size_t count = 0;
    bool cut = false;
    if (!PlatformConverts())
        EncodeSystem(str, n, CopyWhileRoom(dest, room, count, cut));
    else
    {
        std::string all = WideToSystem(str, n);
        count = all.size();
        if (dest && count > room)
        {
            // A multi-byte code page cannot be cut at any byte: take the longest whole-character source
            // prefix whose conversion fits.
            std::size_t low = 0, high = n;
            while (low < high)
            {
                std::size_t mid = low + (high - low + 1) / 2;
                if (WideToSystem(str, mid).size() <= room)
                    low = mid;
                else
                    high = mid - 1;
            }
            if (low > 0 && low < n && IsHighSurrogate(str[low - 1]))
                --low;
            all = WideToSystem(str, low);
            count = all.size();
            cut = true;
        }
        if (dest)
            std::copy(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count), dest);
    }
    if (dest && destSize > 0)
        dest[count] = '\0';
    SetOutputs(produced, count, truncated, cut);
    return dest;
}

std::string WideToAnsi(const char16_t* str, _dword maxLength)
{
    if (!VEXEL_ASSERT_TEXT(str != nullptr, _NULL_SOURCE))
        return std::string();
    return WideToSystem(str, SourceLength(str, maxLength));
}

// --- Case and search -----------------------------------------------------------------------------

const char16_t* ToLower(char16_t* text)
{
    if (!text)
        return u"";
    for (char16_t* p = text; *p; ++p)
        *p = AsciiLower(*p);
    return text;
}

String& ToLower(String& text)
{
    for (char16_t& c : text)
        c = AsciiLower(c);
    return text;
}

int Compare(TextRef a, TextRef b, bool exact)
{
    return CompareText(a, b, exact);
}

int Find(TextRef text, TextRef pattern, bool exact)
{
    if (pattern.empty() || pattern.size() > text.size())
        return -1;
    auto same = [exact](char16_t x, char16_t y) { return exact ? x == y : AsciiLower(x) == AsciiLower(y); };
    auto at = std::search(text.begin(), text.end(), pattern.begin(), pattern.end(), same);
    return at == text.end() ? -1 : static_cast<int>(at - text.begin());
}

bool StartsWith(TextRef text, TextRef prefix, bool exact)
{
    if (prefix.empty() || prefix.size() > text.size())
        return false;
    return SameUnits(text.substr(0, prefix.size()), prefix, exact);
}

int FindChar(TextRef text, char16_t character, bool fromBack)
{
    std::size_t at = fromBack ? text.rfind(character) : text.find(character);
    return at == std::u16string_view::npos ? -1 : static_cast<int>(at);
}

// --- Splitting -----------------------------------------------------------------------------------

void Split(TextRef text, TextRef separators, bool trim, Array<String>& tokens)
{
    if (!VEXEL_ASSERT_TEXT(!separators.empty(), u"division != L\"\""))
        return;
    auto add = [&](std::u16string_view token) { tokens.Append(String(trim ? TrimBlanks(token) : token)); };
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (separators.find(text[i]) == std::u16string_view::npos)
            continue;
        add(text.substr(start, i - start));
        start = i + 1;
    }
    std::u16string_view last = text.substr(start);
    if (!text.empty() && start == text.size())
        tokens.Append(String()); // a trailing separator ends with an empty token
    else if (!(trim ? TrimBlanks(last) : last).empty())
        add(last);
}

void SplitArguments(TextRef commandLine, Array<String>& arguments)
{
    String current;
    bool quoted = false;
    for (char16_t c : commandLine)
    {
        if (c == u'"')
            quoted = !quoted;
        else if (IsBlank(c) && !quoted)
        {
            if (!current.empty())
                arguments.Append(std::move(current));
            current.clear();
        }
        else
            current += c;
    }
    if (!current.empty())
        arguments.Append(std::move(current));
}

// --- Paths ---------------------------------------------------------------------------------------

String FileTitle(TextRef path)
{
    std::size_t dot = path.rfind(u'.');
    return String(dot == std::u16string_view::npos ? path : path.substr(0, dot));
}

String FileExtension(TextRef path)
{
    std::size_t dot = path.rfind(u'.');
    return dot == std::u16string_view::npos ? String() : String(path.substr(dot + 1));
}

String FolderOf(TextRef path, bool fromBack)
{
    for (char16_t separator : {u'\\', u'/', u':'})
    {
        std::size_t at = fromBack ? path.rfind(separator) : path.find(separator);
        if (at != std::u16string_view::npos)
            return String(path.substr(0, at));
    }
    return String();
}

String FileNameOf(TextRef path, bool keepExtension, bool keepFolder)
{
    std::size_t separator = path.find_last_of(u"\\/:");
    std::size_t start = separator == std::u16string_view::npos ? 0 : separator + 1;
    std::u16string_view name = path;
    if (!keepExtension)
    {
        std::size_t dot = path.rfind(u'.');
        if (dot != std::u16string_view::npos && dot >= start)
            name = name.substr(0, dot);
    }
    if (!keepFolder)
        name = name.substr(start);
    return String(name);
}

String JoinPath(TextRef folder, TextRef name)
{
    bool absolute = (!name.empty() && IsSeparator(name.front())) || (name.size() >= 2 && name[1] == u':') ||
                    name.find(u"://") != std::u16string_view::npos;
    String path;
    if (absolute || folder.empty() || folder == u".")
        path.assign(name);
    else
    {
        path.reserve(folder.size() + 1 + name.size());
        path.assign(folder);
        if (!IsSeparator(folder.back()))
            path += u'\\';
        path.append(name);
    }
    ToLower(path);
    _dword key = NormalizePath(path);
    if (key > 0)
        path.erase(0, key);
    return path;
}

_dword NormalizePath(String& text)
{
    constexpr std::u16string_view http = u"http://";
    if (std::u16string_view(text).substr(0, http.size()) == http)
    {
        for (std::size_t i = http.size(); i < text.size(); ++i)
            if (text[i] == u'\\' || text[i] == u'/' || text[i] == u':')
                text[i] = u'#';
        return static_cast<_dword>(http.size());
    }

    std::replace(text.begin(), text.end(), u'/', u'\\');
    if (text.empty() || text[0] == u'.')
        return 0;

    // Removed characters become "?" first. A run of them always ends with a separator and starts right
    // after one (or at the start), which lets the walk back over earlier removals find the live separator.
    auto mark = [&text](std::ptrdiff_t from, std::ptrdiff_t to)
    { std::fill(text.begin() + from, text.begin() + to + 1, u'?'); };
    bool removed = false;
    std::ptrdiff_t last = -1; // the previous separator, removed or not
    const auto n = static_cast<std::ptrdiff_t>(text.size());
    for (std::ptrdiff_t i = 0; i < n; ++i)
    {
        if (text[i] != u'\\')
            continue;
        std::ptrdiff_t length = i - last - 1;
        if (length == 1 && text[i - 1] == u'.')
        {
            mark(last + 1, i);
            removed = true;
        }
        else if (length == 2 && text[i - 1] == u'.' && text[i - 2] == u'.')
        {
            // The separator before "..", past what is already removed, and the component before it.
            std::ptrdiff_t before = last;
            while (before >= 0 && text[before] == u'?')
                --before;
            std::ptrdiff_t from = last + 1; // nothing before: only ".." and its separator go
            if (before >= 0)
            {
                std::ptrdiff_t k = before - 1;
                while (k >= 0 && text[k] != u'\\')
                    --k;
                from = k + 1;
                if (k < 0 && before == 0)
                    from = 1; // "\..\a": the leading root separator stays
            }
            mark(from, i);
            removed = true;
        }
        last = i;
    }
    if (removed)
        text.erase(std::remove(text.begin(), text.end(), u'?'), text.end());
    return 0;
}

} // namespace Vexel
