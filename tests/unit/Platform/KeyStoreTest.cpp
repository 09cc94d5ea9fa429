#include "Platform/KeyStore.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::ScopedEnvironment;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace fs = std::filesystem;

namespace
{
class KeyStoreTest : public ::testing::Test
{
protected:
    TempDir mDir;
    ScopedEnvironment mData{"XDG_DATA_HOME", mDir.Path().string().c_str()};
    fs::path File() const { return mDir / "vexel/keys.txt"; }
};
} // namespace

TEST_F(KeyStoreTest, RoundTrip)
{
#if defined(_WIN32)
    EXPECT_EQ(KeyStorePath(), u"HKEY_CURRENT_USER");
#else
    EXPECT_EQ(KeyStorePath(), mDir.Wide() + u"/vexel/keys.txt");
#endif
    String value = u"stale";
    EXPECT_FALSE(GetUserValue(u"Software\\Vexel", u"once", value));
    EXPECT_TRUE(value.empty());

    ASSERT_TRUE(SetUserValue(u"Software\\Vexel", u"once", u"1"));
    ASSERT_TRUE(SetUserValue(u"Software\\Vexel", u"", u"default value"));
    ASSERT_TRUE(SetUserValue(u"Software\\Other", u"once", u"other"));
    // Keys and names are found without regard to case; setting again replaces.
    ASSERT_TRUE(SetUserValue(u"SOFTWARE\\vexel", u"ONCE", u"2"));
    ASSERT_TRUE(GetUserValue(u"software\\VEXEL", u"once", value));
    EXPECT_EQ(value, u"2");
    ASSERT_TRUE(GetUserValue(u"Software\\Vexel", u"", value));
    EXPECT_EQ(value, u"default value");
    ASSERT_TRUE(GetUserValue(u"Software\\Other", u"once", value));
    EXPECT_EQ(value, u"other");
    EXPECT_TRUE(UserKeyExists(u"software\\other")); // without a default value
    EXPECT_FALSE(UserKeyExists(u"Software\\Missing"));
    EXPECT_FALSE(UserKeyExists(u""));

    ASSERT_TRUE(DeleteUserValue(u"Software\\Vexel", u"Once"));
    EXPECT_FALSE(GetUserValue(u"Software\\Vexel", u"once", value));
    EXPECT_TRUE(DeleteUserValue(u"Software\\Vexel", u"once"));
    EXPECT_TRUE(GetUserValue(u"Software\\Other", u"once", value));

    EXPECT_FALSE(SetUserValue(u"", u"x", u"y"));
}

#if !defined(_WIN32)
// The store is rewritten whole or not at all: when writing fails part-way (no file of the process may grow
// beyond a few bytes, as on a full disk), every value stored before is still there and nothing is left
// beside the file.
TEST_F(KeyStoreTest, AWriteThatFailsPartWayKeepsTheStoreAsItWas)
{
    ASSERT_TRUE(SetUserValue(u"Software\\Vexel", u"kept", u"before"));
    const std::string before = ReadBytes(File());
    bool set = true, deleted = true;
    {
        Vexel::Test::FileSizeLimit limit;
        ASSERT_TRUE(limit.On());
        set = SetUserValue(u"Software\\Vexel", u"new", u"value");
        deleted = DeleteUserValue(u"Software\\Vexel", u"kept");
    }
    EXPECT_FALSE(set);
    EXPECT_FALSE(deleted);
    EXPECT_EQ(ReadBytes(File()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(File().parent_path()), {}), 1);
    String value;
    EXPECT_TRUE(GetUserValue(u"Software\\Vexel", u"kept", value));
    EXPECT_EQ(value, u"before");
}
#endif

TEST_F(KeyStoreTest, AnyTextSurvivesAndTheFileStaysOneLinePerValue)
{
    String tricky = u"tab\there\r\nnew line 100% \u4e2d\U0001F600 \\path";
    ASSERT_TRUE(SetUserValue(u"K\tey", u"na\nme", tricky));
    String value;
    ASSERT_TRUE(GetUserValue(u"K\tey", u"na\nme", value));
    EXPECT_EQ(value, tricky);
#if !defined(_WIN32) // the registry holds each value whole
    std::string text = ReadBytes(File());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2); // the header and one record
    EXPECT_EQ(text.find('\r'), std::string::npos);
