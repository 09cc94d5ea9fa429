// Values between scripts and Variable, in both directions.
#include "ScriptTestSupport.h"

#include <cstring>

using namespace Vexel;
using namespace Vexel::Test;

namespace
{
using ScriptValueTest = ScriptTest;
}

TEST_F(ScriptValueTest, ScalarsTakeTheirOwnKinds)
{
    Variable v = Eval(u"return { true, 2.5, 'text', print }");
    ASSERT_TRUE(v.IsArray());
    ASSERT_EQ(v.GetChildCount(), 4u);
    EXPECT_EQ(v.GetChild(0).GetType(), _VAR_BOOL);
    EXPECT_EQ(v.GetChild(1).GetType(), _VAR_DOUBLE);
    EXPECT_DOUBLE_EQ(v.GetChild(1).GetDouble(), 2.5);
    EXPECT_EQ(v.GetChild(2).GetText(), u"text");
    EXPECT_EQ(v.GetChild(3).GetType(), _VAR_SCRIPTREF);
    EXPECT_GT(v.GetChild(3).GetScriptRef(), 0);
}

TEST_F(ScriptValueTest, ArraysAndMaps)
{
    Variable array = Eval(u"return { 'a', 'b', 'c' }");
    ASSERT_TRUE(array.IsArray());
    EXPECT_EQ(array.GetChild(1).GetName(), u"[1]");
    EXPECT_EQ(array.Find(u"#").GetUInt32(), 3u);

    // One key more than the length makes it a map; numeric keys keep their numbers.
    Variable map = Eval(u"return { 1, 2, 3, x = 'y' }");
    ASSERT_TRUE(map.IsStructure());
    EXPECT_EQ(map.GetChildCount(), 4u);
    EXPECT_EQ(map.FindChild(u"x").GetText(), u"y");
    const Variable& one = map.FindChild(u"1");
    EXPECT_TRUE(one.HasKeyNumber());
    EXPECT_EQ(one.GetKeyNumber(), 1.0);

    Variable empty = Eval(u"return {}");
    EXPECT_TRUE(empty.IsStructure());
    EXPECT_EQ(empty.GetChildCount(), 0u);
}

TEST_F(ScriptValueTest, TreesGoBackWithTheirKeys)
{
    Variable tree =
        Eval(u"return { list = { 10, 20 }, [7] = 'seven', name = 'n', nested = { deep = { ok = true } } }");
    ASSERT_TRUE(mManager->SetGlobal(nullptr, "copy", tree));
    Variable check = Eval(u"return copy.list[2] == 20 and copy[7] == 'seven' and copy['7'] == nil and"
                          u" copy.name == 'n' and copy.nested.deep.ok == true and #copy.list == 2");
    EXPECT_TRUE(check.GetBool());
}

TEST_F(ScriptValueTest, NativeVariablesBecomeScriptValues)
{
    Variable root(u"", _VAR_STRUCT);
    root.Create(u"width", _VAR_INT32).SetInt32(-5);
    root.Create(u"size", _VAR_UINT32).SetUInt32(0xFFFFFFFF);
    root.Create(u"ratio", _VAR_FLOAT).SetFloat(0.5f);
    root.Create(u"blob", _VAR_BINARY).SetBinary("a\0b", 3);
    root.Create(u"nothing", _VAR_EMPTY);
    Variable& list = root.Create(u"list", _VAR_ARRAY | _VAR_INT32);
    list.Resize(2);
    list.GetChild(1).SetInt32(9);
    ASSERT_TRUE(mManager->SetGlobal(nullptr, "v", root));
    Variable check = Eval(u"return v.width == -5 and v.size == 4294967295 and v.ratio == 0.5 and"
                          u" v.blob == 'a\\0b' and v.nothing == nil and v.list[2] == 9 and #v.list == 2");
    EXPECT_TRUE(check.GetBool());
}

