#include "Common/Compression.h"

#include "Common/Assert.h"
#include "Common/Log.h"
#include "Common/Memory.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <lzma.h>
#include <memory>
#include <zlib.h>

namespace Vexel
{

const _byte _PACK_SIGNATURE[16] = {0x5A, 0xC3, 0x91, 0xE7, 0x0D, 0xB8, 0x62, 0xF4,
                                   0xA9, 0x17, 0x3E, 0xC5, 0x80, 0x6B, 0xD2, 0x4F};

namespace
{

constexpr _dword _LZMA_DICTIONARY = 0x1000000;
constexpr _dword _LZMA_LEVEL = 9;
constexpr _dword _LZMA_FAST_BYTES = 32;
// First guess of the unpacked room when the header's size cannot be trusted with one allocation.
constexpr std::size_t _FIRST_ROOM = 1 << 20;

void* LzmaAlloc(void*, std::size_t count, std::size_t size)
{
    if (size != 0 && count > SIZE_MAX / size)
        return nullptr;
    return Allocate(count * size == 0 ? 1 : count * size);
}

void LzmaFree(void*, void* pointer)
{
    Free(pointer);
}

const lzma_allocator gLzmaAllocator = {LzmaAlloc, LzmaFree, nullptr};

void Report(const char16_t* format, int code)
{
    char16_t text[80];
    FormatBuffer(text, sizeof text / sizeof text[0], format, code);
    LogBoth(text);
}

_dword ReadLe32(const _byte* p)
{
    return static_cast<_dword>(p[0]) | (static_cast<_dword>(p[1]) << 8) | (static_cast<_dword>(p[2]) << 16) |
           (static_cast<_dword>(p[3]) << 24);
}

void WriteLe32(_byte* p, _dword value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<_byte>(value >> (8 * i));
}

lzma_options_lzma EncoderOptions()
{
    lzma_options_lzma options;
    std::memset(&options, 0, sizeof options);
    lzma_lzma_preset(&options, _LZMA_LEVEL);
    options.dict_size = _LZMA_DICTIONARY;
    options.lc = 3;
    options.lp = 0;
    options.pb = 2;
    options.nice_len = _LZMA_FAST_BYTES;
    // No end marker: the header carries the size.
    options.ext_flags = 0;
    return options;
}

void EncodeProperties(const lzma_options_lzma& options, _byte* properties)
{
    properties[0] = static_cast<_byte>((options.pb * 5 + options.lp) * 9 + options.lc);
    WriteLe32(properties + 1, options.dict_size);
}

bool DecodeProperties(const _byte* properties, _qword size, lzma_options_lzma& options)
{
    std::memset(&options, 0, sizeof options);
    _dword bits = properties[0];
    if (bits >= 9 * 5 * 5)
        return false;
    options.lc = bits % 9;
    options.lp = (bits / 9) % 5;
    options.pb = bits / 45;
    // The decoder never looks back further than the output it has made, so a dictionary larger than the
    // unpacked size is only wasted (or, from a damaged header, enormous) memory.
    _qword dictionary = std::min<_qword>(ReadLe32(properties + 1), size);
    options.dict_size = static_cast<uint32_t>(std::max<_qword>(dictionary, LZMA_DICT_SIZE_MIN));
    // Our streams have no end marker, but one right after the last byte (as other LZMA writers may leave)
    // is accepted rather than refused.
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(options, size);
    return true;
}

// One unpacking pass over either method, fed in pieces.
class Unpacker
{
public:
    enum class Result
    {
        More,
        End,
        Error,
    };

    ~Unpacker()
    {
        if (!mStarted)
            return;
        if (mUse7z)
            lzma_end(&mLzma);
        else
            inflateEnd(&mZip);
    }

