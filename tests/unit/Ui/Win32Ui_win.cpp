// What the window-system layer promises on Windows alone: ids that are the system's own handles (so
// other code may call Windows with them), the self-drawn frame as the system sees it, per-pixel alpha
// read back from the screen, and menus, whose system loop runs inside the pump, driven from a timer.
//
// Run under Wine, this program leaves out (--gtest_filter=-...):
//   UiWebViewTest.*: the web view is built separately, and Wine has no browser engine to render pages;
//   UiControlTest.MenuBarAndPopupMenuSendTheirCommands: it clicks an open menu from the pump's own loop,
//   which a system menu holds inside its dispatch until it closes (MenusWorkWhileTheirSystemLoopRuns
//   below drives the same menus from a timer instead).
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"
#include "UiTestSupport.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <deque>
#include <functional>
#include <thread>

namespace Vexel::Ui
{
namespace
{
using Test::PumpPending;
using Test::PumpUntil;
using Test::PumpUntilPainted;
using Test::PumpUntilPixel;
using Test::Recorder;

HWND H(WindowId id)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id));
}

std::wstring ClassOf(WindowId id)
{
    wchar_t name[64] = {};
    GetClassNameW(H(id), name, 64);
    return name;
}

class UiWin32Test : public ::testing::Test
{
protected:
    void SetUp() override { VEXEL_REQUIRE_DISPLAY(); }
    void TearDown() override
    {
        for (WindowId w : GetTopLevelWindows())
            DestroyUiWindow(w);
    }

    WindowId Make(Recorder& r, int x, int y, int w, int h, _dword style = _WS_POPUP, _dword exStyle = 0)
    {
        WindowParams p;
        p.style = style;
        p.exStyle = exStyle;
        p.x = x;
        p.y = y;
        p.width = w;
        p.height = h;
        p.title = u"Win32 test";
        p.handler = r.Handler();
        return NewWindow(p);
    }

    void Click(int x, int y)
    {
        InjectMouseMove(x, y);
        InjectMouseButton(1, true);
        InjectMouseButton(1, false);
    }

    std::deque<Recorder> mRecorders;
};

TEST_F(UiWin32Test, IdsAreTheSystemsHandlesAndItsMessagesReachTheHandler)
{
    Recorder& r = mRecorders.emplace_back();
    String createdTitle;
    r.mHook = [&](WindowId, _dword m, WParam wp, LParam lp, LResult& result)
    {
        if (m == _WM_CREATE)
            createdTitle = reinterpret_cast<const WindowParams*>(lp)->title; // the parameters, as promised
        if (m != _WM_USER + 40)
            return false;
        result = static_cast<LResult>(wp) + lp;
        return true;
    };
    WindowId w = Make(r, 60, 60, 300, 200);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(createdTitle, String(u"Win32 test"));
    EXPECT_TRUE(IsWindow(H(w)));
    EXPECT_EQ(SendMessageW(H(w), WM_USER + 40, 40, 2), 42);
    EXPECT_TRUE(PostMessageW(H(w), WM_USER + 41, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_USER + 41) == 1; }));

    // Controls are the system's own classes; the title is the window's text.
    WindowId button = NewControl(ControlKind::PushButton, w, 5, u"Go", 0, 0, 60, 24);
    WindowId combo = NewControl(ControlKind::ComboBox, w, 6, u"", 0, 30, 100, 24);
    WindowId keys = NewControl(ControlKind::HotKeyBox, w, 7, u"", 0, 60, 100, 24);
    EXPECT_EQ(_wcsicmp(ClassOf(button).c_str(), L"Button"), 0);
    EXPECT_EQ(_wcsicmp(ClassOf(combo).c_str(), L"ComboBox"), 0);
    EXPECT_EQ(_wcsicmp(ClassOf(keys).c_str(), L"msctls_hotkey32"), 0);
    EXPECT_EQ(GetDlgCtrlID(H(combo)), 6);
    // A combo box's field and items take its font's height.
    ASSERT_TRUE(SetControlFont(combo, FontSpec{u"Arial", 22}));
    EXPECT_GE(SendMessageW(H(combo), CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0), 22); // plus its edge
    EXPECT_EQ(SendMessageW(H(combo), CB_GETITEMHEIGHT, 0, 0), 22);
    EXPECT_EQ(GetParent(H(button)), H(w));
    SetWindowTitle(w, u"Renamed \u00e9");
    wchar_t text[32] = {};
    GetWindowTextW(H(w), text, 32);
    EXPECT_STREQ(text, L"Renamed \u00e9");

    // A menu id is the menu's handle, and a menu bar is the window's menu.
    MenuId menu = NewMenu();
    AppendMenuItem(menu, 0, 9, u"Item");
    EXPECT_TRUE(IsMenu(reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(menu))));
    ASSERT_TRUE(SetWindowMenuBar(w, menu));
    EXPECT_EQ(GetMenu(H(w)), reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(menu)));

    // A window destroyed by the system (not through the layer) is forgotten all the same.
    EXPECT_TRUE(DestroyWindow(H(w)));
    EXPECT_FALSE(IsUiWindow(w));
    EXPECT_FALSE(IsUiWindow(button));
    EXPECT_EQ(r.Filtered({_WM_DESTROY, _WM_NCDESTROY}), (std::vector<_dword>{_WM_DESTROY, _WM_NCDESTROY}));
    EXPECT_TRUE(GetTopLevelWindows().empty());
}

