// The _Launcher members of web windows: the pages of addWebWindow, the instant-message and video pop-ups'
// looks, navigation of the main page and the desktop's browser.
#include "Binding/ScriptNatives.h"

#include "Flow/Commands.h"
#include "Flow/MainLoop.h"
#include "Frames/WebWindow.h"

namespace Vexel
{

namespace
{

LAUNCHER_NATIVE(Browse)
{
    String url = ArgText(m, 0);
    if (!url.empty())
        BrowseUrl(url);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(AddWebWindow)
{
    FrameWindow* frame = GetFrame(state, ArgDword(m, 7));
    if (!frame)
        return m.ReturnNothing();
    state.mStartMode = 1;
    int x = ArgInt(m, 0), y = ArgInt(m, 1), w = ArgInt(m, 2), h = ArgInt(m, 3);
    PageEntry page;
    page.mId = -1;
    page.mSlot = frame->mIndex;
    page.mRect = Ui::Rect::FromSize(x, y, w, h);
    page.mUrl = ArgText(m, 4);
    page.mKind = ArgDword(m, 5);
    page.mShowOnLoad = ArgBool(m, 6);
    frame->mWebActive = false;
    if (x != 0 || y != 0)
    {
        frame->mWebRect.left = x;
        frame->mWebRect.top = y;
    }
    if (w != 0 || h != 0)
    {
        frame->mWebRect.right = w;
        frame->mWebRect.bottom = h;
    }
    state.mPages.push_back(page);
    state.mPageUrl = page.mUrl;
    AddPageWindow(state, state.mPages.back());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetIMParams)
{
    state.mImX = ArgDword(m, 0);
    state.mImY = ArgDword(m, 1);
    state.mImW = ArgDword(m, 2);
    state.mImH = ArgDword(m, 3);
    state.mImBorder = ArgDword(m, 4);
    state.mImTitleColor = ArgDword(m, 5);
    state.mImTitleFont = ArgText(m, 6);
    state.mImTitleSuffix = ArgText(m, 7);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetIMTitleBg)
{
    state.mImTitleBg = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetIMCloseButton)
{
    state.mImCloseNormal = ArgText(m, 0);
    state.mImCloseHover = ArgText(m, 1);
    state.mImCloseX = ArgDword(m, 2);
    state.mImCloseY = ArgDword(m, 3);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetVideoParams)
{
    state.mVideoBorder = ArgDword(m, 0);
    state.mVideoTitleColor = ArgDword(m, 1);
    state.mVideoTitleFont = ArgText(m, 2);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetVideoTitleBg)
{
    state.mVideoTitleBg = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetVideoCloseButton)
{
    state.mVideoCloseNormal = ArgText(m, 0);
    state.mVideoCloseHover = ArgText(m, 1);
    state.mVideoCloseX = ArgDword(m, 2);
    state.mVideoCloseY = ArgDword(m, 3);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GotoURL)
{
    for (const auto& page : state.mPages)
        if (page.mId == -1 && page.mWeb)
        {
            NavigateWeb(*page.mWeb, ArgText(m, 0));
            break;
        }
    return m.ReturnNothing();
}

} // namespace

void AddPageMembers(IScriptManager& m)
{
    static constexpr Member methods[] = {
        {u"browse", &_NATIVE_Browse},
        {u"addWebWindow", &_NATIVE_AddWebWindow},
        {u"setIMParams", &_NATIVE_SetIMParams},
        {u"setIMTitleBg", &_NATIVE_SetIMTitleBg},
        {u"setIMCloseButton", &_NATIVE_SetIMCloseButton},
        {u"setVideoParams", &_NATIVE_SetVideoParams},
        {u"setVideoTitleBg", &_NATIVE_SetVideoTitleBg},
        {u"setVideoCloseButton", &_NATIVE_SetVideoCloseButton},
        {u"gotoURL", &_NATIVE_GotoURL},
    };
    AddMethods(m, methods);
}

} // namespace Vexel
