#include "Frames/GameFrame.h"

#include "Common/Log.h"
#include "Platform/System.h"

#include <algorithm>

namespace Vexel
{

namespace
{

constexpr int _ENTRY_GAP = 2;
constexpr int _TEXT_PADDING = 15;

Ui::FontSpec MenuFont()
{
    return Ui::FontSpec{_DEFAULT_FONT, 14, false};
}

bool Shown(const ImageMenuEntry& entry, bool maximized)
{
    return (entry.mMask & (maximized ? 1 : 2)) != 0;
}

void SortByPos(std::vector<ImageMenuEntry>& list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const ImageMenuEntry& a, const ImageMenuEntry& b) { return a.mPos < b.mPos; });
}

Ui::LResult GameFrameProcedure(Ui::WindowId window, _dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    if (HasLauncherState() && Launcher().mGameFrame && Launcher().mGameFrame->mWindow == window)
        return Launcher().mGameFrame->Handle(message, wParam, lParam);
    return Ui::DefaultHandler(window, message, wParam, lParam);
}

} // namespace

GameFrame::~GameFrame()
{
    if (mWindow && Ui::IsUiWindow(mWindow))
        Ui::DestroyUiWindow(mWindow);
    if (mWindowMenu)
        Ui::DeleteUiMenu(mWindowMenu);
}

void GameFrame::AddMenuEntry(bool second, _dword id, const String& url, int pos, const String& image1,
                             const String& image2, const String& image3, _byte mask, const String& text,
                             _dword value, const String& extra1, const String& extra2)
{
    ImageMenuEntry entry;
    entry.mId = id;
    entry.mUrl = url;
    entry.mPos = static_cast<_word>(pos);
    entry.mImages[0] = LoadSkinImage(image1);
    entry.mImages[1] = LoadSkinImage(image2);
    entry.mImages[2] = LoadSkinImage(image3);
    entry.mMask = mask;
    entry.mText = text;
    entry.mValue = value;
    entry.mExtra[0] = LoadSkinImage(extra1);
    entry.mExtra[1] = LoadSkinImage(extra2);
    mPressed = nullptr;
    auto& list = mMenuLists[second ? 1 : 0];
    list.push_back(std::move(entry));
    SortByPos(list);
}

void GameFrame::AddTitleButton(_dword id, int pos, const String& image1, const String& image2,
                               const String& image3, _byte mask, const String& text)
{
    ImageMenuEntry entry;
    entry.mId = id;
    entry.mPos = static_cast<_word>(pos);
    entry.mImages[0] = LoadSkinImage(image1);
    entry.mImages[1] = LoadSkinImage(image2);
    entry.mImages[2] = LoadSkinImage(image3);
    entry.mMask = mask;
    entry.mText = text;
    mPressed = nullptr;
    mTitleButtons.push_back(std::move(entry));
    SortByPos(mTitleButtons);
}

void GameFrame::UpdateMenuEntry(_dword id, const String& url, const String& text, _byte mask)
{
    for (auto& list : mMenuLists)
        for (auto& entry : list)
            if (entry.mId == id)
            {
                if (!text.empty())
                    entry.mText = text;
                if (!url.empty())
                    entry.mUrl = url;
                entry.mMask = mask;
            }
}

void GameFrame::SetBlinking(_dword id)
{
    if (mBlinkCounter & 1)
    {
        // One more step puts the entry back to its normal image.
        mBlinkTime = 1;
        _dword saved = mBlinkId;
        for (auto& list : mMenuLists)
            for (auto& entry : list)
                if (entry.mId == saved)
                    entry.mState = 0;
        Repaint();
    }
    mBlinkId = id;
    mBlinkCounter = 0;
    mBlinkTime = 0;
}

void GameFrame::BlinkStep()
{
    if (mBlinkId == 0 || !mWindow || (mMenuLists[0].empty() && mMenuLists[1].empty()))
        return;
    _dword now = GetTime();
    if (mBlinkTime == 0)
    {
        mBlinkTime = now;
        return;
    }
    if (now - mBlinkTime < 500)
        return;
    mBlinkTime = 0;
    for (auto& list : mMenuLists)
        for (auto& entry : list)
            if (entry.mId == mBlinkId)
                entry.mState = static_cast<int>(mBlinkCounter & 1);
    Repaint();
    ++mBlinkCounter;
}

void GameFrame::BuildWindowMenu(FramesAndPages& frames)
{
    for (const auto& entry : frames.mMenus)
    {
        if (entry.mCustom)
            continue;
        if (!mWindowMenu)
            mWindowMenu = Ui::NewMenu();
        // No bitmap resources on this platform: a bitmap entry shows its text.
        Ui::AppendMenuItem(mWindowMenu, entry.mRight ? Ui::_MF_RIGHTJUSTIFY : 0, entry.mId, entry.mText);
        mAppended.push_back(entry);
    }
    if (mWindowMenu && mWindow)
        Ui::SetWindowMenuBar(mWindow, mWindowMenu);
    frames.mMenus.clear();
}

