// manifest build and show: the text manifest of a folder, and either form read back.
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Storage/NameKey.h"
#include "Storage/ResourceManifest.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace Vexel::Pack
{

namespace
{

constexpr std::size_t _PROGRESS_STEP = 1000;

int RunBuild(const Command& self, const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    long version = 0;
    std::string base;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        if (args[i] == "--version" || args[i] == "--base")
        {
            if (i + 1 >= args.size())
                return UsageError(self, args[i] + " needs a value");
            const std::string& value = args[++i];
            if (args[i - 1] == "--base")
                base = value;
            else
            {
                char* end = nullptr;
                version = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || version < 0 || version > 0x7FFFFFFF)
                    return UsageError(self, "--version takes a number");
            }
        }
        else if (args[i].size() > 1 && args[i][0] == '-')
            return UsageError(self, "unknown option '" + args[i] + "'");
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2)
        return UsageError(self, "build takes FOLDER and OUT");
    String folder = ArgumentText(positional[0]);
    if (!FolderExists(folder))
        return Fail(positional[0] + ": no such folder");

    std::vector<std::pair<String, String>> files;
    const std::size_t prefix = JoinFolder(folder, String()).size();
    EnumerateFiles(folder, true,
                   [&](const String& path)
                   { files.emplace_back(NormalizeResourceName(String(path.substr(prefix))), path); });
    // Sorted, so entries of one folder stay together and get one folder line.
    std::sort(files.begin(), files.end());
    ResourceManifest manifest;
    manifest.SetVersion(static_cast<_dword>(version));
    manifest.SetBaseText(ArgumentText(base));
    std::size_t done = 0;
    for (const auto& [name, path] : files)
    {
        std::vector<_byte> bytes;
        if (!ReadFile(path, bytes))
            return Fail(ToUtf8(path) + ": cannot read");
        if (bytes.size() > 0x7FFFFFFF)
            return Fail(ToUtf8(path) + ": too large for a manifest entry");
        manifest.SetEntry(name, static_cast<_dword>(bytes.size()), -1, Md5Of(bytes.data(), bytes.size()),
                          String());
        if (files.size() >= _PROGRESS_STEP && (++done % _PROGRESS_STEP == 0 || done == files.size()))
            std::fprintf(stderr, "vexelpack: hashed %zu of %zu\n", done, files.size());
    }
    if (!manifest.SaveText(ArgumentText(positional[1])))
        return Fail(positional[1] + ": cannot write");
    std::printf("%zu entries written to %s\n", files.size(), positional[1].c_str());
    return _EXIT_OK;
}

int RunShow(const Command& self, const std::vector<std::string>& args)
{
    ParsedArgs parsed = ParseArgs(args);
    if (!parsed.options.empty())
        return UsageError(self, "unknown option '" + parsed.options[0] + "'");
    if (parsed.positional.size() != 1)
        return UsageError(self, "show takes one FILE");
    std::vector<_byte> bytes;
    if (!ReadFile(ArgumentText(parsed.positional[0]), bytes))
        return Fail(parsed.positional[0] + ": cannot read");
    bool changed = false;
    if (!DecompressBuffer(bytes, changed))
        return Fail(parsed.positional[0] + ": packed data is damaged");
    ResourceManifest manifest;
    if (!manifest.LoadText(bytes.data(), bytes.size()))
        return Fail(parsed.positional[0] + ": not a manifest, or it has no entries");
    bool binary = bytes.size() >= 4 && ReadLE32(bytes.data()) == _MANIFEST_BINARY_MAGIC;
    std::printf("form: %s%s\n", binary ? "binary" : "text", changed ? " (packed)" : "");
    std::printf("version: %s\n", ToUtf8(manifest.GetVersionText()).c_str());
    if (!manifest.GetBaseText().empty())
        std::printf("base: %s\n", ToUtf8(manifest.GetBaseText()).c_str());
    std::printf("entries: %u\n", manifest.GetEntryCount());
    std::printf("package extent: %u\n", manifest.GetPackageExtent());
    for (_dword i = 0; i < manifest.GetGroupCount(); ++i)
        std::printf("group: %s\n", ToUtf8(manifest.GetGroup(i)).c_str());
    for (const ResourceManifest::Entry& entry : manifest.Entries())
    {
        std::printf("%s %u", ToUtf8(entry.name).c_str(), entry.size);
        if (entry.offset != -1)
            std::printf(" #%d", entry.offset);
        std::printf(" %s", ToUtf8(Md5ToText(entry.md5)).c_str());
        if (!entry.group.empty())
            std::printf(" [%s]", ToUtf8(entry.group).c_str());
        std::printf("\n");
    }
    return std::fflush(stdout) == 0 ? _EXIT_OK : Fail("cannot write to standard output");
}

int RunManifest(const Command& self, const std::vector<std::string>& args)
{
    gLogEnabled = false;
    if (args.empty())
        return UsageError(self, "expected build or show");
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "build")
        return RunBuild(self, rest);
    if (args[0] == "show")
        return RunShow(self, rest);
    return UsageError(self, "unknown action '" + args[0] + "'");
}

const CommandRegistration gManifest(
    {"manifest", "build [--version N] [--base TEXT] FOLDER OUT | show FILE",
     "write the text manifest of a folder, or show a manifest",
     "  build FOLDER OUT   every file of FOLDER with its size and digest, in path order, as a\n"
     "                     UTF-16 text manifest with one folder line per folder\n"
     "  show FILE          version, groups and entries of a text or binary manifest (packed or not)\n",
     RunManifest});

} // namespace

} // namespace Vexel::Pack
