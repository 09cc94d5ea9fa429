// Every _Launcher member driven by a script through the real script manager: what each call writes into
// the launcher state, which values it refuses, how its arguments convert and what it returns. One row
// per member; each row starts from a fresh launcher state. Members that need windows run in the window
// table on the private display.
#include "LauncherTestSupport.h"
#include "Services/LoaderHost.h"

#include "../Platform/ScopedEnvironment.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/KeyStore.h"
#include "Platform/System.h"
#include "TestServer.h"
#include "UiTestSupport.h"

#include <filesystem>
#include <functional>
#include <set>

namespace Vexel::Test
{

namespace
{

struct MemberRow
{
    const char* mMember; // the script-visible name
    // Prepares the state, runs the script (its return value is the result) and checks the outcome.
    std::function<void(LauncherTest& test, LauncherState& state, IScriptManager& manager)> mCheck;
};

// Runs a script that must not raise an error and returns its result.
Variable Call(IScriptManager& manager, const std::u16string& text)
{
    Variable result = manager.RunString(text, u"members", _SCRIPT_RESULT_VALUE);
    EXPECT_TRUE(manager.GetLastError().empty()) << Narrow(text) << ": " << Narrow(manager.GetLastError());
    return result;
}

String Text(IScriptManager& manager, const std::u16string& text)
{
    return Call(manager, text).GetText();
}

// A value written to a read-only property is ignored: the property still reads what it read before
// (not the value, nor a plain field of the script's that shadows it).
void ExpectReadOnly(IScriptManager& manager, const char16_t* member)
{
    String read = u"return tostring(_launcher." + String(member) + u")";
    String before = Text(manager, read);
    Call(manager, u"_launcher." + String(member) + u" = 12345");
    if (String(member) != u"tick") // the tick moves on by itself
    {
        EXPECT_EQ(Text(manager, read), before) << Narrow(member);
    }
    EXPECT_NE(Text(manager, read), u"12345") << Narrow(member);
}

GameFrame& Game(LauncherState& state)
{
    return *state.mGameFrame;
}

// A text property: stored as given and read back.
MemberRow TextProperty(const char* member, String LauncherState::*field)
{
    return {member, [member, field](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                String name = FromUtf8(member);
                Call(m, u"_launcher." + name + u" = 'a b\u4e2d'");
                EXPECT_EQ(state.*field, u"a b\u4e2d");
                EXPECT_EQ(Text(m, u"return _launcher." + name), u"a b\u4e2d");
            }};
}

// A number property: stored as a signed int and read back.
MemberRow IntProperty(const char* member, int LauncherState::*field)
{
    return {member, [member, field](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                String name = FromUtf8(member);
                Call(m, u"_launcher." + name + u" = -1234");
                EXPECT_EQ(state.*field, -1234);
                EXPECT_EQ(Call(m, u"return _launcher." + name).GetInt32(), -1234);
            }};
}

// A true/false property over a flag of the state.
MemberRow BoolProperty(const char* member, std::function<bool(const LauncherState&)> read, bool initial)
{
    return {member, [member, read, initial](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                String name = FromUtf8(member);
                EXPECT_EQ(Call(m, u"return _launcher." + name).GetBool(), initial);
                Call(m, u"_launcher." + name + (initial ? u" = false" : u" = true"));
                EXPECT_EQ(read(state), !initial);
                EXPECT_EQ(Call(m, u"return _launcher." + name).GetBool(), !initial);
                Call(m, u"_launcher." + name + (initial ? u" = true" : u" = false"));
                EXPECT_EQ(read(state), initial);
            }};
}

// A method that turns one frame style flag on or off.
MemberRow FlagMethod(const char* member, _dword flag)
{
    return {member, [member, flag](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                String name = FromUtf8(member);
                _dword others = state.mFrameStyle & ~flag;
                Call(m, u"_launcher:" + name + u"(false)");
                EXPECT_EQ(state.mFrameStyle, others);
                Call(m, u"_launcher:" + name + u"(true)");
                EXPECT_EQ(state.mFrameStyle, others | flag);
            }};
}

// A method that keeps a non-empty text (and ignores an empty one, and "nil" when nilToo).
MemberRow KeptText(const char* member, String LauncherState::*field, bool nilToo)
{
    return {member, [member, field, nilToo](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                String name = FromUtf8(member);
                Call(m, u"_launcher:" + name + u"('first')");
                EXPECT_EQ(state.*field, u"first");
                Call(m, u"_launcher:" + name + u"('')");
                EXPECT_EQ(state.*field, u"first");
                Call(m, u"_launcher:" + name + u"('nil')");
                EXPECT_EQ(state.*field, nilToo ? u"first" : u"nil");
            }};
}

// A text-menu method: one entry with the command id, its text, address, bitmap and side.
MemberRow TextMenu(const char* member, const char16_t* arguments, MenuEntry expected)
{
    return {member, [member, arguments, expected](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                Call(m, u"_launcher:" + FromUtf8(member) + u"(" + arguments + u")");
                ASSERT_EQ(state.mMenus.size(), 1u);
                const MenuEntry& entry = state.mMenus[0];
                EXPECT_EQ(entry.mId, expected.mId);
                EXPECT_EQ(entry.mText, expected.mText);
                EXPECT_EQ(entry.mUrl, expected.mUrl);
                EXPECT_EQ(entry.mBitmap, expected.mBitmap);
                EXPECT_EQ(entry.mRight, expected.mRight);
                EXPECT_FALSE(entry.mCustom);
            }};
}

// An image-menu method of the game frame: a custom entry in the menu list and one in the frame's list
// (true as the first argument: the second list).
MemberRow ImageMenu(const char* member, const char16_t* arguments, _dword id, _byte mask,
                    const char16_t* text, _dword value)
{
    return {member, [=](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                Call(m, u"_launcher:" + FromUtf8(member) + u"(true, 4, " + arguments + u")");
                ASSERT_EQ(state.mMenus.size(), 1u);
                EXPECT_EQ(state.mMenus[0].mId, id);
                EXPECT_TRUE(state.mMenus[0].mCustom);
                EXPECT_TRUE(state.mMenus[0].mRight);
                EXPECT_TRUE(Game(state).mMenuLists[0].empty());
                ASSERT_EQ(Game(state).mMenuLists[1].size(), 1u);
                const ImageMenuEntry& entry = Game(state).mMenuLists[1][0];
                EXPECT_EQ(entry.mId, id);
                EXPECT_EQ(entry.mPos, 4);
                EXPECT_EQ(entry.mMask, mask);
                EXPECT_EQ(entry.mText, text);
                EXPECT_EQ(entry.mValue, value);
                EXPECT_TRUE(entry.mImages[0]); // the skin image named first
            }};
}

// A custom title-bar button: its command id and mask, the image given first.
MemberRow TitleButton(const char* member, _dword id, _byte mask)
{
    return {member, [=](LauncherTest&, LauncherState& state, IScriptManager& m)
            {
                Call(m,
                     u"_launcher:" + FromUtf8(member) +
                         u"(3, 'skin/tb_close_n.png', 'skin/tb_close_h.png', 'skin/tb_close_p.png', 'tip')");
                ASSERT_EQ(Game(state).mTitleButtons.size(), 1u);
                const ImageMenuEntry& button = Game(state).mTitleButtons[0];
                EXPECT_EQ(button.mId, id);
                EXPECT_EQ(button.mMask, mask);
                EXPECT_EQ(button.mPos, 3);
                EXPECT_TRUE(button.mImages[0] && button.mImages[1] && button.mImages[2]);
                ASSERT_EQ(state.mMenus.size(), 1u);
                EXPECT_EQ(state.mMenus[0].mId, id);
                EXPECT_TRUE(state.mMenus[0].mCustom);
            }};
}

std::vector<MemberRow> StateRows()
{
    return {
        // --- Read-only properties ---
        {"exeName",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             state.mExeName = u"game.exe";
             EXPECT_EQ(Text(m, u"return _launcher.exeName"), u"game.exe");
             ExpectReadOnly(m, u"exeName");
             EXPECT_EQ(state.mExeName, u"game.exe");
         }},
        {"cmd",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             state.mCmd = u"-a \"b c\"";
             EXPECT_EQ(Text(m, u"return _launcher.cmd"), u"-a \"b c\"");
             ExpectReadOnly(m, u"cmd");
             EXPECT_EQ(state.mCmd, u"-a \"b c\"");
         }},
        {"tick",
         [](LauncherTest&, LauncherState&, IScriptManager& m)
         {
             _dword before = GetTime();
             double tick = Call(m, u"return _launcher.tick").GetDouble();
             EXPECT_GE(tick, before);
             EXPECT_LE(tick, GetTime());
             ExpectReadOnly(m, u"tick");
         }},

