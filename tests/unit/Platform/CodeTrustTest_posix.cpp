// Appended signatures against a certificate world made at run time: what verifies, what is refused and
// why, and the loader's acceptance rule on top.
#include "Platform/CodeTrust.h"
#include "Platform/CodeTrust_posix.h"

#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/LoaderTrust.h"
#include "TestCertificates.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Vexel;
using Vexel::Test::Narrow;
using Vexel::Test::ReadBytes;
using Vexel::Test::RunArgv;
using Vexel::Test::TempDir;
using Vexel::Test::TestPki;
using Vexel::Test::TestSigner;
using Vexel::Test::WriteBytes;

namespace fs = std::filesystem;

namespace
{

class CodeTrustTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sFolder = std::make_unique<TempDir>();
        sPki = std::make_unique<TestPki>(sFolder->Path() / "pki");
    }
    static void TearDownTestSuite()
    {
        sPki.reset();
        sFolder.reset();
    }
    void SetUp() override
    {
        fs::create_directories(sFolder->Path() / "pki");
        ASSERT_TRUE(sPki->Ok()) << sPki->Error();
    }

    static std::string Module()
    {
        std::string bytes = "\x7f"
                            "ELF module bytes ";
        for (int i = 0; i < 5000; ++i)
            bytes += static_cast<char>(i * 7 + 3);
        return bytes;
    }

    // The module signed through the library, as vexelpack does.
    static std::string Signed(const std::string& module, const TestSigner& signer)
    {
        std::vector<_byte> signature;
        String error;
        const auto* data = reinterpret_cast<const _byte*>(module.data());
        EXPECT_TRUE(SignModuleBytes(data, module.size(), String(signer.key.u16string()),
                                    String(signer.cert.u16string()), String(signer.chain.u16string()),
                                    signature, error))
            << Narrow(error);
        std::vector<_byte> file = AppendSignature(data, module.size(), signature.data(), signature.size());
        return std::string(file.begin(), file.end());
    }

    CodeTrust Check(const std::string& bytes, bool withCa = true)
    {
        WriteBytes(mDir / "vexel3d.lod", bytes);
        return CheckFileTrust(mDir.Wide("vexel3d.lod"), withCa ? String(sPki->root.u16string()) : String());
    }

    static LoaderTrustPolicy Policy()
    {
        LoaderTrustPolicy policy;
        policy.acceptedSigners = DefaultLoaderSigners();
        policy.supportAddress = u"support@vexel.example";
        return policy;
    }

    static std::unique_ptr<TempDir> sFolder;
    static std::unique_ptr<TestPki> sPki;
    TempDir mDir;
};

std::unique_ptr<TempDir> CodeTrustTest::sFolder;
std::unique_ptr<TestPki> CodeTrustTest::sPki;

std::string Trailer(std::uint32_t length)
{
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>(length >> shift);
    return out + "VXSIGN01";
}

} // namespace

TEST_F(CodeTrustTest, SignatureByTrustedRootWithCodeSigningIsValidAndAccepted)
{
    const std::string file = Signed(Module(), sPki->studio);
    CodeTrust trust = Check(file);
    ASSERT_EQ(trust.state, TrustState::Valid) << Narrow(trust.reason);
    EXPECT_EQ(trust.signer, u"Vexel Studio Ltd.");
    CodeTrust inMemory = CheckSignedBytes(reinterpret_cast<const _byte*>(file.data()), file.size(),
                                          String(sPki->root.u16string()));
    EXPECT_EQ(inMemory.state, TrustState::Valid) << Narrow(inMemory.reason);
    EXPECT_EQ(inMemory.signer, trust.signer);
    EXPECT_TRUE(JudgeLoader(trust, MD5(), Policy()).accepted);

    // The same file without the operator's root: the system's store does not know it.
    CodeTrust untrusted = Check(Signed(Module(), sPki->studio), false);
    EXPECT_EQ(untrusted.state, TrustState::Invalid);
    EXPECT_NE(Narrow(untrusted.reason).find("not trusted"), std::string::npos) << Narrow(untrusted.reason);
}