    // size is the exact unpacked size for 7z; Zip streams carry their own end.
    bool Start(bool use7z, const _byte* properties, _qword size)
    {
        mUse7z = use7z;
        if (!use7z)
        {
            std::memset(&mZip, 0, sizeof mZip);
            mCode = inflateInit(&mZip);
            mStarted = mCode == Z_OK;
            return mStarted;
        }
        lzma_options_lzma options;
        if (!DecodeProperties(properties, size, options))
        {
            mCode = LZMA_OPTIONS_ERROR;
            return false;
        }
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        mLzma = LZMA_STREAM_INIT;
        mLzma.allocator = &gLzmaAllocator;
        mCode = lzma_raw_decoder(&mLzma, filters);
        mStarted = mCode == LZMA_OK;
        return mStarted;
    }

    // Moves the pointers and counts past what was consumed and produced.
    Result Run(const _byte*& in, std::size_t& inLeft, _byte*& out, std::size_t& outLeft)
    {
        std::size_t inStep = std::min<std::size_t>(inLeft, UINT_MAX);
        std::size_t outStep = std::min<std::size_t>(outLeft, UINT_MAX);
        std::size_t inRest;
        std::size_t outRest;
        bool end;
        if (mUse7z)
        {
            mLzma.next_in = in;
            mLzma.avail_in = inStep;
            mLzma.next_out = out;
            mLzma.avail_out = outStep;
            lzma_ret ret = lzma_code(&mLzma, LZMA_RUN);
            inRest = mLzma.avail_in;
            outRest = mLzma.avail_out;
            end = ret == LZMA_STREAM_END;
            if (ret != LZMA_OK && ret != LZMA_STREAM_END && ret != LZMA_BUF_ERROR)
                mCode = ret;
        }
        else
        {
            // zlib wants a valid output pointer even for an empty window.
            _byte spare;
            mZip.next_in = const_cast<Bytef*>(in);
            mZip.avail_in = static_cast<uInt>(inStep);
            mZip.next_out = outStep ? out : &spare;
            mZip.avail_out = static_cast<uInt>(outStep);
            int ret = inflate(&mZip, Z_NO_FLUSH);
            inRest = mZip.avail_in;
            outRest = mZip.avail_out;
            end = ret == Z_STREAM_END;
            if (ret == Z_NEED_DICT)
                ret = Z_DATA_ERROR;
            if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR)
                mCode = ret;
        }
        std::size_t consumed = inStep - inRest;
        std::size_t produced = outStep - outRest;
        in += consumed;
        inLeft -= consumed;
        out += produced;
        outLeft -= produced;
        if (end)
            return Result::End;
        if (mCode != (mUse7z ? int(LZMA_OK) : int(Z_OK)))
            return Result::Error;
        return Result::More;
    }

    // The coder's error code, or its "no progress" code when the data ended early or overflowed.
    int Code() const
    {
        if (mCode != (mUse7z ? int(LZMA_OK) : int(Z_OK)))
            return mCode;
        return mUse7z ? int(LZMA_BUF_ERROR) : int(Z_BUF_ERROR);
    }

private:
    bool mUse7z = false;
    bool mStarted = false;
    int mCode = 0;
    z_stream mZip;
    lzma_stream mLzma = LZMA_STREAM_INIT;
};

// One packing pass over either method, fed in pieces.
class Packer
{
public:
    ~Packer()
    {
        if (!mStarted)
            return;
        if (mUse7z)
            lzma_end(&mLzma);
        else
            deflateEnd(&mZip);
    }

    bool Start(bool use7z, _byte* properties)
    {
        mUse7z = use7z;
        if (!use7z)
        {
            std::memset(&mZip, 0, sizeof mZip);
            mCode = deflateInit(&mZip, Z_DEFAULT_COMPRESSION);
            mStarted = mCode == Z_OK;
            return mStarted;
        }
        lzma_options_lzma options = EncoderOptions();
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        mLzma = LZMA_STREAM_INIT;
        mLzma.allocator = &gLzmaAllocator;
        mCode = lzma_raw_encoder(&mLzma, filters);
        mStarted = mCode == LZMA_OK;
        if (mStarted)
            EncodeProperties(options, properties);
        return mStarted;
    }

