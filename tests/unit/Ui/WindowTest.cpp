// Windows and messages of the window-system layer on a real display: creation and destruction order,
// the queue and pump, timers, painting, show commands, geometry, activation, focus and input.
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

namespace Vexel::Ui
{
namespace
{
using Test::PumpPending;
using Test::PumpUntil;
using Test::Recorder;

class UiWindowTest : public ::testing::Test
{
protected:
    void SetUp() override { VEXEL_REQUIRE_DISPLAY(); }
    void TearDown() override
    {
        for (WindowId w : GetTopLevelWindows())
            DestroyUiWindow(w);
        Message m;
        while (PeekUiMessage(m, true))
        {
        }
    }

    Recorder& Rec() { return mRecorders.emplace_back(); }
    std::deque<Recorder> mRecorders; // outlive the windows, which TearDown destroys

    WindowId MakeTop(Recorder& recorder, int x = 100, int y = 100, int w = 200, int h = 150,
                     _dword style = _WS_POPUP, _dword exStyle = 0, WindowId owner = 0)
    {
        WindowParams p;
        p.style = style;
        p.exStyle = exStyle;
        p.x = x;
        p.y = y;
        p.width = w;
        p.height = h;
        p.parent = owner;
        p.title = u"Test window";
        p.handler = recorder.Handler();
        return NewWindow(p);
    }
};

TEST_F(UiWindowTest, CreationSendsCreateThenSizeAndMoveAndCanBeRefused)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r, 120, 80, 300, 200);
    ASSERT_NE(w, 0u);
    ASSERT_GE(r.mLog.size(), 3u);
    EXPECT_EQ(r.mLog[0].message, _WM_CREATE);
    EXPECT_EQ(r.mLog[1].message, _WM_SIZE);
    EXPECT_EQ(PointX(r.mLog[1].lParam), 300);
    EXPECT_EQ(PointY(r.mLog[1].lParam), 200);
    EXPECT_EQ(r.mLog[2].message, _WM_MOVE);
    EXPECT_EQ(PointX(r.mLog[2].lParam), 120);
    EXPECT_EQ(PointY(r.mLog[2].lParam), 80);

    Recorder& refusing = Rec();
    refusing.mHook = [](WindowId, _dword m, WParam, LParam, LResult& result)
    {
        if (m != _WM_CREATE)
            return false;
        result = -1;
        return true;
    };
    EXPECT_EQ(MakeTop(refusing), 0u);
    EXPECT_EQ(refusing.Filtered({_WM_CREATE, _WM_DESTROY, _WM_NCDESTROY}),
              (std::vector<_dword>{_WM_CREATE, _WM_DESTROY, _WM_NCDESTROY}));
}

TEST_F(UiWindowTest, PostedMessagesKeepTheirOrderAndSentOnesArriveAtOnce)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    r.mLog.clear();
    EXPECT_TRUE(PostUiMessage(w, _WM_USER + 1, 10, 20));
    EXPECT_TRUE(PostUiMessage(w, _WM_USER + 2));
    EXPECT_TRUE(PostUiMessage(0, _WM_USER + 9)); // a thread message
    EXPECT_TRUE(PostUiMessage(w, _WM_USER + 3));
    r.mHook = [](WindowId, _dword m, WParam wp, LParam, LResult& result)
    {
        if (m != _WM_USER + 5)
            return false;
        result = static_cast<LResult>(wp * 2);
        return true;
    };
    EXPECT_EQ(SendUiMessage(w, _WM_USER + 5, 21), 42);
    ASSERT_EQ(r.mLog.size(), 1u);

    std::vector<Message> taken;
    ASSERT_TRUE(PumpUntil(
        [&]
        {
            Message m;
            while (PeekUiMessage(m, true))
            {
                if (m.message >= _WM_USER)
                    taken.push_back(m);
                DispatchUiMessage(m);
            }
            return taken.size() == 4;
        }));
    EXPECT_EQ(taken[0].message, _WM_USER + 1);
    EXPECT_EQ(taken[0].wParam, 10u);
    EXPECT_EQ(taken[0].lParam, 20);
    EXPECT_EQ(taken[1].message, _WM_USER + 2);
    EXPECT_EQ(taken[2].message, _WM_USER + 9);
    EXPECT_EQ(taken[2].window, 0u);
    EXPECT_EQ(taken[3].message, _WM_USER + 3);
    EXPECT_EQ(r.Filtered({_WM_USER + 1, _WM_USER + 2, _WM_USER + 3, _WM_USER + 5, _WM_USER + 9}),
              (std::vector<_dword>{_WM_USER + 5, _WM_USER + 1, _WM_USER + 2, _WM_USER + 3}));
}

