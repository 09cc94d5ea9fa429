// Runs the built vexelpack program the way operators and scripts do, checking exit codes, messages and
// the files it leaves.
#include "Common/Compression.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Vexel;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace
{

using RunResult = Vexel::Test::ToolRun;

RunResult RunTool(const TempDir& dir, const std::vector<std::string>& args)
{
    return Vexel::Test::RunVexelpack(dir, args);
}

std::string Sample()
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "entry " + std::to_string(i % 977) + (i % 5 ? " texture\n" : " sound\n");
    return text;
}

// Names in the folder other than the ones a test made.
std::vector<std::string> Listing(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(Vexelpack, UsageAndExitCodes)
{
    TempDir dir;
    RunResult bare = RunTool(dir, {});
    EXPECT_EQ(bare.code, 2);
    EXPECT_NE(bare.err.find("usage: vexelpack"), std::string::npos);

    RunResult help = RunTool(dir, {"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* name : {"pack", "unpack", "md5", "packed"})
        EXPECT_NE(help.out.find(name), std::string::npos) << name;

    RunResult commandHelp = RunTool(dir, {"pack", "--help"});
    EXPECT_EQ(commandHelp.code, 0);
    EXPECT_NE(commandHelp.out.find("[--zip|--7z] IN OUT"), std::string::npos);

    WriteBytes(dir / "in", "x");
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"frobnicate"},
                                                  {"pack", "in"},
                                                  {"pack", "--zip", "--7z", "in", "out"},
                                                  {"pack", "--fast", "in", "out"},
                                                  {"unpack", "in"},
                                                  {"md5"},
                                                  {"packed", "a", "b"}})
    {
        RunResult r = RunTool(dir, wrong);
        EXPECT_EQ(r.code, 2) << wrong[0];
        EXPECT_FALSE(r.err.empty()) << wrong[0];
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST(Vexelpack, PacksAndUnpacksWithEitherMethod)
{
    TempDir dir;
    const std::string plain = Sample();
    WriteBytes(dir / "plain.txt", plain);
    struct Case
    {
        std::vector<std::string> options;
        bool use7z;
    };
    for (const Case& c : {Case{{}, true}, Case{{"--7z"}, true}, Case{{"--zip"}, false}})
    {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {(dir / "plain.txt").string(), (dir / "packed.bin").string()});
        RunResult packed = RunTool(dir, args);
        ASSERT_EQ(packed.code, 0) << packed.err;
        std::string bytes = ReadBytes(dir / "packed.bin");
        ASSERT_GT(bytes.size(), 20u);
        EXPECT_LT(bytes.size(), plain.size() / 3);
        EXPECT_EQ(bytes[15] == 0, c.use7z);

        // The library reads what the tool writes.
        ByteBuffer buffer(bytes.begin(), bytes.end());
        bool changed = false;
        ASSERT_TRUE(DecompressBuffer(buffer, changed));
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), plain);

        EXPECT_EQ(RunTool(dir, {"packed", (dir / "packed.bin").string()}).code, 0);
        EXPECT_EQ(RunTool(dir, {"packed", (dir / "plain.txt").string()}).code, 1);

        RunResult unpacked =
            RunTool(dir, {"unpack", (dir / "packed.bin").string(), (dir / "out.txt").string()});
        ASSERT_EQ(unpacked.code, 0) << unpacked.err;
        EXPECT_EQ(ReadBytes(dir / "out.txt"), plain);
    }
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"out.txt", "packed.bin", "plain.txt"}));

    // An empty file packs and unpacks to an empty file.
    WriteBytes(dir / "empty", "");
    ASSERT_EQ(RunTool(dir, {"pack", (dir / "empty").string(), (dir / "empty.p").string()}).code, 0);
    ASSERT_EQ(RunTool(dir, {"unpack", (dir / "empty.p").string(), (dir / "empty.u").string()}).code, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "empty.u"));
    EXPECT_EQ(ReadBytes(dir / "empty.u"), "");

    // Packing a packed file leaves its bytes as they are.
    ASSERT_EQ(
        RunTool(dir, {"pack", "--zip", (dir / "packed.bin").string(), (dir / "again.bin").string()}).code, 0);
    EXPECT_EQ(ReadBytes(dir / "again.bin"), ReadBytes(dir / "packed.bin"));
}

TEST(Vexelpack, Md5PrintsTheProgramsDigestText)
{
    TempDir dir;
    WriteBytes(dir / "abc", "abc");
    RunResult r = RunTool(dir, {"md5", (dir / "abc").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "727fe1287d3f96d6b04fd23c98500190\n");

    // Empty, and several read-ahead blocks with a ragged end.
    WriteBytes(dir / "empty", "");
    EXPECT_EQ(RunTool(dir, {"md5", (dir / "empty").string()}).out, "7e42f8ec980980e904b2008fd98c1dd4\n");
    std::string big;
    for (int i = 0; big.size() < (3u << 20) + 17; ++i)
        big += std::to_string(i * 2654435761u);
    WriteBytes(dir / "big", big);
    EXPECT_EQ(RunTool(dir, {"md5", (dir / "big").string()}).out,
              ToUtf8(Md5ToText(Md5Of(big.data(), big.size()))) + "\n");

    RunResult missing = RunTool(dir, {"md5", (dir / "missing").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("missing"), std::string::npos);
    EXPECT_TRUE(missing.out.empty());
}

TEST(Vexelpack, FailuresLeaveNoPartialOutput)
{
    TempDir dir;
    WriteBytes(dir / "plain.txt", Sample());
    ASSERT_EQ(
        RunTool(dir, {"pack", "--zip", (dir / "plain.txt").string(), (dir / "packed.bin").string()}).code, 0);
    std::string packed = ReadBytes(dir / "packed.bin");
    WriteBytes(dir / "cut.bin", packed.substr(0, packed.size() - 100));
    WriteBytes(dir / "keep.txt", "earlier output");

    RunResult cut = RunTool(dir, {"unpack", (dir / "cut.bin").string(), (dir / "new.txt").string()});
    EXPECT_EQ(cut.code, 1);
    EXPECT_NE(cut.err.find("damaged or cut short"), std::string::npos) << cut.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "new.txt"));

    RunResult overwrite = RunTool(dir, {"unpack", (dir / "cut.bin").string(), (dir / "keep.txt").string()});
    EXPECT_EQ(overwrite.code, 1);
    EXPECT_EQ(ReadBytes(dir / "keep.txt"), "earlier output");

    RunResult notPacked = RunTool(dir, {"unpack", (dir / "plain.txt").string(), (dir / "new.txt").string()});
    EXPECT_EQ(notPacked.code, 1);
    EXPECT_NE(notPacked.err.find("not a packed file"), std::string::npos);

    RunResult noInput = RunTool(dir, {"pack", (dir / "absent").string(), (dir / "new.txt").string()});
    EXPECT_EQ(noInput.code, 1);
    RunResult intoFolder = RunTool(dir, {"pack", (dir / "plain.txt").string(), dir.Path().string()});
    EXPECT_EQ(intoFolder.code, 1);

    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"cut.bin", "keep.txt", "packed.bin", "plain.txt"}));
}
