// archive: hash archives (".fod") in one file, or a writable file over a read-only base (--base).
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Storage/Archive/HashArchive.h"
#include "Storage/ResourceManifest.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace Vexel::Pack
{

namespace
{

constexpr _dword _DEFAULT_SLOTS = 1024;
constexpr std::size_t _PROGRESS_STEP = 1000;

struct ArchiveOptions
{
    std::string base;
    _dword slots = _DEFAULT_SLOTS;
    std::string manifest;
    bool verbose = false;
    std::vector<std::string> positional;
};

String Wide(const std::string& text)
{
    return ArgumentText(text);
}

// Reads the shared options; false with a message for anything else.
bool ParseArchiveOptions(const std::vector<std::string>& args, ArchiveOptions& options, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        auto value = [&](std::string& out)
        {
            if (i + 1 >= args.size())
            {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (arg == "--base")
        {
            if (!value(options.base))
                return false;
        }
        else if (arg == "--manifest")
        {
            if (!value(options.manifest))
                return false;
        }
        else if (arg == "--slots")
        {
            std::string text;
            if (!value(text))
                return false;
            char* end = nullptr;
            unsigned long n = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end || n > 0x3FFFFFF)
            {
                error = "--slots takes a number up to 67108863";
                return false;
            }
            options.slots = static_cast<_dword>(n);
        }
        else if (arg == "-v" || arg == "--verbose")
            options.verbose = true;
        else if (arg == "--")
        {
            options.positional.insert(options.positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        else if (arg.size() > 1 && arg[0] == '-')
        {
            error = "unknown option '" + arg + "'";
            return false;
        }
        else
            options.positional.push_back(arg);
    }
    return true;
}

// Opens the archive of the options: the writable file, over the base when one is given.
std::unique_ptr<HashArchive> OpenArchive(StorageLock& lock, const ArchiveOptions& options,
                                         const std::string& path, bool writable, _dword needSlots,
                                         std::string& error, bool mustWrite = true)
{
    auto archive = std::make_unique<HashArchive>(&lock, String());
    if (!FileExists(Wide(path)))
    {
        error = path + ": no such archive";
        return nullptr;
    }
    if (!options.base.empty() && !FileExists(Wide(options.base)))
    {
        error = options.base + ": no such base archive";
        return nullptr;
    }
    bool ok = options.base.empty() ? archive->Open(Wide(path), writable, needSlots)
                                   : archive->Open(Wide(path), Wide(options.base), needSlots);
    if (!ok)
    {
        error = path + ": not a hash archive, or damaged beyond use (-v shows why)";
        return nullptr;
    }
    if (writable && mustWrite && archive->IsReadOnly())
    {
        error = path + ": the archive cannot be written";
        return nullptr;
    }
    return archive;
}

// Reopens the archive with a larger item table until it has needed free slots (growing by doubling).
bool EnsureFreeSlots(StorageLock& lock, const ArchiveOptions& options, const std::string& path,
                     std::unique_ptr<HashArchive>& archive, std::size_t needed, std::string& error)
{
    while (archive->GetSlotCount() - archive->GetUsedSlotCount() < needed)
    {
        _qword grow = archive->GetSlotCount() + 1;
        while (archive->GetSlotCount() + grow - archive->GetUsedSlotCount() < needed)
            grow *= 2;
        if (grow > 0x3FFFFFF)
        {
            error = path + ": too many resources for one archive";
            return false;
        }
        archive.reset();
        archive = OpenArchive(lock, options, path, true, static_cast<_dword>(grow), error);
        if (!archive)
            return false;
    }
    return true;
}

void Progress(const char* what, std::size_t done, std::size_t total)
{
    if (total >= _PROGRESS_STEP && (done % _PROGRESS_STEP == 0 || done == total))
        std::fprintf(stderr, "vexelpack: %s %zu of %zu\n", what, done, total);
}

// Names and files to add: a file is stored under its own name, a folder's files under their paths
// inside it.
bool CollectInputs(const std::vector<std::string>& inputs, std::vector<std::pair<String, String>>& files,
                   std::string& error)
{
    for (const std::string& input : inputs)
    {
        String path = Wide(input);
        if (FolderExists(path))
        {
            const std::size_t prefix = JoinFolder(path, String()).size();
            std::vector<std::pair<String, String>> found;
            EnumerateFiles(path, true,
                           [&](const String& file)
                           { found.emplace_back(NormalizeResourceName(String(file.substr(prefix))), file); });
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        }
        else if (FileExists(path))
            files.emplace_back(NormalizeResourceName(FileNameOf(path)), path);
        else
        {
            error = input + ": no such file or folder";
            return false;
        }
    }
    return true;
}

int RunCreate(const Command& self, const ArchiveOptions& options)
{
    if (options.positional.size() != 1)
        return UsageError(self, "create takes one ARCHIVE");
    const std::string& path = options.positional[0];
    StorageLock lock;
    HashArchive archive(&lock, String());
    bool ok = options.base.empty() ? archive.Create(Wide(path), options.slots)
                                   : (FileExists(Wide(options.base)) &&
                                      archive.Create(Wide(path), Wide(options.base), options.slots));
    if (!ok)
        return Fail(path + ": cannot create the archive" +
                    (options.base.empty() ? std::string() : " (is " + options.base + " a hash archive?)"));
    std::printf("created %s with %u slots\n", path.c_str(), options.slots);
    return _EXIT_OK;
}

int RunAdd(const Command& self, const ArchiveOptions& options)
{
    if (options.positional.size() < 2)
        return UsageError(self, "add takes ARCHIVE and at least one FILE or FOLDER");
    const std::string& path = options.positional[0];
    std::vector<std::pair<String, String>> files;
    std::string error;
    if (!CollectInputs({options.positional.begin() + 1, options.positional.end()}, files, error))
        return Fail(error);

    StorageLock lock;
    auto archive = OpenArchive(lock, options, path, true, 0, error);
    if (!archive)
        return Fail(error);
    // A replaced chunk may stay behind as a hole that keeps its slot, and replacing a base resource also
    // takes a slot for its deletion marker: count for the worst case.
    const std::size_t fresh = files.size() * (options.base.empty() ? 1 : 2);
    if (!EnsureFreeSlots(lock, options, path, archive, fresh, error))
        return Fail(error);
    std::size_t done = 0;
    for (const auto& [name, file] : files)
    {
        std::vector<_byte> bytes;
        if (!ReadFile(file, bytes))
            return Fail(ToUtf8(file) + ": cannot read");
        if (bytes.size() > 0xFFFFFFEF)
            return Fail(ToUtf8(file) + ": too large for an archive");
        if (!archive->WriteResource(name, bytes.data(), static_cast<_dword>(bytes.size()),
                                    Md5Of(bytes.data(), bytes.size())))
            return Fail(ToUtf8(file) + ": cannot be stored (disk full, or the archive reached 4 GiB?)");
        Progress("added", ++done, files.size());
    }
    std::printf("added %zu resources to %s\n", files.size(), path.c_str());
    return _EXIT_OK;
}

int RunList(const Command& self, const ArchiveOptions& options)
{
    if (options.positional.size() != 1)
        return UsageError(self, "list takes one ARCHIVE");
    std::string error;
    StorageLock lock;
    auto archive = OpenArchive(lock, options, options.positional[0], false, 0, error);
    if (!archive)
        return Fail(error);
    // A manifest gives the names back for the keys it knows.
    ResourceManifest manifest;
    if (!options.manifest.empty())
    {
        std::vector<_byte> bytes;
        bool changed = false;
        if (!ReadFile(Wide(options.manifest), bytes) || !DecompressBuffer(bytes, changed) ||
            !manifest.LoadText(bytes.data(), bytes.size()))
            return Fail(options.manifest + ": not a manifest");
    }
    std::vector<String> keys;
    archive->Enumerate(
        [](const String& name, void* a, void*)
        {
            static_cast<std::vector<String>*>(a)->push_back(name);
            return true;
        },
        &keys, nullptr);
    for (const String& key : keys)
    {
        _dword size = 0;
        MD5 md5;
        archive->GetResourceInfo(key, size, md5);
        const ResourceManifest::Entry* entry = manifest.FindEntry(key);
        std::printf("%s %10u %s%s%s\n", ToUtf8(key).c_str(), size, ToUtf8(Md5ToText(md5)).c_str(),
                    entry ? " " : "", entry ? ToUtf8(entry->name).c_str() : "");
    }
    return std::fflush(stdout) == 0 ? _EXIT_OK : Fail("cannot write to standard output");
}

int RunExtract(const Command& self, const ArchiveOptions& options)
{
    if (options.positional.size() != 3)
        return UsageError(self, "extract takes ARCHIVE, NAME and OUT ('-' for standard output)");
    std::string error;
    StorageLock lock;
    auto archive = OpenArchive(lock, options, options.positional[0], false, 0, error);
    if (!archive)
        return Fail(error);
    const std::string& name = options.positional[1];
    std::unique_ptr<DataStream> stream(archive->OpenStream(Wide(name)));
    if (!stream)
        return Fail(name + ": not in " + options.positional[0]);
    ByteBuffer bytes;
    if (!stream->ReadText(bytes, false))
        return Fail(name + ": cannot be read (the archive is damaged)");
    const std::string& out = options.positional[2];
    if (out == "-")
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0
                   ? _EXIT_OK
                   : Fail("cannot write to standard output");
    if (!WriteFile(Wide(out), bytes))
        return Fail(out + ": cannot write");
    return _EXIT_OK;
}

int RunDelete(const Command& self, const ArchiveOptions& options)
{
    if (options.positional.size() < 2)
        return UsageError(self, "delete takes ARCHIVE and at least one NAME");
    std::string error;
    StorageLock lock;
    auto archive = OpenArchive(lock, options, options.positional[0], true, 0, error);
    if (!archive)
        return Fail(error);
    int missing = 0;
    // A deletion marker needs a slot when the name lives in the base.
    if (!options.base.empty() &&
        !EnsureFreeSlots(lock, options, options.positional[0], archive, options.positional.size() - 1, error))
        return Fail(error);
    for (std::size_t i = 1; i < options.positional.size(); ++i)
    {
        const std::string& name = options.positional[i];
        if (!archive->HasResource(Wide(name)))
        {
            std::fprintf(stderr, "vexelpack: %s: not in the archive\n", name.c_str());
            ++missing;
        }
        else if (!archive->DeleteResource(Wide(name)))
            return Fail(name + ": cannot be deleted");
    }
    return missing ? _EXIT_FAILURE : _EXIT_OK;
}

int RunInfo(const Command& self, const ArchiveOptions& options)
{
    if (options.positional.size() != 1)
        return UsageError(self, "info takes one ARCHIVE");
    std::string error;
    StorageLock lock;
    // Loaded as a writable table (falling back to reading only) so its slots and holes are known; nothing
    // is written without a request for more slots.
    auto archive = OpenArchive(lock, options, options.positional[0], true, 0, error, false);
    if (!archive)
        return Fail(error);
    std::printf("version: %u\n", archive->GetVersion());
    std::printf("resources: %u\n", archive->GetResourceCount());
    std::printf("slots: %u\n", archive->GetSlotCount());
    std::printf("used slots: %u\n", archive->GetUsedSlotCount());
    std::printf("holes: %u (%" PRIu64 " bytes)\n", archive->GetHoleCount(), archive->GetHoleBytes());
    std::printf("item blocks: %u\n", archive->GetBlockCount());
    if (archive->GetSkippedCount())
        std::printf("damaged records skipped: %u\n", archive->GetSkippedCount());
    return std::fflush(stdout) == 0 ? _EXIT_OK : Fail("cannot write to standard output");
}

int RunArchive(const Command& self, const std::vector<std::string>& args)
{
    if (args.empty())
        return UsageError(self, "expected create, add, list, extract, delete or info");
    ArchiveOptions options;
    std::string error;
    if (!ParseArchiveOptions({args.begin() + 1, args.end()}, options, error))
        return UsageError(self, error);
    gLogEnabled = options.verbose;
    const std::string& action = args[0];
    if (action == "create")
        return RunCreate(self, options);
    if (action == "add")
        return RunAdd(self, options);
    if (action == "list")
        return RunList(self, options);
    if (action == "extract")
        return RunExtract(self, options);
    if (action == "delete")
        return RunDelete(self, options);
    if (action == "info")
        return RunInfo(self, options);
    return UsageError(self, "unknown action '" + action + "'");
}

const CommandRegistration gArchive(
    {"archive", "create|add|list|extract|delete|info [OPTIONS] ARCHIVE [ARGS...]",
     "make, fill, list and read hash archives (.fod)",
     "  create ARCHIVE                 an empty archive (--slots N item slots, default 1024)\n"
     "  add ARCHIVE FILE|FOLDER...     store files (a folder's files under their paths in it);\n"
     "                                 the item table grows when it runs out of slots\n"
     "  list ARCHIVE                   key, size and digest of each resource (--manifest M adds the\n"
     "                                 names M knows)\n"
     "  extract ARCHIVE NAME OUT       one resource by name or '<' key into OUT ('-': standard output)\n"
     "  delete ARCHIVE NAME...         remove resources (exit 1 when some were not there)\n"
     "  info ARCHIVE                   version, resources, slots, holes and item blocks\n"
     "Options: --base BASE  ARCHIVE is the writable file over the read-only BASE, which is never changed\n"
     "         -v           show the storage log (why an archive did not open)\n",
     RunArchive});

} // namespace

} // namespace Vexel::Pack
