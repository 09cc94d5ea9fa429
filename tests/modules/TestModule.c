/*
 * A module for the loader host's tests: it draws nothing and writes every call it gets, one line each,
 * to the file named by VEXEL_TEST_MODULE_LOG. Built three ways: complete, without _VexelProgress
 * (TEST_NO_PROGRESS) and without _VexelMessage (TEST_NO_MESSAGE).
 */
#include "Vexel/LoaderModule.h"

#include <stdio.h>
#include <stdlib.h>

static void Note(const char* what, const char16_t* a, const char16_t* b, long number)
{
    const char* path = getenv("VEXEL_TEST_MODULE_LOG");
    if (!path || !*path)
        return;
    FILE* file = fopen(path, "ab"); /* the same bytes on every system */
    if (!file)
        return;
    fputs(what, file);
    for (const char16_t* text = a; text && *text; ++text)
        fputc(*text < 128 ? (int)*text : '?', file);
    if (b)
        fputc('=', file);
    for (const char16_t* text = b; text && *text; ++text)
        fputc(*text < 128 ? (int)*text : '?', file);
    fprintf(file, " %ld\n", number);
    fclose(file);
}

VEXEL_MODULE_EXPORT int _VexelCreate(uint32_t gameWindow, const char16_t* text1, const char16_t* text2,
                                     const char16_t* text3, int flag)
{
    int empty = text1 && text2 && text3 && !*text1 && !*text2 && !*text3;
    Note(empty ? "create empty" : "create texts", NULL, NULL, flag);
    (void)gameWindow;
    return 1;
}

VEXEL_MODULE_EXPORT void _VexelDelete(uint32_t gameWindow)
{
    (void)gameWindow;
    Note("delete", NULL, NULL, 0);
}

VEXEL_MODULE_EXPORT void _VexelSetup(const char16_t* name, const char16_t* value)
{
    Note("setup ", name, value, 0);
}

VEXEL_MODULE_EXPORT int _VexelUpdate(uint32_t gameWindow, int elapsedMs)
{
    (void)gameWindow;
    Note("update", NULL, NULL, elapsedMs);
    return 1;
}

VEXEL_MODULE_EXPORT void _VexelRender(uint32_t gameWindow)
{
    (void)gameWindow;
    Note("render", NULL, NULL, 0);
}

#ifndef TEST_NO_MESSAGE
VEXEL_MODULE_EXPORT intptr_t _VexelMessage(uint32_t gameWindow, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam)
{
    (void)gameWindow;
    (void)lParam;
    Note("message", NULL, NULL, (long)message);
    return (intptr_t)(wParam + 1000);
}
#endif

#ifndef TEST_NO_PROGRESS
VEXEL_MODULE_EXPORT void _VexelProgress(void)
{
    Note("progress", NULL, NULL, 0);
}
#endif
