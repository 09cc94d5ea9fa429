// Where the game's loader comes from, as the game page names it (the loader choice writes it, the module
// host reads it).
#pragma once

#include "Common/String.h"

#include <vector>

namespace Vexel
{

struct LoaderSource
{
    String mUrl;                     // "local:\\" followed by a path names a local file
    String mMd5;                     // 32 hexadecimal digits, empty when none
    String mPath;                    // the file that is loaded
    int mSizeMb = 0;                 // the room the game needs, for the data folder choice
    std::vector<String> mParamNames; // the loader parameters, in page order
    std::vector<String> mParamValues;
    std::vector<String> mCdn;  // CDN addresses from "cdnip"
    bool mWaitStarted = false; // the game parameters are awaited since mWaitStart
    _dword mWaitStart = 0;
    bool mRead = false; // the page was read at mLastRead
    _dword mLastRead = 0;
};

} // namespace Vexel
