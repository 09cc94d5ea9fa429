#include "Common/Log.h"
#include "Common/Assert.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;

namespace
{
// Restores the switches and closes files whatever a test did.
class LogTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        CloseLogFiles();
        gLogEnabled = true;
        gLogTimeStamp = true;
        gLogLineEnd = true;
    }
};

std::u16string FromFile(const std::filesystem::path& path)
{
    std::string bytes = ReadBytes(path);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}
} // namespace

TEST_F(LogTest, WithoutFilesALineIsThreeDebuggerCalls)
{
    LogCapture capture;
    LogTrace(u"[MC] Refresh, %ls", u"re-initializing.");
    ASSERT_EQ(capture.Calls().size(), 3u);
    // 2016/01/27-09:05:03
    const std::u16string& stamp = capture.Calls()[0];
    ASSERT_EQ(stamp.size(), 19u);
    EXPECT_EQ(stamp[4], u'/');
    EXPECT_EQ(stamp[10], u'-');
    EXPECT_EQ(stamp[13], u':');
    EXPECT_EQ(capture.Calls()[1], u"[MC] Refresh, re-initializing.");
    EXPECT_EQ(capture.Calls()[2], u"\r\n");
}

TEST_F(LogTest, SwitchesControlStampLineEndAndEverything)
{
    LogCapture capture;
    gLogTimeStamp = false;
    gLogLineEnd = false;
    LogError(u"x");
    ASSERT_EQ(capture.Calls().size(), 1u);
    EXPECT_EQ(capture.Calls()[0], u"x");

    capture.Clear();
    gLogEnabled = false;
    LogTrace(u"hidden");
    AssertFailed(u"a == b", u"file.cpp", 3);
    EXPECT_TRUE(capture.Calls().empty());
}

TEST_F(LogTest, PercentSignsInTextArgumentsPassUnchanged)
{
    LogCapture capture;
    LogTrace(u"%ls", u"100% of %d and %ls");
    EXPECT_EQ(capture.Calls()[1], u"100% of %d and %ls");
}

TEST_F(LogTest, LongMessagesAreCutAt8191Characters)
{
    LogCapture capture;
    std::u16string longText(20000, u'a');
    LogTrace(u"%ls", longText.c_str());
    EXPECT_EQ(capture.Calls()[1].size(), 8191u);
}

TEST_F(LogTest, AssertionReportSpansThreeLinesAndCallerGoesOn)
{
    LogCapture capture;
    bool result = VEXEL_ASSERT(1 + 1 == 3);
    EXPECT_FALSE(result);
    std::u16string text = capture.Text();
    EXPECT_NE(text.find(u"Build Date : "), std::u16string::npos);
    EXPECT_NE(text.find(u"\r\nAssertion Failed : 1 + 1 == 3\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"LogTest.cpp:"), std::u16string::npos);
}

TEST_F(LogTest, FileNamesFollowFolderNameAndTag)
{
    EXPECT_EQ(LogFilePath(u"mc123", u"C:\\u", u"mc", u"Trace"), u"C:\\u\\mc-mc123-[Trace].log");
    EXPECT_EQ(LogFilePath(u"mc123", u"C:\\u", u"mc", u"Error"), u"C:\\u\\mc-mc123-[Error].log");
    EXPECT_EQ(LogFilePath(u"", u"C:\\u", u"mc", u"Trace"), u"C:\\u\\mc-[Trace].log");
}

TEST_F(LogTest, FilesAreUtf16WithBomAndCrLf)
{
    TempDir dir;
    String folder = dir.Wide("logs\\deeper");
    OpenLogFiles(u"t1", folder.c_str(), u"app");
    EXPECT_FALSE(LogsShareDestination());
    LogTrace(u"[MC] hello \u00e9");
    LogError(u"[MC] bad");
    CloseLogFiles();

    auto trace = dir.Path() / "logs" / "deeper" / "app-t1-[Trace].log";
    std::string bytes = ReadBytes(trace);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
    std::u16string text = FromFile(trace).substr(1);
    ASSERT_EQ(text.size(), 19u + 12u + 2u);
    EXPECT_EQ(text.substr(19), u"[MC] hello \u00e9\r\n");
    EXPECT_EQ(FromFile(dir.Path() / "logs" / "deeper" / "app-t1-[Error].log").substr(20), u"[MC] bad\r\n");
    EXPECT_TRUE(LogsShareDestination());
}

TEST_F(LogTest, ReopeningReplacesTheFiles)
{
    TempDir dir;
    OpenLogFiles(u"r", dir.Wide().c_str(), u"app");
    LogTrace(u"first");
    OpenLogFiles(u"r", dir.Wide().c_str(), u"app");
    LogTrace(u"second");
    CloseLogFiles();
    std::u16string text = FromFile(dir.Path() / "app-r-[Trace].log");
    EXPECT_EQ(text.find(u"first"), std::u16string::npos);
    EXPECT_NE(text.find(u"second"), std::u16string::npos);
}

TEST_F(LogTest, UnwritableFolderLeavesOutputOnTheDebugger)
{
    TempDir dir;
    Vexel::Test::WriteBytes(dir.Path() / "blocker", "file, not a folder");
    OpenLogFiles(u"x", dir.Wide("blocker\\sub").c_str(), u"app");
    EXPECT_TRUE(LogsShareDestination());
    LogCapture capture;
    LogTrace(u"still here");
    LogError(u"and here");
    EXPECT_TRUE(capture.Contains(u"still here"));
    EXPECT_TRUE(capture.Contains(u"and here"));
}