TEST_F(UiWin32Test, AHandlerMayDestroyItsWindowWhileBeingMade)
{
    Recorder& r = mRecorders.emplace_back();
    r.mHook = [](WindowId w, _dword m, WParam, LParam, LResult&)
    {
        if (m == _WM_CREATE)
            DestroyUiWindow(w);
        return false;
    };
    EXPECT_EQ(Make(r, 10, 10, 50, 50), 0u);
    EXPECT_EQ(r.Count(_WM_DESTROY), 1);
    EXPECT_EQ(r.Count(_WM_NCDESTROY), 1);
    EXPECT_TRUE(GetTopLevelWindows().empty());
}

TEST_F(UiWin32Test, SelfDrawnFrameIsTheSystemsNonClientArea)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 100, 100, 300, 200, _WS_POPUP | _WS_CAPTION | _WS_THICKFRAME | _WS_SYSMENU);
    // A bare window: no caption of the system's, whatever the styles asked for.
    EXPECT_FALSE(GetWindowLongW(H(w), GWL_STYLE) & WS_DLGFRAME);
    EXPECT_EQ(GetWindowStyle(w) & _WS_CAPTION, _WS_CAPTION);
    ASSERT_TRUE(SetFrameInsets(w, Rect{3, 25, 3, 3}));
    RECT client;
    GetClientRect(H(w), &client);
    EXPECT_EQ(client.right, 294);
    EXPECT_EQ(client.bottom, 172);
    POINT origin{0, 0};
    ClientToScreen(H(w), &origin);
    EXPECT_EQ(origin.x, 103);
    EXPECT_EQ(origin.y, 125);
    // The system asks the window where the frame is, as it does for every pointer move.
    EXPECT_EQ(SendMessageW(H(w), WM_NCHITTEST, 0, MAKELPARAM(200, 110)), HTCAPTION);
    EXPECT_EQ(SendMessageW(H(w), WM_NCHITTEST, 0, MAKELPARAM(399, 299)), HTBOTTOMRIGHT);
    EXPECT_EQ(SendMessageW(H(w), WM_NCHITTEST, 0, MAKELPARAM(200, 200)), HTCLIENT);

    // The user cannot make it smaller than its minimum.
    ASSERT_TRUE(SetMinimumSize(w, 250, 150));
    MINMAXINFO info{};
    SendMessageW(H(w), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 250);
    EXPECT_EQ(info.ptMinTrackSize.y, 150);

    // Maximised, it covers the work area and no more.
    ShowUiWindow(w, _SW_MAXIMIZE);
    Rect bounds;
    Rect work;
    ASSERT_TRUE(GetWindowBounds(w, bounds));
    ASSERT_TRUE(GetWorkArea(w, work));
    EXPECT_EQ(bounds, work);
    ShowUiWindow(w, _SW_RESTORE);
    ASSERT_TRUE(GetWindowBounds(w, bounds));
    EXPECT_EQ(bounds, Rect::FromSize(100, 100, 300, 200));
}

