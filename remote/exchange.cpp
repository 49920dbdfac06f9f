// The connection to the file host and the exchanges on it: one request and
// its reply, or a window of requests sent together and their replies in turn.
#include <cstring>

#include "core/assert.h"
#include "core/output.h"
#include "remote/remote.h"

plat::SocketHandle s_RemoteSocket = 0;
Semaphore s_RemoteSema = nullptr;

// Two threads making their first exchange at once must share one semaphore.
static Semaphore RemoteSema() {
    static Semaphore sema = (s_RemoteSema = CreateSema(1));
    return sema;
}

bool SendAll(const void* buffer, int32_t count) {
    return SendAllOn(s_RemoteSocket, buffer, count);
}

// Bytes received ahead of the reply that needs them: one receive takes
// whatever the socket holds, so a window of replies that came together costs
// a receive or two instead of two each. Kept for the next reply, never lost.
static struct {
    int32_t m_Start, m_End;
    uint8_t m_Bytes[17 * sizeof(RemoteReadReply)];
} s_Received;

static void ForgetReceived() {
    s_Received.m_Start = s_Received.m_End = 0;
}

// A receive of 0 bytes means the peer has gone: waiting on would never end.
static bool ReceiveMore() {
    ForgetReceived();
    int32_t got = plat::SocketRecv(s_RemoteSocket, s_Received.m_Bytes, sizeof s_Received.m_Bytes);
    s_Received.m_End = got > 0 ? got : 0;
    return got > 0;
}

bool RecvAll(void* buffer, int32_t count) {
    uint8_t* to = static_cast<uint8_t*>(buffer);
    for (int32_t n; count > 0; to += n, count -= n) {
        if (s_Received.m_Start == s_Received.m_End && !ReceiveMore()) return false;
        n = s_Received.m_End - s_Received.m_Start;
        n = count < n ? count : n;
        memcpy(to, s_Received.m_Bytes + s_Received.m_Start, n);
        s_Received.m_Start += n;
    }
    return true;
}

// Reads and drops count bytes, so that the next exchange starts at its reply.
static bool Drain(int32_t count) {
    uint8_t scratch[1024];
    for (int32_t n; count > 0; count -= n) {
        n = count < static_cast<int32_t>(sizeof scratch) ? count : sizeof scratch;
        if (!RecvAll(scratch, n)) return false;
    }
    return true;
}

// The payload after the header: what fits recvSize into the buffer, the rest
// drained. A length short of the header's own (down to INT32_MIN) means none.
static bool RecvPayload(RemotePacket* recvPkt, int32_t recvSize) {
    int32_t length = recvPkt->length;
    int32_t payload = length > kRemoteHeaderSize ? length - kRemoteHeaderSize : 0;
    int32_t room = recvSize > kRemoteHeaderSize ? recvSize - kRemoteHeaderSize : 0;
    int32_t kept = payload < room ? payload : room;
    return RecvAll(recvPkt + 1, kept) && Drain(payload - kept);
}

static void CheckReply(const RemotePacket* recvPkt, int32_t command, int32_t recvSize) {
    Assert(recvPkt->command == command);
    Assert(recvPkt->length <= (int)recvSize);
}

static bool Faulty(const RemotePacket* recvPkt, int32_t command, int32_t recvSize) {
    return recvPkt->command != command || recvPkt->length > recvSize;
}

// How one reply came: its header as received (a payload that then fails to
// arrive puts the pre-filled values back in the caller's packet).
struct Arrival {
    bool m_Header, m_Whole;
    RemotePacket m_Received;
};

static Arrival ReceiveReply(RemotePacket* recvPkt, int32_t recvSize) {
    const RemotePacket expected = *recvPkt;
    Arrival arrival = {RecvAll(recvPkt, kRemoteHeaderSize), false, {}};
    arrival.m_Received = *recvPkt;
    arrival.m_Whole = arrival.m_Header && RecvPayload(recvPkt, recvSize);
    if (!arrival.m_Whole) *recvPkt = expected;
    return arrival;
}

// A reply that does not arrive whole means the connection is gone: waiting
// for the ones after it would only fail again, so none is waited for.
static bool ReceiveReplies(int32_t replies, RemotePacket* recvPkt, int32_t recvSize,
                           const RemoteReplyTaker& take, RemotePacket* fault) {
    const RemotePacket expected = *recvPkt;
    bool faulty = false;
    for (int32_t i = 0; i < replies; ++i) {
        *recvPkt = expected;
        const Arrival arrival = ReceiveReply(recvPkt, recvSize);
        if (!faulty && arrival.m_Header && Faulty(&arrival.m_Received, expected.command, recvSize)) {
            *fault = arrival.m_Received;
            faulty = true;
        }
        if (take) take(i);
        if (!arrival.m_Whole) break;
    }
    return faulty;
}

// A faulty reply is reported only once the semaphore is free again: the fatal
// stop closes every stream, and closing a remote one is an exchange too.
void RemoteExchangeWindow(const void* requests, int32_t requestBytes, int32_t replies,
                          RemotePacket* recvPkt, int32_t recvSize, const RemoteReplyTaker& take) {
    const int32_t command = recvPkt->command;
    Semaphore sema = RemoteSema();
    WaitSema(sema);
    SendAll(requests, requestBytes);
    RemotePacket fault;
    bool faulty = ReceiveReplies(replies, recvPkt, recvSize, take, &fault);
    SignalSema(sema);
    if (faulty) CheckReply(&fault, command, recvSize);
}

void RemoteExchange(const RemotePacket* request, RemotePacket* recvPkt, int32_t recvSize) {
    RemoteExchangeWindow(request, request->length, 1, recvPkt, recvSize, nullptr);
}

bool RemoteConnect(const char* host, int32_t port) {
    RemoteDisconnect();
    plat::SocketHandle socket = plat::SocketConnect(host, port);
    if (socket < 0) {
        Errorf("Cannot connect to the file host at %s:%d", host ? host : "(none)", port);
        return false;
    }
    s_RemoteSocket = socket;
    ForgetReceived();
    s_RemoteEnabled = true;
    return true;
}

// Under the semaphore, so that an exchange in flight on another thread ends
// before its socket does.
void RemoteDisconnect() {
    if (!s_RemoteEnabled) return;
    SwitchDevice(0);
    WaitSema(RemoteSema());
    s_RemoteEnabled = false;
    plat::SocketClose(s_RemoteSocket);
    s_RemoteSocket = 0;
    ForgetReceived();
    SignalSema(RemoteSema());
}
