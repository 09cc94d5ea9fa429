// Standard controls, message boxes, menus, the notification-area icon and global hot keys, driven by
// real (synthesised) keyboard and mouse input where the user would act.
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"
#include "UiTestImages.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace Vexel::Ui
{
namespace
{
using Test::PumpUntil;
using Test::Recorder;

class UiControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VEXEL_REQUIRE_DISPLAY();
        WindowParams p;
        p.style = _WS_POPUP;
        p.x = 100;
        p.y = 100;
        p.width = 400;
        p.height = 300;
        p.title = u"Controls";
        p.handler = mParent.Handler();
        mWindow = NewWindow(p);
        ASSERT_NE(mWindow, 0u);
    }
    void TearDown() override
    {
        for (WindowId w : GetTopLevelWindows())
            DestroyUiWindow(w);
    }

    void ShowAndFocus()
    {
        ShowUiWindow(mWindow, _SW_SHOW);
        ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == mWindow; }));
    }

    static void ClickAt(int x, int y, int button = 1) { ASSERT_TRUE(::Vexel::Test::ClickAt(x, y, button)); }

    // Presses of the key that reached the window as an ordinary key (a system key with Alt).
    int OrdinaryPresses(_dword key) const
    {
        return static_cast<int>(std::count_if(
            mParent.mLog.begin(), mParent.mLog.end(),
            [&](const ::Vexel::Test::Received& m)
            { return (m.message == _WM_KEYDOWN || m.message == _WM_SYSKEYDOWN) && m.wParam == key; }));
    }

    void Keys(std::initializer_list<_dword> held, _dword key)
    {
        for (_dword k : held)
            InjectKey(k, true);
        InjectKey(key, true);
        InjectKey(key, false);
        for (_dword k : held)
            InjectKey(k, false);
    }

    // WM_COMMAND notifications the parent got: (control id, code).
    std::vector<std::pair<int, int>> Commands() const
    {
        std::vector<std::pair<int, int>> list;
        for (const auto& m : mParent.mLog)
            if (m.message == _WM_COMMAND)
                list.push_back({LowWord(m.wParam), HighWord(m.wParam)});
        return list;
    }

    Recorder mParent;
    WindowId mWindow = 0;
};

TEST_F(UiControlTest, HotKeyBoxRecordsWhatIsTyped)
{
    WindowId box = NewControl(ControlKind::HotKeyBox, mWindow, 31, u"VEXELHOTKEYBOX", 10, 10, 200, 28);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(GetControlId(box), 31u);
    EXPECT_EQ(GetParentWindow(box), mWindow);
    EXPECT_EQ(GetHotKeyValue(box), 0u);
    ASSERT_TRUE(SetHotKeyValue(box, 'A' | (_HOTKEYF_CONTROL << 8)));
    EXPECT_EQ(GetHotKeyValue(box), 0x241u);
    EXPECT_TRUE(Commands().empty()); // set by the program: no notification

    ShowAndFocus();
    SetFocusUiWindow(box);
    ASSERT_TRUE(PumpUntil([&] { return GetFocusUiWindow() == box; }));
    Keys({_VK_CONTROL, _VK_MENU}, 'K');
    ASSERT_TRUE(
        PumpUntil([&] { return GetHotKeyValue(box) == (('K') | ((_HOTKEYF_CONTROL | _HOTKEYF_ALT) << 8)); }));
    ASSERT_FALSE(Commands().empty());
    EXPECT_EQ(Commands().back(), std::make_pair(31, static_cast<int>(_EN_CHANGE)));

    Keys({_VK_SHIFT}, '7');
    ASSERT_TRUE(PumpUntil([&] { return GetHotKeyValue(box) == ('7' | (_HOTKEYF_SHIFT << 8)); }));
    Keys({}, _VK_BACK); // clears
    ASSERT_TRUE(PumpUntil([&] { return GetHotKeyValue(box) == 0; }));

    EXPECT_EQ(HotKeyText(0), String(u"None"));
    EXPECT_EQ(HotKeyText((_VK_F1 + 4) | ((_HOTKEYF_CONTROL | _HOTKEYF_ALT) << 8)),
              String(u"Ctrl + Alt + F5"));
    EXPECT_EQ(HotKeyText(_VK_HOME | (_HOTKEYF_SHIFT << 8)), String(u"Shift + Home"));
    _dword modifiers = 0;
    _dword key = 0;
    HotKeyValueToRegistration('Q' | ((_HOTKEYF_ALT | _HOTKEYF_SHIFT) << 8), modifiers, key);
    EXPECT_EQ(modifiers, _MOD_ALT | _MOD_SHIFT);
    EXPECT_EQ(key, static_cast<_dword>('Q'));
}

