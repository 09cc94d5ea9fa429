#include "Services/LoaderChoice.h"

#include "Base/TextReader.h"
#include "Frames/WebWindow.h"
#include "Services/MessagePump.h"

#include "Common/Log.h"
#include "Common/StringHelpers.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

namespace Vexel
{

namespace
{

const String* ValueOf(const std::vector<Ui::NamedValue>& pairs, const char16_t* name)
{
    for (const auto& pair : pairs)
        if (pair.name == name)
            return &pair.value;
    return nullptr;
}

int ReadDecimal(const String* text)
{
    if (!text)
        return 0;
    String trimmed = Trim(*text, _BLANKS);
    int value = 0;
    for (char16_t c : trimmed)
    {
        if (c < u'0' || c > u'9')
            break;
        value = value > 100000000 ? value : value * 10 + (c - u'0');
    }
    return value;
}

void WriteInstallInfo(const String& path, const String& folder)
{
    std::vector<_byte> bytes;
    for (char16_t c : folder)
    {
        bytes.push_back(static_cast<_byte>(c & 0xFF));
        bytes.push_back(static_cast<_byte>(c >> 8));
    }
    if (!WriteFile(path, bytes))
        LogError(u"[MC] Cannot write %ls", path);
}

} // namespace

String TrimBlank(const String& text)
{
    return Trim(text, _BLANKS);
}

std::vector<String> SplitCdnList(const String& text)
{
    std::vector<String> parts;
    std::size_t start = 0;
    for (;;)
    {
        std::size_t bar = text.find(u'|', start);
        String part = TrimBlank(text.substr(start, bar == String::npos ? String::npos : bar - start));
        if (!part.empty())
            parts.push_back(part);
        if (bar == String::npos)
            return parts;
        start = bar + 1;
    }
}

String ChooseDataFolder(LauncherState& state, int sizeMb)
{
    String folder;
    if (state.mAppName.empty() || state.mUseCurrentPath)
        folder = GetCurrentFolder();
    else
    {
        String base = JoinFolder(state.mUserRoot, state.mAppName);
        String info = JoinFolder(base, u"install.inf");
        TextReader reader;
        if (FileExists(info) && reader.Open(info))
        {
            String named = reader.ReadRest();
            if (!named.empty() && FolderExists(named))
                folder = named;
        }
        if (folder.empty())
        {
            folder = base;
            // One volume for the user's files here: too little room is only worth a line.
            _qword free = GetFreeSpace(base);
            if (free != 0 && free / (1024 * 1024) <= static_cast<_qword>(sizeMb < 0 ? 0 : sizeMb))
                LogError(u"[MC] Only %d MiB free for a game of %d MiB in %ls", static_cast<int>(free >> 20),
                         sizeMb, base);
        }
        CreateFolder(base);
        WriteInstallInfo(info, folder);
    }
    CreateFolder(folder);
    SetCurrentFolder(folder);
    state.mDataFolder = folder;
    state.mLoader.mPath = JoinFolder(folder, _LOADER_FILE);
    return folder;
}

bool ChooseLoader(LauncherState& state)
{
    if (state.mGameState != 1)
        return false;
    WebRef page = MainPage(state);
    if (!page)
        return false;
    LoaderSource& loader = state.mLoader;
    _dword now = LoopNow();
    // Reading a page runs script in it: a page that is not ready is read a few times a second, not on
    // every idle turn.
    bool due = loader.mWaitStarted && state.mAppTimeout > 0 &&
               now - loader.mWaitStart >= static_cast<_dword>(state.mAppTimeout);
    if (loader.mRead && now - loader.mLastRead < _PARAM_READ_INTERVAL && !due)
        return false;
    loader.mRead = true;
    loader.mLastRead = now;
    std::vector<Ui::NamedValue> pairs = ReadNamedValues(*page, u"param");
    if (pairs.size() < 2)
    {
        if (!loader.mWaitStarted)
        {
            loader.mWaitStarted = true;
            loader.mWaitStart = now;
            return false;
        }
        // No time-out set: wait for as long as the page takes.
        if (state.mAppTimeout <= 0 || now - loader.mWaitStart < static_cast<_dword>(state.mAppTimeout))
            return false;
        loader.mWaitStarted = false;
        String url = CurrentUrl(*page);
        LogTrace(u"[MC] Timeout of getting game param, refresh %ls", url);
        if (StartsWithAny(url, state.mFrameUrls))
        {
            state.mGameState = 0;
            EndPass();
            return false;
        }
        // Stop first: a stop after the reload would cancel the reload itself.
        Ui::WebStop(page->mWindow);
        Ui::WebRefresh(page->mWindow);
        return false;
    }
    const String* md5 = ValueOf(pairs, u"libmd5");
    const String* url = ValueOf(pairs, u"liburl");
    if (!md5 || !url || md5->empty() || url->empty())
        return false;
    loader.mWaitStarted = false;
    state.mGameState = 2;
    if (!state.mLoaderPath.empty() && FileExists(state.mLoaderPath))
    {
        LogTrace(u"[MC] Use local loader: %ls", state.mLoaderPath);
        loader.mUrl = u"local:\\" + state.mLoaderPath;
        loader.mMd5.clear();
    }
    else
    {
        LogTrace(u"[MC] Use remote loader: %ls, %ls", *url, *md5);
        loader.mUrl = Trim(*url, _BLANKS);
        loader.mMd5 = Trim(*md5, _BLANKS);
    }
    int size = ReadDecimal(ValueOf(pairs, u"size"));
    loader.mSizeMb = size > 0 ? size : state.mAppSize;
    ChooseDataFolder(state, loader.mSizeMb);
    loader.mParamNames.clear();
    loader.mParamValues.clear();
    for (const auto& pair : pairs)
    {
        if (pair.name.compare(0, 5, u"param") != 0)
            continue;
        std::size_t equals = pair.value.find(u'=');
        String name = equals == String::npos ? pair.value : String(pair.value.substr(0, equals));
        String value = equals == String::npos ? pair.value : String(pair.value.substr(equals + 1));
        loader.mParamNames.push_back(name);
        loader.mParamValues.push_back(value);
        if (name == u"cdnip")
            loader.mCdn = SplitCdnList(value);
    }
    state.mGamePage = page;
    EndPass();
    return true;
}

} // namespace Vexel
