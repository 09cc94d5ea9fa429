// The web view of the GTK backend (WebKitGTK). Load signals of the page become the browser messages;
// two user scripts give page script its `external` object: one in the page's world defines the object
// (only in documents of an allowed origin) and raises a DOM event, one in an isolated world, out of the
// page's reach, forwards that event with the document's real origin to the native side, which checks
// the origin again. The isolated script also reports the start of the page's script and keeps
// Backspace, Left and Right from acting outside editable fields.
//
// The engine's libraries are not linked: they are opened on first need (dlopen) and reached through one
// table of functions, so the program starts, and shows its windows, without them. A web view made before
// the engine is up is a placeholder widget in the window tree at once; the engine comes up on an idle
// after the window's first paint, then the real browser is put into the placeholder and what was asked
// of the view meanwhile (options, allowed origins, the last navigation) is applied.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"
#include "Platform/Ui/WebView.h"

#include "Common/Log.h"

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace Vexel::Ui::Gtk
{

namespace
{
constexpr const char* _WORLD = "vexel";
constexpr const char* _CHANNEL = "vexel";
constexpr int _SYNC_TIMEOUT_MS = 5000;
constexpr std::size_t _MAX_URL = 1024;

const char* _PAGE_SCRIPT = R"JS((function () {
  var allowed = __ALLOWED__;
  var origin = location.protocol === 'file:' ? 'file://' : location.origin;
  if (allowed.indexOf(origin) < 0) return;
  var fire = function (kind, text) {
    document.dispatchEvent(new CustomEvent('vexel-external-call', { detail: kind + '\n' + text }));
  };
  var need = function (args) {
    if (args.length < 1) throw new TypeError('missing argument');
    return String(args[0]);
  };
  var external = Object.freeze({
    ismc: function () { return true; },
    getNewMsg: function () { fire('n', ''); },
    getGsName: function () { fire('g', need(arguments)); },
    consoleMsg: function () { fire('c', need(arguments)); },
    invoke: function () {
      var parts = [need(arguments)];
      var list = arguments.length > 1 && arguments[1] ? arguments[1] : [];
      for (var i = 0; i < list.length && i < 64; i++) parts.push(String(list[i]));
      fire('i', parts.map(function (p) { return p.split('\x1f').join(''); }).join('\x1f'));
      return true;
    }
  });
  try { Object.defineProperty(window, 'external', { value: external, configurable: false, writable: false }); }
  catch (e) {}
})();)JS";

const char* _ISOLATED_SCRIPT = R"JS((function () {
  var origin = location.protocol === 'file:' ? 'file://' : location.origin;
  var post = function (m) { try { window.webkit.messageHandlers.vexel.postMessage(m); } catch (e) {} };
  if (window === window.top) post('s\n' + origin + '\n');
  document.addEventListener('vexel-external-call', function (e) {
    if (typeof e.detail === 'string' && e.detail.length >= 2)
      post(e.detail.charAt(0) + '\n' + origin + '\n' + e.detail.substring(2));
  }, true);
  var plain = /^(button|checkbox|radio|submit|reset|image|file|color|range|hidden)$/i;
  document.addEventListener('keydown', function (e) {
    if (e.key !== 'Backspace' && e.key !== 'ArrowLeft' && e.key !== 'ArrowRight') return;
    var t = e.target;
    var editable = t && (t.isContentEditable || t.tagName === 'TEXTAREA' || t.tagName === 'SELECT' ||
                         (t.tagName === 'INPUT' && !plain.test(t.type || '')));
    if (!editable) e.preventDefault();
  }, true);
})();)JS";

const char* _NAMED_VALUES_SCRIPT = R"JS((function (tag) {
  var out = [];
  var scan = function (doc) {
    if (!doc) return;
    var list = doc.getElementsByTagName(tag);
    for (var i = 0; i < list.length; i++) {
      var n = list[i].getAttribute('name'), v = list[i].getAttribute('value');
      if (typeof n === 'string' && typeof v === 'string') out.push(n.substring(0, 8192), v.substring(0, 8192));
    }
  };
  scan(document);
  for (var f = 0; f < window.frames.length && f < 5; f++) {
    try { scan(window.frames[f].document); } catch (e) {}
  }
  return out;
})(__TAG__))JS";

const char* _NO_SCROLLBARS = "html, body { overflow: hidden !important; }";

WebKitWebContext* gContext = nullptr;
String gDataFolder;
bool gDataFolderSet = false;

