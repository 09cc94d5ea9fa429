// The local transport of the downloaders. Folder mode copies files by name out of a folder; package
// mode, chosen by a path naming an existing file (with an optional "?<offset>" where the resource
// space starts), reads byte ranges of that file.
#pragma once

#include "Platform/File.h"
#include "Storage/Download/Downloader.h"

namespace Vexel
{

class CopyDownloader : public Downloader
{
public:
    CopyDownloader(std::recursive_mutex* lock, const String& path, _dword id);
    ~CopyDownloader() override;

    bool Fetch(DownloadItem& item) override;

    bool IsPackageMode() const noexcept { return mFile.IsOpen(); }
    _dword GetBaseOffset() const noexcept { return mBaseOffset; }

private:
    File mFile;
    _dword mBaseOffset = _DOWNLOAD_UNKNOWN;
};

} // namespace Vexel
