/*
 * A small game module for the Vexel client, built only against Vexel/LoaderModule.h: an animated night
 * sky with a ship the player moves with the arrow keys or by clicking (and dragging) the mouse. It shows
 * what the client handed it (the create arguments and every parameter) and its frame rate.
 *
 * It draws with cairo into memory and sends the finished frame to the game window through a display
 * connection of its own, at a steady 60 frames a second whatever rate the client calls it
 * at. The ship is filled with one colour (0xFF40A0) used nowhere else, so a test can find it on screen.
 */
#include "DemoScene.h"
#include "Vexel/LoaderModule.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_PARAMS 24
#define TEXT_BYTES 160

typedef struct
{
    char name[TEXT_BYTES];
    char value[TEXT_BYTES];
} Param;

typedef struct
{
    Display* display;
    Window window;
    GC gc;
    Visual* visual;
    int depth;
    cairo_surface_t* surface; /* the frame, drawn in memory */
    XImage* image;            /* the same pixels as the server takes them */

    char createTexts[3][TEXT_BYTES];
    int createFlag;
    Param params[MAX_PARAMS];
    int paramCount;

    double fpsWindowStart;
    unsigned long fpsWindowFrames;
    double fps;

    Scene scene; /* its size is the frame buffer's */
} Game;

static Game* gGame;

/* Errors on the module's own connection (a window that went away) are noted, never fatal: the default
 * handler would end the client's whole process. The handler is the process's, so it is only in place
 * while the module runs. */
static int gXError;
static int TrapError(Display* display, XErrorEvent* event)
{
    (void)display;
    gXError = event->error_code;
    return 0;
}

typedef int (*ErrorHandler)(Display*, XErrorEvent*);
static ErrorHandler EnterX(void)
{
    gXError = 0;
    return XSetErrorHandler(TrapError);
}
static void LeaveX(ErrorHandler previous)
{
    XSetErrorHandler(previous);
}

/* UTF-16 to UTF-8, cut to the buffer; unpaired surrogates become U+FFFD. */
static void ToUtf8(const char16_t* text, char* out, size_t size)
{
    size_t at = 0;
    out[0] = 0;
    if (!text)
        return;
    for (; *text; ++text)
    {
        unsigned long c = *text;
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        }
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        char bytes[4];
        size_t n;
        if (c < 0x80)
            bytes[0] = (char)c, n = 1;
        else if (c < 0x800)
            bytes[0] = (char)(0xC0 | c >> 6), bytes[1] = (char)(0x80 | (c & 0x3F)), n = 2;
        else if (c < 0x10000)
            bytes[0] = (char)(0xE0 | c >> 12), bytes[1] = (char)(0x80 | ((c >> 6) & 0x3F)),
            bytes[2] = (char)(0x80 | (c & 0x3F)), n = 3;
        else
            bytes[0] = (char)(0xF0 | c >> 18), bytes[1] = (char)(0x80 | ((c >> 12) & 0x3F)),
            bytes[2] = (char)(0x80 | ((c >> 6) & 0x3F)), bytes[3] = (char)(0x80 | (c & 0x3F)), n = 4;
        if (at + n + 1 > size)
            break;
        memcpy(out + at, bytes, n);
        at += n;
    }
    out[at] = 0;
}

static void FreeBuffer(Game* game)
{
    if (game->image)
    {
        game->image->data = NULL; /* cairo's */
        XDestroyImage(game->image);
    }
    if (game->surface)
        cairo_surface_destroy(game->surface);
    game->image = NULL;
    game->surface = NULL;
}

/* The frame is drawn in memory and sent whole; that keeps the drawing library's state independent of
 * the connection. 32-bit pixels as cairo makes them match 24- and 32-bit true-colour visuals; other
 * windows are left undrawn. The buffer follows the window's size. */
static int PrepareBuffer(Game* game)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(game->display, game->window, &attributes) || gXError)
        return 0;
    if (attributes.width < 1 || attributes.height < 1)
        return 0;
    Scene* scene = &game->scene;
    if (game->surface && attributes.width == scene->width && attributes.height == scene->height)
        return 1;
    FreeBuffer(game);
    scene->width = attributes.width;
    scene->height = attributes.height;
    Visual* visual = attributes.visual;
    if ((attributes.depth != 24 && attributes.depth != 32) || visual->red_mask != 0xFF0000 ||
        visual->green_mask != 0x00FF00 || visual->blue_mask != 0x0000FF)
        return 0;
    game->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, scene->width, scene->height);
    if (cairo_surface_status(game->surface) != CAIRO_STATUS_SUCCESS)
        return 0;
    game->image = XCreateImage(game->display, visual, (unsigned)attributes.depth, ZPixmap, 0,
                               (char*)cairo_image_surface_get_data(game->surface), (unsigned)scene->width,
                               (unsigned)scene->height, 32, cairo_image_surface_get_stride(game->surface));
    if (game->image)
    {
        /* cairo's pixels are 32-bit words in the machine's byte order. */
        const uint32_t one = 1;
        game->image->byte_order = *(const unsigned char*)&one ? LSBFirst : MSBFirst;
    }
    return game->image != NULL;
}

