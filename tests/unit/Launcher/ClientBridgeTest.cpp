// The bridge to the platform client against a stand-in library with the same exports and object slots
// (tests/bridge): loading and its failures, the connection text, the open-page message byte for byte
// with its cuts, the ready check and send results, and the release at the end.
#include "Frames/ClientBridge.h"
#include "Flow/Commands.h"
#include "LauncherTestSupport.h"
#include "TestLibrary.h"

#include <filesystem>

extern "C" struct SubstituteRecord
{
    int createNull;
    int initResult;
    int connectResult;
    int readyResult;
    unsigned int sendResult;
    int created;
    int released;
    int initCalls;
    int readyCalls;
    int sendCalls;
    int handlerCalls;
    char connection[4096];
    int sendSize;
    unsigned char message[70000];
};

namespace Vexel::Test
{
namespace
{

_dword Get32(const unsigned char* at)
{
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<_dword>(at[3]) << 24);
}

class ClientBridgeTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        mState->mProgramFolder = mDir.Wide();
    }
    void TearDown() override
    {
        if (mState)
            ReleaseTencentClient(*mState);
        mLibrary.Close();
        LauncherTest::TearDown();
    }
    // The stand-in beside the program; the test holds it loaded too, so its record outlives the bridge.
    SubstituteRecord& Install()
    {
        std::filesystem::copy_file(VEXEL_CLIENT_SUBSTITUTE, mDir.Path() / std::u16string(_CLIENT_LIBRARY));
        EXPECT_TRUE(mLibrary.Open(mDir.Path() / std::u16string(_CLIENT_LIBRARY))) << mLibrary.Error();
        auto record = reinterpret_cast<SubstituteRecord* (*)()>(mLibrary.Symbol("SubstituteClientRecord"));
        if (!record)
        {
            ADD_FAILURE() << "the stand-in has no SubstituteClientRecord";
            static SubstituteRecord none{};
            return none;
        }
        return *record();
    }

    TempDir mDir;
    TestLibrary mLibrary;
};

TEST_F(ClientBridgeTest, WithoutTheLibraryNothingChangesButOneLine)
{
    EXPECT_FALSE(CreateTencentClient(*mState, u"room=1"));
    EXPECT_TRUE(Logged(u"[MC] Load QQGameProcMsgHelper library failed!"));
    EXPECT_FALSE(SendTencentPage(*mState, 1, 2, u"a", u"b"));
    EXPECT_FALSE(Logged(u"Send msg"));
}

TEST_F(ClientBridgeTest, ConnectsWithTheTextAndSendsTheMessageByteForByte)
{
    SubstituteRecord& record = Install();
    ASSERT_TRUE(CreateTencentClient(*mState, u"game=7;key=\u00e9t\u00e9"));
    EXPECT_TRUE(Logged(u"[MC] Create tencent client object Success!"));
    EXPECT_EQ(record.created, 1);
    EXPECT_EQ(record.initCalls, 1);
    EXPECT_EQ(record.handlerCalls, 4); // every slot of the handler answered
    EXPECT_STREQ(record.connection, "game=7;key=\xc3\xa9t\xc3\xa9");

    ASSERT_TRUE(SendTencentPage(*mState, 11, 22, u"title", u"http://h/p?\u4e2d"));
    EXPECT_TRUE(Logged(u"[MC] Send msg to tencent client success!"));
    const std::string one = "title", two = "http://h/p?\xe4\xb8\xad";
    const _dword body = 12 + one.size() + two.size();
    ASSERT_EQ(record.sendSize, static_cast<int>(8 + 2 * body));
    const unsigned char* m = record.message;
    EXPECT_EQ(Get32(m), 3u);
    EXPECT_EQ(Get32(m + 4), body);
    EXPECT_EQ(Get32(m + 8), 22u); // the second number first
    EXPECT_EQ(Get32(m + 12), 11u);
    EXPECT_EQ(m[16] | (m[17] << 8), static_cast<int>(one.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m + 18), one.size()), one);
    EXPECT_EQ(m[18 + one.size()] | (m[19 + one.size()] << 8), static_cast<int>(two.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m + 20 + one.size()), two.size()), two);
    for (std::size_t i = 20 + one.size() + two.size(); i < static_cast<std::size_t>(record.sendSize); ++i)
        ASSERT_EQ(m[i], 0) << "byte " << i;

    // The library goes with its object when the bridge is released.
    ReleaseTencentClient(*mState);
    EXPECT_EQ(record.released, 1);
}

