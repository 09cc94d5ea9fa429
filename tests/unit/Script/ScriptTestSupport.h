// A manager per test, log lines one per entry, and a small script class used across the script tests.
#pragma once

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/Variable.h"
#include "Script/LuaScriptManager.h"
#include "Script/ScriptObject.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace Vexel::Test
{

// A native class with a method, a read-write and a read-only property, constants, a failing method and
// one that calls back into the script.
class Counter : public ScriptObject
{
public:
    static inline int sAlive = 0;
    Counter() { ++sAlive; }
    ~Counter() override { --sAlive; }

    int Add(IScriptManager& m)
    {
        mValue += m.GetArgInt(0);
        return m.ReturnInt(mValue);
    }
    int GetValue(IScriptManager& m)
    {
        ++mReads;
        return m.ReturnInt(mValue);
    }
    int SetValue(IScriptManager& m)
    {
        mValue = m.GetArgInt(0);
        return m.ReturnNothing();
    }
    int GetReads(IScriptManager& m) { return m.ReturnInt(mReads); }
    int Fail(IScriptManager& m)
    {
        m.SetScriptError(u"counter refused");
        return m.ReturnNothing();
    }
    // call(f, x): calls f(x) and returns its result (or nothing when f fails).
    int Call(IScriptManager& m)
    {
        int reference = m.RefArgument(0);
        Variable arg(u"", _VAR_INT32);
        arg.SetInt32(m.GetArgInt(1));
        Variable result;
        bool ok = m.CallRef(reference, &arg, 1, &result);
        m.Unref(reference);
        return ok ? m.ReturnVariable(result) : m.ReturnNothing();
    }
    int Echo(IScriptManager& m) { return m.ReturnString(m.GetArgString(0)); }

    int mValue = 0;
    int mReads = 0;
};

inline int CreateCounter(IScriptManager& m, ScriptObject*)
{
    auto* counter = new Counter;
    m.BindObject(u"_Counter", counter, false);
    return m.ReturnObject(counter);
}

inline const ScriptNative _COUNTER_NEW{CreateCounter, false};
inline const ScriptNative _COUNTER_ADD{ScriptMember<Counter, &Counter::Add>, true};
inline const ScriptNative _COUNTER_GET{ScriptMember<Counter, &Counter::GetValue>, true};
inline const ScriptNative _COUNTER_SET{ScriptMember<Counter, &Counter::SetValue>, true};
inline const ScriptNative _COUNTER_READS{ScriptMember<Counter, &Counter::GetReads>, true};
inline const ScriptNative _COUNTER_FAIL{ScriptMember<Counter, &Counter::Fail>, true};
inline const ScriptNative _COUNTER_CALL{ScriptMember<Counter, &Counter::Call>, true};
inline const ScriptNative _COUNTER_ECHO{ScriptMember<Counter, &Counter::Echo>, true};

inline void RegisterCounter(IScriptManager& m)
{
    m.BeginClass(u"_Counter", &_COUNTER_NEW, ScriptNativeThunk);
    AddTypeMembers(m);
    m.AddFunction(u"add", &_COUNTER_ADD, ScriptNativeThunk, false);
    m.AddFunction(u"fail", &_COUNTER_FAIL, ScriptNativeThunk, false);
    m.AddFunction(u"call", &_COUNTER_CALL, ScriptNativeThunk, false);
    m.AddFunction(u"echo", &_COUNTER_ECHO, ScriptNativeThunk, false);
    m.AddProperty(u"value", &_COUNTER_GET, ScriptNativeThunk, &_COUNTER_SET, ScriptNativeThunk);
    m.AddReadOnlyProperty(u"reads", &_COUNTER_READS, ScriptNativeThunk);
    Variable limit(u"", _VAR_INT32);
    limit.SetInt32(10);
    m.AddConstant(u"LIMIT", limit, false);
    Variable version(u"", _VAR_TEXT);
    version.SetText(u"1.0");
    m.AddConstant(u"VERSION", version, true);
    m.EndClass();
}

// One manager per test; log lines without time stamps or line ends, so each line is one capture entry.
class ScriptTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gLogTimeStamp = false;
        gLogLineEnd = false;
        mCapture = std::make_unique<LogCapture>();
        mManager = std::make_unique<LuaScriptManager>();
        Counter::sAlive = 0;
    }
    void TearDown() override
    {
        mManager.reset();
        mCapture.reset();
        gLogTimeStamp = true;
        gLogLineEnd = true;
    }

    // Runs text and gives its result (mode 1); a failure fails the test.
    Variable Eval(const char16_t* text)
    {
        Variable v = mManager->RunString(text, u"test", _SCRIPT_RESULT_VALUE);
        EXPECT_TRUE(mManager->GetLastError().empty()) << Narrow(mManager->GetLastError());
        return v;
    }
    bool Run(const char16_t* text)
    {
        mManager->RunString(text, u"test", _SCRIPT_RESULT_DISCARD);
        return mManager->GetLastError().empty();
    }
    bool Logged(std::u16string_view line) const
    {
        for (const auto& call : mCapture->Calls())
            if (call == line)
                return true;
        return false;
    }

    std::unique_ptr<LogCapture> mCapture;
    std::unique_ptr<LuaScriptManager> mManager;
};

} // namespace Vexel::Test