VEXEL_MODULE_EXPORT int _VexelCreate(uint32_t gameWindow, const char16_t* text1, const char16_t* text2,
                                     const char16_t* text3, int flag)
{
    if (gGame)
        return 0; /* one game per process */
    Game* game = (Game*)calloc(1, sizeof(Game));
    if (!game)
        return 0;
    game->display = XOpenDisplay(NULL);
    if (!game->display)
    {
        free(game);
        return 0;
    }
    game->window = (Window)gameWindow;
    ErrorHandler previous = EnterX();
    XWindowAttributes attributes;
    int exists = XGetWindowAttributes(game->display, game->window, &attributes) && !gXError;
    if (exists)
        game->gc = XCreateGC(game->display, game->window, 0, NULL);
    XSync(game->display, False);
    exists = exists && !gXError;
    LeaveX(previous);
    if (!exists)
    {
        XCloseDisplay(game->display);
        free(game);
        return 0;
    }
    ToUtf8(text1, game->createTexts[0], TEXT_BYTES);
    ToUtf8(text2, game->createTexts[1], TEXT_BYTES);
    ToUtf8(text3, game->createTexts[2], TEXT_BYTES);
    game->createFlag = flag;
    SceneStart(&game->scene);
    gGame = game;
    return 1;
}

VEXEL_MODULE_EXPORT void _VexelDelete(uint32_t gameWindow)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game)
        return;
    ErrorHandler previous = EnterX();
    /* cairo keeps per-connection state (and glyphs cached for it) until its device is finished. */
    cairo_device_t* device =
        game->surface ? cairo_device_reference(cairo_surface_get_device(game->surface)) : NULL;
    FreeBuffer(game);
    if (device)
    {
        cairo_device_finish(device);
        cairo_device_destroy(device);
    }
    if (game->gc)
        XFreeGC(game->display, game->gc);
    XSync(game->display, False);
    LeaveX(previous);
    XCloseDisplay(game->display);
    free(game);
    gGame = NULL;
}

VEXEL_MODULE_EXPORT void _VexelSetup(const char16_t* name, const char16_t* value)
{
    Game* game = gGame;
    if (!game || game->paramCount >= MAX_PARAMS)
        return;
    Param* param = &game->params[game->paramCount++];
    ToUtf8(name, param->name, TEXT_BYTES);
    ToUtf8(value, param->value, TEXT_BYTES);
}

VEXEL_MODULE_EXPORT int _VexelUpdate(uint32_t gameWindow, int elapsedMs)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game)
        return 0;
    Scene* scene = &game->scene;
    if (scene->width == 0)
    {
        /* The size is needed to place the ship before the first step. */
        ErrorHandler previous = EnterX();
        XWindowAttributes attributes;
        if (XGetWindowAttributes(game->display, game->window, &attributes) && !gXError)
            scene->width = attributes.width, scene->height = attributes.height;
        LeaveX(previous);
    }
    return SceneAdvance(scene, elapsedMs);
}

