// vexelpack package and publish, served by a real static web server on loopback and fetched back with
// vexelpack sync in both download modes: every resource arrives intact, a resource changed on the server
// fails its digest and is named, refusals are reported with their HTTP status and URL, and names with
// spaces and characters outside ASCII make the round trip.
#include "Common/StringEncoding.h"
#include "StaticWebServer.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace Vexel;
using Vexel::Test::ReadBytes;
using Vexel::Test::StaticWebServer;
using Vexel::Test::TempDir;
using Vexel::Test::TestServer;
using Vexel::Test::ToolRun;
using Vexel::Test::WriteBytes;

namespace
{

ToolRun Tool(const TempDir& dir, const std::vector<std::string>& args)
{
    return Vexel::Test::RunVexelpack(dir, args);
}

// The source folder: names with spaces, characters outside ASCII and characters that mean something in
// URLs, upper case, nested folders, an empty file and resources larger than a chunk.
std::map<std::string, std::string> SourceFiles()
{
    std::map<std::string, std::string> files{
        {"Maps/Zone 1/Tile000.DAT", TestServer::GeneratedBytes(1, 0, 200000)},
        {"Maps/Zone 1/Tile001.DAT", TestServer::GeneratedBytes(2, 0, 70000)},
        {"UI/\xc3\x84rger & Co.png", "umlaut and ampersand"},
        {"UI/\xe6\xbc\xa2\xe5\xad\x97/font.ttf", "two CJK characters"},
        {"sounds/a+b=c%20 what?#.ogg", "percent, plus, question mark, hash"},
        {"readme.txt", "hello"},
        {"empty.bin", ""},
    };
    for (int i = 0; i < 12; ++i)
        files["data/file" + std::to_string(i) + ".bin"] =
            TestServer::GeneratedBytes(10 + i, 0, 1000 * i * i + 1);
    return files;
}

// The name a resource has in the manifest and the archive: A to Z in lower case, "\" folders.
std::string ResourceName(std::string path)
{
    for (char& c : path)
        c = c == '/' ? '\\' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return path;
}

std::string PublishedPath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void WriteSource(const std::filesystem::path& folder, const std::map<std::string, std::string>& files)
{
    for (const auto& [path, bytes] : files)
        WriteBytes(folder / path, bytes);
}

// Every resource read back from the archive equals its source file.
void ExpectArchiveHolds(const TempDir& dir, const std::filesystem::path& archive,
                        const std::map<std::string, std::string>& files)
{
    for (const auto& [path, bytes] : files)
    {
        ToolRun run =
            Tool(dir, {"archive", "extract", archive.string(), ResourceName(path), (dir / "x.bin").string()});
        ASSERT_EQ(run.code, 0) << path << ": " << run.err;
        EXPECT_TRUE(ReadBytes(dir / "x.bin") == bytes) << path;
    }
}

// One attempt per resource and two connections: failures end the run quickly.
std::vector<std::string> Sync(const std::string& base, const std::filesystem::path& manifest,
                              const std::filesystem::path& archive)
{
    return {"sync",           "--base",    base, "--manifest", manifest.string(), "--archive",
            archive.string(), "--retries", "1",  "-q",         "--connections",   "2"};
}

} // namespace

TEST(PublishTest, PublishedTreeOnAStaticServerSyncsByNameIntact)
{
    TempDir dir;
    const auto files = SourceFiles();
    WriteSource(dir / "src", files);
    ToolRun run = Tool(dir, {"publish", (dir / "src").string(), (dir / "www" / "files").string()});
    ASSERT_EQ(run.code, 0) << run.err;
    // The tree holds each file under its resource name; the manifest lies beside it.
    for (const auto& [path, bytes] : files)
        EXPECT_EQ(ReadBytes(dir / "www" / "files" / PublishedPath(ResourceName(path))), bytes) << path;
    ASSERT_TRUE(std::filesystem::exists(dir / "www" / "files.manifest"));

    StaticWebServer server(dir / "www");
    ASSERT_TRUE(server.Started()) << server.Error();
    run = Tool(dir, Sync(server.Url("/files"), dir / "www" / "files.manifest", dir / "a.fod"));
    ASSERT_EQ(run.code, 0) << run.err << server.Log();
    EXPECT_NE(
        run.out.find(std::to_string(files.size()) + " of " + std::to_string(files.size()) + " resources"),
        std::string::npos)
        << run.out;
    ExpectArchiveHolds(dir, dir / "a.fod", files);
}