    // Returns false on a coder error; done is set once the finishing call has flushed everything.
    bool Run(const _byte*& in, std::size_t& inLeft, _byte* out, std::size_t& outLeft, bool finish, bool& done)
    {
        std::size_t inStep = std::min<std::size_t>(inLeft, UINT_MAX);
        std::size_t outStep = std::min<std::size_t>(outLeft, UINT_MAX);
        std::size_t inRest;
        std::size_t outRest;
        done = false;
        if (mUse7z)
        {
            mLzma.next_in = in;
            mLzma.avail_in = inStep;
            mLzma.next_out = out;
            mLzma.avail_out = outStep;
            lzma_ret ret = lzma_code(&mLzma, finish ? LZMA_FINISH : LZMA_RUN);
            inRest = mLzma.avail_in;
            outRest = mLzma.avail_out;
            done = ret == LZMA_STREAM_END;
            if (ret != LZMA_OK && ret != LZMA_STREAM_END && ret != LZMA_BUF_ERROR)
                mCode = ret;
        }
        else
        {
            mZip.next_in = const_cast<Bytef*>(in);
            mZip.avail_in = static_cast<uInt>(inStep);
            mZip.next_out = out;
            mZip.avail_out = static_cast<uInt>(outStep);
            int ret = deflate(&mZip, finish ? Z_FINISH : Z_NO_FLUSH);
            inRest = mZip.avail_in;
            outRest = mZip.avail_out;
            done = ret == Z_STREAM_END;
            if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR)
                mCode = ret;
        }
        in += inStep - inRest;
        inLeft -= inStep - inRest;
        outLeft -= outStep - outRest;
        return mCode == (mUse7z ? int(LZMA_OK) : int(Z_OK));
    }

    int Code() const { return mCode; }

private:
    bool mUse7z = false;
    bool mStarted = false;
    int mCode = 0;
    z_stream mZip;
    lzma_stream mLzma = LZMA_STREAM_INIT;
};

const char16_t* DecompressMessage(bool use7z)
{
    return use7z ? u"[FG] Decompress(7z) Error Code : %d" : u"[FG] Decompress(Zip) Error Code : %d";
}

const char16_t* CompressMessage(bool use7z)
{
    return use7z ? u"[FG] Compress(7z) Error Code : %d" : u"[FG] Compress(Zip) Error Code : %d";
}

void WriteHeader(_byte* header, bool use7z, const _byte* properties, _dword size)
{
    std::memcpy(header, _PACK_SIGNATURE, 8);
    if (use7z)
    {
        std::memcpy(header + 8, properties, _PACK_PROPERTIES_SIZE);
        std::memset(header + 8 + _PACK_PROPERTIES_SIZE, 0, 8 - _PACK_PROPERTIES_SIZE);
    }
    else
        std::memcpy(header + 8, _PACK_SIGNATURE + 8, 8);
    WriteLe32(header + 16, size);
}

// Asks readfunc until length bytes have arrived or the input ends; false on a failed read.
bool ReadFull(PackReadFunc readfunc, void* readdata, _byte* destination, _dword length, _dword& got)
{
    got = 0;
    while (got < length)
    {
        _dword piece = length - got;
        if (!readfunc(readdata, destination + got, &piece))
            return false;
        if (piece == 0 || piece > length - got)
            break;
        got += piece;
    }
    return true;
}

bool WriteAll(PackWriteFunc writefunc, void* writedata, const _byte* source, std::size_t length)
{
    while (length > 0)
    {
        _dword piece = static_cast<_dword>(std::min<std::size_t>(length, _PACK_PIECE_SIZE));
        _dword written = piece;
        if (!writefunc(writedata, source, &written) || written != piece)
            return false;
        source += piece;
        length -= piece;
    }
    return true;
}

} // namespace

