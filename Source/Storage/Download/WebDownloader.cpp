#include "Storage/Download/WebDownloader.h"

#include "Common/Assert.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"

#include <curl/curl.h>

namespace Vexel
{

namespace
{
// What the transfer layer passes on of a URL (UTF-8 bytes); a longer one would be cut to another URL.
constexpr std::size_t _MAX_URL_BYTES = 4096;

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Notes on the item what the source answered the handle's last transfer: its HTTP status (0 when it
// gave none) and the URL that answered (the last redirect target).
void NoteReply(WebHandle handle, const String& asked, DownloadItem& item)
{
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    item.status = static_cast<int>(code);
    char* effective = nullptr;
    item.url = curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
                       effective != nullptr && *effective != '\0'
                   ? FromUtf8(effective)
                   : asked;
}
} // namespace

String MakeResourceUrl(const String& address, const String& name)
{
    if (address.empty())
        return name;
    static const char _HEX_DIGITS[] = "0123456789ABCDEF";
    std::string path;
    for (unsigned char c : ToUtf8(name))
    {
        if (c == '\\' || c == '/')
            path += '/';
        else if (IsUnreserved(c))
            path += static_cast<char>(c);
        else
        {
            path += '%';
            path += _HEX_DIGITS[c >> 4];
            path += _HEX_DIGITS[c & 15];
        }
    }
    const bool slash = address.back() == u'/' || (!path.empty() && path[0] == '/');
    return address + (slash ? String() : String(u"/")) + FromUtf8(path);
}

WebDownloader::WebDownloader(std::recursive_mutex* lock, const String& address, _dword id, WebHandle handle)
    : Downloader(lock, address, id), mHandle(handle)
{
    mBaseOffset = CutBaseOffset(mAddress);
    if (mHandle == nullptr)
        mHandle = CreateWebHandle();
    // Before the worker runs: its transfers read the thread from the handle.
    SetWebHandleThread(mHandle, &Worker());
    StartWorker();
}

WebDownloader::~WebDownloader()
{
    StopWorker();
    DestroyWebHandle(mHandle);
}

bool WebDownloader::Fetch(DownloadItem& item)
{
    if (mHandle == nullptr)
        return false;
    if (mBaseOffset == _DOWNLOAD_UNKNOWN)
    {
        // A byte range has no file to name here.
        if (item.name.empty())
            return false;
        const String url = MakeResourceUrl(mAddress, item.name);
        if (ToUtf8(url).size() > _MAX_URL_BYTES)
        {
            LogTrace(u"[DL] Can not download file, its URL is too long : %ls", url);
            return false;
        }
        ByteBuffer buffer;
        bool ok = false;
        WebDownload(url, &buffer, _WEB_NO_TIMEOUT, 0, _WEB_OPEN, mHandle, item.cookie, nullptr, &ok);
        if (!ok)
        {
            // An error page or a broken transfer is not the file: the task hears of the failure instead.
            NoteReply(mHandle, url, item);
            if (item.status >= _HTTP_ERROR_FIRST)
                LogTrace(u"[DL] Can not download file : %ls (HTTP %d)", item.url, item.status);
            else
                LogTrace(u"[DL] Can not download file : %ls", url);
            return false;
        }
        OnData(item, buffer.data(), static_cast<_dword>(buffer.size()), 0);
        return true;
    }

    if (item.begin == _DOWNLOAD_UNKNOWN || item.end == _DOWNLOAD_UNKNOWN)
    {
        LogBoth(FormatString(u"[DL] Can not download unknown file : %ls", item.name).c_str());
        return false;
    }
    const std::int64_t begin = std::int64_t(item.begin) + mBaseOffset;
    const std::int64_t end = std::int64_t(item.end) + mBaseOffset;
    if (!VEXEL_ASSERT(end > begin))
        return false;
    bool ok = false;
    WebDownloadStream(
        mAddress,
        [this, &item](const _byte* data, std::size_t size, _qword received)
        { OnData(item, data, static_cast<_dword>(size), static_cast<_dword>(received)); },
        _WEB_NO_TIMEOUT, begin, end, mHandle, item.cookie, nullptr, &ok);
    if (!ok)
    {
        NoteReply(mHandle, mAddress, item);
        if (item.status >= _HTTP_ERROR_FIRST)
            LogTrace(u"[DL] Can not download range %I64d-%I64d : %ls (HTTP %d)", begin, end - 1, item.url,
                     item.status);
    }
    // A range that came back short is asked again by the worker.
    return true;
}

} // namespace Vexel
