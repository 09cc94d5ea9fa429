// The script manager: owns the Lua states, runs scripts, moves values between scripts and Variable,
// binds native objects to script classes and offers the argument/result protocol of native functions.
//
// The operations keep a fixed order (several slots share one body); do not reorder them. Operations
// added after the fixed set are marked as such.
//
// Native functions (thunks) follow this protocol:
//   1. BeginNativeCall(L) pushes a call frame and returns the binding held in the closure's first
//      upvalue (null: report "Internal Error : function empty" through SetScriptError).
//   2. A method calls GetCallObject(): when argument 1 is a bound table its object becomes the frame's
//      object and argument numbering skips it (argument i is stack position i + 2, else i + 1).
//   3. GetArg...(i) reads argument i (0-based); a missing argument reads as 0, false, "" or null.
//   4. Exactly one Return... ends the call and gives the number of results for Lua. When a script error
//      is pending (SetScriptError), the error message is left on the stack and the result is
//      _SCRIPT_RAISE instead; the thunk then returns ScriptResults(L, result), which raises it. Raise only
//      from a frame that holds no object with a destructor (lua_error does not unwind C++ frames on every
//      platform); ScriptNativeThunk in ScriptObject.h does all of this for ordinary members.
#pragma once

#include "Common/String.h"

#include <lua.hpp>

namespace Vexel
{

class Variable;
class ScriptObject;
class ScriptConfig;

using ScriptErrorCallback = void (*)(const String& text);
using ScriptNativeFunction = lua_CFunction;

// Result modes of the run operations.
constexpr _dword _SCRIPT_RESULT_DISCARD = 0; // drop the result
constexpr _dword _SCRIPT_RESULT_VALUE = 1;   // convert the result into the returned Variable
constexpr _dword _SCRIPT_RESULT_STACK = 2;   // leave the result on the Lua stack

// GetScriptType's answer: Lua.
constexpr _dword _SCRIPT_TYPE_LUA = 2;

// A Return... result that asks the thunk to raise the pending script error (the message is on the stack).
constexpr int _SCRIPT_RAISE = -1;

// Binding marker tag carried by every bound script table: the bytes "SPT", 0.
constexpr _dword _SCRIPT_BINDING_TAG = 0x00545053;

// Raises the pending error a Return... reported, or hands its count to Lua.
inline int ScriptResults(lua_State* L, int results)
{
    return results >= 0 ? results : lua_error(L);
}

class IScriptManager
{
public:
    /* 0 */ virtual ~IScriptManager() = default;
    /* 1 */ virtual void SetErrorCallback(ScriptErrorCallback callback) = 0;
    // Prepares the given state (or a new owned one with the standard libraries and the JIT off) and
    // returns its handle.
    /* 2 */ virtual _dword CreateState(lua_State* state = nullptr) = 0;
    /* 3 */ virtual bool SwitchState(_dword handle) = 0;
    /* 4 */ virtual _dword GetScriptType() = 0;
    /* 5 */ virtual lua_State* GetLuaState() = 0;
    /* 6 */ virtual void Reserved6() = 0;
    /* 7 */ virtual void Reserved7() = 0;
    /* 8 */ virtual lua_State* GetRuntimeState() = 0; // same as GetLuaState

    // Compiling gives a registry reference to the chunk (give it back with Unref), or 0.
    /* 9 */ virtual int CompileString(const String& text, const String& name) = 0;
    /* 10 */ virtual int CompileBuffer(const void* data, _dword length, const String& name) = 0;
    /* 11 */ virtual int CompileFile(const String& path) = 0;

    // Running: the Variable holds the result in mode _SCRIPT_RESULT_VALUE, else it is empty (also after
    // an error, whose text GetLastError gives).
    /* 12 */ virtual Variable RunString(const String& text, const String& name, _dword resultMode) = 0;
    // A buffer starting with "LUC1" holds configuration blocks (ScriptConfig.h); anything else is a script.
    /* 13 */ virtual Variable RunBuffer(const void* data, _dword length, const String& name,
                                        _dword resultMode) = 0;
    /* 14 */ virtual Variable RunFile(const String& path, _dword resultMode) = 0;

