// The archive, manifest and bundle commands of the built vexelpack: round trips through the tool, the
// two-file form, growth of the item table, and the messages and exit codes of bad input.
#include "Common/Compression.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace
{

using Vexel::Test::ToolRun;

ToolRun Tool(const TempDir& dir, const std::vector<std::string>& args)
{
    return Vexel::Test::RunVexelpack(dir, args, true);
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class StorageCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(mDir / "src" / "ui");
        WriteBytes(mDir / "src" / "ui" / "a.png", "picture a");
        WriteBytes(mDir / "src" / "ui" / "b.png", "picture b");
        WriteBytes(mDir / "src" / "main.lua", "print('hi')");
    }
    TempDir mDir;
};

TEST_F(StorageCommandsTest, ArchivesRoundTripThroughTheTool)
{
    ASSERT_EQ(Tool(mDir, {"archive", "create", "--slots", "1", "game.fod"}).code, 0);
    ToolRun add = Tool(mDir, {"archive", "add", "game.fod", "src"});
    ASSERT_EQ(add.code, 0) << add.err;
    ToolRun info = Tool(mDir, {"archive", "info", "game.fod"});
    ASSERT_EQ(info.code, 0);
    EXPECT_TRUE(Has(info.out, "resources: 3")) << info.out;
    EXPECT_TRUE(Has(info.out, "item blocks: 2")) << info.out; // grew past its single slot

    ToolRun extract = Tool(mDir, {"archive", "extract", "game.fod", "UI/A.PNG", "-"});
    ASSERT_EQ(extract.code, 0);
    EXPECT_EQ(extract.out, "picture a");
    ASSERT_EQ(Tool(mDir, {"archive", "extract", "game.fod", "main.lua", "out.lua"}).code, 0);
    EXPECT_EQ(ReadBytes(mDir / "out.lua"), "print('hi')");

    ASSERT_EQ(Tool(mDir, {"manifest", "build", "src", "game.txt"}).code, 0);
    ToolRun list = Tool(mDir, {"archive", "list", "--manifest", "game.txt", "game.fod"});
    ASSERT_EQ(list.code, 0);
    EXPECT_TRUE(Has(list.out, " ui\\a.png")) << list.out;
    EXPECT_TRUE(Has(list.out, " main.lua")) << list.out;

    ToolRun del = Tool(mDir, {"archive", "delete", "game.fod", "ui/b.png", "not/there"});
    EXPECT_EQ(del.code, 1);
    EXPECT_TRUE(Has(del.err, "not/there: not in the archive"));
    EXPECT_EQ(Tool(mDir, {"archive", "extract", "game.fod", "ui/b.png", "-"}).code, 1);
    EXPECT_TRUE(Has(Tool(mDir, {"archive", "info", "game.fod"}).out, "resources: 2"));
}

TEST_F(StorageCommandsTest, WritableFilesOverABaseLeaveTheBaseAlone)
{
    ASSERT_EQ(Tool(mDir, {"archive", "create", "base.fod"}).code, 0);
    ASSERT_EQ(Tool(mDir, {"archive", "add", "base.fod", "src"}).code, 0);
    const std::string base = ReadBytes(mDir / "base.fod");
    ASSERT_EQ(Tool(mDir, {"archive", "create", "--base", "base.fod", "--slots", "1", "patch.fod"}).code, 0);
    WriteBytes(mDir / "main.lua", "print('patched')");
    ASSERT_EQ(Tool(mDir, {"archive", "add", "--base", "base.fod", "patch.fod", "main.lua"}).code, 0);
    ASSERT_EQ(Tool(mDir, {"archive", "delete", "--base", "base.fod", "patch.fod", "ui/a.png"}).code, 0);
    EXPECT_EQ(ReadBytes(mDir / "base.fod"), base);
    EXPECT_EQ(Tool(mDir, {"archive", "extract", "--base", "base.fod", "patch.fod", "main.lua", "-"}).out,
              "print('patched')");
    EXPECT_EQ(Tool(mDir, {"archive", "extract", "--base", "base.fod", "patch.fod", "ui/a.png", "-"}).code, 1);
    EXPECT_EQ(Tool(mDir, {"archive", "extract", "--base", "base.fod", "patch.fod", "ui/b.png", "-"}).out,
              "picture b");
    EXPECT_EQ(Tool(mDir, {"archive", "extract", "base.fod", "ui/a.png", "-"}).out, "picture a");
}