TEST_F(UiWin32Test, IconCursorScreenAndHandOverToForeignPainting)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 100, 100, 120, 80);
    ShowUiWindow(w, _SW_SHOWNA);
    Canvas picture(16, 16);
    picture.Clear(0xFF00FF00);
    auto image = UiImage::FromCanvas(picture);
    ASSERT_TRUE(SetWindowIconImage(w, *image));
    EXPECT_NE(SendMessageW(H(w), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(H(w), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_TRUE(SetUiCursor(w, _IDC_HAND));
    EXPECT_FALSE(SetUiCursor(w, 12345));
    EXPECT_TRUE(FlashUiWindow(w));

    Size screen = GetScreenSize();
    EXPECT_EQ(screen.width, GetSystemMetrics(SM_CXSCREEN));
    Rect work;
    ASSERT_TRUE(GetWorkArea(w, work));
    EXPECT_FALSE(work.IsEmpty());
    EXPECT_LE(work.Width(), screen.width);

    // The handle handed out is the window itself; from then on the layer leaves its pixels alone.
    Canvas red(120, 80);
    red.Clear(0xFFFF0000);
    ASSERT_TRUE(PresentCanvas(w, red));
    Canvas shot;
    // The window is on screen before the other painter draws (under Wine a window not yet mapped keeps
    // nothing drawn into it).
    ASSERT_TRUE(PumpUntilPixel(w, shot, 60, 40, 0xFFFF0000u)) << std::hex << shot.GetPixel(60, 40);
    EXPECT_EQ(GetNativeWindowHandle(w), w);
    HDC dc = GetDC(H(w));
    RECT all{0, 0, 120, 80};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(dc, &all, blue);
    DeleteObject(blue);
    ReleaseDC(H(w), dc);
    InvalidateUiWindow(w);
    ASSERT_TRUE(UpdateUiWindow(w)); // the paint, now: it must not cover the other painter's pixels
    // Wine hands what was drawn into a window to the display server on its own schedule: wait for it.
    EXPECT_TRUE(PumpUntilPixel(w, shot, 60, 40, 0xFF0000FFu)) << std::hex << shot.GetPixel(60, 40);
    // Given back, the layer shows the kept picture again.
    ASSERT_TRUE(SetForeignPainting(w, false));
    EXPECT_TRUE(PumpUntilPixel(w, shot, 60, 40, 0xFFFF0000u)) << std::hex << shot.GetPixel(60, 40);
}

TEST_F(UiWin32Test, QuitFromAnotherThreadStillComesAfterEarlierPosts)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 10, 10, 50, 50);
    // The system's quit belongs to the thread that asks for it: another thread's must reach the pump's.
    PostUiMessage(w, _WM_USER + 1);
    std::thread other([] { PostQuit(5); });
    other.join();
    std::vector<_dword> seen;
    Message m;
    while (GetUiMessage(m))
    {
        if (m.message >= _WM_USER)
            seen.push_back(m.message);
        DispatchUiMessage(m);
    }
    EXPECT_EQ(m.wParam, 5u);
    EXPECT_EQ(seen, (std::vector<_dword>{_WM_USER + 1}));
    EXPECT_EQ(r.Count(_WM_USER + 1), 1);

    // Asked for while a message box runs its own loop: the box closes and the quit reaches the caller.
    int ticks = 0;
    r.mHook = [&](WindowId, _dword message, WParam wp, LParam, LResult&)
    {
        if (message != _WM_TIMER || wp != 2)
            return false;
        if (++ticks == 3)
            std::thread([] { PostQuit(4); }).join();
        if (ticks == 300)
            if (WindowId box = FindUiWindow(u"Threads"))
                SendUiMessage(box, _WM_COMMAND, _IDOK);
        return true;
    };
    SetUiTimer(w, 2, 20);
    EXPECT_EQ(ShowMessageBox(w, u"Waiting for a quit", u"Threads", _MB_OK), 0);
    KillUiTimer(w, 2);
    bool quit = false;
    for (int i = 0; i < 100 && !quit; ++i)
        quit = PeekUiMessage(m, true) && m.message == _WM_QUIT;
    ASSERT_TRUE(quit);
    EXPECT_EQ(m.wParam, 4u);
}

