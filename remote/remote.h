// The remote device: the eight backend operations that carry file work to a
// file host over one connected socket, one request and one reply at a time
// (a read of several chunks puts a window of requests on the wire at once),
// and the switch that installs them in LocalDevice's backend block.
#pragma once

#include <cstdint>
#include <functional>

#include "core/ipc.h"
#include "file/device.h"
#include "remote/wire.h"

// The connection to the host; meaningful only while s_RemoteEnabled is true.
extern plat::SocketHandle s_RemoteSocket;
// The host is available; until it is, SwitchDevice refuses every switch.
extern bool s_RemoteEnabled;
// 0 while the local operations are installed, 1 while the remote ones are.
extern uint8_t s_CurrentDevice;
// Serialises exchanges; made by the first one.
extern Semaphore s_RemoteSema;
// The remote operations as a backend block, as SwitchDevice installs them.
extern const LocalBackend s_RemoteBackend;

// Sends request (its length bytes) and receives the reply into recvPkt, whose
// header the caller has pre-filled with the expected reply code, result -1 and
// length 16. A reply that does not arrive whole leaves those values; one with
// the wrong code or longer than recvSize fails an assertion, and past it only
// recvSize bytes are kept, the rest read and dropped.
void RemoteExchange(const RemotePacket* request, RemotePacket* recvPkt, int32_t recvSize);
// Called with each reply's index as it lies in the exchange's reply packet.
typedef std::function<void(int32_t index)> RemoteReplyTaker;
// Sends requestBytes of requests at once, then receives replies of them in
// turn, each into recvPkt pre-filled anew as for RemoteExchange and handed to
// take (when not empty) before the next, all under one hold of s_RemoteSema.
// After a reply that does not arrive whole no more are waited for; it is
// still handed over, with the pre-filled values. The first faulty reply is
// reported as RemoteExchange reports one.
void RemoteExchangeWindow(const void* requests, int32_t requestBytes, int32_t replies,
                          RemotePacket* recvPkt, int32_t recvSize, const RemoteReplyTaker& take);
// SendAllOn and RecvAllOn over s_RemoteSocket, except that RecvAll takes
// bytes received ahead first: whatever one receive brings is kept until asked for.
bool SendAll(const void* buffer, int32_t count);
bool RecvAll(void* buffer, int32_t count);

// The backend operations. A name longer than 255 characters is refused (-1
// or false) without anything being sent.
// Reads and writes travel in pieces of at most 4096 bytes.
//
// How many read requests a read puts on the wire before it reads the first
// reply, clamped to 1..kRemoteMaxReadWindow; 1 sends each piece's request
// only once the one before has been answered. A host talked to this way must
// answer strictly in the order it was asked, and must go on reading requests
// while the client has not yet read the replies to earlier ones (it must not
// wait for a reply to be taken before it reads the next request), queueing
// up to a window of 24-byte requests. A read whose pieces come back short
// asks for the rest afterwards; after an end of file or a failure the
// replies still due are read and dropped, so the next exchange stays in step.
extern int32_t s_RemoteReadWindow;
const int32_t kRemoteMaxReadWindow = 64;
bool RemoteIsNewer(const char* first, const char* second);
int32_t RemoteOpen(const char* name, uint8_t readOnly);
int32_t RemoteCreate(const char* name);
int32_t RemoteSeek(int32_t handle, int32_t offset, int32_t origin);
int32_t RemoteWrite(int32_t handle, const void* buffer, int32_t count);
int32_t RemoteRead(int32_t handle, void* buffer, int32_t count);
int32_t RemoteClose(int32_t handle);
bool RemoteDelete(const char* name);

// id 0 installs the local operations, any other the remote ones. false, and
// nothing changes, while the host is not available.
bool SwitchDevice(uint8_t id);
uint8_t GetCurrentDevice();

// Connects s_RemoteSocket to a file host at host ("localhost" or dotted IPv4)
// and port, and sets s_RemoteEnabled. An earlier connection is dropped first.
// false, with an error message, when the host cannot be reached.
bool RemoteConnect(const char* host, int32_t port);
// Puts the local operations back and closes the connection. Streams opened on
// the host must be closed before: their handles mean nothing locally.
void RemoteDisconnect();
