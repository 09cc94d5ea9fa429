// Hash archive against loose files, in one run: writing 20,000 resources of 1-16 KiB, reading them all
// back in random order, and opening an archive of 200,000 items (time and memory). Prints the numbers
// and the ratios against the goals: the archive at least 2x faster at writing and at random reads, and
// the open of 200,000 items under 150 ms. Data lives under /tmp and is removed afterwards.
//
//   bench_storage_bench [COUNT]        COUNT resources instead of 20,000
#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Storage/Archive/DiskArchive.h"
#include "Storage/Archive/HashArchive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Vexel;

namespace
{

constexpr int _OPEN_ITEMS = 200000;

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

String Wide(const std::filesystem::path& path)
{
    return String(std::u16string(path.u16string()));
}

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS").
long StatusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

// Run in a process of its own so the memory numbers belong to the open alone.
int OpenOnly(const char* path)
{
    gLogEnabled = false;
    long rssBefore = StatusKiB("VmRSS");
    StorageLock lock;
    auto start = std::chrono::steady_clock::now();
    HashArchive archive(&lock, u"bench");
    bool ok = archive.Open(FromNativeText(path), true);
    double seconds = Seconds(start);
    long peak = StatusKiB("VmHWM");
    std::printf("%d %.3f %ld %ld %u\n", ok ? 1 : 0, seconds * 1000.0, rssBefore, peak,
                ok ? archive.GetResourceCount() : 0);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--open-only") == 0)
        return OpenOnly(argv[2]);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    gLogEnabled = false;

    const auto root =
        std::filesystem::temp_directory_path() / ("vexel-storage-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "loose");
    std::filesystem::create_directories(root / "disk");

    std::mt19937 random(20240521);
    std::vector<std::string> blobs(count);
    std::vector<String> names(count);
    std::size_t total = 0;
    for (int i = 0; i < count; ++i)
    {
        std::size_t size = 1024 + random() % (15 * 1024 + 1);
        blobs[i].resize(size);
        for (char& c : blobs[i])
            c = static_cast<char>(random());
        names[i] = FormatString(u"res%05d.bin", i);
        total += size;
    }
    std::printf("resources: %d, %.1f MiB (1-16 KiB each), data under %s\n", count, total / 1048576.0,
                root.string().c_str());

    StorageLock lock;
    // --- Writing ---
    auto start = std::chrono::steady_clock::now();
    {
        HashArchive archive(&lock, u"bench");
        if (!archive.Create(Wide(root / "bench.fod"), static_cast<_dword>(count)))
            return std::fprintf(stderr, "cannot create the archive\n"), 1;
        for (int i = 0; i < count; ++i)
            if (!archive.WriteResource(names[i], blobs[i].data(), static_cast<_dword>(blobs[i].size()),
                                       MD5()))
                return std::fprintf(stderr, "archive write %d failed\n", i), 1;
    }
    const double archiveWrite = Seconds(start);

    // Loose files the plain way, as any program would write them.
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
    {
        std::FILE* file = std::fopen((root / "loose" / ToUtf8(names[i])).c_str(), "wb");
        if (!file || std::fwrite(blobs[i].data(), 1, blobs[i].size(), file) != blobs[i].size() ||
            std::fclose(file))
            return std::fprintf(stderr, "file write %d failed\n", i), 1;
    }
    const double looseWrite = Seconds(start);

    // This program's own loose files (disk archive: case-blind paths, whole-file replacement) slow down
    // as the folder fills, so they are timed over a sample.
    const int sample = std::min(count, 2000);
    start = std::chrono::steady_clock::now();
    {
        DiskArchive disk(&lock, u"disk");
        disk.Open(Wide(root / "disk"), String());
        for (int i = 0; i < sample; ++i)
            if (!disk.WriteResource(names[i], blobs[i].data(), static_cast<_dword>(blobs[i].size()), MD5()))
                return std::fprintf(stderr, "disk archive write %d failed\n", i), 1;
    }
    const double diskWrite = Seconds(start) * count / sample;

    // --- Reading in random order (the data was just written, so both come from the page cache) ---
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    std::vector<_byte> buffer;

    start = std::chrono::steady_clock::now();
    std::size_t checked = 0;
    {
        HashArchive archive(&lock, u"bench");
        if (!archive.Open(Wide(root / "bench.fod"), false))
            return std::fprintf(stderr, "cannot open the archive\n"), 1;
        for (int i : order)
        {
            DataStream* stream = archive.OpenStream(names[i]);
            if (!stream)
                return std::fprintf(stderr, "archive read %d failed\n", i), 1;
            buffer.resize(stream->GetSize());
            if (!stream->Read(buffer.data(), stream->GetSize(), 0))
                return std::fprintf(stderr, "archive read %d failed\n", i), 1;
            checked += buffer.size() == blobs[i].size();
            delete stream;
        }
    }
    const double archiveRead = Seconds(start);

    start = std::chrono::steady_clock::now();
    for (int i : order)
    {
        std::FILE* file = std::fopen((root / "loose" / ToUtf8(names[i])).c_str(), "rb");
        if (!file)
            return std::fprintf(stderr, "file read %d failed\n", i), 1;
        buffer.resize(blobs[i].size() + 1);
        std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        std::fclose(file);
        checked += got == blobs[i].size();
    }
    const double looseRead = Seconds(start);

    start = std::chrono::steady_clock::now();
    for (int i : order)
    {
        File file;
        if (!file.OpenRead(Wide(root / "loose") + u"/" + names[i]) || !file.ReadAll(buffer))
            return std::fprintf(stderr, "file read %d failed\n", i), 1;
    }
    const double fileRead = Seconds(start);
    // The bytes themselves, outside the timing.
    {
        HashArchive archive(&lock, u"bench");
        archive.Open(Wide(root / "bench.fod"), false);
        for (int i = 0; i < count; i += 7)
        {
            std::unique_ptr<DataStream> stream(archive.OpenStream(names[i]));
            ByteBuffer bytes;
            checked -= !stream || !stream->ReadText(bytes, false) ||
                       std::string(bytes.begin(), bytes.end()) != blobs[i];
        }
    }
    if (checked != 2 * static_cast<std::size_t>(count))
        return std::fprintf(stderr, "read back wrong bytes\n"), 1;

    // --- Opening 200,000 items ---
    const auto big = root / "items.fod";
    start = std::chrono::steady_clock::now();
    {
        HashArchive archive(&lock, u"items");
        if (!archive.Create(Wide(big), _OPEN_ITEMS))
            return 1;
        char payload[24] = {}; // "item " and any int fit; the first 16 bytes are stored
        for (int i = 0; i < _OPEN_ITEMS; ++i)
        {
            std::snprintf(payload, sizeof payload, "item %d", i);
            if (!archive.WriteResource(FormatString(u"items/%d.dat", i), payload, 16, MD5()))
                return std::fprintf(stderr, "item %d failed\n", i), 1;
        }
    }
    const double buildItems = Seconds(start);
    std::string command = "'/proc/" + std::to_string(getpid()) + "/exe' --open-only '" + big.string() + "'";
    double best = 1e9;
    long rssBefore = 0, peak = 0;
    unsigned items = 0;
    for (int run = 0; run < 5; ++run)
    {
        FILE* child = popen(command.c_str(), "r");
        int ok = 0;
        double ms = 0;
        if (!child || std::fscanf(child, "%d %lf %ld %ld %u", &ok, &ms, &rssBefore, &peak, &items) != 5 ||
            !ok)
            return std::fprintf(stderr, "the open run failed\n"), 1;
        pclose(child);
        best = std::min(best, ms);
    }

    std::error_code ec;
    std::filesystem::remove_all(root, ec);

    auto ratio = [](double slow, double fast) { return fast > 0 ? slow / fast : 0.0; };
    std::printf("\nwrite %d resources:\n", count);
    std::printf("  hash archive           %8.3f s\n", archiveWrite);
    std::printf("  loose files (stdio)    %8.3f s   archive is %.2fx faster (goal >= 2x): %s\n", looseWrite,
                ratio(looseWrite, archiveWrite), ratio(looseWrite, archiveWrite) >= 2 ? "met" : "NOT met");
    std::printf(
        "  disk archive           %8.3f s   archive is %.2fx faster (from %d writes into an empty folder)\n",
        diskWrite, ratio(diskWrite, archiveWrite), sample);
    std::printf("read all back in random order:\n");
    std::printf("  hash archive           %8.3f s\n", archiveRead);
    std::printf("  loose files (stdio)    %8.3f s   archive is %.2fx faster (goal >= 2x): %s\n", looseRead,
                ratio(looseRead, archiveRead), ratio(looseRead, archiveRead) >= 2 ? "met" : "NOT met");
    std::printf("  loose files (File)     %8.3f s   archive is %.2fx faster\n", fileRead,
                ratio(fileRead, archiveRead));
    std::printf("open an archive of %u items (built in %.2f s):\n", items, buildItems);
    std::printf("  best of 5              %8.1f ms  (goal < 150 ms): %s\n", best,
                best < 150 ? "met" : "NOT met");
    std::printf(
        "  memory                 %8.1f MiB peak RSS of the opening process, %.1f MiB before the open\n",
        peak / 1024.0, rssBefore / 1024.0);
    return 0;
}
