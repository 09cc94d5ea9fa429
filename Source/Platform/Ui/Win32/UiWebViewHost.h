// The Windows web view's side of the browser control: the OLE site that embeds the control in a window
// (client site, in-place site and frame, document host UI, message boxes, command target, ambient
// properties), the sink of the control's events and the `external` object of page script. Everything runs
// on the main thread; the control calls back on it.
#pragma once

#include "Platform/Ui/WebView.h"

#include <windows.h>

#include <dispex.h>
#include <docobj.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <ole2.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace Vexel::Ui::WebHost
{

// An owned interface pointer.
template <typename T> class ComPtr
{
public:
    ComPtr() = default;
    explicit ComPtr(T* pointer) : mPointer(pointer)
    {
        if (mPointer)
            mPointer->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.mPointer) {}
    ComPtr(ComPtr&& other) noexcept : mPointer(std::exchange(other.mPointer, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(mPointer, other.mPointer);
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return mPointer; }
    T* operator->() const { return mPointer; }
    explicit operator bool() const { return mPointer != nullptr; }
    // For functions that hand out a referenced pointer.
    T** Put()
    {
        Reset();
        return &mPointer;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset()
    {
        if (mPointer)
            std::exchange(mPointer, nullptr)->Release();
    }
    // A new reference for the caller.
    T* Detach() { return std::exchange(mPointer, nullptr); }

    template <typename U> ComPtr<U> Query(REFIID iid) const
    {
        ComPtr<U> out;
        if (mPointer)
            mPointer->QueryInterface(iid, out.PutVoid());
        return out;
    }

private:
    T* mPointer = nullptr;
};

inline const wchar_t* WideText(const String& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline String FromWide(const wchar_t* text)
{
    return text ? String(reinterpret_cast<const char16_t*>(text)) : String();
}

// Texts for wParam of the browser messages stay valid while the message is handled.
inline LRESULT SendText(HWND window, UINT message, const String& text, LPARAM lParam)
{
    return SendMessageW(window, message, reinterpret_cast<WPARAM>(text.c_str()), lParam);
}

// What the site, the sink and `external` share with the web view. The web view clears window when it
// goes, so that late calls of the control find nothing to act on.
struct Shared
{
    HWND window = nullptr;
    bool scrollBars = true;
    bool activeContent = true;
    bool pageMessages = true;
    bool contextMenu = true;
    std::vector<String> origins;         // "scheme://host[:port]" allowed to use `external`
    String loadOrigin;                   // where the page's navigation now under way started
    IUnknown* browserIdentity = nullptr; // compared only, never called
};

// Keeps the control's objects alive while it calls into the program: a handler may close the web view
// (or destroy its window) from inside a browser message, and the control is let go only once the
// outermost call has returned.
class CallbackScope
{
public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

// Dispatch ids of `external`'s members.
constexpr DISPID _DISPID_GETNEWMSG = 8000;
constexpr DISPID _DISPID_GETGSNAME = 8001;
constexpr DISPID _DISPID_CONSOLEMSG = 8002;
constexpr DISPID _DISPID_ISMC = 8003;
constexpr DISPID _DISPID_INVOKE = 8004;

// Download-control ambient flags: images and videos, no downloading of controls; with active content
// off, running controls is forbidden too.
constexpr long _DOWNLOAD_CONTROL_ON = 0x430;
constexpr long _DOWNLOAD_CONTROL_OFF = 0x630;

// `external`. Every call first finds the calling document's address (from the caller's service provider
// when the script engine passes one, else the page's own) and refuses origins the program did not
// allow.
class External final : public IDispatchEx
{
public:
    using CallerAddress = std::function<String(IServiceProvider* caller)>;
    using OriginAllowed = std::function<bool(const String& origin)>;

    External(std::shared_ptr<Shared> shared, CallerAddress address, OriginAllowed allowed);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;
    HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD, DISPID* id) override;
    HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params,
                                       VARIANT* result, EXCEPINFO* exception,
                                       IServiceProvider* caller) override;
    HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR, DWORD) override;
    HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID) override;
    HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID, DWORD, DWORD* properties) override;
    HRESULT STDMETHODCALLTYPE GetMemberName(DISPID id, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD, DISPID id, DISPID* next) override;
    HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override;

private:
    ~External() = default;

    LONG mReferences = 1;
    std::shared_ptr<Shared> mShared;
    CallerAddress mAddress;
    OriginAllowed mAllowed;
};

// The client site and everything the control asks of its container.
class Site final : public IOleClientSite,
                   public IOleInPlaceSite,
                   public IOleInPlaceFrame,
                   public IDocHostUIHandler,
                   public IDocHostShowUI,
                   public IOleCommandTarget,
                   public IDispatch
{
public:
    explicit Site(std::shared_ptr<Shared> shared);

    IDispatch* ExternalObject() const { return mExternal.Get(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
    HRESULT STDMETHODCALLTYPE ShowObject() override;
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override;
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;
    // IOleWindow (the in-place site's and the frame's)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;
    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() override;
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override;
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;
    // IOleInPlaceUIWindow, IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override;
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override;
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override;
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override;
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override;
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override;
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override;
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override;
    // IDocHostUIHandler
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override;
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override;
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                     IOleInPlaceUIWindow*) override;
    HRESULT STDMETHODCALLTYPE HideUI() override;
    HRESULT STDMETHODCALLTYPE UpdateUI() override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, const GUID*, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) override;
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override;
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override;
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** out) override;
    // IDocHostShowUI
    HRESULT STDMETHODCALLTYPE ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD type, LPOLESTR, DWORD,
                                          LRESULT* result) override;
    HRESULT STDMETHODCALLTYPE ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override;
    // IOleCommandTarget
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID* group, ULONG count, OLECMD* commands,
                                          OLECMDTEXT*) override;
    HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD id, DWORD, VARIANT*, VARIANT* out) override;
    // IDispatch: the ambient properties
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override;

private:
    ~Site() = default;

    LONG mReferences = 1;
    std::shared_ptr<Shared> mShared;
    ComPtr<External> mExternal;
};

// DWebBrowserEvents2 of the control, turned into the browser messages for the page itself.
class Events final : public IDispatch
{
public:
    explicit Events(std::shared_ptr<Shared> shared);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

private:
    ~Events() = default;
    bool IsPage(const VARIANT& browser) const;

    LONG mReferences = 1;
    std::shared_ptr<Shared> mShared;
};

// --- Services of the web view (UiWebView.cpp) for the objects above and for tests ---------------------

// The browser of the window (not referenced), or null.
IWebBrowser2* FindBrowser(HWND window);
// The address of the window's page, empty without one.
String PageAddress(HWND window);
// The address of the document whose window the caller's service provider names, or the page's when the
// caller names none; empty when the document cannot be read (another origin's frame).
String CallerDocumentAddress(HWND window, IServiceProvider* caller);
// Whether the focused element of the page (inside same-origin frames too) takes Backspace and the arrows.
bool FocusInEditableElement(HWND window);
bool IsOriginAllowed(HWND window, const String& origin);
// The window's site (referenced), or null; for tests of the container's answers.
ComPtr<Site> FindSite(HWND window);
// Web views alive (their windows not yet gone).
std::size_t WebViewCount();

} // namespace Vexel::Ui::WebHost
