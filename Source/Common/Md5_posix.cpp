// The digest through OpenSSL's libcrypto.
#include "Common/Md5.h"

#include <openssl/evp.h>

namespace Vexel
{

struct Md5Hasher::State
{
    EVP_MD_CTX* context = nullptr;
};

Md5Hasher::Md5Hasher() : mState(std::make_unique<State>())
{
    mState->context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(mState->context, EVP_md5(), nullptr);
}

Md5Hasher::~Md5Hasher()
{
    EVP_MD_CTX_free(mState->context);
}

void Md5Hasher::Update(const void* data, std::size_t size)
{
    if (size)
        EVP_DigestUpdate(mState->context, data, size);
}

MD5 Md5Hasher::Final()
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(mState->context, bytes, &length);
    EVP_DigestInit_ex(mState->context, EVP_md5(), nullptr);
    MD5 digest;
    for (int i = 0; i < 4; ++i)
        digest.w[i] = static_cast<_dword>(bytes[i * 4]) | (static_cast<_dword>(bytes[i * 4 + 1]) << 8) |
                      (static_cast<_dword>(bytes[i * 4 + 2]) << 16) |
                      (static_cast<_dword>(bytes[i * 4 + 3]) << 24);
    return digest;
}

} // namespace Vexel