    // Fields of an object's script table, or globals when object is null. A typed Variable passed to
    // GetGlobal asks for that type; an empty one takes the script value's own kind.
    /* 15 */ virtual bool SetGlobal(ScriptObject* object, const char* name, const Variable& value) = 0;
    /* 16 */ virtual bool SetGlobal(ScriptObject* object, const String& name, const Variable& value) = 0;
    /* 17 */ virtual bool GetGlobal(ScriptObject* object, const char* name, Variable& value) = 0;
    /* 18 */ virtual bool GetGlobal(ScriptObject* object, const String& name, Variable& value) = 0;

    // Class registration: between BeginClass and EndClass, one class at a time. A binding is passed to
    // its function as the closure's first upvalue (light user data).
    /* 19 */ virtual bool BeginClass(const String& className, const void* binding,
                                     ScriptNativeFunction creator) = 0;
    /* 20 */ virtual void EndClass() = 0;
    // Outside a class the function becomes a global.
    /* 21 */ virtual void AddFunction(const String& name, const void* binding, ScriptNativeFunction function,
                                      bool isStatic) = 0;
    // An empty name registers the catch-all getter, called with (table, key) for unknown names.
    /* 22 */ virtual void AddProperty(const String& name, const void* binding, ScriptNativeFunction getter,
                                      const void* setterBinding, ScriptNativeFunction setter) = 0;
    /* 23 */ virtual void AddReadOnlyProperty(const String& name, const void* binding,
                                              ScriptNativeFunction getter) = 0;
    /* 24 */ virtual void AddConstant(const String& name, const Variable& value, bool isStatic) = 0;
    /* 25 */ virtual bool CallClassNew(const String& globalName, const String& className) = 0;

    // Objects. BindObject makes the object's script table once (the same object always gives the same
    // table) and returns the object; UnbindObject is what ScriptObject's destructor calls.
    /* 26 */ virtual ScriptObject* BindObject(const String& className, ScriptObject* object, bool proxy) = 0;
    /* 27 */ virtual void UnbindObject(ScriptObject* object) = 0;
    // Stores the value on top of the stack (popping it) under a native key, kept alive for the object.
    /* 28 */ virtual void SetObjectField(ScriptObject* object, const void* key) = 0;
    /* 29 */ virtual void PushObjectRef(ScriptObject* object) = 0;
    /* 30 */ virtual void ClearObjectField(ScriptObject* object, const void* key) = 0;
    /* 31 */ virtual void PopObjectRef(ScriptObject* object) = 0;
    // While the hold count is above 0 native code holds the object: its script table stays alive and
    // the collector never destroys it.
    /* 32 */ virtual void AddBindingRef(ScriptObject* object) = 0;
    /* 33 */ virtual void ReleaseBindingRef(ScriptObject* object) = 0;

