#include "E2eSupport.h"

#include "PrivateDisplay.h"

#include "Common/StringEncoding.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Vexel::E2e
{

namespace
{
constexpr auto _KEY_PACE = 30ms;

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The environment with some variables replaced or added.
std::vector<std::string> Environment(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::vector<std::string> out;
    for (char** entry = environ; *entry; ++entry)
    {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& change : changes)
            replaced = replaced || change.first == name;
        if (!replaced)
            out.push_back(text);
    }
    for (const auto& [name, value] : changes)
        out.push_back(name + "=" + value);
    return out;
}
} // namespace

std::filesystem::path SourceDir()
{
    return VEXEL_SOURCE_DIR;
}

// --- ChildProcess ------------------------------------------------------------------------------------

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         const std::filesystem::path& out, const std::filesystem::path& err)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& entry : environment)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = posix_spawn(&mPid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
    {
        mPid = 0;
        return false;
    }
    mStatus = -1;
    return true;
}

bool ChildProcess::Running()
{
    if (mPid == 0)
        return false;
    int status = 0;
    pid_t done = waitpid(mPid, &status, WNOHANG);
    if (done == 0)
        return true;
    if (done == mPid)
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    mPid = 0;
    return false;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    if (!Test::WaitUntil([this] { return !Running(); }, timeout))
        return -1;
    return mStatus;
}

int ChildProcess::Stop(std::chrono::milliseconds grace)
{
    if (!Running())
        return mStatus;
    kill(mPid, SIGTERM);
    if (Wait(grace) >= 0)
        return mStatus;
    kill(mPid, SIGKILL);
    return Wait(10s);
}

// --- Portal ------------------------------------------------------------------------------------------

Portal::Portal(std::vector<std::string> arguments)
{
    std::vector<std::string> argv = {VEXEL_PORTAL_PATH, "--port", "0"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto out = mFolder / "port.txt";
    if (!mProcess.Start(argv, Environment({}), out, mFolder / "requests.log"))
        return;
    Test::WaitUntil(
        [&]
        {
            std::string text = ReadText(out);
            if (text.rfind("port ", 0) == 0 && text.find('\n') != std::string::npos)
                mPort = std::atoi(text.c_str() + 5);
            return mPort > 0 || !mProcess.Running();
        },
        _EVENT_TIMEOUT);
}

std::string Portal::Log() const
{
    return ReadText(mFolder / "requests.log");
}

int Portal::CountRequests(const std::string& methodAndPathPrefix) const
{
    std::istringstream lines(Log());
    int count = 0;
    const std::string prefix = "demo-portal: " + methodAndPathPrefix;
    for (std::string text; std::getline(lines, text);)
        count += text.rfind(prefix, 0) == 0;
    return count;
}

// --- TraceLog ----------------------------------------------------------------------------------------

std::string TraceLog::Text() const
{
    std::map<int, std::string> logs = ByProcess(mRoot);
    return logs.empty() ? std::string() : logs.begin()->second;
}

std::map<int, std::string> TraceLog::ByProcess(const std::filesystem::path& userRoot)
{
    std::map<int, std::string> logs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(userRoot, error))
    {
        const std::string name = entry.path().filename().string();
        std::size_t tag = name.find("-mc");
        if (name.find("[Trace].log") == std::string::npos || tag == std::string::npos)
            continue;
        logs[std::atoi(name.c_str() + tag + 3)] = Decode(ReadText(entry.path()));
    }
    return logs;
}