int GameFrame::EntryWidth(const ImageMenuEntry& entry) const
{
    int width = entry.mImages[0] ? entry.mImages[0]->Width() : 0;
    if (!entry.mText.empty())
    {
        Ui::Canvas probe(1, 1);
        width += probe.MeasureString(entry.mText, MenuFont()).width + _TEXT_PADDING;
    }
    return width;
}

void GameFrame::DrawEntry(Ui::Canvas& canvas, ImageMenuEntry& entry, int x, int y, int state)
{
    int width = EntryWidth(entry);
    int height = entry.mImages[0] ? entry.mImages[0]->Height() : 20;
    entry.mRect = Ui::Rect::FromSize(x, y, width, height);
    const ImageRef& extra = entry.mExtra[state == 0 ? 0 : 1];
    if (extra)
        canvas.DrawImage(*extra, entry.mRect);
    const ImageRef& wanted = entry.mImages[state];
    const ImageRef& image = wanted ? wanted : entry.mImages[0];
    int imageWidth = 0;
    if (image)
    {
        canvas.DrawImageAt(*image, x, y);
        imageWidth = image->Width();
    }
    if (!entry.mText.empty())
        canvas.DrawString(entry.mText, {x + imageWidth, y, x + width, y + height}, MenuFont(),
                          Ui::OpaqueColor(state == 0 ? mMenuColor : mMenuHoverColor),
                          Ui::_DT_CENTER | Ui::_DT_VCENTER | Ui::_DT_SINGLELINE);
}

void GameFrame::Compose(Ui::Canvas& canvas, bool maximized)
{
    int width = canvas.Width();
    int height = canvas.Height();
    int border = maximized ? 0 : mBorderWidth;
    int title = TitleHeight();
    canvas.Clear(0xFF202020);
    if (border > 0)
    {
        _dword color = Ui::OpaqueColor(mBorderColor);
        canvas.SetRect({0, 0, width, border}, color);
        canvas.SetRect({0, height - border, width, height}, color);
        canvas.SetRect({0, 0, border, height}, color);
        canvas.SetRect({width - border, 0, width, height}, color);
    }
    Ui::Rect client{border, border + title, width - border, height - border};
    if (mLogo && mShowLogo)
    {
        canvas.SetRect(client, 0xFFFFFFFF);
        canvas.DrawImageAt(*mLogo, client.left + (client.Width() - mLogo->Width()) / 2,
                           client.top + (client.Height() - mLogo->Height()) / 2);
    }
    if (!CustomDrawn())
        return;
    const Ui::UiImage& left = *mTitleImages[0];
    int leftWidth = left.Width();
    int rightWidth = mTitleImages[1] ? mTitleImages[1]->Width() : 0;
    canvas.DrawImageAt(left, border, border);
    if (mTitleImages[2] && mTitleImages[2]->Width() > 0)
    {
        int piece = mTitleImages[2]->Width();
        int copies = (width - 2 * border - leftWidth - rightWidth) / piece + 1;
        for (int i = 0; i < copies; ++i)
            canvas.DrawImageAt(*mTitleImages[2], border + leftWidth + i * piece, border);
    }
    if (mTitleImages[1])
        canvas.DrawImageAt(*mTitleImages[1], width - border - rightWidth, border);
    int iconWidth = 0;
    if (mIcon)
    {
        canvas.DrawImageAt(*mIcon, border + 4, border + 4);
        iconWidth = mIcon->Width();
    }
    if (!mTitleFont.empty() && mWindow)
        canvas.DrawString(Ui::GetWindowTitle(mWindow),
                          {border + iconWidth + 8, border + 4, width - 2 * border, border + title},
                          Ui::FontSpec{mTitleFont, 16, true}, Ui::OpaqueColor(mTitleColor),
                          Ui::_DT_LEFT | Ui::_DT_TOP | Ui::_DT_SINGLELINE);

    auto place = [&](ImageMenuEntry& entry, int x, int y)
    { DrawEntry(canvas, entry, x, y, entry.mState > 2 ? 0 : entry.mState); };
    int x = border + mMargins[0];
    int y = border + mMargins[1];
    for (auto& entry : mMenuLists[0])
    {
        if (!Shown(entry, maximized))
        {
            entry.mRect = {-100, -100, -100, -100};
            continue;
        }
        place(entry, x, y);
        x += entry.mRect.Width() + _ENTRY_GAP;
    }
    int right = width - border;
    for (auto& button : mTitleButtons)
    {
        if (!Shown(button, maximized))
        {
            button.mRect = {-100, -100, -100, -100};
            continue;
        }
        right -= EntryWidth(button);
        place(button, right, border);
    }
    right -= mMargins[2];
    for (auto& entry : mMenuLists[1])
    {
        if (!Shown(entry, maximized))
        {
            entry.mRect = {-100, -100, -100, -100};
            continue;
        }
        right -= EntryWidth(entry) + _ENTRY_GAP;
        place(entry, right, y);
    }
}

