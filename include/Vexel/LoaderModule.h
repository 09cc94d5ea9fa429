/*
 * LoaderModule.h: the interface a Vexel game module implements.
 *
 * A game module is a shared library (an ELF shared object on Linux, a DLL on Windows) that the Vexel
 * client downloads as "vexel3d.lod", verifies and loads into its own process. It exports the seven
 * functions below with C linkage under exactly these names; the client looks them up by name. This header
 * is all a module needs; it is valid C (C11 or later, for <uchar.h>) and C++.
 *
 * Calls. Every call comes from the client's main thread, one at a time, never re-entrantly:
 *
 *   1. _VexelCreate once, right after loading.
 *   2. _VexelSetup once per game parameter from the game page, in the page's order.
 *   3. Per frame of the client's main loop: _VexelUpdate, and _VexelRender when the update returned
 *      non-zero.
 *   4. _VexelMessage for the game window's input and focus messages, between frames. Messages arriving
 *      before the first frame has been rendered are dropped, a focus change among them: assume the
 *      focus until told otherwise.
 *   5. _VexelDelete once before the library is unloaded. The client may also unload a module at any
 *      time after _VexelCreate when the operator's block list bans it; _VexelDelete is still called.
 *
 * The game window. Every function that takes a window gets the game window: on Linux the X11 id of a
 * child window the client made for the game, on Windows its HWND (32 bits). The module draws into it
 * itself, on Linux through an X display connection of its own (XOpenDisplay(NULL) reaches the client's
 * display, as DISPLAY names it); the client draws nothing into the window after the first frame
 * rendered. The window's size can change; read it when you need it.
 *
 * Texts are NUL-terminated UTF-16 (char16_t), valid only for the duration of the call.
 *
 * Messages use Windows' numbers and parameter packing on every system; the numbers the client sends
 * are defined below (VEXEL_WM_..., VEXEL_VK_...).
 */
#ifndef VEXEL_LOADER_MODULE_H
#define VEXEL_LOADER_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
#define VEXEL_EXTERN_C extern "C"
#else
#include <uchar.h>
#define VEXEL_EXTERN_C
#endif

/* Put in front of each of the seven definitions in the module. */
#if defined(_WIN32)
#define VEXEL_MODULE_EXPORT VEXEL_EXTERN_C __declspec(dllexport)
#elif defined(__GNUC__)
#define VEXEL_MODULE_EXPORT VEXEL_EXTERN_C __attribute__((visibility("default")))
#else
#define VEXEL_MODULE_EXPORT VEXEL_EXTERN_C
#endif

#ifdef __cplusplus
extern "C"
{
#endif

    /*
     * _VexelCreate: creates the game for the game window. The client passes three empty texts and 1; their
     * meaning is the module's own (kept for modules that want start-up texts and a flag). Return non-zero on
     * success; zero means the game could not start, and no further call follows except _VexelDelete.
     */
    int _VexelCreate(uint32_t gameWindow, const char16_t* text1, const char16_t* text2, const char16_t* text3,
                     int flag);

    /* _VexelDelete: ends the game and releases everything it holds; the library is unloaded next. */
    void _VexelDelete(uint32_t gameWindow);

    /*
     * _VexelSetup: one game parameter (name and value) from the game page, after _VexelCreate and before the
     * first frame. Names and values are the operator's and reach the module as the game page gave them. (A
     * host without the micro client's start-up marker, the environment variable "[MICRO-CLIENT]" set to a
     * non-zero number, adds the text "pluginver|0x00010004" to the parameter named "foaparam", separated by
     * "|" from any value the page gave; this client sets that marker when it starts, so it never adds it.)
     */
    void _VexelSetup(const char16_t* name, const char16_t* value);

    /*
     * _VexelUpdate: one frame's worth of game time. elapsedMs is the time since the previous frame in
     * milliseconds (since _VexelCreate for the first one). Return non-zero when a frame is ready to be drawn;
     * the client then calls _VexelRender. Until the first non-zero result the client shows its loading
     * screen in the window. The client does not pace frames for the module; a module that wants a steady
     * frame rate keeps its own clock.
     */
    int _VexelUpdate(uint32_t gameWindow, int elapsedMs);

    /* _VexelRender: draws the frame prepared by the last _VexelUpdate into the game window. */
    void _VexelRender(uint32_t gameWindow);

    /*
     * _VexelMessage: a window message for the game window; return the message's result (0 when unused).
     * Parameters are packed as on Windows:
     *
     *   VEXEL_WM_ACTIVATE     wParam 1 when the game window gained the keyboard focus, 0 when it lost it;
     *                         lParam 0. The client sends it whenever the focus changes.
     *   VEXEL_WM_KEYDOWN/UP,  wParam the virtual-key code (VEXEL_VK_..., letters and digits as their
     *   ..._SYSKEYDOWN/UP     upper-case ASCII codes); lParam bits 0-15 the repeat count, 16-23 the scan
     *                         code, 24 extended key, 29 Alt held, 30 the key was down before, 31 released.
     *   VEXEL_WM_CHAR         wParam one UTF-16 code unit of the typed text; lParam as for the key.
     *   VEXEL_WM_MOUSEMOVE,   lParam the pointer position in the game window's client coordinates: x in
     *   ..._xBUTTONDOWN/UP,   the low 16 bits, y in the high 16 bits, each signed (VEXEL_GET_X_LPARAM,
     *   ..._xBUTTONDBLCLK     VEXEL_GET_Y_LPARAM); wParam the buttons and keys held (VEXEL_MK_...).
     *   VEXEL_WM_MOUSEWHEEL   wParam high 16 bits the signed wheel distance in multiples of 120 (positive
     *                         away from the user), low 16 bits VEXEL_MK_...; lParam the pointer position in
     *                         screen coordinates, packed as above.
     *   VEXEL_WM_SIZE         lParam the new client width (low 16 bits) and height (high 16 bits).
     */
    intptr_t _VexelMessage(uint32_t gameWindow, uint32_t message, uintptr_t wParam, intptr_t lParam);

    /* _VexelProgress: optional. The client looks it up and keeps it but never calls it. */
    void _VexelProgress(void);

#ifdef __cplusplus
}
#endif

