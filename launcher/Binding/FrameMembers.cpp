// The _Launcher members that make and dress the frame windows and the game frame: windows, backgrounds,
// skinned buttons and controls, the menu entries and the title-bar buttons, messages to the frames.
#include "Binding/ScriptNatives.h"

#include "Frames/FrameWindow.h"

#include "Common/Log.h"

namespace Vexel
{

namespace
{

LAUNCHER_NATIVE(SetMinSize)
{
    if (Game())
    {
        Game()->mMinWidth = ArgInt(m, 0);
        Game()->mMinHeight = ArgInt(m, 1);
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetLoadingSize)
{
    state.mLoadingWidth = ArgInt(m, 0);
    state.mLoadingHeight = ArgInt(m, 1);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(NewFrameWin)
{
    _dword index = ArgDword(m, 0);
    if (index >= static_cast<_dword>(_FRAME_SLOTS) || state.mFrames[index])
        return m.ReturnNothing();
    _dword kind = ArgDword(m, 6);
    CreateFrameWindow(state, static_cast<int>(index), ArgText(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgInt(m, 4),
                      ArgInt(m, 5), static_cast<int>(kind > 2 ? 1 : kind));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(Resize)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 4)))
    {
        Ui::MoveUiWindow(frame->mWindow, ArgInt(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3));
        frame->Repaint();
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetBackground)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 1)))
        frame->SetBackground(ArgText(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetBackgroundLogo)
{
    if (Game())
        if (ImageRef logo = LoadSkinImage(ArgText(m, 0)))
            Game()->mLogo = logo;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetCustomTitleBarBackground)
{
    if (!Game())
        return m.ReturnNothing();
    ImageRef images[3] = {LoadSkinImage(ArgText(m, 0)), LoadSkinImage(ArgText(m, 1)),
                          LoadSkinImage(ArgText(m, 2))};
    if (images[0] && images[1] && images[2])
        for (int i = 0; i < 3; ++i)
            Game()->mTitleImages[i] = images[i];
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetCustomTitleBarIcon)
{
    if (Game())
        Game()->mIcon = LoadSkinImage(ArgText(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetCustomMenuBarMargins)
{
    if (Game())
        for (_dword i = 0; i < 4; ++i)
            Game()->mMargins[i] = ArgInt(m, i);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetCustomMenuTextColor)
{
    if (Game())
    {
        Game()->mMenuColor = ArgDword(m, 0);
        Game()->mMenuHoverColor = ArgDword(m, 1);
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetupRegion)
{
    FrameWindow* frame = GetFrame(state, ArgDword(m, 1));
    if (!frame)
        return m.ReturnNothing();
    std::vector<_byte> data;
    if (ReadNamedData(ArgText(m, 0), data) && !data.empty() &&
        Ui::SetWindowRegionData(frame->mWindow, data.data(), data.size()))
    {
        frame->mKind = 1;
        frame->Repaint();
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SendMsg)
{
    // These carry texts or records by address; a number from a script would be read as one.
    _dword message = ArgDword(m, 0);
    if (message == _WM_INVOKE || message == _WM_WEB_GSNAME || message == _WM_OPEN_CLIENT_PAGE ||
        message == _WM_WEB_CONSOLEMSG || message == _WM_WEB_INVOKE)
    {
        LogError(u"[MC] sendMsg 0x%x refused: its parameters are addresses", message);
        return m.ReturnNothing();
    }
    Ui::WindowId target = 0;
    if (Game() && Game()->mWindow && Ui::IsUiWindowVisible(Game()->mWindow))
        target = Game()->mWindow;
    else if (state.mFrames[_FRAME_MAIN])
        target = state.mFrames[_FRAME_MAIN]->mWindow;
    if (target)
        Ui::SendUiMessage(target, ArgDword(m, 0), static_cast<Ui::WParam>(ArgInt(m, 1)),
                          static_cast<Ui::LParam>(ArgDword(m, 2)));
    return m.ReturnNothing();
}
void SetFlag(LauncherState& state, _dword flag, bool on)
{
    if (on)
        state.mFrameStyle |= flag;
    else
        state.mFrameStyle &= ~flag;
}
LAUNCHER_NATIVE(EnableMaxButton)
{
    SetFlag(state, _FRAME_MAXBUTTON, ArgBool(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(EnableMinButton)
{
    SetFlag(state, _FRAME_MINBUTTON, ArgBool(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(EnableSystemButton)
{
    SetFlag(state, _FRAME_SYSBUTTON, ArgBool(m, 0));
    return m.ReturnNothing();
}
int AddSkinButton(IScriptManager& m, LauncherState& state, int kind)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 7)))
        frame->AddButton(kind, nullptr, ArgInt(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgText(m, 4),
                         ArgText(m, 5), ArgText(m, 6), false);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCloseButton)
{
    return AddSkinButton(m, state, _BUTTON_CLOSE);
}
LAUNCHER_NATIVE(AddMinimizeButton)
{
    return AddSkinButton(m, state, _BUTTON_MINIMIZE);
}
LAUNCHER_NATIVE(AddComboBox)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 9)))
        frame->AddComboBox(ArgDword(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgInt(m, 4),
                           ArgText(m, 5), ArgDword(m, 6), ArgDword(m, 7), ArgDword(m, 8));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddLabel)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 10)))
        frame->AddLabel(ArgDword(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgInt(m, 4), ArgText(m, 5),
                        ArgText(m, 6), ArgDword(m, 7), ArgDword(m, 8), ArgDword(m, 9));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCheckBox)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 5)))
        frame->AddCheckBox(ArgDword(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgInt(m, 4),
                           state.mBossChecked);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddHotkeyBox)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 9)))
        frame->AddHotkeyBox(ArgDword(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgInt(m, 4),
                            ArgText(m, 5), ArgDword(m, 6), ArgDword(m, 7), ArgDword(m, 8), state.mHotKey);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddProgressBar)
{
    if (FrameWindow* frame = GetFrame(state, ArgDword(m, 11)))
        frame->AddProgressBar(ArgDword(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3), ArgInt(m, 4),
                              ArgText(m, 5), ArgDword(m, 6), ArgDword(m, 7), ArgDword(m, 8), ArgText(m, 9),
                              ArgText(m, 10));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddUserButton)
{
    FrameWindow* frame = GetFrame(state, ArgDword(m, 8));
    if (!frame)
        return m.ReturnNothing();
    auto* button = new VexelLauncherButton;
    frame->mButtonObjects.emplace_back(button);
    m.BindObject(u"_LauncherButton", button, false);
    // The frame holds the button for as long as it lives.
    m.AddBindingRef(button);
    frame->AddButton(_BUTTON_USER, button, ArgInt(m, 0), ArgInt(m, 1), ArgInt(m, 2), ArgInt(m, 3),
                     ArgText(m, 4), ArgText(m, 5), ArgText(m, 6), ArgDword(m, 7) != 0);
    return m.ReturnObject(button);
}
int AddTextMenu(LauncherState& state, _dword id, const String& text, const String& url, _dword bitmap,
                bool right)
{
    state.mMenus.push_back({id, text, url, bitmap, right, false});
    return 0;
}
LAUNCHER_NATIVE(AddGameMenu)
{
    AddTextMenu(state, _CMD_GAME, ArgText(m, 0), String(), ArgDword(m, 1), ArgBool(m, 2));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddURLMenu)
{
    _dword id = ArgDword(m, 0);
    if (id <= _CMD_GAME) // a page of the menu, or none
        AddTextMenu(state, id, ArgText(m, 1), ArgText(m, 2), ArgDword(m, 3), ArgBool(m, 4));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddRefreshMenu)
{
    AddTextMenu(state, _CMD_REFRESH, ArgText(m, 0), String(), ArgDword(m, 1), ArgBool(m, 2));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddClearMenu)
{
    AddTextMenu(state, _CMD_CLEAR, ArgText(m, 0), String(), ArgDword(m, 1), ArgBool(m, 2));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddShortcutMenu)
{
    AddTextMenu(state, _CMD_SHORTCUT, ArgText(m, 0), ArgText(m, 1), ArgDword(m, 2), ArgBool(m, 3));
    return m.ReturnNothing();
}
// The image entries first go to the menu list (custom flag set), then to one of the game frame's lists.
void AddImageEntry(LauncherState& state, bool flag, int pos, _dword id, const String& url, const String& i1,
                   const String& i2, const String& i3, _byte mask, const String& text, _dword value,
                   const String& extra1, const String& extra2)
{
    if (!Game())
        return;
    state.mMenus.push_back({id, String(), url, 0xFFFFFFFF, flag, true});
    Game()->AddMenuEntry(flag, id, url, pos, i1, i2, i3, mask, text, value, extra1, extra2);
}
LAUNCHER_NATIVE(AddCustomURLMenu)
{
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), ArgDword(m, 2), ArgText(m, 3), ArgText(m, 4),
                  ArgText(m, 5), ArgText(m, 6), 255, ArgText(m, 7), ArgDword(m, 8), ArgText(m, 9), String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCustomGameMenu)
{
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), _CMD_GAME, String(), ArgText(m, 2), ArgText(m, 3),
                  ArgText(m, 4), 255, ArgText(m, 5), ArgDword(m, 6), String(), String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCustomUserMenu)
{
    if (!Game())
        return m.ReturnNothing();
    state.mUserMenuTexts = {ArgText(m, 6), ArgText(m, 7)};
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), _CMD_USER, String(), ArgText(m, 2), ArgText(m, 3),
                  ArgText(m, 4), 0, ArgText(m, 5), ArgDword(m, 8), ArgText(m, 9), String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCustomDropDownMenu)
{
    if (!Game())
        return m.ReturnNothing();
    // The fourth text is kept third and the third fourth.
    state.mDropDownTexts = {ArgText(m, 5), ArgText(m, 6), ArgText(m, 8), ArgText(m, 7)};
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), _CMD_DROPDOWN, String(), ArgText(m, 2), ArgText(m, 3),
                  ArgText(m, 4), 0, String(), 0, String(), String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCustomIMMenu)
{
    if (!Game())
        return m.ReturnNothing();
    state.mImMenuTexts = {ArgText(m, 6), ArgText(m, 7)};
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), _CMD_IM, String(), ArgText(m, 2), ArgText(m, 3),
                  ArgText(m, 4), 0, ArgText(m, 5), ArgDword(m, 8), ArgText(m, 9), ArgText(m, 10));
    return m.ReturnNothing();
}
int AddBossLike(IScriptManager& m, LauncherState& state, _dword id)
{
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), id, String(), ArgText(m, 2), ArgText(m, 3),
                  ArgText(m, 4), 255, ArgText(m, 5), ArgDword(m, 6), ArgText(m, 7), String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCustomBossMenu)
{
    return AddBossLike(m, state, _CMD_BOSS);
}
LAUNCHER_NATIVE(AddCustomRefreshMenu)
{
    return AddBossLike(m, state, _CMD_REFRESH);
}
LAUNCHER_NATIVE(AddCustomCleanMenu)
{
    AddImageEntry(state, ArgBool(m, 0), ArgInt(m, 1), _CMD_CLEAR, String(), ArgText(m, 2), ArgText(m, 3),
                  ArgText(m, 4), 255, ArgText(m, 5), 0, String(), String());
    return m.ReturnNothing();
}
int AddTitleButton(IScriptManager& m, LauncherState& state, _dword id, _byte mask)
{
    if (!Game())
        return m.ReturnNothing();
    state.mMenus.push_back({id, String(), String(), 0xFFFFFFFF, true, true});
    Game()->AddTitleButton(id, ArgInt(m, 0), ArgText(m, 1), ArgText(m, 2), ArgText(m, 3), mask,
                           ArgText(m, 4));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddCustomCloseButton)
{
    return AddTitleButton(m, state, _CMD_CLOSE, 255);
}
LAUNCHER_NATIVE(AddCustomMaxButton)
{
    return AddTitleButton(m, state, _CMD_MAXIMIZE, 254);
}
LAUNCHER_NATIVE(AddCustomRestoreButton)
{
    return AddTitleButton(m, state, _CMD_RESTORE, 253);
}
LAUNCHER_NATIVE(AddCustomMinButton)
{
    return AddTitleButton(m, state, _CMD_MINIMIZE, 255);
}
LAUNCHER_NATIVE(AddCustomTrayButton)
{
    return AddTitleButton(m, state, _CMD_TRAY, 255);
}

} // namespace

