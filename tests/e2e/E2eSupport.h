// The pieces of an end-to-end test: the demo site as a real process on an ephemeral port, the real
// client program pointed at it (its own per-user folders in a temporary folder, its trace log turned on),
// the trace log read as it grows, and the private X server's desktop driven with synthesised input.
// Everything waits on events with a deadline; nothing sleeps a fixed time to let something happen.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct _XDisplay;

namespace Vexel::E2e
{

using namespace std::chrono_literals;

// Long enough for a sanitized client to start WebKit and load a page on a busy machine: the suites' one
// limit.
constexpr std::chrono::milliseconds _EVENT_TIMEOUT = Test::_EVENT_TIMEOUT;

// A child process with its output in files, ended (SIGTERM, then SIGKILL) when the object goes.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // environment: full "NAME=value" list; stdout and stderr go to the files.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::filesystem::path& out, const std::filesystem::path& err);
    bool Running();
    // Waits for the exit; its status (exit code, or 128 + signal), -1 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after the grace time; the exit status.
    int Stop(std::chrono::milliseconds grace = 10s);
    pid_t Pid() const { return mPid; }

private:
    pid_t mPid = 0;
    int mStatus = -1;
};

// The demo operator site (tools/demo-portal), started on a free port of 127.0.0.1.
class Portal
{
public:
    // Extra arguments, e.g. {"--game-params", "single"}.
    explicit Portal(std::vector<std::string> arguments = {});
    bool Started() const { return mPort > 0; }
    int Port() const { return mPort; }
    std::string Site() const { return "http://127.0.0.1:" + std::to_string(mPort); }
    // Its request log ("demo-portal: GET /path 200" lines).
    std::string Log() const;
    int CountRequests(const std::string& methodAndPathPrefix) const;
    // SIGTERM; the exit status.
    int Stop() { return mProcess.Stop(); }

private:
    Test::TempDir mFolder;
    ChildProcess mProcess;
    int mPort = 0;
};

// The client's trace log, decoded to UTF-8. Positions are byte offsets in that text.
class TraceLog
{
public:
    // A trace file's bytes (UTF-16LE, with or without a byte-order mark) as UTF-8.
    static std::string Decode(const std::string& bytes);
    // Every trace log in the user root (one a process), decoded, keyed by the process number in its name.
    static std::map<int, std::string> ByProcess(const std::filesystem::path& userRoot);
    explicit TraceLog(std::filesystem::path userRoot) : mRoot(std::move(userRoot)) {}
    std::string Text() const;
    // Waits until needle occurs at or after from; the offset just past it, or npos on time-out.
    std::size_t WaitFor(const std::string& needle, std::size_t from = 0,
                        std::chrono::milliseconds timeout = _EVENT_TIMEOUT) const;
    std::size_t Size() const { return Text().size(); }
    int Count(const std::string& needle, std::size_t from = 0) const;

private:
    std::filesystem::path mRoot;
};

// The client program (vexel-launcher) with fresh per-user folders, its trace log on, and a settings file
// made from resources/config.lua with the site's address put in and extra lines appended.
//
// Every run is judged by how it ends: a test either waits for the program to end by itself
// (ExitsWith) or ends it (StopsCleanly); a run nobody judged is ended and judged when the object goes.
// A sanitizer report in the program's stderr fails the run whatever its status.
class Client
{
public:
    // Status of a program ended by StopsCleanly (SIGTERM, which the program leaves to its default action).
    static constexpr int _TERMINATED = 128 + 15;

    // program: the launcher file to run (empty: the one built here).
    Client(const Portal& portal, const std::string& extraSettings = {},
           const std::vector<std::string>& arguments = {"/noshortcut"},
           const std::filesystem::path& program = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Started() const { return mStarted; }
    TraceLog& Trace() { return mTrace; }
    const std::filesystem::path& UserRoot() const { return mUserRoot; }
    bool Running() { return mProcess.Running(); }
    pid_t Pid() const { return mProcess.Pid(); }
    // The program's stderr (sanitizer reports land here; programs it starts write there too).
    std::string Errors() const;
    // The sanitizer report in the program's stderr from its first line on, empty when there is none.
    std::string SanitizerReport() const;

    // Waits for the program to end by itself with the status expected and no sanitizer report.
    ::testing::AssertionResult ExitsWith(int expected, std::chrono::milliseconds timeout = _EVENT_TIMEOUT);
    // Ends the program (SIGTERM): it must still have been running and must leave no sanitizer report.
    ::testing::AssertionResult StopsCleanly();

private:
    ::testing::AssertionResult Judge(int status, int expected);

    Test::TempDir mFolder;
    std::filesystem::path mUserRoot;
    TraceLog mTrace;
    ChildProcess mProcess;
    bool mStarted = false;
    bool mJudged = false;
};

// A top-level window of the private X server.
struct DesktopWindow
{
    unsigned long id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
    std::string name;
};

// The private X server (tests/support PrivateDisplay) and synthesised input through XTest. The test
// process holds a connection for its whole life, so the server outlives the client programs it runs.
class Desktop
{
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // False (with the reason) when there is no display: a test failure, never a skip.
    bool Ready() const { return mDisplay != nullptr; }
    const std::string& Problem() const { return mProblem; }

    std::vector<DesktopWindow> Windows();
    // Waits for a viewable top-level window that matches.
    bool WaitForWindow(const std::function<bool(const DesktopWindow&)>& match, DesktopWindow& found,
                       std::chrono::milliseconds timeout = _EVENT_TIMEOUT);
    bool WaitUntilGone(unsigned long id, std::chrono::milliseconds timeout = _EVENT_TIMEOUT);
    bool Viewable(unsigned long id);

    void MoveTo(int x, int y);
    void Click(int x, int y, unsigned button = 1);
    // Letters, digits and a little punctuation, typed key by key.
    void Type(const std::string& text);
    // A key by its X name ("Return", "Tab", "F12"), with modifiers held ("Control_L", "Alt_L").
    void Press(const std::string& key, const std::vector<std::string>& modifiers = {});

    // The screen's pixels (0xRRGGBB) in the rectangle, row by row; empty when it cannot be read.
    std::vector<unsigned long> Pixels(const DesktopWindow& area);
    // The screen as PNG (ImageMagick's import), cut to the rectangle when one is given.
    bool Screenshot(const std::filesystem::path& file, const DesktopWindow* area = nullptr);
    // With VEXEL_E2E_SCREENSHOTS naming a folder, a screenshot there as <name>.png; otherwise nothing.
    void Snap(const std::string& name, const DesktopWindow* area = nullptr);

private:
    void Key(const std::string& name, bool down);
    void Flush();

    ::_XDisplay* mDisplay = nullptr;
    std::string mProblem;
};

// Signs in on the demo site's login page in the client's main window (found as main) and waits for the
// server list; the trace offset after it is shown, npos when it never came. Input can reach a page
// before its form is laid out, so the whole form is filled again (at most a few times) until it is sent.
std::size_t SignIn(Desktop& desktop, Client& client, const Portal& portal, DesktopWindow& main,
                   const std::string& user = "player");

// The folder of the source tree (resources/config.lua, docs/).
std::filesystem::path SourceDir();

} // namespace Vexel::E2e
