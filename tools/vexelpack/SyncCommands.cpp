// sync: fills a hash archive with every resource of a manifest, fetched over several connections from a
// package ("URL?offset" or "FILE?offset") or from files by name under a URL or in a folder, the way
// the engine's resource downloader does it, and checks every digest.
#include "Commands.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/System.h"
#include "Storage/DataArchive.h"
#include "Storage/ResourceDownloader.h"
#include "Storage/ResourceManager.h"
#include "Storage/ResourceManifest.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

std::string Size(double bytes)
{
    char text[32];
    if (bytes >= 1024.0 * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f GiB", bytes / (1024.0 * 1024 * 1024));
    else if (bytes >= 1024.0 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    else if (bytes >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
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

const char* Reason(const DownloadRes& record)
{
    if (record.mRefused)
        return "its digest can never match an empty resource";
    switch (record.mLastFailure)
    {
    case DownloadFailure::Fetch:
        return "the source gave no data";
    case DownloadFailure::Digest:
        return "the data did not match its digest";
    case DownloadFailure::Store:
        return "the archive could not store it";
    default:
        return "no data arrived in time";
    }
}

// Reads a manifest file in either form, packed or not.
bool LoadManifest(const std::string& path, ResourceManifest& manifest, std::string& error)
{
    std::vector<_byte> bytes;
    if (!ReadFile(FromNativeText(path), bytes))
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

int RunSync(const Command& self, const std::vector<std::string>& args)
{
    SyncOptions options;
    std::string error;
    if (!ParseSyncOptions(args, options, error))
        return UsageError(self, error);
    gLogEnabled = options.verbose;

    ResourceManifest manifest;
    if (!LoadManifest(options.manifest, manifest, error))
        return Fail(error);

    // Where the bytes come from.
    String base = FromNativeText(options.base);
    const bool web = base.rfind(u"http://", 0) == 0 || base.rfind(u"https://", 0) == 0;
    const bool hasOffset = base.find(u'?') != String::npos;
    Source source;
    if (web)
        source = hasOffset ? Source::WebPackage : Source::WebFiles;
    else
    {
        String cut = base;
        CutBaseOffset(cut);
        if (FileExists(cut))
            source = Source::FilePackage;
        else if (!hasOffset && FolderExists(cut))
            source = Source::Folder;
        else
            return Fail(options.base + ": no such package file or folder");
    }
    const bool package = source == Source::WebPackage || source == Source::FilePackage;

    // The index the downloader places resources by: a package uses the offsets, files by name do not.
    ResourceManifest index;
    std::vector<std::string> failed;
    for (const ResourceManifest::Entry& entry : manifest.Entries())
    {
        if (package && entry.offset < 0)
        {
            failed.push_back(ToUtf8(entry.name) + ": has no place in the package");
            continue;
        }
        index.SetEntry(entry.name, entry.size, package ? entry.offset : -1, entry.md5, entry.group);
    }

    ResourceManager manager;
    // Keep the bytes as the package has them, so stored digests compare with the manifest's.
    manager.SetOption(true);
    ScratchFolder scratch;
    scratch.path = GetTempFileName(GetTempFolder(), u"vexelsync");
    if (scratch.path.empty() || !DeleteFile(scratch.path) ||
        !manager.CreateDiskArchive(String(), scratch.path))
        return Fail("cannot make a scratch folder");
    const String archivePath = FromNativeText(options.archive);
    const _dword slots = manifest.GetEntryCount() + manifest.GetEntryCount() / 4 + 64;
    IDataArchive* archive = FileExists(archivePath)
                                ? manager.OpenHashArchive(String(), archivePath, true, slots)
                                : manager.CreateHashArchive(String(), archivePath, slots);
    if (archive == nullptr)
        return Fail(options.archive + ": not a hash archive, or it cannot be made");
    if (archive->IsReadOnly())
        return Fail(options.archive + ": the archive cannot be written");

    // What the archive holds already counts when its bytes still match; anything else is fetched again.
    _dword present = 0;
    for (const ResourceManifest::Entry& entry : index.Entries())
    {
        if (!archive->HasResource(entry.name))
            continue;
        ByteBuffer bytes;
        bool good = manager.ReadResource(entry.name, bytes, false) && bytes.size() == entry.size &&
                    (entry.md5.IsZero() || Md5Of(bytes.data(), bytes.size()) == entry.md5);
        if (good)
            ++present;
        else
            archive->DeleteResource(entry.name);
    }

    ResourceDownloader downloader(&manager, &index);
    downloader.SetVerbose(options.verbose);
    if (package)
        downloader.StartBackground();
    std::vector<IDownloadTask*> tasks;
    if (!options.priorities.empty())
    {
        IDownloadTask* first = downloader.CreateTask(_PRIORITY_HIGH, 1);
        for (const std::string& tag : options.priorities)
            first->AddResourcesWithTag(FromNativeText(tag));
        tasks.push_back(first);
    }
    IDownloadTask* all = downloader.CreateTask(_PRIORITY_NORMAL, 1);
    all->AddAllResources();
    tasks.push_back(all);

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < options.connections; ++i)
    {
        if (web)
            downloader.AddWebDownloader(base, nullptr);
        else
            downloader.AddCopyDownloader(base);
    }

    // Wait until everything is in, or what is left has failed too often or stopped moving.
    auto* task = static_cast<DownloadTask*>(all);
    _qword lastBytes = 0;
    auto lastMove = std::chrono::steady_clock::now();
    auto lastShow = lastMove - std::chrono::hours(1);
    bool shown = false;
    for (;;)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(_POLL_MS));
        _qword total = 0;
        _qword finished = 0;
        bool done = true;
        {
            std::lock_guard<std::recursive_mutex> lock(downloader.GetLock());
            for (const DownloadRes* record : task->Resources())
            {
                total += record->mLength == _DOWNLOAD_UNKNOWN ? 0 : record->mLength;
                finished += record->mFinished;
                if (!record->IsFinished() && !record->mRefused &&
                    record->mFailures < static_cast<_dword>(options.retries))
                    done = false;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (downloader.GetTotalBytes() != lastBytes)
        {
            lastBytes = downloader.GetTotalBytes();
            lastMove = now;
        }
        const bool stalled = now - lastMove > std::chrono::seconds(options.timeout);
        if (!options.quiet && (done || stalled || now - lastShow >= std::chrono::milliseconds(_SHOW_MS)))
        {
            lastShow = now;
            const double speed = downloader.GetSpeed(5) * 1024.0;
            const double left =
                speed > 0 ? static_cast<double>(total - std::min(total, finished)) / speed : -1;
            std::fprintf(stderr, "\r%s of %s (%.1f%%), %s/s, %s left   ", Size(double(finished)).c_str(),
                         Size(double(total)).c_str(),
                         total ? 100.0 * double(finished) / double(total) : 100.0, Size(speed).c_str(),
                         Duration(left).c_str());
            shown = true;
        }
        if (done || stalled)
            break;
    }
    if (shown)
        std::fprintf(stderr, "\n");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Collect what did not complete before the workers go.
    {
        std::lock_guard<std::recursive_mutex> lock(downloader.GetLock());
        for (const DownloadRes* record : task->Resources())
            if (!record->IsFinished() || record->mRefused)
                failed.push_back(ToUtf8(record->mName) + ": " + Reason(*record));
    }
    const _qword received = downloader.GetTotalBytes();
    downloader.RemoveAllDownloaders();
    for (IDownloadTask* each : tasks)
        downloader.DestroyTask(each);
    downloader.StopBackground();

    // The archive must now hold every entry with its digest.
    _dword stored = 0;
    for (const ResourceManifest::Entry& entry : index.Entries())
    {
        _dword size = 0;
        MD5 digest;
        if (!archive->GetResourceInfo(entry.name, size, digest))
        {
            bool listed = false;
            for (const std::string& line : failed)
                listed = listed || line.rfind(ToUtf8(entry.name) + ":", 0) == 0;
            if (!listed)
                failed.push_back(ToUtf8(entry.name) + ": missing from the archive");
        }
        else if (size != entry.size || (!entry.md5.IsZero() && !(digest == entry.md5)))
            failed.push_back(ToUtf8(entry.name) + ": stored with another size or digest");
        else
            ++stored;
    }

    std::printf("%u of %u resources in %s (%u were there already); %s received in %.2f s\n", stored,
                manifest.GetEntryCount(), options.archive.c_str(), present, Size(double(received)).c_str(),
                seconds);
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
