// The browser control hosted in plain windows of the test's own class: creation and sizing, the
// container's answers to the control, navigation to a loopback server with its events and visit errors,
// release with the window (also from inside a browser message), `external` and its origin rule, the
// keystroke rule and cookies of the system's store. Needs a display (xvfb-run under Wine).
#include "Platform/Ui/WebView.h"
#include "Platform/Ui/Win32/UiWebViewHost.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <exdispid.h>
#include <gtest/gtest.h>
#include <mshtmdid.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace Vexel::Ui
{
namespace
{
using namespace WebHost;

constexpr const wchar_t* _CLASS = L"VexelWebViewTestWindow";

struct Received
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    String text;
    std::vector<String> list;
};

std::vector<Received> gReceived;
// What the window does on a browser message besides recording it.
std::function<void(HWND, UINT)> gOnMessage;

bool IsBrowserMessage(UINT message)
{
    switch (message)
    {
    case _WM_WEB_BEFORENAVIGATE:
    case _WM_WEB_NAVIGATECOMPLETE:
    case _WM_WEB_DOCUMENTCOMPLETE:
    case _WM_WEB_NAVIGATEERROR:
    case _WM_WEB_SCRIPTSTART:
    case _WM_WEB_NEWMSG:
    case _WM_WEB_GSNAME:
    case _WM_WEB_CONSOLEMSG:
    case _WM_WEB_INVOKE:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK TestWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsBrowserMessage(message))
        return DefWindowProcW(window, message, wParam, lParam);
    Received received{message, wParam, lParam, {}, {}};
    if (message != _WM_WEB_NEWMSG && wParam)
        received.text = reinterpret_cast<const char16_t*>(wParam);
    if (message == _WM_WEB_INVOKE && lParam)
        received.list = *reinterpret_cast<const std::vector<String>*>(lParam);
    gReceived.push_back(std::move(received));
    if (gOnMessage)
        gOnMessage(window, message);
    return 0;
}

WindowId IdOf(HWND window)
{
    return static_cast<WindowId>(reinterpret_cast<std::uintptr_t>(window));
}

std::string Narrow(const String& text)
{
    return ::Vexel::Test::Narrow(text);
}

// The program's store folder, one for the whole test process.
const String& StoreFolder()
{
    static ::Vexel::Test::TempDir folder;
    static const String wide = folder.Wide();
    return wide;
}

class WindowsWebViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InitWebViews(StoreFolder()));
        static bool registered = false;
        if (!registered)
        {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = TestWindowProcedure;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = _CLASS;
            ASSERT_NE(RegisterClassW(&windowClass), 0) << "window class: error " << GetLastError();
            registered = true;
        }
        mWindow = NewTestWindow();
        ASSERT_NE(mWindow, nullptr) << "no window (error " << GetLastError()
                                    << "): the tests need a display, run them under xvfb-run";
        gReceived.clear();
        gOnMessage = nullptr;
    }

    void TearDown() override
    {
        gOnMessage = nullptr;
        for (HWND window : mWindows)
            if (IsWindow(window))
                DestroyWindow(window);
        EXPECT_EQ(WebViewCount(), 0u);
    }

    HWND NewTestWindow()
    {
        HWND window = CreateWindowExW(0, _CLASS, L"web view test", WS_OVERLAPPEDWINDOW, 20, 20, 500, 400,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window)
            mWindows.push_back(window);
        return window;
    }

    // A web view in the window, or the reason the log gave for its absence.
    ::testing::AssertionResult AddWebView(HWND window)
    {
        ::Vexel::Test::LogCapture log;
        if (NewWebView(IdOf(window)))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no web view: " << Narrow(log.Text());
    }

    // Dispatches messages until done() holds (the time limit only guards against a hang).
    static bool PumpUntil(const std::function<bool()>& done)
    {
        auto end = std::chrono::steady_clock::now() + ::Vexel::Test::_EVENT_TIMEOUT;
        while (!done())
        {
            if (std::chrono::steady_clock::now() > end)
                return false;
            MSG message;
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            else
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
        return true;
    }

    static int Count(UINT message)
    {
        int count = 0;
        for (const Received& received : gReceived)
            count += received.message == message;
        return count;
    }

    // The first such message, of the address when one is given (a former page's events may come late).
    static const Received* First(UINT message, const String& address = {})
    {
        for (const Received& received : gReceived)
            if (received.message == message && (address.empty() || received.text == address))
                return &received;
        return nullptr;
    }

    // Navigates and waits until the page completed or failed.
    bool VisitAndWait(const String& url)
    {
        int before = Count(_WM_WEB_DOCUMENTCOMPLETE) + Count(_WM_WEB_NAVIGATEERROR);
        if (WebNavigate(Id(), url) != 0)
            return false;
        return PumpUntil([&]
                         { return Count(_WM_WEB_DOCUMENTCOMPLETE) + Count(_WM_WEB_NAVIGATEERROR) > before; });
    }

    WindowId Id() const { return IdOf(mWindow); }

    ComPtr<IDispatch> ExternalOf(HWND window)
    {
        ComPtr<IDispatch> external;
        ComPtr<Site> site = FindSite(window);
        if (site)
            site->GetExternal(external.Put());
        return external;
    }

    ::Vexel::Test::TestServer mServer;
    HWND mWindow = nullptr;
    std::vector<HWND> mWindows;
};