std::string TraceLog::Decode(const std::string& bytes)
{
    std::u16string wide(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    if (!wide.empty() && wide[0] == u'\xFEFF')
        wide.erase(0, 1);
    return ToUtf8(wide);
}

std::size_t TraceLog::WaitFor(const std::string& needle, std::size_t from,
                              std::chrono::milliseconds timeout) const
{
    std::size_t found = std::string::npos;
    Test::WaitUntil(
        [&]
        {
            std::size_t at = Text().find(needle, from);
            if (at != std::string::npos)
                found = at + needle.size();
            return found != std::string::npos;
        },
        timeout);
    return found;
}

int TraceLog::Count(const std::string& needle, std::size_t from) const
{
    std::string text = Text();
    int count = 0;
    for (std::size_t at = text.find(needle, from); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

// --- Client ------------------------------------------------------------------------------------------

Client::Client(const Portal& portal, const std::string& extraSettings,
               const std::vector<std::string>& arguments, const std::filesystem::path& program)
    : mUserRoot(mFolder / "data" / "vexel"), mTrace(mUserRoot)
{
    for (const char* sub : {"home", "data/vexel", "config", "cache", "run"})
        std::filesystem::create_directories(mFolder / sub);
    std::filesystem::permissions(mFolder / "run", std::filesystem::perms::owner_all);
    Test::WriteBytes(mUserRoot / "mc.cfg", "mclog\n");

    // The settings: the embedded config.lua with the site's address in its one "local site" line.
    std::istringstream config(ReadText(SourceDir() / "resources" / "config.lua"));
    std::string settings;
    for (std::string line; std::getline(config, line);)
        settings +=
            (line.rfind("local site = ", 0) == 0 ? "local site = \"" + portal.Site() + "\"" : line) + "\n";
    settings += extraSettings;
    Test::WriteBytes(mFolder / "settings.lua", settings);

    std::vector<std::string> argv = {program.empty() ? std::string(VEXEL_LAUNCHER_PATH) : program.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const char* display = std::getenv("DISPLAY");
    // Whole allocation stacks, as the window test programs record them: tests/lsan.supp names the system
    // libraries' own frames, which the fast unwinder never reaches. ASAN_OPTIONS still overrides.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    auto environment =
        Environment({{"HOME", (mFolder / "home").string()},
                     {"ASAN_OPTIONS", std::string("fast_unwind_on_malloc=0:") + (sanitizer ? sanitizer : "")},
                     {"XDG_DATA_HOME", (mFolder / "data").string()},
                     {"XDG_CONFIG_HOME", (mFolder / "config").string()},
                     {"XDG_CACHE_HOME", (mFolder / "cache").string()},
                     {"XDG_RUNTIME_DIR", (mFolder / "run").string()},
                     {"VEXEL_SETTINGS", (mFolder / "settings.lua").string()},
                     {"DISPLAY", display ? display : ""}});
    // The program runs in its per-user data folder's parent, never in the source or build tree.
    mStarted = mProcess.Start(argv, environment, mFolder / "stdout.txt", mFolder / "stderr.txt");
}

Client::~Client()
{
    if (!mStarted || mJudged)
        return;
    // Not judged by the test (it stopped early): a crash or a sanitizer report still fails it.
    ::testing::AssertionResult result = Running() ? StopsCleanly() : ExitsWith(0, 0ms);
    if (!result)
        ADD_FAILURE() << "the client's run: " << result.message();
}

std::string Client::Errors() const
{
    return ReadText(mFolder / "stderr.txt");
}

std::string Client::SanitizerReport() const
{
    const std::string errors = Errors();
    std::size_t first = std::string::npos;
    for (const char* marker :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", ": runtime error: ", "WARNING: ThreadSanitizer",
          "SUMMARY: AddressSanitizer", "SUMMARY: UndefinedBehaviorSanitizer"})
        first = std::min(first, errors.find(marker));
    if (first == std::string::npos)
        return {};
    std::size_t line = errors.rfind('\n', first);
    return errors.substr(line == std::string::npos ? 0 : line + 1);
}

::testing::AssertionResult Client::Judge(int status, int expected)
{
    mJudged = true;
    std::string report = SanitizerReport();
    if (!report.empty())
        return ::testing::AssertionFailure()
               << "the client wrote a sanitizer report (exit status " << status << "):\n"
               << report;
    if (status == -1)
        return ::testing::AssertionFailure() << "the client did not end in time";
    if (status != expected)
        return ::testing::AssertionFailure()
               << "the client ended with status " << status << ", expected " << expected << "; its stderr:\n"
               << Errors();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Client::ExitsWith(int expected, std::chrono::milliseconds timeout)
{
    return Judge(mProcess.Wait(timeout), expected);
}

::testing::AssertionResult Client::StopsCleanly()
{
    if (!Running())
    {
        mJudged = true;
        const std::string report = SanitizerReport();
        return ::testing::AssertionFailure() << "the client had already ended (status " << mProcess.Wait(0ms)
                                             << ")" << (report.empty() ? "" : ":\n") << report;
    }
    return Judge(mProcess.Stop(), _TERMINATED);
}

// --- Desktop -----------------------------------------------------------------------------------------

Desktop::Desktop()
{
    // One connection for the whole process: the private server ends when its last client leaves, and
    // later tests of the same process need it still.
    static ::Display* shared = nullptr;
    static std::string problem;
    if (!shared && problem.empty())
    {
        // Windows come and go between listing them and asking about them: such errors are expected,
        // and Xlib's default handler would end the test process.
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
        Test::UsePrivateDisplay();
        const char* name = std::getenv("DISPLAY");
        int event = 0, error = 0, major = 0, minor = 0;
        if (!name || !*name)
            problem = "no DISPLAY and no Xvfb to start one";
        else if (!(shared = XOpenDisplay(name)))
            problem = std::string("cannot open display ") + name;
        else if (!XTestQueryExtension(shared, &event, &error, &major, &minor))
        {
            problem = "the X server has no XTEST extension";
            XCloseDisplay(shared);
            shared = nullptr;
        }
    }
    mDisplay = shared;
    mProblem = problem;
}

Desktop::~Desktop() = default;

std::vector<DesktopWindow> Desktop::Windows()
{
    std::vector<DesktopWindow> out;
    if (!mDisplay)
        return out;
    XSync(mDisplay, False);
    ::Window root = DefaultRootWindow(mDisplay), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(mDisplay, root, &root, &parent, &children, &count))
        return out;
    const Atom utf8 = XInternAtom(mDisplay, "UTF8_STRING", False);
    const Atom netName = XInternAtom(mDisplay, "_NET_WM_NAME", False);
    for (unsigned i = 0; i < count; ++i)
    {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(mDisplay, children[i], &attributes))
            continue;
        DesktopWindow window;
        window.id = children[i];
        window.x = attributes.x;
        window.y = attributes.y;
        window.width = attributes.width;
        window.height = attributes.height;
        window.viewable = attributes.map_state == IsViewable;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(mDisplay, children[i], netName, 0, 1024, False, utf8, &type, &format, &items,
                               &after, &data) == Success &&
            data)
        {
            window.name.assign(reinterpret_cast<char*>(data), items);
            XFree(data);
        }
        out.push_back(window);
    }
    if (children)
        XFree(children);
    return out;
}

bool Desktop::WaitForWindow(const std::function<bool(const DesktopWindow&)>& match, DesktopWindow& found,
                            std::chrono::milliseconds timeout)
{
    return Test::WaitUntil(
        [&]
        {
            for (const DesktopWindow& window : Windows())
                if (window.viewable && match(window))
                {
                    found = window;
                    return true;
                }
            return false;
        },
        timeout);
}

bool Desktop::Viewable(unsigned long id)
{
    for (const DesktopWindow& window : Windows())
        if (window.id == id)
            return window.viewable;
    return false;
}

bool Desktop::WaitUntilGone(unsigned long id, std::chrono::milliseconds timeout)
{
    return Test::WaitUntil([&] { return !Viewable(id); }, timeout);
}

void Desktop::Flush()
{
    XSync(mDisplay, False);
}

void Desktop::MoveTo(int x, int y)
{
    if (!mDisplay)
        return;
    XTestFakeMotionEvent(mDisplay, -1, x, y, CurrentTime);
    Flush();
}

void Desktop::Click(int x, int y, unsigned button)
{
    if (!mDisplay)
        return;
    MoveTo(x, y);
    XTestFakeButtonEvent(mDisplay, button, True, CurrentTime);
    XTestFakeButtonEvent(mDisplay, button, False, CurrentTime);
    Flush();
}

void Desktop::Key(const std::string& name, bool down)
{
    // At a person's pace: programs read the modifiers of a combination from separate events.
    std::this_thread::sleep_for(_KEY_PACE);
    KeySym sym = XStringToKeysym(name.c_str());
    KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(mDisplay, sym);
    if (code != 0)
        XTestFakeKeyEvent(mDisplay, code, down ? True : False, CurrentTime);
    Flush();
}

void Desktop::Press(const std::string& key, const std::vector<std::string>& modifiers)
{
    if (!mDisplay)
        return;
    for (const std::string& modifier : modifiers)
        Key(modifier, true);
    Key(key, true);
    Key(key, false);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        Key(*it, false);
    Flush();
}

void Desktop::Type(const std::string& text)
{
    for (char c : text)
    {
        if (c >= 'A' && c <= 'Z')
            Press(std::string(1, c), {"Shift_L"});
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            Press(std::string(1, c));
        else if (c == ' ')
            Press("space");
        else if (c == '.')
            Press("period");
        else if (c == '-')
            Press("minus");
        else if (c == '_')
            Press("underscore", {"Shift_L"});
    }
}

std::vector<unsigned long> Desktop::Pixels(const DesktopWindow& area)
{
    std::vector<unsigned long> pixels;
    if (!mDisplay || area.width <= 0 || area.height <= 0)
        return pixels;
    XImage* image =
        XGetImage(mDisplay, DefaultRootWindow(mDisplay), area.x, area.y, static_cast<unsigned>(area.width),
                  static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x)
            pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return pixels;
}

bool Desktop::Screenshot(const std::filesystem::path& file, const DesktopWindow* area)
{
    if (!mDisplay)
        return false;
    const char* display = std::getenv("DISPLAY");
    std::vector<std::string> argv = {"/usr/bin/import", "-display", display ? display : "", "-window",
                                     "root"};
    if (area)
    {
        argv.push_back("-crop");
        argv.push_back(std::to_string(area->width) + "x" + std::to_string(area->height) + "+" +
                       std::to_string(area->x) + "+" + std::to_string(area->y));
        argv.push_back("+repage");
    }
    argv.push_back(file.string());
    ChildProcess import;
    if (!import.Start(argv, Environment({}), "/dev/null", "/dev/null"))
        return false;
    return import.Wait(30s) == 0 && std::filesystem::exists(file);
}

void Desktop::Snap(const std::string& name, const DesktopWindow* area)
{
    const char* folder = std::getenv("VEXEL_E2E_SCREENSHOTS");
    if (!folder || !*folder)
        return;
    // Only for the pictures: the web process paints a moment after the page reports itself shown.
    std::this_thread::sleep_for(1500ms);
    Screenshot(std::filesystem::path(folder) / (name + ".png"), area);
}

// --- The demo site's sign-in -----------------------------------------------------------------------------

std::size_t SignIn(Desktop& desktop, Client& client, const Portal& portal, DesktopWindow& main,
                   const std::string& user)
{
    // The main window (config.lua frameW, frameH), its page's place (frameWebX, frameWebY) and the
    // login form's user field on the page.
    constexpr int _MAIN_W = 600, _MAIN_H = 400, _WEB_X = 20, _WEB_Y = 76, _USER_X = 300, _USER_Y = 68;
    constexpr int _ATTEMPTS = 4;
    TraceLog& trace = client.Trace();
    const std::string login = "[MC] Preload page at: " + portal.Site() + "/login";
    std::size_t at = trace.WaitFor(login);
    if (at != std::string::npos)
        at = trace.Text().rfind(login) + login.size(); // the login page shown last
    if (at == std::string::npos || trace.WaitFor("[MC] Show page", at) == std::string::npos ||
        !desktop.WaitForWindow(
            [](const DesktopWindow& w) { return w.width == _MAIN_W && w.height == _MAIN_H; }, main))
        return std::string::npos;
    desktop.Snap("portal-login", &main);
    const std::string servers = "[MC] Preload page at: " + portal.Site() + "/servers";
    const std::size_t from = at;
    const int posted = portal.CountRequests("POST /login");
    for (int attempt = 0; attempt < _ATTEMPTS && at != std::string::npos; ++attempt)
    {
        // A form that was sent is not filled again: the answer is on its way.
        if (portal.CountRequests("POST /login") > posted)
        {
            at = trace.WaitFor(servers, from);
            break;
        }
        desktop.Click(main.x + _WEB_X + _USER_X, main.y + _WEB_Y + _USER_Y);
        desktop.Press("a", {"Control_L"});
        desktop.Type(user);
        // Tab, not a click: keys stay in order with each other, a click may overtake them on its way
        // to the page.
        desktop.Press("Tab");
        desktop.Press("a", {"Control_L"});
        desktop.Type("secret");
        desktop.Press("Return");
        at = trace.WaitFor(servers, from, attempt + 1 < _ATTEMPTS ? 15s : _EVENT_TIMEOUT);
        if (at != std::string::npos)
            break;
        at = from;
    }
    if (at == from || at == std::string::npos ||
        (at = trace.WaitFor("[MC] Show page", at)) == std::string::npos)
        return std::string::npos;
    desktop.Snap("portal-servers", &main);
    return at;
}

} // namespace Vexel::E2e
