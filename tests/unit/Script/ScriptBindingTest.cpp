// Script classes over native objects: members, the argument protocol, errors inside native calls, and
// object lifetimes on both sides.
#include "ScriptTestSupport.h"

#include <cstdio>

using namespace Vexel;
using namespace Vexel::Test;

namespace
{
class ScriptBindingTest : public ScriptTest
{
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        RegisterCounter(*mManager);
    }

    // Binds a native-made counter and publishes it as a global.
    Counter* Publish(const char* name, bool proxy = false)
    {
        auto* counter = new Counter;
        EXPECT_EQ(mManager->BindObject(u"_Counter", counter, proxy), counter);
        Variable pointer(u"", _VAR_POINTER);
        pointer.SetPointer(counter);
        mManager->SetGlobal(nullptr, name, pointer);
        return counter;
    }
};

// Argument protocol probes.
struct Probe : ScriptObject
{
};
int gArgCount = -1;
int gArg0 = -1;
int gArg5 = -1;
String gText;
int ProbeArgs(IScriptManager& m, ScriptObject*)
{
    gArgCount = static_cast<int>(m.GetArgCount());
    gArg0 = m.GetArgInt(0);
    gArg5 = m.GetArgInt(5);
    gText = m.GetArgString(1);
    return m.ReturnUInt(m.GetArgUInt(2));
}
const ScriptNative _PROBE_ARGS{ProbeArgs, true};
const ScriptNative _PROBE_STATIC{ProbeArgs, false};
int ProbeNew(IScriptManager& m, ScriptObject*)
{
    auto* probe = new Probe;
    m.BindObject(u"_Probe", probe, false);
    return m.ReturnObject(probe);
}
const ScriptNative _PROBE_NEW{ProbeNew, false};
} // namespace

TEST_F(ScriptBindingTest, ClassUsedFromAScript)
{
    Variable v = Eval(u"local c = _Counter()\n"
                      u"c:add(5); c:add(2)\n"
                      u"c.value = c.value * 10\n"
                      u"return { c.value, c.reads, c.LIMIT, _Counter.VERSION, c.typestr, c.typeid }");
    ASSERT_EQ(v.GetChildCount(), 6u);
    EXPECT_EQ(v.GetChild(0).GetInt32(), 70);
    EXPECT_EQ(v.GetChild(1).GetInt32(), 2); // the getter ran once per read
    EXPECT_EQ(v.GetChild(2).GetInt32(), 10);
    EXPECT_EQ(v.GetChild(3).GetText(), u"1.0");
    EXPECT_EQ(v.GetChild(4).GetText(), u"_Counter");
    EXPECT_EQ(v.GetChild(5).GetInt32(), 1);
    EXPECT_EQ(Eval(u"return _Counter.new():add(3)").GetInt32(), 3);
    EXPECT_EQ(Eval(u"return _Counter():echo('h\u00e9llo')").GetText(), u"h\u00e9llo");
}

TEST_F(ScriptBindingTest, WritesToReadOnlyPropertiesAreIgnoredOthersArePlainFields)
{
    Variable v = Eval(u"local c = _Counter()\n"
                      u"c.reads = 99; c.note = 'mine'; c.add = 'shadowed'\n"
                      u"return { c.reads, c.note, c.add, _Counter().add ~= nil }");
    EXPECT_EQ(v.GetChild(0).GetInt32(), 0);
    EXPECT_EQ(v.GetChild(1).GetText(), u"mine");
    EXPECT_EQ(v.GetChild(2).GetText(), u"shadowed");
    EXPECT_TRUE(v.GetChild(3).GetBool());
}

TEST_F(ScriptBindingTest, MetatableIsPrivateAndHandlersStayHidden)
{
    EXPECT_FALSE(Run(u"setmetatable(_Counter(), {})"));
    EXPECT_NE(mManager->GetLastError().find(u"protected metatable"), String::npos);
    Variable v = Eval(u"local c = _Counter() return { getmetatable(c).__index == nil, c.__index == nil,"
                      u" c.__gc == nil }");
    EXPECT_TRUE(v.GetChild(0).GetBool());
    EXPECT_TRUE(v.GetChild(1).GetBool());
    EXPECT_TRUE(v.GetChild(2).GetBool());
}

