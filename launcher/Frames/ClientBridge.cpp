#include "Frames/ClientBridge.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

#include <cstring>

namespace Vexel
{

namespace
{

using CreateFunction = IClientProcMsgObject* (*)();
using ReleaseFunction = void (*)(IClientProcMsgObject*);

void Put32(std::vector<_byte>& buffer, std::size_t at, _dword value)
{
    for (int i = 0; i < 4; ++i)
        buffer[at + i] = static_cast<_byte>(value >> (8 * i));
}

void Put16(std::vector<_byte>& buffer, std::size_t at, _word value)
{
    buffer[at] = static_cast<_byte>(value);
    buffer[at + 1] = static_cast<_byte>(value >> 8);
}

bool LoadLibrary(LauncherState& state, ClientBridge& bridge)
{
    if (bridge.mLibrary.IsLoaded())
        return true;
    String beside = JoinFolder(state.mProgramFolder, _CLIENT_LIBRARY);
    if (FileExists(beside) && bridge.mLibrary.LoadModule(beside))
        return true;
    return bridge.mLibrary.LoadModuleByName(_CLIENT_LIBRARY);
}

// Gives the client object back to the library.
void DropClient(ClientBridge& bridge)
{
    if (bridge.mClient && bridge.mLibrary.IsLoaded())
    {
        if (auto release = reinterpret_cast<ReleaseFunction>(
                bridge.mLibrary.GetModuleProc("ReleaseClientProcMsgObject")))
            release(bridge.mClient);
    }
    bridge.mClient = nullptr;
}

} // namespace

ClientBridge::~ClientBridge()
{
    DropClient(*this);
    mLibrary.UnloadModule();
}

std::string Utf8Cut(const String& text, std::size_t limit)
{
    std::string bytes = ToUtf8(text);
    if (bytes.size() <= limit)
        return bytes;
    std::size_t end = limit;
    // Back to the first byte of the character the cut would split.
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    bytes.resize(end);
    return bytes;
}

std::vector<_byte> BuildClientPageMessage(int first, int second, const String& firstText,
                                          const String& secondText, std::size_t& count)
{
    std::vector<_byte> buffer(_CLIENT_MESSAGE_BUFFER, 0);
    std::string one = Utf8Cut(firstText, _CLIENT_FIRST_TEXT_MAX);
    std::string two = Utf8Cut(secondText, _CLIENT_SECOND_TEXT_MAX);
    const _dword body = static_cast<_dword>(12 + one.size() + two.size());
    Put32(buffer, 0, 3);
    Put32(buffer, 4, body);
    Put32(buffer, 8, static_cast<_dword>(second));
    Put32(buffer, 12, static_cast<_dword>(first));
    Put16(buffer, 16, static_cast<_word>(one.size()));
    std::memcpy(buffer.data() + 18, one.data(), one.size());
    Put16(buffer, 18 + one.size(), static_cast<_word>(two.size()));
    std::memcpy(buffer.data() + 20 + one.size(), two.data(), two.size());
    count = 8 + 2 * static_cast<std::size_t>(body);
    return buffer;
}

bool CreateTencentClient(LauncherState& state, const String& text)
{
    if (!state.mClientBridge)
        state.mClientBridge = std::make_unique<ClientBridge>();
    ClientBridge& bridge = *state.mClientBridge;
    if (!LoadLibrary(state, bridge))
    {
        LogTrace(u"[MC] Load QQGameProcMsgHelper library failed!");
        return false;
    }
    auto create =
        reinterpret_cast<CreateFunction>(bridge.mLibrary.GetModuleProc("CreateClientProcMsgObject"));
    if (!create)
    {
        LogTrace(u"[MC] Load QQGameProcMsgHelper function failed!");
        return false;
    }
    // A client made by an earlier call goes back to the library before the new one is kept.
    DropClient(bridge);
    bridge.mClient = create();
    if (!bridge.mClient)
    {
        LogTrace(u"[MC] Create tencent client object failed!");
        return false;
    }
    if (bridge.mClient->Initialize() == 0)
    {
        LogTrace(u"[MC] Init tencent client fail");
        DropClient(bridge); // no page request may reach a client that is not ready
        return false;
    }
    bridge.mHandlers.push_back(std::make_unique<QQGameProcMsgEventHandler>());
    bridge.mClient->SetEventHandler(bridge.mHandlers.back().get());
    char connection[_CLIENT_CONNECT_BUFFER] = {};
    std::string utf8 = Utf8Cut(text, _CLIENT_CONNECT_BUFFER - 1);
    std::memcpy(connection, utf8.data(), utf8.size());
    if (bridge.mClient->Connect(connection) == 0)
    {
        LogTrace(u"[MC] Connect tencent client failed: %ls", text);
        DropClient(bridge);
        return false;
    }
    LogTrace(u"[MC] Create tencent client object Success!");
    return true;
}

bool SendTencentPage(LauncherState& state, int first, int second, const String& firstText,
                     const String& secondText)
{
    if (!state.mClientBridge || !state.mClientBridge->mClient)
        return false;
    IClientProcMsgObject* client = state.mClientBridge->mClient;
    std::size_t count = 0;
    std::vector<_byte> message = BuildClientPageMessage(first, second, firstText, secondText, count);
    if (client->IsReady() == 0)
        return false;
    unsigned int code = client->SendData(static_cast<int>(count), message.data());
    if (code == 0)
    {
        LogTrace(u"[MC] Send msg to tencent client success!");
        return true;
    }
    LogTrace(u"[MC] Send msg to tencent client failed! Error Code:%u", code);
    return false;
}

void ReleaseTencentClient(LauncherState& state)
{
    state.mClientBridge.reset();
}

} // namespace Vexel
