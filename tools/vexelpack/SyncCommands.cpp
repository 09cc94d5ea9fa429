// sync: fills a hash archive with every resource of a manifest, fetched over several connections from a
// package ("URL?offset" or "FILE?offset") or from files by name under a URL or in a folder, the way
// the engine's resource downloader does it, and checks every digest.
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/System.h"
#include "Storage/Archive/DataArchive.h"
#include "Storage/Download/ResourceDownloader.h"
#include "Storage/ResourceManager.h"
#include "Storage/ResourceManifest.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

namespace Vexel::Pack
{

namespace
{

constexpr int _DEFAULT_CONNECTIONS = 4;
constexpr int _MAX_CONNECTIONS = 32;
constexpr int _DEFAULT_RETRIES = 3;
constexpr int _DEFAULT_TIMEOUT_S = 60;
constexpr int _POLL_MS = 100;
constexpr int _SHOW_MS = 500;

struct SyncOptions
{
    std::string base;
    std::string manifest;
    std::string archive;
    int connections = _DEFAULT_CONNECTIONS;
    int retries = _DEFAULT_RETRIES;
    int timeout = _DEFAULT_TIMEOUT_S;
    std::vector<std::string> priorities;
    bool verbose = false;
    bool quiet = false;
};

enum class Source
{
    WebPackage,
    WebFiles,
    FilePackage,
    Folder,
};

bool ParseNumber(const std::string& text, int low, int high, int& out)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseSyncOptions(const std::vector<std::string>& args, SyncOptions& options, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos)
        {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        auto take = [&](std::string& out)
        {
            if (!hasValue)
            {
                if (i + 1 >= args.size())
                {
                    error = arg + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            out = value;
            return true;
        };
        auto number = [&](int low, int high, int& out)
        {
            std::string text;
            if (!take(text))
                return false;
            if (!ParseNumber(text, low, high, out))
            {
                error = arg + " takes a number from " + std::to_string(low) + " to " + std::to_string(high);
                return false;
            }
            return true;
        };
        bool ok = true;
        if (arg == "--base")
            ok = take(options.base);
        else if (arg == "--manifest")
            ok = take(options.manifest);
        else if (arg == "--archive")
            ok = take(options.archive);
        else if (arg == "--connections")
            ok = number(1, _MAX_CONNECTIONS, options.connections);
        else if (arg == "--retries")
            ok = number(1, 1000, options.retries);
        else if (arg == "--timeout")
            ok = number(1, 86400, options.timeout);
        else if (arg == "--priority")
        {
            std::string tag;
            ok = take(tag);
            if (ok)
                options.priorities.push_back(tag);
        }
        else if (arg == "--verbose" || arg == "-v")
            options.verbose = true;
        else if (arg == "--quiet" || arg == "-q")
            options.quiet = true;
        else
        {
            error = "unknown argument '" + args[i] + "'";
            return false;
        }
        if (!ok)
            return false;
    }
    if (options.base.empty() || options.manifest.empty() || options.archive.empty())
    {
        error = "--base, --manifest and --archive are required";
        return false;
    }
    return true;
}

std::string Duration(double seconds)
{
    char text[32];
    if (seconds < 0 || seconds > 359999)
        return "--:--";
    int s = static_cast<int>(seconds + 0.5);
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

// Reads a manifest file in either form, packed or not.
bool LoadManifest(const std::string& path, ResourceManifest& manifest, std::string& error)
{
    std::vector<_byte> bytes;
    if (!ReadFile(ArgumentText(path), bytes))
    {
        error = path + ": cannot read";
        return false;
    }
    bool changed = false;
    if (!DecompressBuffer(bytes, changed))
    {
        error = path + ": packed data is damaged";
        return false;
    }
    if (!manifest.LoadText(bytes.data(), bytes.size()))
    {
        error = path + ": not a manifest, or it has no entries";
        return false;
    }
    return true;
}

// An empty folder for the disk archive that keeps names from resolving as files of the current folder.
struct ScratchFolder
{
    String path;
    ~ScratchFolder()
    {
        if (!path.empty())
            RemoveFolder(path);
    }
};

// Where the bytes come from, as the --base text says.
struct SyncSource
{
    Source kind = Source::Folder;
    String base;
    bool web = false;
    bool package = false;
};

bool ResolveSource(const std::string& text, SyncSource& source, std::string& error)
{
    source.base = ArgumentText(text);
    const String& base = source.base;
    source.web = base.rfind(u"http://", 0) == 0 || base.rfind(u"https://", 0) == 0;
    const bool hasOffset = base.find(u'?') != String::npos;
    if (source.web)
        source.kind = hasOffset ? Source::WebPackage : Source::WebFiles;
    else
    {
        String cut = base;
        CutBaseOffset(cut);
        if (FileExists(cut))
            source.kind = Source::FilePackage;
        else if (!hasOffset && FolderExists(cut))
            source.kind = Source::Folder;
        else
        {
            error = text + ": no such package file or folder";
            return false;
        }
    }
    source.package = source.kind == Source::WebPackage || source.kind == Source::FilePackage;
    return true;
}

// The index the downloader places resources by: a package uses the offsets, files by name do not.
void BuildIndex(const ResourceManifest& manifest, bool package, ResourceManifest& index,
                std::vector<std::string>& failed)
{
    for (const ResourceManifest::Entry& entry : manifest.Entries())
    {
        if (package && entry.offset < 0)
        {
            failed.push_back(ToUtf8(entry.name) + ": has no place in the package");
            continue;
        }
        index.SetEntry(entry.name, entry.size, package ? entry.offset : -1, entry.md5, entry.group);
    }
}

IDataArchive* OpenArchive(ResourceManager& manager, const std::string& path, _dword entries,
                          std::string& error)
{
    const String archivePath = ArgumentText(path);
    const _dword slots = entries + entries / 4 + 64;
    IDataArchive* archive = FileExists(archivePath)
                                ? manager.OpenHashArchive(String(), archivePath, true, slots)
                                : manager.CreateHashArchive(String(), archivePath, slots);
    if (archive == nullptr)
        error = path + ": not a hash archive, or it cannot be made";
    else if (archive->IsReadOnly())
    {
        error = path + ": the archive cannot be written";
        archive = nullptr;
    }
    return archive;
}

// What the archive holds already counts when its bytes still match; anything else is fetched again.
_dword KeepIntactResources(ResourceManager& manager, IDataArchive& archive, const ResourceManifest& index)
{
    _dword present = 0;
    for (const ResourceManifest::Entry& entry : index.Entries())
    {
        if (!archive.HasResource(entry.name))
            continue;
        ByteBuffer bytes;
        bool good = manager.ReadResource(entry.name, bytes, false) && bytes.size() == entry.size &&
                    (entry.md5.IsZero() || Md5Of(bytes.data(), bytes.size()) == entry.md5);
        if (good)
            ++present;
        else
            archive.DeleteResource(entry.name);
    }
    return present;
}

using ResourceState = ResourceDownloader::ResourceState;

// The single progress line on standard error, redrawn at most every _SHOW_MS.
class ProgressLine
{
public:
    explicit ProgressLine(bool quiet) : mQuiet(quiet) {}
    ~ProgressLine()
    {
        if (mShown)
            std::fprintf(stderr, "\n");
    }
    void Show(ResourceDownloader& downloader, _qword finished, _qword total, bool now)
    {
        const auto time = std::chrono::steady_clock::now();
        if (mQuiet || (!now && mShown && time - mLast < std::chrono::milliseconds(_SHOW_MS)))
            return;
        mLast = time;
        const double speed = downloader.GetSpeed(5) * 1024.0;
        const double left = speed > 0 ? static_cast<double>(total - std::min(total, finished)) / speed : -1;
        std::fprintf(stderr, "\r%s of %s (%.1f%%), %s/s, %s left   ", ShowSize(double(finished)).c_str(),
                     ShowSize(double(total)).c_str(),
                     total ? 100.0 * double(finished) / double(total) : 100.0, ShowSize(speed).c_str(),
                     Duration(left).c_str());
        mShown = true;
    }

private:
    bool mQuiet;
    bool mShown = false;
    std::chrono::steady_clock::time_point mLast;
};

// Waits until every resource is in, or what is left has failed too often, stopped moving, or the
// package source keeps refusing; returns the resources' last state.
std::vector<ResourceState> WaitForResources(ResourceDownloader& downloader, IDownloadTask* task,
                                            const SyncOptions& options, bool package)
{
    ProgressLine progress(options.quiet);
    _qword lastBytes = 0;
    auto lastMove = std::chrono::steady_clock::now();
    // Every connection asks a refused range again and again: give up after its share of retries.
    const _dword refusalLimit =
        static_cast<_dword>(options.retries) * static_cast<_dword>(options.connections);
    for (;;)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(_POLL_MS));
        std::vector<ResourceState> states = downloader.GetTaskState(task);
        _qword total = 0;
        _qword finished = 0;
        bool done = true;
        for (const ResourceState& state : states)
        {
            total += state.length == _DOWNLOAD_UNKNOWN ? 0 : state.length;
            finished += state.finished;
            if (!state.stored && !state.refused && state.failures < static_cast<_dword>(options.retries))
                done = false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (downloader.GetTotalBytes() != lastBytes)
        {
            lastBytes = downloader.GetTotalBytes();
            lastMove = now;
        }
        const bool stalled = now - lastMove > std::chrono::seconds(options.timeout);
        const bool refused = package && downloader.GetRangeRefusal().count >= refusalLimit;
        const bool end = done || stalled || refused;
        progress.Show(downloader, finished, total, end);
        if (end)
            return states;
    }
}

// What a person needs to know about the source's answer, or nothing when it gave none.
std::string SourceAnswer(int status, const String& url)
{
    if (url.empty())
        return std::string();
    if (status >= _HTTP_ERROR_FIRST)
        return " (HTTP " + std::to_string(status) + " from " + ToUtf8(url) + ")";
    if (status == 0)
        return " (no answer from " + ToUtf8(url) + ")";
    return std::string();
}

std::string Reason(const ResourceState& state, const ResourceDownloader::RangeRefusal& refusal)
{
    if (state.refused)
        return "its digest can never match an empty resource";
    switch (state.lastFailure)
    {
    case DownloadFailure::Fetch:
        return "the source gave no data" + SourceAnswer(state.failureStatus, state.failureUrl);
    case DownloadFailure::Digest:
        return "the data did not match its digest";
    case DownloadFailure::Store:
        return "the archive could not store it";
    default:
        return "no data arrived in time" + SourceAnswer(refusal.status, refusal.url);
    }
}

// The archive must now hold every entry with its digest; returns how many it holds. Entries already
// reported are not reported again.
_dword CheckArchive(IDataArchive& archive, const ResourceManifest& index, std::vector<std::string>& failed,
                    const std::set<String>& reported)
{
    _dword stored = 0;
    for (const ResourceManifest::Entry& entry : index.Entries())
    {
        _dword size = 0;
        MD5 digest;
        if (!archive.GetResourceInfo(entry.name, size, digest))
        {
            if (reported.count(entry.name) == 0)
                failed.push_back(ToUtf8(entry.name) + ": missing from the archive");
        }
        else if (size != entry.size || (!entry.md5.IsZero() && !(digest == entry.md5)))
            failed.push_back(ToUtf8(entry.name) + ": stored with another size or digest");
        else
            ++stored;
    }
    return stored;
}

// The tasks of a sync: the tagged resources first when asked, then every resource (the last task).
std::vector<IDownloadTask*> CreateTasks(ResourceDownloader& downloader,
                                        const std::vector<std::string>& priorities)
{
    std::vector<IDownloadTask*> tasks;
    if (!priorities.empty())
    {
        IDownloadTask* first = downloader.CreateTask(_PRIORITY_HIGH, 1);
        for (const std::string& tag : priorities)
            first->AddResourcesWithTag(ArgumentText(tag));
        tasks.push_back(first);
    }
    IDownloadTask* all = downloader.CreateTask(_PRIORITY_NORMAL, 1);
    all->AddAllResources();
    tasks.push_back(all);
    return tasks;
}

// Adds a line for every resource that did not arrive; returns their names.
std::set<String> ReportUnfinished(const std::vector<ResourceState>& states,
                                  const ResourceDownloader::RangeRefusal& refusal,
                                  std::vector<std::string>& failed)
{
    std::set<String> reported;
    for (const ResourceState& state : states)
        if (!state.stored || state.refused)
        {
            failed.push_back(ToUtf8(state.name) + ": " + Reason(state, refusal));
            reported.insert(state.name);
        }
    return reported;
}

int RunSync(const Command& self, const std::vector<std::string>& args)
{
    SyncOptions options;
    std::string error;
    if (!ParseSyncOptions(args, options, error))
        return UsageError(self, error);
    gLogEnabled = options.verbose;

    ResourceManifest manifest;
    SyncSource source;
    if (!LoadManifest(options.manifest, manifest, error) || !ResolveSource(options.base, source, error))
        return Fail(error);
    ResourceManifest index;
    std::vector<std::string> failed;
    BuildIndex(manifest, source.package, index, failed);

    ResourceManager manager;
    // Keep the bytes as the package has them, so stored digests compare with the manifest's.
    manager.SetOption(true);
    ScratchFolder scratch;
    scratch.path = GetTempFileName(GetTempFolder(), u"vexelsync");
    if (scratch.path.empty() || !DeleteFile(scratch.path) ||
        !manager.CreateDiskArchive(String(), scratch.path))
        return Fail("cannot make a scratch folder");
    IDataArchive* archive = OpenArchive(manager, options.archive, manifest.GetEntryCount(), error);
    if (archive == nullptr)
        return Fail(error);
    const _dword present = KeepIntactResources(manager, *archive, index);

    ResourceDownloader downloader(&manager, &index);
    downloader.SetVerbose(options.verbose);
    if (source.package)
        downloader.StartBackground();
    std::vector<IDownloadTask*> tasks = CreateTasks(downloader, options.priorities);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < options.connections; ++i)
    {
        if (source.web)
            downloader.AddWebDownloader(source.base, nullptr);
        else
            downloader.AddCopyDownloader(source.base);
    }
    const std::vector<ResourceState> states =
        WaitForResources(downloader, tasks.back(), options, source.package);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::set<String> reported = ReportUnfinished(states, downloader.GetRangeRefusal(), failed);
    const _qword received = downloader.GetTotalBytes();
    downloader.RemoveAllDownloaders();
    for (IDownloadTask* each : tasks)
        downloader.DestroyTask(each);
    downloader.StopBackground();

    const _dword stored = CheckArchive(*archive, index, failed, reported);
    std::printf("%u of %u resources in %s (%u were there already); %s received in %.2f s\n", stored,
                manifest.GetEntryCount(), options.archive.c_str(), present,
                ShowSize(double(received)).c_str(), seconds);
    if (failed.empty())
        return _EXIT_OK;
    for (const std::string& line : failed)
        std::fprintf(stderr, "vexelpack: failed: %s\n", line.c_str());
    return _EXIT_FAILURE;
}

const CommandRegistration gSync(
    {"sync",
     "--base URL|PATH --manifest FILE --archive FILE [--connections N] [--priority TAG]... [--retries N] "
     "[--timeout S] [-v] [-q]",
     "fetch every resource of a manifest into a hash archive, checking digests",
     "  --base URL?OFFSET   a package over HTTP: entries are byte ranges from OFFSET on\n"
     "  --base URL          files by name under the URL (URL/name)\n"
     "  --base FILE?OFFSET  a package file on disk (?OFFSET optional)\n"
     "  --base FOLDER       files by name in a folder\n"
     "  --manifest FILE     text or binary manifest (packed or not): names, sizes, digests, offsets\n"
     "  --archive FILE      hash archive to fill; made when missing, resources it holds intact are kept\n"
     "  --connections N     parallel transfers (default 4)\n"
     "  --priority TAG      resources whose group has the tag come first (repeatable)\n"
     "  --retries N         failed attempts of one resource before giving up on it (default 3)\n"
     "  --timeout S         give up when nothing arrived for S seconds (default 60)\n"
     "  -v, --verbose       engine log lines; -q, --quiet: no progress line\n"
     "Exits 1 and lists the resources that could not be completed.\n",
     RunSync});

} // namespace

} // namespace Vexel::Pack
