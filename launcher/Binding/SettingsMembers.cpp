// The _Launcher properties (most of them rows of one table over the records' fields) and the members that
// set the scripts' settings: addresses, prompts, signers, lists of frame and quiet addresses.
#include "Binding/ScriptNatives.h"

#include "Common/Log.h"
#include "Common/StringHelpers.h"
#include "Platform/System.h"
#include "Services/LoaderHost.h"

#include <type_traits>

namespace Vexel
{

namespace
{

// The records plain properties live in; null when there is none (a property of the game frame before it
// is made reads as empty and ignores what is written).
LauncherState* StateOf(LauncherState& state)
{
    return &state;
}
GameFrame* GameOf(LauncherState& state)
{
    return state.mGameFrame.get();
}
LoaderHostSettings* TrustOf(LauncherState& state)
{
    return &LoaderHostOf(state).mSettings;
}
LoaderTrustPolicy* PolicyOf(LauncherState& state)
{
    return &LoaderHostOf(state).mSettings.mPolicy;
}

// A plain property reads or writes one field of a record as it is: a text, a flag, a number (int) or an
// unsigned number (_dword).
template <auto Record, auto Field> int GetPlain(IScriptManager& m, ScriptObject* object)
{
    if (object == nullptr || !HasLauncherState())
        return m.ReturnNothing();
    auto* record = Record(Launcher());
    using Value = std::remove_cvref_t<decltype(record->*Field)>;
    if constexpr (std::is_same_v<Value, String>)
        return m.ReturnString(record ? record->*Field : String());
    else if constexpr (std::is_same_v<Value, bool>)
        return m.ReturnBool(record ? record->*Field : false);
    else if constexpr (std::is_same_v<Value, int>)
        return m.ReturnInt(record ? record->*Field : 0);
    else
    {
        static_assert(std::is_same_v<Value, _dword>, "a plain property is a text, a flag or a number");
        return m.ReturnUInt(record ? record->*Field : 0);
    }
}
template <auto Record, auto Field> int SetPlain(IScriptManager& m, ScriptObject* object)
{
    if (object == nullptr || !HasLauncherState())
        return m.ReturnNothing();
    if (auto* record = Record(Launcher()))
    {
        auto& value = record->*Field;
        using Value = std::remove_cvref_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, String>)
            value = ArgText(m, 0);
        else if constexpr (std::is_same_v<Value, bool>)
            value = ArgBool(m, 0);
        else if constexpr (std::is_same_v<Value, int>)
            value = ArgInt(m, 0);
        else
            value = ArgDword(m, 0);
    }
    return m.ReturnNothing();
}
template <auto Record, auto Field> constexpr ScriptNative _PLAIN_GET{&GetPlain<Record, Field>, true};
template <auto Record, auto Field> constexpr ScriptNative _PLAIN_SET{&SetPlain<Record, Field>, true};

struct PropertyRow
{
    const char16_t* mName;
    const ScriptNative* mGet;
    const ScriptNative* mSet; // null: read-only
};
template <auto Record, auto Field> constexpr PropertyRow PlainProperty(const char16_t* name)
{
    return {name, &_PLAIN_GET<Record, Field>, &_PLAIN_SET<Record, Field>};
}
template <auto Record, auto Field> constexpr PropertyRow PlainReadOnly(const char16_t* name)
{
    return {name, &_PLAIN_GET<Record, Field>, nullptr};
}

LAUNCHER_NATIVE(GetScreenWidth)
{
    return m.ReturnInt(Ui::GetScreenSize().width);
}
LAUNCHER_NATIVE(GetScreenHeight)
{
    return m.ReturnInt(Ui::GetScreenSize().height);
}
LAUNCHER_NATIVE(GetTick)
{
    return m.ReturnUInt(GetTime());
}
LAUNCHER_NATIVE(GetAppName)
{
    return m.ReturnString(state.mAppName);
}
LAUNCHER_NATIVE(SetAppName)
{
    String value = ArgText(m, 0);
    if (!Usable(value, true))
        return m.ReturnNothing();
    state.mAppName = value;
    if (state.mFileName.empty())
        state.mFileName = value;
    if (state.mResName.empty())
        state.mResName = value;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetFileName)
{
    return m.ReturnString(state.mFileName);
}
LAUNCHER_NATIVE(SetFileName)
{
    String value = ArgText(m, 0);
    if (!Usable(value, true))
        return m.ReturnNothing();
    state.mFileName = value;
    if (state.mResName.empty())
        state.mResName = value;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetResName)
{
    return m.ReturnString(state.mResName);
}
LAUNCHER_NATIVE(SetResName)
{
    String value = ArgText(m, 0);
    if (Usable(value, true))
        state.mResName = value;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetBorderColor)
{
    return m.ReturnInt(Game() ? static_cast<int>(Game()->mBorderColor) : 0);
}
LAUNCHER_NATIVE(SetBorderColor)
{
    if (Game())
        Game()->mBorderColor = static_cast<_dword>(ArgInt(m, 0)) & 0x00FFFFFF;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetResizable)
{
    return m.ReturnBool((state.mFrameStyle & _FRAME_FIXEDSIZE) == 0);
}
LAUNCHER_NATIVE(SetResizable)
{
    if (ArgBool(m, 0))
        state.mFrameStyle &= ~_FRAME_FIXEDSIZE;
    else
        state.mFrameStyle |= _FRAME_FIXEDSIZE;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetMaximAtStart)
{
    return m.ReturnBool((state.mFrameStyle & _FRAME_MAXIMIZED) != 0);
}
LAUNCHER_NATIVE(SetMaximAtStart)
{
    if (ArgBool(m, 0))
        state.mFrameStyle |= _FRAME_MAXIMIZED;
    else
        state.mFrameStyle &= ~_FRAME_MAXIMIZED;
    return m.ReturnNothing();
}
// The game module's trust settings: lists are texts with "|" between entries.
std::vector<String> SplitBars(const String& text)
{
    std::vector<String> parts;
    std::size_t start = 0;
    for (;;)
    {
        std::size_t bar = text.find(u'|', start);
        String part = Trim(text.substr(start, bar == String::npos ? String::npos : bar - start), _BLANKS);
        if (!part.empty())
            parts.push_back(part);
        if (bar == String::npos)
            return parts;
        start = bar + 1;
    }
}
String JoinBars(const std::vector<String>& parts)
{
    String text;
    for (const auto& part : parts)
        text += (text.empty() ? String() : String(u"|")) + part;
    return text;
}
LAUNCHER_NATIVE(GetTrustedOrigins)
{
    return m.ReturnString(JoinBars(state.mTrustedOrigins));
}
LAUNCHER_NATIVE(SetTrustedOrigins)
{
    state.mTrustedOrigins = SplitBars(ArgText(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetLoaderSigners)
{
    return m.ReturnString(JoinBars(state.mLoaderHost->mSettings.mPolicy.acceptedSigners));
}
LAUNCHER_NATIVE(SetLoaderSigners)
{
    LoaderHostOf(state).mSettings.mPolicy.acceptedSigners = SplitBars(ArgText(m, 0));
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetLoaderDigests)
{
    std::vector<String> texts;
    for (const auto& digest : LoaderHostOf(state).mSettings.mPolicy.acceptedDigests)
        texts.push_back(Md5ToText(digest));
    return m.ReturnString(JoinBars(texts));
}
LAUNCHER_NATIVE(SetLoaderDigests)
{
    std::vector<MD5> digests;
    for (const auto& text : SplitBars(ArgText(m, 0)))
    {
        bool hex = text.size() == 32;
        for (char16_t c : text)
            hex = hex && ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'));
        if (hex)
            digests.push_back(Md5FromText(text));
        else
            LogError(u"[MC] Ignored loader digest %ls: not 32 hexadecimal digits", text);
    }
    LoaderHostOf(state).mSettings.mPolicy.acceptedDigests = digests;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetCleanCachePrompt)
{
    state.mCleanCacheCaption = ArgText(m, 0);
    state.mCleanCacheText = ArgText(m, 1);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetPrompts)
{
    for (_dword i = 0; i < 4; ++i)
        if (!ArgText(m, i).empty())
            state.mPrompts[i] = ArgText(m, i);
    return m.ReturnNothing();
}
// setProgramSigners("Name One|Name Two", caFile): the signers a downloaded build of the program must be
// signed by (none: the digest alone decides), and the operator's CA file (PEM) beside the system's.
LAUNCHER_NATIVE(SetProgramSigners)
{
    state.mProgramSigners.clear();
    String names = ArgText(m, 0);
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= names.size(); ++i)
    {
        if (i < names.size() && names[i] != u'|')
            continue;
        String name = Trim(names.substr(begin, i - begin), _SPACES);
        if (!name.empty())
            state.mProgramSigners.push_back(name);
        begin = i + 1;
    }
    state.mProgramCaFile = Trim(ArgText(m, 1), _SPACES);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetEnvironmentMember)
{
    String name = ArgText(m, 0);
    if (!name.empty())
        SetEnvironmentText(name, ArgText(m, 1));
    return m.ReturnNothing();
}
void AppendNonEmpty(IScriptManager& m, std::vector<String>& list)
{
    for (_dword i = 0; i < 4; ++i)
        if (!ArgText(m, i).empty())
            list.push_back(ArgText(m, i));
}
LAUNCHER_NATIVE(SetFrameURLs)
{
    AppendNonEmpty(m, state.mFrameUrls);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetExitURL)
{
    if (!ArgText(m, 0).empty())
        state.mExitUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetLogoffURL)
{
    if (!ArgText(m, 0).empty())
        state.mLogoffUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetKickFunc)
{
    if (!ArgText(m, 0).empty())
        state.mKickFunc = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetQuietURLs)
{
    AppendNonEmpty(m, state.mQuietUrls);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetupPlugin)
{
    if (Usable(ArgText(m, 0), true))
        state.mPluginUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetInfoServer)
{
    if (!Usable(ArgText(m, 0), true))
        return m.ReturnNothing();
    for (_dword i = 0; i < 6; ++i)
        state.mInfoServer[i] = ArgText(m, i);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetGameMargins)
{
    for (_dword i = 0; i < 4; ++i)
        state.mGameMargins[i] = ArgInt(m, i);
    return m.ReturnNothing();
}

} // namespace

void AddSettingsMembers(IScriptManager& m)
{
    static constexpr PropertyRow properties[] = {
        PlainReadOnly<StateOf, &LauncherState::mExeName>(u"exeName"),
        PlainReadOnly<StateOf, &LauncherState::mCmd>(u"cmd"),
        {u"screenWidth", &_NATIVE_GetScreenWidth, nullptr},
        {u"screenHeight", &_NATIVE_GetScreenHeight, nullptr},
        {u"tick", &_NATIVE_GetTick, nullptr},
        {u"appName", &_NATIVE_GetAppName, &_NATIVE_SetAppName},
        {u"fileName", &_NATIVE_GetFileName, &_NATIVE_SetFileName},
        {u"resName", &_NATIVE_GetResName, &_NATIVE_SetResName},
        PlainProperty<StateOf, &LauncherState::mTitle>(u"title"),
        PlainProperty<GameOf, &GameFrame::mTitleFont>(u"titleFont"),
        PlainProperty<GameOf, &GameFrame::mTitleColor>(u"titleColor"),
        PlainProperty<GameOf, &GameFrame::mBorderWidth>(u"borderWidth"),
        {u"borderColor", &_NATIVE_GetBorderColor, &_NATIVE_SetBorderColor},
        {u"resizable", &_NATIVE_GetResizable, &_NATIVE_SetResizable},
        PlainProperty<StateOf, &LauncherState::mWidth>(u"width"),
        PlainProperty<StateOf, &LauncherState::mHeight>(u"height"),
        {u"maximAtStart", &_NATIVE_GetMaximAtStart, &_NATIVE_SetMaximAtStart},
        PlainProperty<StateOf, &LauncherState::mUseCurrentPath>(u"useCurrentPath"),
        PlainProperty<StateOf, &LauncherState::mAppSize>(u"appSize"),
        PlainProperty<StateOf, &LauncherState::mAppTimeout>(u"appTimeout"),
        PlainProperty<StateOf, &LauncherState::mAutoStart>(u"appAutoStart"),
        PlainProperty<StateOf, &LauncherState::mPassArgs>(u"passArgs"),
        PlainProperty<StateOf, &LauncherState::mScrollBars>(u"enableScrollBar"),
        PlainProperty<PolicyOf, &LoaderTrustPolicy::supportAddress>(u"supportAddress"),
        {u"trustedOrigins", &_NATIVE_GetTrustedOrigins, &_NATIVE_SetTrustedOrigins},
        PlainProperty<TrustOf, &LoaderHostSettings::mBlockListHost>(u"blockListHost"),
        PlainProperty<TrustOf, &LoaderHostSettings::mCaFile>(u"loaderCaFile"),
        {u"loaderSigners", &_NATIVE_GetLoaderSigners, &_NATIVE_SetLoaderSigners},
        {u"loaderDigests", &_NATIVE_GetLoaderDigests, &_NATIVE_SetLoaderDigests},
        PlainProperty<TrustOf, &LoaderHostSettings::mExternal>(u"externalLauncher"),
    };
    for (const auto& property : properties)
        if (property.mSet)
            m.AddProperty(property.mName, property.mGet, ScriptNativeThunk, property.mSet, ScriptNativeThunk);
        else
            m.AddReadOnlyProperty(property.mName, property.mGet, ScriptNativeThunk);
    static constexpr Member methods[] = {
        {u"setCleanCachePrompt", &_NATIVE_SetCleanCachePrompt},
        {u"setPrompts", &_NATIVE_SetPrompts},
        {u"setProgramSigners", &_NATIVE_SetProgramSigners},
        {u"setEnvironment", &_NATIVE_SetEnvironmentMember},
        {u"setFrameURLs", &_NATIVE_SetFrameURLs},
        {u"setExitURL", &_NATIVE_SetExitURL},
        {u"setLogoffURL", &_NATIVE_SetLogoffURL},
        {u"setKickFunc", &_NATIVE_SetKickFunc},
        {u"setQuietURLs", &_NATIVE_SetQuietURLs},
        {u"setupPlugin", &_NATIVE_SetupPlugin},
        {u"setInfoServer", &_NATIVE_SetInfoServer},
        {u"setGameMargins", &_NATIVE_SetGameMargins},
    };
    AddMethods(m, methods);
}

} // namespace Vexel
