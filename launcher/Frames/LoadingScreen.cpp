#include "Frames/LoadingScreen.h"

#include "Base/LauncherState.h"

#include "Common/StringFormatter.h"
#include "Platform/Resources.h"

#include <algorithm>
#include <cmath>

namespace Vexel
{

namespace
{

constexpr const char16_t* _ANIMATION = u"IDR_LOADING";
constexpr const char16_t* _FONT = u"Arial";
// The two sizes of the screen's texts (10 and 13 points at 96 dots an inch), as character heights.
constexpr int _SMALL_PX = 13;
constexpr int _LARGE_PX = 17;
constexpr int _ERROR_WIDTH = 400;
constexpr int _ERROR_HEIGHT = 60;

String PercentText(float progress)
{
    double percent = static_cast<double>(progress) * 100.0;
    if (!std::isfinite(percent))
        percent = 0.0;
    return FormatString(u"%3.0f%%", percent);
}

constexpr int _DETAIL_HEIGHT = 20;
constexpr double _MB = 1024.0 * 1024.0;
// How quickly the smoothed speed follows the measured one (milliseconds).
constexpr double _SPEED_SMOOTHING_MS = 2000.0;

String SizeText(double bytes, bool megabytes)
{
    return megabytes ? FormatString(u"%.1f", bytes / _MB) : FormatString(u"%.0f", bytes / 1024.0);
}

String TimeLeftText(double seconds)
{
    auto left = static_cast<long long>(std::ceil(seconds));
    if (left < 60)
        return FormatString(u"%d s left", static_cast<int>(left));
    if (left < 3600)
        return FormatString(u"%d min %d s left", static_cast<int>(left / 60), static_cast<int>(left % 60));
    return FormatString(u"%d h %d min left", static_cast<int>(std::min<long long>(left / 3600, 999)),
                        static_cast<int>(left % 3600 / 60));
}

} // namespace

String DownloadProgressText(std::int64_t received, std::int64_t total, double bytesPerSecond)
{
    if (received < 0)
        received = 0;
    const bool knownTotal = total >= received && total > 0;
    const bool megabytes = static_cast<double>(knownTotal ? total : received) >= _MB;
    String text = SizeText(static_cast<double>(received), megabytes);
    if (knownTotal)
        text += u" / " + SizeText(static_cast<double>(total), megabytes);
    text += megabytes ? u" MB" : u" KB";
    if (!(bytesPerSecond > 0.0) || !std::isfinite(bytesPerSecond))
        return text;
    text += bytesPerSecond >= _MB ? FormatString(u", %.1f MB/s", bytesPerSecond / _MB)
                                  : FormatString(u", %.0f KB/s", bytesPerSecond / 1024.0);
    if (knownTotal)
        text += u", " + TimeLeftText(static_cast<double>(total - received) / bytesPerSecond);
    return text;
}

void TransferMeter::Reset()
{
    *this = TransferMeter();
}

void TransferMeter::Sample(_qword nowMs, std::int64_t received)
{
    if (!mStarted || received < mLastBytes || nowMs < mLastMs)
    {
        // A new transfer (or one that started over): measure from here.
        mStarted = true;
        mLastMs = nowMs;
        mLastBytes = received;
        mMeasuredMs = 0;
        mSpeed = 0.0;
        return;
    }
    const _qword elapsed = nowMs - mLastMs;
    if (elapsed < 250)
        return;
    const double speed = static_cast<double>(received - mLastBytes) * 1000.0 / static_cast<double>(elapsed);
    if (mMeasuredMs == 0)
        mSpeed = speed;
    else
        mSpeed += (speed - mSpeed) * (1.0 - std::exp(-static_cast<double>(elapsed) / _SPEED_SMOOTHING_MS));
    mMeasuredMs += elapsed;
    mLastMs = nowMs;
    mLastBytes = received;
}

void LoadingScreen::Prepare()
{
    Release();
    std::vector<_byte> bytes;
    bool found = LoadEmbeddedResource(_ANIMATION, bytes);
    if (!found && HasLauncherState())
        found = ReadNamedData(_ANIMATION, bytes);
    if (found)
        mAnimation = Ui::UiImage::Decode(bytes.data(), bytes.size());
    mSmall = Ui::FontSpec{_FONT, -_SMALL_PX, false};
    mLarge = Ui::FontSpec{_FONT, -_LARGE_PX, false};
}

void LoadingScreen::Release()
{
    mAnimation.reset();
    mFrame = 0;
    mAccumulated = 0;
    mDrawn = false;
    mCanvas = Ui::Canvas();
}

void LoadingScreen::Compose(Ui::Canvas& canvas, float progress, const String& error, bool showError,
                            const String& detail) const
{
    canvas.Clear(_LOADING_FILL);
    int width = canvas.Width(), height = canvas.Height();
    int w = mAnimation ? mAnimation->Width() : 0;
    int h = mAnimation ? mAnimation->Height() : 0;
    int x = (width - w - 2) / 2, y = (height - h - 2) / 2;
    if (mAnimation)
        canvas.DrawImage(*mAnimation, Ui::Rect::FromSize(x, y, w, h));
    canvas.DrawString(PercentText(progress), Ui::Rect::FromSize(x, y, w, h), mSmall, _LOADING_TEXT,
                      Ui::_DT_CENTER | Ui::_DT_VCENTER | Ui::_DT_SINGLELINE | Ui::_DT_NOCLIP);
    if (!(showError && !error.empty()) && !detail.empty())
        canvas.DrawString(
            detail, Ui::Rect::FromSize(x + w / 2 - _ERROR_WIDTH / 2, y + h, _ERROR_WIDTH, _DETAIL_HEIGHT),
            mSmall, _LOADING_TEXT, Ui::_DT_CENTER | Ui::_DT_VCENTER | Ui::_DT_SINGLELINE | Ui::_DT_NOCLIP);
    if (showError && !error.empty())
        canvas.DrawString(
            error, Ui::Rect::FromSize(x + w / 2 - _ERROR_WIDTH / 2, y + h, _ERROR_WIDTH, _ERROR_HEIGHT),
            mLarge, _LOADING_TEXT, Ui::_DT_CENTER | Ui::_DT_VCENTER | Ui::_DT_WORDBREAK);
}

void LoadingScreen::Draw(Ui::WindowId window, _dword elapsed, float progress, const String& error,
                         bool showError, const String& detail)
{
    if (mAnimation)
    {
        mAccumulated += elapsed;
        if (mAccumulated > _LOADING_STEP_MS)
        {
            // A frame the image lacks leaves the one shown before.
            mFrame = (mFrame + 1) % _LOADING_FRAMES;
            mAccumulated = 0;
            mAnimation->SelectFrame(mFrame);
        }
    }
    Ui::Rect client;
    if (!Ui::GetClientBounds(window, client) || client.IsEmpty())
        return;
    String percent = PercentText(progress);
    const String& shownError = showError ? error : String();
    _dword selected = mAnimation ? mAnimation->SelectedFrame() : 0;
    if (mDrawn && client.Width() == mWidth && client.Height() == mHeight && selected == mShownFrame &&
        percent == mShownPercent && shownError == mShownError && detail == mShownDetail)
        return;
    if (mCanvas.Width() != client.Width() || mCanvas.Height() != client.Height())
        mCanvas.Resize(client.Width(), client.Height());
    Compose(mCanvas, progress, error, showError, detail);
    if (!Ui::PresentCanvas(window, mCanvas))
        return;
    ++mPresented;
    mDrawn = true;
    mWidth = client.Width();
    mHeight = client.Height();
    mShownFrame = selected;
    mShownPercent = percent;
    mShownError = shownError;
    mShownDetail = detail;
}

} // namespace Vexel
