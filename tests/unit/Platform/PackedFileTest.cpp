#include "Platform/PackedFile.h"
#include "Common/Compression.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string>

using namespace Vexel;

namespace
{

std::string Plain()
{
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "resource line " + std::to_string(i * 7919 % 1000) + "\n";
    return text;
}

std::string Pack(const std::string& plain, bool use7z)
{
    ByteBuffer buffer(plain.begin(), plain.end());
    bool changed = false;
    EXPECT_TRUE(CompressBuffer(buffer, changed, use7z));
    return std::string(buffer.begin(), buffer.end());
}

bool NoTemporaryLeft(const Vexel::Test::TempDir& dir)
{
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (entry.path().extension() == ".tmp")
            return false;
    return true;
}

} // namespace

TEST(PackedFile, UnpacksInPlaceWithEitherMethod)
{
    for (bool use7z : {false, true})
    {
        Vexel::Test::TempDir dir;
        const std::string plain = Plain();
        Vexel::Test::WriteBytes(dir / "launcher.lua", Pack(plain, use7z));
        EXPECT_TRUE(IsFileCompressed(dir.Wide("launcher.lua")));
        ASSERT_TRUE(DecompressFile(dir.Wide("launcher.lua")));
        EXPECT_EQ(Vexel::Test::ReadBytes(dir / "launcher.lua"), plain);
        EXPECT_FALSE(IsFileCompressed(dir.Wide("launcher.lua")));
        EXPECT_TRUE(NoTemporaryLeft(dir));
        // Unpacking again is a no-op.
        EXPECT_TRUE(DecompressFile(dir.Wide("launcher.lua")));
        EXPECT_EQ(Vexel::Test::ReadBytes(dir / "launcher.lua"), plain);
    }
}

TEST(PackedFile, FilesThatAreNotPackedStayUntouched)
{
    Vexel::Test::TempDir dir;
    // Nineteen bytes that start with the signature are still too short to be packed.
    std::string shortFile = Pack(Plain(), false).substr(0, 19);
    Vexel::Test::WriteBytes(dir / "short.bin", shortFile);
    Vexel::Test::WriteBytes(dir / "plain.txt", "just text, long enough to hold a header");
    Vexel::Test::WriteBytes(dir / "empty.txt", "");
    for (const char* name : {"short.bin", "plain.txt", "empty.txt"})
    {
        std::string before = Vexel::Test::ReadBytes(dir / name);
        EXPECT_FALSE(IsFileCompressed(dir.Wide(name))) << name;
        EXPECT_TRUE(DecompressFile(dir.Wide(name))) << name;
        EXPECT_EQ(Vexel::Test::ReadBytes(dir / name), before) << name;
    }
    EXPECT_FALSE(IsFileCompressed(dir.Wide("missing.bin")));
    EXPECT_TRUE(NoTemporaryLeft(dir));
}

TEST(PackedFile, FailureKeepsTheOriginal)
{
    Vexel::Test::TempDir dir;
    const std::string packed = Pack(Plain(), true);
    const std::string cut = packed.substr(0, packed.size() / 2);
    std::string corrupt = packed;
    for (std::size_t i = 40; i < 80; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x33);
    Vexel::Test::LogCapture capture;
    for (const std::string& damaged : {cut, corrupt})
    {
        Vexel::Test::WriteBytes(dir / "data.fod", damaged);
        EXPECT_TRUE(IsFileCompressed(dir.Wide("data.fod")));
        EXPECT_FALSE(DecompressFile(dir.Wide("data.fod")));
        EXPECT_EQ(Vexel::Test::ReadBytes(dir / "data.fod"), damaged);
        EXPECT_TRUE(NoTemporaryLeft(dir));
    }
    EXPECT_TRUE(capture.Contains(u"[FG] Decompress(7z) Error Code : "));
}

TEST(PackedFile, AStaleTemporaryFileIsReplaced)
{
    Vexel::Test::TempDir dir;
    const std::string plain = Plain();
    Vexel::Test::WriteBytes(dir / "cfg.lua", Pack(plain, false));
    Vexel::Test::WriteBytes(dir / "cfg.lua.tmp", std::string(100000, 'x'));
    ASSERT_TRUE(DecompressFile(dir.Wide("cfg.lua")));
    EXPECT_EQ(Vexel::Test::ReadBytes(dir / "cfg.lua"), plain);
    EXPECT_TRUE(NoTemporaryLeft(dir));
}