#endif
}

// The store file of other systems.
#if !defined(_WIN32)
TEST_F(KeyStoreTest, LinesItCannotReadAreKeptAndReported)
{
    WriteBytes(File(), "garbage without tabs\r\nk\tn\tv\nbad\tescape%G1\tx\n\xff\xfe\t\t\nk2\tn\t%41\n");
    String value;
    {
        LogCapture capture;
        ASSERT_TRUE(GetUserValue(u"k", u"n", value));
        EXPECT_EQ(value, u"v");
        EXPECT_TRUE(capture.Contains(u"line 1 is not understood"));
        EXPECT_TRUE(capture.Contains(u"line 3 is not understood"));
    }
    ASSERT_TRUE(GetUserValue(u"k2", u"n", value));
    EXPECT_EQ(value, u"A");

    ASSERT_TRUE(SetUserValue(u"k", u"n", u"w"));
    std::string text = ReadBytes(File());
    EXPECT_NE(text.find("garbage without tabs\n"), std::string::npos);
    EXPECT_NE(text.find("bad\tescape%G1\tx\n"), std::string::npos);
    EXPECT_NE(text.find("k\tn\tw\n"), std::string::npos);
    EXPECT_EQ(text.find("k\tn\tv"), std::string::npos);
    ASSERT_TRUE(GetUserValue(u"k", u"n", value));
    EXPECT_EQ(value, u"w");
    // Nothing but the store itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(mDir / "vexel"), fs::directory_iterator()), 1);
}
#endif

TEST_F(KeyStoreTest, NumbersRoundTripAndTextIsNoNumber)
{
    const String key = u"Software\\Vexel Test\\Numbers";
    ASSERT_TRUE(SetUserNumber(key, u"NoModify", 1));
    ASSERT_TRUE(SetUserNumber(key, u"Big", 0xFFFFFFFFu));
    _dword number = 0;
    ASSERT_TRUE(GetUserNumber(key, u"nomodify", number));
    EXPECT_EQ(number, 1u);
    ASSERT_TRUE(GetUserNumber(key, u"Big", number));
    EXPECT_EQ(number, 0xFFFFFFFFu);
    ASSERT_TRUE(SetUserValue(key, u"Text", u"12x"));
    EXPECT_FALSE(GetUserNumber(key, u"Text", number));
    EXPECT_FALSE(GetUserNumber(key, u"Missing", number));
    EXPECT_FALSE(SetUserNumber(String(), u"NoModify", 1));
    EXPECT_TRUE(DeleteUserKey(key));
}

TEST_F(KeyStoreTest, AKeyGoesWithAllItsValuesAndNoOtherKey)
{
    ASSERT_TRUE(SetUserValue(u"Software\\Uninstall\\Game", u"DisplayName", u"Game"));
    ASSERT_TRUE(SetUserValue(u"Software\\Uninstall\\Game", u"NoModify", u"1"));
    ASSERT_TRUE(SetUserValue(u"Software\\Uninstall\\Game 2", u"DisplayName", u"Other"));
    EXPECT_TRUE(DeleteUserKey(u"software\\uninstall\\GAME"));
    String value;
    EXPECT_FALSE(GetUserValue(u"Software\\Uninstall\\Game", u"DisplayName", value));
    EXPECT_FALSE(GetUserValue(u"Software\\Uninstall\\Game", u"NoModify", value));
    EXPECT_TRUE(GetUserValue(u"Software\\Uninstall\\Game 2", u"DisplayName", value));
    EXPECT_EQ(value, u"Other");
    EXPECT_TRUE(DeleteUserKey(u"Software\\Uninstall\\Game")); // already gone
    EXPECT_FALSE(DeleteUserKey(String()));
}
