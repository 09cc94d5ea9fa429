// States, compiling and running, errors and tracebacks, and calls into scripts.
#include "ScriptTestSupport.h"

#include <vector>

using namespace Vexel;
using namespace Vexel::Test;

namespace
{
std::vector<String> gCallbackTexts;
void CollectError(const String& text)
{
    gCallbackTexts.push_back(text);
}

class ScriptManagerTest : public ScriptTest
{
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        gCallbackTexts.clear();
    }
};
} // namespace

TEST_F(ScriptManagerTest, NewManagerHasOneOwnedStateWithTheJitOff)
{
    EXPECT_EQ(LuaScriptManager::Instance(), mManager.get());
    EXPECT_EQ(mManager->GetStateCount(), 1u);
    EXPECT_EQ(mManager->GetScriptType(), 2u);
    EXPECT_NE(mManager->GetLuaState(), nullptr);
    EXPECT_EQ(mManager->GetRuntimeState(), mManager->GetLuaState());
    EXPECT_FALSE(Eval(u"return (jit.status())").GetBool());
    EXPECT_EQ(Eval(u"return type(string.format)").GetText(), u"function");
}

TEST_F(ScriptManagerTest, ManagerSlotIsClearedOnDestruction)
{
    mManager.reset();
    EXPECT_EQ(LuaScriptManager::Instance(), nullptr);
}

TEST_F(ScriptManagerTest, SwitchingStates)
{
    EXPECT_FALSE(mManager->SwitchState(1));
    EXPECT_TRUE(Logged(u"[LS] Failed to switch script state to invalid index 1"));

    lua_State* own = luaL_newstate();
    _dword handle = mManager->CreateState(own);
    ASSERT_EQ(handle, 1u);
    ASSERT_TRUE(mManager->SwitchState(handle));
    EXPECT_EQ(mManager->GetLuaState(), own);
    // A given state is used as it is: no libraries were opened in it.
    EXPECT_TRUE(Eval(u"return string == nil").GetBool());
    ASSERT_TRUE(mManager->SwitchState(0));
    mManager.reset();
    lua_close(own); // not owned: still the caller's to close
}

TEST_F(ScriptManagerTest, ResultModes)
{
    EXPECT_EQ(mManager->RunString(u"return 7", u"t", _SCRIPT_RESULT_DISCARD).GetType(), _VAR_EMPTY);
    EXPECT_EQ(mManager->RunString(u"return 7", u"t", _SCRIPT_RESULT_VALUE).GetInt32(), 7);

    lua_State* L = mManager->GetLuaState();
    int top = lua_gettop(L);
    EXPECT_EQ(mManager->RunString(u"return 'left'", u"t", _SCRIPT_RESULT_STACK).GetType(), _VAR_EMPTY);
    ASSERT_EQ(lua_gettop(L), top + 1);
    EXPECT_STREQ(lua_tostring(L, -1), "left");
    lua_pop(L, 1);
}

TEST_F(ScriptManagerTest, RuntimeErrorGivesTracebackCallbackAndLogLine)
{
    mManager->SetErrorCallback(CollectError);
    Variable v = mManager->RunString(u"local function boom() error('bad thing') end\nboom()", u"=chunk",
                                     _SCRIPT_RESULT_VALUE);
    EXPECT_EQ(v.GetType(), _VAR_EMPTY);
    const String& error = mManager->GetLastError();
    EXPECT_EQ(error.rfind(u"chunk:1: bad thing", 0), 0u) << Narrow(error);
    EXPECT_NE(error.find(u"stack traceback:"), String::npos);
    ASSERT_EQ(gCallbackTexts.size(), 1u);
    EXPECT_EQ(gCallbackTexts[0], error);
    EXPECT_TRUE(Logged(error));
    // The next good run clears it.
    Eval(u"return 1");
    EXPECT_TRUE(mManager->GetLastError().empty());
}

TEST_F(ScriptManagerTest, CompileErrorsAndReferences)
{
    EXPECT_EQ(mManager->CompileString(u"return +", u"=broken"), 0);
    EXPECT_NE(mManager->GetLastError().find(u"broken:1:"), String::npos);

    int reference = mManager->CompileString(u"return 40 + 2", u"=ok");
    ASSERT_GT(reference, 0);
    Variable result;
    EXPECT_TRUE(mManager->CallRef(reference, nullptr, 0, &result));
    EXPECT_EQ(result.GetInt32(), 42);
    mManager->Unref(reference);
    EXPECT_EQ(reference, 0);
    EXPECT_FALSE(mManager->CallRef(reference, nullptr, 0, &result));
}

TEST_F(ScriptManagerTest, ErrorValuesThatAreNotStringsAreReportedAsText)
{
    EXPECT_FALSE(Run(u"error({code = 1})"));
    EXPECT_EQ(mManager->GetLastError(), u"(error object is a table value)");
    EXPECT_FALSE(Run(u"error(setmetatable({}, {__tostring = function() error('again') end}))"));
    EXPECT_EQ(mManager->GetLastError(), u"(error object is a table value)");
    EXPECT_FALSE(Run(u"error()"));
    EXPECT_EQ(mManager->GetLastError(), u"(error object is a nil value)");
    // A replaced traceback function that fails is an error in the handler, still caught.
    EXPECT_FALSE(Run(u"debug.traceback = function() error('x') end; error('y')"));
    EXPECT_FALSE(mManager->GetLastError().empty());
}