static void DrawScene(const Scene* scene, cairo_t* cr)
{
    const double w = scene->width, h = scene->height, t = scene->clock;

    /* Sky, slowly changing hue. */
    cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.02, 0.03 + 0.03 * sin(t * 0.3), 0.12);
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.10 + 0.05 * sin(t * 0.5), 0.12, 0.30);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);

    for (int i = 0; i < STARS; ++i)
    {
        double glow = 0.5 + 0.5 * sin(t * 2.0 + scene->starPhase[i]);
        cairo_set_source_rgb(cr, 0.6 + 0.4 * glow, 0.7 + 0.3 * glow, 0.8);
        cairo_arc(cr, scene->starX[i] * w, scene->starY[i] * h, 0.8 + 1.2 * glow, 0, 2 * DEMO_PI);
        cairo_fill(cr);
    }

    /* A slowly turning ring of blocks in the middle. */
    cairo_save(cr);
    cairo_translate(cr, w / 2, h * 0.42);
    cairo_rotate(cr, t * 0.8);
    for (int i = 0; i < 12; ++i)
    {
        cairo_rotate(cr, 2 * DEMO_PI / 12);
        double pulse = 0.5 + 0.5 * sin(t * 3.0 + i);
        cairo_set_source_rgba(cr, 0.2 + 0.6 * pulse, 0.8, 0.4 + 0.4 * (1 - pulse), 0.9);
        cairo_rectangle(cr, 60, -8, 22 + 10 * pulse, 16);
        cairo_fill(cr);
    }
    cairo_restore(cr);

    /* Ground with scrolling stripes. */
    cairo_set_source_rgb(cr, 0.05, 0.22, 0.12);
    cairo_rectangle(cr, 0, h - 24, w, 24);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.10, 0.35, 0.18);
    for (double x = fmod(-t * 80.0, 40.0) - 40.0; x < w; x += 40.0)
    {
        cairo_rectangle(cr, x, h - 24, 20, 24);
        cairo_fill(cr);
    }

    /* Where a click sends the ship. */
    if (scene->chasing)
    {
        cairo_set_source_rgba(cr, 1, 1, 1, 0.6);
        cairo_set_line_width(cr, 2);
        cairo_arc(cr, scene->targetX, scene->targetY, 8 + 3 * sin(t * 10), 0, 2 * DEMO_PI);
        cairo_stroke(cr);
    }

    /* The ship: one flat colour, no edge smoothing, so it can be found pixel by pixel. */
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_translate(cr, scene->shipX, scene->shipY);
    cairo_set_source_rgb(cr, 1.0, 64 / 255.0, 160 / 255.0);
    cairo_arc(cr, 0, 0, SHIP_RADIUS, 0, 2 * DEMO_PI);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_arc(cr, scene->shipX + cos(scene->heading) * SHIP_RADIUS * 0.6,
              scene->shipY + sin(scene->heading) * SHIP_RADIUS * 0.6, 3, 0, 2 * DEMO_PI);
    cairo_fill(cr);
}

static void DrawText(Game* game, cairo_t* cr)
{
    char line[3 * TEXT_BYTES + 64];
    double y = 20;
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 15);
    cairo_set_source_rgb(cr, 1, 0.85, 0.3);
    cairo_move_to(cr, 10, y);
    cairo_show_text(cr, "Vexel demo game");

    cairo_select_font_face(cr, "monospace", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    cairo_set_source_rgb(cr, 0.9, 0.9, 0.95);
    snprintf(line, sizeof line, "%.0f fps  frame %lu  %s  messages %lu", game->fps, game->scene.frames,
             game->scene.focused ? "focused" : "in background", game->scene.messages);
    cairo_move_to(cr, 10, y += 18);
    cairo_show_text(cr, line);
    snprintf(line, sizeof line, "create(\"%s\", \"%s\", \"%s\", %d)", game->createTexts[0],
             game->createTexts[1], game->createTexts[2], game->createFlag);
    cairo_move_to(cr, 10, y += 15);
    cairo_show_text(cr, line);
    for (int i = 0; i < game->paramCount; ++i)
    {
        snprintf(line, sizeof line, "%s = %s", game->params[i].name, game->params[i].value);
        cairo_move_to(cr, 10, y += 14);
        cairo_show_text(cr, line);
    }
    cairo_set_source_rgba(cr, 1, 1, 1, 0.7);
    cairo_move_to(cr, 10, game->scene.height - 32);
    cairo_show_text(cr, "arrow keys or mouse: move the ship");
}

VEXEL_MODULE_EXPORT void _VexelRender(uint32_t gameWindow)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game)
        return;
    ErrorHandler previous = EnterX();
    if (PrepareBuffer(game))
    {
        const Scene* scene = &game->scene;
        ++game->scene.frames;
        ++game->fpsWindowFrames;
        if (scene->clock - game->fpsWindowStart >= 1.0)
        {
            game->fps = game->fpsWindowFrames / (scene->clock - game->fpsWindowStart);
            game->fpsWindowStart = scene->clock;
            game->fpsWindowFrames = 0;
        }
        cairo_t* cr = cairo_create(game->surface);
        DrawScene(scene, cr);
        DrawText(game, cr);
        cairo_destroy(cr);
        cairo_surface_flush(game->surface);
        XPutImage(game->display, game->window, game->gc, game->image, 0, 0, 0, 0, (unsigned)scene->width,
                  (unsigned)scene->height);
        /* Wait until the server has the frame: never more than one frame queued ahead of the screen. */
        XSync(game->display, False);
    }
    LeaveX(previous);
}

VEXEL_MODULE_EXPORT intptr_t _VexelMessage(uint32_t gameWindow, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam)
{
    (void)gameWindow;
    return gGame ? SceneMessage(&gGame->scene, message, wParam, lParam) : 0;
}

VEXEL_MODULE_EXPORT void _VexelProgress(void) {}
