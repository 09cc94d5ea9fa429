// The message queue and pump of the GTK backend. GTK's own main context runs inside PeekUiMessage and
// WaitUiMessage; its signals turn into queued or sent messages (UiWindows.cpp). Posted messages and input
// share one queue so that their order holds; paint and timer messages are made only when it is empty.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include "Common/Assert.h"

namespace Vexel::Ui::Gtk
{

void WakeUp()
{
    if (State().mAvailable)
        g_main_context_wakeup(nullptr);
}

void QueueMessage(const Message& message, bool front)
{
    auto& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mQueueLock);
        if (front)
            state.mQueue.push_front(message);
        else
            state.mQueue.push_back(message);
    }
    WakeUp();
}

void QueueMouseMove(const Message& message)
{
    auto& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mQueueLock);
        if (!state.mQueue.empty())
        {
            Message& last = state.mQueue.back();
            if (last.window == message.window && last.message == message.message &&
                last.wParam == message.wParam)
            {
                last = message;
                return;
            }
        }
        state.mQueue.push_back(message);
    }
    WakeUp();
}

// Runs what GTK has ready, without waiting; bounded so that a busy source cannot hold the pump.
static void RunPendingEvents()
{
    for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i)
    {
    }
}

static bool TakePosted(Message& message, bool remove)
{
    auto& state = State();
    std::lock_guard<std::mutex> lock(state.mQueueLock);
    while (!state.mQueue.empty())
    {
        Message& front = state.mQueue.front();
        if (front.window != 0 && !FindRecord(front.window))
        {
            state.mQueue.pop_front(); // its window is gone
            continue;
        }
        message = front;
        if (remove)
            state.mQueue.pop_front();
        return true;
    }
    if (state.mQuit)
    {
        message = Message{};
        message.message = _WM_QUIT;
        message.wParam = static_cast<WParam>(state.mQuitCode);
        message.time = NowMs();
        if (remove)
            state.mQuit = false;
        return true;
    }
    return false;
}

static bool TakePaint(Message& message, bool remove)
{
    for (auto& [id, record] : State().mWindows)
    {
        if (!(record->mInvalid || (record->mFrameInvalid && record->mInsets != Rect{})) ||
            !IsUiWindowVisible(id))
            continue;
        message = Message{};
        message.window = id;
        message.time = NowMs();
        bool frame = record->mFrameInvalid && record->mInsets != Rect{};
        message.message = frame ? _WM_NCPAINT : _WM_PAINT;
        message.wParam = frame ? 1 : 0;
        if (remove)
        {
            // Taking the message validates what it paints, as BeginPaint would.
            if (frame)
                record->mFrameInvalid = false;
            else
                record->mInvalid = false;
        }
        return true;
    }
    return false;
}

static bool TakeTimer(Message& message, bool remove)
{
    for (auto& [key, timer] : State().mTimers)
    {
        if (!timer.mDue)
            continue;
        message = Message{};
        message.window = key.first;
        message.message = _WM_TIMER;
        message.wParam = key.second;
        message.time = NowMs();
        if (remove)
            timer.mDue = false;
        return true;
    }
    return false;
}

static bool HasWork()
{
    Message probe;
    return TakePosted(probe, false) || TakePaint(probe, false) || TakeTimer(probe, false);
}

struct TimerKey
{
    WindowId window;
    _dword id;
};

static gboolean OnTimer(gpointer data)
{
    auto* key = static_cast<TimerKey*>(data);
    auto& timers = State().mTimers;
    auto it = timers.find({key->window, key->id});
    if (it == timers.end())
        return G_SOURCE_REMOVE;
    it->second.mDue = true;
    return G_SOURCE_CONTINUE;
}

static void FreeTimerKey(gpointer data)
{
    delete static_cast<TimerKey*>(data);
}

