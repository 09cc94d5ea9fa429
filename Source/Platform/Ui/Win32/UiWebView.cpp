// The web view of the Windows backend: the system's browser control embedded in the window through OLE
// in-place activation. The window is known by its handle alone (a window id is the handle's value): the
// view subclasses it to follow its size and to let the control go when it is destroyed, so the window's
// own code needs to know nothing of it.
#include "Platform/Ui/WebView.h"

#include "Common/Log.h"
#include "Platform/Ui/Win32/UiWebViewHost.h"
#include "Platform/Ui/Win32/UiWebViewText.h"

#include <commctrl.h>
#include <mshtmdid.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace Vexel::Ui::WebHost
{

namespace
{
constexpr UINT_PTR _SUBCLASS_ID = 0x56574256; // "VWBV"
constexpr int _MAX_FRAMES = 5;
constexpr int _MAX_FRAME_DEPTH = 4;

struct WebViewState
{
    std::shared_ptr<Shared> shared;
    ComPtr<IOleObject> object;
    ComPtr<IWebBrowser2> browser;
    ComPtr<IOleInPlaceActiveObject> active;
    ComPtr<Site> site;
    ComPtr<Events> events;
    ComPtr<IConnectionPoint> connection;
    DWORD cookie = 0;
};

std::map<HWND, std::unique_ptr<WebViewState>> gViews;
// Views let go while the control was calling in: closed when the outermost call returns.
std::vector<std::unique_ptr<WebViewState>> gClosing;
int gCallbackDepth = 0;
thread_local bool gOleReady = false; // OLE starts per thread
bool gInitialised = false;
String gDataFolder;

HWND HandleOf(WindowId window)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

WebViewState* Find(HWND window)
{
    auto it = gViews.find(window);
    return it == gViews.end() ? nullptr : it->second.get();
}

WebViewState* Find(WindowId window)
{
    return Find(HandleOf(window));
}

bool StartOle()
{
    if (gOleReady)
        return true;
    HRESULT result = OleInitialize(nullptr);
    if (FAILED(result))
    {
        LogError(u"[WS] OLE cannot start on this thread (0x%.8x)", static_cast<unsigned long>(result));
        return false;
    }
    gOleReady = true;
    return true;
}

// Closes the control: events off, out of the window, closed without saving, its site taken back.
void Close(WebViewState& view)
{
    if (view.connection)
        view.connection->Unadvise(view.cookie);
    if (view.object)
    {
        if (auto inPlace = view.object.Query<IOleInPlaceObject>(IID_IOleInPlaceObject))
            inPlace->InPlaceDeactivate();
        view.object->Close(OLECLOSE_NOSAVE);
        view.object->SetClientSite(nullptr);
    }
    view.connection.Reset();
    view.active.Reset();
    view.browser.Reset();
    view.object.Reset();
    view.events.Reset();
    view.site.Reset();
}

void FlushClosing()
{
    // Closing calls into the control, which may call back: the outer loop finishes the list.
    static bool flushing = false;
    if (flushing)
        return;
    flushing = true;
    while (!gClosing.empty())
    {
        std::unique_ptr<WebViewState> view = std::move(gClosing.back());
        gClosing.pop_back();
        Close(*view);
    }
    flushing = false;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR);

// Takes the view out of the window at once; the control itself is closed now or, when it is calling in,
// once it has returned.
void Release(HWND window)
{
    auto it = gViews.find(window);
    if (it == gViews.end())
        return;
    std::unique_ptr<WebViewState> view = std::move(it->second);
    gViews.erase(it);
    view->shared->window = nullptr;
    RemoveWindowSubclass(window, WindowProcedure, _SUBCLASS_ID);
    if (gCallbackDepth > 0)
        gClosing.push_back(std::move(view));
    else
        Close(*view);
}

void FitToWindow(WebViewState& view, HWND window)
{
    RECT client;
    if (!GetClientRect(window, &client))
        return;
    if (auto inPlace = view.object.Query<IOleInPlaceObject>(IID_IOleInPlaceObject))
        inPlace->SetObjectRects(&client, &client);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (message)
    {
    case WM_SIZE:
        if (WebViewState* view = Find(window))
            FitToWindow(*view, window);
        break;
    case WM_DESTROY:
    case WM_NCDESTROY:
        // While the window still has its children the control closes cleanly; the second message only
        // covers a subclass that outlived the first.
        Release(window);
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

String TextOf(BSTR text)
{
    return text ? String(reinterpret_cast<const char16_t*>(text), SysStringLen(text)) : String();
}

// A BSTR owned for the length of a call.
class Bstr
{
public:
    explicit Bstr(const String& text)
        : mText(SysAllocStringLen(WideText(text), static_cast<UINT>(text.size())))
    {
    }
    ~Bstr() { SysFreeString(mText); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return mText; }

private:
    BSTR mText;
};

ComPtr<IHTMLDocument2> PageDocument(IWebBrowser2* browser)
{
    ComPtr<IDispatch> object;
    if (!browser || FAILED(browser->get_Document(object.Put())) || !object)
        return {};
    return object.Query<IHTMLDocument2>(IID_IHTMLDocument2);
}

String DocumentAddress(IHTMLDocument2* document)
{
    BSTR url = nullptr;
    if (!document || FAILED(document->get_URL(&url)))
        return {};
    String text = TextOf(url);
    SysFreeString(url);
    return text;
}

std::optional<String> Attribute(IHTMLElement* element, const wchar_t* name)
{
    Bstr attribute(FromWide(name));
    VARIANT value;
    VariantInit(&value);
    // 2: the attribute's text as written, not a property derived from it.
    if (FAILED(element->getAttribute(attribute.Get(), 2, &value)) || value.vt != VT_BSTR)
    {
        VariantClear(&value);
        return std::nullopt;
    }
    String text = TextOf(value.bstrVal);
    VariantClear(&value);
    return text;
}

void ReadDocument(IHTMLDocument2* document, const String& tag, std::vector<NamedValue>& values)
{
    auto byTag = ComPtr<IHTMLDocument2>(document).Query<IHTMLDocument3>(IID_IHTMLDocument3);
    ComPtr<IHTMLElementCollection> elements;
    Bstr name(tag);
    if (!byTag || FAILED(byTag->getElementsByTagName(name.Get(), elements.Put())) || !elements)
        return;
    long count = 0;
    elements->get_length(&count);
    for (long i = 0; i < count; ++i)
    {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        VARIANT none;
        VariantInit(&none);
        ComPtr<IDispatch> item;
        if (FAILED(elements->item(index, none, item.Put())) || !item)
            continue;
        if (auto element = item.Query<IHTMLElement>(IID_IHTMLElement))
            WebText::AddNamedValue(values, Attribute(element.Get(), L"name"),
                                   Attribute(element.Get(), L"value"));
    }
}

// The document of frame index of the document, when the program may read it.
ComPtr<IHTMLDocument2> FrameDocument(IHTMLDocument2* document, long index)
{
    ComPtr<IHTMLFramesCollection2> frames;
    if (FAILED(document->get_frames(frames.Put())) || !frames)
        return {};
    VARIANT which;
    VariantInit(&which);
    which.vt = VT_I4;
    which.lVal = index;
    VARIANT frame;
    VariantInit(&frame);
    if (FAILED(frames->item(&which, &frame)) || frame.vt != VT_DISPATCH || !frame.pdispVal)
    {
        VariantClear(&frame);
        return {};
    }
    ComPtr<IHTMLWindow2> window;
    frame.pdispVal->QueryInterface(IID_IHTMLWindow2, window.PutVoid());
    VariantClear(&frame);
    ComPtr<IHTMLDocument2> inner;
    if (!window || FAILED(window->get_document(inner.Put())))
        return {};
    return inner;
}

long FrameCount(IHTMLDocument2* document)
{
    ComPtr<IHTMLFramesCollection2> frames;
    long count = 0;
    if (SUCCEEDED(document->get_frames(frames.Put())) && frames)
        frames->get_length(&count);
    return count;
}

bool IsEditable(IHTMLElement* element)
{
    BSTR tagText = nullptr;
    element->get_tagName(&tagText);
    String tag = TextOf(tagText);
    SysFreeString(tagText);
    VARIANT_BOOL editable = VARIANT_FALSE;
    if (auto third = ComPtr<IHTMLElement>(element).Query<IHTMLElement3>(IID_IHTMLElement3))
        third->get_isContentEditable(&editable);
    return WebText::IsEditableElement(tag, Attribute(element, L"type").value_or(String()),
                                      editable == VARIANT_TRUE);
}
} // namespace

CallbackScope::CallbackScope()
{
    ++gCallbackDepth;
}

CallbackScope::~CallbackScope()
{
    if (--gCallbackDepth == 0)
        FlushClosing();
}

IWebBrowser2* FindBrowser(HWND window)
{
    WebViewState* view = Find(window);
    return view ? view->browser.Get() : nullptr;
}

String PageAddress(HWND window)
{
    IWebBrowser2* browser = FindBrowser(window);
    BSTR url = nullptr;
    if (!browser || FAILED(browser->get_LocationURL(&url)))
        return {};
    String text = WebText::Cut(TextOf(url), WebText::_MAX_URL);
    SysFreeString(url);
    return text;
}

String CallerDocumentAddress(HWND window, IServiceProvider* caller)
{
    if (!caller)
        return PageAddress(window);
    ComPtr<IHTMLWindow2> scriptWindow;
    if (FAILED(caller->QueryService(SID_SHTMLWindow, IID_IHTMLWindow2, scriptWindow.PutVoid())) ||
        !scriptWindow)
        return PageAddress(window);
    // The caller names its window: its document decides, and one the program cannot read gets nothing.
    ComPtr<IHTMLDocument2> document;
    if (FAILED(scriptWindow->get_document(document.Put())) || !document)
        return {};
    return DocumentAddress(document.Get());
}

bool FocusInEditableElement(HWND window)
{
    ComPtr<IHTMLDocument2> document = PageDocument(FindBrowser(window));
    for (int depth = 0; document && depth < _MAX_FRAME_DEPTH; ++depth)
    {
        ComPtr<IHTMLElement> active;
        if (FAILED(document->get_activeElement(active.Put())) || !active)
            return false;
        // Focus inside a frame: the frame's own focused element counts.
        auto frame = active.Query<IHTMLFrameBase2>(IID_IHTMLFrameBase2);
        if (!frame)
            return IsEditable(active.Get());
        // A frame of another origin cannot be looked into: its fields must not lose their keys.
        ComPtr<IHTMLWindow2> inner;
        ComPtr<IHTMLDocument2> next;
        if (FAILED(frame->get_contentWindow(inner.Put())) || !inner ||
            FAILED(inner->get_document(next.Put())) || !next)
            return true;
        document = next;
    }
    return false;
}

bool IsOriginAllowed(HWND window, const String& origin)
{
    WebViewState* view = Find(window);
    return view && !origin.empty() &&
           std::find(view->shared->origins.begin(), view->shared->origins.end(), origin) !=
               view->shared->origins.end();
}

ComPtr<Site> FindSite(HWND window)
{
    WebViewState* view = Find(window);
    return view ? view->site : ComPtr<Site>();
}

std::size_t WebViewCount()
{
    return gViews.size();
}

} // namespace Vexel::Ui::WebHost

namespace Vexel::Ui
{
using namespace WebHost;

bool InitWebViews(const String& dataFolder)
{
    if (!StartOle())
        return false;
    if (gInitialised)
        return dataFolder == gDataFolder;
    // The control keeps cookies, storage and cache in the system's store for this user (WinINet's);
    // it cannot be moved into the program's folder, so the folder is only remembered here.
    gDataFolder = dataFolder;
    gInitialised = true;
    return true;
}

bool NewWebView(WindowId window)
{
    HWND handle = HandleOf(window);
    if (!window || !IsWindow(handle) || Find(handle))
        return false;
    DWORD process = 0;
    if (GetWindowThreadProcessId(handle, &process) != GetCurrentThreadId())
        return false; // another thread's or another program's window
    if (!StartOle())
        return false;
    auto fail = [window](const char16_t* step, HRESULT result)
    {
        LogError(u"[WS] No web view in window 0x%x: %ls failed (0x%.8x)", window, step,
                 static_cast<unsigned long>(result));
        return false;
    };
    auto view = std::make_unique<WebViewState>();
    view->shared = std::make_shared<Shared>();
    view->shared->window = handle;
    HRESULT result = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                      view->object.PutVoid());
    if (FAILED(result) || !view->object)
        return fail(u"creating the browser", result);
    view->site = ComPtr<Site>(new Site(view->shared));
    view->site->Release(); // the ComPtr holds the one reference now
    ComPtr<IUnknown> identity = view->object.Query<IUnknown>(IID_IUnknown);
    view->shared->browserIdentity = identity.Get();
    // Found before the control calls back, so that its first calls reach this view.
    WebViewState* state = view.get();
    gViews[handle] = std::move(view);
    auto undo = [&](const char16_t* step, HRESULT failure)
    {
        Release(handle);
        return fail(step, failure);
    };
    // From here on the window's size and end reach the view.
    if (!SetWindowSubclass(handle, WindowProcedure, _SUBCLASS_ID, 0))
        return undo(u"following the window", HRESULT_FROM_WIN32(GetLastError()));
    result = state->object->SetClientSite(static_cast<IOleClientSite*>(state->site.Get()));
    if (FAILED(result))
        return undo(u"setting the client site", result);
    state->object->SetHostNames(L"Vexel", nullptr);
    OleSetContainedObject(state->object.Get(), TRUE);
    state->browser = state->object.Query<IWebBrowser2>(IID_IWebBrowser2);
    if (!state->browser)
        return undo(u"finding the browser interface", E_NOINTERFACE);
    RECT client;
    GetClientRect(handle, &client);
    result = state->object->DoVerb(OLEIVERB_SHOW, nullptr, static_cast<IOleClientSite*>(state->site.Get()), 0,
                                   handle, &client);
    if (FAILED(result))
        return undo(u"activating the browser in the window", result);
    state->active = state->object.Query<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
    FitToWindow(*state, handle);
    auto points = state->object.Query<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!points ||
        FAILED(result = points->FindConnectionPoint(DIID_DWebBrowserEvents2, state->connection.Put())))
        return undo(u"finding the browser's events", points ? result : E_NOINTERFACE);
    state->events = ComPtr<Events>(new Events(state->shared));
    state->events->Release();
    result = state->connection->Advise(static_cast<IDispatch*>(state->events.Get()), &state->cookie);
    if (FAILED(result))
    {
        state->connection.Reset();
        return undo(u"connecting to the browser's events", result);
    }
    return true;
}

bool HasWebView(WindowId window)
{
    return Find(window) != nullptr;
}

bool DestroyWebView(WindowId window)
{
    if (!Find(window))
        return false;
    Release(HandleOf(window));
    return true;
}

int WebNavigate(WindowId window, const String& url)
{
    WebViewState* view = Find(window);
    if (!view)
        return -1;
    String origin = WebText::OriginOf(url);
    if (origin.empty() && !WebText::IsInlineAddress(url))
        return -5;
    if (!origin.empty() && std::find(view->shared->origins.begin(), view->shared->origins.end(), origin) ==
                               view->shared->origins.end())
        view->shared->origins.push_back(origin);
    Bstr text(url);
    VARIANT address;
    VariantInit(&address);
    address.vt = VT_BSTR;
    address.bstrVal = text.Get();
    VARIANT none;
    VariantInit(&none);
    // The browser may call in (and the window's handler close the view) before this returns.
    CallbackScope scope;
    ComPtr<IWebBrowser2> browser = view->browser;
    HRESULT result = browser->Navigate2(&address, &none, &none, &none, &none);
    if (FAILED(result))
    {
        LogError(u"[WS] Navigation to %ls not started (0x%.8x)", url, static_cast<unsigned long>(result));
        return -5;
    }
    return 0;
}

bool WebRefresh(WindowId window)
{
    WebViewState* view = Find(window);
    if (!view)
        return false;
    CallbackScope scope;
    ComPtr<IWebBrowser2> browser = view->browser;
    return SUCCEEDED(browser->Refresh());
}

bool WebStop(WindowId window)
{
    WebViewState* view = Find(window);
    if (!view)
        return false;
    CallbackScope scope;
    ComPtr<IWebBrowser2> browser = view->browser;
    return SUCCEEDED(browser->Stop());
}

String WebCurrentUrl(WindowId window)
{
    return PageAddress(HandleOf(window));
}

int WebReadyState(WindowId window)
{
    WebViewState* view = Find(window);
    READYSTATE state = READYSTATE_UNINITIALIZED;
    if (!view || FAILED(view->browser->get_ReadyState(&state)))
        return 0;
    switch (state)
    {
    case READYSTATE_LOADING:
    case READYSTATE_LOADED:
        return 1;
    case READYSTATE_INTERACTIVE:
        return 3;
    case READYSTATE_COMPLETE:
        return 4;
    default:
        return 0;
    }
}

bool WebIsDocumentReady(WindowId window)
{
    return WebReadyState(window) == 4;
}

bool WebSetOption(WindowId window, char16_t letter, bool on)
{
    WebViewState* view = Find(window);
    if (!view)
        return false;
    Shared& shared = *view->shared;
    switch (letter)
    {
    case u's':
        shared.scrollBars = on; // read by the browser with its next document
        return true;
    case u'a':
        shared.activeContent = on;
        // The browser reads the download-control flags again when told they changed.
        if (auto control = view->object.Query<IOleControl>(IID_IOleControl))
            control->OnAmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
        return true;
    case u'm':
        shared.pageMessages = on;
        return true;
    case u'c':
        shared.contextMenu = on;
        return true;
    default:
        return false;
    }
}

bool WebGetOption(WindowId window, char16_t letter)
{
    WebViewState* view = Find(window);
    if (!view)
        return false;
    const Shared& shared = *view->shared;
    switch (letter)
    {
    case u's':
        return shared.scrollBars;
    case u'a':
        return shared.activeContent;
    case u'm':
        return shared.pageMessages;
    case u'c':
        return shared.contextMenu;
    default:
        return false;
    }
}

bool WebAllowOrigin(WindowId window, const String& url)
{
    WebViewState* view = Find(window);
    String origin = WebText::OriginOf(url);
    if (!view || origin.empty())
        return false;
    std::vector<String>& origins = view->shared->origins;
    if (std::find(origins.begin(), origins.end(), origin) == origins.end())
        origins.push_back(origin);
    return true;
}

std::vector<NamedValue> WebReadNamedValues(WindowId window, const String& tag)
{
    std::vector<NamedValue> values;
    WebViewState* view = Find(window);
    if (!view || tag.empty())
        return values;
    ComPtr<IHTMLDocument2> page = PageDocument(view->browser.Get());
    if (!page)
        return values;
    ReadDocument(page.Get(), tag, values);
    String origin = WebText::OriginOf(DocumentAddress(page.Get()));
    long frames = std::min<long>(FrameCount(page.Get()), _MAX_FRAMES);
    for (long i = 0; i < frames; ++i)
    {
        // Only frames of the page's own origin: others' documents are not the program's to read.
        ComPtr<IHTMLDocument2> frame = FrameDocument(page.Get(), i);
        if (frame && WebText::OriginOf(DocumentAddress(frame.Get())) == origin)
            ReadDocument(frame.Get(), tag, values);
    }
    return values;
}

String WebGetCookies(const String& url)
{
    if (WebText::OriginOf(url).empty())
        return {};
    // HTTP-only cookies too: the program reads what the browser would send.
    DWORD size = 0;
    if (!InternetGetCookieExW(WideText(url), nullptr, nullptr, &size, INTERNET_COOKIE_HTTPONLY, nullptr) ||
        size == 0)
        return {};
    std::vector<wchar_t> buffer(size + 1);
    if (!InternetGetCookieExW(WideText(url), nullptr, buffer.data(), &size, INTERNET_COOKIE_HTTPONLY,
                              nullptr))
        return {};
    return FromWide(buffer.data());
}

bool WebTranslateKey(const Message& message)
{
    if (message.message != WM_KEYDOWN)
        return false;
    HWND target = HandleOf(message.window);
    // The key's window is the web view's window or lies inside it (the control's own windows).
    HWND desktop = GetDesktopWindow();
    WebViewState* view = nullptr;
    HWND host = nullptr;
    for (HWND h = target; h && h != desktop && !view; h = GetAncestor(h, GA_PARENT))
        if ((view = Find(h)) != nullptr)
            host = h;
    if (!view)
        return false;
    WPARAM key = message.wParam;
    if ((key == VK_BACK || key == VK_LEFT || key == VK_RIGHT) && !FocusInEditableElement(host))
        return true;
    if (!view->active)
        return false;
    MSG native{};
    native.hwnd = target;
    native.message = message.message;
    native.wParam = message.wParam;
    native.lParam = message.lParam;
    native.time = message.time;
    native.pt = {message.point.x, message.point.y};
    CallbackScope scope;
    ComPtr<IOleInPlaceActiveObject> active = view->active;
    return active->TranslateAccelerator(&native) == S_OK;
}

} // namespace Vexel::Ui
