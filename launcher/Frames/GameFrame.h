// The game frame: the one window with a drawn title bar, border, icon, title text, two lists of image
// menu entries, title-bar buttons and a window menu, in which the game runs.
#pragma once

#include "Frames/FrameWindow.h"

#include <functional>

namespace Vexel
{

struct ImageMenuEntry
{
    _dword mId = 0;
    _word mPos = 0;
    int mState = 0;
    ImageRef mImages[3];
    _byte mMask = 255; // bit 0: shown while maximised, bit 1: shown while not
    String mUrl;
    String mText;
    _dword mValue = 0;
    ImageRef mExtra[2];
    Ui::Rect mRect{-100, -100, -100, -100};
};

class GameFrame
{
public:
    using CreatedCallback = bool (*)(LauncherState& state);
    GameFrame() = default;
    ~GameFrame();
    GameFrame(const GameFrame&) = delete;
    GameFrame& operator=(const GameFrame&) = delete;

    Ui::WindowId mWindow = 0;
    CreatedCallback mOnCreated = nullptr;
    _dword mMenuColor = 0xFFFFFF;
    _dword mMenuHoverColor = 0xFFFF00;
    int mMinWidth = 0;
    int mMinHeight = 0;
    String mTitleFont;
    _dword mTitleColor = 0;
    int mBorderWidth = 0;
    _dword mBorderColor = 0;
    int mMargins[4] = {0, 0, 0, 0};
    ImageRef mLogo;
    ImageRef mTitleImages[3];
    ImageRef mIcon;
    std::vector<ImageMenuEntry> mMenuLists[2];
    std::vector<ImageMenuEntry> mTitleButtons;
    Ui::MenuId mWindowMenu = 0;
    std::vector<MenuEntry> mAppended; // entries put into the window menu, for command handling
    bool mShowLogo = false;
    bool mPlainMode = false;
    bool mCloseGuard = false;

    // Blinking of one image menu entry.
    _dword mBlinkId = 0;
    _dword mBlinkCounter = 0;
    _dword mBlinkTime = 0;

    // Hooks of the launcher: every message first (true: handled), and chosen commands.
    std::function<bool(_dword message, Ui::WParam wParam, Ui::LParam lParam)> mHook;
    std::function<void(_dword id, const String& text, const String& url)> mCommand;

    void AddMenuEntry(bool second, _dword id, const String& url, int pos, const String& image1,
                      const String& image2, const String& image3, _byte mask, const String& text,
                      _dword value, const String& extra1, const String& extra2);
    void AddTitleButton(_dword id, int pos, const String& image1, const String& image2, const String& image3,
                        _byte mask, const String& text);
    void UpdateMenuEntry(_dword id, const String& url, const String& text, _byte mask);
    void SetBlinking(_dword id);
    void BlinkStep();
    // Puts the launcher's text menu entries into the window menu and empties that list.
    void BuildWindowMenu(FramesAndPages& frames);

    bool CustomDrawn() const { return mTitleImages[0] && !mPlainMode; }
    int TitleHeight() const { return mTitleImages[0] ? mTitleImages[0]->Height() : 0; }
    // The whole window: border, title bar with its entries and buttons, and the client area.
    void Compose(Ui::Canvas& canvas, bool maximized);
    void Repaint();
    void ApplyInsets();
    Ui::LResult Handle(_dword message, Ui::WParam wParam, Ui::LParam lParam);

private:
    ImageMenuEntry* EntryAt(Ui::Point window);
    void ResetStates(ImageMenuEntry* keep);
    void DrawEntry(Ui::Canvas& canvas, ImageMenuEntry& entry, int x, int y, int state);
    int EntryWidth(const ImageMenuEntry& entry) const;
    void MaximizeToWorkArea();
    ImageMenuEntry* mPressed = nullptr;
};

// Creates the game frame's window with the client rectangle x, y, w, h and the state's frame style.
bool CreateGameFrameWindow(LauncherState& state, int x, int y, int w, int h);

} // namespace Vexel