TEST_F(CodeTrustTest, SignatureMadeByTheOpensslProgramVerifies)
{
    // Others produce the layout with standard tools: S from "openssl cms", then length and magic.
    const std::string module = Module();
    WriteBytes(mDir / "m.bin", module);
    const fs::path sig = mDir / "s.der";
    ASSERT_TRUE(RunArgv({"openssl", "cms", "-sign", "-binary", "-md", "sha256", "-outform", "DER", "-in",
                         (mDir / "m.bin").string(), "-signer", sPki->viaChain.cert.string(), "-inkey",
                         sPki->viaChain.key.string(), "-certfile", sPki->viaChain.chain.string(), "-out",
                         sig.string()}));
    const std::string s = ReadBytes(sig);
    CodeTrust trust = Check(module + s + Trailer(static_cast<std::uint32_t>(s.size())));
    ASSERT_EQ(trust.state, TrustState::Valid) << Narrow(trust.reason);
    EXPECT_EQ(trust.signer, u"Vexel Interactive Tech Ltd");
}

TEST_F(CodeTrustTest, AnyChangeAfterSigningIsRefused)
{
    const std::string file = Signed(Module(), sPki->studio);
    const std::size_t moduleSize = Module().size();
    // Module bytes, and the last byte of the signature value.
    for (std::size_t at : {std::size_t(0), moduleSize / 2, moduleSize - 1, file.size() - 13})
    {
        std::string altered = file;
        altered[at] = static_cast<char>(altered[at] ^ 0x01);
        CodeTrust trust = Check(altered);
        EXPECT_EQ(trust.state, TrustState::Invalid) << "byte " << at;
        EXPECT_FALSE(trust.reason.empty());
        LoaderVerdict verdict = JudgeLoader(trust, Md5Of(altered.data(), altered.size()), Policy());
        EXPECT_FALSE(verdict.accepted);
        EXPECT_EQ(verdict.error, u"Invalid signature of loader, contact support@vexel.example");
    }
    // Bytes added before the signature (module grown, length kept) and a module cut short.
    std::string grown = file;
    grown.insert(10, "x");
    EXPECT_EQ(Check(grown).state, TrustState::Invalid);
    std::string cut = file;
    cut.erase(10, 1);
    EXPECT_EQ(Check(cut).state, TrustState::Invalid);
}

TEST_F(CodeTrustTest, AcceptedNameOnUntrustedCertificateIsRefused)
{
    CodeTrust trust = Check(Signed(Module(), sPki->rogue));
    EXPECT_EQ(trust.state, TrustState::Invalid);
    EXPECT_TRUE(trust.signer.empty());
    LoaderVerdict verdict = JudgeLoader(trust, MD5(), Policy());
    EXPECT_FALSE(verdict.accepted);
    EXPECT_EQ(verdict.error, u"Invalid signature of loader, contact support@vexel.example");
    EXPECT_NE(Narrow(verdict.reason).find("signature invalid"), std::string::npos);
}

TEST_F(CodeTrustTest, SignerWithoutCodeSigningIsRefused)
{
    for (const TestSigner* signer : {&sPki->serverOnly, &sPki->noUsage})
    {
        CodeTrust trust = Check(Signed(Module(), *signer));
        EXPECT_EQ(trust.state, TrustState::Invalid) << signer->cert;
        EXPECT_NE(Narrow(trust.reason).find("code signing"), std::string::npos) << Narrow(trust.reason);
    }
}

TEST_F(CodeTrustTest, IntermediatesTravelInTheSignature)
{
    CodeTrust trust = Check(Signed(Module(), sPki->viaChain));
    ASSERT_EQ(trust.state, TrustState::Valid) << Narrow(trust.reason);
    EXPECT_EQ(trust.signer, u"Vexel Interactive Tech Ltd");

    TestSigner withoutChain = sPki->viaChain;
    withoutChain.chain.clear();
    EXPECT_EQ(Check(Signed(Module(), withoutChain)).state, TrustState::Invalid);
}