RECT ChildPlace(HWND window)
{
    RECT rect{};
    HWND child = GetWindow(window, GW_CHILD);
    if (child)
    {
        GetWindowRect(child, &rect);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(WindowsWebViewTest, ABrowserFillsItsWindowAndFollowsItsSize)
{
    ASSERT_TRUE(AddWebView(mWindow));
    EXPECT_TRUE(HasWebView(Id()));
    EXPECT_EQ(WebViewCount(), 1u);
    EXPECT_FALSE(NewWebView(Id())); // one per window
    EXPECT_FALSE(NewWebView(0));
    EXPECT_FALSE(NewWebView(0x7FFFFFF0u));
    EXPECT_FALSE(HasWebView(0x7FFFFFF0u));

    ASSERT_NE(GetWindow(mWindow, GW_CHILD), nullptr) << "the control made no window of its own";
    RECT client;
    GetClientRect(mWindow, &client);
    EXPECT_TRUE(SameRect(ChildPlace(mWindow), client));
    SetWindowPos(mWindow, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    GetClientRect(mWindow, &client);
    EXPECT_EQ(client.right, ChildPlace(mWindow).right);
    EXPECT_EQ(client.bottom, ChildPlace(mWindow).bottom);

    // A second window gets a browser of its own.
    HWND other = NewTestWindow();
    ASSERT_TRUE(AddWebView(other));
    EXPECT_EQ(WebViewCount(), 2u);
}

TEST_F(WindowsWebViewTest, WithoutOleTheWindowGetsNoBrowserAndTheLogSaysWhy)
{
    // A thread already in the multithreaded apartment cannot host the control.
    bool created = true;
    bool madeWindow = false;
    String log;
    std::thread worker(
        [&]
        {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            HWND window = CreateWindowExW(0, _CLASS, L"worker", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                                          nullptr, GetModuleHandleW(nullptr), nullptr);
            madeWindow = window != nullptr;
            ::Vexel::Test::LogCapture capture;
            created = NewWebView(IdOf(window));
            log = capture.Text();
            DestroyWindow(window);
            CoUninitialize();
        });
    worker.join();
    ASSERT_TRUE(madeWindow);
    EXPECT_FALSE(created);
    EXPECT_NE(log.find(u"OLE cannot start"), String::npos) << Narrow(log);
    EXPECT_EQ(WebViewCount(), 0u);
}

TEST_F(WindowsWebViewTest, TheContainerAnswersTheBrowserAsTheOptionsSay)
{
    ASSERT_TRUE(AddWebView(mWindow));
    ComPtr<Site> site = FindSite(mWindow);
    ASSERT_TRUE(site);
    for (char16_t letter : {u's', u'a', u'm', u'c'})
        EXPECT_TRUE(WebGetOption(Id(), letter));
    EXPECT_FALSE(WebSetOption(Id(), u'x', true));
    EXPECT_FALSE(WebGetOption(Id(), u'x'));
    EXPECT_FALSE(WebSetOption(0x7FFFFFF0u, u's', true));

    DOCHOSTUIINFO info{};
    info.cbSize = sizeof(info);
    ASSERT_EQ(site->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, static_cast<DWORD>(DOCHOSTUIFLAG_NO3DBORDER));
    EXPECT_EQ(site->ShowContextMenu(0, nullptr, nullptr, nullptr), S_FALSE); // the browser shows it
    LRESULT answer = 0;
    EXPECT_EQ(site->ShowMessage(mWindow, nullptr, nullptr, MB_OK, nullptr, 0, &answer), S_FALSE);
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(site->Exec(&CGID_DocHostCommandHandler, OLECMDID_SHOWMESSAGE, 0, nullptr, nullptr),
              OLECMDERR_E_NOTSUPPORTED);
    DISPPARAMS none{};
    ASSERT_EQ(static_cast<IDispatch*>(site.Get())
                  ->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr,
                           nullptr),
              S_OK);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, _DOWNLOAD_CONTROL_ON);

    for (char16_t letter : {u's', u'a', u'm', u'c'})
    {
        EXPECT_TRUE(WebSetOption(Id(), letter, false));
        EXPECT_FALSE(WebGetOption(Id(), letter));
    }
    ASSERT_EQ(site->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags, static_cast<DWORD>(DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO));
    EXPECT_EQ(site->ShowContextMenu(0, nullptr, nullptr, nullptr), S_OK); // handled: nothing shows
    EXPECT_EQ(site->ShowMessage(mWindow, nullptr, nullptr, MB_OK, nullptr, 0, &answer), S_OK);
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(site->ShowMessage(mWindow, nullptr, nullptr, MB_YESNO, nullptr, 0, &answer), S_OK);
    EXPECT_EQ(answer, IDCANCEL); // a question is answered no
    EXPECT_EQ(site->Exec(&CGID_DocHostCommandHandler, OLECMDID_SHOWMESSAGE, 0, nullptr, nullptr), S_OK);
    ASSERT_EQ(static_cast<IDispatch*>(site.Get())
                  ->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr,
                           nullptr),
              S_OK);
    EXPECT_EQ(out.lVal, _DOWNLOAD_CONTROL_OFF);

    // Script errors: keep running, show nothing, whatever the options.
    ASSERT_EQ(site->Exec(&CGID_DocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, &out), S_OK);
    EXPECT_EQ(out.vt, VT_BOOL);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    EXPECT_EQ(site->Exec(nullptr, OLECMDID_SHOWMESSAGE, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);

    info.cbSize = 4;
    EXPECT_EQ(site->GetHostInfo(&info), E_INVALIDARG);
    ComPtr<IOleContainer> container;
    EXPECT_EQ(site->GetContainer(container.Put()), E_NOINTERFACE);
    HWND window = nullptr;
    ASSERT_EQ(static_cast<IOleInPlaceSite*>(site.Get())->GetWindow(&window), S_OK);
    EXPECT_EQ(window, mWindow);
}

TEST_F(WindowsWebViewTest, NavigationStartsAndVisitErrorsBecomeMessages)
{
    ASSERT_TRUE(AddWebView(mWindow));
    EXPECT_EQ(WebReadyState(Id()), 0);
    mServer.AddFile("/page.html", "<html><body><p>page</p><param name='a' value='b'></body></html>");
    String page = mServer.WideUrl("/page.html");
    ASSERT_TRUE(VisitAndWait(page));
    ASSERT_FALSE(gReceived.empty());
    EXPECT_EQ(gReceived.front().message, _WM_WEB_BEFORENAVIGATE);
    EXPECT_EQ(Narrow(gReceived.front().text), Narrow(page));
    EXPECT_EQ(Count(_WM_WEB_BEFORENAVIGATE), 1);
    EXPECT_EQ(Narrow(WebCurrentUrl(Id())), Narrow(page));
    int state = WebReadyState(Id());
    EXPECT_TRUE(state == 0 || state == 1 || state == 3 || state == 4) << state;
    EXPECT_TRUE(WebStop(Id()));

    // The server's status comes with the first visit error.
    gReceived.clear();
    String missing = mServer.WideUrl("/status/404");
    ASSERT_TRUE(VisitAndWait(missing));
    const Received* error = First(_WM_WEB_NAVIGATEERROR, missing);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->lParam, 404);

    // Nobody listens: an error without a status.
    int closedPort = 0;
    {
        ::Vexel::Test::TestServer gone;
        closedPort = gone.Port();
    }
    gReceived.clear();
    std::string closedUrl = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
    String closed(closedUrl.begin(), closedUrl.end());
    ASSERT_EQ(WebNavigate(Id(), closed), 0);
    ASSERT_TRUE(PumpUntil([&] { return First(_WM_WEB_NAVIGATEERROR, closed) != nullptr; }));
    EXPECT_EQ(First(_WM_WEB_NAVIGATEERROR, closed)->lParam, 0);
    EXPECT_FALSE(WebIsDocumentReady(Id()));

    // Addresses the browser cannot load start nothing.
    gReceived.clear();
    EXPECT_EQ(WebNavigate(Id(), u"not a url"), -5);
    EXPECT_EQ(WebNavigate(Id(), u""), -5);
    EXPECT_TRUE(gReceived.empty());
    EXPECT_EQ(WebNavigate(0x7FFFFFF0u, page), -1);
    EXPECT_FALSE(WebRefresh(0x7FFFFFF0u));
    EXPECT_FALSE(WebStop(0x7FFFFFF0u));
    EXPECT_EQ(WebCurrentUrl(0x7FFFFFF0u), String());
    EXPECT_EQ(WebReadyState(0x7FFFFFF0u), 0);
}

