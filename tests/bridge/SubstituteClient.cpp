// A stand-in for the platform client's helper library: the two exports and the client object's slots.
// It records what it receives in one record that a test reads through SubstituteClientRecord, and the
// test sets there what each slot answers. It calls every slot of the event handler it is given, so the
// handler's layout is proven too.
#include <cstring>

namespace
{

class EventHandler
{
public:
    virtual void OnEvent(long a) = 0;
    virtual void OnMessage(long a, long b) = 0;
    virtual void OnOtherEvent(long a) = 0;
    virtual void OnRequest(long a, long b, long c) = 0;
};

} // namespace

extern "C" struct SubstituteRecord
{
    // What the slots answer.
    int createNull;
    int initResult;
    int connectResult;
    int readyResult;
    unsigned int sendResult;
    // What arrived.
    int created;
    int released;
    int initCalls;
    int readyCalls;
    int sendCalls;
    int handlerCalls;
    char connection[4096];
    int sendSize;
    unsigned char message[70000];
};

namespace
{

SubstituteRecord gRecord = {0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, {}, 0, {}};

class Client final
{
public:
    virtual int Initialize()
    {
        ++gRecord.initCalls;
        return gRecord.initResult;
    }
    virtual int Connect(const char* text)
    {
        std::strncpy(gRecord.connection, text, sizeof gRecord.connection - 1);
        return gRecord.connectResult;
    }
    virtual int Unused() { return 0; }
    virtual int IsReady()
    {
        ++gRecord.readyCalls;
        return gRecord.readyResult;
    }
    virtual unsigned int SendData(int size, const void* data)
    {
        ++gRecord.sendCalls;
        gRecord.sendSize = size;
        if (size > 0 && static_cast<unsigned>(size) <= sizeof gRecord.message)
            std::memcpy(gRecord.message, data, static_cast<unsigned>(size));
        return gRecord.sendResult;
    }
    virtual void SetEventHandler(EventHandler* handler)
    {
        handler->OnEvent(1);
        handler->OnMessage(2, 3);
        handler->OnOtherEvent(4);
        handler->OnRequest(5, 6, 7);
        gRecord.handlerCalls += 4;
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) SubstituteRecord* SubstituteClientRecord()
{
    return &gRecord;
}

extern "C" __attribute__((visibility("default"))) void* CreateClientProcMsgObject()
{
    if (gRecord.createNull)
        return nullptr;
    ++gRecord.created;
    return new Client;
}

extern "C" __attribute__((visibility("default"))) void ReleaseClientProcMsgObject(void* client)
{
    ++gRecord.released;
    delete static_cast<Client*>(client);
}
