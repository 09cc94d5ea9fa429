// Reads the input as the operator's server information with the field names the launcher script sets,
// and checks what comes out: the three server lists stay the same length, every server has a name and
// a web address, and refused input yields nothing. A small limit lets the fuzzer reach the size refusal.
#include "Base/ServerData.h"

#include "Common/Log.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace Vexel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gLogEnabled = false;
    static const ServerDataFields fields =
        MakeServerDataFields(u"gsname", u"name|sid|url", u"nickname", u"imurl", u"imtitle");
    const std::vector<_byte> bytes(data, data + size);

    ServerData result;
    const bool accepted = ReadServerData(bytes, fields, result, 1 << 16);
    if (result.mNames.size() != result.mIds.size() || result.mNames.size() != result.mUrls.size())
        std::abort();
    for (std::size_t i = 0; i < result.mNames.size(); ++i)
        if (result.mNames[i].empty() || !IsWebAddress(result.mUrls[i]))
            std::abort();
    if (result.mHasIm && !IsWebAddress(result.mImUrl))
        std::abort();
    if (!accepted && (result.mHasList || result.mHasCurrent || !result.mNames.empty()))
        std::abort();
    if (size > (1 << 16) && accepted)
        std::abort();
    return 0;
}
