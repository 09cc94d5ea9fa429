// package and publish: a folder made ready for the two download modes. package puts every file back to
// back in one package file and writes the manifest that places them in it (byte ranges of "URL?0");
// publish copies the files to a tree whose paths are the names as the manifest normalises them, so any
// static web server serves them to downloads by name. Every output goes through a temporary name, and
// the manifest is written last: a manifest on disk means its outputs are complete.
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Storage/NameKey.h"
#include "Storage/ResourceManifest.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <system_error>

namespace Vexel::Pack
{

namespace
{

namespace fs = std::filesystem;

constexpr auto _PROGRESS_EVERY = std::chrono::milliseconds(500);
constexpr std::uint64_t _SMALL_FILE = 1 << 20;
// Offsets are signed 32-bit in a manifest, and all bits set means "unknown" in the resource space.
constexpr std::uint64_t _MAX_OFFSET = 0x7FFFFFFF;
constexpr std::uint64_t _MAX_END = 0xFFFFFFFE;

// A file of the input folder under the name the manifest gives it.
struct SourceFile
{
    String folder; // of the name, "\" separated; empty at the top
    String name;   // the full name: folder, "\", file name
    fs::path path;
};

String FromPath(const fs::path& path)
{
    const std::u8string text = path.generic_u8string();
    return FromUtf8(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

// Why a relative path cannot be a resource name, or empty when it can. The text manifest splits its
// lines at "|", a "<" makes a name a literal key, and "\" separates folders.
std::string NameProblem(const fs::path& relative)
{
    const std::u8string bytes = relative.generic_u8string();
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (ToUtf8(FromUtf8(text)) != text)
        return "the name is not UTF-8";
    for (char c : text)
        if (c == '|' || c == '<' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
            return "the name holds a character manifests cannot carry (\"|\", \"<\", \"\\\" or a control)";
    if (FromUtf8(text).size() > _MANIFEST_MAX_NAME)
        return "the name is longer than " + std::to_string(_MANIFEST_MAX_NAME) + " characters";
    return std::string();
}

bool Inside(const fs::path& inner, const fs::path& outer)
{
    std::error_code ec;
    std::error_code ec2;
    const fs::path a = fs::weakly_canonical(inner, ec);
    const fs::path b = fs::weakly_canonical(outer, ec2);
    if (ec || ec2)
        return false;
    auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return mismatch.first == b.end() || (std::next(mismatch.first) == b.end() && mismatch.first->empty());
}

// Every file under folder, ordered by folder and then name, so that each folder gets one manifest line.
bool CollectFiles(const fs::path& folder, std::vector<SourceFile>& files, std::string& error)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
    {
        error = Shown(folder) + ": no such folder";
        return false;
    }
    std::map<String, fs::path> seen;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    {
        if (!it->is_regular_file(ec))
            continue;
        const fs::path relative = it->path().lexically_relative(folder);
        if (std::string problem = NameProblem(relative); !problem.empty())
        {
            error = Shown(it->path()) + ": " + problem;
            return false;
        }
        SourceFile file;
        file.name = NormalizeResourceName(FromPath(relative));
        file.path = it->path();
        const auto slash = file.name.rfind(u'\\');
        file.folder = slash == String::npos ? String() : file.name.substr(0, slash);
        if (auto [at, fresh] = seen.emplace(file.name, file.path); !fresh)
        {
            error = Shown(at->second) + " and " + Shown(file.path) + ": both have the name " +
                    ToUtf8(file.name) + " (names ignore the case of A to Z)";
            return false;
        }
        files.push_back(std::move(file));
    }
    if (ec)
    {
        error = Shown(folder) + ": cannot list: " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b)
              { return a.folder != b.folder ? a.folder < b.folder : a.name < b.name; });
    return true;
}

// "files, bytes" of long work on standard error, at most twice a second and only once it takes a while.
class WorkProgress
{
public:
    WorkProgress(const char* verb, std::size_t files, std::uint64_t bytes)
        : mVerb(verb), mFiles(files), mBytes(bytes), mStart(std::chrono::steady_clock::now()), mLast(mStart)
    {
    }
    ~WorkProgress()
    {
        if (mShown)
            std::fprintf(stderr, "\n");
    }
    void Add(std::uint64_t bytes)
    {
        mBytesDone += bytes;
        Show(false);
    }
    void FileDone()
    {
        ++mFilesDone;
        Show(mFilesDone == mFiles && mShown);
    }

private:
    void Show(bool force)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!force && (now - mStart < _PROGRESS_EVERY || now - mLast < _PROGRESS_EVERY))
            return;
        mLast = now;
        std::fprintf(stderr, "\rvexelpack: %s %zu of %zu files, %s of %s   ", mVerb, mFilesDone, mFiles,
                     ShowSize(double(mBytesDone)).c_str(), ShowSize(double(mBytes)).c_str());
        std::fflush(stderr);
        mShown = true;
    }