TEST_F(UiControlTest, ComboBoxListsItemsAndReportsUserChoices)
{
    WindowId combo = NewControl(ControlKind::ComboBox, mWindow, 12, u"VEXELCOMBOBOX", 10, 50, 200, 30,
                                _WS_CHILD | _WS_VISIBLE | _WS_VSCROLL | 3);
    ASSERT_NE(combo, 0u);
    EXPECT_TRUE(SetControlFont(combo, FontSpec{u"Sans", 16}));
    EXPECT_EQ(ComboAddItem(combo, u"Server one"), 0);
    EXPECT_EQ(ComboAddItem(combo, u"\u670d\u52a1\u5668 2"), 1);
    EXPECT_EQ(ComboAddItem(combo, u"Server three"), 2);
    EXPECT_EQ(ComboGetCount(combo), 3);
    EXPECT_EQ(ComboGetSelection(combo), -1);
    EXPECT_EQ(ComboGetItem(combo, 1), String(u"\u670d\u52a1\u5668 2"));
    EXPECT_TRUE(ComboGetItem(combo, 3).empty());
    ASSERT_TRUE(ComboSetSelection(combo, 1));
    EXPECT_EQ(ComboGetSelection(combo), 1);
    EXPECT_FALSE(ComboSetSelection(combo, 3));
    EXPECT_TRUE(Commands().empty());

    ShowAndFocus();
    SetFocusUiWindow(combo);
    ASSERT_TRUE(PumpUntil([&] { return GetFocusUiWindow() == combo; }));
    Keys({}, _VK_DOWN);
    ASSERT_TRUE(PumpUntil([&] { return ComboGetSelection(combo) == 2; }));
    // With the list closed a change is a whole choice: changed, then ended.
    ASSERT_TRUE(PumpUntil([&] { return Commands().size() >= 2; }));
    EXPECT_EQ(Commands()[0], std::make_pair(12, static_cast<int>(_CBN_SELCHANGE)));
    EXPECT_EQ(Commands()[1], std::make_pair(12, static_cast<int>(_CBN_SELENDOK)));

    // Choosing the chosen item again from the open list changes nothing but still ends a choice.
    Keys({_VK_MENU}, _VK_DOWN);
    // Return does nothing until the list is open; pressed until it has ended the choice.
    ASSERT_TRUE(PumpUntil(
        [&]
        {
            Keys({}, _VK_RETURN);
            return PumpUntil([&] { return Commands().size() >= 3; }, 100);
        }));
    EXPECT_EQ(Commands()[2], std::make_pair(12, static_cast<int>(_CBN_SELENDOK)));
    EXPECT_EQ(Commands().size(), 3u);
    EXPECT_EQ(ComboGetSelection(combo), 2);

    EXPECT_TRUE(ComboClear(combo));
    EXPECT_EQ(ComboGetCount(combo), 0);
    EXPECT_EQ(ComboGetSelection(combo), -1);
    EXPECT_EQ(ComboAddItem(mWindow, u"not a combo"), -1);
}

