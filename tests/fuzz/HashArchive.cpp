// Hash archive files from outside: the input is a base file and a writable file ([4-byte length of the
// base][base][writable]). Opening either form must fail cleanly or give an archive whose resources
// read within the file, and writes, deletions and a reopen must keep it consistent.
#include "Storage/Archive/HashArchive.h"
#include "Common/Log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace
{

using namespace Vexel;

// A folder of this process for the two files, removed at exit.
struct ScratchFolder
{
    ScratchFolder()
        : path(std::filesystem::temp_directory_path() / ("vexel-fuzz-hash-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

const std::filesystem::path& Folder()
{
    static ScratchFolder folder;
    return folder.path;
}

void Store(const std::filesystem::path& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

bool Collect(const String& name, void* a, void*)
{
    static_cast<std::vector<String>*>(a)->push_back(name);
    return true;
}

void Exercise(HashArchive& archive)
{
    std::vector<String> names;
    int count = archive.Enumerate(Collect, &names, nullptr);
    if (count != static_cast<int>(names.size()))
        std::abort();
    for (const String& name : names)
    {
        if (!archive.HasResource(name))
            std::abort(); // every listed key opens
        DataStream* stream = archive.OpenStream(name);
        if (!stream)
            std::abort();
        ByteBuffer bytes;
        stream->ReadText(bytes, false);
        delete stream;
    }
    if (archive.IsReadOnly())
        return;
    const char payload[] = "fuzz payload";
    if (archive.WriteResource(u"fuzz/new.bin", payload, sizeof payload, MD5()))
    {
        DataStream* stream = archive.OpenStream(u"fuzz/new.bin");
        ByteBuffer bytes;
        if (!stream || !stream->ReadText(bytes, false) || bytes.size() != sizeof payload ||
            std::memcmp(bytes.data(), payload, sizeof payload) != 0)
            std::abort(); // a write reads back
        delete stream;
    }
    if (!names.empty())
        archive.DeleteResource(names.front());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gLogEnabled = false;
    size_t baseSize = 0;
    if (size >= 4)
    {
        baseSize = (data[0] | data[1] << 8 | data[2] << 16 | static_cast<size_t>(data[3]) << 24) % (size - 3);
        data += 4;
        size -= 4;
    }
    const auto base = Folder() / "base.fod";
    const auto writable = Folder() / "data.fod";
    Store(base, data, baseSize);
    Store(writable, data + baseSize, size - baseSize);
    const String basePath = String(std::u16string(base.u16string()));
    const String writablePath = String(std::u16string(writable.u16string()));

    StorageLock lock;
    {
        HashArchive archive(&lock, u"fuzz");
        if (archive.Open(writablePath, false))
            Exercise(archive);
    }
    for (int round = 0; round < 2; ++round)
    {
        HashArchive archive(&lock, u"fuzz");
        // The second round reopens what the first one wrote, with a growth request.
        if (archive.Open(writablePath, basePath, round == 0 ? 0 : 3))
            Exercise(archive);
    }
    return 0;
}
