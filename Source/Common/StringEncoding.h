// Conversions between UTF-16 and UTF-8 or the system code page, ASCII case folding and search,
// splitting, and the path helpers that turn resource names into lookup keys.
#pragma once

#include "Common/Array.h"
#include "Common/String.h"

#include <string>
#include <string_view>

namespace Vexel
{

// Whole-text conversions for callers that hand text to the world outside (URLs, the script boundary,
// archive entry names, JSON): standard UTF-8, so a character outside the BMP is one four-byte sequence
// that other programs read. A lone surrogate keeps its three-byte form, so nothing is lost on the way
// back. FromUtf8 reads four-byte sequences as surrogate pairs and also the engine's per-unit form below
// (surrogate halves in three bytes each), so text written either way reads back the same.
std::string ToUtf8(std::u16string_view text);
String FromUtf8(std::string_view text);

// The one UTF-8 encoder: a code point (up to U+10FFFF) as 1 to 4 bytes at out, returning the count.
// The per-unit form above passes each UTF-16 unit as it is (at most 3 bytes each).
std::size_t EncodeUtf8(char32_t codePoint, char* out);
void AppendUtf8(std::string& out, char32_t codePoint);

// The system code page belongs to the platform layer, which installs its converters at start-up (both or
// neither; null restores the built-in ones). Until then the system code page is taken as UTF-8.
struct SystemTextConverters
{
    using ToWide = String (*)(const char* text, std::size_t length);
    using FromWide = std::string (*)(const char16_t* text, std::size_t length);
    ToWide toWide = nullptr;
    FromWide fromWide = nullptr;
};
void SetSystemTextConverters(const SystemTextConverters& converters);

// A maximum source length that does not limit: the conversion runs to the terminator.
constexpr _dword _WHOLE_TEXT = 0xFFFFFFFF;

// --- Buffer conversions --------------------------------------------------------------------------
//
// Every conversion reads the source up to its terminator or up to maxLength units, whichever comes
// first, so a counted source needs no terminator. A null source is reported ("str != _null") and gives
// a null result.
//
// Into a caller's buffer: destination of destSize units. The result is always terminated (when destSize
// is at least 1) and the destination is returned. Whatever does not fit sets *truncated; *produced is the
// number of units written without the terminator. A destSize of 0 writes nothing at all. A null
// destination only measures: nothing is written, nullptr is returned and *produced is what a large
// enough destination would receive.
//
// Allocating: the result owns exactly what the conversion produced (never truncated).
//
// UTF-8 here is the engine's own per-unit form: each 16-bit unit on its own, in one to three bytes, so a
// surrogate pair becomes two three-byte sequences; decoding counts units by lead byte only, skips bytes
// that cannot lead (stray continuation bytes, four-byte leads), drops a sequence cut off by the end of
// the input and takes the low bits of the following bytes without checking them.

char* WideToUtf8(char* dest, _dword destSize, const char16_t* str, _dword maxLength = _WHOLE_TEXT,
                 _dword* produced = nullptr, bool* truncated = nullptr);
std::string WideToUtf8(const char16_t* str, _dword maxLength = _WHOLE_TEXT);

char16_t* Utf8ToWide(char16_t* dest, _dword destSize, const char* str, _dword maxLength = _WHOLE_TEXT,
                     _dword* produced = nullptr, bool* truncated = nullptr);
String Utf8ToWide(const char* str, _dword maxLength = _WHOLE_TEXT);

// The same contract over the system's active code page. On Linux (and every POSIX system the program
// runs on) the system code page is UTF-8, and these are the standard conversions a system makes for
// it, not the engine's per-unit form: four-byte sequences become surrogate pairs and back, and an
// invalid sequence or a lone surrogate becomes U+FFFD. Truncation never splits a character. On Windows
// they are MultiByteToWideChar / WideCharToMultiByte with code page 0.
char16_t* AnsiToWide(char16_t* dest, _dword destSize, const char* str, _dword maxLength = _WHOLE_TEXT,
                     _dword* produced = nullptr, bool* truncated = nullptr);
String AnsiToWide(const char* str, _dword maxLength = _WHOLE_TEXT);

char* WideToAnsi(char* dest, _dword destSize, const char16_t* str, _dword maxLength = _WHOLE_TEXT,
                 _dword* produced = nullptr, bool* truncated = nullptr);
std::string WideToAnsi(const char16_t* str, _dword maxLength = _WHOLE_TEXT);

// --- Case and search (ASCII rules: only A-Z and a-z fold) ----------------------------------------

// A read-only text parameter: a String, a view, a literal or a plain pointer; a null pointer reads as
// the empty text, as every text parameter of the engine does.
class TextRef : public std::u16string_view
{
public:
    TextRef() = default;
    TextRef(const char16_t* text) : std::u16string_view(text ? text : u"") {}
    TextRef(const std::u16string& text) : std::u16string_view(text) {}
    TextRef(std::u16string_view text) : std::u16string_view(text) {}
};

// A-Z become a-z in place; the text is returned, or the shared empty text for a null one.
const char16_t* ToLower(char16_t* text);
String& ToLower(String& text);

// Exact: unit by unit. Otherwise without regard to ASCII case (both sides folded to lower case). Below,
// equal to or above zero.
int Compare(TextRef a, TextRef b, bool exact = true);

// Index of the first occurrence of pattern in text, or -1; an empty pattern is never found.
int Find(TextRef text, TextRef pattern, bool exact = true);

// An empty prefix gives false.
bool StartsWith(TextRef text, TextRef prefix, bool exact = true);

// Index of the first (or last) occurrence of the character, or -1.
int FindChar(TextRef text, char16_t character, bool fromBack = false);

// --- Splitting -----------------------------------------------------------------------------------

// Appends to tokens the runs of text between the characters of the set separators (an empty set is
// reported, "division != L\"\"", and nothing is split). Every separator ends a token, even an empty one:
// "a,,b" gives a, "", b and "a," gives a, "". The text after the last separator is added only when it is
// not empty, so an empty text gives no token and "a,b" gives a, b. With trim set, spaces and tabs are cut
// from both ends of every token first (so "a, " gives just a, while "a," still gives a, "").
void Split(TextRef text, TextRef separators, bool trim, Array<String>& tokens);

// Appends the arguments of a command line: split at spaces and tabs outside double quotes; a double
// quote switches quoting on or off and is dropped; empty arguments are not produced ("" gives nothing).
void SplitArguments(TextRef commandLine, Array<String>& arguments);

// --- Paths ("\" is the separator; "/" is accepted wherever "\" is) -------------------------------

// The text before the last ".", or all of it.
String FileTitle(TextRef path);

// The text after the last ".", or empty.
String FileExtension(TextRef path);

// The text before the last (fromBack) or the first "\"; when there is none, "/"; then ":". Empty when the
// path has none of them.
String FolderOf(TextRef path, bool fromBack = true);

// The text after the last "\", "/" or ":" (all of it with keepFolder), without the part from the last
// "." on (unless keepExtension); a "." before the last separator is not an extension.
String FileNameOf(TextRef path, bool keepExtension = true, bool keepFolder = false);

// The resource key of name in folder: the name alone when it is absolute (starts with "\" or "/", has a
// drive letter, or is a URL with "://") or when the folder is empty or "."; else folder, "\", name (no
// second "\" when the folder already ends with a separator). The result is lower-cased and normalised,
// and the key NormalizePath gives is what is returned.
String JoinPath(TextRef folder, TextRef name);

// Normalises text in place and returns the offset at which its key starts (the key is
// text.substr(offset)):
// - "http://..." (exact): every "\", "/" and ":" after the seven characters becomes "#"; the offset is 7
//   and the prefix stays in the text ("http://cdn/a/b.dat" gives the key "cdn#a#b.dat").
// - anything else: offset 0. Every "/" becomes "\". Unless the text starts with ".", a component "." and
//   the separator after it go, and a component ".." followed by a separator goes with that separator,
//   the separator before it and the component before that ("a\b\..\c" gives "a\c", "a\.\b" gives
//   "a\b"); a final ".." or "." with no separator after it stays. A ".." with no component before it
//   goes alone with its separator ("a\..\..\b" gives "b"), and a leading root "\" stays ("\..\a"
//   gives "\a").
// Removed characters are marked "?" and then all "?" are squeezed out in one pass, so a text that lost
// something also loses any "?" it held; a text that lost nothing keeps them.
_dword NormalizePath(String& text);

} // namespace Vexel
