// Whether a loader module may run once its file is here: its code signature and signer, or for an
// unsigned module its digest, and the operator's block list. Pure functions over results and bytes; the
// loader host reads the files and shows the texts.
#pragma once

#include "Common/Md5.h"
#include "Common/String.h"
#include "Platform/CodeTrust.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace Vexel
{

// The operator's choices (settings, not code).
struct LoaderTrustPolicy
{
    // Signer names accepted, compared exactly (with case).
    std::vector<String> acceptedSigners;
    // Digests of unsigned modules that may run.
    std::vector<MD5> acceptedDigests;
    // Appended to every refusal text.
    String supportAddress;
};

// The signer names accepted unless the settings say otherwise.
std::vector<String> DefaultLoaderSigners();

struct LoaderVerdict
{
    bool accepted = false;
    // Refused: the loader error text for the loading screen.
    String error;
    // Refused: why, for the log.
    String reason;
};

// A valid signature by an accepted signer runs; an unsigned module runs when its digest is accepted; a
// signature that does not verify never runs, whatever name it shows.
LoaderVerdict JudgeLoader(const CodeTrust& trust, const MD5& fileDigest, const LoaderTrustPolicy& policy);

// text, a space and the support address (the text alone when there is no address).
String ContactText(std::u16string_view text, const String& supportAddress);

// One record of the block-list response: the MD5 of a banned module file (16 raw bytes, four
// little-endian words in the digest's word order), then when at least 4 bytes remain the length of its
// message in UTF-16 characters (little-endian), then the message (UTF-16LE, no terminator) when the
// length is not 0 and that many bytes remain. Records are read while at least 16 bytes remain.
struct BlockListRecord
{
    MD5 digest;
    // Empty when the record has none.
    String message;
};
std::vector<BlockListRecord> ReadBlockList(const _byte* data, std::size_t size);

// The loader error text when the response bans the module with this digest: the first matching
// record's message, or "Illegle loader, contact" and the support address when it has none. Nothing
// for a response of 15 bytes or less or a module not on the list.
std::optional<String> FindBlockedLoader(const _byte* data, std::size_t size, const MD5& fileDigest,
                                        const String& supportAddress);

} // namespace Vexel
