// Packing of byte buffers and streams with Zip (zlib) or 7z (raw LZMA1), behind a self-describing 20-byte
// header:
//
//   0..7    signature bytes 0..7
//   8..15   Zip: signature bytes 8..15; 7z: the 5 LZMA property bytes, then 3 zero bytes
//   16..19  unpacked size, unsigned 32-bit little-endian
//   20..    zlib stream (Zip) or raw LZMA1 stream without end marker (7z)
//
// Byte 15 tells the method: zero is 7z, anything else Zip. Data without the header is left as it is, so
// every reader can pass what it loads through DecompressBuffer.
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <vector>

namespace Vexel
{

constexpr std::size_t _PACK_HEADER_SIZE = 20;
constexpr std::size_t _PACK_PROPERTIES_SIZE = 5;
// Read and write pieces of the stream functions.
constexpr std::size_t _PACK_PIECE_SIZE = 65536;
extern const _byte _PACK_SIGNATURE[16];

// The growable buffer the in-place operations work on.
using ByteBuffer = std::vector<_byte>;

// One-call coders. destinationLength holds the room at destination and receives the length written.
// Compress with use7z writes the 5 LZMA property bytes to properties; Decompress with use7z reads them
// and takes destinationLength as the exact unpacked size. Failures are logged on both channels.
bool Compress(_byte* destination, std::size_t* destinationLength, const _byte* source,
              std::size_t sourceLength, _byte* properties, bool use7z);
bool Decompress(_byte* destination, std::size_t* destinationLength, const _byte* source,
                std::size_t sourceLength, const _byte* properties, bool use7z);

// At least 20 bytes that start with signature bytes 0..7.
bool IsCompressed(const void* data, std::size_t size);

// Packs the buffer in place; a buffer that is packed already is left alone and reported as success.
// changed is set only when the contents were replaced.
bool CompressBuffer(ByteBuffer& buffer, bool& changed, bool use7z);
// Unpacks the buffer in place; an unpacked buffer is left alone and reported as success. On failure the
// buffer keeps its packed contents.
bool DecompressBuffer(ByteBuffer& buffer, bool& changed);

// Stream callbacks: length holds the bytes asked for (or offered) and receives the bytes moved. A read of
// 0 bytes means the end of the input.
using PackReadFunc = bool (*)(void* readdata, void* destination, _dword* length);
using PackWriteFunc = bool (*)(void* writedata, const void* source, _dword* length);

// Unpacks a packed stream (header included) in pieces of 64 KiB. The signature is not checked here.
// Fails when the input ends before the packed data does.
bool DecompressStream(PackReadFunc readfunc, void* readdata, PackWriteFunc writefunc, void* writedata);

// Packs exactly sourceLength bytes read from readfunc and writes the header and packed data through
// writefunc; the same bytes CompressBuffer produces, without holding the whole input in memory.
bool CompressStream(PackReadFunc readfunc, void* readdata, _dword sourceLength, PackWriteFunc writefunc,
                    void* writedata, bool use7z);

} // namespace Vexel
