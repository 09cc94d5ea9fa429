// The loading screen of the game window: the dark fill, the loading animation (the resource
// "IDR_LOADING", 24 steps of 83 ms), the download percentage and, when the module cannot run, the error
// text. Drawn off-screen and put into the window whole.
#pragma once

#include "Common/String.h"
#include "Platform/Ui/UiCanvas.h"

#include <cstdint>
#include <memory>

namespace Vexel
{

constexpr _dword _LOADING_FILL = 0xFF111111;
constexpr _dword _LOADING_TEXT = 0xFFFFFFFF;
constexpr _dword _LOADING_FRAMES = 24;
constexpr _dword _LOADING_STEP_MS = 83;

// The line under the percentage while the module downloads: "12.4 / 96.0 MB, 3.1 MB/s, 27 s left".
// Sizes in MB of 2^20 bytes (KB below one MB); total < 0 (unknown) leaves out the total and the time
// left, bytesPerSecond <= 0 (not measured yet) the speed and the time left.
String DownloadProgressText(std::int64_t received, std::int64_t total, double bytesPerSecond);

// The download's speed, smoothed over a few seconds so the line does not jump with every block. Fed the
// bytes received and the time (milliseconds) as often as the caller likes.
class TransferMeter
{
public:
    void Reset();
    void Sample(_qword nowMs, std::int64_t received);
    // 0 until a second of data has been seen.
    double BytesPerSecond() const { return mMeasuredMs >= 1000 ? mSpeed : 0.0; }

private:
    bool mStarted = false;
    _qword mLastMs = 0;
    std::int64_t mLastBytes = 0;
    _qword mMeasuredMs = 0;
    double mSpeed = 0.0;
};

class LoadingScreen
{
public:
    // Loads the animation (absent when the resource is missing or cannot be decoded) and the fonts.
    void Prepare();
    void Release();

    // One frame: advances the animation by elapsed milliseconds and shows the screen in the window
    // when anything on it changed. The error text shows only when showError is set.
    // detail is the line under the percentage (empty: none); it gives way to the error text.
    void Draw(Ui::WindowId window, _dword elapsed, float progress, const String& error, bool showError,
              const String& detail = String());
    // Makes the next Draw put the screen into the window even when nothing changed (the window's pixels
    // were someone else's in between).
    void Invalidate() { mDrawn = false; }

    // Composes the screen of the given size into canvas (what Draw shows).
    void Compose(Ui::Canvas& canvas, float progress, const String& error, bool showError,
                 const String& detail = String()) const;

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
    String mShownDetail;
    Ui::Canvas mCanvas;
};

} // namespace Vexel
