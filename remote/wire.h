// The remote file protocol's packets, shared by the client device and the
// host. Every packet is a 16-byte header and a payload; all integers are
// 32-bit little-endian, laid out here exactly as they travel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The structs below are sent and received as they lie in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "packets are little-endian");

enum : int32_t {
    kRequestOpen = 2,  // Open and Create alike, told apart by the create flag
    kReplyOpen = 3,
    kRequestSeek = 4,
    kRequestWrite = 6,
    kReplyWrite = 7,
    kRequestRead = 8,
    kReplyRead = 9,
    kRequestClose = 10,
    kReplyClose = 11,
    kReplySeek = 11,  // not 5: a seek is answered as a close is
    kRequestIsNewer = 15,
    kReplyIsNewer = 16,
    kRequestDelete = 17,
    kReplyDelete = 18,
};

const int32_t kRemoteHeaderSize = 16;
const int32_t kRemoteChunk = 4096;     // most data bytes in one read or write
const int32_t kRemoteNameField = 256;  // a name and its terminator

struct RemotePacket {
    int32_t reserved;  // 0 in requests, not examined in replies
    int32_t command;
    int32_t result;  // 0 in requests
    int32_t length;  // bytes of the whole packet, header included
};

// Open and Create; the name runs to its terminator, which ends the packet.
struct RemoteOpenPacket {
    RemotePacket header;
    int32_t readOnly;
    int32_t create;
    char name[kRemoteNameField];
};

struct RemoteSeekPacket {
    RemotePacket header;
    int32_t handle;
    int32_t offset;
    int32_t origin;
};

// A write request carries count data bytes; a read request none, and its
// reply carries the bytes read straight after the header.
struct RemoteDataPacket {
    RemotePacket header;
    int32_t handle;
    int32_t count;
    uint8_t data[kRemoteChunk];
};

struct RemoteReadReply {
    RemotePacket header;
    uint8_t data[kRemoteChunk];
};

struct RemoteClosePacket {
    RemotePacket header;
    int32_t handle;
};

// Always sent whole: both name fields zero-filled after their names.
struct RemoteIsNewerPacket {
    RemotePacket header;
    char first[kRemoteNameField];
    char second[kRemoteNameField];
};

struct RemoteDeletePacket {
    RemotePacket header;
    char name[kRemoteNameField];
};

static_assert(sizeof(RemotePacket) == kRemoteHeaderSize, "header layout");
static_assert(offsetof(RemoteOpenPacket, name) == 24, "open layout");
static_assert(sizeof(RemoteSeekPacket) == 28, "seek layout");
static_assert(offsetof(RemoteDataPacket, data) == 24, "write layout");
static_assert(sizeof(RemoteReadReply) == 4112, "read reply layout");
static_assert(sizeof(RemoteClosePacket) == 20, "close layout");
static_assert(sizeof(RemoteIsNewerPacket) == 528, "is-newer layout");
static_assert(offsetof(RemoteDeletePacket, name) == 16, "delete layout");

// Move exactly count bytes over socket, looping over partial transfers. A
// count of 0 or less succeeds at once; a failure, or a peer that closed its
// end (a receive of 0 bytes), returns false.
bool SendAllOn(plat::SocketHandle socket, const void* buffer, int32_t count);
bool RecvAllOn(plat::SocketHandle socket, void* buffer, int32_t count);
