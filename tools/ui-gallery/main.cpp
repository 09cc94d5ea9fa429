// A look at every kind of window the window-system layer makes: a captioned main window with a menu bar,
// a painted child, standard controls and a web view; a per-pixel-alpha window; a region-shaped window;
// a tool window; a tray icon and a global hot key (Ctrl+Alt+G). Messages it receives are printed.
//
//   ui-gallery [--seconds N]     quits by itself after N seconds when given
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"
#include "Platform/Ui/WebView.h"

#include "Common/StringEncoding.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using namespace Vexel;
using namespace Vexel::Ui;

namespace
{
constexpr _dword _CMD_MESSAGE_BOX = 2001;
constexpr _dword _CMD_QUIT = 2002;
constexpr _dword _CMD_ABOUT = 2003;
constexpr _dword _TIMER_ANIMATE = 1;
constexpr _dword _TIMER_QUIT = 2;

const _byte _ICON_PNG[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49,
                           0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06,
                           0x00, 0x00, 0x00, 0x7f, 0xa8, 0x7d, 0x63, 0x00, 0x00, 0x00, 0x1d, 0x49, 0x44,
                           0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xf0, 0x1f, 0x0c, 0x19, 0xfe,
                           0x83, 0x40, 0x03, 0x03, 0x14, 0xfc, 0xe7, 0x12, 0x91, 0x03, 0xf2, 0x19, 0x1c,
                           0x00, 0xfc, 0xff, 0x0d, 0xf0, 0x98, 0xd6, 0x11, 0xb7, 0x00, 0x00, 0x00, 0x00,
                           0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

const char* _PAGE = "data:text/html;charset=utf-8,"
                    "<html><body style='font-family:sans-serif;background:%23eef3f7'>"
                    "<h3>Web view</h3><p>A page shown by the web view.</p>"
                    "<input value='Backspace edits here'><param name='loader' value='demo'>"
                    "</body></html>";

std::unique_ptr<UiImage> gIcon;
WindowId gMain = 0;
WindowId gPainted = 0;
int gFrame = 0;
String gLast = u"(no message yet)";

void Note(const char* what, _dword message, WParam wParam)
{
    std::printf("%s: message 0x%x wParam 0x%lx\n", what, message, static_cast<unsigned long>(wParam));
    std::fflush(stdout);
    char text[128];
    std::snprintf(text, sizeof(text), "last: %s 0x%x (0x%lx)", what, message,
                  static_cast<unsigned long>(wParam));
    gLast = FromUtf8(text);
    InvalidateUiWindow(gPainted);
}

LResult PaintedHandler(WindowId w, _dword m, WParam wp, LParam lp)
{
    if (m == _WM_PAINT)
    {
        Rect client;
        GetClientBounds(w, client);
        Canvas canvas(client.Width(), client.Height());
        canvas.Clear(0xFF1E2A38);
        for (int i = 0; i < 6; ++i)
        {
            int x = 10 + i * 36;
            _dword colour = 0xFF000000 | ((40 * i) << 16) | (0x80 << 8) | (255 - 40 * i);
            canvas.FillRect(
                Rect::FromSize(x, 10 + static_cast<int>(8 * std::sin((gFrame + i) / 2.0)), 30, 30), colour);
        }
        canvas.FillRect({0, 60, client.Width(), 62}, 0x80FFFFFF);
        canvas.DrawString(u"Canvas: fills, images and text \u6587\u5b57", {10, 70, client.Width() - 10, 95},
                          FontSpec{u"Sans", 18, true}, 0xFFFFFFFF, _DT_LEFT);
        canvas.DrawString(u"Word-wrapped text in a rectangle, centred, in a named font with a pixel height.",
                          {10, 98, client.Width() - 10, 150}, FontSpec{u"Serif", 15}, 0xFFB0D0FF,
                          _DT_CENTER | _DT_WORDBREAK);
        if (gIcon)
            canvas.DrawImage(*gIcon, {10, 150, 90, 190});
        canvas.DrawString(gLast, {100, 160, client.Width() - 5, 190}, FontSpec{u"Monospace", 13}, 0xFFFFE080,
                          _DT_LEFT | _DT_VCENTER | _DT_SINGLELINE | _DT_END_ELLIPSIS);
        PresentCanvas(w, canvas);
        return 0;
    }
    if (m == _WM_LBUTTONDOWN)
        Note("painted child click", m, wp);
    return DefaultHandler(w, m, wp, lp);
}

LResult MainHandler(WindowId w, _dword m, WParam wp, LParam lp)
{
    switch (m)
    {
    case _WM_COMMAND:
        if (LowWord(wp) == _CMD_QUIT)
            PostQuit(0);
        else if (LowWord(wp) == _CMD_MESSAGE_BOX)
        {
            int answer = ShowMessageBox(w, u"A modal message box with Yes and No.", u"Gallery",
                                        _MB_YESNO | _MB_ICONQUESTION);
            Note(answer == _IDYES ? "box answered Yes" : "box answered No", m, static_cast<WParam>(answer));
        }
        else
            Note("command", m, wp);
        return 0;
    case _WM_HOTKEY:
        Note("global hot key", m, wp);
        return 0;
    case _WM_TRAYICON:
        Note("tray icon", m, static_cast<WParam>(lp));
        return 0;
    case _WM_TIMER:
        if (wp == _TIMER_QUIT)
            PostQuit(0);
        else
        {
            ++gFrame;
            InvalidateUiWindow(gPainted);
        }
        return 0;
    case _WM_CLOSE:
        PostQuit(0);
        return 0;
    case _WM_WEB_DOCUMENTCOMPLETE:
        Note("web document complete", m, 0);
        return 0;
    default:
        return DefaultHandler(w, m, wp, lp);
    }
}

LResult FramedHandler(WindowId w, _dword m, WParam wp, LParam lp)
{
    // A window with a title bar of its own: insets, caption hit test, drawn frame.
    if (m == _WM_PAINT || m == _WM_NCPAINT)
    {
        Rect bounds;
        GetWindowBounds(w, bounds);
        Canvas canvas(bounds.Width(), bounds.Height());
        canvas.Clear(0xFF806142);
        canvas.FillRect({3, 3, bounds.Width() - 3, 28}, 0xFF5A4027);
        canvas.DrawString(u"Own title bar (drag me)", {10, 3, bounds.Width() - 10, 28}, FontSpec{u"Sans", 15},
                          0xFFFFFFFF, _DT_LEFT | _DT_VCENTER | _DT_SINGLELINE);
        canvas.SetRect({3, 28, bounds.Width() - 3, bounds.Height() - 3}, 0xFFF4EEE6);
        canvas.DrawString(u"Tool window with frame insets",
                          {10, 40, bounds.Width() - 10, bounds.Height() - 10}, FontSpec{u"Sans", 14},
                          0xFF333333, _DT_WORDBREAK);
        PresentWindowCanvas(w, canvas);
        return 0;
    }
    return DefaultHandler(w, m, wp, lp);
}

WindowId MakeWindow(_dword style, _dword exStyle, const char16_t* title, int x, int y, int width, int height,
                    WindowId parent, WindowHandler handler)
{
    WindowParams p;
    p.style = style;
    p.exStyle = exStyle;
    p.title = title;
    p.x = x;
    p.y = y;
    p.width = width;
    p.height = height;
    p.parent = parent;
    p.handler = std::move(handler);
    return NewWindow(p);
}

void MakeAlphaWindow()
{
    WindowId w = MakeWindow(_WS_POPUP, _WS_EX_LAYERED | _WS_EX_TOOLWINDOW, u"Alpha", 720, 40, 220, 220, 0,
                            [](WindowId w, _dword m, WParam wp, LParam lp) -> LResult
                            {
                                if (m == _WM_NCHITTEST)
                                    return _HTCAPTION; // drag it anywhere
                                return DefaultHandler(w, m, wp, lp);
                            });
    Canvas canvas(220, 220);
    for (int y = 0; y < 220; ++y)
        for (int x = 0; x < 220; ++x)
        {
            double d = std::hypot(x - 110.0, y - 110.0);
            if (d < 100)
            {
                _dword alpha = static_cast<_dword>(255 - d * 1.8);
                canvas.SetRect({x, y, x + 1, y + 1}, (alpha << 24) | 0x2080E0);
            }
        }
    canvas.DrawString(u"per-pixel alpha", {0, 95, 220, 125}, FontSpec{u"Sans", 16, true}, 0xFFFFFFFF,
                      _DT_CENTER | _DT_VCENTER | _DT_SINGLELINE);
    ShowUiWindow(w, _SW_SHOWNA);
    PresentWindowCanvas(w, canvas);
}

void MakeShapedWindow()
{
    WindowId w = MakeWindow(_WS_POPUP, _WS_EX_TOOLWINDOW, u"Region", 720, 300, 220, 200, 0,
                            [](WindowId w, _dword m, WParam wp, LParam lp) -> LResult
                            {
                                if (m == _WM_PAINT)
                                {
                                    Canvas canvas(220, 200);
                                    canvas.Clear(0xFFD04020);
                                    canvas.DrawString(u"region", {0, 0, 220, 60}, FontSpec{u"Sans", 20, true},
                                                      0xFFFFFFFF, _DT_CENTER | _DT_VCENTER | _DT_SINGLELINE);
                                    PresentWindowCanvas(w, canvas);
                                    return 0;
                                }
                                if (m == _WM_NCHITTEST)
                                    return _HTCAPTION;
                                return DefaultHandler(w, m, wp, lp);
                            });
    SetWindowRegion(w, {{0, 0, 220, 60}, {0, 60, 60, 200}, {160, 60, 220, 200}});
    ShowUiWindow(w, _SW_SHOWNA);
}

void MakeFramedWindow()
{
    WindowId w = MakeWindow(_WS_POPUP | _WS_THICKFRAME, _WS_EX_TOOLWINDOW, u"Tool", 720, 540, 260, 140, 0,
                            FramedHandler);
    SetFrameInsets(w, Rect{3, 28, 3, 3});
    ShowUiWindow(w, _SW_SHOWNA);
}
} // namespace

int main(int argc, char** argv)
{
    int seconds = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
    if (!InitUi())
    {
        std::fprintf(stderr, "ui-gallery: no display\n");
        return 1;
    }
    std::string store = (std::filesystem::temp_directory_path() / "vexel-ui-gallery").string();
    InitWebViews(FromUtf8(store));
    gIcon = UiImage::Decode(_ICON_PNG, sizeof(_ICON_PNG));

    gMain = MakeWindow(_WS_OVERLAPPED | _WS_CAPTION | _WS_SYSMENU | _WS_MINIMIZEBOX, 0, u"Vexel UI gallery",
                       20, 20, 680, 720, 0, MainHandler);
    if (gIcon)
        SetWindowIconImage(gMain, *gIcon);

    MenuId bar = NewMenu();
    MenuId game = NewMenu();
    AppendMenuItem(game, 0, _CMD_MESSAGE_BOX, u"Message box...");
    AppendMenuSeparator(game);
    AppendMenuItem(game, 0, _CMD_QUIT, u"Quit");
    AppendSubMenu(bar, game, u"Game");
    AppendMenuItem(bar, 0, 1001, u"Refresh");
    AppendMenuItem(bar, _MF_RIGHTJUSTIFY, _CMD_ABOUT, u"About", gIcon.get());
    SetWindowMenuBar(gMain, bar);

    gPainted = MakeWindow(_WS_CHILD | _WS_VISIBLE, 0, u"", 10, 10, 640, 200, gMain, PaintedHandler);

    WindowId combo = NewControl(ControlKind::ComboBox, gMain, 1, u"VEXELCOMBOBOX", 10, 225, 200, 30);
    ComboAddItem(combo, u"Server one");
    ComboAddItem(combo, u"\u670d\u52a1\u5668\u4e8c");
    ComboSetSelection(combo, 0);
    SetControlFont(combo, FontSpec{u"Sans", 14});
    WindowId check = NewControl(ControlKind::CheckBox, gMain, 2, u"Boss key", 225, 228, 120, 24);
    SetCheckState(check, true);
    WindowId hotKey = NewControl(ControlKind::HotKeyBox, gMain, 3, u"VEXELHOTKEYBOX", 350, 225, 170, 30);
    SetHotKeyValue(hotKey, 'G' | ((_HOTKEYF_CONTROL | _HOTKEYF_ALT) << 8));
    NewControl(ControlKind::PushButton, gMain, _CMD_MESSAGE_BOX, u"Message box", 530, 225, 120, 30);

    WindowId web = MakeWindow(_WS_CHILD | _WS_VISIBLE, 0, u"", 10, 270, 640, 390, gMain, MainHandler);
    if (NewWebView(web))
    {
        WebSetOption(web, u'c', false);
        WebNavigate(web, FromUtf8(_PAGE));
    }

    MakeAlphaWindow();
    MakeShapedWindow();
    MakeFramedWindow();
    ShowUiWindow(gMain, _SW_SHOW);

    AddTrayIcon(gMain, 0, gIcon.get(), u"Vexel UI gallery");
    _dword modifiers = 0;
    _dword key = 0;
    HotKeyValueToRegistration(GetHotKeyValue(hotKey), modifiers, key);
    if (!RegisterGlobalHotKey(gMain, 0, modifiers, key))
        std::printf("hot key Ctrl+Alt+G is taken\n");
    SetUiTimer(gMain, _TIMER_ANIMATE, 100);
    if (seconds > 0)
        SetUiTimer(gMain, _TIMER_QUIT, static_cast<_dword>(seconds) * 1000);

    Message m;
    while (GetUiMessage(m))
    {
        TranslateUiMessage(m);
        DispatchUiMessage(m);
    }
    for (WindowId w : GetTopLevelWindows())
        DestroyUiWindow(w);
    return 0;
}
