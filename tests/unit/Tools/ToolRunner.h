// Runs the built vexelpack program with an argument vector, capturing its exit code and both outputs.
#pragma once

#include "TestSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace Vexel::Test
{

struct ToolRun
{
    int code = -1;
    std::string out;
    std::string err;
};

// The tool's outputs go to hidden files in dir; with inDir the tool also runs with dir as its current
// folder.
inline ToolRun RunVexelpack(const TempDir& dir, const std::vector<std::string>& args, bool inDir = false)
{
    const std::string program = VEXEL_BINARY_DIR "/vexelpack";
    const std::string outPath = (dir / ".stdout").string();
    const std::string errPath = (dir / ".stderr").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    ToolRun result;
    pid_t pid = fork();
    if (pid == 0)
    {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (inDir && chdir(dir.Path().c_str()) != 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0)
        ;
    result.code = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadBytes(outPath);
    result.err = ReadBytes(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}

} // namespace Vexel::Test