TEST_F(UiWin32Test, TranslationTellsWhetherAKeyMadeACharacter)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 10, 10, 50, 50);
    auto keyDown = [&](_dword key)
    {
        Message m;
        m.window = w;
        m.message = _WM_KEYDOWN;
        m.wParam = key;
        m.lParam = 1 | (static_cast<LParam>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16);
        return m;
    };
    // The pump takes a key's character before the next key (posted messages come before input).
    EXPECT_TRUE(TranslateUiMessage(keyDown('Q')));
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_CHAR) == 1; }));
    EXPECT_EQ(r.Last(_WM_CHAR)->wParam, WParam(u'q'));
    EXPECT_FALSE(TranslateUiMessage(keyDown(_VK_F1 + 1)));
    Message m;
    m.message = _WM_MOUSEMOVE;
    EXPECT_FALSE(TranslateUiMessage(m));
    ASSERT_TRUE(PumpPending());
    EXPECT_EQ(r.Count(_WM_CHAR), 1);
}

TEST_F(UiWin32Test, SystemDecodersReadBitmapsAndDrawUnclippedText)
{
    // A 2 x 1 bottom-up 24-bit BMP: blue then red, rows padded to four bytes.
    const _byte bmp[] = {'B', 'M', 62, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0,   0, 40, 0, 0, 0,   2, 0, 0,
                         0,   1,   0,  0, 0, 1, 0, 24, 0, 0, 0,  0, 0,   8, 0,  0, 0, 0,   0, 0, 0,
                         0,   0,   0,  0, 0, 0, 0, 0,  0, 0, 0,  0, 255, 0, 0,  0, 0, 255, 0, 0};
    auto image = UiImage::Decode(bmp, sizeof(bmp));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 2);
    EXPECT_EQ(image->Height(), 1);
    EXPECT_EQ(image->PixelAt(0, 0), 0xFF0000FFu);
    EXPECT_EQ(image->PixelAt(1, 0), 0xFFFF0000u);
    EXPECT_EQ(image->FrameDelay(0), 0u);

    // Without clipping the text runs past its rectangle; the canvas still bounds it.
    Canvas canvas(200, 40);
    FontSpec font{u"Arial", 20};
    canvas.DrawString(u"Wide text beyond", {0, 0, 20, 40}, font, 0xFFFFFFFF, _DT_LEFT | _DT_NOCLIP);
    bool beyond = false;
    for (int x = 40; x < 200 && !beyond; ++x)
        for (int y = 0; y < 40 && !beyond; ++y)
            beyond = (canvas.GetPixel(x, y) >> 24) != 0;
    EXPECT_TRUE(beyond);
}

TEST_F(UiWin32Test, PixelsPresentedWhileMinimisedShowOnRestore)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 100, 100, 120, 80, _WS_POPUP | _WS_MINIMIZEBOX);
    SetFrameInsets(w, Rect{2, 10, 2, 2});
    ShowUiWindow(w, _SW_SHOW);
    Canvas red(116, 68);
    red.Clear(0xFFFF0000);
    ASSERT_TRUE(PresentCanvas(w, red));
    ShowUiWindow(w, _SW_MINIMIZE);
    ASSERT_TRUE(IsUiWindowMinimized(w));
    Canvas green(116, 68);
    green.Clear(0xFF00FF00);
    ASSERT_TRUE(PresentCanvas(w, green));
    ShowUiWindow(w, _SW_RESTORE);
    Canvas shot;
    EXPECT_TRUE(PumpUntilPixel(w, shot, 2 + 50, 10 + 30, 0xFF00FF00u)) << std::hex << shot.GetPixel(52, 40);
    EXPECT_EQ(shot.Width(), 120);
}

