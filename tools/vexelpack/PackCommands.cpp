// pack, unpack, md5 and packed: the packed-file envelope and the program's digest text.
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Compression.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"

#include <cstdint>
#include <memory>

namespace Vexel::Pack
{

namespace
{

constexpr std::size_t _COPY_BLOCK = 1 << 20;

// Reads the first bytes of an open input and puts the position back to the start.
bool StartsPacked(InputFile& input, bool& packed)
{
    _byte header[_PACK_HEADER_SIZE];
    std::size_t got = input.Read(header, sizeof header);
    if (input.Failed() || !input.Rewind())
        return false;
    packed = IsCompressed(header, got);
    return true;
}

bool CopyAll(InputFile& input, OutputFile& output)
{
    std::unique_ptr<_byte[]> block(new _byte[_COPY_BLOCK]);
    for (;;)
    {
        std::size_t got = input.Read(block.get(), _COPY_BLOCK);
        if (input.Failed())
            return false;
        if (got == 0)
            return true;
        if (!output.Write(block.get(), got))
            return false;
    }
}

int RunPack(const Command& self, const std::vector<std::string>& args)
{
    ParsedArgs parsed = ParseArgs(args);
    bool zip = false;
    bool sevenZip = false;
    for (const std::string& option : parsed.options)
    {
        if (option == "--zip")
            zip = true;
        else if (option == "--7z")
            sevenZip = true;
        else
            return UsageError(self, "unknown option '" + option + "'");
    }
    if (zip && sevenZip)
        return UsageError(self, "--zip and --7z exclude each other");
    const bool use7z = !zip;
    if (parsed.positional.size() != 2)
        return UsageError(self, "expected IN and OUT");

    InputFile input;
    if (!input.Open(parsed.positional[0]))
        return Fail(input.Error());
    if (input.Size() > UINT32_MAX)
        return Fail(Shown(input.Path()) + ": too large to pack (the size field holds at most 4 GiB - 1)");
    bool packed = false;
    if (!StartsPacked(input, packed))
        return Fail(input.Error());

    OutputFile output;
    if (!output.Open(parsed.positional[1]))
        return Fail(output.Error());
    bool ok;
    if (packed)
    {
        // Packing never wraps a packed file twice: it is copied as it is.
        std::fprintf(stderr, "vexelpack: %s is packed already; copied unchanged\n",
                     Shown(input.Path()).c_str());
        ok = CopyAll(input, output);
    }
    else
        ok = CompressStream(ReadInputFile, &input, static_cast<_dword>(input.Size()), WriteOutputFile,
                            &output, use7z);
    if (ok && output.Commit())
        return _EXIT_OK;
    if (input.Failed())
        return Fail(input.Error());
    if (!output.Error().empty())
        return Fail(output.Error());
    return Fail(Shown(input.Path()) + ": packing failed (did the file shrink while it was read?)");
}

int RunUnpack(const Command& self, const std::vector<std::string>& args)
{
    ParsedArgs parsed = ParseArgs(args);
    if (!parsed.options.empty())
        return UsageError(self, "unknown option '" + parsed.options[0] + "'");
    if (parsed.positional.size() != 2)
        return UsageError(self, "expected IN and OUT");

    InputFile input;
    if (!input.Open(parsed.positional[0]))
        return Fail(input.Error());
    bool packed = false;
    if (!StartsPacked(input, packed))
        return Fail(input.Error());
    if (!packed)
        return Fail(Shown(input.Path()) + ": not a packed file");

    OutputFile output;
    if (!output.Open(parsed.positional[1]))
        return Fail(output.Error());
    if (DecompressStream(ReadInputFile, &input, WriteOutputFile, &output) && output.Commit())
        return _EXIT_OK;
    if (input.Failed())
        return Fail(input.Error());
    if (!output.Error().empty())
        return Fail(output.Error());
    return Fail(Shown(input.Path()) + ": the packed data is damaged or cut short");
}

int RunMd5(const Command& self, const std::vector<std::string>& args)
{
    ParsedArgs parsed = ParseArgs(args);
    if (!parsed.options.empty())
        return UsageError(self, "unknown option '" + parsed.options[0] + "'");
    if (parsed.positional.size() != 1)
        return UsageError(self, "expected one FILE");

    InputFile input;
    if (!input.Open(parsed.positional[0]))
        return Fail(input.Error());
    Md5Hasher hasher;
    ReadAhead reader(input);
    for (auto block = reader.Next(); block.second > 0; block = reader.Next())
        hasher.Update(block.first, block.second);
    if (input.Failed())
        return Fail(input.Error());
    std::printf("%s\n", ToUtf8(Md5ToText(hasher.Final())).c_str());
    return std::fflush(stdout) == 0 ? _EXIT_OK : Fail("cannot write to standard output");
}

int RunPacked(const Command& self, const std::vector<std::string>& args)
{
    ParsedArgs parsed = ParseArgs(args);
    if (!parsed.options.empty())
        return UsageError(self, "unknown option '" + parsed.options[0] + "'");
    if (parsed.positional.size() != 1)
        return UsageError(self, "expected one FILE");

    InputFile input;
    if (!input.Open(parsed.positional[0]))
        return Fail(input.Error());
    bool packed = false;
    if (!StartsPacked(input, packed))
        return Fail(input.Error());
    return packed ? _EXIT_OK : _EXIT_FAILURE;
}

const CommandRegistration gPack({"pack", "[--zip|--7z] IN OUT", "pack IN into OUT (7z unless --zip)",
                                 "  --7z   raw LZMA, level 9, 16 MiB dictionary (the default)\n"
                                 "  --zip  zlib at its default level\n"
                                 "A file that is packed already is copied unchanged. OUT is replaced only\n"
                                 "when packing succeeded; IN may be at most 4 GiB - 1 bytes.\n",
                                 RunPack});
const CommandRegistration gUnpack({"unpack", "IN OUT", "unpack the packed file IN into OUT",
                                   "Fails (exit 1) when IN is not packed or its data is damaged; OUT is\n"
                                   "replaced only when unpacking succeeded.\n",
                                   RunUnpack});
const CommandRegistration gMd5({"md5", "FILE", "print the MD5 digest of FILE in the program's text form",
                                "The text is the 32 hexadecimal digits of the digest's four words from\n"
                                "last to first (the usual digest with its 16 bytes reversed).\n",
                                RunMd5});
const CommandRegistration gPacked({"packed", "FILE", "exit 0 when FILE is packed, 1 when it is not", "",
                                   RunPacked});

} // namespace

} // namespace Vexel::Pack
