// The byte-range answer of an HTTP server: its Content-Range header line, and what a reply to a range
// request may be taken as. Servers are outside parties; nothing here trusts their numbers beyond what the
// line says consistently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace Vexel
{

// "Content-Range: bytes first-last/total" (total "*" when unknown). Lengths stay below 2^56.
struct ContentRange
{
    std::int64_t first = -1;
    std::int64_t last = -1;  // inclusive
    std::int64_t total = -1; // -1: "*"
};

// Parses one header line as the server sent it (name, colon, value, perhaps the line end). Nothing when
// the line is another header or its value is not a consistent satisfied range (first <= last < total).
std::optional<ContentRange> ParseContentRangeLine(const char* line, std::size_t length);

// What the body of a reply to "Range: bytes=askedStart-" is.
enum class RangeAnswer
{
    Payload,   // the bytes asked for, from askedStart
    SkipFront, // the whole resource (200): the first askedStart bytes are to be dropped
    Refused,   // not a range of a resource of wholeLength: these bytes must not be joined to others
    Rejected,  // a range starting elsewhere, or a 206 without a usable Content-Range
};

// code: the HTTP status; range: the reply's Content-Range, if any; wholeLength: the length of the resource
// the bytes must belong to (-1: any). Called for replies whose body is the resource (codes below 300).
RangeAnswer JudgeRangeAnswer(long code, const std::optional<ContentRange>& range, std::int64_t askedStart,
                             std::int64_t wholeLength);

} // namespace Vexel