bool Compress(_byte* destination, std::size_t* destinationLength, const _byte* source,
              std::size_t sourceLength, _byte* properties, bool use7z)
{
    if (!VEXEL_ASSERT_TEXT(destinationLength != nullptr, u"destinationLength != _null"))
        return false;
    if (use7z)
    {
        if (!VEXEL_ASSERT_TEXT(properties != nullptr, u"properties != _null"))
            return false;
        lzma_options_lzma options = EncoderOptions();
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        std::size_t written = 0;
        lzma_ret ret = lzma_raw_buffer_encode(filters, &gLzmaAllocator, source, sourceLength, destination,
                                              &written, *destinationLength);
        if (ret != LZMA_OK)
        {
            Report(CompressMessage(true), ret);
            return false;
        }
        EncodeProperties(options, properties);
        *destinationLength = written;
        return true;
    }
    uLongf written = static_cast<uLongf>(*destinationLength);
    int ret = compress(destination, &written, source, static_cast<uLong>(sourceLength));
    if (ret != Z_OK)
    {
        Report(CompressMessage(false), ret);
        return false;
    }
    *destinationLength = written;
    return true;
}

bool Decompress(_byte* destination, std::size_t* destinationLength, const _byte* source,
                std::size_t sourceLength, const _byte* properties, bool use7z)
{
    if (!VEXEL_ASSERT_TEXT(destinationLength != nullptr, u"destinationLength != _null"))
        return false;
    if (!use7z)
    {
        uLongf written = static_cast<uLongf>(*destinationLength);
        int ret = uncompress(destination, &written, source, static_cast<uLong>(sourceLength));
        if (ret != Z_OK)
        {
            Report(DecompressMessage(false), ret);
            return false;
        }
        *destinationLength = written;
        return true;
    }
    if (!VEXEL_ASSERT_TEXT(properties != nullptr, u"properties != _null"))
        return false;
    Unpacker unpacker;
    if (!unpacker.Start(true, properties, *destinationLength))
    {
        Report(DecompressMessage(true), unpacker.Code());
        return false;
    }
    std::size_t outLeft = *destinationLength;
    _byte* out = destination;
    Unpacker::Result result = Unpacker::Result::More;
    // Each pass either makes progress or leaves the decoder waiting for input that is not there.
    for (;;)
    {
        std::size_t before = sourceLength + outLeft;
        result = unpacker.Run(source, sourceLength, out, outLeft);
        if (result != Unpacker::Result::More || sourceLength + outLeft == before)
            break;
    }
    if (result != Unpacker::Result::End)
    {
        Report(DecompressMessage(true), unpacker.Code());
        return false;
    }
    *destinationLength -= outLeft;
    return true;
}

bool IsCompressed(const void* data, std::size_t size)
{
    return data != nullptr && size >= _PACK_HEADER_SIZE && std::memcmp(data, _PACK_SIGNATURE, 8) == 0;
}

bool CompressBuffer(ByteBuffer& buffer, bool& changed, bool use7z)
{
    if (IsCompressed(buffer.data(), buffer.size()))
        return true;
    if (buffer.size() > UINT32_MAX)
    {
        // The header has 32 bits for the size.
        LogBoth(u"[FG] CompressBuffer: the buffer is too large to pack");
        return false;
    }
    std::size_t capacity = buffer.size() + 128 + buffer.size() / 3;
    ByteBuffer packed(capacity + _PACK_HEADER_SIZE);
    _byte properties[_PACK_PROPERTIES_SIZE] = {};
    std::size_t length = capacity;
    if (!Compress(packed.data() + _PACK_HEADER_SIZE, &length, buffer.data(), buffer.size(), properties,
                  use7z))
        return false;
    WriteHeader(packed.data(), use7z, properties, static_cast<_dword>(buffer.size()));
    packed.resize(length + _PACK_HEADER_SIZE);
    buffer.swap(packed);
    changed = true;
    return true;
}