TEST_F(CodeTrustTest, SignerNameIsOrganisationWithoutCommonName)
{
    CodeTrust trust = Check(Signed(Module(), sPki->orgOnly));
    ASSERT_EQ(trust.state, TrustState::Valid) << Narrow(trust.reason);
    EXPECT_EQ(trust.signer, u"Orrin Harbor (Capital) Tech Ltd.");
    EXPECT_TRUE(JudgeLoader(trust, MD5(), Policy()).accepted);
}

TEST_F(CodeTrustTest, SignerNamesCompareExactly)
{
    CodeTrust trust;
    trust.state = TrustState::Valid;
    for (const char16_t* name : {u"vexel studio ltd.", u"Vexel Studio Ltd", u"Vexel Studio Ltd. ", u""})
    {
        trust.signer = name;
        LoaderVerdict verdict = JudgeLoader(trust, MD5(), Policy());
        EXPECT_FALSE(verdict.accepted) << Narrow(name);
        EXPECT_EQ(verdict.error, u"Invalid signature of loader, contact support@vexel.example");
    }
}

TEST_F(CodeTrustTest, UnsignedModuleRunsOnlyWithAnAcceptedDigest)
{
    const std::string module = Module();
    CodeTrust trust = Check(module);
    EXPECT_EQ(trust.state, TrustState::Unsigned);
    const MD5 digest = FileDigest(mDir.Wide("vexel3d.lod"));

    LoaderTrustPolicy policy = Policy();
    LoaderVerdict refused = JudgeLoader(trust, digest, policy);
    EXPECT_FALSE(refused.accepted);
    EXPECT_EQ(refused.error, u"Invalid loader, contact support@vexel.example");

    policy.acceptedDigests = {Md5Of("other", 5), digest};
    EXPECT_TRUE(JudgeLoader(trust, digest, policy).accepted);
    // An unreadable file's all-zero digest is never accepted.
    policy.acceptedDigests.push_back(MD5());
    EXPECT_FALSE(JudgeLoader(trust, MD5(), policy).accepted);
    policy.supportAddress.clear();
    EXPECT_EQ(JudgeLoader(trust, Md5Of("x", 1), policy).error, u"Invalid loader, contact");
}

TEST_F(CodeTrustTest, DamagedTrailersAreInvalidWithAReason)
{
    const std::string module = Module();
    const std::string good = Signed(module, sPki->studio);
    const std::size_t sigSize = good.size() - module.size() - 12;
    struct Case
    {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"magic only", "VXSIGN01", "shorter than a signature trailer"},
        {"short file", "abVXSIGN01", "shorter than a signature trailer"},
        {"lying length", module + Trailer(0x7fffffff), "exceeds"},
        {"length one past the file", "abcd" + Trailer(5), "exceeds"},
        {"zero length", module + Trailer(0), "empty signature"},
        {"garbage signature", module + std::string(64, '\x30') + Trailer(64), "not a DER-encoded CMS"},
        {"signature cut short",
         good.substr(0, good.size() - 13) + Trailer(static_cast<std::uint32_t>(sigSize - 1)), "DER"},
        {"file cut inside the signature", good.substr(module.size() + 10), "exceeds"},
        {"module cut at the front", good.substr(100), "does not verify"},
    };
    for (const Case& c : cases)
    {
        CodeTrust trust = Check(c.bytes);
        EXPECT_EQ(trust.state, TrustState::Invalid) << c.name;
        // The check in memory agrees with the streamed one.
        CodeTrust inMemory = CheckSignedBytes(reinterpret_cast<const _byte*>(c.bytes.data()), c.bytes.size(),
                                              String(sPki->root.u16string()));
        EXPECT_EQ(inMemory.state, TrustState::Invalid) << c.name;
        EXPECT_EQ(inMemory.reason, trust.reason) << c.name;
        EXPECT_NE(Narrow(trust.reason).find(c.reason), std::string::npos)
            << c.name << ": " << Narrow(trust.reason);
    }
    CodeTrust missing = CheckFileTrust(mDir.Wide("missing.lod"), String());
    EXPECT_EQ(missing.state, TrustState::Invalid);
    EXPECT_NE(Narrow(missing.reason).find("cannot read"), std::string::npos);
}

