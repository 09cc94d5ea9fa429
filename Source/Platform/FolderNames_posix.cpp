#include "Platform/FolderNames.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace Vexel::Detail
{

namespace
{

// Byte-wise ASCII folding: every byte of a multi-byte UTF-8 sequence is 0x80 or above and stays as it is,
// so this is the program's ASCII case rule over code points.
std::string Fold(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return folded;
}

bool IsDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool ScanFolder(const std::string& folder, const std::string& name, std::string& found)
{
    found.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const std::string folded = Fold(name);
    while (dirent* entry = ::readdir(dir))
    {
        std::string_view candidate = entry->d_name;
        if (candidate.size() == name.size() && Fold(candidate) == folded &&
            (found.empty() || candidate < found))
            found = candidate;
    }
    ::closedir(dir);
    return true;
}

#if defined(__linux__)

// The names of one folder by their folded form, kept current from the folder's change reports.
struct Listing
{
    dev_t device = 0;
    ino_t inode = 0;
    int watch = -1;
    std::uint64_t used = 0;
    std::unordered_map<std::string, std::set<std::string>> names;

    void Add(const std::string& name) { names[Fold(name)].insert(name); }
    void Remove(const std::string& name)
    {
        auto found = names.find(Fold(name));
        if (found == names.end())
            return;
        found->second.erase(name);
        if (found->second.empty())
            names.erase(found);
    }
};

class ListingCache
{
public:
    ~ListingCache()
    {
        if (mNotifier >= 0)
            ::close(mNotifier);
    }

    bool Find(const std::string& folder, const std::string& name, std::string& found)
    {
        std::lock_guard guard(mLock);
        if (!EnsureNotifier())
            return ScanFolder(folder, name, found);
        ApplyReports();
        found.clear();
        struct stat st;
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
        auto kept = mByPath.find(folder);
        // The same path may name another folder now (a parent moved, the current folder changed).
        if (kept != mByPath.end() && (kept->second.device != st.st_dev || kept->second.inode != st.st_ino))
        {
            Drop(kept->first);
            kept = mByPath.end();
        }
        if (kept == mByPath.end())
        {
            kept = Fill(folder, st);
            if (kept == mByPath.end())
                return ScanFolder(folder, name, found);
        }
        Listing& listing = kept->second;
        listing.used = ++mUseCount;
        auto names = listing.names.find(Fold(name));
        if (names != listing.names.end())
            found = *names->second.begin();
        return true;
    }

private:
    // Folders whose listings are kept; the least recently used goes first.
    static constexpr std::size_t _MAX_LISTINGS = 64;
    static constexpr std::uint32_t _REPORTS =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

    bool EnsureNotifier()
    {
        if (!mTried)
        {
            mTried = true;
            mNotifier = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        }
        return mNotifier >= 0;
    }

    // Reports are queued while the changing call runs, so everything done before this call is seen.
    void ApplyReports()
    {
        alignas(inotify_event) char buffer[16384];
        for (;;)
        {
            ssize_t length = ::read(mNotifier, buffer, sizeof buffer);
            if (length < 0 && errno == EINTR)
                continue;
            if (length <= 0)
                return;
            for (char* at = buffer; at < buffer + length;)
            {
                const auto* report = reinterpret_cast<const inotify_event*>(at);
                at += sizeof(inotify_event) + report->len;
                Apply(*report);
            }
            // A read takes every report that fits: room left for the largest one means none was left.
            if (sizeof buffer - static_cast<std::size_t>(length) >= sizeof(inotify_event) + NAME_MAX + 1)
                return;
        }
    }

    void Apply(const inotify_event& report)
    {
        if (report.mask & IN_Q_OVERFLOW)
        {
            // Reports were lost: no listing can be trusted.
            while (!mByPath.empty())
                Drop(mByPath.begin()->first);
            return;
        }
        auto watched = mByWatch.find(report.wd);
        if (watched == mByWatch.end())
            return;
        if (report.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
        {
            Drop(watched->second);
            return;
        }
        if (report.len == 0)
            return;
        Listing& listing = mByPath[watched->second];
        const std::string name(report.name);
        if (report.mask & (IN_CREATE | IN_MOVED_TO))
            listing.Add(name);
        else if (report.mask & (IN_DELETE | IN_MOVED_FROM))
            listing.Remove(name);
    }

    // Watches first, then lists: a change during the listing is reported as well, and applying it again
    // changes nothing.
    std::unordered_map<std::string, Listing>::iterator Fill(const std::string& folder, const struct stat& st)
    {
        if (mByPath.size() >= _MAX_LISTINGS)
            DropLeastUsed();
        int watch = ::inotify_add_watch(mNotifier, folder.c_str(), _REPORTS);
        if (watch < 0)
            return mByPath.end();
        if (mByWatch.count(watch))
            return mByPath.end(); // the folder is watched under another path already: not kept twice
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
        {
            ::inotify_rm_watch(mNotifier, watch);
            return mByPath.end();
        }
        Listing listing;
        listing.device = st.st_dev;
        listing.inode = st.st_ino;
        listing.watch = watch;
        while (dirent* entry = ::readdir(dir))
            if (!IsDotEntry(entry->d_name))
                listing.Add(entry->d_name);
        ::closedir(dir);
        mByWatch[watch] = folder;
        return mByPath.emplace(folder, std::move(listing)).first;
    }

    void Drop(std::string folder)
    {
        auto found = mByPath.find(folder);
        if (found == mByPath.end())
            return;
        mByWatch.erase(found->second.watch);
        ::inotify_rm_watch(mNotifier, found->second.watch);
        mByPath.erase(found);
    }

    void DropLeastUsed()
    {
        auto oldest = mByPath.begin();
        for (auto at = mByPath.begin(); at != mByPath.end(); ++at)
            if (at->second.used < oldest->second.used)
                oldest = at;
        if (oldest != mByPath.end())
            Drop(oldest->first);
    }

    std::mutex mLock;
    bool mTried = false;
    int mNotifier = -1;
    std::uint64_t mUseCount = 0;
    std::unordered_map<std::string, Listing> mByPath;
    std::unordered_map<int, std::string> mByWatch;
};

#endif

} // namespace

bool FindNameIgnoringCase(const std::string& folder, const std::string& name, std::string& found)
{
    const std::string path = folder.empty() ? std::string(".") : folder;
#if defined(__linux__)
    static ListingCache cache;
    return cache.Find(path, name, found);
#else
    return ScanFolder(path, name, found);
#endif
}

} // namespace Vexel::Detail