bool DecompressBuffer(ByteBuffer& buffer, bool& changed)
{
    if (!IsCompressed(buffer.data(), buffer.size()))
        return true;
    _dword size = ReadLe32(buffer.data() + 16);
    bool use7z = buffer[15] == 0;
    if (size == 0)
    {
        buffer.clear();
        changed = true;
        return true;
    }
    if (buffer.size() <= _PACK_HEADER_SIZE)
    {
        // A header that promises data but carries none was cut short; emptying it would lose that.
        Report(DecompressMessage(use7z), use7z ? int(LZMA_BUF_ERROR) : int(Z_BUF_ERROR));
        return false;
    }
    Unpacker unpacker;
    if (!unpacker.Start(use7z, buffer.data() + 8, size))
    {
        Report(DecompressMessage(use7z), unpacker.Code());
        return false;
    }
    // The size comes from outside: the room grows with the output actually made (up to that size) rather
    // than trusting a few damaged bytes with one huge allocation.
    const _byte* in = buffer.data() + _PACK_HEADER_SIZE;
    std::size_t inLeft = buffer.size() - _PACK_HEADER_SIZE;
    ByteBuffer output(std::min<std::size_t>(size, std::max<std::size_t>(_FIRST_ROOM, inLeft * 8)));
    std::size_t produced = 0;
    Unpacker::Result result;
    for (;;)
    {
        if (produced == output.size() && output.size() < size)
            output.resize(std::min<std::size_t>(size, output.size() * 2));
        _byte* out = output.data() + produced;
        std::size_t outLeft = output.size() - produced;
        std::size_t before = inLeft + outLeft;
        result = unpacker.Run(in, inLeft, out, outLeft);
        produced = output.size() - outLeft;
        if (result != Unpacker::Result::More)
            break;
        // No progress with the full size reached, or with the input used up: the data is longer than its
        // header says, or cut short.
        if (inLeft + outLeft == before && (produced == size || inLeft == 0))
            break;
    }
    if (result != Unpacker::Result::End)
    {
        Report(DecompressMessage(use7z), unpacker.Code());
        return false;
    }
    output.resize(produced);
    buffer.swap(output);
    changed = true;
    return true;
}

bool DecompressStream(PackReadFunc readfunc, void* readdata, PackWriteFunc writefunc, void* writedata)
{
    bool ok = VEXEL_ASSERT_TEXT(readfunc != nullptr, u"readfunc != _null");
    ok = VEXEL_ASSERT_TEXT(readdata != nullptr, u"readdata != _null") && ok;
    ok = VEXEL_ASSERT_TEXT(writefunc != nullptr, u"writefunc != _null") && ok;
    ok = VEXEL_ASSERT_TEXT(writedata != nullptr, u"writedata != _null") && ok;
    if (!ok)
        return false;

    _byte header[_PACK_HEADER_SIZE];
    _dword got = 0;
    if (!ReadFull(readfunc, readdata, header, _PACK_HEADER_SIZE, got) || got != _PACK_HEADER_SIZE)
        return false;
    bool use7z = header[15] == 0;
    _dword size = ReadLe32(header + 16);
    // Matches DecompressBuffer: a packed empty payload unpacks to nothing.
    if (size == 0)
        return true;

    Unpacker unpacker;
    if (!unpacker.Start(use7z, header + 8, size))
    {
        Report(DecompressMessage(use7z), unpacker.Code());
        return false;
    }
    std::unique_ptr<_byte[]> input(new _byte[_PACK_PIECE_SIZE]);
    std::unique_ptr<_byte[]> output(new _byte[_PACK_PIECE_SIZE]);
    _qword remaining = size;
    for (;;)
    {
        _dword length = static_cast<_dword>(_PACK_PIECE_SIZE);
        if (!readfunc(readdata, input.get(), &length))
            return false;
        if (length == 0 || length > _PACK_PIECE_SIZE)
            break;
        const _byte* in = input.get();
        std::size_t inLeft = length;
        for (;;)
        {
            // Never more than the header's size: data that runs past it stalls here and fails below.
            std::size_t window = static_cast<std::size_t>(std::min<_qword>(remaining, _PACK_PIECE_SIZE));
            _byte* out = output.get();
            std::size_t outLeft = window;
            std::size_t before = inLeft;
            Unpacker::Result result = unpacker.Run(in, inLeft, out, outLeft);
            std::size_t produced = window - outLeft;
            if (result == Unpacker::Result::Error)
            {
                Report(DecompressMessage(use7z), unpacker.Code());
                return false;
            }
            if (produced && !WriteAll(writefunc, writedata, output.get(), produced))
                return false;
            remaining -= produced;
            if (result == Unpacker::Result::End)
                return true;
            bool windowFull = window > 0 && outLeft == 0;
            if (inLeft == 0 && !windowFull)
                break;
            if (!windowFull && inLeft == before)
            {
                // Input left, room left, nothing moved: the data goes on past its stated size.
                Report(DecompressMessage(use7z), unpacker.Code());
                return false;
            }
        }
    }
    // The input ended before the packed data did.
    Report(DecompressMessage(use7z), unpacker.Code());
    return false;
}

