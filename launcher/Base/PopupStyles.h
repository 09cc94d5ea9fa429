// The look of the two pop-up web windows the scripts set (setIMParams, setVideoParams and their title and
// close-button members); the web windows own them.
#pragma once

#include "Common/String.h"

namespace Vexel
{

struct PopupStyles
{
    // The instant-message pop-up: place and size (0, 0: under its menu entry), border, title, close button.
    _dword mImX = 0, mImY = 0, mImW = 0, mImH = 0, mImBorder = 0, mImTitleColor = 0;
    String mImTitleFont, mImTitleSuffix, mImTitleBg, mImCloseNormal, mImCloseHover;
    _dword mImCloseX = 0, mImCloseY = 0;
    // The video / payment pop-up.
    _dword mVideoBorder = 0, mVideoTitleColor = 0;
    String mVideoTitleFont, mVideoTitleBg, mVideoCloseNormal, mVideoCloseHover;
    _dword mVideoCloseX = 0, mVideoCloseY = 0;
};

} // namespace Vexel
