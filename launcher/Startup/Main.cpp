// The program's entry: the arguments without the program path, joined so that they split again into the
// same words, go to the launcher's start-up.
#include "Base/CommandLine.h"
#include "Services/Install.h"
#include "Startup/Startup.h"

#include "Platform/System.h"
#include "Platform/Ui/Ui.h"

#include <string>
#include <vector>

// The version text the program reports; a second build with another one serves as a newer program.
#ifndef VEXEL_VERSION_TEXT
#define VEXEL_VERSION_TEXT "1.0"
#endif

int main(int argc, char** argv)
{
    Vexel::SetProgramVersion(u"" VEXEL_VERSION_TEXT);
    Vexel::InitializePlatform();
    Vexel::Ui::InitUi();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string commandLine = Vexel::JoinArguments(arguments);
    static Vexel::LauncherState state;
    return Vexel::RunLauncher(state, commandLine.c_str());
}