bool CompressStream(PackReadFunc readfunc, void* readdata, _dword sourceLength, PackWriteFunc writefunc,
                    void* writedata, bool use7z)
{
    bool ok = VEXEL_ASSERT_TEXT(readfunc != nullptr, u"readfunc != _null");
    ok = VEXEL_ASSERT_TEXT(readdata != nullptr, u"readdata != _null") && ok;
    ok = VEXEL_ASSERT_TEXT(writefunc != nullptr, u"writefunc != _null") && ok;
    ok = VEXEL_ASSERT_TEXT(writedata != nullptr, u"writedata != _null") && ok;
    if (!ok)
        return false;

    Packer packer;
    _byte properties[_PACK_PROPERTIES_SIZE] = {};
    if (!packer.Start(use7z, properties))
    {
        Report(CompressMessage(use7z), packer.Code());
        return false;
    }
    _byte header[_PACK_HEADER_SIZE];
    WriteHeader(header, use7z, properties, sourceLength);
    if (!WriteAll(writefunc, writedata, header, sizeof header))
        return false;

    std::unique_ptr<_byte[]> input(new _byte[_PACK_PIECE_SIZE]);
    std::unique_ptr<_byte[]> output(new _byte[_PACK_PIECE_SIZE]);
    _dword remaining = sourceLength;
    bool done = false;
    while (!done)
    {
        _dword length = 0;
        if (remaining > 0)
        {
            if (!ReadFull(readfunc, readdata, input.get(),
                          static_cast<_dword>(std::min<_qword>(remaining, _PACK_PIECE_SIZE)), length))
                return false;
            if (length == 0)
            {
                LogBoth(u"[FG] CompressStream: the input ended early");
                return false;
            }
            remaining -= length;
        }
        const _byte* in = input.get();
        std::size_t inLeft = length;
        bool finish = remaining == 0;
        // Drain until the coder has taken this piece (and, at the end, flushed everything).
        do
        {
            std::size_t outLeft = _PACK_PIECE_SIZE;
            if (!packer.Run(in, inLeft, output.get(), outLeft, finish, done))
            {
                Report(CompressMessage(use7z), packer.Code());
                return false;
            }
            if (!WriteAll(writefunc, writedata, output.get(), _PACK_PIECE_SIZE - outLeft))
                return false;
            if (outLeft > 0 && inLeft == 0 && !finish)
                break;
        } while (!done);
    }
    return true;
}

} // namespace Vexel
