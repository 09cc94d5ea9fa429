// The loading screen of the game window: the dark fill, the loading animation (the resource
// "IDR_LOADING", 24 steps of 83 ms), the download percentage and, when the module cannot run, the error
// text. Drawn off-screen and put into the window whole.
#pragma once

#include "Common/String.h"
#include "Platform/Ui/UiCanvas.h"

#include <memory>

namespace Vexel
{

constexpr _dword _LOADING_FILL = 0xFF111111;
constexpr _dword _LOADING_TEXT = 0xFFFFFFFF;
constexpr _dword _LOADING_FRAMES = 24;
constexpr _dword _LOADING_STEP_MS = 83;

class LoadingScreen
{
public:
    // Loads the animation (absent when the resource is missing or cannot be decoded) and the fonts.
    void Prepare();
    void Release();

    // One frame: advances the animation by elapsed milliseconds and shows the screen in the window
    // when anything on it changed. The error text shows only when showError is set.
    void Draw(Ui::WindowId window, _dword elapsed, float progress, const String& error, bool showError);
    // Makes the next Draw put the screen into the window even when nothing changed (the window's pixels
    // were someone else's in between).
    void Invalidate() { mDrawn = false; }

    // Composes the screen of the given size into canvas (what Draw shows).
    void Compose(Ui::Canvas& canvas, float progress, const String& error, bool showError) const;

    bool HasAnimation() const { return mAnimation != nullptr; }
    _dword Frame() const { return mFrame; }
    // Times the screen was put into a window.
    _dword Presented() const { return mPresented; }

private:
    std::unique_ptr<Ui::UiImage> mAnimation;
    Ui::FontSpec mSmall;
    Ui::FontSpec mLarge;
    _dword mFrame = 0;
    _dword mAccumulated = 0;
    _dword mPresented = 0;

    // What the window shows now, to skip frames that would change nothing.
    bool mDrawn = false;
    int mWidth = 0, mHeight = 0;
    _dword mShownFrame = 0;
    String mShownPercent;
    String mShownError;
    Ui::Canvas mCanvas;
};

} // namespace Vexel
