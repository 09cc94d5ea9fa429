// The OLE container of the browser control and the objects page script and the control's events reach.
// Each object counts its references: the control may hold on to the site, the sink or `external` past
// the moment the web view lets it go, and then finds an empty window in the shared block.
#include "Platform/Ui/Win32/UiWebViewHost.h"

#include "Common/Log.h"
#include "Platform/Ui/Win32/UiWebViewText.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace Vexel::Ui::WebHost
{

namespace
{
constexpr std::size_t _MAX_INVOKE_ARGUMENTS = 64;

struct Member
{
    const wchar_t* name;
    DISPID id;
};

constexpr Member _MEMBERS[] = {
    {L"getNewMsg", _DISPID_GETNEWMSG}, {L"getGsName", _DISPID_GETGSNAME}, {L"consoleMsg", _DISPID_CONSOLEMSG},
    {L"ismc", _DISPID_ISMC},           {L"invoke", _DISPID_INVOKE},
};

DISPID MemberId(const wchar_t* name)
{
    if (!name)
        return DISPID_UNKNOWN;
    for (const Member& member : _MEMBERS)
        if (std::wcscmp(member.name, name) == 0) // exact, case and all
            return member.id;
    return DISPID_UNKNOWN;
}

const Member* FindMember(DISPID id)
{
    for (const Member& member : _MEMBERS)
        if (member.id == id)
            return &member;
    return nullptr;
}

const VARIANT* Dereference(const VARIANT* value)
{
    while (value && value->vt == (VT_VARIANT | VT_BYREF))
        value = value->pvarVal;
    return value;
}

bool IsMissing(const VARIANT* value)
{
    value = Dereference(value);
    return !value || value->vt == VT_EMPTY || (value->vt == VT_ERROR && value->scode == DISP_E_PARAMNOTFOUND);
}

// The value as text, as script's String() would give it; false when it has none.
bool TextOf(const VARIANT* value, String& text)
{
    value = Dereference(value);
    if (!value)
        return false;
    if (value->vt == VT_BSTR)
    {
        text = value->bstrVal
                   ? String(reinterpret_cast<const char16_t*>(value->bstrVal), SysStringLen(value->bstrVal))
                   : String();
        return true;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(value), VARIANT_ALPHABOOL, VT_BSTR)))
        return false;
    text = String(reinterpret_cast<const char16_t*>(converted.bstrVal), SysStringLen(converted.bstrVal));
    VariantClear(&converted);
    return true;
}

// Argument index of a call (arguments come last first).
const VARIANT* Argument(const DISPPARAMS* params, UINT index)
{
    if (!params || index >= params->cArgs)
        return nullptr;
    return &params->rgvarg[params->cArgs - 1 - index];
}

bool ReadProperty(IDispatch* object, const wchar_t* name, VARIANT& value)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return false;
    DISPPARAMS none{};
    return SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                                    nullptr, nullptr));
}

// The arguments of invoke(name, list): a script array, a safe array or one plain value.
std::vector<String> ListOf(const VARIANT* value)
{
    std::vector<String> list;
    value = Dereference(value);
    if (IsMissing(value) || value->vt == VT_NULL)
        return list;
    if (value->vt == VT_DISPATCH && value->pdispVal)
    {
        VARIANT length;
        VariantInit(&length);
        if (!ReadProperty(value->pdispVal, L"length", length) ||
            FAILED(VariantChangeType(&length, &length, 0, VT_I4)))
            return list;
        long count = std::min<long>(length.lVal, static_cast<long>(_MAX_INVOKE_ARGUMENTS));
        for (long i = 0; i < count; ++i)
        {
            std::wstring index = std::to_wstring(i);
            VARIANT item;
            VariantInit(&item);
            String text;
            if (ReadProperty(value->pdispVal, index.c_str(), item) && TextOf(&item, text))
                list.push_back(std::move(text));
            else
                list.emplace_back();
            VariantClear(&item);
        }
        return list;
    }
    if ((value->vt & VT_ARRAY) && (value->vt & ~VT_ARRAY) == VT_VARIANT && value->parray &&
        SafeArrayGetDim(value->parray) == 1)
    {
        long lower = 0;
        long upper = -1;
        SafeArrayGetLBound(value->parray, 1, &lower);
        SafeArrayGetUBound(value->parray, 1, &upper);
        for (long i = lower; i <= upper && list.size() < _MAX_INVOKE_ARGUMENTS; ++i)
        {
            VARIANT item;
            VariantInit(&item);
            String text;
            if (SUCCEEDED(SafeArrayGetElement(value->parray, &i, &item)) && TextOf(&item, text))
                list.push_back(std::move(text));
            else
                list.emplace_back();
            VariantClear(&item);
        }
        return list;
    }
    String text;
    if (TextOf(value, text))
        list.push_back(std::move(text));
    return list;
}