TEST_F(ClientBridgeTest, TextsAreCutAtTheirLimitsWithoutSplittingACharacter)
{
    std::size_t count = 0;
    String longFirst(100, u'a');
    String longSecond(3000, u'b');
    std::vector<_byte> m = BuildClientPageMessage(1, 2, longFirst, longSecond, count);
    ASSERT_EQ(m.size(), _CLIENT_MESSAGE_BUFFER);
    EXPECT_EQ(m[16] | (m[17] << 8), 63);
    EXPECT_EQ(m[18 + 63] | (m[19 + 63] << 8), 2047);
    EXPECT_EQ(Get32(m.data() + 4), 12u + 63 + 2047);
    EXPECT_EQ(count, 8u + 2 * (12 + 63 + 2047));

    // 62 ASCII bytes and a two-byte character: the character does not fit and is left out whole.
    String mixed = String(62, u'x') + u"\u00e9";
    EXPECT_EQ(Utf8Cut(mixed, 63), std::string(62, 'x'));
    EXPECT_EQ(Utf8Cut(u"\u4e2d", 2), "");
    EXPECT_EQ(Utf8Cut(u"ok", 63), "ok");
}

TEST_F(ClientBridgeTest, FailingStepsAreTracedAndASecondCallStartsAgain)
{
    SubstituteRecord& record = Install();
    record.createNull = 1;
    EXPECT_FALSE(CreateTencentClient(*mState, u"x"));
    EXPECT_TRUE(Logged(u"[MC] Create tencent client object failed!"));

    record.createNull = 0;
    record.initResult = 0;
    EXPECT_FALSE(CreateTencentClient(*mState, u"x"));
    EXPECT_TRUE(Logged(u"[MC] Init tencent client fail"));
    EXPECT_EQ(record.released, 1); // a client that is not ready goes back at once
    EXPECT_FALSE(SendTencentPage(*mState, 1, 2, u"a", u"b"));

    record.initResult = 1;
    record.connectResult = 0;
    EXPECT_FALSE(CreateTencentClient(*mState, u"the connection"));
    EXPECT_TRUE(Logged(u"[MC] Connect tencent client failed: the connection"));

    record.connectResult = 1;
    ASSERT_TRUE(CreateTencentClient(*mState, u"x"));
    record.readyResult = 0;
    EXPECT_FALSE(SendTencentPage(*mState, 1, 2, u"a", u"b"));
    EXPECT_EQ(record.sendCalls, 0);
    record.readyResult = 1;
    record.sendResult = 1234;
    EXPECT_FALSE(SendTencentPage(*mState, 1, 2, u"a", u"b"));
    EXPECT_TRUE(Logged(u"[MC] Send msg to tencent client failed! Error Code:1234"));
}

TEST_F(ClientBridgeTest, ThePagesRequestReachesTheClientOnlyWithBothNumbers)
{
    SubstituteRecord& record = Install();
    ASSERT_TRUE(CreateTencentClient(*mState, u"x"));
    struct
    {
        int a;
        int b;
        const char16_t* c;
        const char16_t* d;
    } page{7, 0, u"first", u"second"};
    HandleGameFrameMessage(*mState, _WM_OPEN_CLIENT_PAGE, reinterpret_cast<Ui::WParam>(&page), 0);
    EXPECT_TRUE(Logged(u"[MC] Open QQ page: 7,0,first,second"));
    EXPECT_EQ(record.sendCalls, 0);
    page.b = 9;
    HandleGameFrameMessage(*mState, _WM_OPEN_CLIENT_PAGE, reinterpret_cast<Ui::WParam>(&page), 0);
    ASSERT_EQ(record.sendCalls, 1);
    EXPECT_EQ(Get32(record.message + 8), 9u);
    EXPECT_EQ(Get32(record.message + 12), 7u);
}

TEST_F(ClientBridgeTest, ALibraryWithoutTheExportIsRefused)
{
    // Any library without the export, found beside the program under the name: a test module.
    std::filesystem::copy_file(VEXEL_TEST_MODULE_DIR "/complete" VEXEL_TEST_MODULE_SUFFIX,
                               mDir.Path() / std::u16string(_CLIENT_LIBRARY));
    EXPECT_FALSE(CreateTencentClient(*mState, u"x"));
    EXPECT_TRUE(Logged(u"[MC] Load QQGameProcMsgHelper function failed!"));
}

} // namespace
} // namespace Vexel::Test
