/*
 * The demo game module as a Windows DLL, built only against Vexel/LoaderModule.h: the same night sky,
 * ring and ship as on Linux, drawn with GDI into a bitmap in memory and copied to the game window (an
 * HWND) whole. The ship is filled with one colour (0xFF40A0) used nowhere else, so a test can find it on
 * screen.
 */
#include "DemoScene.h"
#include "Vexel/LoaderModule.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define MAX_PARAMS 24
#define TEXT_CHARS 160

typedef struct
{
    HWND window;
    HDC memory;       /* the frame, drawn in memory */
    HBITMAP bitmap;   /* selected into memory */
    HGDIOBJ original; /* the bitmap memory came with */

    wchar_t params[MAX_PARAMS][TEXT_CHARS];
    int paramCount;

    Scene scene; /* its size is the frame buffer's */
} Game;

static Game* gGame;

static void FreeBuffer(Game* game)
{
    if (game->memory)
    {
        SelectObject(game->memory, game->original);
        DeleteDC(game->memory);
    }
    if (game->bitmap)
        DeleteObject(game->bitmap);
    game->memory = NULL;
    game->bitmap = NULL;
}

/* The buffer follows the window's client size. */
static int PrepareBuffer(Game* game)
{
    RECT client;
    if (!GetClientRect(game->window, &client) || client.right < 1 || client.bottom < 1)
        return 0;
    if (game->memory && client.right == game->scene.width && client.bottom == game->scene.height)
        return 1;
    FreeBuffer(game);
    HDC screen = GetDC(game->window);
    if (!screen)
        return 0;
    game->memory = CreateCompatibleDC(screen);
    game->bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    ReleaseDC(game->window, screen);
    if (!game->memory || !game->bitmap)
    {
        FreeBuffer(game);
        return 0;
    }
    game->original = SelectObject(game->memory, game->bitmap);
    game->scene.width = client.right;
    game->scene.height = client.bottom;
    return 1;
}

VEXEL_MODULE_EXPORT int _VexelCreate(uint32_t gameWindow, const char16_t* text1, const char16_t* text2,
                                     const char16_t* text3, int flag)
{
    (void)text1, (void)text2, (void)text3, (void)flag;
    HWND window = (HWND)(uintptr_t)gameWindow;
    if (gGame || !IsWindow(window))
        return 0; /* one game per process, in a window that exists */
    Game* game = (Game*)calloc(1, sizeof(Game));
    if (!game)
        return 0;
    game->window = window;
    SceneStart(&game->scene);
    gGame = game;
    return 1;
}

VEXEL_MODULE_EXPORT void _VexelDelete(uint32_t gameWindow)
{
    (void)gameWindow;
    if (!gGame)
        return;
    FreeBuffer(gGame);
    free(gGame);
    gGame = NULL;
}

VEXEL_MODULE_EXPORT void _VexelSetup(const char16_t* name, const char16_t* value)
{
    Game* game = gGame;
    if (!game || game->paramCount >= MAX_PARAMS)
        return;
    /* char16_t and wchar_t are both UTF-16 here. */
    _snwprintf(game->params[game->paramCount], TEXT_CHARS - 1, L"%ls = %ls", (const wchar_t*)name,
               (const wchar_t*)value);
    game->params[game->paramCount++][TEXT_CHARS - 1] = 0;
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
        RECT client;
        if (GetClientRect(game->window, &client))
            scene->width = client.right, scene->height = client.bottom;
    }
    return SceneAdvance(scene, elapsedMs);
}