TEST_F(UiControlTest, CheckBoxAndButtonReportClicks)
{
    WindowId check = NewControl(ControlKind::CheckBox, mWindow, 7, u"Boss key", 10, 100, 150, 24);
    WindowId button = NewControl(ControlKind::PushButton, mWindow, 8, u"OK", 10, 150, 100, 30);
    ASSERT_TRUE(SetCheckState(check, true));
    EXPECT_TRUE(GetCheckState(check));
    EXPECT_TRUE(Commands().empty());
    ShowAndFocus();

    Rect box;
    ASSERT_TRUE(GetWindowBounds(check, box));
    EXPECT_EQ(box.left, 110);
    EXPECT_EQ(box.top, 200);
    ClickAt(box.left + 8, box.top + box.Height() / 2);
    ASSERT_TRUE(PumpUntil([&] { return !GetCheckState(check); }));
    ASSERT_TRUE(PumpUntil([&] { return !Commands().empty(); }));
    EXPECT_EQ(Commands().back(), std::make_pair(7, static_cast<int>(_BN_CLICKED)));
    EXPECT_EQ(static_cast<WindowId>(mParent.Last(_WM_COMMAND)->lParam), check);

    Rect pushRect;
    ASSERT_TRUE(GetWindowBounds(button, pushRect));
    ClickAt(pushRect.left + 20, pushRect.top + 10);
    ASSERT_TRUE(PumpUntil([&] { return Commands().size() >= 2; }));
    EXPECT_EQ(Commands().back(), std::make_pair(8, static_cast<int>(_BN_CLICKED)));

    // Controls go with their parent.
    DestroyUiWindow(mWindow);
    EXPECT_FALSE(IsUiWindow(check));
    EXPECT_FALSE(GetCheckState(check));
}

TEST_F(UiControlTest, ModalBoxIsAnsweredWhileOtherWindowsKeepTheirMessages)
{
    ShowAndFocus();
    int phase = 0;
    int ticks = 0;
    WindowId seenBox = 0;
    mParent.mHook = [&](WindowId, _dword m, WParam wp, LParam, LResult&)
    {
        if (m != _WM_TIMER || wp != 1)
            return false;
        ++ticks;
        if (phase == 0)
        {
            WindowId box = FindUiWindow(u"Exit?");
            if (box && ticks >= 3)
            {
                seenBox = box;
                SendUiMessage(box, _WM_CLOSE);          // a Yes/No box cannot be closed
                SendUiMessage(box, _WM_COMMAND, _IDOK); // not one of its buttons
                SendUiMessage(box, _WM_COMMAND, _IDNO);
            }
        }
        else if (phase == 1)
        {
            WindowId box = FindUiWindow(u"Keys");
            if (box && GetForegroundUiWindow() == box && ticks < 1000)
            {
                ticks = 1000;
                InjectKey(_VK_RETURN, true);
                InjectKey(_VK_RETURN, false);
            }
        }
        else if (phase == 2 && ticks == 2)
            PostQuit(3);
        // A box nobody answered is closed after a while, so that a fault fails instead of hanging.
        if (ticks == 300 || ticks == 1300)
            for (const char16_t* title : {u"Exit?", u"Keys", u"Quit"})
                if (WindowId box = FindUiWindow(title))
                    SendUiMessage(box, _WM_COMMAND, _IDCANCEL);
        return true;
    };
    SetUiTimer(mWindow, 1, 20);
    int answer = ShowMessageBox(mWindow, u"Leave the game?", u"Exit?", _MB_YESNO | _MB_ICONQUESTION);
    EXPECT_EQ(answer, _IDNO);
    EXPECT_GE(ticks, 3); // timers kept running while the box was open
    EXPECT_FALSE(IsUiWindow(seenBox));
    EXPECT_EQ(FindUiWindow(u"Exit?"), 0u);

    // Answered from the keyboard: Enter takes the default button.
    phase = 1;
    ticks = 0;
    EXPECT_EQ(ShowMessageBox(mWindow, u"Clean the cache?", u"Keys", _MB_OKCANCEL), _IDOK);

    // A quit posted while the box is open closes it and still reaches the caller's loop.
    phase = 2;
    ticks = 0;
    EXPECT_EQ(ShowMessageBox(0, u"text", u"Quit", _MB_OK), 0);
    KillUiTimer(mWindow, 1);
    Message m;
    bool quit = false;
    for (int i = 0; i < 100 && !quit; ++i)
        quit = PeekUiMessage(m, true) && m.message == _WM_QUIT;
    ASSERT_TRUE(quit);
    EXPECT_EQ(m.wParam, 3u);
}