    const char* mVerb;
    std::size_t mFiles;
    std::size_t mFilesDone = 0;
    std::uint64_t mBytes;
    std::uint64_t mBytesDone = 0;
    std::chrono::steady_clock::time_point mStart;
    std::chrono::steady_clock::time_point mLast;
    bool mShown = false;
};

// Copies one input file to output while hashing it; size is its length as read.
bool CopyFile(const fs::path& path, OutputFile& output, WorkProgress& progress, MD5& digest,
              std::uint64_t& size, std::string& error)
{
    InputFile input;
    if (!input.Open(path))
    {
        error = input.Error();
        return false;
    }
    Md5Hasher hasher;
    size = 0;
    auto take = [&](const _byte* data, std::size_t length)
    {
        hasher.Update(data, length);
        size += length;
        progress.Add(length);
        return output.Write(data, length);
    };
    bool written = true;
    if (input.Size() <= _SMALL_FILE)
    {
        // Small files are read at once: a reading thread would cost more than it saves.
        std::vector<_byte> bytes(static_cast<std::size_t>(input.Size()) + 1);
        const std::size_t got = input.Read(bytes.data(), bytes.size());
        written = input.Failed() || take(bytes.data(), got);
    }
    else
    {
        ReadAhead reader(input);
        for (auto block = reader.Next(); written && block.second > 0; block = reader.Next())
            written = take(block.first, block.second);
    }
    if (!written)
    {
        error = output.Error();
        return false;
    }
    if (input.Failed())
    {
        error = input.Error();
        return false;
    }
    if (size != input.Size())
    {
        error = Shown(path) + ": changed while it was read";
        return false;
    }
    digest = hasher.Final();
    return true;
}

std::uint64_t TotalSize(const std::vector<SourceFile>& files)
{
    std::uint64_t total = 0;
    std::error_code ec;
    for (const SourceFile& file : files)
        if (auto size = fs::file_size(file.path, ec); !ec)
            total += size;
    return total;
}

void AppendUnits(ByteBuffer& out, const String& text)
{
    for (char16_t c : text)
    {
        out.push_back(static_cast<_byte>(c & 0xFF));
        out.push_back(static_cast<_byte>(c >> 8));
    }
}

void AppendWord(ByteBuffer& out, _dword value)
{
    _byte bytes[4];
    WriteLE32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

// The binary form ("FOC1"): count and version, then per entry its name, digest, size, offset and group.
ByteBuffer BinaryManifest(const ResourceManifest& manifest)
{
    ByteBuffer out;
    AppendWord(out, _MANIFEST_BINARY_MAGIC);
    AppendWord(out, manifest.GetEntryCount());
    AppendWord(out, manifest.GetVersion());
    for (const ResourceManifest::Entry& entry : manifest.Entries())
    {
        AppendWord(out, static_cast<_dword>(entry.name.size()));
        AppendUnits(out, entry.name);
        for (_dword word : entry.md5.w)
            AppendWord(out, word);
        AppendWord(out, entry.size);
        AppendWord(out, static_cast<_dword>(entry.offset));
        AppendWord(out, static_cast<_dword>(entry.group.size()));
        AppendUnits(out, entry.group);
    }
    return out;
}

bool WriteManifest(const fs::path& path, const ResourceManifest& manifest, bool binary, std::string& error)
{
    const ByteBuffer bytes = binary ? BinaryManifest(manifest) : manifest.SaveTextBytes();
    OutputFile output;
    if (!output.Open(path) || !output.Write(bytes.data(), bytes.size()) || !output.Commit())
    {
        error = output.Error();
        return false;
    }
    return true;
}

// "*" matches within one folder, "**" across folders, "?" one character; case is ignored for A to Z.
bool GlobMatch(std::u16string_view pattern, std::u16string_view text)
{
    if (pattern.empty())
        return text.empty();
    if (pattern.substr(0, 2) == u"**")
    {
        for (std::size_t skip = 0; skip <= text.size(); ++skip)
            if (GlobMatch(pattern.substr(2), text.substr(skip)))
                return true;
        return false;
    }
    if (pattern[0] == u'*')
    {
        for (std::size_t skip = 0; skip <= text.size(); ++skip)
        {
            if (GlobMatch(pattern.substr(1), text.substr(skip)))
                return true;
            if (skip < text.size() && text[skip] == u'/')
                return false;
        }
        return false;
    }
    if (text.empty())
        return false;
    const bool same = pattern[0] == u'?' ? text[0] != u'/' : AsciiLower(pattern[0]) == AsciiLower(text[0]);
    return same && GlobMatch(pattern.substr(1), text.substr(1));
}

struct GroupRule
{
    String tag;
    String glob;
};

// The tags of every rule that matches the name, joined with ":". A glob without "/" matches the file name
// in any folder; one with "/" matches the whole name.
String GroupOf(const String& name, const std::vector<GroupRule>& rules)
{
    String path = name;
    std::replace(path.begin(), path.end(), u'\\', u'/');
    const auto slash = path.rfind(u'/');
    const std::u16string_view file =
        slash == String::npos ? std::u16string_view(path) : std::u16string_view(path).substr(slash + 1);
    String group;
    for (const GroupRule& rule : rules)
    {
        const bool whole = rule.glob.find(u'/') != String::npos;
        if (!GlobMatch(rule.glob, whole ? std::u16string_view(path) : file))
            continue;
        String tags = u":" + group + u":";
        if (tags.find(u":" + rule.tag + u":") != String::npos)
            continue;
        group += (group.empty() ? u"" : u":") + rule.tag;
    }
    return group;
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool OptionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                 std::string& value, bool& matched)
{
    const std::string& arg = args[i];
    matched = arg == name || arg.rfind(name + "=", 0) == 0;
    if (!matched)
        return true;
    if (arg.size() > name.size())
    {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (i + 1 >= args.size())
        return false;
    value = args[++i];
    return true;
}

struct PackageOptions
{
    std::vector<std::string> positional;
    bool binary = false;
    long version = 0;
    std::vector<GroupRule> groups;
};

bool ParsePackageOptions(const std::vector<std::string>& args, PackageOptions& options, std::string& error)
{
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-')
        {
            options.positional.push_back(arg);
            continue;
        }
        if (arg == "--")
        {
            optionsDone = true;
            continue;
        }
        if (arg == "--binary")
        {
            options.binary = true;
            continue;
        }
        std::string value;
        bool matched = false;
        if (!OptionValue(args, i, "--version", value, matched))
            return error = "--version needs a value", false;
        if (matched)
        {
            char* end = nullptr;
            options.version = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || options.version < 0 || options.version > 0x7FFFFFFF)
                return error = "--version takes a number from 0 to 2147483647", false;
            continue;
        }
        if (!OptionValue(args, i, "--group", value, matched))
            return error = "--group needs TAG=GLOB", false;
        if (matched)
        {
            const auto eq = value.find('=');
            const std::string tag = value.substr(0, eq);
            if (eq == std::string::npos || tag.empty() || eq + 1 == value.size() ||
                tag.find_first_of(":|\r\n") != std::string::npos)
                return error = "--group takes TAG=GLOB (a tag without \":\" or \"|\")", false;
            options.groups.push_back({ArgumentText(tag), ArgumentText(value.substr(eq + 1))});
            continue;
        }
        return error = "unknown option '" + arg + "'", false;
    }
    if (options.positional.size() != 3)
        return error = "expected FOLDER, PACKAGE and MANIFEST", false;
    return true;
}

int RunPackage(const Command& self, const std::vector<std::string>& args)
{
    gLogEnabled = false;
    PackageOptions options;
    std::string error;
    if (!ParsePackageOptions(args, options, error))
        return UsageError(self, error);
    const fs::path folder = options.positional[0];
    const fs::path packagePath = options.positional[1];
    const fs::path manifestPath = options.positional[2];
    std::vector<SourceFile> files;
    if (!CollectFiles(folder, files, error))
        return Fail(error);
    for (const fs::path& output : {packagePath, manifestPath})
        if (Inside(output, folder))
            return Fail(Shown(output) + ": lies inside " + Shown(folder) + ", which is being packaged");
    if (Inside(packagePath, manifestPath))
        return UsageError(self, "PACKAGE and MANIFEST must be different files");

    ResourceManifest manifest;
    manifest.SetVersion(static_cast<_dword>(options.version));
    OutputFile package;
    if (!package.Open(packagePath))
        return Fail(package.Error());
    WorkProgress progress("packaged", files.size(), TotalSize(files));
    std::uint64_t offset = 0;
    for (const SourceFile& file : files)
    {
        MD5 digest;
        std::uint64_t size = 0;
        if (!CopyFile(file.path, package, progress, digest, size, error))
            return Fail(error);
        if (offset > _MAX_OFFSET || offset + size > _MAX_END)
            return Fail(Shown(file.path) +
                        ": the package would grow past what manifest offsets can place (2 GiB)");
        manifest.SetEntry(file.name, static_cast<_dword>(size), static_cast<int>(offset), digest,
                          GroupOf(file.name, options.groups));
        offset += size;
        progress.FileDone();
    }
    if (!package.Commit())
        return Fail(package.Error());
    if (!WriteManifest(manifestPath, manifest, options.binary, error))
        return Fail(error);
    std::printf("%zu files, %s in %s; %s manifest %s\n", files.size(), ShowSize(double(offset)).c_str(),
                Shown(packagePath).c_str(), options.binary ? "binary" : "text", Shown(manifestPath).c_str());
    return _EXIT_OK;
}

// Where publish puts a file: its name under OUT, with "/" folders.
fs::path Target(const fs::path& out, const SourceFile& file)
{
    String relative = file.name;
    std::replace(relative.begin(), relative.end(), u'\\', u'/');
    const std::string bytes = ToUtf8(relative);
    return out / fs::path(std::u8string(bytes.begin(), bytes.end()));
}

int RunPublish(const Command& self, const std::vector<std::string>& args)
{
    gLogEnabled = false;
    std::vector<std::string> positional;
    std::string manifestText;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        bool matched = false;
        if (!OptionValue(args, i, "--manifest", manifestText, matched))
            return UsageError(self, "--manifest needs a file");
        if (matched)
            continue;
        if (args[i].size() > 1 && args[i][0] == '-')
            return UsageError(self, "unknown option '" + args[i] + "'");
        positional.push_back(args[i]);
    }
    if (positional.size() != 2)
        return UsageError(self, "expected FOLDER and OUT");
    const fs::path folder = positional[0];
    const fs::path out = fs::path(positional[1]).lexically_normal();
    fs::path manifestPath = manifestText;
    if (manifestText.empty())
    {
        // Beside the tree, so it can never take the place of a resource.
        manifestPath = out.has_filename() ? out : out.parent_path();
        manifestPath += ".manifest";
    }
    std::vector<SourceFile> files;
    std::string error;
    if (!CollectFiles(folder, files, error))
        return Fail(error);
    if (Inside(out, folder) || Inside(folder, out))
        return Fail(Shown(out) + " and " + Shown(folder) + " overlap");
    if (Inside(manifestPath, folder))
        return Fail(Shown(manifestPath) + ": lies inside " + Shown(folder) + ", which is being published");

