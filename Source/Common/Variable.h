// A node of a typed value tree: a named value of one base type, a structure of named members, or an
// array of elements built from a template. Values cross the script boundary in this form and settings
// are read through it; members are addressed by paths such as a.b[2].c.
//
// Lookups that fail return the one shared invalid variable (type _VAR_EMPTY, no name). Test the type
// (or IsValid) rather than a pointer; every write to the shared node is refused with an assertion, so
// it stays empty for every caller in the process.
#pragma once

#include "Common/String.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace Vexel
{

// Type codes: the low byte is the base type, _VAR_ARRAY marks an array of that base type.
constexpr _dword _VAR_EMPTY = 0x00;
constexpr _dword _VAR_RESERVED = 0x01; // never produced
constexpr _dword _VAR_BOOL = 0x02;
constexpr _dword _VAR_WCHAR = 0x03; // one UTF-16 unit
constexpr _dword _VAR_INT8 = 0x04;
constexpr _dword _VAR_INT16 = 0x05;
constexpr _dword _VAR_INT32 = 0x06;
constexpr _dword _VAR_INT64 = 0x07;
constexpr _dword _VAR_UINT8 = 0x08;
constexpr _dword _VAR_UINT16 = 0x09;
constexpr _dword _VAR_UINT32 = 0x0A;
constexpr _dword _VAR_UINT64 = 0x0B;
constexpr _dword _VAR_FLOAT = 0x0C;
constexpr _dword _VAR_DOUBLE = 0x0D;
constexpr _dword _VAR_BINARY = 0x0E;    // owned copy of a byte block
constexpr _dword _VAR_TEXT = 0x0F;      // owned copy of a UTF-16 text
constexpr _dword _VAR_POINTER = 0x10;   // raw pointer, not owned
constexpr _dword _VAR_SCRIPTREF = 0x11; // reference into the script engine's registry
constexpr _dword _VAR_STRUCT = 0x80;
constexpr _dword _VAR_ARRAY = 0x100;
constexpr _dword _VAR_BASE_MASK = 0xFF;

// Name of the count member of an array.
constexpr const char16_t* _VAR_COUNT_NAME = u"#";

class Variable
{
public:
    // Called with release 1 when the variable is cleared or destroyed, and with release 0 on a fresh
    // copy once the copied value is in place (so the handler can duplicate what the value refers to,
    // such as a script reference, in the copy itself).
    using ReleaseHandler = void (*)(Variable* variable, _dword release);

    Variable() = default;
    // An array type gets its count member "#" (_VAR_UINT32); an array of structures also gets its
    // template (an unnamed structure describing one element).
    Variable(std::u16string_view name, _dword type);
    ~Variable();

    // Copies are deep (see CopyFrom). Moving transfers everything, handler included, without calling
    // the handler, and leaves the source empty; moving out of the shared invalid variable copies it.
    Variable(const Variable& other);
    Variable& operator=(const Variable& other);
    Variable(Variable&& other) noexcept;
    Variable& operator=(Variable&& other) noexcept;

    // The shared invalid variable.
    static Variable& Invalid();
    bool IsValid() const { return this != &Invalid(); }

    // --- Whole-variable operations --------------------------------------------------------------------

    // Clears (keeping the name), then sets the type and makes count and template as the constructor does.
    void SetType(_dword type);
    // Calls the release handler with 1 and forgets it, drops the value, text, binary, key number and
    // flag, and destroys count, template and every child (depth first). The name stays.
    void Clear();
    // Replaces this variable by a deep copy of other: name, type, value, key number and flag, handler,
    // an own copy of text or binary, and copies of count, template and children. Copying a variable
    // from inside its own subtree is safe.
    bool CopyFrom(const Variable& other);

    // --- Identity -----------------------------------------------------------------------------------

    const String& GetName() const { return mName; }
    void SetName(std::u16string_view name);
    _dword GetType() const { return mType; }
    _dword GetBaseType() const { return mType & _VAR_BASE_MASK; }
    bool IsArray() const { return (mType & _VAR_ARRAY) != 0; }
    bool IsStructure() const { return (mType & _VAR_BASE_MASK) == _VAR_STRUCT; }
    bool IsEmpty() const { return mType == _VAR_EMPTY; }

    // A structure member made from a script table entry with a numeric key keeps the number here with
    // the flag set; the way back to a script table then uses the number as the key.
    double GetKeyNumber() const { return mKeyNumber; }
    _byte GetKeyFlag() const { return mKeyFlag; }
    bool HasKeyNumber() const { return mKeyFlag != 0; }
    void SetKeyNumber(double number, _byte flag = 1);

    ReleaseHandler GetReleaseHandler() const { return mReleaseHandler; }
    void SetReleaseHandler(ReleaseHandler handler);

    // --- Values ---------------------------------------------------------------------------------------
    //
    // Numeric setters store the value converted to the variable's own numeric type (_VAR_BOOL to
    // _VAR_DOUBLE; integers narrow as C casts do, floating values truncate toward zero and saturate) and
    // return false, changing nothing, for any other type. The other setters work on their type only.

    bool SetBool(bool value);
    bool SetChar(char16_t value);
    bool SetInt8(std::int8_t value);
    bool SetInt16(std::int16_t value);
    bool SetInt32(std::int32_t value);
    bool SetInt64(std::int64_t value);
    bool SetUInt8(std::uint8_t value);
    bool SetUInt16(std::uint16_t value);
    bool SetUInt32(std::uint32_t value);
    bool SetUInt64(std::uint64_t value);
    bool SetFloat(float value);
    bool SetDouble(double value);
    bool SetPointer(void* pointer);                     // _VAR_POINTER only
    bool SetScriptRef(int reference);                   // _VAR_SCRIPTREF only
    bool SetText(std::u16string_view text);             // _VAR_TEXT only
    bool SetBinary(const void* data, std::size_t size); // _VAR_BINARY only; size 0 keeps no block

    // Numeric getters: _VAR_FLOAT and _VAR_DOUBLE convert (integer getters truncate toward zero and
    // saturate, NaN gives 0); text, binary, pointer, structures and arrays give 0; every other type
    // reads its stored value (GetInt32 and the narrower getters take its low bits).
    double GetDouble() const;
    std::int64_t GetInt64() const;
    std::uint64_t GetUInt64() const;
    std::int32_t GetInt32() const;
    float GetFloat() const { return static_cast<float>(GetDouble()); }
    bool GetBool() const;
    char16_t GetChar() const { return static_cast<char16_t>(GetUInt64()); }
    std::int8_t GetInt8() const { return static_cast<std::int8_t>(GetInt64()); }
    std::int16_t GetInt16() const { return static_cast<std::int16_t>(GetInt64()); }
    std::uint8_t GetUInt8() const { return static_cast<std::uint8_t>(GetUInt64()); }
    std::uint16_t GetUInt16() const { return static_cast<std::uint16_t>(GetUInt64()); }
    std::uint32_t GetUInt32() const { return static_cast<std::uint32_t>(GetUInt64()); }

    void* GetPointer() const;                       // null unless _VAR_POINTER
    int GetScriptRef() const;                       // 0 unless _VAR_SCRIPTREF
    const String& GetText() const { return mText; } // empty unless _VAR_TEXT
    const _byte* GetBinaryData() const { return mBinary.empty() ? nullptr : mBinary.data(); }
    std::size_t GetBinarySize() const { return mBinary.size(); }

    // The raw 64-bit value slot, for code that moves values between variables of one type.
    _qword GetRawValue() const { return mValue; }

    // --- Children -------------------------------------------------------------------------------------

    _dword GetChildCount() const { return static_cast<_dword>(mChildren.size()); }
    // The child, or the invalid variable when the index is out of range.
    Variable& GetChild(_dword index);
    const Variable& GetChild(_dword index) const;
    // The first child whose name is exactly name (no path syntax), or the invalid variable.
    Variable& FindChild(std::u16string_view name);
    const Variable& FindChild(std::u16string_view name) const;
    // Appends a member to a structure without path syntax and without looking for an existing member of
    // the same name (names holding ".", "[" or "#" stay whole). Invalid variable for a non-structure.
    Variable& AddMember(std::u16string_view name, _dword type);

    // The template of an array of structures and the count member "#" of an array; invalid otherwise.
    Variable& GetTemplate();
    const Variable& GetTemplate() const;
    Variable& GetCountVariable();
    const Variable& GetCountVariable() const;

    // Arrays only (counts 0 and 0xFFFFFFFF do nothing): appends count elements named "[n]", each a copy
    // of the template or a new variable of the base type, keeping "#" equal to the element count.
    // Elements are never removed.
    bool Resize(_dword count);

    // Path lookup: "" is this variable; a.b[2].c descends through members and elements; "#" names an
    // array's count member; members of an array's template are found through the array.
    Variable& Find(std::u16string_view path);
    const Variable& Find(std::u16string_view path) const;
    // Finds or makes the member at path: missing parents become structures; a member added through an
    // array goes into its template and into every existing element. An existing member is returned as
    // it is, whatever its type. Invalid variable when the path cannot hold a member.
    Variable& Create(std::u16string_view path, _dword type);

private:
    bool Writable() const;
    void MakeShape();
    void ReleaseAll() noexcept;
    void TakeFrom(Variable& other) noexcept;
    void CopyNodeFields(const Variable& other);
    void StoreSigned(std::int64_t value);
    void StoreUnsigned(std::uint64_t value);
    void StoreFloating(double value);
    bool IsNumericType() const { return mType >= _VAR_BOOL && mType <= _VAR_DOUBLE; }

    String mName;
    _dword mType = _VAR_EMPTY;
    _qword mValue = 0;          // numbers (sign- or zero-extended), float bits, pointer, script reference
    String mText;               // _VAR_TEXT
    std::vector<_byte> mBinary; // _VAR_BINARY
    double mKeyNumber = 0;
    _byte mKeyFlag = 0;
    std::unique_ptr<Variable> mTemplate;
    std::unique_ptr<Variable> mCount;
    std::vector<std::unique_ptr<Variable>> mChildren;
    ReleaseHandler mReleaseHandler = nullptr;
};

} // namespace Vexel
