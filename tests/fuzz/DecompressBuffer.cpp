// Packed buffers from outside (downloads, archive entries, files): both unpacking paths must fail cleanly
// on anything, leave the buffer alone when they fail, and agree with each other.
#include "Common/Compression.h"
#include "Common/Log.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

struct Reader
{
    const uint8_t* data;
    size_t size;
    size_t offset;
};

bool Read(void* readdata, void* destination, Vexel::_dword* length)
{
    auto* reader = static_cast<Reader*>(readdata);
    // Odd piece sizes exercise the decoder's restarts.
    size_t n = std::min<size_t>({*length, reader->size - reader->offset, 1000});
    if (n)
        std::memcpy(destination, reader->data + reader->offset, n);
    reader->offset += n;
    *length = static_cast<Vexel::_dword>(n);
    return true;
}

bool Write(void* writedata, const void* source, Vexel::_dword* length)
{
    auto* out = static_cast<Vexel::ByteBuffer*>(writedata);
    const auto* bytes = static_cast<const Vexel::_byte*>(source);
    out->insert(out->end(), bytes, bytes + *length);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Vexel::gLogEnabled = false;
    Vexel::ByteBuffer buffer(data, data + size);
    bool changed = false;
    bool ok = Vexel::DecompressBuffer(buffer, changed);
    bool packed = Vexel::IsCompressed(data, size);
    if (!ok && (changed || buffer.size() != size || (size && std::memcmp(buffer.data(), data, size) != 0)))
        std::abort(); // a failure must keep the packed bytes
    if (ok && !packed && changed)
        std::abort(); // unpacked data is never touched
    if (packed)
    {
        Reader reader{data, size, 0};
        Vexel::ByteBuffer streamed;
        bool streamOk = Vexel::DecompressStream(Read, &reader, Write, &streamed);
        if (streamOk != ok || (ok && streamed != buffer))
            std::abort(); // the stream and buffer paths disagree
    }
    return 0;
}
