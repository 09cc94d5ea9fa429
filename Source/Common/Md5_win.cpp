// The digest through the system's cryptography (CNG).
#include "Common/Md5.h"

#include <windows.h>

#include <bcrypt.h>

namespace Vexel
{

namespace
{

// One provider for the process: opening it is the costly part, hashes made from it are cheap.
BCRYPT_ALG_HANDLE Md5Provider()
{
    static const BCRYPT_ALG_HANDLE sProvider = []
    {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
            handle = nullptr;
        return handle;
    }();
    return sProvider;
}

BCRYPT_HASH_HANDLE NewHash()
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCRYPT_ALG_HANDLE provider = Md5Provider();
    if (!provider || !BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0)))
        return nullptr;
    return hash;
}

} // namespace

struct Md5Hasher::State
{
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Md5Hasher::Md5Hasher() : mState(std::make_unique<State>())
{
    mState->hash = NewHash();
}

Md5Hasher::~Md5Hasher()
{
    if (mState->hash)
        BCryptDestroyHash(mState->hash);
}

void Md5Hasher::Update(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const UCHAR*>(const_cast<void*>(data));
    // The call takes 32-bit lengths.
    while (mState->hash && size > 0)
    {
        ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        BCryptHashData(mState->hash, const_cast<UCHAR*>(bytes), piece, 0);
        bytes += piece;
        size -= piece;
    }
}

MD5 Md5Hasher::Final()
{
    UCHAR bytes[16] = {};
    if (mState->hash)
    {
        BCryptFinishHash(mState->hash, bytes, sizeof bytes, 0);
        BCryptDestroyHash(mState->hash);
    }
    mState->hash = NewHash();
    MD5 digest;
    for (int i = 0; i < 4; ++i)
        digest.w[i] = static_cast<_dword>(bytes[i * 4]) | (static_cast<_dword>(bytes[i * 4 + 1]) << 8) |
                      (static_cast<_dword>(bytes[i * 4 + 2]) << 16) |
                      (static_cast<_dword>(bytes[i * 4 + 3]) << 24);
    return digest;
}

} // namespace Vexel