static void Fill(HDC dc, int x, int y, int w, int h, COLORREF colour)
{
    RECT r = {x, y, x + w, y + h};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void Disc(HDC dc, double x, double y, double radius, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Ellipse(dc, (int)(x - radius), (int)(y - radius), (int)(x + radius) + 1, (int)(y + radius) + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
}

static void DrawScene(const Scene* scene, HDC dc)
{
    const int w = scene->width, h = scene->height;
    const double t = scene->clock;

    /* Sky in bands, slowly changing hue. */
    for (int band = 0; band < 16; ++band)
    {
        double f = band / 15.0;
        int r = (int)(255 * (0.02 + f * (0.08 + 0.05 * sin(t * 0.5))));
        int g = (int)(255 * (0.03 + 0.03 * sin(t * 0.3) + f * 0.09));
        int b = (int)(255 * (0.12 + f * 0.18));
        Fill(dc, 0, h * band / 16, w, h / 16 + 1, RGB(r, g, b));
    }
    for (int i = 0; i < STARS; ++i)
    {
        double glow = 0.5 + 0.5 * sin(t * 2.0 + scene->starPhase[i]);
        Disc(dc, scene->starX[i] * w, scene->starY[i] * h, 0.8 + 1.2 * glow,
             RGB((int)(255 * (0.6 + 0.4 * glow)), (int)(255 * (0.7 + 0.3 * glow)), 204));
    }

    /* A slowly turning ring of blocks in the middle. */
    for (int i = 0; i < 12; ++i)
    {
        double angle = t * 0.8 + (i + 1) * 2 * DEMO_PI / 12, pulse = 0.5 + 0.5 * sin(t * 3.0 + i);
        double c = cos(angle), s = sin(angle), length = 22 + 10 * pulse;
        double corners[4][2] = {{60, -8}, {60 + length, -8}, {60 + length, 8}, {60, 8}};
        POINT points[4];
        for (int k = 0; k < 4; ++k)
        {
            points[k].x = (LONG)(w / 2.0 + corners[k][0] * c - corners[k][1] * s);
            points[k].y = (LONG)(h * 0.42 + corners[k][0] * s + corners[k][1] * c);
        }
        HBRUSH brush = CreateSolidBrush(
            RGB((int)(255 * (0.2 + 0.6 * pulse)), 204, (int)(255 * (0.4 + 0.4 * (1 - pulse)))));
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
        Polygon(dc, points, 4);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
    }

    /* Ground with scrolling stripes. */
    Fill(dc, 0, h - 24, w, 24, RGB(13, 56, 31));
    for (double x = fmod(-t * 80.0, 40.0) - 40.0; x < w; x += 40.0)
        Fill(dc, (int)x, h - 24, 20, 24, RGB(26, 89, 46));

    /* The ship: one flat colour. */
    Disc(dc, scene->shipX, scene->shipY, SHIP_RADIUS, RGB(0xFF, 0x40, 0xA0));
}

static void DrawLines(Game* game, HDC dc)
{
    wchar_t line[TEXT_CHARS + 64];
    int y = 8;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 217, 77));
    TextOutW(dc, 10, y, L"Vexel demo game", 15);
    SetTextColor(dc, RGB(230, 230, 242));
    int n = _snwprintf(line, TEXT_CHARS, L"frame %lu  %ls  messages %lu", game->scene.frames,
                       game->scene.focused ? L"focused" : L"in background", game->scene.messages);
    TextOutW(dc, 10, y += 20, line, n > 0 ? n : 0);
    for (int i = 0; i < game->paramCount; ++i)
        TextOutW(dc, 10, y += 16, game->params[i], (int)wcslen(game->params[i]));
    TextOutW(dc, 10, game->scene.height - 44, L"arrow keys or mouse: move the ship", 34);
}

VEXEL_MODULE_EXPORT void _VexelRender(uint32_t gameWindow)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game || !PrepareBuffer(game))
        return;
    ++game->scene.frames;
    DrawScene(&game->scene, game->memory);
    DrawLines(game, game->memory);
    HDC dc = GetDC(game->window);
    if (dc)
    {
        BitBlt(dc, 0, 0, game->scene.width, game->scene.height, game->memory, 0, 0, SRCCOPY);
        ReleaseDC(game->window, dc);
    }
}

VEXEL_MODULE_EXPORT intptr_t _VexelMessage(uint32_t gameWindow, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam)
{
    (void)gameWindow;
    return gGame ? SceneMessage(&gGame->scene, message, wParam, lParam) : 0;
}

VEXEL_MODULE_EXPORT void _VexelProgress(void) {}
