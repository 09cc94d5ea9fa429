// The Windows program's entry: the command line as the system holds it, without the program's own path,
// goes to the launcher's start-up in wide text, so no character is lost to the system's code page.
#include "Base/CommandLine.h"
#include "Services/Install.h"
#include "Startup/Startup.h"

#include "Platform/File.h"
#include "Platform/System.h"
#include "Platform/Ui/Ui.h"

#include <windows.h>

// The version text the program reports; a second build with another one serves as a newer program.
#ifndef VEXEL_VERSION_TEXT
#define VEXEL_VERSION_TEXT "1.0"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Vexel::SetProgramVersion(u"" VEXEL_VERSION_TEXT);
    Vexel::InitializePlatform();
    Vexel::Ui::InitUi();
    static Vexel::LauncherState state;
    return Vexel::RunLauncher(state, Vexel::CommandLineTail(Vexel::FromNativeText(GetCommandLineW())));
}
