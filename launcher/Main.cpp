// The program's entry: the command line without the program path goes to the launcher's start-up.
#include "Startup.h"

#include "Platform/System.h"
#include "Platform/Ui/Ui.h"

#include <string>

int main(int argc, char** argv)
{
    Vexel::InitializePlatform();
    Vexel::Ui::InitUi();
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
    {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    static Vexel::LauncherState state;
    Vexel::RunLauncher(state, commandLine.c_str());
    return 0;
}
