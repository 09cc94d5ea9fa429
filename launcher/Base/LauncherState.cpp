#include "Base/LauncherState.h"

#include "Common/Log.h"
#include "Platform/Resources.h"
#include "Script/IScriptManager.h"
#include "Storage/ResourceManager.h"

namespace Vexel
{

namespace
{
LauncherState* sState = nullptr;
LauncherState sFallback; // members called with no state installed act on this one
} // namespace

LauncherState::LauncherState() = default;
LauncherState::~LauncherState()
{
    // The game goes first: it draws into a window of the game frame.
    mLoaderHost.reset();
    // Frames before the game frame: their controls are children of nothing else.
    for (auto& frame : mFrames)
        frame.reset();
    mGameFrame.reset();
}

LauncherState& Launcher()
{
    return sState ? *sState : sFallback;
}

void SetLauncherState(LauncherState* state)
{
    sState = state;
}

bool HasLauncherState()
{
    return sState != nullptr;
}

IResourceManager& ResourceManagerOf(LauncherState& state)
{
    if (!state.mResourceManager)
    {
        state.mResourceManager = std::make_unique<ResourceManager>();
        LogTrace(u"[KL] ResourceManager Created");
    }
    return *state.mResourceManager;
}

bool ReadNamedData(const String& name, std::vector<_byte>& buffer)
{
    buffer.clear();
    if (name.empty())
        return false;
    if (LoadEmbeddedResource(name, buffer))
        return true;
    return ResourceManagerOf(Launcher()).ReadResource(name, buffer, false);
}

} // namespace Vexel
