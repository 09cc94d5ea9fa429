// Call counts and times of Lua functions and native functions, the slow-call warning, and the
// allocation report.
#include "Common/Assert.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Script/LuaRuntime.h"
#include "Script/LuaScriptManager.h"

#include <algorithm>

namespace Vexel
{

namespace
{
LuaScriptManager* gProfileOwner = nullptr;
constexpr int _REPORT_LINES = 100;
} // namespace

void LuaScriptManager::SetProfileClock(ProfileClock clock, std::int64_t frequency)
{
    if (clock && frequency > 0)
    {
        mClock = clock;
        mClockFrequency = frequency;
    }
}

double LuaScriptManager::TicksToMilliseconds(std::int64_t ticks) const
{
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(mClockFrequency);
}

LuaScriptManager::ProfileRecord* LuaScriptManager::AddNativeRecord(const void* binding, const String& name)
{
    // Every native function gets its record when registered, so profiling can start at any time.
    auto& slot = mNativeProfiles[binding];
    if (!slot)
    {
        slot = std::make_unique<ProfileRecord>();
        slot->mCFunc = true;
        slot->mLine = -1;
        mProfileOrder.push_back(slot.get());
    }
    slot->mName = name;
    return slot.get();
}

void LuaScriptManager::UpdateHook()
{
    bool wanted = mProfiling || mAllocThreshold > 0;
    if (wanted == mHookInstalled)
        return;
    mHookInstalled = wanted;
    if (wanted)
        gProfileOwner = this;
    else if (gProfileOwner == this)
        gProfileOwner = nullptr;
    // The hook is global to a state and its coroutines.
    for (const auto& record : mStates)
        if (record.mState)
            lua_sethook(record.mState, wanted ? ProfileHook : nullptr,
                        wanted ? (LUA_MASKCALL | LUA_MASKRET) : 0, 0);
}

void LuaScriptManager::EnableProfiling(bool enable)
{
    mProfiling = enable;
    UpdateHook();
}

bool LuaScriptManager::IsProfiling()
{
    return mProfiling;
}

void LuaScriptManager::SetProfileThreshold(int milliseconds)
{
    mProfileThreshold = milliseconds;
}

int LuaScriptManager::GetProfileThreshold()
{
    return mProfileThreshold;
}

void LuaScriptManager::ProfileHook(lua_State* L, lua_Debug* ar)
{
    if (gProfileOwner)
        gProfileOwner->ProfileHookEvent(L, ar);
}

void LuaScriptManager::ProfileHookEvent(lua_State* L, lua_Debug* ar)
{
    if (ar->event != LUA_HOOKCALL && ar->event != LUA_HOOKRET)
        return;
    if (!lua_checkstack(L, 2) || !lua_getinfo(L, "f", ar))
        return;
    // Native functions are counted by their thunks.
    bool native = lua_iscfunction(L, -1) != 0;
    const void* identity = lua_topointer(L, -1);
    lua_pop(L, 1);
    if (native || identity == nullptr)
        return;
    if (ar->event == LUA_HOOKRET)
    {
        LeaveProfile(false);
        return;
    }
    auto& slot = mLuaProfiles[identity];
    if (!slot)
    {
        slot = std::make_unique<ProfileRecord>();
        if (lua_getinfo(L, "Sn", ar))
        {
            slot->mSource = FromUtf8(ar->source ? ar->source : "");
            slot->mLine = ar->linedefined;
            slot->mName = FromUtf8(ar->name ? ar->name : "?");
        }
        mProfileOrder.push_back(slot.get());
    }
    slot->mStartTime = Now();
    mProfStack.push_back(slot.get());
}

void LuaScriptManager::ProfileNativeEnter(const void* binding)
{
    auto found = mNativeProfiles.find(binding);
    ProfileRecord* record = found != mNativeProfiles.end() ? found->second.get() : nullptr;
    if (!VEXEL_ASSERT_TEXT(record != nullptr && record->mCFunc, u"p != _null && p->mCFunc"))
        record = AddNativeRecord(binding, u"?");
    record->mStartTime = Now();
    mProfStack.push_back(record);
}

void LuaScriptManager::ProfileNativeLeave()
{
    LeaveProfile(true);
}

void LuaScriptManager::LeaveProfile(bool native)
{
    if (!VEXEL_ASSERT_TEXT(!mProfStack.empty(), u"mProfStack.Length( ) > 0"))
        return;
    // Records of the other kind above the one leaving never saw their end (tail calls, errors caught by
    // a script's own pcall): they end here too. A marker is never passed.
    while (!mProfStack.empty() && mProfStack.back() != nullptr && mProfStack.back()->mCFunc != native)
    {
        LeaveRecord(mProfStack.back());
        mProfStack.pop_back();
    }
    ProfileRecord* record = mProfStack.empty() ? nullptr : mProfStack.back();
    if (record == nullptr)
    {
        // A return whose call started before profiling did.
        if (native)
            VEXEL_ASSERT_TEXT(false, u"p !=_null && p->mCFunc == cfunc");
        return;
    }
    mProfStack.pop_back();
    LeaveRecord(record);
}

void LuaScriptManager::LeaveRecord(ProfileRecord* record)
{
    std::int64_t elapsed = Now() - record->mStartTime;
    if (!mProfiling)
        return;
    ++record->mCallCount;
    record->mTotalTime += elapsed;
    double milliseconds = TicksToMilliseconds(elapsed);
    if (mProfileThreshold > 0 && milliseconds > mProfileThreshold)
    {
        const char16_t* kind = record->mCFunc ? u"C" : u"Lua";
        LogTrace(u"[LS] Cost too much time, threshold is %ld ms", mProfileThreshold);
        LogTrace(u"");
        if (record->mSource.empty())
            LogTrace(u"  [%ls], %ls, (%ls), cost %3.2f ms", kind, record->mName, record->mSource,
                     milliseconds);
        else
            LogTrace(u"  [%ls], %ls, (%ls:%d), cost %3.2f ms", kind, record->mName, record->mSource,
                     record->mLine, milliseconds);
        LogTrace(u"");
    }
}

void LuaScriptManager::CloseProfileRecords(std::size_t base)
{
    // Everything above the call's marker ends with the call, as a Lua return would end it.
    while (mProfStack.size() > base + 1)
    {
        ProfileRecord* record = mProfStack.back();
        mProfStack.pop_back();
        if (record)
            LeaveRecord(record);
    }
    if (VEXEL_ASSERT_TEXT(mProfStack.size() == base + 1 && mProfStack.back() == nullptr, u"finish"))
        mProfStack.pop_back();
    else if (mProfStack.size() > base)
        mProfStack.resize(base);
}

void LuaScriptManager::DumpProfile()
{
    if (!mProfiling)
        return;
    struct Entry
    {
        const ProfileRecord* record;
        _dword count;
        double total;
        double average;
    };
    std::vector<Entry> entries;
    for (ProfileRecord* record : mProfileOrder)
    {
        if (record->mCallCount == 0)
            continue;
        double total = TicksToMilliseconds(record->mTotalTime);
        entries.push_back({record, record->mCallCount, total, total / record->mCallCount});
        record->mCallCount = 0;
        record->mTotalTime = 0;
    }
    std::vector<Entry> byTotal = entries;
    std::stable_sort(byTotal.begin(), byTotal.end(),
                     [](const Entry& a, const Entry& b) { return a.total > b.total; });
    std::vector<Entry> byAverage = entries;
    std::stable_sort(byAverage.begin(), byAverage.end(),
                     [](const Entry& a, const Entry& b) { return a.average > b.average; });

    LogTrace(u"[LS] Dump lua profile Begin");
    LogTrace(u"");
    LogTrace(u"[LS] Order by total call cost (ms)");
    int lines = 0;
    for (const Entry& e : byTotal)
    {
        if (lines++ == _REPORT_LINES)
            break;
        const char16_t* kind = e.record->mCFunc ? u"C" : u"Lua";
        int count = static_cast<int>(e.count);
        if (e.record->mSource.empty())
            LogTrace(u"  [%ls], %ls, (%ls), called %d time(s), total call cost %3.2f ms, avg %3.2f ms", kind,
                     e.record->mName, e.record->mSource, count, e.total, e.average);
        else
            LogTrace(u"  [%ls], %ls, (%ls:%d), called %d time(s), total call cost %3.2f ms, avg %3.2f ms",
                     kind, e.record->mName, e.record->mSource, e.record->mLine, count, e.total, e.average);
    }
    if (byTotal.size() > static_cast<std::size_t>(_REPORT_LINES))
        LogTrace(u"  %d more ...", static_cast<int>(byTotal.size()) - _REPORT_LINES);
    LogTrace(u"");
    LogTrace(u"[LS] Order by avg call cost (ms)");
    lines = 0;
    for (const Entry& e : byAverage)
    {
        if (lines++ == _REPORT_LINES)
            break;
        const char16_t* kind = e.record->mCFunc ? u"C" : u"Lua";
        int count = static_cast<int>(e.count);
        if (e.record->mSource.empty())
            LogTrace(u"  [%ls], %ls, (Unknown), called %d time(s), avg call cost %3.2f ms", kind,
                     e.record->mName, count, e.average);
        else
            LogTrace(u"  [%ls], %ls, (%ls:%d), called %d time(s), avg call cost %3.2f ms", kind,
                     e.record->mName, e.record->mSource, e.record->mLine, count, e.average);
    }
    if (byAverage.size() > static_cast<std::size_t>(_REPORT_LINES))
        LogTrace(u"  %d more ...", static_cast<int>(byAverage.size()) - _REPORT_LINES);
    LogTrace(u"");
    LogTrace(u"[LS] Dump lua profile finished");
}

// --- Allocations ----------------------------------------------------------------------------------------

void* LuaScriptManager::RecordingAllocator(void* ud, void* ptr, std::size_t osize, std::size_t nsize)
{
    auto* self = static_cast<LuaScriptManager*>(ud);
    void* result = self->mBaseAlloc(self->mBaseAllocData, ptr, osize, nsize);
    if (result != nullptr && nsize > 0 && (ptr == nullptr || nsize > osize))
        self->RecordAllocation(ptr == nullptr ? nsize : nsize - osize);
    return result;
}

void LuaScriptManager::RecordAllocation(std::size_t size)
{
    // Attributed to the function running now, as the call hook tracks it; nothing here may allocate
    // from the state.
    ProfileRecord* record = mProfStack.empty() ? nullptr : mProfStack.back();
    if (record == nullptr)
        record = &mUnknownAllocations;
    record->mAllocBytes += static_cast<std::int64_t>(size);
    ++record->mAllocCount;
}

void LuaScriptManager::DumpAllocations(int threshold)
{
    if (threshold > 0)
    {
        if (mAllocThreshold <= 0)
        {
            mAllocState = mLuaState;
            mBaseAlloc = lua_getallocf(mAllocState, &mBaseAllocData);
            for (ProfileRecord* record : mProfileOrder)
                record->mAllocBytes = record->mAllocCount = 0;
            mUnknownAllocations.mAllocBytes = mUnknownAllocations.mAllocCount = 0;
            lua_setallocf(mAllocState, RecordingAllocator, this);
        }
        mAllocThreshold = threshold;
        UpdateHook();
        return;
    }
    int old = mAllocThreshold;
    if (old > 0 && mAllocState)
        lua_setallocf(mAllocState, mBaseAlloc, mBaseAllocData);
    mAllocState = nullptr;
    mAllocThreshold = -1;
    UpdateHook();

    struct Entry
    {
        String key;
        std::int64_t total;
        std::int64_t count;
    };
    std::vector<Entry> entries;
    auto take = [&](ProfileRecord& record)
    {
        if (record.mAllocCount > 0 && record.mAllocBytes >= old)
            entries.push_back({FormatString(u"%ls:%d:%ls", record.mSource, record.mLine, record.mName),
                               record.mAllocBytes, record.mAllocCount});
        record.mAllocBytes = record.mAllocCount = 0;
    };
    for (ProfileRecord* record : mProfileOrder)
        take(*record);
    take(mUnknownAllocations);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.total > b.total; });
    LogTrace(u"[LS] Dump Lua Alloc Begin");
    LogTrace(u"[LS] Order by total alloc size (byte)");
    for (const Entry& e : entries)
        LogTrace(u"%ls\t\t%d\t%d\t%d", e.key, static_cast<int>(e.total), static_cast<int>(e.count),
                 static_cast<int>(e.total / e.count));
    LogTrace(u"[LS] Dump Lua Alloc End");
}

} // namespace Vexel