TEST_F(ScriptManagerTest, DeepRecursionIsAScriptError)
{
    EXPECT_FALSE(Run(u"local function f(n) return 1 + f(n + 1) end return f(1)"));
    EXPECT_NE(mManager->GetLastError().find(u"stack overflow"), String::npos)
        << Narrow(mManager->GetLastError());
    // Recursion through native calls ends with an error too, and leaves no call in progress.
    RegisterCounter(*mManager);
    EXPECT_FALSE(
        Run(u"local c = _Counter() local function f(x) return c:call(f, x) end f(1) error('unreached')"));
    EXPECT_EQ(mManager->GetCallDepth(), 0u);
    EXPECT_EQ(Eval(u"return 5").GetInt32(), 5);
}

TEST_F(ScriptManagerTest, BuffersFilesAndChunkNames)
{
    TempDir dir;
    WriteBytes(dir / "settings.lua", "width = 1069\nreturn width + 1\n");
    EXPECT_EQ(mManager->RunFile(dir.Wide("settings.lua"), _SCRIPT_RESULT_VALUE).GetInt32(), 1070);
    Variable width;
    EXPECT_TRUE(mManager->GetGlobal(nullptr, "width", width));
    EXPECT_EQ(width.GetInt32(), 1069);

    const char broken[] = "x = = 1";
    mManager->RunBuffer(broken, sizeof broken - 1, u"launcher.lua", _SCRIPT_RESULT_DISCARD);
    EXPECT_EQ(mManager->GetLastError().rfind(u"launcher.lua:1:", 0), 0u) << Narrow(mManager->GetLastError());

    EXPECT_EQ(mManager->RunFile(dir.Wide("missing.lua"), _SCRIPT_RESULT_VALUE).GetType(), _VAR_EMPTY);
    int reference = mManager->CompileFile(dir.Wide("settings.lua"));
    EXPECT_GT(reference, 0);
    mManager->Unref(reference);
}

TEST_F(ScriptManagerTest, ResourceLoaderIsAskedFirst)
{
    struct Loader
    {
        static bool Load(const String& path, void** data, _dword* length, void* context)
        {
            if (path != u"config.lua")
                return false;
            static const char text[] = "return 'from resources'";
            *data = const_cast<char*>(text);
            *length = sizeof text - 1;
            ++*static_cast<int*>(context);
            return true;
        }
    };
    int loads = 0;
    mManager->SetResourceLoader(Loader::Load, nullptr, &loads);
    EXPECT_EQ(mManager->RunFile(u"config.lua", _SCRIPT_RESULT_VALUE).GetText(), u"from resources");
    EXPECT_EQ(loads, 1);
}

TEST_F(ScriptManagerTest, CallingScriptFunctions)
{
    ASSERT_TRUE(Run(u"function twice(x) return x * 2 end\n"
                    u"function fails() error('nope') end\n"
                    u"notAFunction = 3"));
    Variable arg(u"", _VAR_INT32);
    arg.SetInt32(21);
    Variable result;
    EXPECT_TRUE(mManager->CallMethod(nullptr, "twice", &arg, 1, &result));
    EXPECT_EQ(result.GetInt32(), 42);
    EXPECT_FALSE(mManager->CallMethod(nullptr, "notAFunction", nullptr, 0, &result));
    EXPECT_FALSE(mManager->CallMethod(nullptr, "missing", nullptr, 0, &result));
    EXPECT_FALSE(mManager->CallFunction(nullptr, "fails"));
    EXPECT_NE(mManager->GetLastError().find(u"nope"), String::npos);
    EXPECT_EQ(lua_gettop(mManager->GetLuaState()), 0);
}

TEST_F(ScriptManagerTest, GlobalsInBothNameForms)
{
    Variable text(u"", _VAR_TEXT);
    text.SetText(u"caf\u00e9");
    EXPECT_TRUE(mManager->SetGlobal(nullptr, String(u"title"), text));
    EXPECT_EQ(Eval(u"return #title").GetInt32(), 5); // UTF-8 inside scripts
    Variable back;
    EXPECT_TRUE(mManager->GetGlobal(nullptr, String(u"title"), back));
    EXPECT_EQ(back.GetText(), u"caf\u00e9");
    Variable missing;
    EXPECT_FALSE(mManager->GetGlobal(nullptr, "nothing", missing));
    EXPECT_EQ(missing.GetType(), _VAR_EMPTY);
}

TEST_F(ScriptManagerTest, SetLastErrorAndReportError)
{
    mManager->SetErrorCallback(CollectError);
    mManager->SetLastError(u"custom");
    EXPECT_EQ(mManager->GetLastError(), u"custom");
    mManager->ReportError(u"reported");
    ASSERT_EQ(gCallbackTexts.size(), 1u);
    EXPECT_EQ(gCallbackTexts[0], u"reported");
}