        // --- Read-write properties ---
        {"appName",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher.appName = 'app'; _launcher.appName = 'nil'; _launcher.appName = ''");
             EXPECT_EQ(state.mAppName, u"app");
             EXPECT_EQ(Text(m, u"return _launcher.appName"), u"app");
             EXPECT_EQ(state.mFileName, u"app"); // filled while empty
             EXPECT_EQ(state.mResName, u"app");
         }},
        {"fileName",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher.fileName = 'file'; _launcher.fileName = 'nil'");
             EXPECT_EQ(Text(m, u"return _launcher.fileName"), u"file");
             EXPECT_EQ(state.mResName, u"file");
             EXPECT_TRUE(state.mAppName.empty());
         }},
        {"resName",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher.resName = 'res'; _launcher.resName = 'nil'; _launcher.resName = ''");
             EXPECT_EQ(Text(m, u"return _launcher.resName"), u"res");
             EXPECT_TRUE(state.mFileName.empty());
         }},
        TextProperty("title", &LauncherState::mTitle),
        {"titleFont",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher.titleFont = 'Sans 9'");
             EXPECT_EQ(Game(state).mTitleFont, u"Sans 9");
             EXPECT_EQ(Text(m, u"return _launcher.titleFont"), u"Sans 9");
         }},
        {"titleColor",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Colours keep all 32 bits and read back unsigned.
             Call(m, u"_launcher.titleColor = 0xFFFFFFFE");
             EXPECT_EQ(Game(state).mTitleColor, 0xFFFFFFFEu);
             EXPECT_EQ(Call(m, u"return _launcher.titleColor").GetDouble(), 4294967294.0);
         }},
        {"borderWidth",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher.borderWidth = -3");
             EXPECT_EQ(Game(state).mBorderWidth, -3);
             EXPECT_EQ(Call(m, u"return _launcher.borderWidth").GetInt32(), -3);
         }},
        {"borderColor",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // The alpha byte is dropped.
             Call(m, u"_launcher.borderColor = 0x7F806142");
             EXPECT_EQ(Game(state).mBorderColor, 0x806142u);
             EXPECT_EQ(Call(m, u"return _launcher.borderColor").GetInt32(), 0x806142);
         }},
        BoolProperty(
            "resizable", [](const LauncherState& s) { return (s.mFrameStyle & _FRAME_FIXEDSIZE) == 0; },
            true),
        IntProperty("width", &LauncherState::mWidth),
        IntProperty("height", &LauncherState::mHeight),
        BoolProperty(
            "maximAtStart", [](const LauncherState& s) { return (s.mFrameStyle & _FRAME_MAXIMIZED) != 0; },
            false),
        BoolProperty(
            "useCurrentPath", [](const LauncherState& s) { return s.mUseCurrentPath; }, false),
        IntProperty("appSize", &LauncherState::mAppSize),
        IntProperty("appTimeout", &LauncherState::mAppTimeout),
        BoolProperty(
            "appAutoStart", [](const LauncherState& s) { return s.mAutoStart; }, false),
        TextProperty("passArgs", &LauncherState::mPassArgs),
        BoolProperty(
            "enableScrollBar", [](const LauncherState& s) { return s.mScrollBars; }, false),

        // --- Methods that set what the start-up does ---
        {"abort",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:abort()");
             EXPECT_TRUE(state.mAbort);
         }},
        {"startGame",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             state.mStartMode = 2;
             Call(m, u"_launcher:startGame('http://127.0.0.1/start')");
             EXPECT_EQ(state.mStartUrl, u"http://127.0.0.1/start");
             EXPECT_EQ(state.mStartMode, 0);
         }},
        {"setLoader",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setLoader('')");
             Call(m, u"_launcher:setLoader('no such loader.lod', true)");
             EXPECT_TRUE(state.mLoaderPath.empty());
             EXPECT_NE(state.mStartMode, 2);
         }},
        {"startLoader",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:startLoader('')");
             EXPECT_EQ(state.mStartMode, 0);
             // Up to nine arguments; empty ones are left out. The loader is started even when its
             // file could not be written (the one from before stays).
             Call(m, u"_launcher:startLoader('gone.lod', '1', '', '3', '4', '5', '6', '7', '8', '9', '10')");
             EXPECT_EQ(state.mStartMode, 2);
             EXPECT_EQ(state.mLoaderArgs,
                       (std::vector<String>{u"1", u"3", u"4", u"5", u"6", u"7", u"8", u"9"}));
             EXPECT_EQ(FileNameOf(state.mLoaderPath), u"gone.lod");
         }},
        {"startRemoteLoader",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:startRemoteLoader('')");
             Call(m, u"_launcher:startRemoteLoader('http://127.0.0.1/v.lod', '  ')");
             EXPECT_EQ(state.mStartMode, 0);
             // Up to eight arguments after the CDN list; the address and digest lose their blanks.
             Call(m, u"_launcher:startRemoteLoader(' http://127.0.0.1/v.lod ', ' 00ff ', 'a:1||b:2 ', "
                     u"'1', '', '3', '4', '5', '6', '7', '8', '9')");
             EXPECT_EQ(state.mStartMode, 2);
             EXPECT_EQ(state.mLoaderUrl, u"http://127.0.0.1/v.lod");
             EXPECT_EQ(state.mLoaderMd5, u"00ff");
             EXPECT_EQ(state.mLoaderCdn, (std::vector<String>{u"a:1", u"b:2"}));
             EXPECT_EQ(state.mLoaderArgs, (std::vector<String>{u"1", u"3", u"4", u"5", u"6", u"7", u"8"}));
             EXPECT_TRUE(state.mLoaderPath.empty());
         }},
        {"setMinSize",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setMinSize(640, 480)");
             EXPECT_EQ(Game(state).mMinWidth, 640);
             EXPECT_EQ(Game(state).mMinHeight, 480);
         }},
        {"setLoadingSize",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setLoadingSize(320)");
             EXPECT_EQ(state.mLoadingWidth, 320);
             EXPECT_EQ(state.mLoadingHeight, 0); // missing: 0
         }},
        {"setBackgroundLogo",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setBackgroundLogo('skin/missing.png')");
             EXPECT_FALSE(Game(state).mLogo);
             Call(m, u"_launcher:setBackgroundLogo('skin/logo.png')");
             EXPECT_TRUE(Game(state).mLogo);
         }},
        {"setCustomTitleBarBackground",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // All three images or none.
             Call(m, u"_launcher:setCustomTitleBarBackground('skin/menu_n.png', 'skin/missing.png', "
                     u"'skin/menu_p.png')");
             EXPECT_FALSE(Game(state).mTitleImages[0]);
             Call(m, u"_launcher:setCustomTitleBarBackground('skin/menu_n.png', 'skin/menu_h.png', "
                     u"'skin/menu_p.png')");
             EXPECT_TRUE(Game(state).mTitleImages[0] && Game(state).mTitleImages[1] &&
                         Game(state).mTitleImages[2]);
         }},
        {"setCustomTitleBarIcon",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setCustomTitleBarIcon('skin/icon.png')");
             EXPECT_TRUE(Game(state).mIcon);
             Call(m, u"_launcher:setCustomTitleBarIcon('')");
             EXPECT_FALSE(Game(state).mIcon);
         }},
        {"setCustomMenuBarMargins",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setCustomMenuBarMargins(1, -2, 3)");
             const int expected[4] = {1, -2, 3, 0};
             for (int i = 0; i < 4; ++i)
                 EXPECT_EQ(Game(state).mMargins[i], expected[i]);
         }},
        {"setCustomMenuTextColor",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setCustomMenuTextColor(0x123456, 0xFFFFFFFF)");
             EXPECT_EQ(Game(state).mMenuColor, 0x123456u);
             EXPECT_EQ(Game(state).mMenuHoverColor, 0xFFFFFFFFu);
         }},
        {"createShortcut",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:createShortcut('My Game')");
             EXPECT_TRUE(state.mCreateShortcut);
             EXPECT_EQ(state.mShortcutName, u"My Game");
         }},
        {"browse",
         [](LauncherTest&, LauncherState&, IScriptManager& m)
         {
             // The desktop's opener gets the address: a stand-in opener records what it was given.
             TempDir dir;
             std::filesystem::path record = dir / "opened.txt";
             WriteBytes(dir / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + record.string() +
                                              ".part'\n/bin/mv '" + record.string() + ".part' '" +
                                              record.string() + "'\n");
             std::filesystem::permissions(dir / "xdg-open", std::filesystem::perms::owner_all);
             ScopedEnvironment path("PATH", dir.Path().string().c_str());
             Call(m, u"_launcher:browse('')");
             Call(m, u"_launcher:browse('http://127.0.0.1:9/page?a=1')");
             ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(record); }));
             EXPECT_EQ(ReadBytes(record), "http://127.0.0.1:9/page?a=1");
         }},
        {"cleanCache",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // While its question is open another call asks nothing (no second modal box).
             state.mModalState = 2;
             Call(m, u"_launcher:cleanCache()");
             EXPECT_EQ(state.mModalState, 2);
         }},
        {"sendMsg",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // No window to send to: nothing happens (the window table sends to a frame).
             Call(m, u"_launcher:sendMsg(0x464, 1, 2)");
             EXPECT_FALSE(state.mFrames[_FRAME_MAIN]);
         }},
        {"setCleanCachePrompt",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setCleanCachePrompt('Caption', 'Clean now?')");
             EXPECT_EQ(state.mCleanCacheCaption, u"Caption");
             EXPECT_EQ(state.mCleanCacheText, u"Clean now?");
         }},
        {"setPrompts",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setPrompts('a', 'b', 'c', 'd'); _launcher:setPrompts('A', '', 'C')");
             EXPECT_EQ(state.mPrompts, (std::array<String, 4>{u"A", u"b", u"C", u"d"}));
         }},
        {"getIniValue",
         [](LauncherTest&, LauncherState&, IScriptManager& m)
         {
             TempDir dir;
             WriteBytes(dir / "a.ini", "[Main]\r\nKey = value one \r\n");
             m.SetGlobal(nullptr, "ini", TextVar(dir.Wide("a.ini")));
             EXPECT_EQ(Text(m, u"return _launcher:getIniValue(ini, 'main', 'KEY')"), u"value one");
             EXPECT_EQ(Text(m, u"return _launcher:getIniValue(ini, 'main')"), u"");
         }},
        {"createTencentClient", [](LauncherTest&, LauncherState&, IScriptManager& m)
         { EXPECT_EQ(Text(m, u"return type(_launcher:createTencentClient('x'))"), u"boolean"); }},
        {"installPreloadPack", [](LauncherTest&, LauncherState&, IScriptManager& m)
         { EXPECT_EQ(Text(m, u"return type(_launcher:installPreloadPack('a', 'b'))"), u"boolean"); }},
        FlagMethod("enableMaxButton", _FRAME_MAXBUTTON),
        FlagMethod("enableMinButton", _FRAME_MINBUTTON),
        FlagMethod("enableSystemButton", _FRAME_SYSBUTTON),

        // --- Menus ---
        TextMenu("addGameMenu", u"'Play', 5, true", {_CMD_GAME, u"Play", u"", 5, true, false}),
        {"addURLMenu",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Ids from 1001 on belong to the launcher's own commands.
             Call(m, u"_launcher:addURLMenu(1001, 'no', 'x', 0, false)");
             EXPECT_TRUE(state.mMenus.empty());
             Call(m, u"_launcher:addURLMenu(1000, 'Site', 'http://127.0.0.1/', 0xFFFFFFFF, false)");
             ASSERT_EQ(state.mMenus.size(), 1u);
             EXPECT_EQ(state.mMenus[0].mUrl, u"http://127.0.0.1/");
             EXPECT_EQ(state.mMenus[0].mBitmap, 0xFFFFFFFFu);
         }},
        TextMenu("addRefreshMenu", u"'Refresh'", {_CMD_REFRESH, u"Refresh", u"", 0, false, false}),
        TextMenu("addClearMenu", u"'Clear', 2, true", {_CMD_CLEAR, u"Clear", u"", 2, true, false}),
        TextMenu("addShortcutMenu", u"'Shortcut', 'Name', 3",
                 {_CMD_SHORTCUT, u"Shortcut", u"Name", 3, false, false}),
        ImageMenu("addCustomURLMenu", u"77, 'http://127.0.0.1/u', 'skin/menu_n.png', '', '', 'Site', 9, ''",
                  77, 255, u"Site", 9),
        ImageMenu("addCustomGameMenu", u"'skin/menu_n.png', '', '', 'Game', 0xFFFFFFFF", _CMD_GAME, 255,
                  u"Game", 0xFFFFFFFF),
        {"addCustomUserMenu",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m,
                  u"_launcher:addCustomUserMenu(false, 1, 'skin/menu_n.png', '', '', 'User', 'in', 'out', 6, "
                  u"'')");
             EXPECT_EQ(state.mUserMenuTexts, (std::array<String, 2>{u"in", u"out"}));
             ASSERT_EQ(Game(state).mMenuLists[0].size(), 1u);
             EXPECT_EQ(Game(state).mMenuLists[0][0].mId, _CMD_USER);
             EXPECT_EQ(Game(state).mMenuLists[0][0].mMask, 0);
             EXPECT_EQ(Game(state).mMenuLists[0][0].mValue, 6u);
         }},
        {"addCustomDropDownMenu",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // The fourth text is kept third and the third fourth.
             Call(m, u"_launcher:addCustomDropDownMenu(true, 1, 'skin/menu_n.png', '', '', 't1', 't2', 't3', "
                     u"'t4')");
             EXPECT_EQ(state.mDropDownTexts, (std::array<String, 4>{u"t1", u"t2", u"t4", u"t3"}));
             ASSERT_EQ(Game(state).mMenuLists[1].size(), 1u);
             EXPECT_EQ(Game(state).mMenuLists[1][0].mId, _CMD_DROPDOWN);
         }},
        {"addCustomIMMenu",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m,
                  u"_launcher:addCustomIMMenu(true, 1, 'skin/menu_n.png', '', '', 'IM', 'on', 'off', 3, '', "
                  u"'')");
             EXPECT_EQ(state.mImMenuTexts, (std::array<String, 2>{u"on", u"off"}));
             ASSERT_EQ(Game(state).mMenuLists[1].size(), 1u);
             EXPECT_EQ(Game(state).mMenuLists[1][0].mId, _CMD_IM);
             EXPECT_EQ(Game(state).mMenuLists[1][0].mMask, 0);
         }},
        ImageMenu("addCustomBossMenu", u"'skin/menu_n.png', '', '', 'Boss', 2, ''", _CMD_BOSS, 255, u"Boss",
                  2),
        ImageMenu("addCustomRefreshMenu", u"'skin/menu_n.png', '', '', 'Again', 1, ''", _CMD_REFRESH, 255,
                  u"Again", 1),
        ImageMenu("addCustomCleanMenu", u"'skin/menu_n.png', '', '', 'Clean'", _CMD_CLEAR, 255, u"Clean", 0),
        TitleButton("addCustomCloseButton", _CMD_CLOSE, 255),
        TitleButton("addCustomMaxButton", _CMD_MAXIMIZE, 254),
        TitleButton("addCustomRestoreButton", _CMD_RESTORE, 253),
        TitleButton("addCustomMinButton", _CMD_MINIMIZE, 255),
        TitleButton("addCustomTrayButton", _CMD_TRAY, 255),

        // --- Addresses, pop-up settings, requests ---
        {"setEnvironment",
         [](LauncherTest&, LauncherState&, IScriptManager& m)
         {
             ScopedEnvironment mark("VEXEL_MEMBER_MARK", nullptr);
             Call(m,
                  u"_launcher:setEnvironment('', 'x'); _launcher:setEnvironment('VEXEL_MEMBER_MARK', 'on')");
             String value;
             EXPECT_TRUE(GetEnvironment(u"VEXEL_MEMBER_MARK", value));
             EXPECT_EQ(value, u"on");
         }},
        {"setFrameURLs",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setFrameURLs('a', '', 'c'); _launcher:setFrameURLs('d')");
             EXPECT_EQ(state.mFrameUrls, (std::vector<String>{u"a", u"c", u"d"}));
         }},
        KeptText("setExitURL", &LauncherState::mExitUrl, false),
        KeptText("setLogoffURL", &LauncherState::mLogoffUrl, false),
        KeptText("setKickFunc", &LauncherState::mKickFunc, false),
        {"setQuietURLs",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setQuietURLs('', 'q2', '', 'q4', 'q5')"); // four at most
             EXPECT_EQ(state.mQuietUrls, (std::vector<String>{u"q2", u"q4"}));
         }},
        KeptText("setupPlugin", &LauncherState::mPluginUrl, true),
        {"setIMParams",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setIMParams(1, 2, 300, 400, 5, 0xFFEEDDCC, 'Font', ' - chat')");
             EXPECT_EQ(state.mImX, 1u);
             EXPECT_EQ(state.mImY, 2u);
             EXPECT_EQ(state.mImW, 300u);
             EXPECT_EQ(state.mImH, 400u);
             EXPECT_EQ(state.mImBorder, 5u);
             EXPECT_EQ(state.mImTitleColor, 0xFFEEDDCCu);
             EXPECT_EQ(state.mImTitleFont, u"Font");
             EXPECT_EQ(state.mImTitleSuffix, u" - chat");
         }},
        {"setIMTitleBg",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setIMTitleBg('im_bg.png')");
             EXPECT_EQ(state.mImTitleBg, u"im_bg.png");
         }},
        {"setIMCloseButton",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setIMCloseButton('n.png', 'h.png', 7, 8)");
             EXPECT_EQ(state.mImCloseNormal, u"n.png");
             EXPECT_EQ(state.mImCloseHover, u"h.png");
             EXPECT_EQ(state.mImCloseX, 7u);
             EXPECT_EQ(state.mImCloseY, 8u);
         }},
        {"setVideoParams",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setVideoParams(2, 0x80FF0000, 'Mono')");
             EXPECT_EQ(state.mVideoBorder, 2u);
             EXPECT_EQ(state.mVideoTitleColor, 0x80FF0000u);
             EXPECT_EQ(state.mVideoTitleFont, u"Mono");
         }},
        {"setVideoTitleBg",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setVideoTitleBg('v_bg.png')");
             EXPECT_EQ(state.mVideoTitleBg, u"v_bg.png");
         }},
        {"setVideoCloseButton",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setVideoCloseButton('vn.png', 'vh.png', 9, 10)");
             EXPECT_EQ(state.mVideoCloseNormal, u"vn.png");
             EXPECT_EQ(state.mVideoCloseHover, u"vh.png");
             EXPECT_EQ(state.mVideoCloseX, 9u);
             EXPECT_EQ(state.mVideoCloseY, 10u);
         }},
        {"setInfoServer",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setInfoServer('nil', 'x')");
             EXPECT_EQ(state.mInfoServer[1], u"");
             Call(m, u"_launcher:setInfoServer('h', 'p', 'a', 'b', 'c', 'd')");
             EXPECT_EQ(state.mInfoServer, (std::array<String, 6>{u"h", u"p", u"a", u"b", u"c", u"d"}));
         }},
        {"checkMC",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:checkMC('', 'x'); _launcher:checkMC('nil', 'y')");
             EXPECT_EQ(state.mCheckClient[1], u"");
             Call(m, u"_launcher:checkMC('client.exe', 'http://127.0.0.1/get')");
             EXPECT_EQ(state.mCheckClient, (std::array<String, 2>{u"client.exe", u"http://127.0.0.1/get"}));
         }},
        {"copyTo",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:copyTo('  /opt/game dir  ')");
             EXPECT_EQ(state.mFileOperation, _FILEOP_COPY);
             EXPECT_EQ(state.mFileOperationPath, u"/opt/game dir");
         }},
        {"deleteFile",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:copyTo('/a'); _launcher:deleteFile(' old.txt')");
             EXPECT_EQ(state.mFileOperation, _FILEOP_DELETE); // the last request wins
             EXPECT_EQ(state.mFileOperationPath, u"old.txt");
         }},
        {"getMACAddress", [](LauncherTest&, LauncherState&, IScriptManager& m)
         { EXPECT_EQ(Text(m, u"return _launcher:getMACAddress()"), GetMACAddress()); }},
        KeptText("reportChannel", &LauncherState::mReportUrl, true),
        {"download",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Asked only while the key is missing (the download was not done); a key without a default
             // value is there all the same.
             TempDir dir;
             ScopedEnvironment data("XDG_DATA_HOME", dir.Path().string().c_str());
             Call(m, u"_launcher:download('nil', 'f', 'Software\\\\Vexel\\\\Tool')");
             EXPECT_TRUE(state.mDownloadUrl.empty());
             Call(m,
                  u"_launcher:download('http://127.0.0.1/tool.exe', 'tools', 'Software\\\\Vexel\\\\Tool')");
             EXPECT_EQ(state.mDownloadUrl, u"http://127.0.0.1/tool.exe");
             EXPECT_EQ(state.mDownloadFolder, u"tools");
             state.mDownloadUrl.clear();
             ASSERT_TRUE(SetUserValue(u"Software\\Vexel\\Tool", u"installed", u"1"));
             Call(m,
                  u"_launcher:download('http://127.0.0.1/tool.exe', 'tools', 'Software\\\\Vexel\\\\Tool')");
             EXPECT_TRUE(state.mDownloadUrl.empty());
         }},
        {"setGameMargins",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setGameMargins(4, 3, 2, 1)");
             EXPECT_EQ(state.mGameMargins, (std::array<int, 4>{4, 3, 2, 1}));
         }},
        {"installApp",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:installApp()");
             EXPECT_TRUE(state.mInstall);
             EXPECT_FALSE(state.mUninstall);
         }},
        {"uninstallApp",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:uninstallApp()");
             EXPECT_TRUE(state.mUninstall);
             EXPECT_FALSE(state.mInstall);
         }},
    };
}