TEST_F(CodeTrustTest, OnlyDetachedSha256SignaturesCount)
{
    const std::string module = Module();
    WriteBytes(mDir / "m.bin", module);
    auto cms = [&](std::vector<std::string> extra)
    {
        std::vector<std::string> argv{"openssl",  "cms",
                                      "-sign",    "-binary",
                                      "-outform", "DER",
                                      "-in",      (mDir / "m.bin").string(),
                                      "-signer",  sPki->studio.cert.string(),
                                      "-inkey",   sPki->studio.key.string(),
                                      "-out",     (mDir / "s.der").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        EXPECT_TRUE(RunArgv(argv));
        const std::string s = ReadBytes(mDir / "s.der");
        return Check(module + s + Trailer(static_cast<std::uint32_t>(s.size())));
    };
    CodeTrust sha1 = cms({"-md", "sha1"});
    EXPECT_EQ(sha1.state, TrustState::Invalid);
    EXPECT_NE(Narrow(sha1.reason).find("SHA-256"), std::string::npos) << Narrow(sha1.reason);
    CodeTrust embedded = cms({"-md", "sha256", "-nodetach"});
    EXPECT_EQ(embedded.state, TrustState::Invalid);
    EXPECT_NE(Narrow(embedded.reason).find("content of its own"), std::string::npos)
        << Narrow(embedded.reason);
}

TEST_F(CodeTrustTest, UnreadableOperatorCaFileIsNamedInTheReason)
{
    WriteBytes(mDir / "vexel3d.lod", Signed(Module(), sPki->studio));
    CodeTrust trust = CheckFileTrust(mDir.Wide("vexel3d.lod"), mDir.Wide("no-such-ca.pem"));
    EXPECT_EQ(trust.state, TrustState::Invalid);
    EXPECT_NE(Narrow(trust.reason).find("no-such-ca.pem"), std::string::npos) << Narrow(trust.reason);
}

TEST(SignatureLayout, ReadsThePiecesFromTheEnd)
{
    const std::string module = "module";
    const std::string sig = "signature";
    std::vector<_byte> file = AppendSignature(reinterpret_cast<const _byte*>(module.data()), module.size(),
                                              reinterpret_cast<const _byte*>(sig.data()), sig.size());
    ASSERT_EQ(file.size(), module.size() + sig.size() + 12);
    EXPECT_EQ(std::string(file.end() - 12, file.end()), Trailer(9));
    SignatureLayout layout = ReadSignatureLayout(file.data(), file.size());
    EXPECT_EQ(layout.kind, SignatureLayout::Present);
    EXPECT_EQ(layout.moduleSize, module.size());
    EXPECT_EQ(layout.signatureSize, sig.size());

    EXPECT_EQ(ReadSignatureLayout(file.data(), file.size() - 1).kind, SignatureLayout::None);
    EXPECT_EQ(ReadSignatureLayout(nullptr, 0).kind, SignatureLayout::None);
    // The whole file may be the signature (an empty module).
    const std::string whole = sig + Trailer(9);
    SignatureLayout empty = ReadSignatureLayout(reinterpret_cast<const _byte*>(whole.data()), whole.size());
    EXPECT_EQ(empty.kind, SignatureLayout::Present);
    EXPECT_EQ(empty.moduleSize, 0u);
}