// Every engine function this file calls, resolved from the engine's library and its dependencies.
#define VEXEL_ENGINE_FUNCTIONS(X)                                                                            \
    X(webkit_web_view_get_type)                                                                              \
    X(webkit_user_content_manager_new)                                                                       \
    X(webkit_user_content_manager_remove_all_scripts)                                                        \
    X(webkit_user_content_manager_add_script)                                                                \
    X(webkit_user_content_manager_remove_all_style_sheets)                                                   \
    X(webkit_user_content_manager_add_style_sheet)                                                           \
    X(webkit_user_content_manager_register_script_message_handler_in_world)                                  \
    X(webkit_user_content_manager_unregister_script_message_handler_in_world)                                \
    X(webkit_user_script_new)                                                                                \
    X(webkit_user_script_new_for_world)                                                                      \
    X(webkit_user_script_unref)                                                                              \
    X(webkit_user_style_sheet_new)                                                                           \
    X(webkit_user_style_sheet_unref)                                                                         \
    X(webkit_web_view_get_uri)                                                                               \
    X(webkit_web_view_get_main_resource)                                                                     \
    X(webkit_web_view_get_settings)                                                                          \
    X(webkit_web_view_load_uri)                                                                              \
    X(webkit_web_view_reload)                                                                                \
    X(webkit_web_view_stop_loading)                                                                          \
    X(webkit_web_view_evaluate_javascript)                                                                   \
    X(webkit_web_view_evaluate_javascript_finish)                                                            \
    X(webkit_web_resource_get_response)                                                                      \
    X(webkit_uri_response_get_status_code)                                                                   \
    X(webkit_network_error_quark)                                                                            \
    X(webkit_policy_error_quark)                                                                             \
    X(webkit_javascript_result_get_js_value)                                                                 \
    X(webkit_settings_set_javascript_can_open_windows_automatically)                                         \
    X(webkit_settings_set_enable_developer_extras)                                                           \
    X(webkit_web_context_new_ephemeral)                                                                      \
    X(webkit_web_context_new_with_website_data_manager)                                                      \
    X(webkit_web_context_get_website_data_manager)                                                           \
    X(webkit_website_data_manager_new)                                                                       \
    X(webkit_website_data_manager_get_cookie_manager)                                                        \
    X(webkit_cookie_manager_set_persistent_storage)                                                          \
    X(webkit_cookie_manager_set_accept_policy)                                                               \
    X(webkit_cookie_manager_get_cookies)                                                                     \
    X(webkit_cookie_manager_get_cookies_finish)                                                              \
    X(jsc_value_is_string)                                                                                   \
    X(jsc_value_is_array)                                                                                    \
    X(jsc_value_to_string)                                                                                   \
    X(jsc_value_to_int32)                                                                                    \
    X(jsc_value_object_get_property)                                                                         \
    X(jsc_value_object_get_property_at_index)                                                                \
    X(soup_cookie_get_name)                                                                                  \
    X(soup_cookie_get_value)                                                                                 \
    X(soup_cookie_free)

struct EngineTable
{
#define VEXEL_ENGINE_SLOT(name) decltype(&::name) name = nullptr;
    VEXEL_ENGINE_FUNCTIONS(VEXEL_ENGINE_SLOT)
#undef VEXEL_ENGINE_SLOT
};

constexpr const char* _ENGINE_LIBRARY = "libwebkit2gtk-4.1.so.0";
enum class EngineStatus
{
    Absent,
    Up,
    Failed
};

EngineTable E;
EngineStatus gEngine = EngineStatus::Absent;

// Opens the engine's library and resolves the table; false (logged once) when it is missing or lacks a
// function. VEXEL_WEB_ENGINE names another library file in its place.
bool OpenEngine()
{
    if (gEngine != EngineStatus::Absent)
        return gEngine == EngineStatus::Up;
    gEngine = EngineStatus::Failed;
    const char* file = g_getenv("VEXEL_WEB_ENGINE");
    if (!file || !*file)
        file = _ENGINE_LIBRARY;
    void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!library)
    {
        const char* why = dlerror();
        LogError(u"[WS] The web engine cannot be loaded: %s", Wide(why ? why : file).c_str());
        return false;
    }
    EngineTable table;
    const char* missing = nullptr;