TEST_F(UiWindowTest, MessagesForAGoneWindowAreDroppedAndRefused)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    PostUiMessage(w, _WM_USER + 1);
    DestroyUiWindow(w);
    EXPECT_FALSE(IsUiWindow(w));
    EXPECT_FALSE(PostUiMessage(w, _WM_USER + 2));
    EXPECT_EQ(SendUiMessage(w, _WM_USER + 3), 0);
    ASSERT_TRUE(PumpPending());
    EXPECT_EQ(r.Count(_WM_USER + 1), 0);
    EXPECT_EQ(r.Count(_WM_USER + 3), 0);
}

TEST_F(UiWindowTest, QuitComesAfterPostedMessagesWithItsCode)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    PostUiMessage(w, _WM_USER + 1);
    PostQuit(7);
    PostUiMessage(w, _WM_USER + 2);
    std::vector<_dword> order;
    Message m;
    while (GetUiMessage(m))
        if (m.message >= _WM_USER)
            order.push_back(m.message);
    EXPECT_EQ(order, (std::vector<_dword>{_WM_USER + 1, _WM_USER + 2}));
    EXPECT_EQ(m.message, _WM_QUIT);
    EXPECT_EQ(m.wParam, 7u);
    // Taken once: the queue is clear again.
    EXPECT_FALSE(PeekUiMessage(m, false) && m.message == _WM_QUIT);
}

TEST_F(UiWindowTest, WaitWakesForAPostFromAnotherThreadAndOtherwiseTimesOut)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    ASSERT_TRUE(PumpPending());
    Message m;
    // Wine's display driver may still send the new window an event after the round trip, which ends a
    // wait; once such events are handled, a wait with nothing to come times out.
    bool timedOut = false;
    for (int i = 0; i < 50 && !timedOut; ++i)
    {
        timedOut = !WaitUiMessage(30);
        while (!timedOut && PeekUiMessage(m, true))
            DispatchUiMessage(m);
    }
    EXPECT_TRUE(timedOut);

    // The poster posts once this thread is about to wait (or already waits). A wait that missed the
    // post would last its whole 10 s: the post must end it well before.
    std::atomic<bool> waiting{false};
    std::thread poster(
        [w, &waiting]
        {
            while (!waiting)
                std::this_thread::yield();
            PostUiMessage(w, _WM_USER + 7, 1, 2);
        });
    auto start = std::chrono::steady_clock::now();
    waiting = true;
    bool arrived = false;
    // Other events of the display may end a wait first: wait again until the post is there.
    while (!arrived && WaitUiMessage(10000))
        while (!arrived && PeekUiMessage(m, true))
            arrived = m.message == _WM_USER + 7;
    auto waited = std::chrono::steady_clock::now() - start;
    poster.join();
    EXPECT_TRUE(arrived);
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(UiWindowTest, DestroyGoesToTheWindowThenItsChildrenAndOwnedWindows)
{
    std::vector<std::pair<WindowId, _dword>> order;
    auto handler = [&](WindowId w, _dword m, WParam wp, LParam lp) -> LResult
    {
        if (m == _WM_DESTROY || m == _WM_NCDESTROY)
            order.push_back({w, m});
        return DefaultHandler(w, m, wp, lp);
    };
    WindowParams p;
    p.style = _WS_POPUP;
    p.width = 200;
    p.height = 200;
    p.handler = handler;
    WindowId parent = NewWindow(p);
    p.style = _WS_CHILD | _WS_VISIBLE;
    p.parent = parent;
    p.width = 50;
    p.height = 50;
    WindowId child = NewWindow(p);
    p.style = _WS_POPUP;
    WindowId owned = NewWindow(p);
    ASSERT_NE(child, 0u);
    ASSERT_NE(owned, 0u);
    EXPECT_EQ(GetParentWindow(child), parent);
    EXPECT_EQ(GetOwnerWindow(owned), parent);
    EXPECT_EQ(GetTopLevelWindow(child), parent);

    EXPECT_TRUE(DestroyUiWindow(parent));
    EXPECT_FALSE(IsUiWindow(child));
    EXPECT_FALSE(IsUiWindow(owned));
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(order.front(), std::make_pair(parent, _WM_DESTROY));
    EXPECT_EQ(order.back(), std::make_pair(parent, _WM_NCDESTROY));
}

