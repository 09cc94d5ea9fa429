// vexelpack sign and verify round trips against certificates made at run time.
#include "TestCertificates.h"
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <memory>

using Vexel::Test::ReadBytes;
using Vexel::Test::RunArgv;
using Vexel::Test::RunVexelpack;
using Vexel::Test::TempDir;
using Vexel::Test::TestPki;
using Vexel::Test::ToolRun;
using Vexel::Test::WriteBytes;

namespace
{

class SignCommand : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sFolder = std::make_unique<TempDir>();
        sPki = std::make_unique<TestPki>(sFolder->Path());
    }
    static void TearDownTestSuite()
    {
        sPki.reset();
        sFolder.reset();
    }
    void SetUp() override
    {
        ASSERT_TRUE(sPki->Ok()) << sPki->Error();
        WriteBytes(mDir / "game.so", Module());
    }

    static std::string Module()
    {
        return std::string("\x7f"
                           "ELF") +
               std::string(3000, 'g') + "end";
    }

    std::string Path(const std::string& name) const { return (mDir / name).string(); }

    ToolRun Sign(const Vexel::Test::TestSigner& signer, const std::string& in, const std::string& out)
    {
        std::vector<std::string> args{"sign", "--key", signer.key.string(), "--cert", signer.cert.string()};
        if (!signer.chain.empty())
            args.insert(args.end(), {"--chain", signer.chain.string()});
        args.insert(args.end(), {Path(in), Path(out)});
        return RunVexelpack(mDir, args);
    }

    ToolRun Verify(const std::string& file, bool withCa = true)
    {
        if (withCa)
            return RunVexelpack(mDir, {"verify", "--ca", sPki->root.string(), Path(file)});
        return RunVexelpack(mDir, {"verify", Path(file)});
    }

    static std::unique_ptr<TempDir> sFolder;
    static std::unique_ptr<TestPki> sPki;
    TempDir mDir;
};

std::unique_ptr<TempDir> SignCommand::sFolder;
std::unique_ptr<TestPki> SignCommand::sPki;

} // namespace

TEST_F(SignCommand, SignedFileVerifiesAndStandardToolsAgree)
{
    ToolRun sign = Sign(sPki->studio, "game.so", "vexel3d.lod");
    ASSERT_EQ(sign.code, 0) << sign.err;
    const std::string file = ReadBytes(mDir / "vexel3d.lod");
    const std::string module = Module();
    ASSERT_GT(file.size(), module.size() + 12);
    EXPECT_EQ(file.substr(0, module.size()), module);
    EXPECT_EQ(file.substr(file.size() - 8), "VXSIGN01");

    ToolRun verify = Verify("vexel3d.lod");
    EXPECT_EQ(verify.code, 0) << verify.err;
    EXPECT_EQ(verify.out, "Vexel Studio Ltd.\n");

    // The piece between module and trailer is what "openssl cms -verify" takes as a detached signature.
    WriteBytes(mDir / "s.der", file.substr(module.size(), file.size() - module.size() - 12));
    std::string output;
    EXPECT_TRUE(
        RunArgv({"openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in", Path("s.der"), "-content",
                 Path("game.so"), "-CAfile", sPki->root.string(), "-purpose", "any", "-out", "/dev/null"},
                &output))
        << output;
}

TEST_F(SignCommand, VerifyFailsForUnsignedUntrustedAndAltered)
{
    ToolRun unsignedRun = Verify("game.so");
    EXPECT_EQ(unsignedRun.code, 1);
    EXPECT_TRUE(unsignedRun.out.empty());
    EXPECT_NE(unsignedRun.err.find("is not signed"), std::string::npos) << unsignedRun.err;

    ASSERT_EQ(Sign(sPki->studio, "game.so", "vexel3d.lod").code, 0);
    ToolRun untrusted = Verify("vexel3d.lod", false);
    EXPECT_EQ(untrusted.code, 1);
    EXPECT_TRUE(untrusted.out.empty());
    EXPECT_NE(untrusted.err.find("invalid signature"), std::string::npos) << untrusted.err;

    std::string altered = ReadBytes(mDir / "vexel3d.lod");
    altered[100] ^= 0x20;
    WriteBytes(mDir / "altered.lod", altered);
    ToolRun changed = Verify("altered.lod");
    EXPECT_EQ(changed.code, 1);
    EXPECT_TRUE(changed.out.empty());

    ASSERT_EQ(Sign(sPki->rogue, "game.so", "rogue.lod").code, 0);
    EXPECT_EQ(Verify("rogue.lod").code, 1);

    EXPECT_EQ(RunVexelpack(mDir, {"verify", Path("missing.lod")}).code, 1);
}

TEST_F(SignCommand, ChainIsCarriedAndSigningAgainReplacesTheSignature)
{
    ASSERT_EQ(Sign(sPki->viaChain, "game.so", "first.lod").code, 0);
    ToolRun first = Verify("first.lod");
    EXPECT_EQ(first.code, 0) << first.err;
    EXPECT_EQ(first.out, "Vexel Interactive Tech Ltd\n");

    ToolRun again = Sign(sPki->studio, "first.lod", "second.lod");
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.err.find("replaced"), std::string::npos);
    ToolRun second = Verify("second.lod");
    EXPECT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(second.out, "Vexel Studio Ltd.\n");
    // Module, one signature, one trailer: nothing of the first signature is left.
    const std::string file = ReadBytes(mDir / "second.lod");
    const std::string module = Module();
    EXPECT_EQ(file.substr(0, module.size()), module);
    EXPECT_EQ(file.find("VXSIGN01"), file.size() - 8);
    EXPECT_EQ(file.find("Vexel Interactive Tech Ltd"), std::string::npos);
}

TEST_F(SignCommand, MistakesLeaveNoOutput)
{
    EXPECT_EQ(
        RunVexelpack(mDir, {"sign", "--cert", sPki->studio.cert.string(), Path("game.so"), Path("o")}).code,
        2);
    EXPECT_EQ(RunVexelpack(mDir, {"sign", "--key", sPki->studio.key.string(), "--cert"}).code, 2);
    EXPECT_EQ(RunVexelpack(mDir, {"verify", "--ca"}).code, 2);
    EXPECT_EQ(RunVexelpack(mDir, {"verify", "--bogus", "x", Path("game.so")}).code, 2);

    // A key that does not belong to the certificate.
    ToolRun mismatch = RunVexelpack(mDir, {"sign", "--key", sPki->rogue.key.string(), "--cert",
                                           sPki->studio.cert.string(), Path("game.so"), Path("out.lod")});
    EXPECT_EQ(mismatch.code, 1);
    EXPECT_FALSE(mismatch.err.empty());
    EXPECT_FALSE(std::filesystem::exists(mDir / "out.lod"));

    ToolRun noInput = Sign(sPki->studio, "missing.so", "out.lod");
    EXPECT_EQ(noInput.code, 1);
    EXPECT_FALSE(std::filesystem::exists(mDir / "out.lod"));
}
