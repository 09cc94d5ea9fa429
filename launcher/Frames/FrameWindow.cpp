#include "Frames/FrameWindow.h"

#include "Frames/WebWindow.h"

#include "Common/Log.h"
#include "Common/StringFormatter.h"

#include <algorithm>
#include <cmath>

namespace Vexel
{

namespace
{

// Still images decoded from the same bytes, shared while anyone holds them: a skin names the same
// panel and button pictures for many windows and buttons, and decoding them again costs start-up
// time. Keyed by the bytes, not the name, so that a file replaced on disk decodes afresh. Animated
// images are not shared (each holder selects its own frame).
struct DecodedImage
{
    std::vector<_byte> mBytes;
    std::weak_ptr<Ui::UiImage> mImage;
};

std::vector<DecodedImage>& DecodedImages()
{
    static std::vector<DecodedImage> images;
    return images;
}

} // namespace

ImageRef LoadSkinImage(const String& name)
{
    if (name.empty())
        return nullptr;
    std::vector<_byte> bytes;
    if (!ReadNamedData(name, bytes) || bytes.empty())
        return nullptr;
    auto& images = DecodedImages();
    images.erase(std::remove_if(images.begin(), images.end(),
                                [](const DecodedImage& entry) { return entry.mImage.expired(); }),
                 images.end());
    for (const auto& entry : images)
        if (entry.mBytes == bytes)
            if (ImageRef shared = entry.mImage.lock())
                return shared;
    ImageRef image(Ui::UiImage::Decode(bytes.data(), bytes.size()).release());
    if (image && image->FrameCount() == 1)
        images.push_back({std::move(bytes), image});
    return image;
}

FrameWindow* GetFrame(FramesAndPages& frames, _dword index)
{
    if (index >= static_cast<_dword>(_FRAME_SLOTS))
        return nullptr;
    return frames.mFrames[index].get();
}

namespace
{

Ui::FontSpec MakeFont(const String& name, _dword height)
{
    Ui::FontSpec font;
    font.name = name.empty() ? String(_DEFAULT_FONT) : name;
    font.height = static_cast<int>(height);
    return font;
}

_dword HorizontalFormat(_dword align)
{
    // Only 1 and 2 mean something; anything else is left.
    return align == 1 ? Ui::_DT_CENTER : align == 2 ? Ui::_DT_RIGHT : Ui::_DT_LEFT;
}

Ui::LResult FrameProcedure(Ui::WindowId window, _dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    if (HasLauncherState())
        for (auto& frame : Launcher().mFrames)
            if (frame && frame->mWindow == window)
                return frame->Handle(message, wParam, lParam);
    return Ui::DefaultHandler(window, message, wParam, lParam);
}

} // namespace

void DrawButtonImage(Ui::Canvas& canvas, const SkinButton& button)
{
    const ImageRef& wanted = button.mImages[button.mState == 1 ? 1 : button.mState == 2 ? 2 : 0];
    const ImageRef& image = wanted ? wanted : button.mImages[0];
    if (image)
        canvas.DrawImage(*image, button.mRect);
}

void DrawLabel(Ui::Canvas& canvas, const SkinLabel& label)
{
    canvas.DrawString(label.mText, label.mRect, MakeFont(label.mFont, label.mFontHeight),
                      Ui::OpaqueColor(label.mColor), HorizontalFormat(label.mAlign) | Ui::_DT_WORDBREAK);
}

void DrawProgressBar(Ui::Canvas& canvas, const SkinProgress& bar)
{
    const Ui::Rect& r = bar.mRect;
    double ratio = bar.mRatio < 0.0 ? 0.0 : bar.mRatio > 1.0 ? 1.0 : bar.mRatio;
    int split = static_cast<int>(r.Width() * ratio);
    if (bar.mBar && split > 0)
        canvas.DrawImagePart(*bar.mBar, {0, 0, split, r.Height()}, {r.left, r.top, r.left + split, r.bottom});
    if (bar.mBack && split < r.Width())
        canvas.DrawImagePart(*bar.mBack, {split, 0, r.Width(), r.Height()},
                             {r.left + split, r.top, r.right, r.bottom});
    String text = FormatString(u"%3.0f%%", bar.mRatio * 100.0);
    canvas.DrawString(text, r, MakeFont(bar.mFont, bar.mFontHeight), Ui::OpaqueColor(bar.mColor),
                      HorizontalFormat(bar.mAlign) | Ui::_DT_TOP | Ui::_DT_SINGLELINE);
}

FrameWindow::~FrameWindow()
{
    if (mWindow && Ui::IsUiWindow(mWindow))
        Ui::DestroyUiWindow(mWindow);
}

void FrameWindow::AddButton(int kind, ScriptObject* object, int x, int y, int w, int h, const String& image1,
                            const String& image2, const String& image3, bool hand)
{
    SkinButton button;
    button.mKind = kind;
    button.mObject = object;
    button.mRect = Ui::Rect::FromSize(x, y, w, h);
    button.mImages[0] = LoadSkinImage(image1);
    button.mImages[1] = LoadSkinImage(image2);
    button.mImages[2] = LoadSkinImage(image3);
    button.mHand = hand;
    mButtons.push_back(std::move(button));
    Repaint();
}

void FrameWindow::AddLabel(_dword id, int x, int y, int w, int h, const String& text, const String& font,
                           _dword color, _dword fontHeight, _dword align)
{
    mLabels.push_back({id, Ui::Rect::FromSize(x, y, w, h), text, font, color, fontHeight, align});
    Repaint();
}

void FrameWindow::AddComboBox(_dword id, int x, int y, int w, int h, const String& font, _dword valueA,
                              _dword fontHeight, _dword valueB)
{
    SkinBox box{id, Ui::Rect::FromSize(x, y, w, h), font, valueA, fontHeight, valueB, mWindow, 0};
    box.mControl =
        Ui::NewControl(Ui::ControlKind::ComboBox, mWindow, id, u"VEXELCOMBOBOX", x, y, w, h, 0x50200003);
    if (box.mControl)
        Ui::SetControlFont(box.mControl, MakeFont(font, fontHeight));
    mCombos.push_back(box);
}

void FrameWindow::AddCheckBox(_dword id, int x, int y, int w, int h, bool checked)
{
    SkinCheck check{id, Ui::Rect::FromSize(x, y, w, h), static_cast<_byte>(checked ? 1 : 0), mWindow, 0};
    check.mControl =
        Ui::NewControl(Ui::ControlKind::CheckBox, mWindow, id, u"VEXELCHECKBOX", x, y, w, h, 0x50008003);
    if (check.mControl)
        Ui::SetCheckState(check.mControl, checked);
    mChecks.push_back(check);
}

void FrameWindow::AddHotkeyBox(_dword id, int x, int y, int w, int h, const String& font, _dword valueA,
                               _dword fontHeight, _dword valueB, _dword hotKey)
{
    SkinBox box{id, Ui::Rect::FromSize(x, y, w, h), font, valueA, fontHeight, valueB, mWindow, 0};
    box.mControl = Ui::NewControl(Ui::ControlKind::HotKeyBox, mWindow, id, u"VEXELHOTKEYBOX", x, y, w, h,
                                  0x50000000, Ui::_WS_EX_CLIENTEDGE);
    if (box.mControl)
    {
        Ui::SetControlFont(box.mControl, MakeFont(font, fontHeight));
        Ui::SetHotKeyValue(box.mControl, hotKey);
    }
    mHotkeys.push_back(box);
}

void FrameWindow::AddProgressBar(_dword id, int x, int y, int w, int h, const String& font, _dword color,
                                 _dword fontHeight, _dword align, const String& barImage,
                                 const String& backImage)
{
    SkinProgress bar;
    bar.mId = id;
    bar.mRect = Ui::Rect::FromSize(x, y, w, h);
    bar.mFont = font;
    bar.mColor = color;
    bar.mFontHeight = fontHeight;
    bar.mAlign = align;
    bar.mBar = LoadSkinImage(barImage);
    bar.mBack = LoadSkinImage(backImage);
    mProgressBars.push_back(std::move(bar));
    Repaint();
}

bool FrameWindow::SetLabelText(_dword id, const String& text)
{
    for (auto& label : mLabels)
        if (label.mId == id)
        {
            label.mText = text;
            Repaint();
            return true;
        }
    return false;
}

SkinBox* FrameWindow::FindComboBox(_dword id)
{
    for (auto& box : mCombos)
        if (box.mId == id)
            return &box;
    return nullptr;
}

bool FrameWindow::SetCheckBox(bool checked)
{
    for (auto& check : mChecks)
        if (check.mId == 0)
        {
            check.mChecked = checked ? 1 : 0;
            if (check.mControl)
                Ui::SetCheckState(check.mControl, checked);
            return true;
        }
    return false;
}

bool FrameWindow::IsChecked(_dword id)
{
    for (auto& check : mChecks)
        if (check.mId == id)
            return check.mControl ? Ui::GetCheckState(check.mControl) : check.mChecked != 0;
    return false;
}

bool FrameWindow::SetHotkey(_dword value)
{
    for (auto& box : mHotkeys)
        if (box.mId == 0)
            return box.mControl && Ui::SetHotKeyValue(box.mControl, value);
    return false;
}

_dword FrameWindow::GetHotkey(_dword id)
{
    for (auto& box : mHotkeys)
        if (box.mId == id)
            return box.mControl ? Ui::GetHotKeyValue(box.mControl) : 0;
    return 0;
}

bool FrameWindow::SetProgress(double ratio)
{
    for (auto& bar : mProgressBars)
        if (bar.mId == 0)
        {
            bar.mRatio = ratio;
            Repaint();
            return true;
        }
    return false;
}

void FrameWindow::PlaceWebWindow()
{
    if (HasLauncherState())
        PlaceFrameWebWindow(Launcher(), *this);
}

void FrameWindow::ClearButtons()
{
    mButtons.clear();
    mButtonObjects.clear();
    Repaint();
}

bool FrameWindow::SetBackground(const String& image)
{
    ImageRef decoded = LoadSkinImage(image);
    if (!decoded)
        return false;
    mBackground = std::move(decoded);
    Repaint();
    return true;
}

void FrameWindow::Compose(Ui::Canvas& canvas) const
{
    // Only a per-pixel-alpha frame may be see-through; a painted one is opaque everywhere.
    canvas.Clear(mKind == 0 ? 0 : 0xFF000000);
    if (mBackground)
        canvas.DrawImage(*mBackground, {0, 0, canvas.Width(), canvas.Height()});
    for (const auto& button : mButtons)
        DrawButtonImage(canvas, button);
    for (const auto& label : mLabels)
        DrawLabel(canvas, label);
    for (const auto& bar : mProgressBars)
        DrawProgressBar(canvas, bar);
}

namespace
{
int gRepaintHolds = 0;
} // namespace

FrameRepaintHold::FrameRepaintHold(FramesAndPages& frames) : mFrames(frames)
{
    ++gRepaintHolds;
}

FrameRepaintHold::~FrameRepaintHold()
{
    if (--gRepaintHolds > 0)
        return;
    for (auto& frame : mFrames.mFrames)
    {
        if (!frame || !frame->mRepaintPending)
            continue;
        // A layered frame shows only what it was last given, so it is composed now; a painted one is
        // composed by the paint message that showing it brings (many are never shown at all).
        if (frame->IsLayered())
            frame->Repaint();
        else
        {
            frame->mRepaintPending = false;
            Ui::InvalidateUiWindow(frame->mWindow);
        }
    }
}

bool FrameWindow::IsLayered() const
{
    return mKind == 0 || (Ui::GetWindowExStyle(mWindow) & Ui::_WS_EX_LAYERED);
}

void FrameWindow::Repaint()
{
    if (!mWindow)
        return;
    if (gRepaintHolds > 0 && !Ui::IsUiWindowVisible(mWindow))
    {
        mRepaintPending = true;
        return;
    }
    mRepaintPending = false;
    Ui::Rect client;
    if (!Ui::GetClientBounds(mWindow, client) || client.IsEmpty())
        return;
    Ui::Canvas canvas(client.Width(), client.Height());
    Compose(canvas);
    // A frame that setupRegion turned into a painted one is still layered; its opaque surface replaces
    // the old alpha shape, so only the region shapes it from then on.
    if (IsLayered())
        Ui::PresentWindowCanvas(mWindow, canvas);
    else
        Ui::PresentCanvas(mWindow, canvas);
}

int FrameWindow::ButtonAt(Ui::Point client) const
{
    for (std::size_t i = 0; i < mButtons.size(); ++i)
    {
        const Ui::Rect& r = mButtons[i].mRect;
        // Bounds are exclusive on every side.
        if (client.x > r.left && client.x < r.right && client.y > r.top && client.y < r.bottom)
            return static_cast<int>(i);
    }
    return -1;
}

void FrameWindow::SetButtonState(std::size_t index, int state)
{
    if (mButtons[index].mState == state)
        return;
    mButtons[index].mState = state;
    Repaint();
}

Ui::LResult FrameWindow::Handle(_dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    Ui::WindowId window = mWindow;
    Ui::Point cursor;
    if (message == Ui::_WM_NCHITTEST)
    {
        cursor = {Ui::PointX(lParam), Ui::PointY(lParam)};
        Ui::ScreenToClientPoint(window, cursor);
    }
    else if (message >= Ui::_WM_MOUSEMOVE && message <= Ui::_WM_MBUTTONDBLCLK)
        cursor = {Ui::PointX(lParam), Ui::PointY(lParam)};
    else if (message == Ui::_WM_SETCURSOR && Ui::GetPointerPosition(cursor))
        Ui::ScreenToClientPoint(window, cursor); // the message carries no position of its own

    LauncherState& state = Launcher();
    if (state.mFrameHook && state.mFrameHook(*this, message, wParam, lParam, cursor))
        return 0;

    switch (message)
    {
    case Ui::_WM_CLOSE:
        Ui::PostQuit(0);
        return 0;
    case Ui::_WM_PAINT:
        Repaint();
        return 0;
    case Ui::_WM_NCPAINT:
        return 0;
    case Ui::_WM_ERASEBKGND:
        return 1;
    case Ui::_WM_NCHITTEST:
    {
        int over = ButtonAt(cursor);
        for (std::size_t i = 0; i < mButtons.size(); ++i)
            if (static_cast<int>(i) != over && mButtons[i].mState != 0)
                SetButtonState(i, 0);
        if (over >= 0 && mButtons[over].mState == 0)
            SetButtonState(over, 1);
        // The layer has no cursor message of its own; set the shape as the cursor moves.
        Ui::SetUiCursor(window, over >= 0 && mButtons[over].mHand ? Ui::_IDC_HAND : Ui::_IDC_ARROW);
        return over >= 0 ? Ui::_HTCLIENT : Ui::_HTCAPTION;
    }
    case Ui::_WM_LBUTTONDOWN:
    {
        int over = ButtonAt(cursor);
        if (over >= 0)
            SetButtonState(over, 2);
        return 0;
    }
    case Ui::_WM_LBUTTONUP:
    {
        int over = ButtonAt(cursor);
        if (over >= 0)
        {
            SetButtonState(over, 1);
            SkinButton& button = mButtons[over];
            if (state.mButtonHandler)
                state.mButtonHandler(button.mKind, button.mObject, *this);
        }
        return 0;
    }
    case Ui::_WM_SETCURSOR:
    {
        int over = ButtonAt(cursor);
        Ui::SetUiCursor(window, over >= 0 && mButtons[over].mHand ? Ui::_IDC_HAND : Ui::_IDC_ARROW);
        return 1;
    }
    case Ui::_WM_MOVE:
    case Ui::_WM_MOUSEACTIVATE:
    case Ui::_WM_ACTIVATE:
        if (mWebActive)
            PlaceWebWindow();
        break;
    case Ui::_WM_COMMAND:
        // Keep the controls' values in their records.
        for (auto& check : mChecks)
            if (check.mControl == static_cast<Ui::WindowId>(lParam))
                check.mChecked = Ui::GetCheckState(check.mControl) ? 1 : 0;
        return 0;
    default:
        break;
    }
    return Ui::DefaultHandler(window, message, wParam, lParam);
}

bool CreateFrameWindow(LauncherState& state, int index, const String& title, int x, int y, int w, int h,
                       int kind)
{
    if (index < 0 || index >= _FRAME_SLOTS || state.mFrames[index])
        return false;
    auto frame = std::make_unique<FrameWindow>();
    frame->mKind = kind;
    frame->mWidth = w;
    frame->mHeight = h;
    frame->mIndex = index;
    Ui::WindowParams params;
    if (kind == 2)
    {
        params.style = Ui::_WS_POPUP;
        params.exStyle = Ui::_WS_EX_TOOLWINDOW;
    }
    else
        params.style = Ui::_WS_POPUP | Ui::_WS_SYSMENU | Ui::_WS_MINIMIZEBOX;
    if (kind == 0)
        params.exStyle |= Ui::_WS_EX_LAYERED;
    params.title = title;
    params.x = x;
    params.y = y;
    params.width = w;
    params.height = h;
    params.handler = FrameProcedure;
    // Game modules and helper programs find the launcher's windows by their class names.
    params.className = u"Vexel Frame Window";
    FrameWindow* raw = frame.get();
    state.mFrames[index] = std::move(frame);
    raw->mWindow = Ui::NewWindow(params);
    if (!raw->mWindow)
    {
        LogError(u"[MC] Cannot create frame window %d", index);
        state.mFrames[index].reset();
        return false;
    }
    if (raw->mOnCreated)
        return raw->mOnCreated(state, index);
    return true;
}

void DestroyFrameWindow(FramesAndPages& frames, int index)
{
    if (index < 0 || index >= _FRAME_SLOTS)
        return;
    frames.mFrames[index].reset();
}

} // namespace Vexel
