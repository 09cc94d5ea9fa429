#include "Platform/LoaderTrust.h"

#include "Common/StringFormatter.h"

#include <algorithm>

namespace Vexel
{

namespace
{
_dword ReadWord(const _byte* at)
{
    return static_cast<_dword>(at[0]) | static_cast<_dword>(at[1]) << 8 | static_cast<_dword>(at[2]) << 16 |
           static_cast<_dword>(at[3]) << 24;
}

// Below this a response carries no record and is ignored.
constexpr std::size_t _BLOCK_RECORD_DIGEST = 16;
} // namespace

std::vector<String> DefaultLoaderSigners()
{
    return {u"Vexel Studio Ltd.", u"Vexel Interactive Tech Ltd", u"Orrin Harbor (Capital) Tech Ltd."};
}

String ContactText(std::u16string_view text, const String& supportAddress)
{
    String out(text);
    if (!supportAddress.empty())
    {
        out += u' ';
        out += supportAddress;
    }
    return out;
}

LoaderVerdict JudgeLoader(const CodeTrust& trust, const MD5& fileDigest, const LoaderTrustPolicy& policy)
{
    LoaderVerdict verdict;
    switch (trust.state)
    {
    case TrustState::Valid:
        if (std::find(policy.acceptedSigners.begin(), policy.acceptedSigners.end(), trust.signer) !=
            policy.acceptedSigners.end())
        {
            verdict.accepted = true;
            return verdict;
        }
        verdict.reason = FormatString(u"signer \"%ls\" is not accepted", trust.signer);
        verdict.error = ContactText(u"Invalid signature of loader, contact", policy.supportAddress);
        return verdict;
    case TrustState::Invalid:
        verdict.reason = FormatString(u"signature invalid: %ls", trust.reason);
        verdict.error = ContactText(u"Invalid signature of loader, contact", policy.supportAddress);
        return verdict;
    case TrustState::Unsigned:
        break;
    }
    // The all-zero digest is "unknown" (an unreadable file): never accepted, even when listed.
    if (!fileDigest.IsZero() && std::find(policy.acceptedDigests.begin(), policy.acceptedDigests.end(),
                                          fileDigest) != policy.acceptedDigests.end())
    {
        verdict.accepted = true;
        return verdict;
    }
    verdict.reason = FormatString(u"unsigned module %ls is not accepted", Md5ToText(fileDigest));
    verdict.error = ContactText(u"Invalid loader, contact", policy.supportAddress);
    return verdict;
}

std::vector<BlockListRecord> ReadBlockList(const _byte* data, std::size_t size)
{
    std::vector<BlockListRecord> records;
    if (!data)
        return records;
    std::size_t at = 0;
    while (size - at >= _BLOCK_RECORD_DIGEST)
    {
        BlockListRecord record;
        for (int i = 0; i < 4; ++i)
            record.digest.w[i] = ReadWord(data + at + 4 * i);
        at += _BLOCK_RECORD_DIGEST;
        if (size - at >= 4)
        {
            const _qword length = ReadWord(data + at);
            at += 4;
            // A message that does not fit is not read; the bytes after the length are the next record.
            if (length != 0 && size - at >= length * 2)
            {
                record.message.resize(static_cast<std::size_t>(length));
                for (std::size_t i = 0; i < length; ++i)
                    record.message[i] = static_cast<char16_t>(data[at + 2 * i] | data[at + 2 * i + 1] << 8);
                at += static_cast<std::size_t>(length) * 2;
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::optional<String> FindBlockedLoader(const _byte* data, std::size_t size, const MD5& fileDigest,
                                        const String& supportAddress)
{
    if (size < _BLOCK_RECORD_DIGEST)
        return std::nullopt;
    for (const BlockListRecord& record : ReadBlockList(data, size))
        if (record.digest == fileDigest)
            return record.message.empty() ? ContactText(u"Illegle loader, contact", supportAddress)
                                          : record.message;
    return std::nullopt;
}

} // namespace Vexel
