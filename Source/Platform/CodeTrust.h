// Code signatures of loader modules.
//
// On Windows a module carries an Authenticode signature and the system checks it. On other systems a
// signed module carries its signature appended to the file, so that one file, one address and one MD5
// (over the whole file, signature included) serve everywhere:
//
//   M                the module's bytes
//   S                DER CMS SignedData, content detached, over M (SHA-256, the signer's certificate
//                    included, intermediate certificates allowed)
//   len(S)           4 bytes, little-endian
//   "VXSIGN01"       8 ASCII bytes
//
// A file that does not end in that magic is unsigned. The signer must chain to the system's CA store or
// to the operator's CA file and allow code signing (extended key usage codeSigning); revocation is not
// checked.
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <vector>

namespace Vexel
{

inline constexpr char _SIGNATURE_MAGIC[9] = "VXSIGN01";
inline constexpr std::size_t _SIGNATURE_MAGIC_SIZE = 8;
// The length field and the magic.
inline constexpr std::size_t _SIGNATURE_TRAILER_SIZE = 4 + _SIGNATURE_MAGIC_SIZE;

// Where the pieces of a file lie, read from its end without any cryptography.
struct SignatureLayout
{
    enum Kind
    {
        None,    // no trailer: an unsigned file
        Present, // module [0, moduleSize), signature [moduleSize, moduleSize + signatureSize)
        Damaged, // the magic is there but the length cannot be right; error says why
    };
    Kind kind = None;
    std::size_t moduleSize = 0;
    std::size_t signatureSize = 0;
    String error;
};
SignatureLayout ReadSignatureLayout(const _byte* data, std::size_t size);
// The same from the file's last tailSize bytes (the trailer's 12 when the file has them) and its size.
SignatureLayout ReadSignatureLayoutFromTail(const _byte* tail, std::size_t tailSize, _qword fileSize);

// M followed by S, its length and the magic.
std::vector<_byte> AppendSignature(const _byte* module, std::size_t moduleSize, const _byte* signature,
                                   std::size_t signatureSize);

enum class TrustState
{
    Unsigned,
    Valid,
    Invalid,
};

struct CodeTrust
{
    TrustState state = TrustState::Unsigned;
    // Valid: the signer certificate's common name (its organisation when it has no common name), to be
    // compared exactly by the caller.
    String signer;
    // Invalid: why, for the log.
    String reason;
};

// The file's signature checked against the system's trusted certificates plus the certificates in
// operatorCaFile (PEM; none when empty). A file that cannot be read is Invalid.
CodeTrust CheckFileTrust(const String& path, const String& operatorCaFile);

} // namespace Vexel