TEST_F(UiWindowTest, CloseDestroysByDefaultUnlessTheHandlerKeepsIt)
{
    Recorder& keep = Rec();
    keep.mHook = [](WindowId, _dword m, WParam, LParam, LResult&) { return m == _WM_CLOSE; };
    WindowId kept = MakeTop(keep);
    SendUiMessage(kept, _WM_CLOSE);
    EXPECT_TRUE(IsUiWindow(kept));

    Recorder& plain = Rec();
    WindowId closed = MakeTop(plain);
    SendUiMessage(closed, _WM_SYSCOMMAND, _SC_CLOSE);
    EXPECT_FALSE(IsUiWindow(closed));
    EXPECT_EQ(plain.Filtered({_WM_CLOSE, _WM_DESTROY}), (std::vector<_dword>{_WM_CLOSE, _WM_DESTROY}));
}

TEST_F(UiWindowTest, TimersTickUntilKilledAndNeverPileUp)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    ASSERT_TRUE(SetUiTimer(w, 5, 10));
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_TIMER) >= 3; }));
    EXPECT_EQ(r.Last(_WM_TIMER)->wParam, 5u);

    // Not pumped for a while: one timer message waits, not one per interval.
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    int timers = 0;
    Message m;
    for (int i = 0; i < 200 && PeekUiMessage(m, true); ++i)
        if (m.message == _WM_TIMER && m.window == w)
            ++timers;
    EXPECT_LE(timers, 2);

    ASSERT_TRUE(KillUiTimer(w, 5));
    EXPECT_FALSE(KillUiTimer(w, 5));
    auto ticksOf = [&](WParam id)
    {
        return std::count_if(r.mLog.begin(), r.mLog.end(),
                             [&](const auto& m) { return m.message == _WM_TIMER && m.wParam == id; });
    };
    auto killedTicks = ticksOf(5);
    // Another timer of the same interval ticks meanwhile: the killed one had its chances.
    ASSERT_TRUE(SetUiTimer(w, 6, 10));
    ASSERT_TRUE(PumpUntil([&] { return ticksOf(6) >= 3; }));
    EXPECT_EQ(ticksOf(5), killedTicks);
    ASSERT_TRUE(KillUiTimer(w, 6));
    EXPECT_FALSE(SetUiTimer(0xFFFFFFF0u, 1, 10));
}

TEST_F(UiWindowTest, PaintComesAfterPostedMessagesAndOnlyWhileInvalid)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    PostUiMessage(w, _WM_USER + 1);
    ShowUiWindow(w, _SW_SHOWNA);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_PAINT) >= 1; }));
    EXPECT_EQ(r.Filtered({_WM_USER + 1, _WM_PAINT}).front(), _WM_USER + 1);
    ASSERT_TRUE(PumpPending());
    int painted = r.Count(_WM_PAINT);
    EXPECT_EQ(painted, 1);

    InvalidateUiWindow(w);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_PAINT) == painted + 1; }));
    InvalidateUiWindow(w);
    EXPECT_TRUE(UpdateUiWindow(w));
    EXPECT_EQ(r.Count(_WM_PAINT), painted + 2);

    // Hidden windows are not painted.
    ShowUiWindow(w, _SW_HIDE);
    InvalidateUiWindow(w);
    ASSERT_TRUE(PumpPending());
    EXPECT_EQ(r.Count(_WM_PAINT), painted + 2);
}