void GameFrame::ApplyInsets()
{
    if (!mWindow)
        return;
    bool maximized = Ui::IsUiWindowMaximized(mWindow);
    int border = maximized ? 0 : mBorderWidth;
    if (CustomDrawn())
        Ui::SetFrameInsets(mWindow, {border, border + TitleHeight(), border, border});
}

void GameFrame::Repaint()
{
    if (!mWindow)
        return;
    Ui::Rect bounds;
    if (!Ui::GetWindowBounds(mWindow, bounds) || bounds.IsEmpty())
        return;
    Ui::Canvas canvas(bounds.Width(), bounds.Height());
    Compose(canvas, Ui::IsUiWindowMaximized(mWindow));
    if (CustomDrawn())
        Ui::PresentWindowCanvas(mWindow, canvas);
    else if (mLogo && mShowLogo)
    {
        Ui::Rect client;
        Ui::GetClientBounds(mWindow, client);
        Ui::Canvas inner(client.Width(), client.Height());
        inner.Clear(0xFFFFFFFF);
        inner.DrawImageAt(*mLogo, (client.Width() - mLogo->Width()) / 2,
                          (client.Height() - mLogo->Height()) / 2);
        Ui::PresentCanvas(mWindow, inner);
    }
}

ImageMenuEntry* GameFrame::EntryAt(Ui::Point p)
{
    for (auto* list : {&mTitleButtons, &mMenuLists[0], &mMenuLists[1]})
        for (auto& entry : *list)
            if (entry.mRect.Contains(p))
                return &entry;
    return nullptr;
}

void GameFrame::ResetStates(ImageMenuEntry* keep)
{
    bool changed = false;
    for (auto* list : {&mTitleButtons, &mMenuLists[0], &mMenuLists[1]})
        for (auto& entry : *list)
            if (&entry != keep && entry.mState != 0 && !(entry.mId == mBlinkId && mBlinkId != 0))
            {
                entry.mState = 0;
                changed = true;
            }
    if (changed)
        Repaint();
}

void GameFrame::MaximizeToWorkArea()
{
    Ui::Rect work;
    if (!Ui::GetWorkArea(mWindow, work))
    {
        Ui::Size screen = Ui::GetScreenSize();
        work = {0, 0, screen.width, screen.height};
    }
    Ui::ShowUiWindow(mWindow, Ui::_SW_MAXIMIZE);
    Ui::MoveUiWindow(mWindow, work.left, work.top, work.Width(), work.Height());
}

Ui::LResult GameFrame::Handle(_dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    Ui::WindowId window = mWindow;
    if (mHook && mHook(message, wParam, lParam))
        return 0;
    auto windowPoint = [&](Ui::LParam value)
    {
        Ui::Rect bounds;
        Ui::GetWindowBounds(window, bounds);
        return Ui::Point{Ui::PointX(value) - bounds.left, Ui::PointY(value) - bounds.top};
    };
    switch (message)
    {
    case Ui::_WM_PAINT:
    case Ui::_WM_NCPAINT:
    case Ui::_WM_NCACTIVATE:
        Repaint();
        return message == Ui::_WM_NCACTIVATE ? 1 : 0;
    case Ui::_WM_SIZE:
        ApplyInsets();
        Repaint();
        break;
    case Ui::_WM_NCHITTEST:
    {
        Ui::LResult hit = Ui::DefaultHandler(window, message, wParam, lParam);
        if (hit == Ui::_HTCLOSE || hit == Ui::_HTMAXBUTTON || hit == Ui::_HTMINBUTTON ||
            hit == Ui::_HTSYSMENU)
            return Ui::_HTCAPTION;
        if (hit == Ui::_HTCAPTION && CustomDrawn() && EntryAt(windowPoint(lParam)))
            return Ui::_HTBORDER; // entries are hit-tested here, not dragged
        return hit;
    }
    case Ui::_WM_NCMOUSEMOVE:
    {
        ImageMenuEntry* entry = EntryAt(windowPoint(lParam));
        ResetStates(entry);
        if (entry && entry->mState == 0)
        {
            entry->mState = 1;
            Repaint();
        }
        return 0;
    }
    case Ui::_WM_NCMOUSELEAVE:
        ResetStates(nullptr);
        return 0;
    case Ui::_WM_NCLBUTTONDOWN:
    {
        mPressed = EntryAt(windowPoint(lParam));
        if (mPressed)
        {
            mPressed->mState = 2;
            Repaint();
            return 0;
        }
        break;
    }
    case Ui::_WM_NCLBUTTONUP:
    {
        ImageMenuEntry* entry = EntryAt(windowPoint(lParam));
        bool chosen = entry && entry == mPressed;
        mPressed = nullptr;
        if (entry)
        {
            entry->mState = 1;
            Repaint();
        }
        if (chosen && mCommand)
            mCommand(entry->mId, entry->mText, entry->mUrl);
        return 0;
    }
    case Ui::_WM_NCLBUTTONDBLCLK:
        if (wParam == static_cast<Ui::WParam>(Ui::_HTCAPTION))
        {
            if (Ui::IsUiWindowMaximized(window))
                Ui::ShowUiWindow(window, Ui::_SW_RESTORE);
            else
                MaximizeToWorkArea();
            return 0;
        }
        break;
    case Ui::_WM_NCRBUTTONDOWN:
    case Ui::_WM_NCRBUTTONUP:
    case Ui::_WM_RBUTTONDOWN:
    case Ui::_WM_RBUTTONUP:
        return 0; // no system menu
    case Ui::_WM_COMMAND:
        for (const auto& entry : mAppended)
            if (entry.mId == static_cast<_dword>(Ui::LowWord(wParam)))
            {
                if (mCommand)
                    mCommand(entry.mId, entry.mText, entry.mUrl);
                return 0;
            }
        return 0;
    case Ui::_WM_CLOSE:
        if (mCloseGuard)
            return 0;
        Ui::PostQuit(0);
        return 0;
    default:
        break;
    }
    return Ui::DefaultHandler(window, message, wParam, lParam);
}

