#include "LoadingScreen.h"

#include "LauncherState.h"

#include "Common/StringFormatter.h"
#include "Platform/Resources.h"

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

} // namespace

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

void LoadingScreen::Compose(Ui::Canvas& canvas, float progress, const String& error, bool showError) const
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
    if (showError && !error.empty())
        canvas.DrawString(
            error, Ui::Rect::FromSize(x + w / 2 - _ERROR_WIDTH / 2, y + h, _ERROR_WIDTH, _ERROR_HEIGHT),
            mLarge, _LOADING_TEXT, Ui::_DT_CENTER | Ui::_DT_VCENTER | Ui::_DT_WORDBREAK);
}

void LoadingScreen::Draw(Ui::WindowId window, _dword elapsed, float progress, const String& error,
                         bool showError)
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
        percent == mShownPercent && shownError == mShownError)
        return;
    if (mCanvas.Width() != client.Width() || mCanvas.Height() != client.Height())
        mCanvas.Resize(client.Width(), client.Height());
    Compose(mCanvas, progress, error, showError);
    if (!Ui::PresentCanvas(window, mCanvas))
        return;
    ++mPresented;
    mDrawn = true;
    mWidth = client.Width();
    mHeight = client.Height();
    mShownFrame = selected;
    mShownPercent = percent;
    mShownError = shownError;
}

} // namespace Vexel
