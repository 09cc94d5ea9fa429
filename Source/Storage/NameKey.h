// Resource names and their 128-bit lookup keys {h1, h2, h3, 0}: three hashes of the normalised name, or
// a literal key written as "<" and 32 hexadecimal digits. Hash archives and manifests find resources
// by these keys alone, so the hashes must never change.
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace Vexel
{

struct NameKey
{
    _dword w[4] = {0, 0, 0, 0};
    bool operator==(const NameKey& other) const noexcept = default;
};

struct NameKeyHash
{
    std::size_t operator()(const NameKey& key) const noexcept
    {
        // In 64 bits, then folded: a shift by 32 of a 32-bit size_t would be undefined.
        const std::uint64_t mixed =
            (static_cast<std::uint64_t>(key.w[0]) << 32 | key.w[1]) ^ key.w[2] * 0x9E3779B9u;
        return static_cast<std::size_t>(sizeof(std::size_t) >= 8 ? mixed : mixed ^ (mixed >> 32));
    }
};

// The name as archives look it up: ASCII lower case, "/" as "\", "." and ".." components folded.
String NormalizeResourceName(const String& name);

// A literal key is any name that contains "<".
bool IsLiteralKey(const String& name);

// The three hashes over the characters as given (a-z counted as A-Z).
NameKey HashName(std::u16string_view name);

// The key of name inside folder (empty folder: the name alone): a literal key is read from its digits
// (groups of 8 from the end, the last group is w0); anything else is joined to the folder, normalised
// and hashed.
NameKey MakeNameKey(const String& folder, const String& name);

// "<%.8x%.8x%.8x%.8x" over w3, w2, w1, w0: the form MakeNameKey reads back.
String NameKeyToText(const NameKey& key);

// Little-endian fields of stored formats.
inline _dword ReadLE32(const _byte* p)
{
    return static_cast<_dword>(p[0]) | static_cast<_dword>(p[1]) << 8 | static_cast<_dword>(p[2]) << 16 |
           static_cast<_dword>(p[3]) << 24;
}
inline _qword ReadLE64(const _byte* p)
{
    return static_cast<_qword>(ReadLE32(p)) | static_cast<_qword>(ReadLE32(p + 4)) << 32;
}
inline void WriteLE32(_byte* p, _dword value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<_byte>(value >> (8 * i));
}
inline void WriteLE64(_byte* p, _qword value)
{
    WriteLE32(p, static_cast<_dword>(value));
    WriteLE32(p + 4, static_cast<_dword>(value >> 32));
}

} // namespace Vexel
