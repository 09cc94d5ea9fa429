// Cost of calling bound native members from scripts against plain lua_CFunctions doing the same work, and
// heap allocations per call (the state's allocator and global operator new, both counted).
//
// Each benchmark runs a script loop of _CALLS calls; the time reported is per call. After the runs the
// ratios bound / plain are printed (goal: at most 1.5) with the allocations per call (goal: 0).
#include "Common/Log.h"
#include "Script/LuaScriptManager.h"
#include "Script/ScriptObject.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

namespace
{
std::atomic<long long> gNewCount{0};
long long gLuaAllocs = 0;
} // namespace

// The counting operator new takes its memory from malloc, so the operator delete below frees with free;
// GCC, seeing both sides, warns about a mismatch that is none.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    gNewCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{
using namespace Vexel;

constexpr int _CALLS = 1000;

class Target : public ScriptObject
{
public:
    int Add(IScriptManager& m)
    {
        mValue += m.GetArgInt(0);
        return m.ReturnInt(mValue);
    }
    int Value(IScriptManager& m) { return m.ReturnInt(mValue); }
    int mValue = 0;
};

// The same work through the bare API, as a hand-written binding does it: the object is a full user data
// checked against its metatable, methods come from a method table, properties from an __index function.
int PlainAdd(lua_State* L)
{
    Target* target = *static_cast<Target**>(luaL_checkudata(L, 1, "PlainTarget"));
    target->mValue += static_cast<int>(lua_tointeger(L, 2));
    lua_pushinteger(L, target->mValue);
    return 1;
}
int PlainIndex(lua_State* L)
{
    Target* target = *static_cast<Target**>(luaL_checkudata(L, 1, "PlainProperty"));
    const char* key = lua_tostring(L, 2);
    if (key && std::strcmp(key, "value") == 0)
    {
        lua_pushinteger(L, target->mValue);
        return 1;
    }
    lua_pushvalue(L, 2);
    lua_rawget(L, lua_upvalueindex(1));
    return 1;
}

int CreateTarget(IScriptManager& m, ScriptObject*)
{
    auto* target = new Target;
    m.BindObject(u"_Target", target, false);
    return m.ReturnObject(target);
}
const ScriptNative _TARGET_NEW{CreateTarget, false};
const ScriptNative _TARGET_ADD{ScriptMember<Target, &Target::Add>, true};
const ScriptNative _TARGET_VALUE{ScriptMember<Target, &Target::Value>, true};

lua_Alloc gBaseAlloc = nullptr;
void* gBaseAllocData = nullptr;
void* CountingAlloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize)
{
    if (nsize > osize)
        ++gLuaAllocs;
    return gBaseAlloc(gBaseAllocData, ptr, osize, nsize);
}

struct Fixture
{
    LuaScriptManager manager;
    Target plainTarget;
    int loops[4] = {};

    Fixture()
    {
        manager.BeginClass(u"_Target", &_TARGET_NEW, ScriptNativeThunk);
        manager.AddFunction(u"add", &_TARGET_ADD, ScriptNativeThunk, false);
        manager.AddReadOnlyProperty(u"value", &_TARGET_VALUE, ScriptNativeThunk);
        manager.EndClass();
        lua_State* L = manager.GetLuaState();
        // The plain objects: user data checked against their metatable; methods come from a method
        // table (no function runs to find them), properties from an __index function.
        *static_cast<Target**>(lua_newuserdata(L, sizeof(Target*))) = &plainTarget;
        luaL_newmetatable(L, "PlainTarget");
        lua_newtable(L);
        lua_pushcfunction(L, PlainAdd);
        lua_setfield(L, -2, "add");
        lua_setfield(L, -2, "__index");
        lua_setmetatable(L, -2);
        lua_setglobal(L, "plain");
        *static_cast<Target**>(lua_newuserdata(L, sizeof(Target*))) = &plainTarget;
        luaL_newmetatable(L, "PlainProperty");
        lua_newtable(L);
        lua_pushcclosure(L, PlainIndex, 1);
        lua_setfield(L, -2, "__index");
        lua_setmetatable(L, -2);
        lua_setglobal(L, "plainProperty");
        manager.RunString(u"bound = _Target()", u"setup", _SCRIPT_RESULT_DISCARD);
        const char16_t* scripts[4] = {
            u"local o = bound for i = 1, 1000 do o:add(1) end",
            u"local o = plain for i = 1, 1000 do o:add(1) end",
            u"local o, s = bound, 0 for i = 1, 1000 do s = s + o.value end",
            u"local o, s = plainProperty, 0 for i = 1, 1000 do s = s + o.value end",
        };
        for (int i = 0; i < 4; ++i)
            loops[i] = manager.CompileString(scripts[i], u"=bench");
        gBaseAlloc = lua_getallocf(L, &gBaseAllocData);
        lua_setallocf(L, CountingAlloc, nullptr);
    }
    ~Fixture()
    {
        lua_setallocf(manager.GetLuaState(), gBaseAlloc, gBaseAllocData);
        for (int& loop : loops)
            manager.Unref(loop);
    }