void AddFrameMembers(IScriptManager& m)
{
    static constexpr Member methods[] = {
        {u"setMinSize", &_NATIVE_SetMinSize},
        {u"setLoadingSize", &_NATIVE_SetLoadingSize},
        {u"newFrameWin", &_NATIVE_NewFrameWin},
        {u"resize", &_NATIVE_Resize},
        {u"setBackground", &_NATIVE_SetBackground},
        {u"setBackgroundLogo", &_NATIVE_SetBackgroundLogo},
        {u"setCustomTitleBarBackground", &_NATIVE_SetCustomTitleBarBackground},
        {u"setCustomTitleBarIcon", &_NATIVE_SetCustomTitleBarIcon},
        {u"setCustomMenuBarMargins", &_NATIVE_SetCustomMenuBarMargins},
        {u"setCustomMenuTextColor", &_NATIVE_SetCustomMenuTextColor},
        {u"setupRegion", &_NATIVE_SetupRegion},
        {u"sendMsg", &_NATIVE_SendMsg},
        {u"enableMaxButton", &_NATIVE_EnableMaxButton},
        {u"enableMinButton", &_NATIVE_EnableMinButton},
        {u"enableSystemButton", &_NATIVE_EnableSystemButton},
        {u"addCloseButton", &_NATIVE_AddCloseButton},
        {u"addMinimizeButton", &_NATIVE_AddMinimizeButton},
        {u"addComboBox", &_NATIVE_AddComboBox},
        {u"addLabel", &_NATIVE_AddLabel},
        {u"addCheckBox", &_NATIVE_AddCheckBox},
        {u"addHotkeyBox", &_NATIVE_AddHotkeyBox},
        {u"addProgressBar", &_NATIVE_AddProgressBar},
        {u"addUserButton", &_NATIVE_AddUserButton},
        {u"addGameMenu", &_NATIVE_AddGameMenu},
        {u"addURLMenu", &_NATIVE_AddURLMenu},
        {u"addRefreshMenu", &_NATIVE_AddRefreshMenu},
        {u"addClearMenu", &_NATIVE_AddClearMenu},
        {u"addShortcutMenu", &_NATIVE_AddShortcutMenu},
        {u"addCustomURLMenu", &_NATIVE_AddCustomURLMenu},
        {u"addCustomGameMenu", &_NATIVE_AddCustomGameMenu},
        {u"addCustomUserMenu", &_NATIVE_AddCustomUserMenu},
        {u"addCustomDropDownMenu", &_NATIVE_AddCustomDropDownMenu},
        {u"addCustomIMMenu", &_NATIVE_AddCustomIMMenu},
        {u"addCustomBossMenu", &_NATIVE_AddCustomBossMenu},
        {u"addCustomRefreshMenu", &_NATIVE_AddCustomRefreshMenu},
        {u"addCustomCleanMenu", &_NATIVE_AddCustomCleanMenu},
        {u"addCustomCloseButton", &_NATIVE_AddCustomCloseButton},
        {u"addCustomMaxButton", &_NATIVE_AddCustomMaxButton},
        {u"addCustomRestoreButton", &_NATIVE_AddCustomRestoreButton},
        {u"addCustomMinButton", &_NATIVE_AddCustomMinButton},
        {u"addCustomTrayButton", &_NATIVE_AddCustomTrayButton},
    };
    AddMethods(m, methods);
}

} // namespace Vexel
