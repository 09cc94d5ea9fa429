// The appended signature's own operations, which only the POSIX systems have (Windows signs and checks
// modules with the system's Authenticode tools): checking a signed file's bytes in memory, and making
// the signature for a module.
#pragma once

#if defined(_WIN32)
#error "the appended signature is signed and checked by hand only on POSIX systems"
#endif

#include "Platform/CodeTrust.h"

namespace Vexel
{

// CheckFileTrust over a file's bytes already in memory.
CodeTrust CheckSignedBytes(const _byte* data, std::size_t size, const String& operatorCaFile);

// S for the module's bytes: a DER CMS SignedData, content detached, SHA-256, signed with the PEM key and
// certificate; the PEM certificates of chainFile (none when empty) are included as intermediates. False
// with error set when a file cannot be read or OpenSSL refuses (for example a key that does not belong
// to the certificate).
bool SignModuleBytes(const _byte* module, std::size_t size, const String& keyFile, const String& certFile,
                     const String& chainFile, std::vector<_byte>& signature, String& error);

} // namespace Vexel
