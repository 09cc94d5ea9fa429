// The bridge to the outside game-platform client: its helper library is loaded at run time, a client
// object is made, initialised and connected, and the pages can then ask for a page to be opened in the
// platform client. Only what passes between the launcher and the library is fixed here; the library
// itself is not part of this program.
//
// The library exports "CreateClientProcMsgObject" (no arguments; the client object or null) and
// "ReleaseClientProcMsgObject" (the client object). The client object's interface slots used: 0
// initialise, 1 connect (UTF-8 text), 3 ready check, 4 send (byte count, message), 5 set the event handler.
// The library is "QQGameProcMsgHelper.dll" on Windows (the platform client installs it under that name)
// and "libQQGameProcMsgHelper.so" on Linux, beside the program, or else where the system finds libraries.
#pragma once

#include "Base/LauncherState.h"

#include "Platform/Module.h"

#include <memory>
#include <vector>

namespace Vexel
{

#if defined(_WIN32)
constexpr const char16_t* _CLIENT_LIBRARY = u"QQGameProcMsgHelper.dll";
#else
constexpr const char16_t* _CLIENT_LIBRARY = u"libQQGameProcMsgHelper.so";
#endif
// The message buffer, and the longest texts of the open-page request and the connection.
constexpr std::size_t _CLIENT_MESSAGE_BUFFER = 65540;
constexpr std::size_t _CLIENT_FIRST_TEXT_MAX = 63;
constexpr std::size_t _CLIENT_SECOND_TEXT_MAX = 2047;
constexpr std::size_t _CLIENT_CONNECT_BUFFER = 2048;

// The library's event interface: four operations in this order, called by the library.
class IClientProcMsgEventHandler
{
public:
    virtual void OnEvent(long a) = 0;
    virtual void OnMessage(long a, long b) = 0;
    virtual void OnOtherEvent(long a) = 0;
    virtual void OnRequest(long a, long b, long c) = 0;

protected:
    ~IClientProcMsgEventHandler() = default; // the library never deletes it
};

// The launcher's handler: it takes note of nothing.
class QQGameProcMsgEventHandler final : public IClientProcMsgEventHandler
{
public:
    void OnEvent(long) override {}
    void OnMessage(long, long) override {}
    void OnOtherEvent(long a) override { OnEvent(a); }
    void OnRequest(long, long, long) override {}
};

// The client object's interface as far as the launcher uses it (slot 2 is not used).
class IClientProcMsgObject
{
public:
    virtual int Initialize() = 0;
    virtual int Connect(const char* text) = 0;
    virtual int Unused() = 0;
    virtual int IsReady() = 0;
    virtual unsigned int SendData(int size, const void* data) = 0;
    virtual void SetEventHandler(IClientProcMsgEventHandler* handler) = 0;

protected:
    ~IClientProcMsgObject() = default; // released through the library
};

class ClientBridge
{
public:
    ClientBridge() = default;
    // Releases the client object through the library, then unloads it.
    ~ClientBridge();
    ClientBridge(const ClientBridge&) = delete;
    ClientBridge& operator=(const ClientBridge&) = delete;

    Module mLibrary;
    IClientProcMsgObject* mClient = nullptr;
    std::vector<std::unique_ptr<QQGameProcMsgEventHandler>> mHandlers; // one per successful connection
};

// The open-page request: type 3, body length, the second and first number, then each text with its
// 16-bit length (cut to 63 and 2,047 bytes of UTF-8 at a character boundary); in a zero-filled buffer of
// _CLIENT_MESSAGE_BUFFER bytes. count receives 8 + 2 x body length, the byte count sent.
std::vector<_byte> BuildClientPageMessage(int first, int second, const String& firstText,
                                          const String& secondText, std::size_t& count);
// UTF-8 of text, at most limit bytes, never ending inside a character.
std::string Utf8Cut(const String& text, std::size_t limit);

bool CreateTencentClient(LauncherState& state, const String& text);
bool SendTencentPage(LauncherState& state, int first, int second, const String& firstText,
                     const String& secondText);
// Releases the client and unloads the library (also done when the state goes).
void ReleaseTencentClient(LauncherState& state);

} // namespace Vexel