    // Resolved once: the published names are plain relative paths under OUT.
    std::error_code ec;
    const fs::path resolvedManifest = fs::weakly_canonical(manifestPath, ec);
    const fs::path resolvedOut = fs::weakly_canonical(out, ec);
    for (const SourceFile& file : files)
        if (!ec && Target(resolvedOut, file) == resolvedManifest)
            return Fail(Shown(manifestPath) + ": would take the place of " + Shown(file.path));

    ResourceManifest manifest;
    WorkProgress progress("published", files.size(), TotalSize(files));
    std::uint64_t total = 0;
    fs::path folderMade; // files come folder by folder
    for (const SourceFile& file : files)
    {
        const fs::path target = Target(out, file);
        if (target.parent_path() != folderMade)
        {
            std::error_code ec;
            fs::create_directories(target.parent_path(), ec);
            if (ec)
                return Fail(Shown(target.parent_path()) + ": cannot make the folder: " + ec.message());
            folderMade = target.parent_path();
        }
        OutputFile output;
        MD5 digest;
        std::uint64_t size = 0;
        if (!output.Open(target) || !CopyFile(file.path, output, progress, digest, size, error) ||
            !output.Commit())
            return Fail(error.empty() ? output.Error() : error);
        if (size > _MAX_END)
            return Fail(Shown(file.path) + ": too large for a manifest entry (4 GiB)");
        manifest.SetEntry(file.name, static_cast<_dword>(size), -1, digest, String());
        total += size;
        progress.FileDone();
    }
    if (!WriteManifest(manifestPath, manifest, false, error))
        return Fail(error);
    std::printf("%zu files, %s under %s; manifest %s\n", files.size(), ShowSize(double(total)).c_str(),
                Shown(out).c_str(), Shown(manifestPath).c_str());
    return _EXIT_OK;
}