TEST_F(ScriptBindingTest, ToStringUsesTheClassMemberOrTheAddress)
{
    Counter* counter = Publish("counter");
    char expected[64];
    // The address in as many digits as a pointer has (8 in the 32-bit product).
    std::snprintf(expected, sizeof expected, "table: 0x%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(counter)));
    EXPECT_EQ(Eval(u"return tostring(counter)").GetText(), FromUtf8(expected));
    // Scripts add members through the class table; every object sees them.
    ASSERT_TRUE(Run(u"function _Counter:tostring() return 'counter ' .. self.value end"));
    counter->mValue = 4;
    EXPECT_EQ(Eval(u"return tostring(counter)").GetText(), u"counter 4");
    EXPECT_TRUE(Run(u"_Counter.__index = 1")); // the handlers cannot be replaced
    EXPECT_EQ(Eval(u"return counter.value").GetInt32(), 4);
}

TEST_F(ScriptBindingTest, BindingTheSameObjectTwiceGivesTheSameTable)
{
    Counter* counter = Publish("first");
    EXPECT_EQ(mManager->BindObject(u"_Counter", counter, false), counter);
    Variable pointer(u"", _VAR_POINTER);
    pointer.SetPointer(counter);
    mManager->SetGlobal(nullptr, "second", pointer);
    EXPECT_TRUE(Eval(u"return rawequal(first, second)").GetBool());
    Counter unbound;
    EXPECT_EQ(mManager->BindObject(u"_Unknown", &unbound, false), nullptr);
    EXPECT_EQ(unbound.mBinding, nullptr);
    EXPECT_TRUE(Logged(u"[LS] Can't bind object to unknown class _Unknown"));
}

TEST_F(ScriptBindingTest, MethodArgumentsSkipTheObjectAndMissingOnesReadEmpty)
{
    mManager->BeginClass(u"_Probe", &_PROBE_NEW, ScriptNativeThunk);
    mManager->AddFunction(u"probe", &_PROBE_ARGS, ScriptNativeThunk, false);
    mManager->AddFunction(u"sprobe", &_PROBE_STATIC, ScriptNativeThunk, true);
    mManager->EndClass();
    mManager->AddFunction(u"gprobe", &_PROBE_STATIC, ScriptNativeThunk, false);

    EXPECT_EQ(Eval(u"return _Probe():probe(7, 'text', 0xFFFFFFFF + 3)").GetUInt32(), 2u);
    EXPECT_EQ(gArgCount, 3);
    EXPECT_EQ(gArg0, 7);
    EXPECT_EQ(gArg5, 0);
    EXPECT_EQ(gText, u"text");

    Eval(u"return gprobe(8)");
    EXPECT_EQ(gArgCount, 1);
    EXPECT_EQ(gArg0, 8);
    EXPECT_EQ(gText, u"");
    Eval(u"return _Probe.sprobe(9, 10)");
    EXPECT_EQ(gArg0, 9);

    // A method called without its object, or with an object of another class, does nothing.
    gArgCount = -1;
    EXPECT_EQ(Eval(u"return _Probe().probe(1)").GetType(), _VAR_EMPTY);
    EXPECT_EQ(gArgCount, -1);
    EXPECT_EQ(Eval(u"local p = _Probe() return _Counter().add(p, 1)").GetType(), _VAR_EMPTY);
    // A method taken from one object works on the object it is given.
    EXPECT_EQ(Eval(u"local a, b = _Counter(), _Counter() b:add(10) return a.add(b, 1)").GetInt32(), 11);
}

TEST_F(ScriptBindingTest, ScriptErrorFromANativeCallReachesTheScript)
{
    Variable v = Eval(u"local c = _Counter()\n"
                      u"local ok, message = pcall(c.fail, c)\n"
                      u"return { ok, message, c:add(1) }");
    EXPECT_FALSE(v.GetChild(0).GetBool());
    EXPECT_NE(v.GetChild(1).GetText().find(u"counter refused"), String::npos);
    EXPECT_EQ(v.GetChild(2).GetInt32(), 1);
    EXPECT_FALSE(Run(u"_Counter():fail()"));
    EXPECT_NE(mManager->GetLastError().find(u"counter refused"), String::npos);
    EXPECT_EQ(mManager->GetCallDepth(), 0u);
}

TEST_F(ScriptBindingTest, ThunkWithoutBindingReportsInternalError)
{
    lua_State* L = mManager->GetLuaState();
    lua_pushcfunction(L, ScriptNativeThunk);
    lua_setglobal(L, "orphan");
    EXPECT_FALSE(Run(u"orphan()"));
    EXPECT_NE(mManager->GetLastError().find(u"Internal Error : function empty"), String::npos);
}

TEST_F(ScriptBindingTest, CallbacksIntoScriptsFromNativeCalls)
{
    EXPECT_EQ(Eval(u"return _Counter():call(function(x) return x + 1 end, 41)").GetInt32(), 42);
    // A failing callback is contained in the native call; the script carries on.
    EXPECT_TRUE(Eval(u"return _Counter():call(function() error('inner') end, 1) == nil").GetBool());
    EXPECT_EQ(mManager->GetCallDepth(), 0u);
}

TEST_F(ScriptBindingTest, CollectorDestroysOnlyUnheldObjects)
{
    ASSERT_TRUE(Run(u"kept = _Counter(); local dropped = _Counter()"));
    EXPECT_EQ(Counter::sAlive, 2);
    mManager->CollectGarbage();
    EXPECT_EQ(Counter::sAlive, 1);

    Counter* held = Publish("held");
    mManager->AddBindingRef(held);
    ASSERT_TRUE(Run(u"held = nil; kept = nil"));
    mManager->CollectGarbage();
    EXPECT_EQ(Counter::sAlive, 1); // hold count 1 survives
    EXPECT_NE(held->mBinding, nullptr);
    // Native code can still hand it back to a script: the same table.
    Variable pointer(u"", _VAR_POINTER);
    pointer.SetPointer(held);
    mManager->SetGlobal(nullptr, "again", pointer);
    EXPECT_EQ(Eval(u"again.value = 3 return again.value").GetInt32(), 3);
    mManager->ReleaseBindingRef(held);
    mManager->ReleaseBindingRef(held); // not below 0
    ASSERT_TRUE(Run(u"again = nil"));
    mManager->CollectGarbage();
    EXPECT_EQ(Counter::sAlive, 0);
}

TEST_F(ScriptBindingTest, ObjectDestroyedByNativeCodeReadsNil)
{
    Counter* counter = Publish("counter");
    ASSERT_TRUE(Run(u"saved = counter; method = counter.add"));
    delete counter;
    Variable v = Eval(u"return { saved.value == nil, saved.LIMIT == nil, tostring(saved) }");
    EXPECT_TRUE(v.GetChild(0).GetBool());
    EXPECT_TRUE(v.GetChild(1).GetBool());
    EXPECT_EQ(v.GetChild(2).GetText(), u"table: 0x" + std::u16string(2 * sizeof(void*), u'0'));
    EXPECT_FALSE(Run(u"saved:add(1)")); // a script error, nothing touched
    EXPECT_TRUE(Eval(u"saved.value = 5 return method(saved, 1) == nil").GetBool());
    mManager->CollectGarbage();
}

TEST_F(ScriptBindingTest, ManagerEndDestroysUnheldObjectsAndDetachesHeldOnes)
{
    Counter* held = Publish("held");
    mManager->AddBindingRef(held);
    ASSERT_TRUE(Run(u"loose = _Counter()"));
    EXPECT_EQ(Counter::sAlive, 2);
    mManager.reset();
    EXPECT_EQ(Counter::sAlive, 1);
    EXPECT_EQ(held->mBinding, nullptr);
    delete held;
    EXPECT_EQ(Counter::sAlive, 0);
}

TEST_F(ScriptBindingTest, ProxyObjectsShowTheSameMembersAndKeepFieldsAside)
{
    Publish("proxied", true);
    Variable v =
        Eval(u"proxied:add(4); proxied.value = proxied.value + 1; proxied.note = 'n'\n"
             u"return { proxied.value, proxied.note, rawget(proxied, 'note') == nil, proxied.typestr }");
    EXPECT_EQ(v.GetChild(0).GetInt32(), 5);
    EXPECT_EQ(v.GetChild(1).GetText(), u"n");
    EXPECT_TRUE(v.GetChild(2).GetBool());
    EXPECT_EQ(v.GetChild(3).GetText(), u"_Counter");
}

TEST_F(ScriptBindingTest, ObjectReferencesAndFields)
{
    Counter* counter = Publish("counter");
    mManager->PushObjectRef(counter);
    ASSERT_TRUE(Run(u"counter = nil"));
    mManager->CollectGarbage();
    EXPECT_EQ(Counter::sAlive, 1); // the queued reference keeps the table
    mManager->PopObjectRef(counter);
    mManager->PopObjectRef(counter); // nothing queued: no effect
    mManager->CollectGarbage();
    EXPECT_EQ(Counter::sAlive, 0);

    Counter* other = Publish("other");
    static const char key = 0;
    lua_State* L = mManager->GetLuaState();
    lua_pushliteral(L, "field value");
    mManager->SetObjectField(other, &key);
    EXPECT_EQ(lua_gettop(L), 0);
    mManager->ClearObjectField(other, &key);
    EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(ScriptBindingTest, GlobalsOfAnObjectTable)
{
    Counter* counter = Publish("counter");
    Variable number(u"", _VAR_INT32);
    number.SetInt32(12);
    EXPECT_TRUE(mManager->SetGlobal(counter, "extra", number));
    EXPECT_EQ(Eval(u"return counter.extra").GetInt32(), 12);
    Variable back;
    EXPECT_TRUE(mManager->GetGlobal(counter, "extra", back));
    EXPECT_EQ(back.GetInt32(), 12);
    ASSERT_TRUE(Run(u"function counter:onEvent(x) self.seen = x return x * 3 end"));
    Variable result;
    EXPECT_TRUE(mManager->CallMethod(counter, "onEvent", &number, 1, &result));
    EXPECT_EQ(result.GetInt32(), 36);
    EXPECT_EQ(Eval(u"return counter.seen").GetInt32(), 12);
    // Class members are reached too, with the object as self.
    EXPECT_TRUE(mManager->CallMethod(counter, "add", &number, 1, &result));
    EXPECT_EQ(result.GetInt32(), 12);
}

TEST_F(ScriptBindingTest, CallClassNewPublishesAnInstance)
{
    EXPECT_TRUE(mManager->CallClassNew(u"launcher", u"_Counter"));
    EXPECT_EQ(Eval(u"return launcher:add(2)").GetInt32(), 2);
    EXPECT_FALSE(mManager->CallClassNew(u"x", u"_Nothing"));
}

TEST_F(ScriptBindingTest, RegistrationOutsideAClassIsReported)
{
    mManager->AddReadOnlyProperty(u"loose", &_COUNTER_READS, ScriptNativeThunk);
    EXPECT_TRUE(mCapture->Contains(u"mClassName != _null"));
    mManager->BeginClass(u"_A", nullptr, nullptr);
    EXPECT_FALSE(mManager->BeginClass(u"_B", nullptr, nullptr));
    EXPECT_TRUE(mCapture->Contains(u"mClassName == _null"));
    mManager->EndClass();
    EXPECT_EQ(lua_gettop(mManager->GetLuaState()), 0);
}

TEST_F(ScriptBindingTest, NativeCallsFromCoroutinesUseTheirStack)
{
    Variable v = Eval(u"local c = _Counter()\n"
                      u"local co = coroutine.wrap(function(a)\n"
                      u"  local made = _Counter()\n"
                      u"  local b = coroutine.yield(c:add(a) + made:add(1))\n"
                      u"  return c:add(b) + #c:echo('abc')\n"
                      u"end)\n"
                      u"local first = co(2)\n"
                      u"collectgarbage()\n"
                      u"return { first, co(5), c:call(function(x) return x * 2 end, 4) }");
    ASSERT_EQ(v.GetChildCount(), 3u);
    EXPECT_EQ(v.GetChild(0).GetInt32(), 3);
    EXPECT_EQ(v.GetChild(1).GetInt32(), 10);
    EXPECT_EQ(v.GetChild(2).GetInt32(), 8);
    EXPECT_EQ(mManager->GetCallDepth(), 0u);
}
