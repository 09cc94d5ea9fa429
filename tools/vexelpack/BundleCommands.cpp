// bundle: every file of a folder as one resource bundle, packed with LZMA.
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Storage/Archive/DiskArchive.h"

#include <cstdio>

namespace Vexel::Pack
{

namespace
{

int RunBundle(const Command& self, const std::vector<std::string>& args)
{
    gLogEnabled = false;
    ParsedArgs parsed = ParseArgs(args);
    if (!parsed.options.empty())
        return UsageError(self, "unknown option '" + parsed.options[0] + "'");
    if (parsed.positional.size() != 2)
        return UsageError(self, "expected FOLDER and OUT");
    String folder = ArgumentText(parsed.positional[0]);
    if (!FolderExists(folder))
        return Fail(parsed.positional[0] + ": no such folder");
    StorageLock lock;
    DiskArchive archive(&lock, String());
    if (!archive.Open(folder, String()))
        return Fail(parsed.positional[0] + ": cannot open");
    int count = archive.Enumerate(nullptr, nullptr, nullptr);
    if (count >= 1000)
        std::fprintf(stderr, "vexelpack: bundling %d files\n", count);
    ByteBuffer bundle;
    if (!archive.ExportBundle(bundle))
        return Fail("packing the bundle failed (out of memory?)");
    if (!WriteFile(ArgumentText(parsed.positional[1]), bundle))
        return Fail(parsed.positional[1] + ": cannot write");
    std::printf("%d resources bundled into %s (%zu bytes)\n", count, parsed.positional[1].c_str(),
                bundle.size());
    return _EXIT_OK;
}

const CommandRegistration
    gBundle({"bundle", "FOLDER OUT", "pack every file of FOLDER into the resource bundle OUT",
             "Names are the files' paths inside FOLDER; a memory archive opens OUT.\n", RunBundle});

} // namespace

} // namespace Vexel::Pack
