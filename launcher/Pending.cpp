#include "Pending.h"

#include "Common/Log.h"

namespace Vexel
{

namespace
{
void NotBuilt(const char16_t* what)
{
    LogTrace(u"[MC] %ls: not built yet", what);
}
} // namespace

void RunInstallation(LauncherState&)
{
    NotBuilt(u"RunInstallation");
}

bool CheckProgramIntegrity(LauncherState&)
{
    NotBuilt(u"CheckProgramIntegrity");
    return true;
}

void RunSelfUpgradeCheck(LauncherState&, bool)
{
    NotBuilt(u"RunSelfUpgradeCheck");
}

void RunSelfCopy(LauncherState&, const String&)
{
    NotBuilt(u"RunSelfCopy");
}

void RunFileDeletion(LauncherState&, const String&)
{
    NotBuilt(u"RunFileDeletion");
}

void StartCopyThread(LauncherState&)
{
    NotBuilt(u"StartCopyThread");
}

void CreateShortcutRequest(LauncherState&, const String&)
{
    NotBuilt(u"CreateShortcut");
}

void CleanCache(LauncherState&)
{
    NotBuilt(u"CleanCache");
}

bool CreateTencentClient(LauncherState&, const String&)
{
    NotBuilt(u"CreateTencentClient");
    return false;
}

bool InstallPreloadPack(LauncherState&, const String&, const String&)
{
    NotBuilt(u"InstallPreloadPack");
    return false;
}

} // namespace Vexel