TEST_F(UiWindowTest, ShowCommandsTrackVisibilityAndPlacement)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r, 50, 50, 200, 100, _WS_POPUP | _WS_MINIMIZEBOX | _WS_MAXIMIZEBOX);
    EXPECT_FALSE(IsUiWindowVisible(w));
    EXPECT_FALSE(ShowUiWindow(w, _SW_SHOW));
    EXPECT_TRUE(IsUiWindowVisible(w));
    EXPECT_TRUE(GetWindowStyle(w) & _WS_VISIBLE);
    EXPECT_TRUE(ShowUiWindow(w, _SW_SHOW));

    ShowUiWindow(w, _SW_MINIMIZE);
    EXPECT_TRUE(IsUiWindowMinimized(w));
    EXPECT_TRUE(IsUiWindowVisible(w));
    ASSERT_NE(r.Last(_WM_SIZE), nullptr);
    EXPECT_EQ(r.Last(_WM_SIZE)->wParam, _SIZE_MINIMIZED);

    ShowUiWindow(w, _SW_RESTORE);
    EXPECT_FALSE(IsUiWindowMinimized(w));
    EXPECT_FALSE(IsUiWindowMaximized(w));

    ShowUiWindow(w, _SW_MAXIMIZE);
    EXPECT_TRUE(IsUiWindowMaximized(w));
    EXPECT_EQ(r.Last(_WM_SIZE)->wParam, _SIZE_MAXIMIZED);
    ShowUiWindow(w, _SW_MINIMIZE);
    ShowUiWindow(w, _SW_RESTORE);
    EXPECT_TRUE(IsUiWindowMaximized(w)); // restored to where it was before minimising
    SendUiMessage(w, _WM_SYSCOMMAND, _SC_RESTORE);
    EXPECT_FALSE(IsUiWindowMaximized(w));

    EXPECT_TRUE(ShowUiWindow(w, _SW_HIDE));
    EXPECT_FALSE(IsUiWindowVisible(w));
    EXPECT_EQ(r.Filtered({_WM_SHOWWINDOW}).size(), 2u);

    // A child is visible only while its parent is.
    WindowParams p;
    p.style = _WS_CHILD | _WS_VISIBLE;
    p.parent = w;
    p.width = 10;
    p.height = 10;
    WindowId child = NewWindow(p);
    EXPECT_FALSE(IsUiWindowVisible(child));
    ShowUiWindow(w, _SW_SHOWNA);
    EXPECT_TRUE(IsUiWindowVisible(child));
}

TEST_F(UiWindowTest, GeometryOfTopLevelAndChildWindowsWithFrameInsets)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r, 100, 100, 400, 300, _WS_POPUP | _WS_THICKFRAME);
    ShowUiWindow(w, _SW_SHOWNA);
    ASSERT_TRUE(MoveUiWindow(w, 150, 120, 420, 320));
    Rect bounds;
    ASSERT_TRUE(GetWindowBounds(w, bounds));
    EXPECT_EQ(bounds, Rect::FromSize(150, 120, 420, 320));
    EXPECT_EQ(PointX(r.Last(_WM_SIZE)->lParam), 420);
    EXPECT_EQ(PointX(r.Last(_WM_MOVE)->lParam), 150);

    ASSERT_TRUE(SetFrameInsets(w, Rect{4, 30, 4, 4}));
    Rect client;
    ASSERT_TRUE(GetClientBounds(w, client));
    EXPECT_EQ(client, (Rect{0, 0, 412, 286}));
    Point p{0, 0};
    ClientToScreenPoint(w, p);
    EXPECT_EQ(p.x, 154);
    EXPECT_EQ(p.y, 150);

    auto hit = [&](int x, int y) { return SendUiMessage(w, _WM_NCHITTEST, 0, MakeLParam(x, y)); };
    EXPECT_EQ(hit(300, 200), _HTCLIENT);
    EXPECT_EQ(hit(300, 130), _HTCAPTION);
    EXPECT_EQ(hit(151, 300), _HTLEFT);
    EXPECT_EQ(hit(569, 439), _HTBOTTOMRIGHT);
    EXPECT_EQ(hit(10, 10), _HTNOWHERE);

    // A child lies in its parent's client area, below the frame.
    WindowParams cp;
    cp.style = _WS_CHILD | _WS_VISIBLE;
    cp.parent = w;
    cp.x = 10;
    cp.y = 20;
    cp.width = 100;
    cp.height = 50;
    WindowId child = NewWindow(cp);
    Rect childBounds;
    ASSERT_TRUE(GetWindowBounds(child, childBounds));
    EXPECT_EQ(childBounds, Rect::FromSize(164, 170, 100, 50));
    Point q{165, 171};
    ScreenToClientPoint(child, q);
    EXPECT_EQ(q.x, 1);
    EXPECT_EQ(q.y, 1);
    EXPECT_FALSE(MoveUiWindow(0x7FFFFFF0u, 0, 0, 1, 1));
}

