// The profiler's records, warnings and reports, on a clock the tests move themselves.
#include "ScriptTestSupport.h"

#include <vector>

using namespace Vexel;
using namespace Vexel::Test;

namespace
{
std::int64_t gNow = 0; // milliseconds
std::int64_t FakeClock()
{
    return gNow;
}

int gSleep = 0;
int Slow(IScriptManager& m, ScriptObject*)
{
    gNow += gSleep;
    return m.ReturnNothing();
}
const ScriptNative _SLOW{Slow, false};

class ScriptProfilerTest : public ScriptTest
{
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        gNow = 1000;
        mManager->SetProfileClock(FakeClock, 1000);
        mManager->AddFunction(u"slow", &_SLOW, ScriptNativeThunk, false);
    }

    std::vector<std::u16string> LinesAfter(std::u16string_view heading) const
    {
        std::vector<std::u16string> lines;
        bool in = false;
        for (const auto& call : mCapture->Calls())
        {
            if (in && call.empty())
                break;
            if (in)
                lines.push_back(call);
            in = in || call == heading;
        }
        return lines;
    }
};
} // namespace

TEST_F(ScriptProfilerTest, SlowNativeCallsAreReportedAboveTheThreshold)
{
    mManager->EnableProfiling(true);
    mManager->SetProfileThreshold(10);
    EXPECT_EQ(mManager->GetProfileThreshold(), 10);
    gSleep = 8;
    ASSERT_TRUE(Run(u"slow()"));
    EXPECT_FALSE(mCapture->Contains(u"Cost too much time"));
    gSleep = 12;
    ASSERT_TRUE(Run(u"slow()"));
    EXPECT_TRUE(Logged(u"[LS] Cost too much time, threshold is 10 ms"));
    EXPECT_TRUE(Logged(u"  [C], slow, (), cost 12.00 ms"));
}

TEST_F(ScriptProfilerTest, SlowLuaFunctionsNameTheirSource)
{
    mManager->EnableProfiling(true);
    mManager->SetProfileThreshold(10);
    gSleep = 15;
    ASSERT_TRUE(Run(u"local function work()\n slow()\nend\nwork()"));
    EXPECT_TRUE(Logged(u"  [Lua], work, (test:1), cost 15.00 ms"));
}

TEST_F(ScriptProfilerTest, ReportListsAtMostOneHundredPerSection)
{
    static ScriptNative natives[150];
    for (int i = 0; i < 150; ++i)
    {
        natives[i] = {Slow, false};
        mManager->AddFunction(FormatString(u"f%d", i), &natives[i], ScriptNativeThunk, false);
    }
    mManager->EnableProfiling(true);
    for (int i = 0; i < 150; ++i)
    {
        mManager->ProfileNativeEnter(&natives[i]);
        gNow += i + 1;
        mManager->ProfileNativeLeave();
    }
    mCapture->Clear();
    mManager->DumpProfile();
    EXPECT_TRUE(Logged(u"[LS] Dump lua profile Begin"));
    auto total = LinesAfter(u"[LS] Order by total call cost (ms)");
    ASSERT_EQ(total.size(), 101u);
    EXPECT_EQ(total[0], u"  [C], f149, (), called 1 time(s), total call cost 150.00 ms, avg 150.00 ms");
    EXPECT_EQ(total[100], u"  50 more ...");
    auto average = LinesAfter(u"[LS] Order by avg call cost (ms)");
    ASSERT_EQ(average.size(), 101u);
    EXPECT_EQ(average[0], u"  [C], f149, (Unknown), called 1 time(s), avg call cost 150.00 ms");
    EXPECT_EQ(average[100], u"  50 more ...");
    EXPECT_TRUE(Logged(u"[LS] Dump lua profile finished"));

    // Counts restart after a report.
    mCapture->Clear();
    mManager->DumpProfile();
    EXPECT_TRUE(LinesAfter(u"[LS] Order by total call cost (ms)").empty());
}

TEST_F(ScriptProfilerTest, ErrorsInsideProfiledCallsLeaveTheStackBalanced)
{
    RegisterCounter(*mManager);
    mManager->EnableProfiling(true);
    EXPECT_EQ(mManager->GetProfileStackDepth(), 0u);
    EXPECT_FALSE(Run(u"local function a() slow() error('deep') end local function b() a() end b()"));
    EXPECT_EQ(mManager->GetProfileStackDepth(), 0u);
    EXPECT_FALSE(Run(u"local function r() return 1 + r() end r()"));
    EXPECT_EQ(mManager->GetProfileStackDepth(), 0u);
    EXPECT_FALSE(
        Run(u"local c = _Counter() local ok = pcall(c.fail, c) local function t() return c:fail() end"
            u" for i = 1, 3 do pcall(t) end error('end')"));
    EXPECT_EQ(mManager->GetProfileStackDepth(), 0u);
    EXPECT_TRUE(Run(u"local co = coroutine.wrap(function() coroutine.yield(slow()) end) co()"));
    EXPECT_EQ(mManager->GetProfileStackDepth(), 0u);
    EXPECT_FALSE(mCapture->Contains(u"finish"));
    mManager->EnableProfiling(false);
    EXPECT_FALSE(mManager->IsProfiling());
}

TEST_F(ScriptProfilerTest, DestructorWritesTheReportWhileProfiling)
{
    mManager->EnableProfiling(true);
    ASSERT_TRUE(Run(u"slow()"));
    mManager.reset();
    EXPECT_TRUE(Logged(u"[LS] Dump lua profile Begin"));
}

TEST_F(ScriptProfilerTest, AllocationReportGroupsByFunction)
{
    mManager->DumpAllocations(1);
    ASSERT_TRUE(Run(u"function build() local t = {} for i = 1, 1000 do t[i] = { i } end return t end\n"
                    u"built = build()"));
    mManager->DumpAllocations(0);
    EXPECT_TRUE(Logged(u"[LS] Dump Lua Alloc Begin"));
    EXPECT_TRUE(Logged(u"[LS] Order by total alloc size (byte)"));
    EXPECT_TRUE(Logged(u"[LS] Dump Lua Alloc End"));
    auto lines = LinesAfter(u"[LS] Order by total alloc size (byte)");
    bool found = false;
    for (const auto& line : lines)
        found = found || line.rfind(u"test:1:build\t\t", 0) == 0;
    EXPECT_TRUE(found);
    // Recording is off again: a second report is empty.
    mCapture->Clear();
    mManager->DumpAllocations(0);
    EXPECT_EQ(LinesAfter(u"[LS] Order by total alloc size (byte)").size(), 1u); // only the end line
}
