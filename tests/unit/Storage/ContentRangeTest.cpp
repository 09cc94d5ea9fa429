// The Content-Range line of a reply as servers send it, and the verdict on a reply to a range request.
#include "Storage/Download/ContentRange.h"

#include <gtest/gtest.h>

#include <string>

using namespace Vexel;

namespace
{

std::optional<ContentRange> Parse(const std::string& line)
{
    return ParseContentRangeLine(line.data(), line.size());
}

TEST(ContentRangeTest, LinesServersSendAndLinesThatAreNotRanges)
{
    struct Case
    {
        const char* line;
        std::int64_t first, last, total; // first -1: nothing
    } cases[] = {
        {"Content-Range: bytes 0-99/100\r\n", 0, 99, 100},
        {"content-range:bytes 5-9/*", 5, 9, -1},
        {"CONTENT-RANGE:\tBYTES\t4194304-8388607/12582912 \n", 4194304, 8388607, 12582912},
        {"Content-Range: bytes */1234\r\n", -1, -1, -1},         // an unsatisfiable range's answer
        {"Content-Range: bytes 100-50/200\r\n", -1, -1, -1},     // last before first
        {"Content-Range: bytes 0-200/200\r\n", -1, -1, -1},      // past the total
        {"Content-Range: bytes 0-199/200 junk\r\n", -1, -1, -1}, // something after the total
        {"Content-Range: bytes 10-20\r\n", -1, -1, -1},          // no total at all
        {"Content-Range: bytes=0-1/2\r\n", -1, -1, -1},          // the request's form
        {"Content-Range: items 0-1/2\r\n", -1, -1, -1},
        {"Content-Length: 200\r\n", -1, -1, -1},
        {"Content-Range: bytes 99999999999999999999-1/2", -1, -1, -1},
        {"Content-Range: bytes 0-72057594037927935/72057594037927936", -1, -1, -1}, // 2^56: too long
        {"Content-Range: bytes 0-72057594037927934/72057594037927935", 0, 72057594037927934,
         72057594037927935},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.line);
        std::optional<ContentRange> range = Parse(c.line);
        ASSERT_EQ(range.has_value(), c.first != -1);
        if (range)
        {
            EXPECT_EQ(range->first, c.first);
            EXPECT_EQ(range->last, c.last);
            EXPECT_EQ(range->total, c.total);
        }
    }
}

TEST(ContentRangeTest, OnlyARangeOfTheSameFileIsJoinedToBytesAtHand)
{
    const ContentRange rest{1000, 1999, 2000};
    const ContentRange longer{1000, 1999, 2001};
    const ContentRange later{1001, 1999, 2000};
    // The rest of a file of a known length: a 206 of that length from where it was asked, nothing else.
    EXPECT_EQ(JudgeRangeAnswer(206, rest, 1000, 2000), RangeAnswer::Payload);
    EXPECT_EQ(JudgeRangeAnswer(206, longer, 1000, 2000), RangeAnswer::Refused);
    EXPECT_EQ(JudgeRangeAnswer(200, std::nullopt, 1000, 2000), RangeAnswer::Refused);
    EXPECT_EQ(JudgeRangeAnswer(206, std::nullopt, 1000, 2000), RangeAnswer::Refused);
    EXPECT_EQ(JudgeRangeAnswer(206, later, 1000, 2000), RangeAnswer::Rejected);
    // Any length: a whole reply is cut to what was asked, a range elsewhere is not taken.
    EXPECT_EQ(JudgeRangeAnswer(200, std::nullopt, 1000, -1), RangeAnswer::SkipFront);
    EXPECT_EQ(JudgeRangeAnswer(200, std::nullopt, 0, -1), RangeAnswer::Payload);
    EXPECT_EQ(JudgeRangeAnswer(206, later, 1000, -1), RangeAnswer::Rejected);
    EXPECT_EQ(JudgeRangeAnswer(206, longer, 1000, -1), RangeAnswer::Payload);
}

} // namespace
