// The _Launcher members driven by scripts through the real script manager.
#include "LauncherTestSupport.h"

#include "Common/Compression.h"
#include "Platform/System.h"

#include <filesystem>

namespace Vexel::Test
{

using LauncherScriptTest = LauncherTest;

TEST_F(LauncherScriptTest, NameSettingsFillEachOtherOnlyWhileEmpty)
{
    Run(u"_launcher.appName = 'first'");
    EXPECT_EQ(mState->mAppName, u"first");
    EXPECT_EQ(mState->mFileName, u"first");
    EXPECT_EQ(mState->mResName, u"first");
    Run(u"_launcher.appName = 'second'; _launcher.appName = 'nil'; _launcher.appName = ''");
    EXPECT_EQ(mState->mAppName, u"second");
    EXPECT_EQ(mState->mFileName, u"first");
    EXPECT_EQ(mState->mResName, u"first");
    Run(u"_launcher.resName = 'nil'; _launcher.fileName = 'f2'");
    EXPECT_EQ(mState->mResName, u"first");
    EXPECT_EQ(mState->mFileName, u"f2");
    // Any number of launcher objects share the one state.
    Run(u"local other = _Launcher(); other.title = 'shared'");
    EXPECT_EQ(Eval(u"return _launcher.title").GetText(), u"shared");
}

TEST_F(LauncherScriptTest, ConversionsAndFlags)
{
    Run(u"_launcher.borderColor = 0x7F806142; _launcher.titleColor = 0xFFFFFFFF");
    EXPECT_EQ(mState->mGameFrame->mBorderColor, 0x806142u);
    EXPECT_EQ(mState->mGameFrame->mTitleColor, 0xFFFFFFFFu);
    Run(u"_launcher.borderColor = 0x806142");
    EXPECT_EQ(Eval(u"return _launcher.borderColor").GetInt32(), 0x806142);

    Run(u"_launcher.resizable = false");
    EXPECT_FALSE(Eval(u"return _launcher.resizable").GetBool());
    EXPECT_TRUE(mState->mFrameStyle & _FRAME_FIXEDSIZE);
    Run(u"_launcher.resizable = true; _launcher.maximAtStart = true; _launcher:enableMaxButton(false)");
    EXPECT_EQ(mState->mFrameStyle & (_FRAME_FIXEDSIZE | _FRAME_MAXIMIZED | _FRAME_MAXBUTTON),
              _FRAME_MAXIMIZED);

    // Missing arguments read as 0, false or empty.
    Run(u"_launcher:setGameMargins(1, 2); _launcher:setPrompts('a')");
    EXPECT_EQ(mState->mGameMargins, (std::array<int, 4>{1, 2, 0, 0}));
    EXPECT_EQ(mState->mPrompts[0], u"a");
    EXPECT_EQ(mState->mPrompts[1], u"");
    // A method called without its object does nothing.
    Run(u"_launcher.abort()");
    EXPECT_FALSE(mState->mAbort);
    Run(u"_launcher:abort()");
    EXPECT_TRUE(mState->mAbort);
}

TEST_F(LauncherScriptTest, ListsAndMenus)
{
    Run(u"_launcher:setFrameURLs('u1', '', 'u3', '')");
    EXPECT_EQ(mState->mFrameUrls, (std::vector<String>{u"u1", u"u3"}));
    Run(u"_launcher:addURLMenu(1001, 'no', 'x', 0, false); _launcher:addURLMenu(1000, 'yes', 'y', 0, true)");
    ASSERT_EQ(mState->mMenus.size(), 1u);
    EXPECT_EQ(mState->mMenus[0].mId, 1000u);
    EXPECT_TRUE(mState->mMenus[0].mRight);
    Run(u"_launcher:addCustomIMMenu(true, 5, '', '', '', 'IM', 'a', 'b', 0, '', '')"
        u"_launcher:addCustomMaxButton(2, '', '', '', '')"
        u"_launcher:addCustomGameMenu(false, 9, '', '', '', 'G', 0)"
        u"_launcher:addCustomURLMenu(false, 3, 7, 'u', '', '', '', 'U', 0, '')");
    GameFrame& game = *mState->mGameFrame;
    ASSERT_EQ(game.mMenuLists[1].size(), 1u);
    EXPECT_EQ(game.mMenuLists[1][0].mMask, 0);
    EXPECT_EQ(game.mTitleButtons[0].mMask, 254);
    ASSERT_EQ(game.mMenuLists[0].size(), 2u);
    EXPECT_EQ(game.mMenuLists[0][0].mId, 7u); // sorted by position
    EXPECT_EQ(mState->mImMenuTexts[1], u"b");
    EXPECT_TRUE(mState->mMenus.back().mCustom);

    game.UpdateMenuEntry(_CMD_IM, u"", u"server one", 255);
    EXPECT_EQ(game.mMenuLists[1][0].mText, u"server one");
    game.UpdateMenuEntry(_CMD_IM, u"", u"", 0);
    EXPECT_EQ(game.mMenuLists[1][0].mText, u"server one");
    EXPECT_EQ(game.mMenuLists[1][0].mMask, 0);
}

TEST_F(LauncherScriptTest, FileOperationsAndRequests)
{
    Run(u"_launcher:copyTo('  /tmp/dest  ')");
    EXPECT_EQ(mState->mFileOperation, _FILEOP_COPY);
    EXPECT_EQ(mState->mFileOperationPath, u"/tmp/dest");
    Run(u"_launcher:setInfoServer('nil', 'b'); _launcher:checkMC('', 'x'); _launcher:setupPlugin('nil')");
    EXPECT_EQ(mState->mInfoServer[1], u"");
    EXPECT_EQ(mState->mCheckClient[1], u"");
    EXPECT_EQ(mState->mPluginUrl, u"");
    Run(u"_launcher:startLoader('', 'a'); _launcher:startGame('http://127.0.0.1/x')");
    EXPECT_EQ(mState->mStartMode, 0);
    EXPECT_TRUE(mState->mLoaderArgs.empty());
    Run(u"_launcher:setEnvironment('VEXEL_TEST_MARK', 'on')");
    String value;
    EXPECT_TRUE(GetEnvironment(u"VEXEL_TEST_MARK", value));
    EXPECT_EQ(value, u"on");
    EXPECT_EQ(Eval(u"return _launcher:getMACAddress()").GetText(), GetMACAddress());
}

TEST_F(LauncherScriptTest, LoaderFileIsWrittenUnpackedAndReplacedOnlyWhenAsked)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "prog");
    std::filesystem::create_directories(dir / "src");
    mState->mProgramFolder = dir.Wide("prog");
    std::vector<_byte> module(3000, 'L');
    ByteBuffer packed = module;
    bool changed = false;
    ASSERT_TRUE(CompressBuffer(packed, changed, true));
    WriteBytes(dir / "src" / "game.lod", std::string(packed.begin(), packed.end()));
    mManager->SetGlobal(nullptr, "src", TextVar(dir.Wide("src/game.lod")));
    std::string plain(module.begin(), module.end());

    Run(u"_launcher:setLoader(src, false)");
    EXPECT_EQ(ReadBytes(dir / "prog" / "game.lod"), plain);
    EXPECT_TRUE(mState->mLoaderPath.empty());
    WriteBytes(dir / "prog" / "game.lod", "old");
    Run(u"_launcher:setLoader(src)");
    EXPECT_EQ(ReadBytes(dir / "prog" / "game.lod"), "old");
    Run(u"_launcher:setLoader(src, true)");
    EXPECT_EQ(ReadBytes(dir / "prog" / "game.lod"), plain);
    EXPECT_FALSE(mState->mLoaderPath.empty());

    WriteBytes(dir / "prog" / "game.lod", "old");
    Run(u"_launcher:startLoader(src, 'a1', '', 'a3')");
    EXPECT_EQ(mState->mStartMode, 2);
    EXPECT_EQ(ReadBytes(dir / "prog" / "game.lod"), plain);
    EXPECT_EQ(mState->mLoaderArgs, (std::vector<String>{u"a1", u"a3"}));

    String before = mState->mLoaderPath;
    Run(u"_launcher:setLoader('missing.lod', true)");
    EXPECT_TRUE(Logged(u"[MC] Failed to create loader file"));
    EXPECT_EQ(mState->mLoaderPath, before);
}

TEST_F(LauncherScriptTest, IniLookup)
{
    TempDir dir;
    WriteBytes(dir / "a.ini", "; comment\r\n[one]\r\n key = first \r\n[ two ]\r\nkey=second\r\n");
    mManager->SetGlobal(nullptr, "ini", TextVar(dir.Wide("a.ini")));
    EXPECT_EQ(Eval(u"return _launcher:getIniValue(ini, 'two', 'key')").GetText(), u"second");
    EXPECT_EQ(Eval(u"return _launcher:getIniValue(ini, 'one', 'key')").GetText(), u"first");
    EXPECT_EQ(Eval(u"return _launcher:getIniValue(ini, 'one', 'nope')").GetText(), u"");
    EXPECT_EQ(Eval(u"return _launcher:getIniValue('/no/such.ini', 'one', 'key')").GetText(), u"");
}

TEST_F(LauncherScriptTest, PrintJoinsTextArgumentsVerbatim)
{
    Run(u"print('a%s%d', 5, 'b'); _info('x')");
    EXPECT_TRUE(Logged(u"a%s%d, , b"));
    EXPECT_TRUE(Logged(u"x"));
}

} // namespace Vexel::Test