// Whether the script window is the page's own rather than a frame's: a frame window names its frame
// element (or refuses to, being another origin's); without that interface, the page's window is the
// one its document belongs to.
bool IsPageWindow(IDispatch* scriptWindow, IWebBrowser2* browser)
{
    if (!scriptWindow || !browser)
        return false;
    ComPtr<IHTMLWindow4> fourth;
    if (SUCCEEDED(scriptWindow->QueryInterface(IID_IHTMLWindow4, fourth.PutVoid())) && fourth)
    {
        ComPtr<IHTMLFrameBase> frame;
        return SUCCEEDED(fourth->get_frameElement(frame.Put())) && !frame;
    }
    ComPtr<IDispatch> documentObject;
    ComPtr<IHTMLWindow2> pageWindow;
    if (SUCCEEDED(browser->get_Document(documentObject.Put())) && documentObject)
        if (auto document = documentObject.Query<IHTMLDocument2>(IID_IHTMLDocument2))
            document->get_parentWindow(pageWindow.Put());
    ComPtr<IUnknown> pageIdentity = pageWindow.Query<IUnknown>(IID_IUnknown);
    ComPtr<IUnknown> scriptIdentity;
    scriptWindow->QueryInterface(IID_IUnknown, scriptIdentity.PutVoid());
    return pageIdentity && pageIdentity.Get() == scriptIdentity.Get();
}

void ClientRect(HWND window, RECT& rect)
{
    if (!window || !GetClientRect(window, &rect))
        SetRectEmpty(&rect);
}
} // namespace

// --- external ---------------------------------------------------------------------------------------

External::External(std::shared_ptr<Shared> shared, CallerAddress address, OriginAllowed allowed)
    : mShared(std::move(shared)), mAddress(std::move(address)), mAllowed(std::move(allowed))
{
}