TEST_F(UiWindowTest, TitleTopmostAndFinding)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r);
    EXPECT_TRUE(SetWindowTitle(w, u"Vexel \u6e38\u620f"));
    EXPECT_EQ(GetWindowTitle(w), String(u"Vexel \u6e38\u620f"));
    EXPECT_EQ(FindUiWindow(u"Vexel \u6e38\u620f"), w);
    EXPECT_EQ(FindUiWindow(u"vexel \u6e38\u620f"), 0u);
    EXPECT_TRUE(SetTopmost(w, true));
    EXPECT_TRUE(GetWindowExStyle(w) & _WS_EX_TOPMOST);
    EXPECT_TRUE(SetTopmost(w, false));
    EXPECT_FALSE(GetWindowExStyle(w) & _WS_EX_TOPMOST);
}

TEST_F(UiWindowTest, ActivationAndFocusFollowTheWindows)
{
    Recorder& ra = Rec();
    Recorder& rb = Rec();
    WindowId a = MakeTop(ra, 50, 50, 200, 150);
    WindowId b = MakeTop(rb, 300, 50, 200, 150);
    ShowUiWindow(a, _SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == a; }));
    EXPECT_EQ(GetFocusUiWindow(), a);
    EXPECT_EQ(ra.Filtered({_WM_NCACTIVATE, _WM_ACTIVATE, _WM_SETFOCUS}),
              (std::vector<_dword>{_WM_NCACTIVATE, _WM_ACTIVATE, _WM_SETFOCUS}));
    EXPECT_EQ(ra.Last(_WM_ACTIVATE)->wParam, _WA_ACTIVE);

    ShowUiWindow(b, _SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == b; }));
    EXPECT_EQ(ra.Last(_WM_ACTIVATE)->wParam, _WA_INACTIVE);
    EXPECT_GE(ra.Count(_WM_KILLFOCUS), 1);

    EXPECT_TRUE(SetForegroundUiWindow(a));
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == a; }));

    WindowParams cp;
    cp.style = _WS_CHILD | _WS_VISIBLE;
    cp.parent = b;
    cp.width = 50;
    cp.height = 50;
    Recorder& rc = Rec();
    cp.handler = rc.Handler();
    WindowId child = NewWindow(cp);
    SetFocusUiWindow(child);
    ASSERT_TRUE(PumpUntil([&] { return GetFocusUiWindow() == child; }));
    EXPECT_EQ(GetForegroundUiWindow(), b);
    EXPECT_GE(rc.Count(_WM_SETFOCUS), 1);
}

TEST_F(UiWindowTest, MouseInputArrivesInClientCoordinatesWithDoubleClicksAndHitTests)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r, 200, 200, 300, 200, _WS_POPUP);
    SetFrameInsets(w, Rect{0, 20, 0, 0});
    ShowUiWindow(w, _SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundUiWindow() == w; }));

    ASSERT_TRUE(InjectMouseMove(250, 260));
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_MOUSEMOVE) >= 1; }));
    EXPECT_EQ(PointX(r.Last(_WM_MOUSEMOVE)->lParam), 50);
    EXPECT_EQ(PointY(r.Last(_WM_MOUSEMOVE)->lParam), 40);

    InjectMouseButton(1, true);
    InjectMouseButton(1, false);
    InjectMouseButton(1, true);
    InjectMouseButton(1, false);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_LBUTTONUP) >= 2; }));
    EXPECT_EQ(r.Filtered({_WM_LBUTTONDOWN, _WM_LBUTTONUP, _WM_LBUTTONDBLCLK}),
              (std::vector<_dword>{_WM_LBUTTONDOWN, _WM_LBUTTONUP, _WM_LBUTTONDBLCLK, _WM_LBUTTONUP}));
    EXPECT_TRUE(r.Last(_WM_LBUTTONDOWN)->wParam & _MK_LBUTTON);

    // Over the frame's top inset the default hit test answers caption: non-client messages.
    r.mLog.clear();
    InjectMouseMove(260, 210);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_NCMOUSEMOVE) >= 1; }));
    EXPECT_EQ(r.Last(_WM_NCMOUSEMOVE)->wParam, static_cast<WParam>(_HTCAPTION));
    EXPECT_EQ(r.Count(_WM_MOUSELEAVE), 1);
    InjectMouseButton(3, true);
    InjectMouseButton(3, false);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_NCRBUTTONUP) >= 1; }));
    EXPECT_EQ(PointX(r.Last(_WM_NCRBUTTONUP)->lParam), 260);

    // A handler's hit test decides: the client area answered as caption.
    r.mHook = [](WindowId, _dword m, WParam, LParam, LResult& result)
    {
        if (m != _WM_NCHITTEST)
            return false;
        result = _HTCAPTION;
        return true;
    };
    r.mLog.clear();
    InjectMouseMove(300, 300);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_NCMOUSEMOVE) >= 1; }));
    EXPECT_EQ(r.Count(_WM_MOUSEMOVE), 0);
    r.mHook = nullptr;
    InjectMouseMove(800, 800);
    ASSERT_TRUE(PumpUntil([&] { return r.Count(_WM_NCMOUSELEAVE) >= 1; }));
}