TEST_F(UiControlTest, MenuBarAndPopupMenuSendTheirCommands)
{
    auto icon = UiImage::Decode(::Vexel::Test::_PNG_4X2, sizeof(::Vexel::Test::_PNG_4X2));
    MenuId bar = NewMenu();
    MenuId game = NewMenu();
    ASSERT_TRUE(AppendMenuItem(game, 0, 1001, u"Refresh"));
    ASSERT_TRUE(AppendMenuSeparator(game));
    ASSERT_TRUE(AppendMenuItem(game, _MF_GRAYED, 1002, u"Disabled"));
    ASSERT_TRUE(AppendSubMenu(bar, game, u"Game"));
    ASSERT_TRUE(AppendMenuItem(bar, _MF_RIGHTJUSTIFY, 1007, u"Close", icon.get()));
    EXPECT_EQ(GetMenuItemCount(bar), 2u);
    EXPECT_EQ(GetMenuItemCount(game), 3u);

    Rect before;
    GetClientBounds(mWindow, before);
    ASSERT_TRUE(SetWindowMenuBar(mWindow, bar));
    Rect after;
    GetClientBounds(mWindow, after);
    EXPECT_LT(after.Height(), before.Height()); // the bar lies outside the client area
    EXPECT_EQ(PointY(mParent.Last(_WM_SIZE)->lParam), after.Height());
    ShowAndFocus();

    Rect closeItem;
    ASSERT_TRUE(GetMenuItemBounds(bar, 1, closeItem));
    EXPECT_GT(closeItem.right, 100 + 400 - 20); // right-justified
    ClickAt(closeItem.left + closeItem.Width() / 2, closeItem.top + closeItem.Height() / 2);
    ASSERT_TRUE(PumpUntil([&] { return mParent.Count(_WM_COMMAND) >= 1; }));
    EXPECT_EQ(LowWord(mParent.Last(_WM_COMMAND)->wParam), 1007);

    Rect gameItem;
    ASSERT_TRUE(GetMenuItemBounds(bar, 0, gameItem));
    ClickAt(gameItem.left + 5, gameItem.top + 5);
    Rect refresh;
    ASSERT_TRUE(PumpUntil([&] { return GetMenuItemBounds(game, 0, refresh); }));
    ClickAt(refresh.left + 10, refresh.top + refresh.Height() / 2);
    ASSERT_TRUE(PumpUntil([&] { return mParent.Count(_WM_COMMAND) >= 2; }));
    EXPECT_EQ(LowWord(mParent.Last(_WM_COMMAND)->wParam), 1001);

    MenuId popup = NewMenu();
    AppendMenuItem(popup, 0, 77, u"Open page");
    ASSERT_TRUE(PopupMenuAt(popup, mWindow, 250, 250));
    Rect open;
    ASSERT_TRUE(PumpUntil([&] { return GetMenuItemBounds(popup, 0, open); }));
    ClickAt(open.left + 10, open.top + open.Height() / 2);
    ASSERT_TRUE(PumpUntil([&] { return mParent.Count(_WM_COMMAND) >= 3; }));
    EXPECT_EQ(LowWord(mParent.Last(_WM_COMMAND)->wParam), 77);

    EXPECT_TRUE(SetWindowMenuBar(mWindow, 0));
    GetClientBounds(mWindow, after);
    EXPECT_EQ(after.Height(), before.Height());
    EXPECT_TRUE(DeleteUiMenu(popup));
    EXPECT_FALSE(AppendMenuItem(popup, 0, 1, u"gone"));
}

