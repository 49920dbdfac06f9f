// The remote read: a window of piece requests sent together, their replies
// taken in turn and copied one after another into the caller's buffer.
#include <cstring>

#include "remote/remote.h"

// One window carries a 64 KB read, the size a program moving a large file
// would use, in a single round trip.
int32_t s_RemoteReadWindow = 16;

namespace {

// A read request alone, so that a window of them lies back to back.
struct ReadRequest {
    RemotePacket header;
    int32_t handle;
    int32_t count;
};
static_assert(sizeof(ReadRequest) == 24, "read request layout");

// What a window's replies have given so far.
struct WindowRead {
    uint8_t* m_To;
    int32_t m_Copied;
    int32_t m_End;  // 1 while replies bring bytes, 0 after an end of file, -1 after a failure
};

int32_t Min(int32_t a, int32_t b) {
    return a < b ? a : b;
}

int32_t WindowSize() {
    int32_t window = s_RemoteReadWindow;
    return window < 1 ? 1 : Min(window, kRemoteMaxReadWindow);
}

// Pieces of at most 4096 bytes over count, as many as the window holds.
int32_t PlanWindow(int32_t handle, int32_t count, ReadRequest* requests) {
    int32_t planned = 0;
    for (const int32_t window = WindowSize(); count > 0 && planned < window; ++planned) {
        const int32_t piece = Min(count, kRemoteChunk);
        requests[planned] = {{0, kRequestRead, 0, 24}, handle, piece};
        count -= piece;
    }
    return planned;
}

// Whatever the host claims, no more is copied than was asked for and than
// the reply carries.
int32_t PieceResult(const RemoteReadReply& reply, int32_t asked) {
    if (reply.header.result <= 0) return reply.header.result;
    const int32_t length = Min(reply.header.length, static_cast<int32_t>(sizeof reply));
    const int32_t carried = length > kRemoteHeaderSize ? length - kRemoteHeaderSize : 0;
    return Min(reply.header.result, Min(asked, carried));
}

// The host reads its file in turn, so after a short piece the next reply
// carries the very next bytes: each is copied straight after the last. The
// sum of what was asked bounds the copies by the caller's count. Once a reply
// ends the read, those after it are dropped.
void TakePiece(WindowRead* read, const RemoteReadReply& reply, int32_t asked) {
    if (read->m_End <= 0) return;
    const int32_t result = PieceResult(reply, asked);
    if (result <= 0) {
        read->m_End = result < 0 ? -1 : 0;
        return;
    }
    memcpy(read->m_To + read->m_Copied, reply.data, result);
    read->m_Copied += result;
}

// -1 on a failure, else the bytes copied; *ended after an end of file.
int32_t ReadWindow(int32_t handle, uint8_t* to, int32_t count, bool* ended) {
    ReadRequest requests[kRemoteMaxReadWindow];
    const int32_t planned = PlanWindow(handle, count, requests);
    RemoteReadReply reply;
    reply.header = {0, kReplyRead, -1, kRemoteHeaderSize};
    WindowRead read = {to, 0, 1};
    RemoteExchangeWindow(requests, planned * static_cast<int32_t>(sizeof *requests), planned,
                         &reply.header, sizeof reply,
                         [&](int32_t i) { TakePiece(&read, reply, requests[i].count); });
    *ended = read.m_End == 0;
    return read.m_End < 0 ? -1 : read.m_Copied;
}

}  // namespace

// Short windows are followed by one for the rest; an end of file returns the
// total so far, and a failure is -1, dropping the total, whatever negative
// result the host sent: the local operations fail with -1 alone.
int32_t RemoteRead(int32_t handle, void* buffer, int32_t count) {
    uint8_t* to = static_cast<uint8_t*>(buffer);
    int32_t total = 0;
    for (bool ended = false; total < count && !ended;) {
        const int32_t copied = ReadWindow(handle, to + total, count - total, &ended);
        if (copied < 0) return -1;
        total += copied;
    }
    return total;
}
