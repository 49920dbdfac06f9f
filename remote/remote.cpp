// The remote operations but the read (read.cpp): each builds its request,
// pre-fills the reply so that an exchange in which nothing arrives yields -1,
// and exchanges.
#include "remote/remote.h"

#include <cstring>

#include "core/strings.h"

static int32_t Min(int32_t a, int32_t b) {
    return a < b ? a : b;
}

static int32_t NameLength(const char* field) {
    return static_cast<int32_t>(strlen(field));
}

static RemotePacket Header(int32_t command, int32_t length) {
    return {0, command, 0, length};
}

// One exchange whose reply carries nothing but its result.
static int32_t ResultOf(const RemotePacket* request, int32_t replyCommand) {
    RemotePacket reply = {0, replyCommand, -1, kRemoteHeaderSize};
    RemoteExchange(request, &reply, sizeof reply);
    return reply.result;
}

// A name cut to fit its field would name another file (its prefix), which a
// create would truncate and a delete remove: a name that does not fit is
// refused before anything is sent.
static bool NameFits(const char* name) {
    return strlen(name) < static_cast<size_t>(kRemoteNameField);
}

// The packet ends at the name's terminator.
static int32_t OpenOrCreate(const char* name, int32_t readOnly, int32_t create) {
    if (!NameFits(name)) return -1;
    RemoteOpenPacket packet;
    SafeStrncpy(packet.name, name, sizeof packet.name);
    packet.header = Header(kRequestOpen, 25 + NameLength(packet.name));
    packet.readOnly = readOnly;
    packet.create = create;
    return ResultOf(&packet.header, kReplyOpen);
}

int32_t RemoteOpen(const char* name, uint8_t readOnly) {
    return OpenOrCreate(name, readOnly, 0);
}

int32_t RemoteCreate(const char* name) {
    return OpenOrCreate(name, 0, 1);
}

int32_t RemoteSeek(int32_t handle, int32_t offset, int32_t origin) {
    RemoteSeekPacket packet = {Header(kRequestSeek, sizeof packet), handle, offset, origin};
    return ResultOf(&packet.header, kReplySeek);
}

int32_t RemoteClose(int32_t handle) {
    RemoteClosePacket packet = {Header(kRequestClose, sizeof packet), handle};
    return ResultOf(&packet.header, kReplyClose);
}

// SafeStrncpy zero-fills each field after its name, so the whole packet goes.
bool RemoteIsNewer(const char* first, const char* second) {
    if (!NameFits(first) || !NameFits(second)) return false;
    RemoteIsNewerPacket packet;
    packet.header = Header(kRequestIsNewer, sizeof packet);
    SafeStrncpy(packet.first, first, sizeof packet.first);
    SafeStrncpy(packet.second, second, sizeof packet.second);
    return ResultOf(&packet.header, kReplyIsNewer) == 1;
}

bool RemoteDelete(const char* name) {
    if (!NameFits(name)) return false;
    RemoteDeletePacket packet;
    SafeStrncpy(packet.name, name, sizeof packet.name);
    packet.header = Header(kRequestDelete, 17 + NameLength(packet.name));
    return ResultOf(&packet.header, kReplyDelete) == 0;
}

// A host that claims to have written more than it was sent is not believed.
static int32_t WriteChunk(int32_t handle, const uint8_t* source, int32_t n) {
    RemoteDataPacket packet;
    packet.header = Header(kRequestWrite, 24 + n);
    packet.handle = handle;
    packet.count = n;
    memcpy(packet.data, source, n);
    return Min(ResultOf(&packet.header, kReplyWrite), n);
}

// Moves count bytes a chunk at a time. A short chunk is followed by the rest
// (a short write sends the unwritten rest again), a chunk of 0 ends early, and
// a failure is -1, dropping the total, whatever negative result the host
// sent: the local operations fail with -1 alone.
template <typename Byte, typename Chunk>
static int32_t InChunks(int32_t handle, Byte* bytes, int32_t count, Chunk chunk) {
    int32_t total = 0;
    while (count > 0) {
        int32_t result = chunk(handle, bytes + total, Min(count, kRemoteChunk));
        if (result <= 0) return result < 0 ? -1 : total;
        total += result;
        count -= result;
    }
    return total;
}

int32_t RemoteWrite(int32_t handle, const void* buffer, int32_t count) {
    return InChunks(handle, static_cast<const uint8_t*>(buffer), count, WriteChunk);
}