TEST_F(UiControlTest, GlobalHotKeyArrivesWhereverTheFocusIs)
{
    ShowAndFocus();
    ASSERT_TRUE(RegisterGlobalHotKey(mWindow, 0, _MOD_CONTROL | _MOD_ALT, 'K'));
    EXPECT_FALSE(RegisterGlobalHotKey(mWindow, 1, _MOD_CONTROL | _MOD_ALT, 'K')); // taken
    Keys({_VK_CONTROL, _VK_MENU}, 'K');
    ASSERT_TRUE(PumpUntil([&] { return mParent.Count(_WM_HOTKEY) == 1; }));
    EXPECT_EQ(mParent.Last(_WM_HOTKEY)->wParam, 0u);
    EXPECT_EQ(mParent.Last(_WM_HOTKEY)->lParam,
              MakeLParam(static_cast<int>(_MOD_CONTROL | _MOD_ALT), static_cast<int>('K')));
    // Without the modifiers the key is an ordinary key.
    int presses = OrdinaryPresses('K');
    Keys({}, 'K');
    ASSERT_TRUE(PumpUntil([&] { return OrdinaryPresses('K') == presses + 1; }));
    EXPECT_EQ(mParent.Count(_WM_HOTKEY), 1);

    ASSERT_TRUE(UnregisterGlobalHotKey(mWindow, 0));
    EXPECT_FALSE(UnregisterGlobalHotKey(mWindow, 0));
    Keys({_VK_CONTROL, _VK_MENU}, 'K');
    ASSERT_TRUE(PumpUntil([&] { return OrdinaryPresses('K') == presses + 2; }));
    EXPECT_EQ(mParent.Count(_WM_HOTKEY), 1);
    ASSERT_TRUE(RegisterGlobalHotKey(mWindow, 2, _MOD_CONTROL | _MOD_ALT, 'K'));
    DestroyUiWindow(mWindow); // releases its keys
    WindowParams p;
    p.style = _WS_POPUP;
    WindowId other = NewWindow(p);
    EXPECT_TRUE(RegisterGlobalHotKey(other, 0, _MOD_CONTROL | _MOD_ALT, 'K'));
}

TEST_F(UiControlTest, TrayIconKeepsItsTipAndGoesWithItsWindow)
{
    auto icon = UiImage::Decode(::Vexel::Test::_PNG_4X2, sizeof(::Vexel::Test::_PNG_4X2));
    ASSERT_TRUE(AddTrayIcon(mWindow, 0, icon.get(), u"Vexel game"));
    EXPECT_TRUE(HasTrayIcon(mWindow, 0));
    EXPECT_EQ(GetTrayIconTip(mWindow, 0), String(u"Vexel game"));
    ASSERT_TRUE(AddTrayIcon(mWindow, 0, nullptr, u"Renamed"));
    EXPECT_EQ(GetTrayIconTip(mWindow, 0), String(u"Renamed"));
    EXPECT_TRUE(RemoveTrayIcon(mWindow, 0));
    EXPECT_FALSE(HasTrayIcon(mWindow, 0));
    EXPECT_FALSE(RemoveTrayIcon(mWindow, 0));
    AddTrayIcon(mWindow, 3, nullptr, u"again");
    DestroyUiWindow(mWindow);
    EXPECT_FALSE(HasTrayIcon(mWindow, 3));
    EXPECT_FALSE(AddTrayIcon(mWindow, 0, nullptr, u"no window"));
}

} // namespace
} // namespace Vexel::Ui