static gboolean OnWaitTimeout(gpointer data)
{
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{
using namespace Gtk;

bool PostUiMessage(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    auto& state = State();
    if (!state.mAvailable)
        return false;
    // Other threads may post; they cannot look windows up safely, so only the main thread checks ids.
    bool mainThread = std::this_thread::get_id() == state.mMainThread;
    if (window != 0 && mainThread && !FindRecord(window))
        return false;
    Message m;
    m.window = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = NowMs();
    if (mainThread)
        m.point = state.mPointer;
    QueueMessage(m);
    return true;
}

LResult SendUiMessage(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return 0;
    // A copy: the handler may replace itself or destroy its window while it runs.
    WindowHandler handler = record->mHandler;
    if (handler)
        return handler(window, message, wParam, lParam);
    return DefaultHandler(window, message, wParam, lParam);
}

void PostQuit(int exitCode)
{
    auto& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mQueueLock);
        state.mQuit = true;
        state.mQuitCode = exitCode;
    }
    WakeUp();
}

bool PeekUiMessage(Message& message, bool remove)
{
    if (!State().mAvailable)
        return false;
    RunPendingEvents();
    return TakePosted(message, remove) || TakePaint(message, remove) || TakeTimer(message, remove);
}

bool WaitUiMessage(_dword timeoutMs)
{
    if (!State().mAvailable)
        return false;
    RunPendingEvents();
    if (HasWork())
        return true;
    if (timeoutMs == 0)
        return false;
    bool expired = false;
    guint source = g_timeout_add(timeoutMs, OnWaitTimeout, &expired);
    while (!expired)
    {
        g_main_context_iteration(nullptr, TRUE);
        RunPendingEvents();
        if (HasWork())
            break;
    }
    if (!expired)
        g_source_remove(source);
    return HasWork();
}

bool GetUiMessage(Message& message)
{
    if (!State().mAvailable)
    {
        message = Message{};
        message.message = _WM_QUIT;
        return false;
    }
    while (!PeekUiMessage(message, true))
        WaitUiMessage(60000);
    return message.message != _WM_QUIT;
}

bool TranslateUiMessage(const Message& message)
{
    if ((message.message != _WM_KEYDOWN && message.message != _WM_SYSKEYDOWN) || message.character == 0)
        return false;
    _dword charMessage = message.message == _WM_KEYDOWN ? _WM_CHAR : _WM_SYSCHAR;
    _dword c = message.character;
    Message m = message;
    m.message = charMessage;
    m.character = 0;
    // Character messages come before anything already queued, as they do on Windows.
    if (c >= 0x10000)
    {
        c -= 0x10000;
        m.wParam = 0xDC00 + (c & 0x3FF);
        QueueMessage(m, true);
        m.wParam = 0xD800 + (c >> 10);
        QueueMessage(m, true);
    }
    else
    {
        m.wParam = c;
        QueueMessage(m, true);
    }
    return true;
}

LResult DispatchUiMessage(const Message& message)
{
    if (message.window == 0)
        return 0;
    return SendUiMessage(message.window, message.message, message.wParam, message.lParam);
}

bool SetUiTimer(WindowId window, _dword timerId, _dword intervalMs)
{
    if (!FindRecord(window))
        return false;
    auto& timers = State().mTimers;
    auto& timer = timers[{window, timerId}];
    if (timer.mSource)
        g_source_remove(timer.mSource);
    timer.mDue = false;
    timer.mSource = g_timeout_add_full(G_PRIORITY_DEFAULT, intervalMs == 0 ? 1 : intervalMs, OnTimer,
                                       new TimerKey{window, timerId}, FreeTimerKey);
    return true;
}

bool KillUiTimer(WindowId window, _dword timerId)
{
    auto& timers = State().mTimers;
    auto it = timers.find({window, timerId});
    if (it == timers.end())
        return false;
    if (it->second.mSource)
        g_source_remove(it->second.mSource);
    timers.erase(it);
    return true;
}

} // namespace Vexel::Ui