TEST_F(UiWindowTest, KeysGiveVirtualKeyCodesAndTranslatedCharacters)
{
    Recorder& r = Rec();
    WindowId w = MakeTop(r, 100, 100, 200, 100);
    ShowUiWindow(w, _SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return GetFocusUiWindow() == w; }));

    InjectKey('A', true);
    InjectKey('A', false);
    InjectKey(_VK_SHIFT, true);
    InjectKey('1', true);
    InjectKey('1', false);
    InjectKey(_VK_SHIFT, false);
    InjectKey((_VK_F1 + 4), true);
    InjectKey((_VK_F1 + 4), false);
    // The last key's release ends the sequence.
    ASSERT_TRUE(PumpUntil(
        [&]
        {
            const auto* up = r.Last(_WM_KEYUP);
            return up && up->wParam == WParam(_VK_F1 + 4);
        }));

    // A release of a key pressed for an earlier window (a dialog closed by Enter, say) may still
    // reach this one first: the sequence starts at the first press.
    std::vector<_dword> order;
    std::vector<WParam> downs;
    std::vector<WParam> chars;
    for (const auto& m : r.mLog)
    {
        if (m.message == _WM_KEYDOWN)
            downs.push_back(m.wParam);
        if (downs.empty())
            continue;
        if (m.message == _WM_CHAR)
            chars.push_back(m.wParam);
        if (m.message == _WM_KEYDOWN || m.message == _WM_CHAR || m.message == _WM_KEYUP)
            order.push_back(m.message);
    }
    EXPECT_EQ(downs, (std::vector<WParam>{WParam(u'A'), _VK_SHIFT, WParam(u'1'), _VK_F1 + 4}));
    EXPECT_EQ(chars, (std::vector<WParam>{WParam(u'a'), WParam(u'!')}));
    // The character comes between its key's down and up.
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], _WM_KEYDOWN);
    EXPECT_EQ(order[1], _WM_CHAR);
    EXPECT_EQ(order[2], _WM_KEYUP);
    EXPECT_TRUE(static_cast<_dword>(r.Last(_WM_KEYUP)->lParam) & (1u << 31));
}

TEST_F(UiWindowTest, ReparentingTurnsAChildIntoATopLevelWindowAndBack)
{
    Recorder& r = Rec();
    WindowId frame = MakeTop(r, 100, 100, 300, 300);
    WindowParams p;
    p.style = _WS_CHILD | _WS_VISIBLE;
    p.parent = frame;
    p.x = 10;
    p.y = 10;
    p.width = 100;
    p.height = 80;
    WindowId page = NewWindow(p);
    ASSERT_TRUE(ReparentWindow(page, 0, _WS_POPUP | _WS_VISIBLE, _WS_EX_TOOLWINDOW, 500, 400));
    EXPECT_EQ(GetParentWindow(page), 0u);
    EXPECT_EQ(GetTopLevelWindow(page), page);
    Rect bounds;
    GetWindowBounds(page, bounds);
    EXPECT_EQ(bounds, Rect::FromSize(500, 400, 100, 80));
    EXPECT_TRUE(IsUiWindowVisible(page));

    ASSERT_TRUE(ReparentWindow(page, frame, _WS_CHILD | _WS_VISIBLE, 0, 5, 6));
    EXPECT_EQ(GetParentWindow(page), frame);
    EXPECT_FALSE(ReparentWindow(frame, page, _WS_CHILD, 0, 0, 0)); // a window inside itself
    DestroyUiWindow(frame);
    EXPECT_FALSE(IsUiWindow(page));
}

} // namespace
} // namespace Vexel::Ui
