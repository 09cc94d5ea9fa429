#include "Storage/Download/ContentRange.h"

namespace Vexel
{

namespace
{

constexpr std::int64_t _LARGEST = std::int64_t(1) << 56;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Decimal digits at i; false when there are none or the number reaches the largest length.
bool ReadNumber(const char* line, std::size_t length, std::size_t& i, std::int64_t& value)
{
    const std::size_t start = i;
    value = 0;
    while (i < length && line[i] >= '0' && line[i] <= '9')
    {
        value = value * 10 + (line[i++] - '0');
        if (value >= _LARGEST)
            return false;
    }
    return i > start;
}

} // namespace

std::optional<ContentRange> ParseContentRangeLine(const char* line, std::size_t length)
{
    static const char _NAME[] = "content-range:";
    const std::size_t nameLength = sizeof _NAME - 1;
    if (line == nullptr || length < nameLength)
        return std::nullopt;
    for (std::size_t i = 0; i < nameLength; ++i)
        if (Lower(line[i]) != _NAME[i])
            return std::nullopt;
    std::size_t i = nameLength;
    while (i < length && IsBlank(line[i]))
        ++i;
    static const char _UNIT[] = "bytes";
    for (std::size_t k = 0; k < sizeof _UNIT - 1; ++k, ++i)
        if (i >= length || Lower(line[i]) != _UNIT[k])
            return std::nullopt;
    if (i >= length || !IsBlank(line[i]))
        return std::nullopt;
    while (i < length && IsBlank(line[i]))
        ++i;
    ContentRange range;
    if (!ReadNumber(line, length, i, range.first) || i >= length || line[i++] != '-' ||
        !ReadNumber(line, length, i, range.last) || i >= length || line[i++] != '/')
        return std::nullopt;
    if (i < length && line[i] == '*')
        ++i;
    else if (!ReadNumber(line, length, i, range.total))
        return std::nullopt;
    // Only blanks and the line end may follow.
    for (; i < length; ++i)
        if (!IsBlank(line[i]) && line[i] != '\r' && line[i] != '\n')
            return std::nullopt;
    if (range.last < range.first || (range.total != -1 && range.last >= range.total))
        return std::nullopt;
    return range;
}

RangeAnswer JudgeRangeAnswer(long code, const std::optional<ContentRange>& range, std::int64_t askedStart,
                             std::int64_t wholeLength)
{
    if (wholeLength != -1 && (code != 206 || !range || range->total != wholeLength))
        return RangeAnswer::Refused;
    if (code == 206)
        return range && range->first == askedStart ? RangeAnswer::Payload : RangeAnswer::Rejected;
    return code == 200 && askedStart > 0 ? RangeAnswer::SkipFront : RangeAnswer::Payload;
}

} // namespace Vexel