// Members that act on frame windows; each row starts with frame 0 made by newFrameWin.
std::vector<MemberRow> WindowRows()
{
    return {
        {"screenWidth",
         [](LauncherTest&, LauncherState&, IScriptManager& m)
         {
             EXPECT_EQ(Call(m, u"return _launcher.screenWidth").GetInt32(), Ui::GetScreenSize().width);
             EXPECT_GT(Ui::GetScreenSize().width, 0);
             ExpectReadOnly(m, u"screenWidth");
         }},
        {"screenHeight",
         [](LauncherTest&, LauncherState&, IScriptManager& m)
         {
             EXPECT_EQ(Call(m, u"return _launcher.screenHeight").GetInt32(), Ui::GetScreenSize().height);
             EXPECT_GT(Ui::GetScreenSize().height, 0);
             ExpectReadOnly(m, u"screenHeight");
         }},
        {"newFrameWin",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             ASSERT_TRUE(state.mFrames[0]);
             Ui::WindowId first = state.mFrames[0]->mWindow;
             EXPECT_EQ(state.mFrames[0]->mKind, 1);
             // A taken slot and a slot past the seventh are refused; a kind above 2 becomes 1.
             Call(m, u"_launcher:newFrameWin(0, 'again', 0, 0, 10, 10, 0)");
             EXPECT_EQ(state.mFrames[0]->mWindow, first);
             Call(m, u"_launcher:newFrameWin(7, 'none', 0, 0, 10, 10, 0)");
             Call(m, u"_launcher:newFrameWin(2, 'tool', 5, 6, 70, 80, 9)");
             ASSERT_TRUE(state.mFrames[2]);
             EXPECT_EQ(state.mFrames[2]->mKind, 1);
             Ui::Rect bounds;
             ASSERT_TRUE(Ui::GetWindowBounds(state.mFrames[2]->mWindow, bounds));
             EXPECT_EQ(bounds, Ui::Rect::FromSize(5, 6, 70, 80));
         }},
        {"resize",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:resize(30, 40, 320, 240, 0); _launcher:resize(0, 0, 1, 1, 5)");
             Ui::Rect bounds;
             ASSERT_TRUE(Ui::GetWindowBounds(state.mFrames[0]->mWindow, bounds));
             EXPECT_EQ(bounds, Ui::Rect::FromSize(30, 40, 320, 240));
         }},
        {"setBackground",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:setBackground('skin/main_bg.png', 0)");
             EXPECT_TRUE(state.mFrames[0]->mBackground);
         }},
        {"setupRegion",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             TempDir dir;
             std::vector<_byte> block = RegionBlock({{0, 0, 100, 100}});
             WriteBytes(dir / "shape.rgn", std::string(block.begin(), block.end()));
             WriteBytes(dir / "broken.rgn", "not a region");
             state.mFrames[0]->mKind = 0;
             m.SetGlobal(nullptr, "broken", TextVar(dir.Wide("broken.rgn")));
             Call(m, u"_launcher:setupRegion(broken, 0)");
             EXPECT_EQ(state.mFrames[0]->mKind, 0);
             m.SetGlobal(nullptr, "shape", TextVar(dir.Wide("shape.rgn")));
             Call(m, u"_launcher:setupRegion(shape, 0)");
             EXPECT_EQ(state.mFrames[0]->mKind, 1); // a region-shaped frame paints opaque
         }},
        {"sendMsg",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Sent at once to the main frame; the last argument keeps its 32 bits.
             std::vector<std::tuple<_dword, Ui::WParam, Ui::LParam>> seen;
             state.mFrameHook =
                 [&](FrameWindow&, _dword message, Ui::WParam wParam, Ui::LParam lParam, Ui::Point)
             {
                 if (message >= 0x400)
                     seen.emplace_back(message, wParam, lParam);
                 return false;
             };
             Call(m, u"_launcher:sendMsg(0x464, 7, 0xFFFFFFFF)");
             state.mFrameHook = nullptr;
             ASSERT_EQ(seen.size(), 1u);
             EXPECT_EQ(std::get<0>(seen[0]), 0x464u);
             EXPECT_EQ(std::get<1>(seen[0]), 7u);
             EXPECT_EQ(static_cast<_dword>(std::get<2>(seen[0])), 0xFFFFFFFFu);
         }},
        {"cleanCache",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // With the prompt frame open the prompt asks instead of a message box.
             Call(m, u"_launcher:newFrameWin(3, 'prompt', 0, 0, 50, 50, 1); _launcher:cleanCache()");
             EXPECT_EQ(state.mModalState, 0);
         }},
        {"addCloseButton",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:addCloseButton(1, 2, 3, 4, 'skin/close_n.png', 'skin/close_h.png', "
                     u"'skin/close_p.png', 0); _launcher:addCloseButton(1, 2, 3, 4, '', '', '', 6)");
             ASSERT_EQ(state.mFrames[0]->mButtons.size(), 1u);
             EXPECT_EQ(state.mFrames[0]->mButtons[0].mKind, _BUTTON_CLOSE);
             EXPECT_EQ(state.mFrames[0]->mButtons[0].mRect, Ui::Rect::FromSize(1, 2, 3, 4));
             EXPECT_TRUE(state.mFrames[0]->mButtons[0].mImages[2]);
         }},
        {"addMinimizeButton",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:addMinimizeButton(5, 6, 7, 8, 'skin/min_n.png', '', '')");
             ASSERT_EQ(state.mFrames[0]->mButtons.size(), 1u);
             EXPECT_EQ(state.mFrames[0]->mButtons[0].mKind, _BUTTON_MINIMIZE);
         }},
        {"addComboBox",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:addComboBox(11, 10, 10, 120, 20, 'Sans', 1, 12, 2, 0)");
             ASSERT_EQ(state.mFrames[0]->mCombos.size(), 1u);
             EXPECT_EQ(state.mFrames[0]->mCombos[0].mId, 11u);
             EXPECT_EQ(state.mFrames[0]->mCombos[0].mFont, u"Sans");
             EXPECT_EQ(state.mFrames[0]->mCombos[0].mFontHeight, 12u);
         }},
        {"addLabel",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:addLabel(12, 1, 2, 100, 20, 'Hello', 'Sans', 0xFF102030, 14, 1, 0)");
             ASSERT_EQ(state.mFrames[0]->mLabels.size(), 1u);
             const SkinLabel& label = state.mFrames[0]->mLabels[0];
             EXPECT_EQ(label.mId, 12u);
             EXPECT_EQ(label.mText, u"Hello");
             EXPECT_EQ(label.mColor, 0xFF102030u);
             EXPECT_EQ(label.mFontHeight, 14u);
             EXPECT_EQ(label.mAlign, 1u);
         }},
        {"addCheckBox",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Checked as the saved boss-key choice says.
             state.mBossChecked = true;
             Call(m, u"_launcher:addCheckBox(13, 1, 1, 16, 16, 0)");
             ASSERT_EQ(state.mFrames[0]->mChecks.size(), 1u);
             EXPECT_TRUE(state.mFrames[0]->IsChecked(13));
         }},
        {"addHotkeyBox",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             state.mHotKey = 0x0241; // the saved boss key
             Call(m, u"_launcher:addHotkeyBox(14, 1, 30, 120, 20, 'Sans', 0, 12, 0, 0)");
             ASSERT_EQ(state.mFrames[0]->mHotkeys.size(), 1u);
             EXPECT_EQ(state.mFrames[0]->GetHotkey(14), 0x0241u);
         }},
        {"addProgressBar",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:addProgressBar(15, 1, 60, 200, 10, 'Sans', 0xFFFFFFFF, 9, 2, "
                     u"'skin/bar_fill.png', 'skin/bar_back.png', 0)");
             ASSERT_EQ(state.mFrames[0]->mProgressBars.size(), 1u);
             const SkinProgress& bar = state.mFrames[0]->mProgressBars[0];
             EXPECT_EQ(bar.mColor, 0xFFFFFFFFu);
             EXPECT_TRUE(bar.mBar && bar.mBack);
         }},
        {"addUserButton",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Returns the button object the click function is set on.
             Call(m, u"clicked = 0; local b = _launcher:addUserButton(1, 2, 30, 20, 'skin/menu_n.png', '', "
                     u"'', 1, 0)"
                     u"; b.onClick = function() clicked = clicked + 1 end; button = b");
             EXPECT_EQ(Text(m, u"return button.typestr"), u"_LauncherButton");
             ASSERT_EQ(state.mFrames[0]->mButtons.size(), 1u);
             const SkinButton& button = state.mFrames[0]->mButtons[0];
             EXPECT_EQ(button.mKind, _BUTTON_USER);
             EXPECT_TRUE(button.mHand);
             CallButtonClick(button.mObject);
             EXPECT_EQ(Call(m, u"return clicked").GetInt32(), 1);
             // On a frame that does not exist: no button and no value at all.
             EXPECT_EQ(Call(m, u"return select('#', _launcher:addUserButton(0, 0, 1, 1, '', '', '', 0, 6))")
                           .GetInt32(),
                       0);
         }},
        {"addWebWindow",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             Call(m, u"_launcher:addWebWindow(10, 20, 300, 200, 'about:blank', 1, true, 0)");
             EXPECT_EQ(state.mStartMode, 1);
             ASSERT_EQ(state.mPages.size(), 1u);
             EXPECT_EQ(state.mPages[0].mUrl, u"about:blank");
             EXPECT_EQ(state.mPages[0].mRect, Ui::Rect::FromSize(10, 20, 300, 200));
             EXPECT_EQ(state.mPages[0].mSlot, 0);
             EXPECT_EQ(state.mPageUrl, u"about:blank");
             EXPECT_EQ(state.mFrames[0]->mWebRect, (Ui::Rect{10, 20, 300, 200}));
         }},
        {"gotoURL",
         [](LauncherTest&, LauncherState& state, IScriptManager& m)
         {
             // Navigates the launcher's own page; the page list itself stays as it is.
             Call(m, u"_launcher:gotoURL('about:blank')");
             EXPECT_TRUE(state.mPages.empty());
             Call(m, u"_launcher:addWebWindow(0, 0, 100, 100, 'about:blank', 1, false, 0)");
             Call(m, u"_launcher:gotoURL('about:blank#2')");
             ASSERT_EQ(state.mPages.size(), 1u);
             EXPECT_EQ(state.mPages[0].mUrl, u"about:blank");
         }},
    };
}

