#include "Common/Memory.h"
#include "TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Vexel;

TEST(Memory, SizeLimitsGiveNullWithoutAMessage)
{
    Vexel::Test::LogCapture capture;
    EXPECT_EQ(Allocate(0), nullptr);
    EXPECT_EQ(Allocate(0x7FFFFFFF), nullptr);
    EXPECT_EQ(AllocateShared(0), nullptr);
    EXPECT_EQ(AllocateShared(0x7FFFFFFF), nullptr);
    EXPECT_TRUE(capture.Calls().empty());
    void* block = Allocate(16);
    ASSERT_NE(block, nullptr);
    Free(block);
    Free(nullptr);
}

TEST(Memory, SharedBlocksCountTheirOwners)
{
    const char text[] = "payload";
    void* block = AllocateShared(text, sizeof text);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<_dword*>(static_cast<_byte*>(block) - 8)[0], 0x4642544Eu);
    EXPECT_EQ(SharedRefCount(block), 1u);
    EXPECT_EQ(AddRef(block), block);
    EXPECT_FALSE(Release(block));
    EXPECT_STREQ(static_cast<const char*>(block), "payload");
    EXPECT_TRUE(Release(block));

    EXPECT_EQ(AddRef(nullptr), nullptr);
    EXPECT_TRUE(Release(nullptr));
}

TEST(Memory, ForeignPointersFailTheSignatureCheck)
{
    Vexel::Test::LogCapture capture;
    alignas(8) _byte fake[16] = {};
    EXPECT_FALSE(Release(fake + 8));
    EXPECT_TRUE(capture.Contains(u"( (_dword*) realbuffer )[0] == 0x4642544E"));
}

TEST(Memory, CopyFillEqual)
{
    _byte a[8];
    _byte b[8];
    Fill(a, 7, sizeof a);
    Copy(b, a, sizeof a);
    EXPECT_TRUE(Equal(a, b, sizeof a));
    b[7] = 8;
    EXPECT_FALSE(Equal(a, b, sizeof a));
    EXPECT_TRUE(Equal(a, b, 0));
}