    // Native call protocol (see the top of this file).
    /* 34 */ virtual ScriptObject* GetCallObject() = 0;
    /* 35 */ virtual const void* BeginNativeCall(lua_State* L) = 0;
    /* 36 */ virtual void NativeCallStub() = 0;
    // Pushes function with binding as its upvalue and returns a registry reference anchoring it.
    /* 37 */ virtual int PushNativeClosure(const void* binding, ScriptNativeFunction function,
                                           const String& name) = 0;
    /* 38 */ virtual bool SetObjectFunction(ScriptObject* object, const void* key, _dword index) = 0;
    /* 39 */ virtual int RefArgument(_dword index) = 0;
    /* 40 */ virtual void ClearObjectFunction(ScriptObject* object, const void* key) = 0;
    /* 41 */ virtual void Unref(int& reference) = 0;
    /* 42 */ virtual void MoveRefToObject(ScriptObject* object, const void* key, int& reference) = 0;
    /* 43 */ virtual _dword GetArgCount() = 0;
    /* 44 */ virtual bool GetArgBool(_dword index) = 0;
    /* 45 */ virtual int GetArgInt8(_dword index) = 0;       // GetArgInt
    /* 46 */ virtual _dword GetArgUInt8(_dword index) = 0;   // GetArgUInt
    /* 47 */ virtual int GetArgInt16(_dword index) = 0;      // GetArgInt
    /* 48 */ virtual int GetArgUInt16(_dword index) = 0;     // GetArgInt
    /* 49 */ virtual long long GetArgLong(_dword index) = 0; // GetArgInt64
    /* 50 */ virtual _dword GetArgUInt(_dword index) = 0;
    /* 51 */ virtual int GetArgInt(_dword index) = 0;
    /* 52 */ virtual unsigned long long GetArgUInt64(_dword index) = 0;
    /* 53 */ virtual long long GetArgInt64(_dword index) = 0;
    /* 54 */ virtual double GetArgFloat(_dword index) = 0; // GetArgDouble
    /* 55 */ virtual double GetArgDouble(_dword index) = 0;
    // Valid until the call ends.
    /* 56 */ virtual const String& GetArgString(_dword index) = 0;
    /* 57 */ virtual ScriptObject* GetArgObject(_dword index) = 0;
    /* 58 */ virtual bool GetArgVariable(_dword index, Variable& value) = 0;
    /* 59 */ virtual int ReturnVariable(const Variable& value) = 0;
    // Null object: the results a run left on the stack (mode _SCRIPT_RESULT_STACK), else nil.
    /* 60 */ virtual int ReturnObject(ScriptObject* object) = 0;
    /* 61 */ virtual int ReturnBool(bool value) = 0;
    /* 62 */ virtual int ReturnInt8(signed char value) = 0;
    /* 63 */ virtual int ReturnUInt8(unsigned char value) = 0;
    /* 64 */ virtual int ReturnInt16(short value) = 0;
    /* 65 */ virtual int ReturnUInt16(unsigned short value) = 0;
    /* 66 */ virtual int ReturnFloat(float value) = 0;
    /* 67 */ virtual int ReturnInt(int value) = 0;
    /* 68 */ virtual int ReturnUInt(_dword value) = 0;
    /* 69 */ virtual int ReturnInt64(long long value) = 0;
    /* 70 */ virtual int ReturnUInt64(unsigned long long value) = 0;
    /* 71 */ virtual int ReturnDouble(double value) = 0;
    /* 72 */ virtual int ReturnNumber(double value) = 0;
    /* 73 */ virtual int ReturnString(const String& value) = 0;
    /* 74 */ virtual int ReturnNothing() = 0;
    /* 75 */ virtual void SetLastError(const String& text) = 0;

    // Calling scripts (protected, one result converted into result when given). False when the function
    // is missing or failed; failures are logged.
    /* 76 */ virtual bool CallRef(int reference, const Variable* args, _dword argCount, Variable* result) = 0;
    /* 77 */ virtual bool CallMethod(ScriptObject* object, const char* name, const Variable* args,
                                     _dword argCount, Variable* result) = 0;
    /* 78 */ virtual bool CallFunction(ScriptObject* object, const char* name) = 0;

    // Profiling and allocation reports.
    /* 79 */ virtual void EnableProfiling(bool enable) = 0;
    /* 80 */ virtual void DumpProfile() = 0;
    /* 81 */ virtual void SetProfileThreshold(int milliseconds) = 0;
    /* 82 */ virtual int GetProfileThreshold() = 0;
    /* 83 */ virtual bool IsProfiling() = 0;
    /* 84 */ virtual void ProfileNativeEnter(const void* binding) = 0;
    /* 85 */ virtual void ProfileNativeLeave() = 0;
    /* 86 */ virtual void DumpAllocations(int threshold) = 0;

    /* 87 */ virtual void ReportError(const String& text) = 0;
    /* 88 */ virtual const String& GetLastError() = 0;
    /* 89 */ virtual void CollectGarbage() = 0;
    /* 90 */ virtual bool SaveConfig(const ScriptConfig* config, const String& name, const String& path) = 0;

    // --- Added after the fixed set ----------------------------------------------------------------------

    // Sets the script error raised in the calling script when the current native call ends.
    virtual void SetScriptError(const String& text) = 0;
    // Pushes the object's script table (nil when it is not bound here) onto the current state.
    virtual void PushObject(ScriptObject* object) = 0;
    // Compile and run through a loader (the resource manager's read-whole-resource); without one, or
    // when it fails, the file of that name is read.
    using ResourceLoader = bool (*)(const String& path, void** data, _dword* length, void* context);
    using ResourceRelease = void (*)(void* data, void* context);
    virtual void SetResourceLoader(ResourceLoader loader, ResourceRelease release, void* context) = 0;
};

} // namespace Vexel