// The members _Launcher has: every one has a row in one of the two tables (sendMsg and cleanCache in
// both, with and without windows).
constexpr int _LAUNCHER_MEMBERS = 102;

} // namespace

class LauncherMembersTest : public LauncherTest
{
protected:
    // Each row on a fresh state and script manager.
    void RunRows(const std::vector<MemberRow>& rows, const std::function<void()>& prepare)
    {
        for (const MemberRow& row : rows)
        {
            SCOPED_TRACE(row.mMember);
            TearDown();
            SetUp();
            if (HasFatalFailure())
                return;
            prepare();
            row.mCheck(*this, *mState, *mManager);
        }
    }
};

class LauncherWindowMembersTest : public LauncherMembersTest
{
protected:
    void SetUp() override
    {
        VEXEL_REQUIRE_DISPLAY();
        LauncherMembersTest::SetUp();
    }
};

TEST_F(LauncherMembersTest, EveryMemberHasARowAndItsNameExists)
{
    std::set<std::string> names;
    for (const auto& rows : {StateRows(), WindowRows()})
    {
        std::set<std::string> inTable;
        for (const MemberRow& row : rows)
        {
            EXPECT_TRUE(inTable.insert(row.mMember).second) << row.mMember << " twice";
            names.insert(row.mMember);
            EXPECT_NE(Text(*mManager, u"return type(_launcher." + FromUtf8(row.mMember) + u")"), u"nil")
                << row.mMember;
        }
    }
    EXPECT_EQ(static_cast<int>(names.size()), _LAUNCHER_MEMBERS);
    EXPECT_EQ(Text(*mManager, u"return type(_launcher.noSuchMember)"), u"nil");
}

