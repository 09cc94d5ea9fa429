#include "Storage/Download/CopyDownloader.h"

#include "Common/StringFormatter.h"

#include <vector>

namespace Vexel
{

namespace
{
constexpr std::size_t _MAX_PATH_LENGTH = 1024;
}

CopyDownloader::CopyDownloader(std::recursive_mutex* lock, const String& path, _dword id)
    : Downloader(lock, path, id)
{
    String cut = path;
    mBaseOffset = CutBaseOffset(cut);
    if (FileExists(cut))
        mFile.OpenRead(cut);
    else if (FolderExists(cut))
        mAddress = cut;
    StartWorker();
}

CopyDownloader::~CopyDownloader()
{
    StopWorker();
    mFile.Close();
}

bool CopyDownloader::Fetch(DownloadItem& item)
{
    std::vector<_byte> buffer;
    if (!mFile.IsOpen())
    {
        if (mAddress.empty() || item.name.empty())
            return false;
        String path = FormatString(u"%ls\\%ls", mAddress, item.name);
        if (path.size() > _MAX_PATH_LENGTH)
            path.resize(_MAX_PATH_LENGTH);
        if (!ReadFile(path, buffer))
            return false;
        OnData(item, buffer.data(), static_cast<_dword>(buffer.size()), 0);
        return true;
    }

    if (item.begin == _DOWNLOAD_UNKNOWN || item.end == _DOWNLOAD_UNKNOWN || item.end <= item.begin)
        return false;
    _qword offset = item.begin;
    if (mBaseOffset != _DOWNLOAD_UNKNOWN)
        offset += mBaseOffset;
    buffer.resize(item.end - item.begin);
    if (!mFile.Seek(offset) || !mFile.Read(buffer.data(), static_cast<_dword>(buffer.size())))
        return false;
    OnData(item, buffer.data(), static_cast<_dword>(buffer.size()), 0);
    return true;
}

} // namespace Vexel
