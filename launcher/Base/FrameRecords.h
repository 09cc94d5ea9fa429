// The windows on screen and the records of the pages (the windows own them): the game frame and the seven
// frame slots, the launcher's menu entries, the pages of addWebWindow, the portal flow's web windows, the
// game's child window, and the launcher's hooks into the frame windows.
#pragma once

#include "Base/LauncherMessages.h"

#include "Common/Owned.h"
#include "Common/String.h"
#include "Platform/Ui/Ui.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace Vexel
{

class FrameWindow;
class GameFrame;
class ScriptObject;
struct WebWindow;

struct MenuEntry
{
    _dword mId = 0;
    String mText;
    String mUrl;
    _dword mBitmap = 0; // 0: a text entry
    bool mRight = false;
    bool mCustom = false;
};

// A web window made by addWebWindow; the page itself comes with the web window host.
struct PageEntry
{
    int mId = -1;
    int mSlot = 0;
    Ui::Rect mRect;
    String mUrl;
    _dword mKind = 0;
    bool mShowOnLoad = true;
    std::shared_ptr<WebWindow> mWeb; // null until the web window host made it
};

struct FramesAndPages
{
    Owned<GameFrame> mGameFrame;
    std::array<Owned<FrameWindow>, _FRAME_SLOTS> mFrames;
    std::vector<MenuEntry> mMenus;
    std::vector<PageEntry> mPages;

    // Web windows of the portal flow beyond the page list.
    std::shared_ptr<WebWindow> mLoginPage; // hidden when the game address was reached
    std::shared_ptr<WebWindow> mGamePage;  // the page that named the loader
    std::shared_ptr<WebWindow> mImPopup;
    std::shared_ptr<WebWindow> mVideoPopup;
    bool mImWasVisible = false;  // the IM pop-up was visible when the boss key hid the launcher
    Ui::WindowId mGameChild = 0; // the window the game draws into, in the game frame

    // The launcher's hooks into the frame windows: the message hook sees every frame message first
    // (true: handled); the button handler runs when a skinned button is clicked.
    std::function<bool(FrameWindow& frame, _dword message, Ui::WParam wParam, Ui::LParam lParam,
                       Ui::Point cursor)>
        mFrameHook;
    std::function<void(int kind, ScriptObject* object, FrameWindow& frame)> mButtonHandler;
};

} // namespace Vexel
