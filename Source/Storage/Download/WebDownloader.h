// The web transport of the downloaders. Plain mode fetches files by name under a URL prefix (or by the
// name itself as URL when the address is empty). Package mode, chosen by an address ending in
// "?<offset>", fetches byte ranges of one package file whose resource space starts at that offset.
#pragma once

#include "Storage/Download/Downloader.h"
#include "Storage/Download/WebTransfer.h"

namespace Vexel
{

// The URL of a resource fetched by name under an address. The name's "\" separators become "/" and every
// byte of its UTF-8 outside the unreserved characters is percent-encoded, since the servers operators run
// take the path literally. An empty address takes the name itself as the URL.
String MakeResourceUrl(const String& address, const String& name);

class WebDownloader : public Downloader
{
public:
    // Takes ownership of handle; without one the downloader makes its own.
    WebDownloader(std::recursive_mutex* lock, const String& address, _dword id, WebHandle handle = nullptr);
    ~WebDownloader() override;

    bool Fetch(DownloadItem& item) override;

    // _DOWNLOAD_UNKNOWN in plain mode.
    _dword GetBaseOffset() const noexcept { return mBaseOffset; }

private:
    _dword mBaseOffset = _DOWNLOAD_UNKNOWN;
    WebHandle mHandle = nullptr;
};

} // namespace Vexel
