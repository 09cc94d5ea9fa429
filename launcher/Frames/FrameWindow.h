// Skinned frame windows: borderless pop-ups whose whole surface is a background image with buttons,
// labels and progress bars drawn over it, plus combo, check and hot-key boxes. They live in the seven
// frame slots of the frame records (FramesAndPages).
#pragma once

#include "Base/LauncherState.h"
#include "Platform/Ui/UiCanvas.h"
#include "Script/ScriptObject.h"

#include <memory>
#include <vector>

namespace Vexel
{

using ImageRef = std::shared_ptr<Ui::UiImage>;

// While one lives, hidden frames only note that they need a repaint; at its end each noted layered frame
// of the frame slots is composed once, and each painted one is left to the paint message of its first
// showing. The start-up scripts build their windows a control at a time, and composing the whole surface
// after each one made the cost grow with the square of the controls.
class FrameRepaintHold
{
public:
    explicit FrameRepaintHold(FramesAndPages& frames);
    ~FrameRepaintHold();
    FrameRepaintHold(const FrameRepaintHold&) = delete;
    FrameRepaintHold& operator=(const FrameRepaintHold&) = delete;

private:
    FramesAndPages& mFrames;
};

// Decodes the named resource or file; null when it is missing or not an image. A still image is shared
// with the other holders of one decoded from the same bytes.
ImageRef LoadSkinImage(const String& name);

constexpr int _BUTTON_CLOSE = 0;
constexpr int _BUTTON_MINIMIZE = 1;
constexpr int _BUTTON_USER = 2;

constexpr const char16_t* _DEFAULT_FONT = u"黑体";

struct SkinButton
{
    int mKind = _BUTTON_USER;
    ScriptObject* mObject = nullptr; // a _LauncherButton for user buttons
    int mState = 0;                  // 0 normal, 1 hover, 2 pressed
    Ui::Rect mRect;
    ImageRef mImages[3];
    bool mHand = false;
};

struct SkinLabel
{
    _dword mId = 0;
    Ui::Rect mRect;
    String mText;
    String mFont;
    _dword mColor = 0;
    _dword mFontHeight = 0;
    _dword mAlign = 0;
};

struct SkinProgress
{
    _dword mId = 0;
    Ui::Rect mRect;
    String mFont;
    _dword mColor = 0;
    _dword mFontHeight = 0;
    _dword mAlign = 0;
    ImageRef mBar;
    ImageRef mBack;
    double mRatio = 0.0;
};

struct SkinBox // combo box and hot-key box
{
    _dword mId = 0;
    Ui::Rect mRect;
    String mFont;
    _dword mValueA = 0;
    _dword mFontHeight = 0;
    _dword mValueB = 0;
    Ui::WindowId mParent = 0;
    Ui::WindowId mControl = 0;
};

struct SkinCheck
{
    _dword mId = 0;
    Ui::Rect mRect;
    _byte mChecked = 0;
    Ui::WindowId mParent = 0;
    Ui::WindowId mControl = 0;
};

class FrameWindow
{
public:
    using CreatedCallback = bool (*)(LauncherState& state, int index);

    FrameWindow() = default;
    ~FrameWindow();
    FrameWindow(const FrameWindow&) = delete;
    FrameWindow& operator=(const FrameWindow&) = delete;

    Ui::WindowId mWindow = 0;
    CreatedCallback mOnCreated = nullptr;
    int mKind = 0; // 0 per-pixel alpha, 1 painted pop-up, 2 painted tool window
    int mWidth = 0;
    int mHeight = 0;
    int mIndex = 0;
    bool mWebActive = false;
    ImageRef mBackground;
    Ui::WindowId mOwnerPage = 0;
    Ui::Rect mWebRect; // x, y, w, h as given (left, top, right = w, bottom = h)
    std::vector<SkinButton> mButtons;
    // Script objects of the user buttons: the frame owns them, so they go when the frame or its buttons
    // do (a script still holding one then reads nil).
    std::vector<std::unique_ptr<ScriptObject>> mButtonObjects;
    std::vector<SkinBox> mCombos;
    std::vector<SkinLabel> mLabels;
    std::vector<SkinCheck> mChecks;
    std::vector<SkinBox> mHotkeys;
    std::vector<SkinProgress> mProgressBars;

    void AddButton(int kind, ScriptObject* object, int x, int y, int w, int h, const String& image1,
                   const String& image2, const String& image3, bool hand);
    void AddLabel(_dword id, int x, int y, int w, int h, const String& text, const String& font, _dword color,
                  _dword fontHeight, _dword align);
    void AddComboBox(_dword id, int x, int y, int w, int h, const String& font, _dword valueA,
                     _dword fontHeight, _dword valueB);
    void AddCheckBox(_dword id, int x, int y, int w, int h, bool checked);
    void AddHotkeyBox(_dword id, int x, int y, int w, int h, const String& font, _dword valueA,
                      _dword fontHeight, _dword valueB, _dword hotKey);
    void AddProgressBar(_dword id, int x, int y, int w, int h, const String& font, _dword color,
                        _dword fontHeight, _dword align, const String& barImage, const String& backImage);

    bool SetLabelText(_dword id, const String& text);
    SkinBox* FindComboBox(_dword id);
    bool SetCheckBox(bool checked);
    bool IsChecked(_dword id);
    bool SetHotkey(_dword value);
    _dword GetHotkey(_dword id);
    bool SetProgress(double ratio);
    void PlaceWebWindow();
    void ClearButtons();
    bool SetBackground(const String& image);

    // Composes the whole surface (background, then buttons, labels and progress bars in list order).
    void Compose(Ui::Canvas& canvas) const;
    // Shows the composed surface now; while a FrameRepaintHold lives and the frame is hidden, only marks
    // the frame for it.
    void Repaint();
    bool mRepaintPending = false;
    // Per-pixel alpha (kind 0, or made layered since): the window shows the canvas last presented.
    bool IsLayered() const;

    Ui::LResult Handle(_dword message, Ui::WParam wParam, Ui::LParam lParam);

private:
    int ButtonAt(Ui::Point client) const;
    void SetButtonState(std::size_t index, int state);
};

// Creates the frame window of the slot; false when the index is 7 or more or the slot is taken.
bool CreateFrameWindow(LauncherState& state, int index, const String& title, int x, int y, int w, int h,
                       int kind);
// Destroys the slot's window and empties the slot.
void DestroyFrameWindow(FramesAndPages& frames, int index);
FrameWindow* GetFrame(FramesAndPages& frames, _dword index);

// Drawing helpers shared with the game frame.
void DrawButtonImage(Ui::Canvas& canvas, const SkinButton& button);
void DrawLabel(Ui::Canvas& canvas, const SkinLabel& label);
void DrawProgressBar(Ui::Canvas& canvas, const SkinProgress& bar);

} // namespace Vexel
