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

TEST(Memory, ForeignAndExhaustedBlocksAreReportedAndLeftAlone)
{
    // A pointer that did not come from AllocateShared, and a shared block whose count is already zero:
    // each call reports a failed assertion and neither writes to nor frees the memory (freeing stack
    // memory would stop the test under ASan).
    auto countReports = [](const Vexel::Test::LogCapture& capture)
    {
        int reports = 0;
        for (const auto& call : capture.Calls())
            reports += call.find(u"Assertion Failed") != String::npos;
        return reports;
    };
    alignas(8) _byte foreign[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    alignas(8) _byte exhausted[16] = {};
    const _dword header[2] = {0x4642544Eu, 0};
    std::memcpy(exhausted, header, sizeof header);
    for (_byte* block : {foreign, exhausted})
    {
        _byte before[16];
        std::memcpy(before, block, sizeof before);
        Vexel::Test::LogCapture capture;
        EXPECT_FALSE(Release(block + 8));
        EXPECT_EQ(AddRef(block + 8), block + 8);
        EXPECT_EQ(countReports(capture), 2);
        EXPECT_EQ(std::memcmp(before, block, sizeof before), 0);
    }
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
