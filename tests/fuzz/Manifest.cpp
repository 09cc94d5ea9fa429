// Manifests from outside, in text or binary form: loading never fails on content, every entry is found
// by its name, and what loads can be written and read again.
#include "Common/Log.h"
#include "Storage/ResourceManifest.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Vexel;
    gLogEnabled = false;
    ResourceManifest manifest;
    manifest.LoadText(data, size);
    // The same bytes behind the binary magic reach the binary reader as well.
    ByteBuffer binary = {'F', 'O', 'C', '1'};
    if (data)
        binary.insert(binary.end(), data, data + size);
    ResourceManifest fromBinary;
    fromBinary.LoadBinary(binary.data(), binary.size());
    for (ResourceManifest* loaded : {&manifest, &fromBinary})
    {
        _dword count = loaded->GetEntryCount();
        if (loaded->Enumerate(nullptr, nullptr, nullptr) != count)
            std::abort();
        for (const ResourceManifest::Entry& entry : loaded->Entries())
            if (!loaded->HasEntry(entry.name))
                std::abort(); // every entry is found by its own name
        // Names with "|" or line breaks (possible in the binary form) do not survive the text form, so
        // reading back is only exercised.
        ByteBuffer text = loaded->SaveTextBytes();
        ResourceManifest again;
        again.LoadText(text.data(), text.size());
    }
    return 0;
}
