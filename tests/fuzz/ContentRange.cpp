// Reads the input as a reply's header line and checks what the range reader makes of it: a range is
// consistent (first <= last, below the total it names), a line without the header's name gives nothing,
// and the verdict on a reply only takes bytes that start where they were asked and, for the rest of a
// resource of known length, only a 206 of that length.
#include "Storage/Download/ContentRange.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Vexel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* line = reinterpret_cast<const char*>(data);
    const std::optional<ContentRange> range = ParseContentRangeLine(line, size);
    if (range)
    {
        if (range->first < 0 || range->last < range->first || range->total < -1 ||
            (range->total != -1 && range->last >= range->total))
            std::abort();
        static const char _NAME[] = "content-range:";
        if (size < sizeof _NAME - 1)
            std::abort();
        for (std::size_t i = 0; i + 1 < sizeof _NAME; ++i)
            if ((line[i] | 0x20) != _NAME[i])
                std::abort();
    }
    // The asked start and the whole length come from the input's first bytes.
    const std::int64_t asked = size > 0 ? data[0] * 1000 : 0;
    const std::int64_t whole =
        size > 1 && data[1] % 2 == 0 ? static_cast<std::int64_t>(data[1]) * 100000 : -1;
    for (long code : {200L, 204L, 206L})
    {
        const RangeAnswer answer = JudgeRangeAnswer(code, range, asked, whole);
        if (answer == RangeAnswer::Payload && code == 206 && (!range || range->first != asked))
            std::abort();
        if (whole != -1 && (answer == RangeAnswer::Payload || answer == RangeAnswer::SkipFront) &&
            (code != 206 || !range || range->total != whole))
            std::abort();
        if (answer == RangeAnswer::SkipFront && (code != 200 || asked <= 0))
            std::abort();
    }
    return 0;
}