TEST_F(StorageCommandsTest, ManifestsAreWrittenAndShown)
{
    ToolRun build = Tool(mDir, {"manifest", "build", "--version", "5", "src", "m.txt"});
    ASSERT_EQ(build.code, 0) << build.err;
    std::string text = ReadBytes(mDir / "m.txt");
    std::string ascii;
    for (std::size_t i = 0; i < text.size(); i += 2)
        ascii += text[i];
    // Digest text of "print('hi')" in the program's word order, folder lines for "" and "ui".
    EXPECT_TRUE(Has(ascii, "v5|#\r\n*|[]\r\nmain.lua|")) << ascii;
    EXPECT_TRUE(Has(ascii, "|11\r\nui|[]\r\na.png|")) << ascii;
    ToolRun show = Tool(mDir, {"manifest", "show", "m.txt"});
    ASSERT_EQ(show.code, 0);
    EXPECT_TRUE(Has(show.out, "version: 5"));
    EXPECT_TRUE(Has(show.out, "entries: 3"));
    EXPECT_TRUE(Has(show.out, "ui\\b.png 9 "));

    // Packed manifests are shown the same way; anything else is refused.
    Vexel::ByteBuffer packed(text.begin(), text.end());
    bool changed = false;
    ASSERT_TRUE(Vexel::CompressBuffer(packed, changed, true));
    WriteBytes(mDir / "m.pak", std::string(packed.begin(), packed.end()));
    ToolRun shown = Tool(mDir, {"manifest", "show", "m.pak"});
    EXPECT_EQ(shown.code, 0);
    EXPECT_TRUE(Has(shown.out, "(packed)"));
    WriteBytes(mDir / "junk", "nothing useful");
    ToolRun junk = Tool(mDir, {"manifest", "show", "junk"});
    EXPECT_EQ(junk.code, 1);
    EXPECT_TRUE(Has(junk.err, "junk: not a manifest"));
}

TEST_F(StorageCommandsTest, BundlesPackAFolder)
{
    ToolRun bundle = Tool(mDir, {"bundle", "src", "src.bundle"});
    ASSERT_EQ(bundle.code, 0) << bundle.err;
    EXPECT_TRUE(Has(bundle.out, "3 resources bundled"));
    std::string bytes = ReadBytes(mDir / "src.bundle");
    ASSERT_TRUE(Vexel::IsCompressed(bytes.data(), bytes.size()));
    Vexel::ByteBuffer plain(bytes.begin(), bytes.end());
    bool changed = false;
    ASSERT_TRUE(Vexel::DecompressBuffer(plain, changed));
    std::string text(plain.begin(), plain.end());
    EXPECT_TRUE(Has(text, std::string("\x08\0\0\0m\0a\0i\0n\0.\0l\0u\0a\0\0\0\x0b\0\0\0print('hi')", 37)));
}

TEST_F(StorageCommandsTest, BadInputGetsClearMessagesAndExitCodes)
{
    WriteBytes(mDir / "junk.fod", "this is not an archive at all, not even close");
    struct Case
    {
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {{"archive"}, 2, "expected create, add"},
        {{"archive", "shuffle", "a.fod"}, 2, "unknown action 'shuffle'"},
        {{"archive", "create"}, 2, "create takes one ARCHIVE"},
        {{"archive", "create", "--slots", "many", "x.fod"}, 2, "--slots takes a number"},
        {{"archive", "add", "missing.fod", "src"}, 1, "missing.fod: no such archive"},
        {{"archive", "add", "junk.fod", "nowhere"}, 1, "nowhere: no such file or folder"},
        {{"archive", "info", "junk.fod"}, 1, "junk.fod: not a hash archive"},
        {{"archive", "list", "--base", "nobase.fod", "junk.fod"}, 1, "nobase.fod: no such base archive"},
        {{"manifest", "build", "nowhere", "out.txt"}, 1, "nowhere: no such folder"},
        {{"manifest", "show"}, 2, "show takes one FILE"},
        {{"bundle", "nowhere", "out"}, 1, "nowhere: no such folder"},
    };
    for (const Case& c : cases)
    {
        ToolRun run = Tool(mDir, c.args);
        EXPECT_EQ(run.code, c.code) << c.message;
        EXPECT_TRUE(Has(run.err, c.message)) << c.message << " / " << run.err;
    }
    EXPECT_EQ(ReadBytes(mDir / "junk.fod"), "this is not an archive at all, not even close");
}

} // namespace
