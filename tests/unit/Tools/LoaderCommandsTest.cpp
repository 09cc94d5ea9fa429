// vexelpack gamepage and blocklist: the digest form against md5sum's, the param block's contents and the
// mistakes it refuses; block lists written by the tool and read back by the client's own reader.
#include "TestCertificates.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include "Common/Md5.h"
#include "Platform/LoaderTrust.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::ReadBytes;
using Vexel::Test::RunVexelpack;
using Vexel::Test::TempDir;
using Vexel::Test::ToolRun;
using Vexel::Test::WriteBytes;

namespace
{

std::string Narrow(const String& text)
{
    return std::string(text.begin(), text.end());
}

class LoaderCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mModule = std::string("\x7f"
                              "ELF") +
                  std::string(3 * 1024 * 1024 / 2, 'm');
        WriteBytes(mDir / "game.lod", mModule);
    }
    std::string Path(const std::string& name) const { return (mDir / name).string(); }
    MD5 Digest() const { return Md5Of(mModule.data(), mModule.size()); }
    std::vector<BlockListRecord> Records(const std::string& file) const
    {
        std::string bytes = ReadBytes(mDir / file);
        return ReadBlockList(reinterpret_cast<const _byte*>(bytes.data()), bytes.size());
    }

    TempDir mDir;
    std::string mModule;
};

TEST_F(LoaderCommands, GamePageGivesTheDigestInTheClientsFormWhichIsNotMd5sums)
{
    ToolRun run = RunVexelpack(mDir, {"gamepage", Path("game.lod"),
                                      "http://cdn.example.com:8080/g/vexel3d.lod", "--cdn", "10.0.0.1:81",
                                      "--param", "server=s1&x=\"y\"", "--cdn", "cdn2.example.com"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string digest = Narrow(Md5ToText(Digest()));
    EXPECT_EQ(run.out, "<param name=\"libmd5\" value=\"" + digest +
                           "\">\n"
                           "<param name=\"liburl\" value=\"http://cdn.example.com:8080/g/vexel3d.lod\">\n"
                           "<param name=\"size\" value=\"2\">\n"
                           "<param name=\"param1\" value=\"server=s1&amp;x=&quot;y&quot;\">\n"
                           "<param name=\"param2\" value=\"cdnip=10.0.0.1:81|cdn2.example.com\">\n");
    // md5sum prints the same 16 bytes in the opposite order.
    std::string md5sum;
    ASSERT_TRUE(Vexel::Test::RunArgv({"md5sum", Path("game.lod")}, &md5sum));
    std::string common = md5sum.substr(0, 32), reversed;
    for (int i = 15; i >= 0; --i)
        reversed += common.substr(static_cast<std::size_t>(i) * 2, 2);
    EXPECT_EQ(reversed, digest);
    EXPECT_NE(common, digest);
}

TEST_F(LoaderCommands, GamePageRefusesWhatTheClientCouldNotUse)
{
    const std::string module = Path("game.lod");
    const std::vector<std::vector<std::string>> usage = {
        {"gamepage", module},
        {"gamepage", module, "cdn.example.com/vexel3d.lod"},
        {"gamepage", module, "ftp://cdn.example.com/vexel3d.lod"},
        {"gamepage", module, "http://cdn.example.com/vexel3d.lod?v=2"},
        {"gamepage", module, "http:///vexel3d.lod"},
        {"gamepage", module, "http://h/x", "--cdn", "http://10.0.0.1"},
        {"gamepage", module, "http://h/x", "--cdn", "a|b"},
        {"gamepage", module, "http://h/x", "--param", "novalue"},
        {"gamepage", module, "http://h/x", "--param", "=v"},
        {"gamepage", module, "http://h/x", "--cdn", "a", "--param", "cdnip=b"},
        {"gamepage", module, "http://h/x", "--size", "3"},
    };
    for (const auto& args : usage)
    {
        ToolRun run = RunVexelpack(mDir, args);
        EXPECT_EQ(run.code, 2) << args.back();
        EXPECT_TRUE(run.out.empty()) << args.back();
    }
    ToolRun missing = RunVexelpack(mDir, {"gamepage", Path("missing.lod"), "http://h/x"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
}

TEST_F(LoaderCommands, BlockListsWrittenByTheToolAreReadByTheClient)
{
    const std::string list = Path("bl");
    WriteBytes(mDir / "other.lod", "another build");
    MD5 other = Md5Of("another build", 13);
    ASSERT_EQ(RunVexelpack(mDir, {"blocklist", "add", list, Path("other.lod")}).code, 0);
    ASSERT_EQ(
        RunVexelpack(mDir, {"blocklist", "add", list, Path("game.lod"), "--message", "旧版本 withdrawn"})
            .code,
        0);
    std::string bytes = ReadBytes(mDir / "bl");
    const auto* data = reinterpret_cast<const _byte*>(bytes.data());
    EXPECT_EQ(FindBlockedLoader(data, bytes.size(), Digest(), u"help").value_or(String()),
              u"旧版本 withdrawn");
    EXPECT_EQ(FindBlockedLoader(data, bytes.size(), other, u"help").value_or(String()),
              u"Illegle loader, contact help");

    // Adding again replaces the text; the digest text form names a module that is not at hand.
    ASSERT_EQ(
        RunVexelpack(mDir, {"blocklist", "add", list, Narrow(Md5ToText(Digest())), "--message", "new"}).code,
        0);
    std::vector<BlockListRecord> records = Records("bl");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, u"new");

    ToolRun shown = RunVexelpack(mDir, {"blocklist", "list", list});
    ASSERT_EQ(shown.code, 0) << shown.err;
    EXPECT_EQ(shown.out, Narrow(Md5ToText(other)) + "  (the client's default text)\n" +
                             Narrow(Md5ToText(Digest())) + "  new\n");

    ASSERT_EQ(RunVexelpack(mDir, {"blocklist", "remove", list, Path("other.lod")}).code, 0);
    records = Records("bl");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].digest, Digest());
    bytes = ReadBytes(mDir / "bl");
    EXPECT_FALSE(
        FindBlockedLoader(reinterpret_cast<const _byte*>(bytes.data()), bytes.size(), other, u"help"));

    // Removing what is not there fails; the file stays as it was.
    ToolRun absent = RunVexelpack(mDir, {"blocklist", "remove", list, Path("other.lod")});
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(ReadBytes(mDir / "bl"), bytes);
}

TEST_F(LoaderCommands, BlockListBytesOfAnotherFormatAreLeftAlone)
{
    // A trailing piece shorter than a record: the client would skip it, a rewrite would lose it.
    std::string odd = std::string(16, '\x01') + std::string(4, '\0') + "tail";
    WriteBytes(mDir / "odd", odd);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"blocklist", "add", Path("odd"), Path("game.lod")},
             {"blocklist", "list", Path("odd")},
             {"blocklist", "add", Path("bl"), Path("nothing-here")},
         })
    {
        ToolRun run = RunVexelpack(mDir, args);
        EXPECT_EQ(run.code, 1) << args[1];
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(ReadBytes(mDir / "odd"), odd);
    EXPECT_FALSE(std::filesystem::exists(mDir / "bl"));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"blocklist", "ban", Path("bl"), Path("game.lod")},
             {"blocklist", "list", Path("bl"), Path("game.lod")},
             {"blocklist", "remove", Path("bl"), Path("game.lod"), "--message", "x"},
             {"blocklist", "add", Path("bl")},
         })
        EXPECT_EQ(RunVexelpack(mDir, args).code, 2) << args[1];
}

} // namespace