TEST_F(LauncherMembersTest, StateMembers)
{
    RunRows(StateRows(), [] {});
}

TEST_F(LauncherWindowMembersTest, WindowMembers)
{
    RunRows(WindowRows(), [this] { Run(u"_launcher:newFrameWin(0, 'Main', 10, 20, 300, 200, 1)"); });
}

} // namespace Vexel::Test

namespace Vexel::Test
{
namespace
{

// The module trust properties are rows of the property table over the loader host's settings: each reads
// back what was written, from the host the game stage uses.
TEST_F(LauncherMembersTest, TrustPropertiesReachTheLoaderHost)
{
    Call(*mManager, u"_launcher.supportAddress = 'help@example.com'\n"
                    u"_launcher.blockListHost = 'bl.example.com:8080'\n"
                    u"_launcher.loaderCaFile = '/etc/ca.pem'\n"
                    u"_launcher.externalLauncher = true\n"
                    u"_launcher.loaderSigners = ' A Name | B |'\n"
                    u"_launcher.trustedOrigins = 'https://a.example|https://b.example'");
    const LoaderHostSettings& settings = LoaderHostOf(*mState).mSettings;
    EXPECT_EQ(settings.mPolicy.supportAddress, u"help@example.com");
    EXPECT_EQ(settings.mBlockListHost, u"bl.example.com:8080");
    EXPECT_EQ(settings.mCaFile, u"/etc/ca.pem");
    EXPECT_TRUE(settings.mExternal);
    EXPECT_EQ(settings.mPolicy.acceptedSigners, (std::vector<String>{u"A Name", u"B"}));
    EXPECT_EQ(mState->mTrustedOrigins, (std::vector<String>{u"https://a.example", u"https://b.example"}));
    EXPECT_EQ(Text(*mManager,
                   u"return _launcher.supportAddress .. ' ' .. _launcher.blockListHost .. ' ' .. "
                   u"_launcher.loaderCaFile .. ' ' .. tostring(_launcher.externalLauncher) .. ' ' .. "
                   u"_launcher.loaderSigners"),
              u"help@example.com bl.example.com:8080 /etc/ca.pem true A Name|B");
    Call(*mManager, u"_launcher.externalLauncher = false");
    EXPECT_FALSE(settings.mExternal);
}

// Properties of the game frame before there is one read as empty and leave what is written unkept.
TEST_F(LauncherMembersTest, GameFramePropertiesWithoutAGameFrame)
{
    mState->mGameFrame.reset();
    Call(*mManager, u"_launcher.titleFont = 'Sans 9'; _launcher.titleColor = 5; _launcher.borderWidth = 4");
    EXPECT_EQ(Text(*mManager, u"return _launcher.titleFont .. ' ' .. _launcher.titleColor .. ' ' .. "
                              u"_launcher.borderWidth"),
              u" 0 0");
}

} // namespace
} // namespace Vexel::Test
