// The script manager over LuaJIT (Lua 5.1 API). One per process: it registers itself in the kernel
// context when made and clears the slot when destroyed.
//
// Every state the manager prepares holds, in its registry: the object table (weak values: native object
// -> script table), the anchor table (script tables and object fields kept alive for native code), the
// member-table template (metatable of every class table) and the class table (class name -> class
// metatable). Bound tables carry a ScriptMarker user data under a private key; its __gc is the release
// routine that destroys unheld objects.
//
// Shape of a bound table: its metatable is private to the object (handlers that know the object through
// their upvalues, "__metatable" hidden) and has the class metatable behind it, where getters (under the
// member name's interned address), setters (that address + 1), methods and constants live. Methods are
// also copied into the table itself so method calls need no handler; a proxy binding keeps the table
// empty instead and holds the script's own fields in the private metatable. Writing a name without a
// setter stores a plain field, except that read-only properties ignore writes.
//
// Bound objects must be made with new unless native code holds them (AddBindingRef) for as long as they
// are bound: the collector deletes unheld ones. A table bound outside any script call is anchored until
// the next top-level run or call ends, one bound inside a native call until that call ends.
#pragma once

#include "Common/String.h"
#include "Common/Variable.h"
#include "Script/IScriptManager.h"
#include "Script/ScriptConfig.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Vexel
{

struct ScriptBinding;
struct ScriptMarker;
struct ScriptNative;

class LuaScriptManager final : public IScriptManager
{
public:
    LuaScriptManager();
    ~LuaScriptManager() override;
    LuaScriptManager(const LuaScriptManager&) = delete;
    LuaScriptManager& operator=(const LuaScriptManager&) = delete;

    void SetErrorCallback(ScriptErrorCallback callback) override;
    _dword CreateState(lua_State* state = nullptr) override;
    bool SwitchState(_dword handle) override;
    _dword GetScriptType() override;
    lua_State* GetLuaState() override;
    void Reserved6() override;
    void Reserved7() override;
    lua_State* GetRuntimeState() override;

    int CompileString(const String& text, const String& name) override;
    int CompileBuffer(const void* data, _dword length, const String& name) override;
    int CompileFile(const String& path) override;
    Variable RunString(const String& text, const String& name, _dword resultMode) override;
    Variable RunBuffer(const void* data, _dword length, const String& name, _dword resultMode) override;
    Variable RunFile(const String& path, _dword resultMode) override;

    bool SetGlobal(ScriptObject* object, const char* name, const Variable& value) override;
    bool SetGlobal(ScriptObject* object, const String& name, const Variable& value) override;
    bool GetGlobal(ScriptObject* object, const char* name, Variable& value) override;
    bool GetGlobal(ScriptObject* object, const String& name, Variable& value) override;

    bool BeginClass(const String& className, const void* binding, ScriptNativeFunction creator) override;
    void EndClass() override;
    void AddFunction(const String& name, const void* binding, ScriptNativeFunction function,
                     bool isStatic) override;
    void AddProperty(const String& name, const void* binding, ScriptNativeFunction getter,
                     const void* setterBinding, ScriptNativeFunction setter) override;
    void AddReadOnlyProperty(const String& name, const void* binding, ScriptNativeFunction getter) override;
    void AddConstant(const String& name, const Variable& value, bool isStatic) override;
    bool CallClassNew(const String& globalName, const String& className) override;

    ScriptObject* BindObject(const String& className, ScriptObject* object, bool proxy) override;
    void UnbindObject(ScriptObject* object) override;
    void SetObjectField(ScriptObject* object, const void* key) override;
    void PushObjectRef(ScriptObject* object) override;
    void ClearObjectField(ScriptObject* object, const void* key) override;
    void PopObjectRef(ScriptObject* object) override;
    void AddBindingRef(ScriptObject* object) override;
    void ReleaseBindingRef(ScriptObject* object) override;

    ScriptObject* GetCallObject() override;
    const void* BeginNativeCall(lua_State* L) override;
    void NativeCallStub() override;
    int PushNativeClosure(const void* binding, ScriptNativeFunction function, const String& name) override;
    bool SetObjectFunction(ScriptObject* object, const void* key, _dword index) override;
    int RefArgument(_dword index) override;
    void ClearObjectFunction(ScriptObject* object, const void* key) override;
    void Unref(int& reference) override;
    void MoveRefToObject(ScriptObject* object, const void* key, int& reference) override;
    _dword GetArgCount() override;
    bool GetArgBool(_dword index) override;
    int GetArgInt8(_dword index) override;
    _dword GetArgUInt8(_dword index) override;
    int GetArgInt16(_dword index) override;
    int GetArgUInt16(_dword index) override;
    long long GetArgLong(_dword index) override;
    _dword GetArgUInt(_dword index) override;
    int GetArgInt(_dword index) override;
    unsigned long long GetArgUInt64(_dword index) override;
    long long GetArgInt64(_dword index) override;
    double GetArgFloat(_dword index) override;
    double GetArgDouble(_dword index) override;
    const String& GetArgString(_dword index) override;
    ScriptObject* GetArgObject(_dword index) override;
    bool GetArgVariable(_dword index, Variable& value) override;
    int ReturnVariable(const Variable& value) override;
    int ReturnObject(ScriptObject* object) override;
    int ReturnBool(bool value) override;
    int ReturnInt8(signed char value) override;
    int ReturnUInt8(unsigned char value) override;
    int ReturnInt16(short value) override;
    int ReturnUInt16(unsigned short value) override;
    int ReturnFloat(float value) override;
    int ReturnInt(int value) override;
    int ReturnUInt(_dword value) override;
    int ReturnInt64(long long value) override;
    int ReturnUInt64(unsigned long long value) override;
    int ReturnDouble(double value) override;
    int ReturnNumber(double value) override;
    int ReturnString(const String& value) override;
    int ReturnNothing() override;
    void SetLastError(const String& text) override;

    bool CallRef(int reference, const Variable* args, _dword argCount, Variable* result) override;
    bool CallMethod(ScriptObject* object, const char* name, const Variable* args, _dword argCount,
                    Variable* result) override;
    bool CallFunction(ScriptObject* object, const char* name) override;

    void EnableProfiling(bool enable) override;
    void DumpProfile() override;
    void SetProfileThreshold(int milliseconds) override;
    int GetProfileThreshold() override;
    bool IsProfiling() override;
    void ProfileNativeEnter(const void* binding) override;
    void ProfileNativeLeave() override;
    void DumpAllocations(int threshold) override;

    void ReportError(const String& text) override;
    const String& GetLastError() override;
    void CollectGarbage() override;
    bool SaveConfig(const ScriptConfig* config, const String& name, const String& path) override;

    void SetScriptError(const String& text) override;
    void PushObject(ScriptObject* object) override;
    void SetResourceLoader(ResourceLoader loader, ResourceRelease release, void* context) override;

    // --- Engine internals (also used by the tests and the generic thunk) -----------------------------------

    // The manager registered for this process, or null.
    static LuaScriptManager* Instance() { return sInstance; }

    // Runs a ScriptNative for the generic thunk: the binding comes from the closure's upvalue unless
    // native is given; then object is the call's object (argument 1, already checked) and knownTop the
    // stack position of its last argument.
    static int RunNative(lua_State* L, const ScriptNative* native, ScriptObject* object, int knownTop);

    // Number of states, and the number of native calls in progress.
    _dword GetStateCount() const { return static_cast<_dword>(mStates.size()); }
    _dword GetCallDepth() const { return static_cast<_dword>(mFrames.size()); }
    // Entries of the profile call stack (markers included); 0 outside every call.
    _dword GetProfileStackDepth() const { return static_cast<_dword>(mProfStack.size()); }
    // The clock the profiler reads, in ticks of 1/frequency seconds (tests give their own).
    using ProfileClock = std::int64_t (*)();
    void SetProfileClock(ProfileClock clock, std::int64_t frequency);

    // Value conversion: the value at index into value (of its own kind when value is empty, else into
    // value's type), and value pushed as a Lua value. Tables nest at most 64 deep; a table met again inside
    // itself, and anything past 1,000,000 converted entries, reads as empty.
    void ToVariable(lua_State* L, int index, Variable& value);
    void PushVariable(lua_State* L, const Variable& value);

    // Runs the function below argCount arguments on top of L, protected, with the traceback handler and
    // exactly one result left on the stack (the error value on failure). Returns the Lua status.
    int ProtectedCall(lua_State* L, int argCount);

    struct ProfileRecord
    {
        String mName;
        String mSource;
        bool mCFunc = false;
        int mLine = -1;
        _dword mCallCount = 0;
        std::int64_t mStartTime = 0;
        std::int64_t mTotalTime = 0;
        // Allocation report: bytes and allocations made while this function ran.
        std::int64_t mAllocBytes = 0;
        std::int64_t mAllocCount = 0;
    };

private:
    static constexpr _dword _DEFER_ANCHOR = 0x001; // temporary anchor of a freshly bound object
    static constexpr _dword _DEFER_REF = 0x400;    // registry reference released when its call ends
    static constexpr _dword _MAX_CONVERTED_NODES = 1000000;
    static constexpr int _MAX_CALL_NESTING = 100; // protected calls inside each other

    struct StateRecord
    {
        lua_State* mState = nullptr;
        int mObjectTable = 0;
        int mAnchorTable = 0;
        int mMemberTemplate = 0;
        bool mOwned = false;
        int mClassTable = 0; // class name -> class metatable
    };
    struct CallFrame
    {
        lua_State* mState = nullptr;
        ScriptObject* mObject = nullptr;
        int mBase = 1; // stack position of argument 0
        int mTop = 0;  // stack position of the last argument
        _dword mHandle = 0;
        _dword mTextMark = 0;
    };
    struct DeferredRelease
    {
        void* mPointer = nullptr;
        int mReference = 0;
        _dword mDepth = 0;
        _dword mKind = 0;
    };
    struct ClassInfo
    {
        String mName;
        std::string mNameUtf8;
    };

    // Core.
    const StateRecord& Current() const { return mStates[mCurrent]; }
    lua_State* ActiveState() const;
    void PrepareState(lua_State* L);
    static void PushRegistryRef(lua_State* L, int ref) { lua_rawgeti(L, LUA_REGISTRYINDEX, ref); }
    bool ReadSource(const String& path, std::vector<_byte>& buffer);
    int CompileChunk(const void* data, std::size_t length, const std::string& chunkName);
    Variable RunChunk(const void* data, std::size_t length, const std::string& chunkName, _dword resultMode);
    void CheckError(lua_State* L, int status);
    Variable FinishRun(lua_State* L, int status, _dword resultMode);
    Variable RunConfigBlocks(const _byte* data, std::size_t length);
    void InstallConfigEnvironment(lua_State* L);
    bool PushTarget(lua_State* L, ScriptObject* object);
    bool PushMemberFunction(lua_State* L, ScriptObject* object, const char* name);
    bool CallPrepared(lua_State* L, int top, int selfCount, const Variable* args, _dword argCount,
                      Variable* result);
    void ToVariableAt(lua_State* L, int index, Variable& value, int depth);
    void ConvertTyped(lua_State* L, int index, Variable& value);
    void PushVariableAt(lua_State* L, const Variable& value, int depth);
    void PushFrame(lua_State* L, int top);
    int EndCall(int results);
    void ProcessDeferred(int depth);
    void DrainRecycled();
    int ArgPosition(_dword index) const;
    double ArgNumber(_dword index);

    // Binding.
    void StoreMember(lua_State* L, int target, const void* key, const void* binding,
                     ScriptNativeFunction function);
    const void* MemberKey(lua_State* L, const String& name);
    bool PushObjectTable(lua_State* L, ScriptObject* object);
    bool StoreField(ScriptObject* object, const void* key);
    void UpdateAnchor(ScriptObject* object);
    void DetachBinding(ScriptObject* object);
    void ClearMethodCopies(lua_State* L, ScriptObject* object);
    const StateRecord* BindingState(const ScriptBinding* binding) const;

    // Profiler.
    std::int64_t Now() const { return mClock(); }
    double TicksToMilliseconds(std::int64_t ticks) const;
    ProfileRecord* AddNativeRecord(const void* binding, const String& name);
    void LeaveProfile(bool native);
    void LeaveRecord(ProfileRecord* record);
    void CloseProfileRecords(std::size_t base);
    void UpdateHook();
    void ProfileHookEvent(lua_State* L, lua_Debug* ar);
    void RecordAllocation(std::size_t size);

    // Lua entry points.
    static int TracebackHandler(lua_State* L);
    static int IndexHandler(lua_State* L);
    static int NewIndexHandler(lua_State* L);
    static int ToStringHandler(lua_State* L);
    static int MemberAssignHandler(lua_State* L);
    static int ClassCallHandler(lua_State* L);
    static int MarkerCollected(lua_State* L);
    static int ConfigBox(lua_State* L);
    static void ProfileHook(lua_State* L, lua_Debug* ar);
    static void* RecordingAllocator(void* ud, void* ptr, std::size_t osize, std::size_t nsize);
    static ScriptMarker* MarkerOf(lua_State* L, int index);
    static ScriptMarker* HandlerMarker(lua_State* L, int& members);
    static int CallMember(lua_State* L, int arguments, ScriptObject* object, const void* native);

    static inline LuaScriptManager* sInstance = nullptr;

    ScriptErrorCallback mErrorCallback = nullptr;
    std::vector<StateRecord> mStates;
    _dword mCurrent = 0;
    lua_State* mLuaState = nullptr;
    int mObjectTable = 0;
    int mAnchorTable = 0;
    int mMemberTemplate = 0;

    bool mProfiling = false;
    int mProfileThreshold = 0;
    std::vector<ProfileRecord*> mProfStack;
    std::unordered_map<const void*, std::unique_ptr<ProfileRecord>> mLuaProfiles;
    std::unordered_map<const void*, std::unique_ptr<ProfileRecord>> mNativeProfiles;
    std::vector<ProfileRecord*> mProfileOrder; // creation order
    ProfileClock mClock;
    std::int64_t mClockFrequency;
    bool mHookInstalled = false;

    int mAllocThreshold = -1;
    lua_Alloc mBaseAlloc = nullptr;
    void* mBaseAllocData = nullptr;
    lua_State* mAllocState = nullptr;
    ProfileRecord mUnknownAllocations;

    int mCallNesting = 0;
    std::vector<CallFrame> mFrames;
    std::vector<DeferredRelease> mDeferred;
    std::deque<int> mRecycled;
    std::vector<std::unique_ptr<String>> mTexts; // argument texts of the calls in progress
    _dword mTextsUsed = 0;
    std::string mScratch;

    const char16_t* mClassName = nullptr;
    String mClassNameText;
    int mClassTableIndex = 0;
    int mClassMetaIndex = 0;
    std::vector<ClassInfo> mClasses;
    std::unordered_set<ScriptObject*> mBound;

    std::vector<const void*> mConvertPath;
    _dword mConvertBudget = 0;

    bool mResultsOnStack = false;
    String mLastError;
    String mPendingError;
    bool mClosing = false;

    std::vector<std::unique_ptr<ScriptConfig>> mConfigs;

    ResourceLoader mLoader = nullptr;
    ResourceRelease mLoaderRelease = nullptr;
    void* mLoaderContext = nullptr;
};

} // namespace Vexel
