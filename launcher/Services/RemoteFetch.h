// The launcher's own exchanges with the operator's servers besides the pages: the start report, the
// program digest and program download, the plug-in and hall downloads, and the server information.
//
// Two fetch records run asynchronous transfers and are polled from the main thread: the main record
// (plug-in, server information, program download; a new start cancels whatever it was doing) and the
// hall record (one attempt at a time, failures spaced out: _HALL_ATTEMPTS). A main-record transfer that
// has received nothing for 5 seconds (progress still 0.0 or 0.5, as after an HTTP error) is abandoned;
// the clock of that rule and of the hall's pauses is FetchRecords::mFetchClock. The functions that only
// start, poll or cancel transfers take the fetch records alone.
//
// Server information. The script calls
//     setInfoServer(template, key1, key2, currentField, "name|id|url", key3)
// for example setInfoServer("http://host/serverinfo?uid={uid}&sid={sid}&sign={sign}", "uid", "userid",
// "gsname", "name|sid|url", "sid"). The request URL is the template with:
//   {key1}  the value of key1 in the main page's address (key2 is tried when key1 is missing); when key3
//           is set, a value that does not begin with "S" gets an "S" in front;
//   {key3}  the value of key3 in the main page's address;
//   {sign}  32 lower-case hexadecimal digits, the program's MD5 text form (words w3, w2, w1, w0 as
//           "%.8x" each) of the UTF-8 bytes of the URL with both placeholders filled and "{sign}" still
//           in it; the server checks it by putting "{sign}" back in place of the value.
// A value is the run of word characters after "name=" where the name does not continue a longer word.
// The request carries GetCookies(template) as its Cookie header.
//
// The answer is a JSON object of at most 1 MiB, for example
//   {"gsname":"Azure Coast","nickname":"player42","imurl":"http://host/im","imtitle":"Messages",
//    "data":[{"name":"Azure Coast","sid":"s1","url":"http://host/game?sid=s1"},...]}
// - currentField (setInfoServer text 4): the current server's name; it becomes the text of menu entry 1014;
// - the field named by addCustomUserMenu's first kept text: the text of menu entry 1015;
// - the fields named by addCustomIMMenu's two kept texts: the IM page address and title (mImUrl,
//   mImTitle), which show menu entry 1012;
// - "data": the server list. The text from its "[" to the following "]" is cut into objects at each "{";
//   each object is read alone and gives a name, an identifier and an address (the fields of text 5);
//   objects that cannot be read, lack a name or an http(s) address are skipped with a trace line.
// The server list fills mServerNames, mServerIds, mServerUrls and the combo box 0 of frame slot 1; then
// the plug-in download starts.
#pragma once

#include "Base/LauncherState.h"

#include <vector>

namespace Vexel
{

// The plug-in's file, relative to the data folder (the current folder).
constexpr const char16_t* _PLUGIN_FILE = u"vexelsetup.exe";
// Server data above this size is refused.
constexpr std::size_t _MAX_SERVER_DATA = 1024 * 1024;
// A transfer that has received nothing for this long is abandoned.
constexpr _qword _FETCH_STALL_MS = 5000;
// Time limit of the synchronous requests (report, digest).
constexpr int _FETCH_SYNC_TIMEOUT_MS = 3000;

// Synchronous; the answer is ignored.
void SendStartReport(LauncherState& state, const String& url);
// The digest text the operator publishes for the program (empty when nothing arrived).
String FetchProgramDigest(LauncherState& state, const String& url);
// Main record, kind 5: the bytes (unpacked when packed) go to target.
void StartProgramDownload(FetchRecords& fetches, const String& url, const String& target);
// Main record, kind 2; nothing when fileName names an existing file.
void StartPluginDownload(FetchRecords& fetches, const String& url, const String& fileName);
// A failed hall download is tried again after 1, 2, 4 ... up to 30 seconds (on the fetch clock), at most
// this many times in all; then it gives up with a trace line until the next start.
constexpr int _HALL_ATTEMPTS = 7;
constexpr _qword _HALL_FIRST_PAUSE_MS = 1000;
constexpr _qword _HALL_LONGEST_PAUSE_MS = 30000;

// Hall record; the old file is deleted first.
void StartHallDownload(FetchRecords& fetches, const String& url, const String& fileName);
// True once, when the hall download has completed and been written. A failed attempt schedules the next
// one; the poll that finds its time has come starts it.
bool PollHallDownload(FetchRecords& fetches);
// The pause before the attempt that follows failures failed ones.
_qword HallRetryPause(int failures);
// Main record, kind 3; the arguments are setInfoServer's texts 1, 2, 3 and 6 and the main page's address.
void StartServerInfoRequest(FetchRecords& fetches, const String& tmpl, const String& key1, const String& key2,
                            const String& pageUrl, const String& key3);
// True when the record's fetch is finished for its caller: a completed or abandoned program download, a
// completed server information request. Completed downloads with a target are written to it.
bool PollFetch(const FetchRecords& fetches, FetchRecord& record);
// Game loop idle step: polls the main record and applies completed server information.
void PollServerData(LauncherState& state);
// Reads the server information and applies it to the lists, menus and combo box; false (with a trace
// line, everything left as it was) when the bytes are refused.
bool ApplyServerData(LauncherState& state, const std::vector<_byte>& bytes);
// Loop reset: cancels the main record's transfer.
void CancelMainFetch(FetchRecords& fetches);
// The word characters after "name=" (or else "secondName="), or empty.
String ExtractParameter(const String& text, const String& name, const String& secondName);
// The cookies the web views hold for the URL's host.
String GetCookies(const String& url);

} // namespace Vexel
