// A package of generated resources on the loopback server, with its manifest and a resource manager
// that stores into a disk archive in a temporary folder: what the download task and resource
// downloader tests fill.
#pragma once

#include "Common/Md5.h"
#include "Storage/Download/Downloader.h"
#include "Storage/Download/ResourceDownloader.h"
#include "Storage/ResourceManager.h"
#include "Storage/ResourceManifest.h"

#include "TestServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Vexel::Test
{

struct PackageEntry
{
    String name;
    _dword offset;
    _dword size;
    std::string bytes;
    MD5 digest;
    String group;
};

class DownloadFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mStore = mDir.Wide("store");
        std::filesystem::create_directories(mDir / "store");
        ASSERT_NE(mManager.CreateDiskArchive(u"store", mStore), nullptr);
    }

    // Resources placed back to back from offset 0 (or after gap bytes each), with their digests.
    void MakePackage(const std::vector<std::pair<String, _dword>>& resources, _dword gap = 0,
                     const std::vector<String>& groups = {})
    {
        _dword offset = 0;
        mEntries.clear();
        for (std::size_t i = 0; i < resources.size(); ++i)
        {
            PackageEntry entry;
            entry.name = resources[i].first;
            entry.size = resources[i].second;
            entry.offset = offset;
            entry.bytes = TestServer::GeneratedBytes(11, offset, entry.size);
            entry.digest = Md5Of(entry.bytes.data(), entry.bytes.size());
            entry.group = i < groups.size() ? groups[i] : String();
            mManifest.SetEntry(entry.name, entry.size, static_cast<int>(offset), entry.digest, entry.group);
            offset += entry.size + gap;
            mEntries.push_back(entry);
        }
        mPackage = TestServer::GeneratedBytes(11, 0, offset);
        mServer.AddFile("/pack.bin", mPackage);
    }

    // A downloader that never works its queue, so Schedule's choices can be read from it.
    IDownloader* AddIdleDownloader(ResourceDownloader& rd)
    {
        IDownloader* downloader = rd.AddWebDownloader(mServer.WideUrl("/pack.bin?0"), nullptr);
        static_cast<Downloader*>(downloader)->SetPaused(true);
        return downloader;
    }

    // The stored bytes of a resource, or "<missing>".
    std::string Stored(const String& name)
    {
        ByteBuffer bytes;
        if (!mManager.ReadResource(name, bytes, true))
            return "<missing>";
        return std::string(bytes.begin(), bytes.end());
    }

    TempDir mDir;
    String mStore;
    TestServer mServer;
    ResourceManager mManager;
    ResourceManifest mManifest;
    std::vector<PackageEntry> mEntries;
    std::string mPackage;
};

} // namespace Vexel::Test
