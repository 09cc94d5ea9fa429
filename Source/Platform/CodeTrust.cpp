#include "Platform/CodeTrust.h"

#include "Common/StringFormatter.h"

#include <cstring>

namespace Vexel
{

SignatureLayout ReadSignatureLayout(const _byte* data, std::size_t size)
{
    SignatureLayout layout;
    if (!data || size < _SIGNATURE_MAGIC_SIZE ||
        std::memcmp(data + size - _SIGNATURE_MAGIC_SIZE, _SIGNATURE_MAGIC, _SIGNATURE_MAGIC_SIZE) != 0)
        return layout;
    layout.kind = SignatureLayout::Damaged;
    if (size < _SIGNATURE_TRAILER_SIZE)
    {
        layout.error = FormatString(u"the file (%u bytes) is shorter than a signature trailer",
                                    static_cast<_dword>(size));
        return layout;
    }
    const _byte* field = data + size - _SIGNATURE_TRAILER_SIZE;
    const std::size_t length = static_cast<std::size_t>(field[0]) | static_cast<std::size_t>(field[1]) << 8 |
                               static_cast<std::size_t>(field[2]) << 16 |
                               static_cast<std::size_t>(field[3]) << 24;
    const std::size_t before = size - _SIGNATURE_TRAILER_SIZE;
    if (length == 0)
    {
        layout.error = u"the signature trailer gives an empty signature";
        return layout;
    }
    if (length > before)
    {
        layout.error = FormatString(u"the signature length %u exceeds the %llu bytes before the trailer",
                                    static_cast<_dword>(length), static_cast<_qword>(before));
        return layout;
    }
    layout.kind = SignatureLayout::Present;
    layout.moduleSize = before - length;
    layout.signatureSize = length;
    return layout;
}

std::vector<_byte> AppendSignature(const _byte* module, std::size_t moduleSize, const _byte* signature,
                                   std::size_t signatureSize)
{
    std::vector<_byte> out;
    out.reserve(moduleSize + signatureSize + _SIGNATURE_TRAILER_SIZE);
    if (moduleSize)
        out.insert(out.end(), module, module + moduleSize);
    if (signatureSize)
        out.insert(out.end(), signature, signature + signatureSize);
    const _dword length = static_cast<_dword>(signatureSize);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<_byte>(length >> shift));
    out.insert(out.end(), _SIGNATURE_MAGIC, _SIGNATURE_MAGIC + _SIGNATURE_MAGIC_SIZE);
    return out;
}

} // namespace Vexel
