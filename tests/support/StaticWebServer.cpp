#include "StaticWebServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Vexel::Test
{

namespace
{

// Socket activation hands the listening socket over as the first descriptor after standard error.
constexpr int _LISTEN_FD = 3;

std::string FindProgram(const std::string& name)
{
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH"))
    {
        std::stringstream list(path);
        for (std::string folder; std::getline(list, folder, ':');)
            if (!folder.empty())
                folders.push_back(folder);
    }
    // Debian installs servers under sbin, which a user's PATH may leave out.
    folders.insert(folders.end(), {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    for (const std::string& folder : folders)
    {
        std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

// A lighttpd configuration string: backslashes and quotes escaped.
std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A regular expression that matches text literally.
std::string Literal(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        if (std::strchr("\\^$.|?*+()[]{}", c))
            out += '\\';
        out += c;
    }
    return out;
}

// Runs a program to its end; its exit code, or -1.
int RunToEnd(const std::vector<std::string>& args, const std::filesystem::path& output)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string outPath = output.string();
    pid_t pid = fork();
    if (pid == 0)
    {
        int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR)
        ;
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

StaticWebServer::StaticWebServer(const std::filesystem::path& root, const std::vector<std::string>& denied)
{
    if (!Start(root, denied))
        mPid = -1;
}

bool StaticWebServer::Start(const std::filesystem::path& root, const std::vector<std::string>& denied)
{
    const std::string program = FindProgram("lighttpd");
    if (program.empty())
    {
        mError = "lighttpd is not installed (scripts/setup installs it)";
        return false;
    }

    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 128) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        mError = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        if (listener >= 0)
            close(listener);
        return false;
    }
    mPort = ntohs(address.sin_port);

    const std::filesystem::path config = mDir / "lighttpd.conf";
    std::string text = "server.document-root = " + Quoted(std::filesystem::absolute(root).string()) + "\n" +
                       "server.bind = \"127.0.0.1\"\n" + "server.port = " + std::to_string(mPort) + "\n" +
                       "server.systemd-socket-activation = \"enable\"\n" +
                       "server.errorlog = " + Quoted((mDir / "error.log").string()) + "\n" +
                       // Files changed by a test are served as they are now.
                       "server.stat-cache-engine = \"disable\"\n" + "server.modules = (\"mod_access\")\n" +
                       "mimetype.assign = (\"\" => \"application/octet-stream\")\n";
    for (const std::string& prefix : denied)
        text += "$HTTP[\"url\"] =~ " + Quoted("^" + Literal(prefix)) + " { url.access-deny = (\"\") }\n";
    WriteBytes(config, text);

    // A configuration the server rejects is reported with the server's own words.
    if (RunToEnd({program, "-tt", "-f", config.string()}, mDir / "check.log") != 0)
    {
        mError = "lighttpd rejects its configuration: " + ReadBytes(mDir / "check.log");
        close(listener);
        return false;
    }

    // Everything the child needs is made before fork: after it only async-signal-safe calls are made.
    const std::string configPath = config.string();
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("-D"),
                            const_cast<char*>("-f"), const_cast<char*>(configPath.c_str()), nullptr};
    std::vector<std::string> variables{"LISTEN_FDS=1"};
    for (char** each = environ; *each != nullptr; ++each)
        if (std::strncmp(*each, "LISTEN_", 7) != 0)
            variables.emplace_back(*each);
    char pidVariable[32] = "LISTEN_PID=";
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(pidVariable);
    envp.push_back(nullptr);
    const std::string logPath = (mDir / "output.log").string();

    pid_t pid = fork();
    if (pid == 0)
    {
        // LISTEN_PID must name the server's own process: this one, after exec.
        char digits[16];
        int n = 0;
        for (pid_t self = getpid(); self > 0 && n < 15; self /= 10)
            digits[n++] = static_cast<char>('0' + self % 10);
        char* at = pidVariable + std::strlen(pidVariable);
        while (n > 0)
            *at++ = digits[--n];
        *at = '\0';
        int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
            _exit(126);
        if (listener == _LISTEN_FD)
            fcntl(listener, F_SETFD, 0);
        else if (dup2(listener, _LISTEN_FD) < 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // Only the server holds the socket now: when it dies, waiting connections are refused, not left hanging.
    close(listener);
    if (pid < 0)
    {
        mError = std::string("cannot start lighttpd: ") + std::strerror(errno);
        return false;
    }
    mPid = pid;
    return true;
}

StaticWebServer::~StaticWebServer()
{
    if (mPid <= 0)
        return;
    kill(mPid, SIGTERM);
    int status = 0;
    while (waitpid(mPid, &status, 0) < 0 && errno == EINTR)
        ;
}

std::string StaticWebServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

std::string StaticWebServer::Log() const
{
    return ReadBytes(mDir / "error.log") + ReadBytes(mDir / "output.log");
}

} // namespace Vexel::Test