TEST_F(UiWin32Test, RegionsAreTheWindowsOwnAndClientCanvasesStayInTheClientArea)
{
    Recorder& back = mRecorders.emplace_back();
    WindowId under = Make(back, 300, 300, 200, 200);
    ShowUiWindow(under, _SW_SHOWNA);
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 300, 300, 200, 200);
    ShowUiWindow(w, _SW_SHOWNA);
    ASSERT_TRUE(SetWindowRegion(w, {{0, 0, 50, 50}, {100, 100, 150, 150}}));
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetWindowRgn(H(w), region), COMPLEXREGION);
    EXPECT_TRUE(PtInRegion(region, 120, 120));
    EXPECT_FALSE(PtInRegion(region, 75, 75));
    // A valid block with no rectangle hides the whole window: the one behind shows there.
    auto empty = ::Vexel::Test::RegionBlock({});
    ASSERT_TRUE(SetWindowRegionData(w, empty.data(), empty.size()));
    EXPECT_EQ(GetWindowRgn(H(w), region), NULLREGION);
    EXPECT_EQ(WindowFromPoint(POINT{320, 320}), H(under));
    ASSERT_TRUE(SetWindowRegion(w, {}));
    EXPECT_EQ(GetWindowRgn(H(w), region), ERROR); // no region at all
    EXPECT_EQ(WindowFromPoint(POINT{320, 320}), H(w));
    DeleteObject(region);

    // A client canvas hanging over the client's edges never paints the frame.
    SetFrameInsets(w, Rect{10, 10, 10, 10});
    Canvas frame(200, 200);
    frame.Clear(0xFF404040);
    ASSERT_TRUE(PresentWindowCanvas(w, frame));
    Canvas client(400, 400);
    client.Clear(0xFFFFFF00);
    ASSERT_TRUE(PresentCanvas(w, client, -50, -50));
    Canvas shot;
    ASSERT_TRUE(PumpUntilPixel(w, shot, 10, 10, 0xFFFFFF00u));
    EXPECT_EQ(shot.GetPixel(5, 5), 0xFF404040u);
    EXPECT_EQ(shot.GetPixel(195, 100), 0xFF404040u);
    EXPECT_EQ(shot.GetPixel(10, 10), 0xFFFFFF00u);
    EXPECT_EQ(shot.GetPixel(189, 189), 0xFFFFFF00u);
}

TEST_F(UiWin32Test, PostsFromManyThreadsKeepEachThreadsOrder)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 10, 10, 50, 50);
    constexpr int _THREADS = 4;
    constexpr int _EACH = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < _THREADS; ++t)
        threads.emplace_back(
            [w, t]
            {
                for (int i = 0; i < _EACH; ++i)
                    PostUiMessage(w, _WM_USER + 50, static_cast<WParam>(t), i);
            });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_USER + 50) == _THREADS * _EACH; }));
    std::vector<LParam> next(_THREADS, 0);
    for (const auto& m : r.mLog)
        if (m.message == _WM_USER + 50)
        {
            ASSERT_EQ(m.lParam, next[m.wParam]) << "thread " << m.wParam;
            ++next[m.wParam];
        }
}

