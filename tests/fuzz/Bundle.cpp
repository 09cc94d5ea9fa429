// Resource bundles from outside: opening fails cleanly or gives a memory archive whose export opens
// again to the same names and bytes.
#include "Common/Compression.h"
#include "Common/Log.h"
#include "Storage/Archive/MemArchive.h"
#include "Storage/NameKey.h"

#include <cstdint>
#include <cstdlib>

namespace
{
bool Collect(const Vexel::String& name, void* a, void*)
{
    static_cast<std::vector<Vexel::String>*>(a)->push_back(name);
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Vexel;
    gLogEnabled = false;
    // Envelopes may announce up to 4 GiB; keep the fuzzer's memory to what the input could fill.
    if (IsCompressed(data, size) && ReadLE32(data + 16) > (size + 1024) * 1024)
        return 0;
    StorageLock lock;
    MemArchive archive(&lock, u"fuzz");
    if (!archive.Open(data, size))
        return 0;
    ByteBuffer bundle;
    if (!archive.ExportBundle(bundle))
        std::abort();
    MemArchive copy(&lock, u"copy");
    if (!copy.Open(bundle.data(), bundle.size()))
        std::abort(); // an exported bundle always opens
    std::vector<String> names, copied;
    archive.Enumerate(Collect, &names, nullptr);
    copy.Enumerate(Collect, &copied, nullptr);
    if (names != copied)
        std::abort();
    for (const String& name : names)
    {
        _dword a = 0, b = 0;
        MD5 x, y;
        if (!archive.GetResourceInfo(name, a, x) || !copy.GetResourceInfo(name, b, y) || a != b || !(x == y))
            std::abort();
    }
    return 0;
}
