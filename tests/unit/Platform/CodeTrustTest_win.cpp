// Authenticode answers through the system's trust provider: an unsigned program is Unsigned, a program
// whose signature is there but does not verify is refused, and a file that cannot be read is refused.
#include "Platform/CodeTrust.h"

#include "Common/Md5.h"
#include "Platform/File.h"
#include "Platform/LoaderTrust.h"
#include "Platform/System.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::Narrow;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace fs = std::filesystem;

namespace
{

std::uint32_t Read32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

void Write32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    std::memcpy(bytes.data() + at, &value, 4);
}

// The program with a certificate table appended that holds a PKCS #7 entry of junk: a signature that is
// there but cannot verify.
std::string WithJunkSignature(std::string program)
{
    const std::size_t header = Read32(program, 0x3C);
    const std::size_t optional = header + 4 + 20;
    const bool pe32plus = static_cast<unsigned char>(program[optional]) == 0x0B &&
                          static_cast<unsigned char>(program[optional + 1]) == 0x02;
    const std::size_t security = optional + (pe32plus ? 112 : 96) + 4 * 8;
    while (program.size() % 8 != 0)
        program += '\0';
    std::string entry(8, '\0');
    std::string junk = "\x30\x82\x01\x00 not a signature at all, only bytes that look a little like one";
    junk.resize(256, 'x');
    Write32(entry, 0, static_cast<std::uint32_t>(8 + junk.size()));
    entry[4] = 0x00; // revision 2.0
    entry[5] = 0x02;
    entry[6] = 0x02; // PKCS #7 signed data
    entry[7] = 0x00;
    Write32(program, security, static_cast<std::uint32_t>(program.size()));
    Write32(program, security + 4, static_cast<std::uint32_t>(entry.size() + junk.size()));
    return program + entry + junk;
}

} // namespace

TEST(CodeTrust, AnUnsignedProgramIsUnsigned)
{
    CodeTrust trust = CheckFileTrust(GetModulePath(), String());
    EXPECT_EQ(trust.state, TrustState::Unsigned) << Narrow(trust.reason);
    EXPECT_TRUE(trust.signer.empty());

    // Unsigned modules then run by their digest alone.
    LoaderTrustPolicy policy;
    policy.acceptedDigests.push_back(FileDigest(GetModulePath()));
    EXPECT_TRUE(JudgeLoader(trust, FileDigest(GetModulePath()), policy).accepted);
}

TEST(CodeTrust, ASignatureThatDoesNotVerifyIsRefused)
{
    TempDir dir;
    WriteBytes(dir / "junk-signed.exe",
               WithJunkSignature(ReadBytes(fs::path(std::u16string(GetModulePath())))));
    CodeTrust trust = CheckFileTrust(dir.Wide("junk-signed.exe"), String());
    EXPECT_EQ(trust.state, TrustState::Invalid);
    EXPECT_TRUE(trust.signer.empty());
    EXPECT_FALSE(trust.reason.empty());

    // Even when its digest is one the operator accepts for unsigned modules.
    LoaderTrustPolicy policy;
    const MD5 digest = FileDigest(dir.Wide("junk-signed.exe"));
    policy.acceptedDigests.push_back(digest);
    EXPECT_FALSE(JudgeLoader(trust, digest, policy).accepted);
}

TEST(CodeTrust, AFileThatCannotBeReadIsRefused)
{
    TempDir dir;
    CodeTrust trust = CheckFileTrust(dir.Wide("missing.dll"), String());
    EXPECT_EQ(trust.state, TrustState::Invalid);
    EXPECT_NE(trust.reason.find(u"cannot read"), String::npos);
}
