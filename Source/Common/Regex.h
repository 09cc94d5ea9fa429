// Regular expressions over wide (UTF-16) text, on PCRE2's 16-bit library: Perl-style patterns with
// character and POSIX classes, back-references, word boundaries, greedy, lazy and possessive repetition,
// atomic groups and conditions.
//
// A Regex is compiled once and used for many searches. It keeps the match data the searches need, so a
// search allocates nothing beyond the texts it hands back (and a RegexMatch reused across searches keeps
// its storage); for the same reason one Regex must not search on two threads at once.
#pragma once

#include "Common/StringEncoding.h"

#include <vector>

struct pcre2_real_code_16;
struct pcre2_real_match_data_16;

namespace Vexel
{

// Where a group matched: position -1 when the group took no part in the match.
struct RegexSpan
{
    int position = -1;
    _dword length = 0;
};

struct RegexMatch
{
    int position = -1; // -1: nothing was found
    _dword length = 0;
    String text; // the matched text

    // Every group of the pattern by number, the whole match at index 0; a group that took no part has
    // position -1 and empty text.
    std::vector<RegexSpan> groups;
    std::vector<String> groupTexts;

    bool Found() const noexcept { return position >= 0; }
    // The text of a group, or the empty text for a group that did not match or does not exist.
    const String& Group(std::size_t index) const;
};

class Regex
{
public:
    enum Option : _dword
    {
        _NONE = 0,
        _IGNORE_CASE = 1,     // letters match either case
        _MULTILINE = 2,       // ^ and $ match at line starts and ends
        _DOT_ALL = 4,         // . matches line ends too
        _UNICODE_CLASSES = 8, // \w, \d, \b and the POSIX classes go by Unicode properties, not ASCII
    };

    Regex() = default;
    // Compiles at once; check IsValid.
    explicit Regex(TextRef pattern, _dword options = _NONE);
    ~Regex();
    Regex(Regex&& other) noexcept;
    Regex& operator=(Regex&& other) noexcept;
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    // Replaces any earlier pattern. A bad pattern leaves the Regex without one (IsValid false, searches
    // find nothing), sets Error and writes a log line.
    bool Compile(TextRef pattern, _dword options = _NONE);

    bool IsValid() const noexcept { return mCode != nullptr; }
    const String& Pattern() const noexcept { return mPattern; }
    // Why the last Compile failed ("missing closing parenthesis at offset 4"), or empty.
    const String& Error() const noexcept { return mError; }
    // Offset in the pattern where the last Compile failed, or -1.
    int ErrorOffset() const noexcept { return mErrorOffset; }
    // Number of capturing groups, not counting the whole match.
    _dword GroupCount() const noexcept { return mGroupCount; }

    // The first match in text at or after the unit offset start. Fills match (cleared first) and returns
    // whether one was found.
    bool Find(TextRef text, RegexMatch& match, _dword start = 0);
    // Whether there is a match, without copying anything.
    bool Contains(TextRef text, _dword start = 0);
    // The first matched text, or the empty text.
    String FindText(TextRef text, _dword start = 0);

    // The pattern that matches text literally (every ASCII character other than a letter or a digit is
    // escaped), for building patterns from outside words.
    static String Escape(TextRef text);

private:
    // Runs the search; the number of ovector pairs set, or 0 when nothing matched.
    int Run(TextRef text, _dword start);
    void Release();

    pcre2_real_code_16* mCode = nullptr;
    pcre2_real_match_data_16* mMatchData = nullptr;
    String mPattern;
    String mError;
    int mErrorOffset = -1;
    _dword mGroupCount = 0;
};

} // namespace Vexel
