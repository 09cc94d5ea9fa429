// Stand-in for the web view until its Windows implementation is merged: every call reports failure.
#include "Platform/Ui/WebView.h"

namespace Vexel::Ui
{

bool InitWebViews(const String&)
{
    return false;
}
bool NewWebView(WindowId)
{
    return false;
}
bool HasWebView(WindowId)
{
    return false;
}
bool DestroyWebView(WindowId)
{
    return false;
}
int WebNavigate(WindowId, const String&)
{
    return -1;
}
bool WebRefresh(WindowId)
{
    return false;
}
bool WebStop(WindowId)
{
    return false;
}
String WebCurrentUrl(WindowId)
{
    return {};
}
int WebReadyState(WindowId)
{
    return 0;
}
bool WebIsDocumentReady(WindowId)
{
    return false;
}
bool WebSetOption(WindowId, char16_t, bool)
{
    return false;
}
bool WebGetOption(WindowId, char16_t)
{
    return false;
}
bool WebAllowOrigin(WindowId, const String&)
{
    return false;
}
std::vector<NamedValue> WebReadNamedValues(WindowId, const String&)
{
    return {};
}
String WebGetCookies(const String&)
{
    return {};
}
bool WebTranslateKey(const Message&)
{
    return false;
}

} // namespace Vexel::Ui