const CommandRegistration gPackage(
    {"package", "FOLDER PACKAGE MANIFEST [--binary] [--version N] [--group TAG=GLOB]...",
     "put every file of a folder in one package file, with the manifest that places them",
     "  FOLDER             every file under it, named by its path in it (lower case, \"\\\" folders)\n"
     "  PACKAGE            the files back to back, from offset 0: serve it and give clients URL?0\n"
     "                     (or sync --base URL?0); resources are fetched as byte ranges of it\n"
     "  MANIFEST           names, offsets, sizes and digests; a UTF-16 text manifest\n"
     "  --binary           write the binary manifest form instead\n"
     "  --version N        the manifest's version number\n"
     "  --group TAG=GLOB   files matching GLOB carry TAG in their group (repeatable; a file gets every\n"
     "                     matching tag); a GLOB without \"/\" matches file names in any folder, one with\n"
     "                     \"/\" the whole name; \"*\" stays within a folder, \"**\" crosses them\n"
     "Outputs are written through temporary names, the manifest last; pack the manifest with\n"
     "'vexelpack pack' when it should travel packed.\n",
     RunPackage});

const CommandRegistration gPublish(
    {"publish", "FOLDER OUT [--manifest M]",
     "copy a folder to a tree any static web server serves to downloads by name, with its manifest",
     "  FOLDER             every file under it\n"
     "  OUT                the tree: each file under its resource name (lower case for A to Z, \"/\"\n"
     "                     folders); serve OUT at a URL and give clients that URL (or sync --base URL)\n"
     "  --manifest M       where the text manifest goes (default: OUT.manifest, beside the tree)\n"
     "Files already in OUT are replaced, others are left alone. Every file is written through a\n"
     "temporary name, the manifest last.\n",
     RunPublish});

} // namespace

} // namespace Vexel::Pack