TEST(PublishTest, ByNameFailuresNameTheResourceTheStatusAndTheUrl)
{
    TempDir dir;
    WriteSource(dir / "src", {{"readme.txt", "hello"},
                              {"Gone File.txt", "gone"},
                              {"Private/Secret.txt", "secret"},
                              {"kept.txt", "kept"}});
    ASSERT_EQ(Tool(dir, {"publish", (dir / "src").string(), (dir / "www" / "files").string(), "--manifest",
                         (dir / "m.txt").string()})
                  .code,
              0);
    WriteBytes(dir / "www" / "files" / "readme.txt", "HELLO"); // changed after publishing
    std::filesystem::remove(dir / "www" / "files" / "gone file.txt");

    StaticWebServer server(dir / "www", {"/files/private/"});
    ASSERT_TRUE(server.Started()) << server.Error();
    ToolRun run = Tool(dir, Sync(server.Url("/files"), dir / "m.txt", dir / "a.fod"));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("failed: readme.txt: the data did not match its digest"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("failed: gone file.txt: the source gave no data (HTTP 404 from " +
                           server.Url("/files/gone%20file.txt") + ")"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("failed: private\\secret.txt: the source gave no data (HTTP 403 from " +
                           server.Url("/files/private/secret.txt") + ")"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("1 of 4 resources"), std::string::npos) << run.out;
    ExpectArchiveHolds(dir, dir / "a.fod", {{"kept.txt", "kept"}});
}

TEST(PublishTest, PackageOnAStaticServerSyncsByRangesIntactInBothManifestForms)
{
    TempDir dir;
    const auto files = SourceFiles();
    WriteSource(dir / "src", files);
    std::filesystem::create_directories(dir / "www");
    ToolRun run = Tool(dir, {"package", (dir / "src").string(), (dir / "www" / "game.pack").string(),
                             (dir / "game.txt").string(), "--version", "12", "--group", "ui=ui/**"});
    ASSERT_EQ(run.code, 0) << run.err;
    run = Tool(dir, {"package", (dir / "src").string(), (dir / "www" / "game2.pack").string(),
                     (dir / "game.fob").string(), "--binary"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir / "www" / "game2.pack"), ReadBytes(dir / "www" / "game.pack"));

    run = Tool(dir, {"manifest", "show", (dir / "game.txt").string()});
    EXPECT_NE(run.out.find("version: 12"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ui\\\xe6\xbc\xa2\xe5\xad\x97\\font.ttf 18 #"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[ui]"), std::string::npos) << run.out;
    EXPECT_EQ(Tool(dir, {"manifest", "show", (dir / "game.fob").string()}).out.find("form: binary"), 0u);

    StaticWebServer server(dir / "www");
    ASSERT_TRUE(server.Started()) << server.Error();
    for (const char* manifest : {"game.txt", "game.fob"})
    {
        const std::string archive = std::string(manifest) + ".fod";
        run = Tool(dir, Sync(server.Url("/game.pack?0"), dir / manifest, dir / archive));
        ASSERT_EQ(run.code, 0) << manifest << ": " << run.err << server.Log();
        EXPECT_NE(run.out.find(std::to_string(files.size()) + " of " + std::to_string(files.size())),
                  std::string::npos)
            << run.out;
    }
    // Both manifests describe the same package: reading one archive back is enough.
    ExpectArchiveHolds(dir, dir / "game.txt.fod", files);
}

TEST(PublishTest, PackageFailuresNameTheResourceTheStatusAndTheUrl)
{
    TempDir dir;
    const std::map<std::string, std::string> files{{"a.bin", TestServer::GeneratedBytes(7, 0, 90000)},
                                                   {"b b.bin", TestServer::GeneratedBytes(8, 0, 90000)}};
    WriteSource(dir / "src", files);
    std::filesystem::create_directories(dir / "www" / "private");
    ASSERT_EQ(Tool(dir, {"package", (dir / "src").string(), (dir / "www" / "p.pack").string(),
                         (dir / "p.txt").string()})
                  .code,
              0);
    std::filesystem::copy_file(dir / "www" / "p.pack", dir / "www" / "private" / "p.pack");
    // One byte of "b b.bin" changes on the server after packaging.
    std::string package = ReadBytes(dir / "www" / "p.pack");
    const auto at = package.find(files.at("b b.bin"));
    ASSERT_NE(at, std::string::npos);
    package[at + 1000] = static_cast<char>(~package[at + 1000]);
    WriteBytes(dir / "www" / "p.pack", package);

    StaticWebServer server(dir / "www", {"/private/"});
    ASSERT_TRUE(server.Started()) << server.Error();
    ToolRun run = Tool(dir, Sync(server.Url("/p.pack?0"), dir / "p.txt", dir / "a.fod"));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("failed: b b.bin: the data did not match its digest"), std::string::npos)
        << run.err;
    ExpectArchiveHolds(dir, dir / "a.fod", {{"a.bin", files.at("a.bin")}});

    // A package the server refuses or lacks: every resource fails with the answer, and soon.
    for (const auto& [path, status] :
         std::vector<std::pair<std::string, int>>{{"/private/p.pack", 403}, {"/none.pack", 404}})
    {
        run = Tool(dir, Sync(server.Url(path + "?0"), dir / "p.txt", dir / "b.fod"));
        EXPECT_EQ(run.code, 1) << path;
        for (const char* name : {"a.bin", "b b.bin"})
            EXPECT_NE(run.err.find(std::string("failed: ") + name + ": no data arrived in time (HTTP " +
                                   std::to_string(status) + " from " + server.Url(path) + ")"),
                      std::string::npos)
                << run.err;
    }
}

TEST(PublishTest, NamesThatCannotBeResourcesAndOverlappingOutputsAreRefused)
{
    TempDir dir;
    WriteSource(dir / "clash", {{"Readme.txt", "a"}, {"README.txt", "b"}});
    ToolRun run = Tool(dir, {"publish", (dir / "clash").string(), (dir / "out").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("both have the name readme.txt"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.manifest"));

    WriteSource(dir / "bar", {{"a|b.txt", "a"}});
    run = Tool(dir, {"package", (dir / "bar").string(), (dir / "p.pack").string(), (dir / "p.txt").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("a character manifests cannot carry"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "p.pack"));

    WriteSource(dir / "ok", {{"a.txt", "a"}});
    run = Tool(
        dir, {"package", (dir / "ok").string(), (dir / "ok" / "p.pack").string(), (dir / "p.txt").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("lies inside"), std::string::npos) << run.err;
    run = Tool(dir, {"publish", (dir / "ok").string(), (dir / "ok" / "www").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("overlap"), std::string::npos) << run.err;

    run = Tool(dir, {"publish", (dir / "ok").string(), (dir / "www").string(), "--manifest",
                     (dir / "www" / "a.txt").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("would take the place of"), std::string::npos) << run.err;
    EXPECT_EQ(
        Tool(dir, {"package", (dir / "ok").string(), (dir / "p.pack").string(), (dir / "p.pack").string()})
            .code,
        2);
    EXPECT_EQ(Tool(dir, {"package", (dir / "ok").string(), (dir / "p.pack").string()}).code, 2);
    EXPECT_EQ(Tool(dir, {"package", (dir / "ok").string(), "p", "m", "--group", "nothing"}).code, 2);
    EXPECT_EQ(Tool(dir, {"package", (dir / "ok").string(), "p", "m", "--version", "x"}).code, 2);
    EXPECT_EQ(Tool(dir, {"publish", (dir / "ok").string()}).code, 2);
}

TEST(PublishTest, AFileThatCannotBeReadLeavesNoOutputBehind)
{
    TempDir dir;
    WriteSource(dir / "src", {{"a.txt", TestServer::GeneratedBytes(3, 0, 300000)}});
    // Listed as a regular file, but every read of it fails.
    std::filesystem::create_symlink("/proc/self/mem", dir / "src" / "z.bin");
    std::filesystem::create_directories(dir / "out");
    ToolRun run = Tool(dir, {"package", (dir / "src").string(), (dir / "out" / "p.pack").string(),
                             (dir / "out" / "p.txt").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("z.bin"), std::string::npos) << run.err;
    run = Tool(dir, {"publish", (dir / "src").string(), (dir / "out" / "www").string()});
    EXPECT_EQ(run.code, 1);
    // Neither a package, a manifest nor a temporary file; publish's finished files stay, without a manifest.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "out"))
        left.push_back(entry.path().lexically_relative(dir / "out").generic_string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"www", "www/a.txt"}));
}

TEST(PublishTest, AnInterruptedRunLeavesNothingBehind)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    std::filesystem::create_directories(dir / "out");
    // Large enough that the run is still going when it is interrupted; sparse, so it costs no disk.
    WriteBytes(dir / "src" / "big.bin", "");
    std::filesystem::resize_file(dir / "src" / "big.bin", std::uintmax_t(3) << 30);

    const std::string program = VEXEL_BINARY_DIR "/vexelpack";
    const std::string src = (dir / "src").string();
    const std::string pack = (dir / "out" / "p.pack").string();
    const std::string manifest = (dir / "out" / "p.txt").string();
    pid_t pid = fork();
    if (pid == 0)
    {
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0)
            _exit(126);
        execl(program.c_str(), program.c_str(), "package", src.c_str(), pack.c_str(), manifest.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    const auto writing = [&]
    {
        for (const auto& entry : std::filesystem::directory_iterator(dir / "out"))
            if (entry.path().string().find(".vexelpack-") != std::string::npos && entry.file_size() > 0)
                return true;
        return false;
    };
    const bool started = Vexel::Test::WaitUntil(writing);
    kill(pid, SIGINT);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
        ;
    ASSERT_TRUE(started);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

TEST(PublishTest, GroupsCollectEveryMatchingTag)
{
    TempDir dir;
    WriteSource(dir / "src", {{"UI/a.png", "1"}, {"UI/deep/b.png", "2"}, {"c.png", "3"}, {"d.txt", "4"}});
    ToolRun run = Tool(dir, {"package", (dir / "src").string(), (dir / "p.pack").string(),
                             (dir / "p.txt").string(), "--group", "needed=*.png", "--group", "ui=ui/*",
                             "--group", "deep=UI/**", "--group=needed=d.txt"});
    ASSERT_EQ(run.code, 0) << run.err;
    run = Tool(dir, {"manifest", "show", (dir / "p.txt").string()});
    EXPECT_NE(run.out.find("c.png 1 #"), std::string::npos) << run.out;
    const auto groupOf = [&](const std::string& name)
    {
        const auto at = run.out.find("\n" + name + " ");
        const auto end = run.out.find('\n', at + 1);
        const auto open = run.out.find('[', at);
        return at == std::string::npos || open > end ? std::string() : run.out.substr(open, end - open);
    };
    EXPECT_EQ(groupOf("ui\\a.png"), "[needed:ui:deep]");
    EXPECT_EQ(groupOf("ui\\deep\\b.png"), "[needed:deep]");
    EXPECT_EQ(groupOf("c.png"), "[needed]");
    EXPECT_EQ(groupOf("d.txt"), "[needed]");
}
