// Reads the input as a block-list response: the records must fit in it, and the digest of each record
// must be found with that record's message (or the default text) unless an earlier record has it too.
#include "Platform/LoaderTrust.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Vexel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<BlockListRecord> records = ReadBlockList(data, size);
    std::size_t bytes = 0;
    for (const BlockListRecord& record : records)
        bytes += 16 + record.message.size() * 2;
    if (bytes > size || (size < 16) != records.empty())
        std::abort();

    for (std::size_t i = 0; i < records.size() && i < 64; ++i)
    {
        std::optional<String> found = FindBlockedLoader(data, size, records[i].digest, u"help");
        if (!found)
            std::abort();
        std::size_t first = 0;
        while (!(records[first].digest == records[i].digest))
            ++first;
        const String expected =
            records[first].message.empty() ? String(u"Illegle loader, contact help") : records[first].message;
        if (*found != expected)
            std::abort();
    }
    if (size < 16 && FindBlockedLoader(data, size, MD5(), u"help"))
        std::abort();
    return 0;
}
