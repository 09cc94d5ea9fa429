#include "Platform/CodeTrust.h"

#include "Common/StringFormatter.h"

#include <cstdint>
#include <cstring>

namespace Vexel
{

SignatureLayout ReadSignatureLayout(const _byte* data, std::size_t size)
{
    const std::size_t tail = size < _SIGNATURE_TRAILER_SIZE ? size : _SIGNATURE_TRAILER_SIZE;
    return ReadSignatureLayoutFromTail(data ? data + size - tail : nullptr, tail, size);
}

SignatureLayout ReadSignatureLayoutFromTail(const _byte* tail, std::size_t tailSize, _qword fileSize)
{
    SignatureLayout layout;
    if (!tail || tailSize > fileSize || tailSize < _SIGNATURE_MAGIC_SIZE ||
        std::memcmp(tail + tailSize - _SIGNATURE_MAGIC_SIZE, _SIGNATURE_MAGIC, _SIGNATURE_MAGIC_SIZE) != 0)
        return layout;
    layout.kind = SignatureLayout::Damaged;
    if (fileSize < _SIGNATURE_TRAILER_SIZE)
    {
        layout.error = FormatString(u"the file (%u bytes) is shorter than a signature trailer",
                                    static_cast<_dword>(fileSize));
        return layout;
    }
    if (tailSize < _SIGNATURE_TRAILER_SIZE)
    {
        layout.error = u"the signature trailer was not read whole";
        return layout;
    }
    const _byte* field = tail + tailSize - _SIGNATURE_TRAILER_SIZE;
    const _qword length = static_cast<_qword>(field[0]) | static_cast<_qword>(field[1]) << 8 |
                          static_cast<_qword>(field[2]) << 16 | static_cast<_qword>(field[3]) << 24;
    const _qword before = fileSize - _SIGNATURE_TRAILER_SIZE;
    if (length == 0)
    {
        layout.error = u"the signature trailer gives an empty signature";
        return layout;
    }
    if (length > before)
    {
        layout.error = FormatString(u"the signature length %u exceeds the %llu bytes before the trailer",
                                    static_cast<_dword>(length), before);
        return layout;
    }
    if (before - length > SIZE_MAX)
    {
        layout.error = u"the module is too large";
        return layout;
    }
    layout.kind = SignatureLayout::Present;
    layout.moduleSize = static_cast<std::size_t>(before - length);
    layout.signatureSize = static_cast<std::size_t>(length);
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
