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

struct HostOptions {
    const char* m_Address;  // 127.0.0.1 unless given
    const char* m_Root;
    int32_t m_Port;  // 0: any free port
};

// Reads "[-a address] root port". false, after printing the usage or what is
// wrong, when the arguments cannot be served.
bool ParseHostArgs(int argc, char** argv, HostOptions* options);

// Joins root and a client's name, either separator accepted, into path with
// '/' between. false when the name is empty, absolute, carries a colon (a
// drive or a Windows stream), has a part ending in a dot or a space (which
// Windows would quietly trim), climbs above root with "..", or does not fit.
bool ConfineName(const char* root, const char* name, char* path, size_t size);

// The files one connection has open; a client's handle is a slot number, so
// no connection can reach another's files or the host's own.
struct HostSession {
    const char* m_Root;
    int32_t m_Files[kHostMaxFiles];  // -1 for a free slot
};
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
// Serves a connection until the client leaves, the socket fails or a request
// claims a length no request can have.
void ServeConnection(const char* root, plat::SocketHandle socket);
// Listens and serves until Ctrl-C: 0 after a clean stop, 1 when it cannot
// listen.
int RunHost(const HostOptions& options);

// Starts the host program serving root on a free loopback port, stored in
// *port, and waits until it accepts connections. The process for
// plat::ProcessStop, or -1 when it did not come up within 30 seconds.
int64_t StartFileHost(const char* program, const char* root, int32_t* port);
