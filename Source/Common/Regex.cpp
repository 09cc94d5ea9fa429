#include "Common/Regex.h"

#include "Common/Log.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <utility>

namespace Vexel
{

namespace
{

// The text of a view as the library's code units; an empty view may have no storage at all.
PCRE2_SPTR16 Units(std::u16string_view text)
{
    static const char16_t sEmpty[1] = {0};
    return reinterpret_cast<PCRE2_SPTR16>(text.data() ? text.data() : sEmpty);
}

String ErrorText(int code)
{
    PCRE2_UCHAR16 buffer[256];
    int length = pcre2_get_error_message_16(code, buffer, sizeof buffer / sizeof buffer[0]);
    if (length < 0)
        return FormatString(u"error %d", code);
    return String(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(length));
}

} // namespace

const String& RegexMatch::Group(std::size_t index) const
{
    static const String sEmpty;
    return index < groupTexts.size() ? groupTexts[index] : sEmpty;
}

Regex::Regex(TextRef pattern, _dword options)
{
    Compile(pattern, options);
}

Regex::~Regex()
{
    Release();
}

Regex::Regex(Regex&& other) noexcept
    : mCode(std::exchange(other.mCode, nullptr)), mMatchData(std::exchange(other.mMatchData, nullptr)),
      mPattern(std::move(other.mPattern)), mError(std::move(other.mError)),
      mErrorOffset(std::exchange(other.mErrorOffset, -1)), mGroupCount(std::exchange(other.mGroupCount, 0))
{
}

Regex& Regex::operator=(Regex&& other) noexcept
{
    if (this != &other)
    {
        Release();
        mCode = std::exchange(other.mCode, nullptr);
        mMatchData = std::exchange(other.mMatchData, nullptr);
        mPattern = std::move(other.mPattern);
        mError = std::move(other.mError);
        mErrorOffset = std::exchange(other.mErrorOffset, -1);
        mGroupCount = std::exchange(other.mGroupCount, 0);
    }
    return *this;
}

void Regex::Release()
{
    if (mMatchData)
        pcre2_match_data_free_16(mMatchData);
    if (mCode)
        pcre2_code_free_16(mCode);
    mMatchData = nullptr;
    mCode = nullptr;
    mGroupCount = 0;
}

bool Regex::Compile(TextRef pattern, _dword options)
{
    Release();
    mPattern.assign(pattern);
    mError.clear();
    mErrorOffset = -1;

    // Texts of the program may hold lone surrogates (the per-unit UTF-8 decoder makes them); they are
    // never matched but do not make a search fail.
    uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    if (options & _IGNORE_CASE)
        flags |= PCRE2_CASELESS;
    if (options & _MULTILINE)
        flags |= PCRE2_MULTILINE;
    if (options & _DOT_ALL)
        flags |= PCRE2_DOTALL;
    if (options & _UNICODE_CLASSES)
        flags |= PCRE2_UCP;

    int code = 0;
    PCRE2_SIZE offset = 0;
    mCode = pcre2_compile_16(Units(pattern), pattern.size(), flags, &code, &offset, nullptr);
    if (!mCode)
    {
        mErrorOffset = static_cast<int>(offset);
        mError = FormatString(u"%ls at offset %d", ErrorText(code).c_str(), mErrorOffset);
        LogError(u"[FG] Bad regular expression \"%ls\": %ls", mPattern.c_str(), mError.c_str());
        return false;
    }
    // Machine code where the library has it; the interpreter serves when it does not.
    pcre2_jit_compile_16(mCode, PCRE2_JIT_COMPLETE);

    uint32_t groups = 0;
    pcre2_pattern_info_16(mCode, PCRE2_INFO_CAPTURECOUNT, &groups);
    mGroupCount = groups;
    mMatchData = pcre2_match_data_create_from_pattern_16(mCode, nullptr);
    if (!mMatchData)
    {
        mError = u"out of memory";
        LogError(u"[FG] Bad regular expression \"%ls\": %ls", mPattern.c_str(), mError.c_str());
        Release();
        return false;
    }
    return true;
}

int Regex::Run(TextRef text, _dword start)
{
    if (!mCode || start > text.size())
        return 0;
    int rc = pcre2_match_16(mCode, Units(text), text.size(), start, 0, mMatchData, nullptr);
    if (rc == PCRE2_ERROR_NOMATCH)
        return 0;
    if (rc < 0)
    {
        LogError(u"[FG] Regular expression \"%ls\" failed: %ls", mPattern.c_str(), ErrorText(rc).c_str());
        return 0;
    }
    // 0 means the ovector was too small, which cannot happen with match data made from the pattern.
    return rc == 0 ? static_cast<int>(mGroupCount) + 1 : rc;
}

bool Regex::Find(TextRef text, RegexMatch& match, _dword start)
{
    match.position = -1;
    match.length = 0;
    match.text.clear();
    match.groups.clear();
    match.groupTexts.clear();

    int pairs = Run(text, start);
    if (pairs == 0)
        return false;

    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_16(mMatchData);
    std::size_t count = static_cast<std::size_t>(mGroupCount) + 1;
    match.groups.resize(count);
    match.groupTexts.resize(count);
    for (std::size_t i = 0; i < count; ++i)
    {
        PCRE2_SIZE from = ovector[2 * i];
        PCRE2_SIZE to = ovector[2 * i + 1];
        if (static_cast<int>(i) >= pairs || from == PCRE2_UNSET)
            continue; // the group took no part
        if (to < from)
            to = from; // only \K in an assertion can do this; take the match as empty
        match.groups[i] = RegexSpan{static_cast<int>(from), static_cast<_dword>(to - from)};
        match.groupTexts[i].assign(text.substr(from, to - from));
    }
    match.position = match.groups[0].position;
    match.length = match.groups[0].length;
    match.text = match.groupTexts[0];
    return true;
}

bool Regex::Contains(TextRef text, _dword start)
{
    return Run(text, start) > 0;
}

String Regex::FindText(TextRef text, _dword start)
{
    if (Run(text, start) == 0)
        return String();
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_16(mMatchData);
    if (ovector[1] < ovector[0])
        return String();
    return String(text.substr(ovector[0], ovector[1] - ovector[0]));
}

String Regex::Escape(TextRef text)
{
    String out;
    out.reserve(text.size() * 2);
    for (char16_t c : text)
    {
        bool plain =
            c >= 0x80 || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (!plain)
            out += u'\\';
        out += c;
    }
    return out;
}

} // namespace Vexel