#define VEXEL_ENGINE_RESOLVE(name)                                                                           \
    table.name = reinterpret_cast<decltype(table.name)>(dlsym(library, #name));                              \
    if (!table.name && !missing)                                                                             \
        missing = #name;
    VEXEL_ENGINE_FUNCTIONS(VEXEL_ENGINE_RESOLVE)
#undef VEXEL_ENGINE_RESOLVE
    if (missing)
    {
        LogError(u"[WS] The web engine %s lacks %s", Wide(file).c_str(), Wide(missing).c_str());
        dlclose(library);
        return false;
    }
    E = table;
    gEngine = EngineStatus::Up;
    return true;
}

bool MakeBrowser(WebViewState& web);
void ScheduleEngine(WebViewState& web);
void OnHolderFocus(GtkWidget*, gpointer data);
} // namespace

bool BringUpEngine();

struct WebViewState
{
    WindowId host = 0;
    GtkWidget* holder = nullptr; // in the window tree from the start; the browser goes inside
    WebKitWebView* view = nullptr;
    std::string pending; // the navigation asked for before the browser was made
    bool hasPending = false;
    WebKitUserContentManager* content = nullptr;
    std::vector<std::string> origins;
    std::string loadOrigin; // where the page being loaded now comes from (after any redirects)
    bool scrollBars = true;
    bool activeContent = true;
    bool pageMessages = true;
    bool contextMenu = true;
    int readyState = 0;
    bool failed = false;
};

