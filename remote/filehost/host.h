// filehost: serves the files under one root directory to remote-device
// clients over TCP. Each connection has its own thread, its own open files
// and answers one request at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "remote/wire.h"

const int kHostMaxFiles = 64;        // open files per connection
const int kHostMaxConnections = 32;  // more are turned away
const size_t kHostMaxRoot = 512;     // bytes of the root path
const size_t kHostPathSize = kHostMaxRoot + 1 + kRemoteNameField;
const size_t kHostRealPathSize = 4096;  // a path with its links resolved

// A connection that sends no whole request for this long is closed, so that
// silent clients cannot hold every connection the host serves.
const int32_t kHostIdleSeconds = 600;
const int32_t kHostMaxIdleSeconds = 86400;
// Most bytes of replies gathered before they are sent: replies to requests
// that arrived together travel together, up to 16 whole read replies.
const size_t kHostReplyBatch = 16 * sizeof(RemoteReadReply);
// How long the listener rests after a connection could not be accepted.
const uint32_t kHostAcceptPauseMs = 100;

struct HostOptions {
    const char* m_Address;  // 127.0.0.1 unless given
    const char* m_Root;
    int32_t m_Port;         // 0: any free port
    int32_t m_IdleSeconds;  // 0: connections never time out
};

// Reads "[-a ADDRESS] [-t SECONDS] ROOT PORT" (or --address, --timeout).
// false when there is nothing to serve: the usage or the version was asked
// for, or what is wrong was said on standard error; *status is then the
// process's. Warns when the address is not a loopback one: anyone who
// reaches the host is served.
bool ParseHostArgs(int argc, char** argv, HostOptions* options, int* status);

// Joins root and a client's name, either separator accepted, into path with
// '/' between. false when the name is empty, absolute, carries a colon (a
// drive or a Windows stream), has a part ending in a dot or a space (which
// Windows would quietly trim), has a part that names a Windows device (CON,
// PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$, in any case,
// with or without an extension), climbs above root with "..", or does not fit.
// The result is only lexically inside root; ResolvePlace follows its links.
bool ConfineName(const char* root, const char* name, char* path, size_t size);

// Where a path from ConfineName really leads once symbolic links are followed.
enum HostPlace {
    kHostOutside,  // outside the real root, or its directory is
    kHostMissing,  // nothing there yet, but its directory lies within the root
    kHostInside,   // an existing file or directory strictly inside the root
};
// realRoot is the root as plat::PathResolve gives it. resolved is set to the
// real path when inside, and to where a create would put it when missing.
HostPlace ResolvePlace(const char* realRoot, const char* path, char* resolved, size_t size);
// The entry the path's last part names, link or not: its directory's real
// path, which must lie within the root, and the last part. false otherwise.
bool ResolveEntry(const char* realRoot, const char* path, char* entry, size_t size);

// The files one connection has open; a client's handle is a slot number, so
// no connection can reach another's files or the host's own.
struct HostSession {
    const char* m_Root;
    char m_RealRoot[kHostRealPathSize];  // empty when the root cannot be resolved
    int32_t m_Files[kHostMaxFiles];      // -1 for a free slot
};
// With a root that cannot be resolved, every name is refused.
void OpenSession(HostSession* session, const char* root);
// Closes every file the client left open.
void CloseSession(HostSession* session);
// The slot now holding file (closed and -1 when none is free, or file < 0).
int32_t SessionAdd(HostSession* session, int32_t file);
// The file behind a client's handle; -1 when it is not one of this session's.
int32_t SessionFile(const HostSession* session, int32_t handle);
// Frees the slot and returns its file; -1 when it was not open.
int32_t SessionRemove(HostSession* session, int32_t handle);

// Any request, as received: header.length bytes, never more than the largest.
union HostRequest {
    RemotePacket header;
    RemoteOpenPacket open;
    RemoteSeekPacket seek;
    RemoteDataPacket data;
    RemoteClosePacket close;
    RemoteIsNewerPacket isNewer;
    RemoteDeletePacket remove;
};

// One operation of the protocol: the lengths a request may have, and the
// function that carries it out and returns the reply's result (a read also
// fills the reply's data).
struct HostOperation {
    int32_t m_Request;
    int32_t m_Reply;
    int32_t m_MinLength;
    int32_t m_MaxLength;
    int32_t (*m_Serve)(HostSession* session, const HostRequest* request, RemoteReadReply* reply);
};
const int kHostOperationCount = 7;
extern const HostOperation kHostOperations[kHostOperationCount];

// Answers one request into reply and returns the reply's length. An unknown
// code or a length the operation cannot have gets result -1.
int32_t ServeRequest(HostSession* session, const HostRequest* request, RemoteReadReply* reply);
// The file a read or write of packet.count bytes (1 to 4096) reaches; -1 when
// the count is out of range or the handle is not one of this session's.
int32_t DataFile(const HostSession* session, const RemoteDataPacket& packet);
// Serves a connection until the client leaves, the socket fails, a request
// claims a length no request can have, or (idleSeconds above 0) no whole
// request arrives, or no reply can be sent, for idleSeconds.
void ServeConnection(const char* root, plat::SocketHandle socket, int32_t idleSeconds);

// The calls the listening loop makes, as a table that a test can replace.
struct HostListenCalls {
    int32_t (*Wait)(plat::SocketHandle listener, int32_t timeoutMs);
    plat::SocketHandle (*Accept)(plat::SocketHandle listener);
    void (*Pause)(uint32_t ms);
    bool (*Interrupted)();
};
extern const HostListenCalls kHostListenCalls;
// Accepts and serves connections, each on a thread of its own, until Ctrl-C,
// then ends them all. false when waiting for connections failed.
bool ServeUntilInterrupted(const HostOptions& options, plat::SocketHandle listener,
                           const HostListenCalls& calls);
// Listens and serves until Ctrl-C: 0 after a clean stop, 1 when it cannot
// listen.
int RunHost(const HostOptions& options);

// Starts the host program serving root on a free loopback port, stored in
// *port, and waits until it accepts connections; options, when not null, is
// a null-ended list of arguments put before the root. The process for
// plat::ProcessStop, or -1 when it did not come up within 30 seconds.
int64_t StartFileHost(const char* program, const char* root, int32_t* port,
                      const char* const* options = nullptr);