bool CreateGameFrameWindow(LauncherState& state, int x, int y, int w, int h)
{
    GameFrame* frame = state.mGameFrame.get();
    if (!frame || frame->mWindow)
        return false;
    _dword flags = state.mFrameStyle;
    Ui::WindowParams params;
    if (flags & _FRAME_CHILD)
        params.style = Ui::_WS_CHILD | Ui::_WS_VISIBLE;
    else
    {
        params.style = (flags & _FRAME_CAPTION) ? Ui::_WS_CAPTION : Ui::_WS_POPUP;
        if ((flags & _FRAME_APPWINDOW) && (flags & _FRAME_TOPMOST))
            params.exStyle = 0x40088;
        else if (flags & _FRAME_APPWINDOW)
            params.exStyle = 0x40080;
        else if (flags & _FRAME_TOPMOST)
            params.exStyle = 0x8;
        if (!frame->mTitleImages[0])
        {
            if (flags & _FRAME_SYSBUTTON)
                params.style |= Ui::_WS_SYSMENU;
            if (flags & _FRAME_MAXBUTTON)
                params.style |= Ui::_WS_MAXIMIZEBOX;
        }
        params.style |= Ui::_WS_MINIMIZEBOX;
        if (!(flags & _FRAME_FIXEDSIZE))
            params.style |= Ui::_WS_THICKFRAME;
    }
    // Grow the client rectangle by the frame the window draws itself.
    int border = frame->mBorderWidth;
    int title = frame->CustomDrawn() ? frame->TitleHeight() : 0;
    if (!frame->CustomDrawn())
        border = 0;
    params.title = state.mTitle;
    params.x = x;
    params.y = y;
    params.width = w + 2 * border;
    params.height = h + title + 2 * border;
    // A frame the system draws takes its caption and borders from the window too: w x h stays the client.
    if (!frame->CustomDrawn() &&
        !Ui::OuterSizeForClient(params.style, params.exStyle, params.width, params.height))
    {
        LogError(u"[MC] Cannot size the game frame for a client area of %d x %d", w, h);
        return false;
    }
    params.handler = GameFrameProcedure;
    params.className = u"Vexel3D Main Window"; // what game modules and helper programs look for
    frame->mWindow = Ui::NewWindow(params);
    if (!frame->mWindow)
        return false;
    frame->mCloseGuard = true;
    frame->ApplyInsets();
    if (frame->mMinWidth > 0 && frame->mMinHeight > 0)
        Ui::SetMinimumSize(frame->mWindow, frame->mMinWidth, frame->mMinHeight);
    if (!(flags & _FRAME_MAXIMIZED))
    {
        LogTrace(u"[MC] Move main window 0x%x at creation to %d, %d, %d, %d", frame->mWindow, x, y,
                 params.width, params.height);
        Ui::MoveUiWindow(frame->mWindow, x, y, params.width, params.height);
        LogTrace(u"[MC] Move main window 0x%x at creation to %d, %d, %d, %d done", frame->mWindow, x, y,
                 params.width, params.height);
    }
    if (frame->mOnCreated)
        return frame->mOnCreated(state);
    return true;
}

} // namespace Vexel