    void RunLoop(int which)
    {
        lua_State* L = manager.GetLuaState();
        lua_rawgeti(L, LUA_REGISTRYINDEX, loops[which]);
        if (lua_pcall(L, 0, 0, 0) != 0)
        {
            std::fprintf(stderr, "bench script failed: %s\n", lua_tostring(L, -1));
            std::abort();
        }
    }
};

Fixture* gFixture = nullptr;

void RunCase(benchmark::State& state, int which)
{
    gFixture->RunLoop(which); // warm up: first-time growth of pools and stacks is not per call
    long long news = gNewCount.load();
    long long luaAllocs = gLuaAllocs;
    long long runs = 0;
    for (auto _ : state)
    {
        gFixture->RunLoop(which);
        ++runs;
    }
    double calls = static_cast<double>(runs) * _CALLS;
    state.SetItemsProcessed(static_cast<int64_t>(calls));
    state.counters["ns_per_call"] = benchmark::Counter(
        static_cast<double>(runs) * _CALLS, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["new_per_call"] = static_cast<double>(gNewCount.load() - news) / calls;
    state.counters["lua_alloc_per_call"] = static_cast<double>(gLuaAllocs - luaAllocs) / calls;
}

void BM_BoundMethod(benchmark::State& state)
{
    RunCase(state, 0);
}
void BM_PlainMethod(benchmark::State& state)
{
    RunCase(state, 1);
}
void BM_BoundProperty(benchmark::State& state)
{
    RunCase(state, 2);
}
void BM_PlainProperty(benchmark::State& state)
{
    RunCase(state, 3);
}
BENCHMARK(BM_BoundMethod);
BENCHMARK(BM_PlainMethod);
BENCHMARK(BM_BoundProperty);
BENCHMARK(BM_PlainProperty);

// Remembers each benchmark's time per call for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
        {
            // CPU time: the machine may be shared, and waiting for it is not the call's cost. With
            // repetitions the median stands for the benchmark.
            std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            mPerCall[name] = run.GetAdjustedCPUTime() / _CALLS;
            auto news = run.counters.find("new_per_call");
            auto lua = run.counters.find("lua_alloc_per_call");
            mAllocs[name] = (news != run.counters.end() ? double(news->second) : 0) +
                            (lua != run.counters.end() ? double(lua->second) : 0);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Summary() const
    {
        auto ratio = [&](const char* bound, const char* plain)
        {
            auto b = mPerCall.find(bound);
            auto p = mPerCall.find(plain);
            if (b == mPerCall.end() || p == mPerCall.end() || p->second <= 0)
                return;
            std::printf(
                "%-16s %.1f ns/call vs plain %.1f ns/call: ratio %.2fx (goal <= 1.5x), heap allocations "
                "per call %.4f\n",
                bound, b->second, p->second, b->second / p->second, mAllocs.at(bound));
        };
        ratio("BM_BoundMethod", "BM_PlainMethod");
        ratio("BM_BoundProperty", "BM_PlainProperty");
    }

private:
    std::map<std::string, double> mPerCall;
    std::map<std::string, double> mAllocs;
};
} // namespace

int main(int argc, char** argv)
{
    Vexel::gLogEnabled = false;
    benchmark::Initialize(&argc, argv);
    Fixture fixture;
    gFixture = &fixture;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summary();
    gFixture = nullptr;
    benchmark::Shutdown();
    return 0;
}
