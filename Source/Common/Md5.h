// MD5 digests (RFC 1321, computed by OpenSSL) in the program's own word order and text form.
//
// A digest is four 32-bit words w0..w3, the state words A, B, C, D after the last block (each is the
// little-endian reading of 4 digest bytes). Its text is "%.8x%.8x%.8x%.8x" over w3, w2, w1, w0: the
// usual hexadecimal digest with its 16 bytes reversed ("abc" reads 727fe1287d3f96d6b04fd23c98500190).
// The all-zero digest means "unknown".
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <memory>
#include <string_view>

namespace Vexel
{

struct MD5
{
    _dword w[4] = {0, 0, 0, 0};

    bool IsZero() const noexcept { return (w[0] | w[1] | w[2] | w[3]) == 0; }
    bool operator==(const MD5& other) const noexcept = default;
};

// Incremental digest over any number of pieces.
class Md5Hasher
{
public:
    Md5Hasher();
    ~Md5Hasher();
    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything given so far; the hasher starts over afterwards.
    MD5 Final();

private:
    struct State;
    std::unique_ptr<State> mState;
};

MD5 Md5Of(const void* data, std::size_t size);

// 32 lowercase hexadecimal digits, w3 first.
String Md5ToText(const MD5& digest);
// Read from the end in groups of 8 digits of either case: the last group is w0. A shorter text fills only
// the low words. Characters that are not hexadecimal digits count as 0.
MD5 Md5FromText(std::u16string_view text);

} // namespace Vexel