/* The client's view of the exports, for hosts and tests that load a module. */
typedef int (*VexelCreateFunc)(uint32_t, const char16_t*, const char16_t*, const char16_t*, int);
typedef void (*VexelDeleteFunc)(uint32_t);
typedef void (*VexelSetupFunc)(const char16_t*, const char16_t*);
typedef int (*VexelUpdateFunc)(uint32_t, int);
typedef void (*VexelRenderFunc)(uint32_t);
typedef intptr_t (*VexelMessageFunc)(uint32_t, uint32_t, uintptr_t, intptr_t);
typedef void (*VexelProgressFunc)(void);

#define VEXEL_EXPORT_CREATE "_VexelCreate"
#define VEXEL_EXPORT_DELETE "_VexelDelete"
#define VEXEL_EXPORT_SETUP "_VexelSetup"
#define VEXEL_EXPORT_UPDATE "_VexelUpdate"
#define VEXEL_EXPORT_RENDER "_VexelRender"
#define VEXEL_EXPORT_MESSAGE "_VexelMessage"
#define VEXEL_EXPORT_PROGRESS "_VexelProgress"

/* Window messages (Windows' numbers). */
#define VEXEL_WM_SIZE 0x0005u
#define VEXEL_WM_ACTIVATE 0x0006u
#define VEXEL_WM_SETFOCUS 0x0007u
#define VEXEL_WM_KILLFOCUS 0x0008u
#define VEXEL_WM_KEYDOWN 0x0100u
#define VEXEL_WM_KEYUP 0x0101u
#define VEXEL_WM_CHAR 0x0102u
#define VEXEL_WM_SYSKEYDOWN 0x0104u
#define VEXEL_WM_SYSKEYUP 0x0105u
#define VEXEL_WM_SYSCHAR 0x0106u
#define VEXEL_WM_MOUSEMOVE 0x0200u
#define VEXEL_WM_LBUTTONDOWN 0x0201u
#define VEXEL_WM_LBUTTONUP 0x0202u
#define VEXEL_WM_LBUTTONDBLCLK 0x0203u
#define VEXEL_WM_RBUTTONDOWN 0x0204u
#define VEXEL_WM_RBUTTONUP 0x0205u
#define VEXEL_WM_RBUTTONDBLCLK 0x0206u
#define VEXEL_WM_MBUTTONDOWN 0x0207u
#define VEXEL_WM_MBUTTONUP 0x0208u
#define VEXEL_WM_MBUTTONDBLCLK 0x0209u
#define VEXEL_WM_MOUSEWHEEL 0x020Au

/* VEXEL_WM_ACTIVATE wParam. */
#define VEXEL_WA_INACTIVE 0
#define VEXEL_WA_ACTIVE 1

/* Buttons and keys held, in mouse messages' wParam. */
#define VEXEL_MK_LBUTTON 0x0001u
#define VEXEL_MK_RBUTTON 0x0002u
#define VEXEL_MK_SHIFT 0x0004u
#define VEXEL_MK_CONTROL 0x0008u
#define VEXEL_MK_MBUTTON 0x0010u

#define VEXEL_WHEEL_DELTA 120

/* Virtual-key codes (Windows' numbers); 'A'..'Z' and '0'..'9' are their ASCII codes. */
#define VEXEL_VK_BACK 0x08u
#define VEXEL_VK_TAB 0x09u
#define VEXEL_VK_RETURN 0x0Du
#define VEXEL_VK_SHIFT 0x10u
#define VEXEL_VK_CONTROL 0x11u
#define VEXEL_VK_MENU 0x12u
#define VEXEL_VK_ESCAPE 0x1Bu
#define VEXEL_VK_SPACE 0x20u
#define VEXEL_VK_PRIOR 0x21u
#define VEXEL_VK_NEXT 0x22u
#define VEXEL_VK_END 0x23u
#define VEXEL_VK_HOME 0x24u
#define VEXEL_VK_LEFT 0x25u
#define VEXEL_VK_UP 0x26u
#define VEXEL_VK_RIGHT 0x27u
#define VEXEL_VK_DOWN 0x28u
#define VEXEL_VK_INSERT 0x2Du
#define VEXEL_VK_DELETE 0x2Eu
#define VEXEL_VK_F1 0x70u

/* Unpacking and packing message parameters. */
#define VEXEL_GET_X_LPARAM(lp) ((int)(int16_t)((uintptr_t)(lp)&0xFFFFu))
#define VEXEL_GET_Y_LPARAM(lp) ((int)(int16_t)(((uintptr_t)(lp) >> 16) & 0xFFFFu))
#define VEXEL_GET_WHEEL_DELTA_WPARAM(wp) ((int)(int16_t)(((uintptr_t)(wp) >> 16) & 0xFFFFu))
#define VEXEL_MAKE_LPARAM(low, high)                                                                         \
    ((intptr_t)(uint32_t)(((uint32_t)(low)&0xFFFFu) | ((uint32_t)(high) << 16)))

#endif /* VEXEL_LOADER_MODULE_H */