namespace
{
WebViewState* StateOf(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record ? record->mWeb : nullptr;
}

// scheme://host[:port] as page script's location.origin spells it; "file://" for files.
std::string OriginOf(const std::string& url)
{
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return {};
    std::string scheme = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    std::string origin;
    if (scheme == "file")
        origin = "file://";
    else if (const char* host = g_uri_get_host(uri); host && *host)
    {
        std::string name = host;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (name.find(':') != std::string::npos && name.front() != '[')
            name = "[" + name + "]";
        origin = scheme + "://" + name;
        int port = g_uri_get_port(uri);
        bool standard = (scheme == "http" && port == 80) || (scheme == "https" && port == 443);
        if (port > 0 && !standard)
            origin += ":" + std::to_string(port);
    }
    g_uri_unref(uri);
    return origin;
}

// A JavaScript string literal of the text, every character outside plain ASCII letters and digits escaped.
std::string JsString(const std::string& utf8)
{
    String wide = Wide(utf8.c_str());
    std::string out = "'";
    char buffer[8];
    for (char16_t c : wide)
    {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
            out += static_cast<char>(c);
        else
        {
            g_snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out + "'";
}

std::string Replace(std::string text, const std::string& key, const std::string& value)
{
    auto at = text.find(key);
    if (at != std::string::npos)
        text.replace(at, key.size(), value);
    return text;
}

void InstallScripts(WebViewState& web)
{
    std::string list = "[";
    for (std::size_t i = 0; i < web.origins.size(); ++i)
        list += (i ? "," : "") + JsString(web.origins[i]);
    list += "]";
    if (!web.content)
        return; // applied when the browser is made
    std::string page = Replace(_PAGE_SCRIPT, "__ALLOWED__", list);
    E.webkit_user_content_manager_remove_all_scripts(web.content);
    WebKitUserScript* pageScript =
        E.webkit_user_script_new(page.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                 WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    WebKitUserScript* isolated = E.webkit_user_script_new_for_world(
        _ISOLATED_SCRIPT, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
        _WORLD, nullptr, nullptr);
    E.webkit_user_content_manager_add_script(web.content, pageScript);
    E.webkit_user_content_manager_add_script(web.content, isolated);
    E.webkit_user_script_unref(pageScript);
    E.webkit_user_script_unref(isolated);
}

void InstallStyle(WebViewState& web)
{
    if (!web.content)
        return;
    E.webkit_user_content_manager_remove_all_style_sheets(web.content);
    if (web.scrollBars)
        return;
    WebKitUserStyleSheet* sheet = E.webkit_user_style_sheet_new(
        _NO_SCROLLBARS, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
    E.webkit_user_content_manager_add_style_sheet(web.content, sheet);
    E.webkit_user_style_sheet_unref(sheet);
}

bool AllowOrigin(WebViewState& web, const std::string& origin)
{
    if (origin.empty())
        return false;
    if (std::find(web.origins.begin(), web.origins.end(), origin) == web.origins.end())
    {
        web.origins.push_back(origin);
        InstallScripts(web);
    }
    return true;
}

String CurrentUri(WebKitWebView* view)
{
    const char* uri = E.webkit_web_view_get_uri(view);
    String text = Wide(uri ? uri : "");
    if (text.size() > _MAX_URL)
        text.resize(_MAX_URL);
    return text;
}

// The one store of every browser: in the folder InitWebViews named, else in memory.
WebKitWebContext* Context()
{
    if (gContext)
        return gContext;
    std::string folder = Utf8(gDataFolder);
    if (folder.empty())
    {
        gContext = E.webkit_web_context_new_ephemeral();
        return gContext;
    }
    std::string cache = folder + "/cache";
    WebKitWebsiteDataManager* manager = E.webkit_website_data_manager_new(
        "base-data-directory", folder.c_str(), "base-cache-directory", cache.c_str(), nullptr);
    gContext = E.webkit_web_context_new_with_website_data_manager(manager);
    std::string cookies = folder + "/cookies.sqlite";
    WebKitCookieManager* store = E.webkit_website_data_manager_get_cookie_manager(manager);
    E.webkit_cookie_manager_set_persistent_storage(store, cookies.c_str(),
                                                   WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    E.webkit_cookie_manager_set_accept_policy(store, WEBKIT_COOKIE_POLICY_ACCEPT_NO_THIRD_PARTY);
    g_object_unref(manager);
    return gContext;
}

// Runs the main context until done is set or the time runs out.
bool WaitFor(const bool& done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(_SYNC_TIMEOUT_MS);
    while (!done && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, TRUE);
    return done;
}

gboolean WakeEveryTick(gpointer)
{
    return G_SOURCE_CONTINUE;
}

void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data)
{
    WindowId host = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    WebViewState* web = StateOf(host);
    if (!web || web->view != view)
        return;
    String uri = CurrentUri(view);
    auto address = reinterpret_cast<WParam>(uri.c_str());
    switch (event)
    {
    case WEBKIT_LOAD_STARTED:
        web->readyState = 1;
        web->failed = false;
        web->loadOrigin = OriginOf(Utf8(uri));
        SendUiMessage(host, _WM_WEB_BEFORENAVIGATE, address, 0);
        break;
    case WEBKIT_LOAD_REDIRECTED:
    {
        // A trusted page that sends the browser on (a sign-in on another host of the operator) vouches
        // for where it sends it.
        std::string target = OriginOf(Utf8(uri));
        if (std::find(web->origins.begin(), web->origins.end(), web->loadOrigin) != web->origins.end())
            AllowOrigin(*web, target);
        web->loadOrigin = target;
        break;
    }
    case WEBKIT_LOAD_COMMITTED:
    {
        web->readyState = 3;
        guint status = 0;
        if (WebKitWebResource* resource = E.webkit_web_view_get_main_resource(view))
            if (WebKitURIResponse* response = E.webkit_web_resource_get_response(resource))
                status = E.webkit_uri_response_get_status_code(response);
        if (status >= 400)
            SendUiMessage(host, _WM_WEB_NAVIGATEERROR, address, static_cast<LParam>(status));
        if ((web = StateOf(host)) != nullptr)
            SendUiMessage(host, _WM_WEB_NAVIGATECOMPLETE, address, 0);
        break;
    }
    case WEBKIT_LOAD_FINISHED:
        if (web->failed)
        {
            web->readyState = 0;
            break;
        }
        web->readyState = 4;
        SendUiMessage(host, _WM_WEB_DOCUMENTCOMPLETE, address, 0);
        break;
    default:
        break;
    }
}

gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* failingUri, GError* error, gpointer data)
{
    WindowId host = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    WebViewState* web = StateOf(host);
    if (!web || web->view != view)
        return TRUE;
    web->failed = true;
    // A load stopped by the program or replaced by another navigation is not a visit error.
    bool cancelled = g_error_matches(error, E.webkit_network_error_quark(), WEBKIT_NETWORK_ERROR_CANCELLED) ||
                     g_error_matches(error, E.webkit_policy_error_quark(),
                                     WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
    if (!cancelled)
    {
        String uri = Wide(failingUri);
        if (uri.size() > _MAX_URL)
            uri.resize(_MAX_URL);
        SendUiMessage(host, _WM_WEB_NAVIGATEERROR, reinterpret_cast<WParam>(uri.c_str()), 0);
    }
    return TRUE; // no error page of the browser's own
}

gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer data)
{
    WebViewState* web = StateOf(static_cast<WindowId>(GPOINTER_TO_UINT(data)));
    return web && !web->contextMenu;
}

gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer data)
{
    WebViewState* web = StateOf(static_cast<WindowId>(GPOINTER_TO_UINT(data)));
    return web && !web->pageMessages; // handled: nothing shown, confirm answers false
}

void OnProcessGone(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer)
{
    LogError(u"[WS] Web content process ended (%d)", static_cast<int>(reason));
}

void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data)
{
    WindowId host = static_cast<WindowId>(GPOINTER_TO_UINT(data));
    WebViewState* web = StateOf(host);
    if (!web)
        return;
    JSCValue* value = E.webkit_javascript_result_get_js_value(result);
    if (!value || !E.jsc_value_is_string(value))
        return;
    gchar* raw = E.jsc_value_to_string(value);
    std::string message = raw ? raw : "";
    g_free(raw);
    auto first = message.find('\n');
    auto second = first == std::string::npos ? std::string::npos : message.find('\n', first + 1);
    if (first != 1 || second == std::string::npos)
        return;
    char kind = message[0];
    std::string origin = message.substr(2, second - 2);
    String text = Wide(message.substr(second + 1).c_str());
    if (kind == 's')
    {
        String uri = CurrentUri(web->view);
        SendUiMessage(host, _WM_WEB_SCRIPTSTART, reinterpret_cast<WParam>(uri.c_str()), 0);
        return;
    }
    if (std::find(web->origins.begin(), web->origins.end(), origin) == web->origins.end())
        return; // a document the program did not navigate to
    switch (kind)
    {
    case 'n':
        SendUiMessage(host, _WM_WEB_NEWMSG, 0, 0);
        break;
    case 'g':
        SendUiMessage(host, _WM_WEB_GSNAME, reinterpret_cast<WParam>(text.c_str()), 1);
        break;
    case 'c':
        SendUiMessage(host, _WM_WEB_CONSOLEMSG, reinterpret_cast<WParam>(text.c_str()), 0);
        break;
    case 'i':
    {
        // The command name, then its arguments, separated by unit separators.
        std::vector<String> parts;
        std::size_t start = 0;
        for (;;)
        {
            std::size_t end = text.find(u'\x1f', start);
            parts.push_back(String(text.substr(start, end == String::npos ? String::npos : end - start)));
            if (end == String::npos)
                break;
            start = end + 1;
        }
        String name = parts.front();
        parts.erase(parts.begin());
        SendUiMessage(host, _WM_WEB_INVOKE, reinterpret_cast<WParam>(name.c_str()),
                      reinterpret_cast<LParam>(&parts));
        break;
    }
    default:
        break;
    }
}
} // namespace

void ReleaseWebView(WindowRecord& record)
{
    WebViewState* web = record.mWeb;
    if (!web)
        return;
    record.mWeb = nullptr;
    if (web->view)
    {
        g_signal_handlers_disconnect_by_data(web->content, GUINT_TO_POINTER(web->host));
        g_signal_handlers_disconnect_by_data(web->view, GUINT_TO_POINTER(web->host));
        E.webkit_user_content_manager_unregister_script_message_handler_in_world(web->content, _CHANNEL,
                                                                                 _WORLD);
        E.webkit_web_view_stop_loading(web->view);
        gtk_widget_destroy(GTK_WIDGET(web->view));
        g_object_unref(web->view);
        g_object_unref(web->content);
    }
    g_signal_handlers_disconnect_by_data(web->holder, GUINT_TO_POINTER(web->host));
    gtk_widget_destroy(web->holder);
    g_object_unref(web->holder);
    delete web;
}

void LayoutWebView(WindowRecord& record)
{
    if (!record.mWeb || !record.mBody)
        return;
    GtkWidget* view = record.mWeb->holder;
    Size size = ClientSize(record);
    gtk_widget_set_size_request(view, std::max(size.width, 1), std::max(size.height, 1));
    gtk_layout_move(GTK_LAYOUT(record.mBody), view, record.mInsets.left, record.mInsets.top);
}

namespace
{
std::vector<WindowId> gWaiting; // web views made before the engine was up
guint gEngineIdle = 0;
guint gEngineDeadline = 0;
constexpr guint _ENGINE_DEADLINE_MS = 3000; // when no window shows, the engine comes up anyway

// Makes the browser inside the view's holder and applies what was asked of the view so far.
bool MakeBrowser(WebViewState& web)
{
    WindowId window = web.host;
    web.content = E.webkit_user_content_manager_new();
    gpointer data = GUINT_TO_POINTER(window);
    std::string signal = std::string("script-message-received::") + _CHANNEL;
    g_signal_connect(web.content, signal.c_str(), G_CALLBACK(OnScriptMessage), data);
    if (!E.webkit_user_content_manager_register_script_message_handler_in_world(web.content, _CHANNEL,
                                                                                _WORLD))
    {
        g_signal_handlers_disconnect_by_data(web.content, data);
        g_object_unref(web.content);
        web.content = nullptr;
        LogError(u"[WS] The browser's message channel cannot be registered");
        return false;
    }
    InstallScripts(web);
    InstallStyle(web);
    web.view =
        reinterpret_cast<WebKitWebView*>(g_object_new(E.webkit_web_view_get_type(), "web-context", Context(),
                                                      "user-content-manager", web.content, nullptr));
    g_object_ref_sink(web.view);
    WebKitSettings* settings = E.webkit_web_view_get_settings(web.view);
    E.webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    E.webkit_settings_set_enable_developer_extras(settings, FALSE);
    g_signal_connect(web.view, "load-changed", G_CALLBACK(OnLoadChanged), data);
    g_signal_connect(web.view, "load-failed", G_CALLBACK(OnLoadFailed), data);
    g_signal_connect(web.view, "context-menu", G_CALLBACK(OnContextMenu), data);
    g_signal_connect(web.view, "script-dialog", G_CALLBACK(OnScriptDialog), data);
    g_signal_connect(web.view, "web-process-terminated", G_CALLBACK(OnProcessGone), data);
    GtkWidget* view = GTK_WIDGET(web.view);
    ConnectFocusTracking(view, window);
    gtk_box_pack_start(GTK_BOX(web.holder), view, TRUE, TRUE, 0);
    gtk_widget_show(view);
    if (gtk_widget_has_focus(web.holder))
        gtk_widget_grab_focus(view);
    if (web.hasPending)
    {
        web.hasPending = false;
        E.webkit_web_view_load_uri(web.view, web.pending.c_str());
    }
    return true;
}

void OnHolderFocus(GtkWidget*, gpointer data)
{
    WebViewState* web = StateOf(static_cast<WindowId>(GPOINTER_TO_UINT(data)));
    if (web && web->view)
        gtk_widget_grab_focus(GTK_WIDGET(web->view));
}

gboolean OnEngineIdle(gpointer)
{
    gEngineIdle = 0;
    BringUpEngine();
    return G_SOURCE_REMOVE;
}

gboolean OnFirstPaint(GtkWidget* top, cairo_t*, gpointer)
{
    g_signal_handlers_disconnect_by_func(top, reinterpret_cast<gpointer>(OnFirstPaint), nullptr);
    if (!gEngineIdle)
        gEngineIdle = g_idle_add_full(G_PRIORITY_LOW, OnEngineIdle, nullptr, nullptr);
    return FALSE;
}

// The engine comes up on an idle after the next paint of the view's window (a hidden window paints
// when shown; putting the view into a shown one makes it paint again), or after a while without any.
void ScheduleEngine(WebViewState& web)
{
    GtkWidget* top = gtk_widget_get_toplevel(web.holder);
    if (!gtk_widget_is_toplevel(top))
    {
        if (!gEngineIdle)
            gEngineIdle = g_idle_add_full(G_PRIORITY_LOW, OnEngineIdle, nullptr, nullptr);
    }
    else if (!g_signal_handler_find(top, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                    reinterpret_cast<gpointer>(OnFirstPaint), nullptr))
        g_signal_connect_after(top, "draw", G_CALLBACK(OnFirstPaint), nullptr);
    if (!gEngineDeadline)
        gEngineDeadline = g_timeout_add(
            _ENGINE_DEADLINE_MS,
            [](gpointer) -> gboolean
            {
                gEngineDeadline = 0;
                BringUpEngine();
                return G_SOURCE_REMOVE;
            },
            nullptr);
}
} // namespace

// Loads the engine (once) and makes the browsers of the views waiting for it; a view whose browser
// cannot be made reports its navigation as a visit error.
bool BringUpEngine()
{
    if (gEngineIdle)
        g_source_remove(gEngineIdle);
    if (gEngineDeadline)
        g_source_remove(gEngineDeadline);
    gEngineIdle = gEngineDeadline = 0;
    bool up = OpenEngine();
    std::vector<WindowId> waiting;
    waiting.swap(gWaiting);
    for (WindowId id : waiting)
    {
        WebViewState* web = StateOf(id);
        if (!web || web->view)
            continue;
        if (up && MakeBrowser(*web))
            continue;
        if (web->hasPending)
        {
            web->hasPending = false;
            String uri = Wide(web->pending.c_str());
            if (uri.size() > _MAX_URL)
                uri.resize(_MAX_URL);
            SendUiMessage(id, _WM_WEB_NAVIGATEERROR, reinterpret_cast<WParam>(uri.c_str()), 0);
        }
    }
    return up;
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{
using namespace Gtk;

bool InitWebViews(const String& dataFolder)
{
    if (!InitUi())
        return false;
    if (gDataFolderSet || gContext)
        return dataFolder == gDataFolder;
    gDataFolder = dataFolder;
    gDataFolderSet = true;
    return true;
}

bool NewWebView(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record || record->mWeb || record->mIsControl || !record->mBody || !GTK_IS_LAYOUT(record->mBody))
        return false;
    if (gEngine == EngineStatus::Failed)
        return false;
    auto* web = new WebViewState;
    web->host = window;
    web->holder = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref_sink(web->holder);
    gtk_widget_set_can_focus(web->holder, TRUE);
    g_signal_connect_after(web->holder, "grab-focus", G_CALLBACK(OnHolderFocus), GUINT_TO_POINTER(window));
    record->mWeb = web;
    gtk_layout_put(GTK_LAYOUT(record->mBody), web->holder, record->mInsets.left, record->mInsets.top);
    LayoutWebView(*record);
    gtk_widget_show(web->holder);
    if (gEngine == EngineStatus::Up)
    {
        if (!MakeBrowser(*web))
        {
            ReleaseWebView(*record);
            return false;
        }
        return true;
    }
    gWaiting.push_back(window);
    ScheduleEngine(*web);
    return true;
}

bool HasWebView(WindowId window)
{
    return StateOf(window) != nullptr;
}

bool DestroyWebView(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mWeb)
        return false;
    ReleaseWebView(*record);
    return true;
}

int WebNavigate(WindowId window, const String& url)
{
    WebViewState* web = StateOf(window);
    if (!web)
        return -1;
    std::string address = Utf8(url);
    std::string origin = OriginOf(address);
    // Pages given inline (data:, about:) have no origin of their own and get no `external`.
    bool inlinePage = address.rfind("about:", 0) == 0 || address.rfind("data:", 0) == 0;
    if (origin.empty() && !inlinePage)
        return -5;
    AllowOrigin(*web, origin);
    if (!web->view)
    {
        web->pending = address;
        web->hasPending = true;
        return 0;
    }
    E.webkit_web_view_load_uri(web->view, address.c_str());
    return 0;
}

bool WebRefresh(WindowId window)
{
    WebViewState* web = StateOf(window);
    if (!web)
        return false;
    if (web->view)
        E.webkit_web_view_reload(web->view); // else the navigation asked for loads afresh anyway
    return true;
}

bool WebStop(WindowId window)
{
    WebViewState* web = StateOf(window);
    if (!web)
        return false;
    if (!web->view)
        web->hasPending = false;
    else
        E.webkit_web_view_stop_loading(web->view);
    return true;
}

String WebCurrentUrl(WindowId window)
{
    WebViewState* web = StateOf(window);
    if (!web)
        return {};
    if (!web->view)
    {
        String text = web->hasPending ? Wide(web->pending.c_str()) : String();
        if (text.size() > _MAX_URL)
            text.resize(_MAX_URL);
        return text;
    }
    return CurrentUri(web->view);
}

int WebReadyState(WindowId window)
{
    WebViewState* web = StateOf(window);
    return web ? web->readyState : 0;
}

bool WebIsDocumentReady(WindowId window)
{
    return WebReadyState(window) == 4;
}

bool WebSetOption(WindowId window, char16_t letter, bool on)
{
    WebViewState* web = StateOf(window);
    if (!web)
        return false;
    switch (letter)
    {
    case u's':
        web->scrollBars = on;
        InstallStyle(*web);
        return true;
    case u'a':
        web->activeContent = on;
        return true;
    case u'm':
        web->pageMessages = on;
        return true;
    case u'c':
        web->contextMenu = on;
        return true;
    default:
        return false;
    }
}

bool WebGetOption(WindowId window, char16_t letter)
{
    WebViewState* web = StateOf(window);
    if (!web)
        return false;
    switch (letter)
    {
    case u's':
        return web->scrollBars;
    case u'a':
        return web->activeContent;
    case u'm':
        return web->pageMessages;
    case u'c':
        return web->contextMenu;
    default:
        return false;
    }
}

bool WebAllowOrigin(WindowId window, const String& url)
{
    WebViewState* web = StateOf(window);
    return web && AllowOrigin(*web, OriginOf(Utf8(url)));
}

namespace
{
struct ScriptCall
{
    bool done = false;
    std::vector<NamedValue> values;
};

void OnNamedValues(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* call = static_cast<ScriptCall*>(data);
    GError* error = nullptr;
    JSCValue* value = E.webkit_web_view_evaluate_javascript_finish(reinterpret_cast<WebKitWebView*>(source),
                                                                   result, &error);
    if (error)
        g_error_free(error);
    if (value && E.jsc_value_is_array(value))
    {
        JSCValue* lengthValue = E.jsc_value_object_get_property(value, "length");
        int length = E.jsc_value_to_int32(lengthValue);
        g_object_unref(lengthValue);
        for (int i = 0; i + 1 < length; i += 2)
        {
            JSCValue* name = E.jsc_value_object_get_property_at_index(value, static_cast<guint>(i));
            JSCValue* text = E.jsc_value_object_get_property_at_index(value, static_cast<guint>(i + 1));
            gchar* n = E.jsc_value_to_string(name);
            gchar* v = E.jsc_value_to_string(text);
            call->values.push_back({Wide(n), Wide(v)});
            g_free(n);
            g_free(v);
            g_object_unref(name);
            g_object_unref(text);
        }
    }
    if (value)
        g_object_unref(value);
    call->done = true;
}

struct CookieCall
{
    bool done = false;
    String text;
};

void OnCookies(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* call = static_cast<CookieCall*>(data);
    GError* error = nullptr;
    GList* cookies = E.webkit_cookie_manager_get_cookies_finish(
        reinterpret_cast<WebKitCookieManager*>(source), result, &error);
    if (error)
        g_error_free(error);
    std::string text;
    for (GList* it = cookies; it; it = it->next)
    {
        auto* cookie = static_cast<SoupCookie*>(it->data);
        if (!text.empty())
            text += "; ";
        text += E.soup_cookie_get_name(cookie);
        text += "=";
        text += E.soup_cookie_get_value(cookie);
    }
    g_list_free_full(cookies, reinterpret_cast<GDestroyNotify>(E.soup_cookie_free));
    call->text = Wide(text.c_str());
    call->done = true;
}
} // namespace

std::vector<NamedValue> WebReadNamedValues(WindowId window, const String& tag)
{
    WebViewState* web = StateOf(window);
    if (!web || tag.empty() || web->readyState < 3)
        return {};
    std::string script = Replace(_NAMED_VALUES_SCRIPT, "__TAG__", JsString(Utf8(tag)));
    // The call object outlives a timed-out wait: the answer may still come later.
    auto* call = new ScriptCall;
    E.webkit_web_view_evaluate_javascript(web->view, script.c_str(), static_cast<gssize>(script.size()),
                                          _WORLD, nullptr, nullptr, OnNamedValues, call);
    guint tick = g_timeout_add(50, WakeEveryTick, nullptr);
    bool done = WaitFor(call->done);
    g_source_remove(tick);
    if (!done)
        return {};
    std::vector<NamedValue> values = std::move(call->values);
    delete call;
    return values;
}

String WebGetCookies(const String& url)
{
    if (!InitUi())
        return {};
    std::string address = Utf8(url);
    if (OriginOf(address).empty() || !BringUpEngine())
        return {};
    WebKitCookieManager* cookies = E.webkit_website_data_manager_get_cookie_manager(
        E.webkit_web_context_get_website_data_manager(Context()));
    auto* call = new CookieCall;
    E.webkit_cookie_manager_get_cookies(cookies, address.c_str(), nullptr, OnCookies, call);
    guint tick = g_timeout_add(50, WakeEveryTick, nullptr);
    bool done = WaitFor(call->done);
    g_source_remove(tick);
    if (!done)
        return {};
    String text = std::move(call->text);
    delete call;
    return text;
}

bool WebTranslateKey(const Message&)
{
    return false;
}

} // namespace Vexel::Ui
