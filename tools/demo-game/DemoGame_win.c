/*
 * The demo game module as a Windows DLL, built only against Vexel/LoaderModule.h: the same night sky,
 * ring and ship as on Linux, drawn with GDI into a bitmap in memory and copied to the game window (an
 * HWND) whole. The ship is filled with one colour (0xFF40A0) used nowhere else, so a test can find it on
 * screen.
 */
#include "Vexel/LoaderModule.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define DEMO_PI 3.14159265358979323846
#define STEP_SECONDS (1.0 / 60.0)
#define MAX_PARAMS 24
#define TEXT_CHARS 160
#define STARS 90
#define SHIP_RADIUS 14
#define KEY_SPEED 240.0   /* pixels a second */
#define MOUSE_SPEED 420.0 /* pixels a second */

typedef struct
{
    HWND window;
    HDC memory;       /* the frame, drawn in memory */
    HBITMAP bitmap;   /* selected into memory */
    HGDIOBJ original; /* the bitmap memory came with */
    int width, height;

    wchar_t params[MAX_PARAMS][TEXT_CHARS];
    int paramCount;

    double clock, accumulator;
    unsigned long frames, messages;
    double shipX, shipY;
    int placed, left, right, up, down, chasing, dragging, focused;
    double targetX, targetY;
    float starX[STARS], starY[STARS], starPhase[STARS];
} Game;

static Game* gGame;

static double Clamp(double v, double low, double high)
{
    return v < low ? low : v > high ? high : v;
}

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
    if (game->memory && client.right == game->width && client.bottom == game->height)
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
    game->width = client.right;
    game->height = client.bottom;
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
    game->focused = 1;
    unsigned seed = 12345;
    for (int i = 0; i < STARS; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        game->starX[i] = (float)((seed >> 8) % 10000) / 10000.0f;
        seed = seed * 1103515245u + 12345u;
        game->starY[i] = (float)((seed >> 8) % 10000) / 10000.0f * 0.7f;
        seed = seed * 1103515245u + 12345u;
        game->starPhase[i] = (float)((seed >> 8) % 628) / 100.0f;
    }
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

static void Simulate(Game* game, double dt)
{
    game->clock += dt;
    if (!game->placed && game->width > 0)
    {
        game->shipX = game->width / 2.0;
        game->shipY = game->height * 0.75;
        game->placed = 1;
    }
    double dx = (game->right - game->left) * KEY_SPEED * dt;
    double dy = (game->down - game->up) * KEY_SPEED * dt;
    if (dx != 0 || dy != 0)
        game->chasing = 0;
    else if (game->chasing)
    {
        double tx = game->targetX - game->shipX, ty = game->targetY - game->shipY;
        double distance = sqrt(tx * tx + ty * ty), reach = MOUSE_SPEED * dt;
        if (distance <= reach)
        {
            dx = tx, dy = ty;
            game->chasing = game->dragging;
        }
        else
            dx = tx / distance * reach, dy = ty / distance * reach;
    }
    if (game->width > 0)
    {
        game->shipX = Clamp(game->shipX + dx, SHIP_RADIUS, game->width - SHIP_RADIUS);
        game->shipY = Clamp(game->shipY + dy, SHIP_RADIUS, game->height - SHIP_RADIUS);
    }
}

VEXEL_MODULE_EXPORT int _VexelUpdate(uint32_t gameWindow, int elapsedMs)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game)
        return 0;
    if (game->width == 0)
    {
        RECT client;
        if (GetClientRect(game->window, &client))
            game->width = client.right, game->height = client.bottom;
    }
    /* A long stall is not caught up frame by frame. */
    game->accumulator += Clamp(elapsedMs, 0, 250) / 1000.0;
    int steps = 0;
    while (game->accumulator >= STEP_SECONDS)
    {
        Simulate(game, STEP_SECONDS);
        game->accumulator -= STEP_SECONDS;
        ++steps;
    }
    return steps > 0;
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

static void DrawScene(Game* game, HDC dc)
{
    const int w = game->width, h = game->height;
    const double t = game->clock;

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
        double glow = 0.5 + 0.5 * sin(t * 2.0 + game->starPhase[i]);
        Disc(dc, game->starX[i] * w, game->starY[i] * h, 0.8 + 1.2 * glow,
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
    Disc(dc, game->shipX, game->shipY, SHIP_RADIUS, RGB(0xFF, 0x40, 0xA0));
}

static void DrawLines(Game* game, HDC dc)
{
    wchar_t line[TEXT_CHARS + 64];
    int y = 8;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 217, 77));
    TextOutW(dc, 10, y, L"Vexel demo game", 15);
    SetTextColor(dc, RGB(230, 230, 242));
    int n = _snwprintf(line, TEXT_CHARS, L"frame %lu  %ls  messages %lu", game->frames,
                       game->focused ? L"focused" : L"in background", game->messages);
    TextOutW(dc, 10, y += 20, line, n > 0 ? n : 0);
    for (int i = 0; i < game->paramCount; ++i)
        TextOutW(dc, 10, y += 16, game->params[i], (int)wcslen(game->params[i]));
    TextOutW(dc, 10, game->height - 44, L"arrow keys or mouse: move the ship", 34);
}

VEXEL_MODULE_EXPORT void _VexelRender(uint32_t gameWindow)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game || !PrepareBuffer(game))
        return;
    ++game->frames;
    DrawScene(game, game->memory);
    DrawLines(game, game->memory);
    HDC dc = GetDC(game->window);
    if (dc)
    {
        BitBlt(dc, 0, 0, game->width, game->height, game->memory, 0, 0, SRCCOPY);
        ReleaseDC(game->window, dc);
    }
}

static int* KeyFlag(Game* game, uintptr_t key)
{
    switch (key)
    {
    case VEXEL_VK_LEFT:
        return &game->left;
    case VEXEL_VK_RIGHT:
        return &game->right;
    case VEXEL_VK_UP:
        return &game->up;
    case VEXEL_VK_DOWN:
        return &game->down;
    default:
        return NULL;
    }
}

VEXEL_MODULE_EXPORT intptr_t _VexelMessage(uint32_t gameWindow, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam)
{
    (void)gameWindow;
    Game* game = gGame;
    if (!game)
        return 0;
    ++game->messages;
    int* flag;
    switch (message)
    {
    case VEXEL_WM_ACTIVATE:
        game->focused = wParam != VEXEL_WA_INACTIVE;
        if (!game->focused)
            game->left = game->right = game->up = game->down = game->dragging = 0;
        return 0;
    case VEXEL_WM_KEYDOWN:
    case VEXEL_WM_KEYUP:
        if ((flag = KeyFlag(game, wParam)) != NULL)
            *flag = message == VEXEL_WM_KEYDOWN;
        return 0;
    case VEXEL_WM_LBUTTONDOWN:
        game->dragging = 1;
        /* fall through */
    case VEXEL_WM_MOUSEMOVE:
        if (message == VEXEL_WM_MOUSEMOVE && !(game->dragging && (wParam & VEXEL_MK_LBUTTON)))
            return 0;
        game->chasing = 1;
        game->targetX = VEXEL_GET_X_LPARAM(lParam);
        game->targetY = VEXEL_GET_Y_LPARAM(lParam);
        return 0;
    case VEXEL_WM_LBUTTONUP:
        game->dragging = 0;
        return 0;
    default:
        return 0;
    }
}

VEXEL_MODULE_EXPORT void _VexelProgress(void) {}
