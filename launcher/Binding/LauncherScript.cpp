#include "Binding/LauncherScript.h"

#include "Base/TextReader.h"
#include "Flow/Commands.h"
#include "Flow/MainLoop.h"
#include "Frames/ClientBridge.h"
#include "Frames/FrameWindow.h"
#include "Frames/GameFrame.h"
#include "Frames/WebWindow.h"
#include "Services/Install.h"
#include "Services/LoaderHost.h"

#include "Common/Compression.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringHelpers.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/KeyStore.h"
#include "Platform/Process.h"
#include "Platform/System.h"

namespace Vexel
{

namespace
{

// Argument conversions; a missing argument reads as 0, false or the empty text.
String ArgText(IScriptManager& m, _dword i)
{
    return m.GetArgString(i);
}
int ArgInt(IScriptManager& m, _dword i)
{
    return m.GetArgInt(i);
}
_dword ArgDword(IScriptManager& m, _dword i)
{
    // Through 64 bits so that colours and ids above 0x7FFFFFFF keep their low 32 bits.
    return static_cast<_dword>(static_cast<_qword>(m.GetArgInt64(i)));
}
bool ArgBool(IScriptManager& m, _dword i)
{
    return m.GetArgBool(i);
}

bool Usable(const String& text, bool nilToo)
{
    return !text.empty() && !(nilToo && text == u"nil");
}

GameFrame* Game()
{
    return Launcher().mGameFrame.get();
}

#define LAUNCHER_NATIVE(name)                                                                                \
    int name##Body(IScriptManager& m, LauncherState& state);                                                 \
    int name##Entry(IScriptManager& m, ScriptObject* object)                                                 \
    {                                                                                                        \
        if (object == nullptr || !HasLauncherState())                                                        \
            return m.ReturnNothing();                                                                        \
        return name##Body(m, Launcher());                                                                    \
    }                                                                                                        \
    const ScriptNative _NATIVE_##name{name##Entry, true};                                                    \
    int name##Body(IScriptManager& m, [[maybe_unused]] LauncherState& state)

// --- Read-only properties ------------------------------------------------------------------------------

LAUNCHER_NATIVE(GetExeName)
{
    return m.ReturnString(state.mExeName);
}
LAUNCHER_NATIVE(GetCmd)
{
    return m.ReturnString(state.mCmd);
}
LAUNCHER_NATIVE(GetScreenWidth)
{
    return m.ReturnInt(Ui::GetScreenSize().width);
}
LAUNCHER_NATIVE(GetScreenHeight)
{
    return m.ReturnInt(Ui::GetScreenSize().height);
}
LAUNCHER_NATIVE(GetTick)
{
    return m.ReturnUInt(GetTime());
}

// --- Read-write properties -----------------------------------------------------------------------------

LAUNCHER_NATIVE(GetAppName)
{
    return m.ReturnString(state.mAppName);
}
LAUNCHER_NATIVE(SetAppName)
{
    String value = ArgText(m, 0);
    if (!Usable(value, true))
        return m.ReturnNothing();
    state.mAppName = value;
    if (state.mFileName.empty())
        state.mFileName = value;
    if (state.mResName.empty())
        state.mResName = value;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetFileName)
{
    return m.ReturnString(state.mFileName);
}
LAUNCHER_NATIVE(SetFileName)
{
    String value = ArgText(m, 0);
    if (!Usable(value, true))
        return m.ReturnNothing();
    state.mFileName = value;
    if (state.mResName.empty())
        state.mResName = value;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetResName)
{
    return m.ReturnString(state.mResName);
}
LAUNCHER_NATIVE(SetResName)
{
    String value = ArgText(m, 0);
    if (Usable(value, true))
        state.mResName = value;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetTitle)
{
    return m.ReturnString(state.mTitle);
}
LAUNCHER_NATIVE(SetTitle)
{
    state.mTitle = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetTitleFont)
{
    return m.ReturnString(Game() ? Game()->mTitleFont : String());
}
LAUNCHER_NATIVE(SetTitleFont)
{
    if (Game())
        Game()->mTitleFont = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetTitleColor)
{
    return m.ReturnUInt(Game() ? Game()->mTitleColor : 0);
}
LAUNCHER_NATIVE(SetTitleColor)
{
    if (Game())
        Game()->mTitleColor = ArgDword(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetBorderWidth)
{
    return m.ReturnInt(Game() ? Game()->mBorderWidth : 0);
}
LAUNCHER_NATIVE(SetBorderWidth)
{
    if (Game())
        Game()->mBorderWidth = ArgInt(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetBorderColor)
{
    return m.ReturnInt(Game() ? static_cast<int>(Game()->mBorderColor) : 0);
}
LAUNCHER_NATIVE(SetBorderColor)
{
    if (Game())
        Game()->mBorderColor = static_cast<_dword>(ArgInt(m, 0)) & 0x00FFFFFF;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetResizable)
{
    return m.ReturnBool((state.mFrameStyle & _FRAME_FIXEDSIZE) == 0);
}
LAUNCHER_NATIVE(SetResizable)
{
    if (ArgBool(m, 0))
        state.mFrameStyle &= ~_FRAME_FIXEDSIZE;
    else
        state.mFrameStyle |= _FRAME_FIXEDSIZE;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetWidth)
{
    return m.ReturnInt(state.mWidth);
}
LAUNCHER_NATIVE(SetWidth)
{
    state.mWidth = ArgInt(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetHeight)
{
    return m.ReturnInt(state.mHeight);
}
LAUNCHER_NATIVE(SetHeight)
{
    state.mHeight = ArgInt(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetMaximAtStart)
{
    return m.ReturnBool((state.mFrameStyle & _FRAME_MAXIMIZED) != 0);
}
LAUNCHER_NATIVE(SetMaximAtStart)
{
    if (ArgBool(m, 0))
        state.mFrameStyle |= _FRAME_MAXIMIZED;
    else
        state.mFrameStyle &= ~_FRAME_MAXIMIZED;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetUseCurrentPath)
{
    return m.ReturnBool(state.mUseCurrentPath);
}
LAUNCHER_NATIVE(SetUseCurrentPath)
{
    state.mUseCurrentPath = ArgBool(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetAppSize)
{
    return m.ReturnInt(state.mAppSize);
}
LAUNCHER_NATIVE(SetAppSize)
{
    state.mAppSize = ArgInt(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetAppTimeout)
{
    return m.ReturnInt(state.mAppTimeout);
}
LAUNCHER_NATIVE(SetAppTimeout)
{
    state.mAppTimeout = ArgInt(m, 0);
    return m.ReturnNothing();
}
// The game module's trust settings: lists are texts with "|" between entries.
std::vector<String> SplitBars(const String& text)
{
    std::vector<String> parts;
    std::size_t start = 0;
    for (;;)
    {
        std::size_t bar = text.find(u'|', start);
        String part = Trim(text.substr(start, bar == String::npos ? String::npos : bar - start), _BLANKS);
        if (!part.empty())
            parts.push_back(part);
        if (bar == String::npos)
            return parts;
        start = bar + 1;
    }
}
String JoinBars(const std::vector<String>& parts)
{
    String text;
    for (const auto& part : parts)
        text += (text.empty() ? String() : String(u"|")) + part;
    return text;
}
LAUNCHER_NATIVE(GetTrustedOrigins)
{
    return m.ReturnString(JoinBars(state.mTrustedOrigins));
}
LAUNCHER_NATIVE(SetTrustedOrigins)
{
    state.mTrustedOrigins = SplitBars(ArgText(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetSupportAddress)
{
    return m.ReturnString(state.mLoaderHost->mSettings.mPolicy.supportAddress);
}
LAUNCHER_NATIVE(SetSupportAddress)
{
    LoaderHostOf(state).mSettings.mPolicy.supportAddress = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetBlockListHost)
{
    return m.ReturnString(state.mLoaderHost->mSettings.mBlockListHost);
}
LAUNCHER_NATIVE(SetBlockListHost)
{
    LoaderHostOf(state).mSettings.mBlockListHost = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetLoaderCaFile)
{
    return m.ReturnString(state.mLoaderHost->mSettings.mCaFile);
}
LAUNCHER_NATIVE(SetLoaderCaFile)
{
    LoaderHostOf(state).mSettings.mCaFile = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetLoaderSigners)
{
    return m.ReturnString(JoinBars(state.mLoaderHost->mSettings.mPolicy.acceptedSigners));
}
LAUNCHER_NATIVE(SetLoaderSigners)
{
    LoaderHostOf(state).mSettings.mPolicy.acceptedSigners = SplitBars(ArgText(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetLoaderDigests)
{
    std::vector<String> texts;
    for (const auto& digest : LoaderHostOf(state).mSettings.mPolicy.acceptedDigests)
        texts.push_back(Md5ToText(digest));
    return m.ReturnString(JoinBars(texts));
}
LAUNCHER_NATIVE(SetLoaderDigests)
{
    std::vector<MD5> digests;
    for (const auto& text : SplitBars(ArgText(m, 0)))
    {
        bool hex = text.size() == 32;
        for (char16_t c : text)
            hex = hex && ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'));
        if (hex)
            digests.push_back(Md5FromText(text));
        else
            LogError(u"[MC] Ignored loader digest %ls: not 32 hexadecimal digits", text);
    }
    LoaderHostOf(state).mSettings.mPolicy.acceptedDigests = digests;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetExternalLauncher)
{
    return m.ReturnBool(state.mLoaderHost->mSettings.mExternal);
}
LAUNCHER_NATIVE(SetExternalLauncher)
{
    LoaderHostOf(state).mSettings.mExternal = ArgBool(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetAppAutoStart)
{
    return m.ReturnBool(state.mAutoStart);
}
LAUNCHER_NATIVE(SetAppAutoStart)
{
    state.mAutoStart = ArgBool(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetPassArgs)
{
    return m.ReturnString(state.mPassArgs);
}
LAUNCHER_NATIVE(SetPassArgs)
{
    state.mPassArgs = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetEnableScrollBar)
{
    return m.ReturnBool(state.mScrollBars);
}
LAUNCHER_NATIVE(SetEnableScrollBar)
{
    state.mScrollBars = ArgBool(m, 0);
    return m.ReturnNothing();
}

// --- Methods -------------------------------------------------------------------------------------------

LAUNCHER_NATIVE(Abort)
{
    state.mAbort = true;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(StartGame)
{
    state.mStartUrl = ArgText(m, 0);
    state.mStartMode = 0;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetLoader)
{
    String name = ArgText(m, 0);
    bool replace = ArgBool(m, 1);
    if (name.empty())
        return m.ReturnNothing();
    String path;
    if (WriteLoaderFile(state, name, true, replace, path) && replace)
        state.mLoaderPath = path;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(StartLoader)
{
    String name = ArgText(m, 0);
    if (name.empty())
        return m.ReturnNothing();
    state.mStartMode = 2;
    String path;
    WriteLoaderFile(state, name, false, true, path);
    state.mLoaderPath = path;
    for (_dword i = 1; i <= 9; ++i)
    {
        String arg = ArgText(m, i);
        if (!arg.empty())
            state.mLoaderArgs.push_back(arg);
    }
    return m.ReturnNothing();
}
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
LAUNCHER_NATIVE(CreateShortcut)
{
    state.mCreateShortcut = true;
    state.mShortcutName = ArgText(m, 0);
    CreateDesktopShortcut(state, state.mShortcutName, String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(Browse)
{
    String url = ArgText(m, 0);
    if (!url.empty())
        BrowseUrl(url);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(CleanCacheMember)
{
    if (state.mFrames[_FRAME_PROMPT])
    {
        ShowPrompt(state, 3);
        return m.ReturnNothing();
    }
    if (state.mModalState == 2)
        return m.ReturnNothing();
    state.mModalState = 2;
    Ui::WindowId owner = 0;
    if (FrameWindow* main = state.mFrames[_FRAME_MAIN].get())
        owner = main->mOwnerPage ? main->mOwnerPage : main->mWindow;
    int answer = Ui::ShowMessageBox(owner, state.mCleanCacheText, state.mCleanCacheCaption,
                                    Ui::_MB_YESNO | Ui::_MB_ICONQUESTION);
    if (answer == Ui::_IDYES)
        CleanCache(state);
    state.mModalState = 0;
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
LAUNCHER_NATIVE(SetCleanCachePrompt)
{
    state.mCleanCacheCaption = ArgText(m, 0);
    state.mCleanCacheText = ArgText(m, 1);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetPrompts)
{
    for (_dword i = 0; i < 4; ++i)
        if (!ArgText(m, i).empty())
            state.mPrompts[i] = ArgText(m, i);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetIniValueMember)
{
    return m.ReturnString(GetIniValue(ArgText(m, 0), ArgText(m, 1), ArgText(m, 2)));
}
LAUNCHER_NATIVE(CreateTencentClientMember)
{
    return m.ReturnBool(CreateTencentClient(state, ArgText(m, 0)));
}
// setProgramSigners("Name One|Name Two", caFile): the signers a downloaded build of the program must be
// signed by (none: the digest alone decides), and the operator's CA file (PEM) beside the system's.
LAUNCHER_NATIVE(SetProgramSigners)
{
    state.mProgramSigners.clear();
    String names = ArgText(m, 0);
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= names.size(); ++i)
    {
        if (i < names.size() && names[i] != u'|')
            continue;
        String name = Trim(names.substr(begin, i - begin), _SPACES);
        if (!name.empty())
            state.mProgramSigners.push_back(name);
        begin = i + 1;
    }
    state.mProgramCaFile = Trim(ArgText(m, 1), _SPACES);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(InstallPreloadPackMember)
{
    return m.ReturnBool(InstallPreloadPack(state, ArgText(m, 0), ArgText(m, 1)));
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
LAUNCHER_NATIVE(AddWebWindow)
{
    FrameWindow* frame = GetFrame(state, ArgDword(m, 7));
    if (!frame)
        return m.ReturnNothing();
    state.mStartMode = 1;
    int x = ArgInt(m, 0), y = ArgInt(m, 1), w = ArgInt(m, 2), h = ArgInt(m, 3);
    PageEntry page;
    page.mId = -1;
    page.mSlot = frame->mIndex;
    page.mRect = Ui::Rect::FromSize(x, y, w, h);
    page.mUrl = ArgText(m, 4);
    page.mKind = ArgDword(m, 5);
    page.mShowOnLoad = ArgBool(m, 6);
    frame->mWebActive = false;
    if (x != 0 || y != 0)
    {
        frame->mWebRect.left = x;
        frame->mWebRect.top = y;
    }
    if (w != 0 || h != 0)
    {
        frame->mWebRect.right = w;
        frame->mWebRect.bottom = h;
    }
    state.mPages.push_back(page);
    state.mPageUrl = page.mUrl;
    AddPageWindow(state, state.mPages.back());
    return m.ReturnNothing();
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
LAUNCHER_NATIVE(SetEnvironmentMember)
{
    String name = ArgText(m, 0);
    if (!name.empty())
        SetEnvironmentText(name, ArgText(m, 1));
    return m.ReturnNothing();
}
void AppendNonEmpty(IScriptManager& m, std::vector<String>& list)
{
    for (_dword i = 0; i < 4; ++i)
        if (!ArgText(m, i).empty())
            list.push_back(ArgText(m, i));
}
LAUNCHER_NATIVE(SetFrameURLs)
{
    AppendNonEmpty(m, state.mFrameUrls);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetExitURL)
{
    if (!ArgText(m, 0).empty())
        state.mExitUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetLogoffURL)
{
    if (!ArgText(m, 0).empty())
        state.mLogoffUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetKickFunc)
{
    if (!ArgText(m, 0).empty())
        state.mKickFunc = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetQuietURLs)
{
    AppendNonEmpty(m, state.mQuietUrls);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetupPlugin)
{
    if (Usable(ArgText(m, 0), true))
        state.mPluginUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetIMParams)
{
    state.mImX = ArgDword(m, 0);
    state.mImY = ArgDword(m, 1);
    state.mImW = ArgDword(m, 2);
    state.mImH = ArgDword(m, 3);
    state.mImBorder = ArgDword(m, 4);
    state.mImTitleColor = ArgDword(m, 5);
    state.mImTitleFont = ArgText(m, 6);
    state.mImTitleSuffix = ArgText(m, 7);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetIMTitleBg)
{
    state.mImTitleBg = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetIMCloseButton)
{
    state.mImCloseNormal = ArgText(m, 0);
    state.mImCloseHover = ArgText(m, 1);
    state.mImCloseX = ArgDword(m, 2);
    state.mImCloseY = ArgDword(m, 3);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetVideoParams)
{
    state.mVideoBorder = ArgDword(m, 0);
    state.mVideoTitleColor = ArgDword(m, 1);
    state.mVideoTitleFont = ArgText(m, 2);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetVideoTitleBg)
{
    state.mVideoTitleBg = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetVideoCloseButton)
{
    state.mVideoCloseNormal = ArgText(m, 0);
    state.mVideoCloseHover = ArgText(m, 1);
    state.mVideoCloseX = ArgDword(m, 2);
    state.mVideoCloseY = ArgDword(m, 3);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetInfoServer)
{
    if (!Usable(ArgText(m, 0), true))
        return m.ReturnNothing();
    for (_dword i = 0; i < 6; ++i)
        state.mInfoServer[i] = ArgText(m, i);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(CheckMC)
{
    if (Usable(ArgText(m, 0), true))
        state.mCheckClient = {ArgText(m, 0), ArgText(m, 1)};
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(CopyTo)
{
    state.mFileOperation = _FILEOP_COPY;
    state.mFileOperationPath = Trim(ArgText(m, 0), _SPACES);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(DeleteFileMember)
{
    state.mFileOperation = _FILEOP_DELETE;
    state.mFileOperationPath = Trim(ArgText(m, 0), _SPACES);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetMACAddressMember)
{
    return m.ReturnString(GetMACAddress());
}
LAUNCHER_NATIVE(ReportChannel)
{
    if (Usable(ArgText(m, 0), true))
        state.mReportUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(Download)
{
    String url = ArgText(m, 0);
    if (!Usable(url, true))
        return m.ReturnNothing();
    // A key that is present, whatever it holds, means the download was done before.
    if (!UserKeyExists(ArgText(m, 2)))
    {
        state.mDownloadUrl = url;
        state.mDownloadFolder = ArgText(m, 1);
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetGameMargins)
{
    for (_dword i = 0; i < 4; ++i)
        state.mGameMargins[i] = ArgInt(m, i);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(InstallApp)
{
    state.mInstall = true;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(UninstallApp)
{
    state.mUninstall = true;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GotoURL)
{
    for (const auto& page : state.mPages)
        if (page.mId == -1 && page.mWeb)
        {
            NavigateWeb(*page.mWeb, ArgText(m, 0));
            break;
        }
    return m.ReturnNothing();
}

// --- Creators and _LauncherButton ----------------------------------------------------------------------

int NewLauncher(IScriptManager& m, ScriptObject*)
{
    auto* launcher = new VexelLauncher;
    m.BindObject(u"_Launcher", launcher, false);
    return m.ReturnObject(launcher);
}
const ScriptNative _NATIVE_NewLauncher{NewLauncher, false};

int NewButton(IScriptManager& m, ScriptObject*)
{
    auto* button = new VexelLauncherButton;
    m.BindObject(u"_LauncherButton", button, false);
    return m.ReturnObject(button);
}
const ScriptNative _NATIVE_NewButton{NewButton, false};

int GetOnClick(IScriptManager& m, ScriptObject*)
{
    return m.ReturnNothing();
}
int SetOnClick(IScriptManager& m, ScriptObject* object)
{
    auto* button = dynamic_cast<VexelLauncherButton*>(object);
    if (!button)
        return m.ReturnNothing();
    m.Unref(button->mClickRef);
    button->mClickRef = m.RefArgument(0);
    return m.ReturnNothing();
}
const ScriptNative _NATIVE_GetOnClick{GetOnClick, true};
const ScriptNative _NATIVE_SetOnClick{SetOnClick, true};

struct Member
{
    const char16_t* mName;
    const ScriptNative* mNative;
};

} // namespace

VexelLauncherButton::~VexelLauncherButton()
{
    // The manager is already gone (null) while it finalises the script objects at shutdown.
    if (IScriptManager* manager = Launcher().mScriptManager.get(); mClickRef && manager)
        manager->Unref(mClickRef);
}

void CallButtonClick(ScriptObject* object)
{
    auto* button = dynamic_cast<VexelLauncherButton*>(object);
    IScriptManager* manager = Launcher().mScriptManager.get();
    if (button && button->mClickRef && manager)
        manager->CallRef(button->mClickRef, nullptr, 0, nullptr);
}

void RegisterLauncherClasses(IScriptManager& m)
{
    m.BeginClass(u"_Launcher", &_NATIVE_NewLauncher, ScriptNativeThunk);
    AddTypeMembers(m);
    const Member readOnly[] = {{u"exeName", &_NATIVE_GetExeName},
                               {u"cmd", &_NATIVE_GetCmd},
                               {u"screenWidth", &_NATIVE_GetScreenWidth},
                               {u"screenHeight", &_NATIVE_GetScreenHeight},
                               {u"tick", &_NATIVE_GetTick}};
    for (const auto& member : readOnly)
        m.AddReadOnlyProperty(member.mName, member.mNative, ScriptNativeThunk);
    const Member readWrite[][2] = {
        {{u"appName", &_NATIVE_GetAppName}, {nullptr, &_NATIVE_SetAppName}},
        {{u"fileName", &_NATIVE_GetFileName}, {nullptr, &_NATIVE_SetFileName}},
        {{u"resName", &_NATIVE_GetResName}, {nullptr, &_NATIVE_SetResName}},
        {{u"title", &_NATIVE_GetTitle}, {nullptr, &_NATIVE_SetTitle}},
        {{u"titleFont", &_NATIVE_GetTitleFont}, {nullptr, &_NATIVE_SetTitleFont}},
        {{u"titleColor", &_NATIVE_GetTitleColor}, {nullptr, &_NATIVE_SetTitleColor}},
        {{u"borderWidth", &_NATIVE_GetBorderWidth}, {nullptr, &_NATIVE_SetBorderWidth}},
        {{u"borderColor", &_NATIVE_GetBorderColor}, {nullptr, &_NATIVE_SetBorderColor}},
        {{u"resizable", &_NATIVE_GetResizable}, {nullptr, &_NATIVE_SetResizable}},
        {{u"width", &_NATIVE_GetWidth}, {nullptr, &_NATIVE_SetWidth}},
        {{u"height", &_NATIVE_GetHeight}, {nullptr, &_NATIVE_SetHeight}},
        {{u"maximAtStart", &_NATIVE_GetMaximAtStart}, {nullptr, &_NATIVE_SetMaximAtStart}},
        {{u"useCurrentPath", &_NATIVE_GetUseCurrentPath}, {nullptr, &_NATIVE_SetUseCurrentPath}},
        {{u"appSize", &_NATIVE_GetAppSize}, {nullptr, &_NATIVE_SetAppSize}},
        {{u"appTimeout", &_NATIVE_GetAppTimeout}, {nullptr, &_NATIVE_SetAppTimeout}},
        {{u"appAutoStart", &_NATIVE_GetAppAutoStart}, {nullptr, &_NATIVE_SetAppAutoStart}},
        {{u"passArgs", &_NATIVE_GetPassArgs}, {nullptr, &_NATIVE_SetPassArgs}},
        {{u"enableScrollBar", &_NATIVE_GetEnableScrollBar}, {nullptr, &_NATIVE_SetEnableScrollBar}},
        {{u"supportAddress", &_NATIVE_GetSupportAddress}, {nullptr, &_NATIVE_SetSupportAddress}},
        {{u"trustedOrigins", &_NATIVE_GetTrustedOrigins}, {nullptr, &_NATIVE_SetTrustedOrigins}},
        {{u"blockListHost", &_NATIVE_GetBlockListHost}, {nullptr, &_NATIVE_SetBlockListHost}},
        {{u"loaderCaFile", &_NATIVE_GetLoaderCaFile}, {nullptr, &_NATIVE_SetLoaderCaFile}},
        {{u"loaderSigners", &_NATIVE_GetLoaderSigners}, {nullptr, &_NATIVE_SetLoaderSigners}},
        {{u"loaderDigests", &_NATIVE_GetLoaderDigests}, {nullptr, &_NATIVE_SetLoaderDigests}},
        {{u"externalLauncher", &_NATIVE_GetExternalLauncher}, {nullptr, &_NATIVE_SetExternalLauncher}}};
    for (const auto& pair : readWrite)
        m.AddProperty(pair[0].mName, pair[0].mNative, ScriptNativeThunk, pair[1].mNative, ScriptNativeThunk);
    const Member methods[] = {{u"abort", &_NATIVE_Abort},
                              {u"startGame", &_NATIVE_StartGame},
                              {u"setLoader", &_NATIVE_SetLoader},
                              {u"startLoader", &_NATIVE_StartLoader},
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
                              {u"createShortcut", &_NATIVE_CreateShortcut},
                              {u"browse", &_NATIVE_Browse},
                              {u"cleanCache", &_NATIVE_CleanCacheMember},
                              {u"sendMsg", &_NATIVE_SendMsg},
                              {u"setCleanCachePrompt", &_NATIVE_SetCleanCachePrompt},
                              {u"setPrompts", &_NATIVE_SetPrompts},
                              {u"getIniValue", &_NATIVE_GetIniValueMember},
                              {u"createTencentClient", &_NATIVE_CreateTencentClientMember},
                              {u"installPreloadPack", &_NATIVE_InstallPreloadPackMember},
                              {u"setProgramSigners", &_NATIVE_SetProgramSigners},
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
                              {u"addWebWindow", &_NATIVE_AddWebWindow},
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
                              {u"setEnvironment", &_NATIVE_SetEnvironmentMember},
                              {u"setFrameURLs", &_NATIVE_SetFrameURLs},
                              {u"setExitURL", &_NATIVE_SetExitURL},
                              {u"setLogoffURL", &_NATIVE_SetLogoffURL},
                              {u"setKickFunc", &_NATIVE_SetKickFunc},
                              {u"setQuietURLs", &_NATIVE_SetQuietURLs},
                              {u"setupPlugin", &_NATIVE_SetupPlugin},
                              {u"setIMParams", &_NATIVE_SetIMParams},
                              {u"setIMTitleBg", &_NATIVE_SetIMTitleBg},
                              {u"setIMCloseButton", &_NATIVE_SetIMCloseButton},
                              {u"setVideoParams", &_NATIVE_SetVideoParams},
                              {u"setVideoTitleBg", &_NATIVE_SetVideoTitleBg},
                              {u"setVideoCloseButton", &_NATIVE_SetVideoCloseButton},
                              {u"setInfoServer", &_NATIVE_SetInfoServer},
                              {u"checkMC", &_NATIVE_CheckMC},
                              {u"copyTo", &_NATIVE_CopyTo},
                              {u"deleteFile", &_NATIVE_DeleteFileMember},
                              {u"getMACAddress", &_NATIVE_GetMACAddressMember},
                              {u"reportChannel", &_NATIVE_ReportChannel},
                              {u"download", &_NATIVE_Download},
                              {u"setGameMargins", &_NATIVE_SetGameMargins},
                              {u"installApp", &_NATIVE_InstallApp},
                              {u"uninstallApp", &_NATIVE_UninstallApp},
                              {u"gotoURL", &_NATIVE_GotoURL}};
    for (const auto& member : methods)
        m.AddFunction(member.mName, member.mNative, ScriptNativeThunk, false);
    m.EndClass();

    m.BeginClass(u"_LauncherButton", &_NATIVE_NewButton, ScriptNativeThunk);
    AddTypeMembers(m);
    m.AddProperty(u"onClick", &_NATIVE_GetOnClick, ScriptNativeThunk, &_NATIVE_SetOnClick, ScriptNativeThunk);
    m.EndClass();
}

bool WriteLoaderFile(LauncherState& state, const String& name, bool forSetLoader, bool replace, String& path)
{
    String fileName = FileNameOf(name);
    String folder = state.mProgramFolder;
    if (forSetLoader && state.mUseCurrentPath)
    {
        // Anchored at the program folder: the data sub-folder becomes the current folder later on, so a
        // relative "data" would point one level too deep.
        folder = JoinFolder(state.mProgramFolder, u"data");
        if (!FolderExists(folder))
            CreateFolder(folder);
    }
    path = JoinFolder(folder, fileName);
    if (forSetLoader && !replace && FileExists(path))
        return true;
    std::vector<_byte> data;
    bool changed = false;
    bool ok = ReadNamedData(name, data) && DecompressBuffer(data, changed) && WriteFile(path, data);
    if (!ok)
        LogTrace(u"[MC] Failed to create loader file %ls", path);
    return ok;
}

String GetIniValue(const String& file, const String& section, const String& key)
{
    TextReader reader;
    if (!reader.Open(file))
        return String();
    bool inSection = false;
    while (!reader.AtEnd())
    {
        String line = Trim(reader.ReadLine(), _LINE_BLANKS);
        if (line.empty() || line[0] == u';')
            continue;
        if (line.front() == u'[')
        {
            std::size_t close = line.find(u']');
            String name = close == String::npos ? line.substr(1) : line.substr(1, close - 1);
            inSection = CompareText(Trim(name, _LINE_BLANKS), section, false) == 0;
            continue;
        }
        if (!inSection)
            continue;
        std::size_t equals = line.find(u'=');
        if (equals == String::npos)
            continue;
        if (CompareText(Trim(line.substr(0, equals), _LINE_BLANKS), key, false) == 0)
            return Trim(line.substr(equals + 1), _LINE_BLANKS);
    }
    return String();
}

} // namespace Vexel