TEST_F(WindowsWebViewTest, TheWindowsEndReleasesTheBrowser)
{
    ASSERT_TRUE(AddWebView(mWindow));
    EXPECT_TRUE(DestroyWebView(Id()));
    EXPECT_FALSE(HasWebView(Id()));
    EXPECT_FALSE(DestroyWebView(Id()));
    EXPECT_EQ(WebNavigate(Id(), mServer.WideUrl("/")), -1);
    EXPECT_EQ(GetWindow(mWindow, GW_CHILD), nullptr) << "the control's window stayed";
    ASSERT_TRUE(AddWebView(mWindow)); // the window takes a new one

    DestroyWindow(mWindow);
    EXPECT_FALSE(HasWebView(Id()));
    EXPECT_EQ(WebViewCount(), 0u);

    // A browser in a child window goes with the window that holds it.
    HWND frame = NewTestWindow();
    HWND child = CreateWindowExW(0, _CLASS, L"", WS_CHILD | WS_VISIBLE, 10, 10, 200, 150, frame, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(AddWebView(child));
    RECT client;
    GetClientRect(child, &client);
    EXPECT_TRUE(SameRect(ChildPlace(child), client));
    DestroyWindow(frame);
    EXPECT_FALSE(HasWebView(IdOf(child)));
    EXPECT_EQ(WebViewCount(), 0u);

    // The window's handler destroys it from inside a browser message: the control is let go once it
    // has returned, and the navigation call still answers.
    HWND window = NewTestWindow();
    ASSERT_TRUE(AddWebView(window));
    gOnMessage = [](HWND target, UINT message)
    {
        if (message == _WM_WEB_BEFORENAVIGATE)
            DestroyWindow(target);
    };
    EXPECT_EQ(WebNavigate(IdOf(window), mServer.WideUrl("/gone.html")), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(WebViewCount(), 0u);
    EXPECT_EQ(Count(_WM_WEB_BEFORENAVIGATE), 1);

    // The same from a message that arrives while the pump runs.
    window = NewTestWindow();
    ASSERT_TRUE(AddWebView(window));
    gReceived.clear();
    gOnMessage = [](HWND target, UINT message)
    {
        if (message == _WM_WEB_NAVIGATEERROR || message == _WM_WEB_DOCUMENTCOMPLETE)
            DestroyWebView(IdOf(target));
    };
    EXPECT_EQ(WebNavigate(IdOf(window), mServer.WideUrl("/status/500")), 0);
    ASSERT_TRUE(PumpUntil([&] { return !HasWebView(IdOf(window)); }));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(WebViewCount(), 0u);
}

// Calls a member of `external` by name as page script would.
HRESULT CallExternal(IDispatch* external, const wchar_t* name, std::vector<VARIANT> arguments,
                     VARIANT* result, IServiceProvider* caller = nullptr)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT found = external->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(found))
        return found;
    std::reverse(arguments.begin(), arguments.end()); // last first
    DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    ComPtr<IDispatchEx> extended;
    if (SUCCEEDED(external->QueryInterface(IID_IDispatchEx, extended.PutVoid())))
        return extended->InvokeEx(id, 0, DISPATCH_METHOD, &params, result, nullptr, caller);
    return external->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

VARIANT Text(const wchar_t* text)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    return value;
}

