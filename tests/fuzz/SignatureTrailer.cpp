// Reads the signature trailer of the input and checks it as a loader file: the layout must add up, the
// verdict must agree with it, and no input may verify (nothing here chains to a trusted root). The first
// byte can also wrap the rest as the signature of a small module, so the fuzzer reaches the CMS reader
// with every input.
#include "Platform/CodeTrust.h"
#include "Platform/CodeTrust_posix.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace Vexel;

namespace
{
void Check(const _byte* data, std::size_t size)
{
    SignatureLayout layout = ReadSignatureLayout(data, size);
    if (layout.kind == SignatureLayout::Present &&
        (layout.signatureSize == 0 ||
         layout.moduleSize + layout.signatureSize + _SIGNATURE_TRAILER_SIZE != size))
        std::abort();
    if (layout.kind == SignatureLayout::Damaged && layout.error.empty())
        std::abort();

    CodeTrust trust = CheckSignedBytes(data, size, String());
    switch (trust.state)
    {
    case TrustState::Unsigned:
        if (layout.kind != SignatureLayout::None)
            std::abort();
        break;
    case TrustState::Invalid:
        if (layout.kind == SignatureLayout::None || trust.reason.empty())
            std::abort();
        break;
    case TrustState::Valid:
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Check(data, size);
    if (size > 0 && (data[0] & 1))
    {
        static const _byte module[] = {0x7f, 'E', 'L', 'F', 2, 1, 1, 0};
        std::vector<_byte> file = AppendSignature(module, sizeof module, data + 1, size - 1);
        Check(file.data(), file.size());
    }
    return 0;
}
