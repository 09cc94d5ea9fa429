// vexelpack sync against the loopback server and local folders: what lands in the archive, what a second
// run keeps, and how failures are reported.
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Vexel;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::TestServer;
using Vexel::Test::WriteBytes;

namespace
{

using Vexel::Test::ToolRun;

ToolRun Tool(const TempDir& dir, const std::vector<std::string>& args)
{
    return Vexel::Test::RunVexelpack(dir, args);
}

struct Resource
{
    std::string name; // file name, in the folder "data" when inFolder
    std::string bytes;
    int offset = -1;
};

// The text manifest (UTF-16LE): a folder line, then "name|digest|#offset|size" or "name|digest|size".
void WriteManifest(const std::filesystem::path& path, const std::vector<Resource>& resources)
{
    std::u16string text = u"data|[]\r\n";
    for (const Resource& r : resources)
    {
        std::string line = r.name + "|" + ToUtf8(Md5ToText(Md5Of(r.bytes.data(), r.bytes.size()))) + "|";
        if (r.offset >= 0)
            line += "#" + std::to_string(r.offset) + "|";
        line += std::to_string(r.bytes.size()) + "\r\n";
        text += FromUtf8(line);
    }
    WriteBytes(path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

std::string Extract(const TempDir& dir, const std::string& name)
{
    ToolRun run =
        Tool(dir, {"archive", "extract", (dir / "out.fod").string(), name, (dir / "x.bin").string()});
    return run.code == 0 ? ReadBytes(dir / "x.bin") : "<" + run.err + ">";
}

} // namespace

TEST(SyncTest, PackageOverHttpFillsTheArchiveAndASecondRunKeepsIt)
{
    TempDir dir;
    TestServer server;
    std::vector<Resource> resources;
    std::string package = "PREFIX";
    for (int i = 0; i < 30; ++i)
    {
        Resource r{"r" + std::to_string(i) + ".bin", TestServer::GeneratedBytes(i, 0, 700 + i * 4099),
                   static_cast<int>(package.size() - 6)};
        package += r.bytes;
        resources.push_back(r);
    }
    server.AddFile("/pack.bin", package);
    server.SetMode("/pack.bin", TestServer::Mode::ShortRanges, 2);
    WriteManifest(dir / "m.txt", resources);
    const std::vector<std::string> args{"sync",
                                        "--base",
                                        server.Url("/pack.bin?6"),
                                        "--manifest",
                                        (dir / "m.txt").string(),
                                        "--archive",
                                        (dir / "out.fod").string(),
                                        "--connections=3",
                                        "-q"};
    ToolRun run = Tool(dir, args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("30 of 30 resources"), std::string::npos) << run.out;
    EXPECT_EQ(Extract(dir, "data\\r0.bin"), resources[0].bytes);
    EXPECT_EQ(Extract(dir, "data\\r29.bin"), resources[29].bytes);

    const int requests = server.Requests("/pack.bin");
    run = Tool(dir, args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("(30 were there already)"), std::string::npos) << run.out;
    EXPECT_EQ(server.Requests("/pack.bin"), requests);
}

TEST(SyncTest, FilesByNameFromAFolderWithFailuresListed)
{
    TempDir dir;
    std::vector<Resource> resources{{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}};
    for (const Resource& r : resources)
        WriteBytes(dir / "src" / "data" / r.name, r.bytes);
    WriteManifest(dir / "m.txt", resources);
    WriteBytes(dir / "src" / "data" / "b.txt", "BRAVO"); // changed after the manifest was made
    std::filesystem::remove(dir / "src" / "data" / "c.txt");

    ToolRun run = Tool(dir, {"sync", "--base", (dir / "src").string(), "--manifest", (dir / "m.txt").string(),
                             "--archive", (dir / "out.fod").string(), "--retries", "1", "-q"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("failed: data\\b.txt: the data did not match its digest"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("failed: data\\c.txt: the source gave no data"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("1 of 3 resources"), std::string::npos) << run.out;
    EXPECT_EQ(Extract(dir, "data\\a.txt"), "alpha");
    EXPECT_NE(Extract(dir, "data\\b.txt"), "BRAVO"); // nothing wrong is stored
}

TEST(SyncTest, PackageEntriesNeedAPlaceAndArgumentsAreChecked)
{
    TempDir dir;
    WriteBytes(dir / "pack.bin", "0123456789");
    WriteManifest(dir / "m.txt", {{"in.bin", "2345", 2}, {"loose.bin", "x"}});
    ToolRun run = Tool(dir, {"sync", "--base", (dir / "pack.bin").string() + "?0", "--manifest",
                             (dir / "m.txt").string(), "--archive", (dir / "out.fod").string(), "-q"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("failed: data\\loose.bin: has no place in the package"), std::string::npos)
        << run.err;
    EXPECT_EQ(Extract(dir, "data\\in.bin"), "2345");

    EXPECT_EQ(Tool(dir, {"sync", "--base", "x", "--manifest", "y"}).code, 2);
    EXPECT_EQ(
        Tool(dir, {"sync", "--base", "x", "--manifest", "y", "--archive", "z", "--connections", "0"}).code,
        2);
    run = Tool(dir, {"sync", "--base", (dir / "none").string(), "--manifest", (dir / "m.txt").string(),
                     "--archive", (dir / "o.fod").string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("no such package file or folder"), std::string::npos) << run.err;
}
