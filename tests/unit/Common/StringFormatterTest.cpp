#include "Common/StringFormatter.h"
#include "TestSupport.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>

using namespace Vexel;

TEST(StringFormatter, DirectivesAsTheProgramWritesThem)
{
    EXPECT_EQ(FormatString(u"%ls-%d", u"abc", 42), u"abc-42");
    EXPECT_EQ(FormatString(u"%.8x%.8x", 0x1234u, 0xdeadbeefu), u"00001234deadbeef");
    EXPECT_EQ(FormatString(u"%3.2f|%3.0f%%", 3.14159, 7.0), u"3.14|  7%");
    EXPECT_EQ(FormatString(u"%I64d", std::int64_t(-9000000000)), u"-9000000000");
    EXPECT_EQ(FormatString(u"%.4d/%.2d", 2016, 1), u"2016/01");
    EXPECT_EQ(FormatString(u"%.2X:%.2X", 0xab, 5), u"AB:05");
    EXPECT_EQ(FormatString(u"%-5d|%5s|%c", 7, "ab", u'z'), u"7    |   ab|z");
    EXPECT_EQ(FormatString(u"%lx", 255L), u"ff");
}

TEST(StringFormatter, SignednessComesFromTheDirectiveWidthFromTheArgument)
{
    EXPECT_EQ(FormatString(u"%x", -1), u"ffffffff");
    EXPECT_EQ(FormatString(u"%d", 0xFFFFFFFFu), u"-1");
    EXPECT_EQ(FormatString(u"%u", std::uint64_t(1) << 40), u"1099511627776");
    EXPECT_EQ(FormatString(u"%d", INT_MIN), u"-2147483648");
    EXPECT_EQ(FormatString(u"%hd", 70000), u"4464");
}

TEST(StringFormatter, MismatchesAndMissingArgumentsStaySafe)
{
    EXPECT_EQ(FormatString(u"%d and %ls"), u"0 and ");
    EXPECT_EQ(FormatString(u"%ls", 12), u"12");
    EXPECT_EQ(FormatString(u"%d", u"text"), u"0");
    EXPECT_EQ(FormatString(u"100%"), u"100%");
    EXPECT_EQ(FormatString(u"%q"), u"%q");
    EXPECT_EQ(FormatString(u"%ls", static_cast<const char16_t*>(nullptr)), u"(null)");
}

TEST(StringFormatter, BufferIsAlwaysTerminatedAndCut)
{
    char16_t buffer[4];
    FormatBuffer(buffer, 4, u"%d", 12345);
    EXPECT_EQ(std::u16string(buffer), u"123");

    char16_t one[1] = {u'x'};
    FormatBuffer(one, 1, u"abc");
    EXPECT_EQ(one[0], 0);

    std::u16string huge(10000, u'q');
    EXPECT_EQ(FormatString(u"%ls", huge.c_str()).size(), 8191u);
    // Widths far beyond the buffer do not overflow either.
    EXPECT_EQ(FormatString(u"%99999d", 1).size(), 4096u);
}

TEST(StringFormatter, NullArgumentsAreReportedNotFollowed)
{
    Vexel::Test::LogCapture capture;
    EXPECT_EQ(FormatBuffer(nullptr, 10, u"x"), nullptr);
    EXPECT_TRUE(capture.Contains(u"buffer != _null && length != 0 && format != _null"));
    capture.Clear();
    EXPECT_EQ(FormatString(nullptr), u"");
    EXPECT_TRUE(capture.Contains(u"format != _null"));
}