HRESULT External::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IDispatchEx)
    {
        *out = static_cast<IDispatchEx*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG External::AddRef()
{
    return static_cast<ULONG>(++mReferences);
}

ULONG External::Release()
{
    LONG left = --mReferences;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT External::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT External::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT External::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    ids[0] = MemberId(names[0]);
    // Named arguments are not part of any member.
    for (UINT i = 1; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT External::Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT*)
{
    return InvokeEx(id, locale, flags, params, result, exception, nullptr);
}

HRESULT External::GetDispID(BSTR name, DWORD, DISPID* id)
{
    if (!id)
        return E_POINTER;
    *id = MemberId(name);
    return *id != DISPID_UNKNOWN ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT External::InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                           IServiceProvider* caller)
{
    if (!FindMember(id))
        return DISP_E_MEMBERNOTFOUND;
    CallbackScope scope;
    HWND window = mShared->window;
    if (!window)
        return E_UNEXPECTED;
    String address = mAddress ? mAddress(caller) : String();
    String origin = WebText::OriginOf(address);
    if (origin.empty() || !mAllowed || !mAllowed(origin))
    {
        LogError(u"[WS] external refused to a document of %ls", address);
        return E_ACCESSDENIED;
    }
    if (result)
        VariantInit(result);
    // Reading a member (a page testing whether it exists) calls nothing.
    if (!(flags & DISPATCH_METHOD) && id != _DISPID_ISMC)
    {
        if (result)
        {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    }
    switch (id)
    {
    case _DISPID_ISMC:
        if (result)
        {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    case _DISPID_GETNEWMSG:
        SendMessageW(window, _WM_WEB_NEWMSG, 0, 0);
        return S_OK;
    case _DISPID_GETGSNAME:
    case _DISPID_CONSOLEMSG:
    {
        const VARIANT* argument = Argument(params, 0);
        String text;
        if (IsMissing(argument) || !TextOf(argument, text))
            return E_UNEXPECTED;
        if (id == _DISPID_GETGSNAME)
            SendText(window, _WM_WEB_GSNAME, text, 1);
        else
            SendText(window, _WM_WEB_CONSOLEMSG, text, 0);
        return S_OK;
    }
    case _DISPID_INVOKE:
    {
        const VARIANT* argument = Argument(params, 0);
        String name;
        if (IsMissing(argument) || !TextOf(argument, name))
            return E_UNEXPECTED;
        std::vector<String> list = ListOf(Argument(params, 1));
        SendText(window, _WM_WEB_INVOKE, name, reinterpret_cast<LPARAM>(&list));
        if (result)
        {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT External::DeleteMemberByName(BSTR, DWORD)
{
    return S_FALSE;
}

HRESULT External::DeleteMemberByDispID(DISPID)
{
    return S_FALSE;
}

HRESULT External::GetMemberProperties(DISPID, DWORD, DWORD* properties)
{
    if (properties)
        *properties = 0;
    return E_NOTIMPL;
}

HRESULT External::GetMemberName(DISPID id, BSTR* name)
{
    if (!name)
        return E_POINTER;
    const Member* member = FindMember(id);
    *name = member ? SysAllocString(member->name) : nullptr;
    return member ? S_OK : DISP_E_MEMBERNOTFOUND;
}

HRESULT External::GetNextDispID(DWORD, DISPID id, DISPID* next)
{
    if (!next)
        return E_POINTER;
    *next = DISPID_UNKNOWN;
    for (std::size_t i = 0; i < std::size(_MEMBERS); ++i)
        if (id == DISPID_STARTENUM || (i > 0 && _MEMBERS[i - 1].id == id))
        {
            *next = _MEMBERS[id == DISPID_STARTENUM ? 0 : i].id;
            return S_OK;
        }
    return S_FALSE;
}

HRESULT External::GetNameSpaceParent(IUnknown** parent)
{
    if (parent)
        *parent = nullptr;
    return E_NOTIMPL;
}

// --- site -------------------------------------------------------------------------------------------

Site::Site(std::shared_ptr<Shared> shared) : mShared(std::move(shared))
{
    std::shared_ptr<Shared> data = mShared;
    auto* external = new External(
        mShared, [data](IServiceProvider* caller) { return CallerDocumentAddress(data->window, caller); },
        [data](const String& origin)
        { return std::find(data->origins.begin(), data->origins.end(), origin) != data->origins.end(); });
    mExternal = ComPtr<External>(external);
    external->Release(); // the ComPtr holds the one reference now
}

HRESULT Site::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
        *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
        *out = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
        *out = static_cast<IOleInPlaceFrame*>(this);
    else if (iid == IID_IDocHostUIHandler)
        *out = static_cast<IDocHostUIHandler*>(this);
    else if (iid == IID_IDocHostShowUI)
        *out = static_cast<IDocHostShowUI*>(this);
    else if (iid == IID_IOleCommandTarget)
        *out = static_cast<IOleCommandTarget*>(this);
    else if (iid == IID_IDispatch)
        *out = static_cast<IDispatch*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG Site::AddRef()
{
    return static_cast<ULONG>(++mReferences);
}

ULONG Site::Release()
{
    LONG left = --mReferences;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT Site::SaveObject()
{
    return E_NOTIMPL;
}

HRESULT Site::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT Site::GetContainer(IOleContainer** container)
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

HRESULT Site::ShowObject()
{
    return S_OK;
}

HRESULT Site::OnShowWindow(BOOL)
{
    return S_OK;
}

HRESULT Site::RequestNewObjectLayout()
{
    return E_NOTIMPL;
}

HRESULT Site::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = mShared->window;
    return *window ? S_OK : E_FAIL;
}

HRESULT Site::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

HRESULT Site::CanInPlaceActivate()
{
    return mShared->window ? S_OK : S_FALSE;
}

HRESULT Site::OnInPlaceActivate()
{
    return S_OK;
}

HRESULT Site::OnUIActivate()
{
    return S_OK;
}

HRESULT Site::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                               LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    if (!frame || !document || !position || !clip || !info)
        return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    ClientRect(mShared->window, *position);
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = mShared->window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT Site::Scroll(SIZE)
{
    return E_NOTIMPL;
}

HRESULT Site::OnUIDeactivate(BOOL)
{
    return S_OK;
}

HRESULT Site::OnInPlaceDeactivate()
{
    return S_OK;
}

HRESULT Site::DiscardUndoState()
{
    return E_NOTIMPL;
}

HRESULT Site::DeactivateAndUndo()
{
    return E_NOTIMPL;
}

HRESULT Site::OnPosRectChange(LPCRECT position)
{
    if (!position)
        return E_POINTER;
    IWebBrowser2* browser = FindBrowser(mShared->window);
    if (!browser)
        return E_UNEXPECTED;
    ComPtr<IOleInPlaceObject> object;
    if (FAILED(browser->QueryInterface(IID_IOleInPlaceObject, object.PutVoid())) || !object)
        return E_UNEXPECTED;
    return object->SetObjectRects(position, position);
}

HRESULT Site::GetBorder(LPRECT)
{
    return INPLACE_E_NOTOOLSPACE;
}

HRESULT Site::RequestBorderSpace(LPCBORDERWIDTHS)
{
    return INPLACE_E_NOTOOLSPACE;
}

HRESULT Site::SetBorderSpace(LPCBORDERWIDTHS)
{
    return OLE_E_INVALIDRECT;
}

HRESULT Site::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR)
{
    return S_OK;
}

HRESULT Site::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS)
{
    return E_NOTIMPL;
}

HRESULT Site::SetMenu(HMENU, HOLEMENU, HWND)
{
    return S_OK;
}

HRESULT Site::RemoveMenus(HMENU)
{
    return E_NOTIMPL;
}

HRESULT Site::SetStatusText(LPCOLESTR)
{
    return S_OK;
}

HRESULT Site::EnableModeless(BOOL)
{
    return S_OK;
}

HRESULT Site::TranslateAccelerator(LPMSG, WORD)
{
    return S_FALSE;
}

HRESULT Site::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*)
{
    return mShared->contextMenu ? S_FALSE : S_OK; // S_OK: the host showed it, so nothing shows
}

HRESULT Site::GetHostInfo(DOCHOSTUIINFO* info)
{
    if (!info || info->cbSize < sizeof(DOCHOSTUIINFO))
        return E_INVALIDARG;
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | (mShared->scrollBars ? 0 : DOCHOSTUIFLAG_SCROLL_NO);
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

HRESULT Site::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                     IOleInPlaceUIWindow*)
{
    return S_OK; // the window shows no menus or tool bars of the browser
}

HRESULT Site::HideUI()
{
    return S_OK;
}

HRESULT Site::UpdateUI()
{
    return S_OK;
}

HRESULT Site::OnDocWindowActivate(BOOL)
{
    return S_OK;
}

HRESULT Site::OnFrameWindowActivate(BOOL)
{
    return S_OK;
}

HRESULT Site::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL)
{
    return S_OK;
}

HRESULT Site::TranslateAccelerator(LPMSG message, const GUID*, DWORD)
{
    // Backspace would go back a page and the arrows scroll it: only editable fields get them.
    if (message && message->message == WM_KEYDOWN &&
        (message->wParam == VK_BACK || message->wParam == VK_LEFT || message->wParam == VK_RIGHT) &&
        !FocusInEditableElement(mShared->window))
        return S_OK;
    return S_FALSE;
}

HRESULT Site::GetOptionKeyPath(LPOLESTR* key, DWORD)
{
    if (key)
        *key = nullptr;
    return S_FALSE;
}

HRESULT Site::GetDropTarget(IDropTarget*, IDropTarget** target)
{
    if (target)
        *target = nullptr;
    return E_NOTIMPL;
}

HRESULT Site::GetExternal(IDispatch** external)
{
    if (!external)
        return E_POINTER;
    *external = mExternal.Get();
    (*external)->AddRef();
    return S_OK;
}

HRESULT Site::TranslateUrl(DWORD, LPWSTR, LPWSTR* out)
{
    if (out)
        *out = nullptr;
    return S_FALSE;
}

HRESULT Site::FilterDataObject(IDataObject*, IDataObject** out)
{
    if (out)
        *out = nullptr;
    return S_FALSE;
}

HRESULT Site::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD type, LPOLESTR, DWORD, LRESULT* result)
{
    if (mShared->pageMessages)
        return S_FALSE;
    // Handled without a box: an alert is acknowledged, a question answered no.
    if (result)
        *result = (type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
    return S_OK;
}

HRESULT Site::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*)
{
    return S_OK; // no help windows from pages
}

HRESULT Site::QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT*)
{
    if (!group || *group != CGID_DocHostCommandHandler)
        return OLECMDERR_E_UNKNOWNGROUP;
    for (ULONG i = 0; commands && i < count; ++i)
        commands[i].cmdf = (commands[i].cmdID == OLECMDID_SHOWSCRIPTERROR ||
                            (commands[i].cmdID == OLECMDID_SHOWMESSAGE && !mShared->pageMessages))
                               ? OLECMDF_SUPPORTED | OLECMDF_ENABLED
                               : 0;
    return S_OK;
}

HRESULT Site::Exec(const GUID* group, DWORD id, DWORD, VARIANT*, VARIANT* out)
{
    if (!group || *group != CGID_DocHostCommandHandler)
        return OLECMDERR_E_UNKNOWNGROUP;
    if (id == OLECMDID_SHOWSCRIPTERROR)
    {
        // Keep running the page's scripts and show nothing.
        if (out)
        {
            VariantClear(out);
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    }
    if (id == OLECMDID_SHOWMESSAGE && !mShared->pageMessages)
        return S_OK;
    return OLECMDERR_E_NOTSUPPORTED;
}

HRESULT Site::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT Site::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT Site::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids)
{
    for (UINT i = 0; ids && i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT Site::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*)
{
    if (id != DISPID_AMBIENT_DLCONTROL)
        return DISP_E_MEMBERNOTFOUND;
    if (!result)
        return E_POINTER;
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = mShared->activeContent ? _DOWNLOAD_CONTROL_ON : _DOWNLOAD_CONTROL_OFF;
    return S_OK;
}

// --- events -----------------------------------------------------------------------------------------

Events::Events(std::shared_ptr<Shared> shared) : mShared(std::move(shared)) {}

HRESULT Events::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2)
    {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG Events::AddRef()
{
    return static_cast<ULONG>(++mReferences);
}

ULONG Events::Release()
{
    LONG left = --mReferences;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT Events::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT Events::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT Events::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids)
{
    for (UINT i = 0; ids && i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

bool Events::IsPage(const VARIANT& browser) const
{
    const VARIANT* value = Dereference(&browser);
    if (!value || value->vt != VT_DISPATCH || !value->pdispVal || !mShared->browserIdentity)
        return false;
    ComPtr<IUnknown> identity;
    value->pdispVal->QueryInterface(IID_IUnknown, identity.PutVoid());
    return identity.Get() == mShared->browserIdentity;
}

HRESULT Events::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*)
{
    CallbackScope scope;
    HWND window = mShared->window;
    if (!window || !params)
        return S_OK;
    // Arguments come last first: the browser object is the last, the address the one before it.
    auto address = [&](UINT fromEnd)
    {
        String text;
        TextOf(&params->rgvarg[params->cArgs - 1 - fromEnd], text);
        return WebText::Cut(text, WebText::_MAX_URL);
    };
    switch (id)
    {
    case DISPID_BEFORENAVIGATE2:
        if (params->cArgs == 7 && IsPage(params->rgvarg[6]))
        {
            mShared->loadOrigin = WebText::OriginOf(address(1));
            SendText(window, _WM_WEB_BEFORENAVIGATE, address(1), 0);
        }
        break;
    case DISPID_NAVIGATECOMPLETE2:
        if (params->cArgs == 2 && IsPage(params->rgvarg[1]))
        {
            // Arriving elsewhere than the navigation started is a server's redirect (the page's own
            // navigations start anew): a trusted page vouches for where it sends the browser.
            std::vector<String>& origins = mShared->origins;
            String arrived = WebText::OriginOf(address(1));
            if (!arrived.empty() && arrived != mShared->loadOrigin &&
                std::find(origins.begin(), origins.end(), mShared->loadOrigin) != origins.end() &&
                std::find(origins.begin(), origins.end(), arrived) == origins.end())
                origins.push_back(arrived);
            SendText(window, _WM_WEB_NAVIGATECOMPLETE, address(1), 0);
        }
        break;
    case DISPID_DOCUMENTCOMPLETE:
        if (params->cArgs == 2 && IsPage(params->rgvarg[1]))
            SendText(window, _WM_WEB_DOCUMENTCOMPLETE, address(1), 0);
        break;
    case DISPID_NAVIGATEERROR:
        if (params->cArgs == 5 && IsPage(params->rgvarg[4]))
        {
            const VARIANT* status = Dereference(&params->rgvarg[1]);
            long code = 0;
            if (status && status->vt == VT_I4)
                code = status->lVal;
            LogTrace(u"[WS] Visit error 0x%.8x", static_cast<unsigned long>(code));
            std::intptr_t httpStatus = WebText::VisitErrorStatus(code);
            // A server's own error page still loads; for a failed connection the browser's page of its own
            // is not shown (nor reported as a document).
            VARIANT& cancel = params->rgvarg[0];
            if (!httpStatus && cancel.vt == (VT_BOOL | VT_BYREF) && cancel.pboolVal)
                *cancel.pboolVal = VARIANT_TRUE;
            SendText(window, _WM_WEB_NAVIGATEERROR, address(1), httpStatus);
        }
        break;
    case DISPID_BEFORESCRIPTEXECUTE:
    {
        // The argument is the window whose script starts: only the page's own counts.
        const VARIANT* scriptWindow = params->cArgs == 1 ? Dereference(&params->rgvarg[0]) : nullptr;
        if (scriptWindow && scriptWindow->vt == VT_DISPATCH &&
            IsPageWindow(scriptWindow->pdispVal, FindBrowser(window)))
            SendText(window, _WM_WEB_SCRIPTSTART, PageAddress(window), 0);
        break;
    }
    default:
        break;
    }
    return S_OK;
}

} // namespace Vexel::Ui::WebHost
