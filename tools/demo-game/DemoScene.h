/*
 * The demo game's world, the same on every system: the ship the arrow keys or the mouse move at a fixed
 * step, the stars, and how the game reads the client's messages. The drawing files (cairo over X on
 * Linux, GDI on Windows) keep only the window, the frame buffer and the painting.
 */
#pragma once

#include <stdint.h>

#define DEMO_PI 3.14159265358979323846
#define STEP_SECONDS (1.0 / 60.0)
#define STARS 90
#define SHIP_RADIUS 14.0
#define KEY_SPEED 240.0   /* pixels a second */
#define MOUSE_SPEED 420.0 /* pixels a second */

typedef struct
{
    int width, height;  /* the game window's size; 0 while not known */
    double clock;       /* game seconds */
    double accumulator; /* seconds not yet simulated */
    unsigned long frames, messages;

    double shipX, shipY, heading;
    int placed;
    int left, right, up, down;
    int chasing, dragging;
    double targetX, targetY;
    int focused;

    float starX[STARS], starY[STARS], starPhase[STARS]; /* x and y as shares of the window */
} Scene;

double SceneClamp(double v, double low, double high);
/* Focused, the stars in their places. */
void SceneStart(Scene* scene);
/* Moves the world on by the milliseconds given (a long stall is not caught up frame by frame); true when
 * at least one step was taken. */
int SceneAdvance(Scene* scene, int elapsedMs);
/* Keys, focus and the mouse; every message counts. */
intptr_t SceneMessage(Scene* scene, uint32_t message, uintptr_t wParam, intptr_t lParam);