TEST_F(ScriptValueTest, RequestedTypesConvert)
{
    ASSERT_TRUE(Run(u"n = 12.9; s = '41'; b = 0"));
    Variable asInt(u"", _VAR_INT32);
    mManager->GetGlobal(nullptr, "n", asInt);
    EXPECT_EQ(asInt.GetType(), _VAR_INT32);
    EXPECT_EQ(asInt.GetInt32(), 12);
    Variable fromText(u"", _VAR_INT16);
    mManager->GetGlobal(nullptr, "s", fromText);
    EXPECT_EQ(fromText.GetInt32(), 41);
    Variable asText(u"", _VAR_TEXT);
    mManager->GetGlobal(nullptr, "n", asText);
    EXPECT_EQ(asText.GetText(), u"12.9");
    Variable asBool(u"", _VAR_BOOL);
    mManager->GetGlobal(nullptr, "b", asBool);
    EXPECT_TRUE(asBool.GetBool()); // 0 is true in scripts
}

TEST_F(ScriptValueTest, FunctionReferencesAreCallableCopiedAndReleased)
{
    Variable function = Eval(u"return function(x) return x .. '!' end");
    ASSERT_EQ(function.GetType(), _VAR_SCRIPTREF);
    Variable copy(function);
    EXPECT_NE(copy.GetScriptRef(), function.GetScriptRef());
    function.Clear();
    Variable arg(u"", _VAR_TEXT);
    arg.SetText(u"hey");
    Variable result;
    EXPECT_TRUE(mManager->CallRef(copy.GetScriptRef(), &arg, 1, &result));
    EXPECT_EQ(result.GetText(), u"hey!");
    // Pushed back, it is the same function.
    ASSERT_TRUE(mManager->SetGlobal(nullptr, "f", copy));
    EXPECT_EQ(Eval(u"return f('x')").GetText(), u"x!");
}

TEST_F(ScriptValueTest, BoundObjectsAndPointers)
{
    RegisterCounter(*mManager);
    Variable object = Eval(u"counter = _Counter() return counter");
    ASSERT_EQ(object.GetType(), _VAR_POINTER);
    auto* counter = static_cast<Counter*>(object.GetPointer());
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->mBinding->mClassName, u"_Counter");
    ASSERT_TRUE(mManager->SetGlobal(nullptr, "same", object));
    EXPECT_TRUE(Eval(u"return rawequal(same, counter)").GetBool());

    int local = 0;
    Variable pointer(u"", _VAR_POINTER);
    pointer.SetPointer(&local);
    ASSERT_TRUE(mManager->SetGlobal(nullptr, "light", pointer));
    EXPECT_EQ(Eval(u"return type(light)").GetText(), u"userdata");
    Variable back;
    mManager->GetGlobal(nullptr, "light", back);
    EXPECT_EQ(back.GetPointer(), &local);
}

TEST_F(ScriptValueTest, BinaryBlocksFromUserDataWithTheStringsMetatable)
{
    lua_State* L = mManager->GetLuaState();
    auto* bytes = static_cast<char*>(lua_newuserdata(L, 4));
    std::memcpy(bytes, "\x01\x02\x03\x04", 4);
    lua_pushliteral(L, "");
    lua_getmetatable(L, -1);
    lua_setmetatable(L, -3);
    lua_pop(L, 1);
    Variable binary;
    mManager->ToVariable(L, -1, binary);
    lua_pop(L, 1);
    ASSERT_EQ(binary.GetType(), _VAR_BINARY);
    ASSERT_EQ(binary.GetBinarySize(), 4u);
    EXPECT_EQ(binary.GetBinaryData()[3], 4);

    lua_newuserdata(L, 4); // any other user data reads as empty
    Variable other;
    mManager->ToVariable(L, -1, other);
    lua_pop(L, 1);
    EXPECT_EQ(other.GetType(), _VAR_EMPTY);
}

TEST_F(ScriptValueTest, TablesInsideThemselvesConvertOnce)
{
    Variable v = Eval(u"local t = { name = 'loop' } t.self = t t.list = { t, t } return t");
    ASSERT_TRUE(v.IsStructure());
    EXPECT_EQ(v.FindChild(u"name").GetText(), u"loop");
    EXPECT_EQ(v.FindChild(u"self").GetType(), _VAR_EMPTY);

    Variable deep = Eval(u"local t = {} local c = t for i = 1, 200 do c.next = {} c = c.next end return t");
    int depth = 0;
    for (const Variable* p = &deep; p->GetType() == _VAR_STRUCT && p->GetChildCount() > 0;
         p = &p->FindChild(u"next"))
        ++depth;
    EXPECT_LE(depth, 65);
    EXPECT_GE(depth, 60);
}