TEST_F(UiWin32Test, LayeredWindowShowsItsAlphaOverTheWindowBehind)
{
    Recorder& back = mRecorders.emplace_back();
    WindowId under = Make(back, 200, 200, 200, 100);
    Canvas blue(200, 100);
    blue.Clear(0xFF0000FF);
    ShowUiWindow(under, _SW_SHOWNA);
    ASSERT_TRUE(PresentWindowCanvas(under, blue));
    Recorder& front = mRecorders.emplace_back();
    WindowId over = Make(front, 200, 200, 200, 100, _WS_POPUP, _WS_EX_LAYERED);
    ShowUiWindow(over, _SW_SHOWNA);
    Canvas canvas(200, 100);
    canvas.SetRect({0, 0, 100, 100}, 0xFFFF0000);   // opaque red
    canvas.SetRect({100, 0, 200, 100}, 0x80FF0000); // half red
    ASSERT_TRUE(PresentWindowCanvas(over, canvas));

    auto similar = [](_dword a, _dword b)
    {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8)
                return false;
        return true;
    };
    Canvas shot;
    EXPECT_TRUE(PumpUntilPainted(over, shot,
                                 [&](const Canvas& c) { return similar(c.GetPixel(50, 50), 0xFFFF0000); }))
        << std::hex << shot.GetPixel(50, 50);
    _dword half = shot.GetPixel(150, 50);
    // Wine on an X server without a compositor shows the premultiplied pixels without blending them
    // over what lies behind: there the blue of the window behind cannot show.
    bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_TRUE(similar(half & (wine ? 0xFFFFFF00u : 0xFFFFFFFFu), wine ? 0xFF800000 : 0xFF80007F))
        << std::hex << half;
}

TEST_F(UiWin32Test, MenusWorkWhileTheirSystemLoopRuns)
{
    Recorder& r = mRecorders.emplace_back();
    WindowId w = Make(r, 100, 100, 400, 300);
    MenuId bar = NewMenu();
    MenuId game = NewMenu();
    AppendMenuItem(game, 0, 1001, u"Refresh");
    AppendMenuItem(game, 0, 1002, u"Settings");
    AppendSubMenu(bar, game, u"Game");
    ASSERT_TRUE(SetWindowMenuBar(w, bar));
    ShowUiWindow(w, _SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == w; }));
    Rect gameItem;
    ASSERT_TRUE(GetMenuItemBounds(bar, 0, gameItem));
    // The bar lies along the top of the bare window, outside the client area.
    EXPECT_GE(gameItem.top, 100);
    EXPECT_LE(gameItem.top, 102);
    Point client{0, 0};
    ClientToScreenPoint(w, client);
    EXPECT_GE(client.y, gameItem.bottom);

    // The open menu's loop runs inside the dispatch of the click: a timer (which that loop keeps
    // dispatching) picks the item once the menu shows, and gives up after a while so a fault fails.
    int ticks = 0;
    MenuId waitingFor = game;
    _dword index = 1;
    r.mHook = [&](WindowId, _dword m, WParam wp, LParam, LResult&)
    {
        if (m != _WM_TIMER || wp != 3)
            return false;
        Rect item;
        if (waitingFor && GetMenuItemBounds(waitingFor, index, item))
        {
            waitingFor = 0;
            Click(item.left + 10, item.top + item.Height() / 2);
        }
        if (++ticks == 400)
            SendMessageW(H(w), WM_CANCELMODE, 0, 0);
        return true;
    };
    ASSERT_TRUE(SetUiTimer(w, 3, 20));
    Click(gameItem.left + 5, gameItem.top + 5);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_COMMAND) >= 1; }));
    EXPECT_EQ(LowWord(r.Last(_WM_COMMAND)->wParam), 1002);

    MenuId popup = NewMenu();
    AppendMenuItem(popup, 0, 77, u"Open page");
    AppendMenuItem(popup, _MF_CHECKED, 78, u"Sound");
    waitingFor = popup;
    index = 0;
    ASSERT_TRUE(PopupMenuAt(popup, w, 250, 250)); // returns before the menu shows
    EXPECT_FALSE(GetMenuItemBounds(popup, 0, gameItem));
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_COMMAND) >= 2; }));
    EXPECT_EQ(LowWord(r.Last(_WM_COMMAND)->wParam), 77);
    KillUiTimer(w, 3);
    EXPECT_TRUE(DeleteUiMenu(popup));
}

} // namespace
} // namespace Vexel::Ui