VARIANT Number(long number)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    return value;
}

TEST_F(WindowsWebViewTest, ExternalCallsOfThePageBecomeMessages)
{
    ASSERT_TRUE(AddWebView(mWindow));
    ComPtr<IDispatch> external = ExternalOf(mWindow);
    ASSERT_TRUE(external);

    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"ismc")};
    ASSERT_EQ(external->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, _DISPID_ISMC);
    for (const wchar_t* name : {L"IsMc", L"getnewmsg", L"", L"toString"})
    {
        names[0] = const_cast<LPOLESTR>(name);
        EXPECT_EQ(external->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
        EXPECT_EQ(id, DISPID_UNKNOWN);
    }
    DISPPARAMS none{};
    EXPECT_EQ(external->Invoke(9999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);

    // No page yet: nobody may call.
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(CallExternal(external.Get(), L"getNewMsg", {}, &result), E_ACCESSDENIED);
    EXPECT_EQ(Count(_WM_WEB_NEWMSG), 0);

    ASSERT_TRUE(VisitAndWait(mServer.WideUrl("/page.html")));
    gReceived.clear();
    ASSERT_EQ(CallExternal(external.Get(), L"ismc", {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(CallExternal(external.Get(), L"getNewMsg", {}, &result), S_OK);
    EXPECT_EQ(CallExternal(external.Get(), L"getGsName", {Text(L"Server \u4e00")}, &result), S_OK);
    EXPECT_EQ(CallExternal(external.Get(), L"getGsName", {}, &result), E_UNEXPECTED);
    EXPECT_EQ(CallExternal(external.Get(), L"consoleMsg", {Number(42)}, &result), S_OK);
    EXPECT_EQ(CallExternal(external.Get(), L"invoke", {Text(L"openvideo")}, &result), S_OK);

    SAFEARRAY* list = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    LONG index = 0;
    VARIANT first = Text(L"http://127.0.0.1/v");
    VARIANT second = Number(7);
    SafeArrayPutElement(list, &index, &first);
    index = 1;
    SafeArrayPutElement(list, &index, &second);
    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_VARIANT;
    array.parray = list;
    EXPECT_EQ(CallExternal(external.Get(), L"invoke", {Text(L"pay"), array}, &result), S_OK);
    EXPECT_EQ(CallExternal(external.Get(), L"invoke", {}, &result), E_UNEXPECTED);

    // A page that only looks whether a member is there calls nothing.
    DISPPARAMS noArguments{};
    EXPECT_EQ(external->Invoke(_DISPID_GETNEWMSG, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArguments, &result,
                               nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);

    ASSERT_EQ(gReceived.size(), 5u);
    EXPECT_EQ(gReceived[0].message, _WM_WEB_NEWMSG);
    EXPECT_EQ(gReceived[0].wParam, 0u);
    EXPECT_EQ(gReceived[0].lParam, 0);
    EXPECT_EQ(gReceived[1].message, _WM_WEB_GSNAME);
    EXPECT_EQ(gReceived[1].text, String(u"Server \u4e00"));
    EXPECT_EQ(gReceived[1].lParam, 1);
    EXPECT_EQ(gReceived[2].message, _WM_WEB_CONSOLEMSG);
    EXPECT_EQ(gReceived[2].text, String(u"42"));
    EXPECT_EQ(gReceived[2].lParam, 0);
    EXPECT_EQ(gReceived[3].message, _WM_WEB_INVOKE);
    EXPECT_EQ(gReceived[3].text, String(u"openvideo"));
    EXPECT_TRUE(gReceived[3].list.empty());
    EXPECT_EQ(gReceived[4].text, String(u"pay"));
    EXPECT_EQ(gReceived[4].list, (std::vector<String>{u"http://127.0.0.1/v", u"7"}));
    VariantClear(&first);
    VariantClear(&array);
}

TEST_F(WindowsWebViewTest, ExternalRefusesDocumentsOfOtherOrigins)
{
    ASSERT_TRUE(AddWebView(mWindow));
    ASSERT_TRUE(VisitAndWait(mServer.WideUrl("/page.html")));
    // `external` as the site makes it, with the calling document named by the test.
    String caller;
    auto shared = std::make_shared<Shared>();
    shared->window = mWindow;
    HWND window = mWindow;
    ComPtr<External> external(new External(
        shared, [&](IServiceProvider*) { return caller; },
        [window](const String& origin) { return IsOriginAllowed(window, origin); }));
    external->Release();

    VARIANT result;
    VariantInit(&result);
    gReceived.clear();
    std::string own = mServer.Url("/inner.html");
    caller = String(own.begin(), own.end());
    EXPECT_EQ(CallExternal(external.Get(), L"consoleMsg", {Text(L"own")}, &result), S_OK);
    for (const char16_t* foreign : {u"http://evil.example/ad.html", u"https://127.0.0.1/", u"",
                                    u"http://127.0.0.1:1/", u"file:///C:/page.html"})
    {
        caller = foreign;
        EXPECT_EQ(CallExternal(external.Get(), L"consoleMsg", {Text(L"foreign")}, &result), E_ACCESSDENIED)
            << Narrow(caller);
        EXPECT_EQ(CallExternal(external.Get(), L"ismc", {}, &result), E_ACCESSDENIED);
    }
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].text, String(u"own"));

    // Allowed by the program: then it may call.
    EXPECT_FALSE(WebAllowOrigin(Id(), u"no address"));
    EXPECT_FALSE(WebAllowOrigin(0x7FFFFFF0u, u"http://evil.example/"));
    ASSERT_TRUE(WebAllowOrigin(Id(), u"HTTP://Evil.Example:80/other"));
    caller = u"http://evil.example/ad.html";
    EXPECT_EQ(CallExternal(external.Get(), L"consoleMsg", {Text(L"allowed")}, &result), S_OK);
    EXPECT_EQ(gReceived.back().text, String(u"allowed"));

    // Once the web view is gone, its `external` acts on nothing.
    ASSERT_TRUE(DestroyWebView(Id()));
    shared->window = nullptr;
    EXPECT_EQ(CallExternal(external.Get(), L"getNewMsg", {}, &result), E_UNEXPECTED);
    EXPECT_EQ(Count(_WM_WEB_NEWMSG), 0);
}

// The browser's events as the control raises them (arguments last first, addresses by reference),
// given to the sink directly: only the page's own become messages, with their address and status.
TEST_F(WindowsWebViewTest, EventsOfThePageBecomeMessagesAndThoseOfFramesDoNot)
{
    // Two dispatch objects stand for the page's browser and a frame's.
    auto shared = std::make_shared<Shared>();
    shared->window = mWindow;
    ComPtr<External> page(new External(shared, nullptr, nullptr));
    page->Release();
    ComPtr<External> frame(new External(shared, nullptr, nullptr));
    frame->Release();
    ComPtr<IUnknown> identity;
    page->QueryInterface(IID_IUnknown, identity.PutVoid());
    shared->browserIdentity = identity.Get();
    ComPtr<Events> events(new Events(shared));
    events->Release();

    auto fire = [&](DISPID id, IDispatch* source, const std::wstring& url, long status, VARIANT_BOOL* cancel)
    {
        VARIANT address = Text(url.c_str());
        VARIANT byReference;
        VariantInit(&byReference);
        byReference.vt = VT_VARIANT | VT_BYREF;
        byReference.pvarVal = &address;
        VARIANT browser;
        VariantInit(&browser);
        browser.vt = VT_DISPATCH;
        browser.pdispVal = source;
        VARIANT code = Number(status);
        VARIANT codeReference;
        VariantInit(&codeReference);
        codeReference.vt = VT_VARIANT | VT_BYREF;
        codeReference.pvarVal = &code;
        VARIANT cancelReference;
        VariantInit(&cancelReference);
        cancelReference.vt = VT_BOOL | VT_BYREF;
        cancelReference.pboolVal = cancel;
        VARIANT empty;
        VariantInit(&empty);
        std::vector<VARIANT> arguments;
        if (id == DISPID_BEFORENAVIGATE2)
            arguments = {browser, byReference, empty, empty, empty, empty, cancelReference};
        else if (id == DISPID_NAVIGATEERROR)
            arguments = {browser, byReference, empty, codeReference, cancelReference};
        else
            arguments = {browser, byReference};
        std::reverse(arguments.begin(), arguments.end());
        DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        HRESULT result = events->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        VariantClear(&address);
        return result;
    };

    VARIANT_BOOL cancel = VARIANT_FALSE;
    std::wstring url = L"http://127.0.0.1:1/page";
    EXPECT_EQ(fire(DISPID_BEFORENAVIGATE2, page.Get(), url, 0, &cancel), S_OK);
    fire(DISPID_BEFORENAVIGATE2, frame.Get(), L"http://127.0.0.1:1/frame", 0, &cancel);
    fire(DISPID_NAVIGATECOMPLETE2, frame.Get(), L"http://127.0.0.1:1/frame", 0, nullptr);
    fire(DISPID_NAVIGATECOMPLETE2, page.Get(), url, 0, nullptr);
    fire(DISPID_DOCUMENTCOMPLETE, frame.Get(), L"http://127.0.0.1:1/frame", 0, nullptr);
    fire(DISPID_DOCUMENTCOMPLETE, page.Get(), url, 0, nullptr);
    ASSERT_EQ(gReceived.size(), 3u);
    EXPECT_EQ(gReceived[0].message, _WM_WEB_BEFORENAVIGATE);
    EXPECT_EQ(gReceived[1].message, _WM_WEB_NAVIGATECOMPLETE);
    EXPECT_EQ(gReceived[2].message, _WM_WEB_DOCUMENTCOMPLETE);
    for (const Received& received : gReceived)
        EXPECT_EQ(received.text, String(u"http://127.0.0.1:1/page"));
    EXPECT_EQ(cancel, VARIANT_FALSE);

    // A server's error status comes along and its page still shows; a failed connection shows nothing.
    gReceived.clear();
    fire(DISPID_NAVIGATEERROR, page.Get(), url, 404, &cancel);
    EXPECT_EQ(cancel, VARIANT_FALSE);
    fire(DISPID_NAVIGATEERROR, page.Get(), url, static_cast<long>(0x800C0005), &cancel);
    EXPECT_EQ(cancel, VARIANT_TRUE);
    cancel = VARIANT_FALSE;
    fire(DISPID_NAVIGATEERROR, frame.Get(), url, 500, &cancel);
    EXPECT_EQ(cancel, VARIANT_FALSE);
    ASSERT_EQ(gReceived.size(), 2u);
    EXPECT_EQ(gReceived[0].lParam, 404);
    EXPECT_EQ(gReceived[1].lParam, 0);

    // Addresses are cut; other events and events after the view went are ignored.
    gReceived.clear();
    fire(DISPID_NAVIGATECOMPLETE2, page.Get(), L"http://127.0.0.1/" + std::wstring(3000, L'x'), 0, nullptr);
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].text.size(), 1024u);
    fire(DISPID_TITLECHANGE, page.Get(), url, 0, nullptr);
    shared->window = nullptr;
    fire(DISPID_DOCUMENTCOMPLETE, page.Get(), url, 0, nullptr);
    EXPECT_EQ(gReceived.size(), 1u);
}

TEST_F(WindowsWebViewTest, BackspaceAndArrowsOutsideFieldsAreSwallowed)
{
    ASSERT_TRUE(AddWebView(mWindow));
    Message key;
    key.window = Id();
    key.message = WM_KEYDOWN;
    for (WPARAM code : {VK_BACK, VK_LEFT, VK_RIGHT})
    {
        key.wParam = code;
        EXPECT_TRUE(WebTranslateKey(key)) << code; // no document, so no field has the focus
    }
    // Keys to the control's own windows count as the web view's.
    HWND inner = GetWindow(mWindow, GW_CHILD);
    ASSERT_NE(inner, nullptr);
    key.window = IdOf(inner);
    key.wParam = VK_BACK;
    EXPECT_TRUE(WebTranslateKey(key));
    key.message = WM_KEYUP;
    EXPECT_FALSE(WebTranslateKey(key));
    key.message = WM_KEYDOWN;
    key.wParam = VK_TAB;
    WebTranslateKey(key); // the browser's to answer; it must not fail

    HWND plain = NewTestWindow();
    key.window = IdOf(plain);
    key.wParam = VK_BACK;
    EXPECT_FALSE(WebTranslateKey(key));

    // The browser asks the container the same about the keys it gets itself.
    ComPtr<Site> site = FindSite(mWindow);
    MSG native{};
    native.hwnd = inner;
    native.message = WM_KEYDOWN;
    native.wParam = VK_RIGHT;
    EXPECT_EQ(static_cast<IDocHostUIHandler*>(site.Get())->TranslateAccelerator(&native, nullptr, 0), S_OK);
    native.wParam = VK_DELETE;
    EXPECT_EQ(static_cast<IDocHostUIHandler*>(site.Get())->TranslateAccelerator(&native, nullptr, 0),
              S_FALSE);
}

TEST_F(WindowsWebViewTest, CookiesComeFromTheSystemStore)
{
    // Names of this run, so that cookies kept from earlier runs do not count.
    std::wstring run = std::to_wstring(GetTickCount64());
    std::wstring plainName = L"vexel_plain_" + run;
    std::wstring hiddenName = L"vexel_hidden_" + run;
    std::string url = mServer.Url("/");
    std::wstring wide(url.begin(), url.end());
    ASSERT_TRUE(InternetSetCookieW(wide.c_str(), plainName.c_str(), L"one"));
    ASSERT_NE(
        InternetSetCookieExW(wide.c_str(), hiddenName.c_str(), L"two; HttpOnly", INTERNET_COOKIE_HTTPONLY, 0),
        0u);
    String cookies = WebGetCookies(String(url.begin(), url.end()));
    std::string text = Narrow(cookies);
    std::string plain(plainName.begin(), plainName.end());
    std::string hidden(hiddenName.begin(), hiddenName.end());
    EXPECT_NE(text.find(plain + "=one"), std::string::npos) << text;
    EXPECT_NE(text.find(hidden + "=two"), std::string::npos) << text;
    EXPECT_NE(text.find("; "), std::string::npos) << text;

    EXPECT_EQ(Narrow(WebGetCookies(u"http://127.0.0.3:1/")).find("vexel_"), std::string::npos);
    EXPECT_TRUE(WebGetCookies(u"not a url").empty());
    EXPECT_TRUE(WebGetCookies(u"").empty());
}

TEST_F(WindowsWebViewTest, NamedValuesNeedADocumentAndTheStoreFolderStays)
{
    EXPECT_TRUE(WebReadNamedValues(Id(), u"param").empty()); // no browser
    ASSERT_TRUE(AddWebView(mWindow));
    EXPECT_TRUE(WebReadNamedValues(Id(), u"param").empty()); // no document
    EXPECT_TRUE(WebReadNamedValues(Id(), u"").empty());

    // The store is chosen once for the program.
    EXPECT_TRUE(InitWebViews(StoreFolder()));
    EXPECT_FALSE(InitWebViews(u"C:\\elsewhere"));
}

} // namespace
} // namespace Vexel::Ui
