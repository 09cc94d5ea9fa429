#include "DemoScene.h"

#include "Vexel/LoaderModule.h"

#include <math.h>
#include <string.h>

double SceneClamp(double v, double low, double high)
{
    return v < low ? low : v > high ? high : v;
}

void SceneStart(Scene* scene)
{
    memset(scene, 0, sizeof *scene);
    scene->focused = 1;
    unsigned seed = 12345;
    for (int i = 0; i < STARS; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        scene->starX[i] = (float)((seed >> 8) % 10000) / 10000.0f;
        seed = seed * 1103515245u + 12345u;
        scene->starY[i] = (float)((seed >> 8) % 10000) / 10000.0f * 0.7f;
        seed = seed * 1103515245u + 12345u;
        scene->starPhase[i] = (float)((seed >> 8) % 628) / 100.0f;
    }
}

static void Step(Scene* scene, double dt)
{
    scene->clock += dt;
    if (!scene->placed && scene->width > 0)
    {
        scene->shipX = scene->width / 2.0;
        scene->shipY = scene->height * 0.75;
        scene->placed = 1;
    }
    double dx = (scene->right - scene->left) * KEY_SPEED * dt;
    double dy = (scene->down - scene->up) * KEY_SPEED * dt;
    if (dx != 0 || dy != 0)
    {
        scene->chasing = 0;
        scene->heading = atan2(dy, dx);
    }
    else if (scene->chasing)
    {
        double tx = scene->targetX - scene->shipX, ty = scene->targetY - scene->shipY;
        double distance = sqrt(tx * tx + ty * ty);
        double reach = MOUSE_SPEED * dt;
        if (distance <= reach)
        {
            dx = tx, dy = ty;
            scene->chasing = scene->dragging;
        }
        else
        {
            dx = tx / distance * reach, dy = ty / distance * reach;
            scene->heading = atan2(ty, tx);
        }
    }
    if (scene->width > 0)
    {
        scene->shipX = SceneClamp(scene->shipX + dx, SHIP_RADIUS, scene->width - SHIP_RADIUS);
        scene->shipY = SceneClamp(scene->shipY + dy, SHIP_RADIUS, scene->height - SHIP_RADIUS);
    }
}

int SceneAdvance(Scene* scene, int elapsedMs)
{
    scene->accumulator += SceneClamp(elapsedMs, 0, 250) / 1000.0;
    int steps = 0;
    while (scene->accumulator >= STEP_SECONDS)
    {
        Step(scene, STEP_SECONDS);
        scene->accumulator -= STEP_SECONDS;
        ++steps;
    }
    return steps > 0;
}

static int* KeyFlag(Scene* scene, uintptr_t key)
{
    switch (key)
    {
    case VEXEL_VK_LEFT:
        return &scene->left;
    case VEXEL_VK_RIGHT:
        return &scene->right;
    case VEXEL_VK_UP:
        return &scene->up;
    case VEXEL_VK_DOWN:
        return &scene->down;
    default:
        return NULL;
    }
}

intptr_t SceneMessage(Scene* scene, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    ++scene->messages;
    int* flag;
    switch (message)
    {
    case VEXEL_WM_ACTIVATE:
        scene->focused = wParam != VEXEL_WA_INACTIVE;
        if (!scene->focused)
            scene->left = scene->right = scene->up = scene->down = scene->dragging = 0;
        return 0;
    case VEXEL_WM_KEYDOWN:
    case VEXEL_WM_KEYUP:
        if ((flag = KeyFlag(scene, wParam)) != NULL)
            *flag = message == VEXEL_WM_KEYDOWN;
        return 0;
    case VEXEL_WM_LBUTTONDOWN:
        scene->dragging = 1;
        /* fall through */
    case VEXEL_WM_MOUSEMOVE:
        if (message == VEXEL_WM_MOUSEMOVE && !(scene->dragging && (wParam & VEXEL_MK_LBUTTON)))
            return 0;
        scene->chasing = 1;
        scene->targetX = VEXEL_GET_X_LPARAM(lParam);
        scene->targetY = VEXEL_GET_Y_LPARAM(lParam);
        return 0;
    case VEXEL_WM_LBUTTONUP:
        scene->dragging = 0;
        return 0;
    default:
        return 0;
    }
}
