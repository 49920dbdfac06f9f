// One connection: its open files, and its requests answered in turn.
#include <cstring>
#include <vector>

#include "core/output.h"
#include "remote/filehost/host.h"

void OpenSession(HostSession* session, const char* root) {
    session->m_Root = root;
    if (!plat::PathResolve(root, session->m_RealRoot, sizeof session->m_RealRoot))
        session->m_RealRoot[0] = 0;
    for (int32_t& file : session->m_Files) file = -1;
}

void CloseSession(HostSession* session) {
    for (int32_t& file : session->m_Files) {
        if (file >= 0) plat::FileClose(file);
        file = -1;
    }
}

int32_t SessionAdd(HostSession* session, int32_t file) {
    if (file < 0) return -1;
    for (int32_t slot = 0; slot < kHostMaxFiles; ++slot) {
        if (session->m_Files[slot] >= 0) continue;
        session->m_Files[slot] = file;
        return slot;
    }
    plat::FileClose(file);
    return -1;
}

int32_t SessionFile(const HostSession* session, int32_t handle) {
    if (handle < 0 || handle >= kHostMaxFiles) return -1;
    return session->m_Files[handle];
}

int32_t SessionRemove(HostSession* session, int32_t handle) {
    int32_t file = SessionFile(session, handle);
    if (file >= 0) session->m_Files[handle] = -1;
    return file;
}

static const HostOperation* FindOperation(int32_t command) {
    for (const HostOperation& op : kHostOperations)
        if (op.m_Request == command) return &op;
    return nullptr;
}

// An unknown request is answered with its code plus one, as known ones are.
int32_t ServeRequest(HostSession* session, const HostRequest* request, RemoteReadReply* reply) {
    const HostOperation* op = FindOperation(request->header.command);
    int32_t length = request->header.length;
    int32_t code = op ? op->m_Reply : static_cast<int32_t>(request->header.command + 1u);
    reply->header = {0, code, -1, kRemoteHeaderSize};
    if (!op || length < op->m_MinLength || length > op->m_MaxLength) return kRemoteHeaderSize;
    reply->header.result = op->m_Serve(session, request, reply);
    if (op->m_Request == kRequestRead && reply->header.result > 0)
        reply->header.length += reply->header.result;
    return reply->header.length;
}

// Whether a request of this length can be: no shorter than its header, no
// longer than the largest request.
static bool PlausibleLength(int32_t length) {
    return length >= kRemoteHeaderSize && length <= static_cast<int32_t>(sizeof(HostRequest));
}

// Requests as they arrive: whatever the socket holds is taken in one
// receive, so a window of requests sent together costs one.
struct RequestStream {
    plat::SocketHandle m_Socket;
    uint32_t m_LimitMs;  // 0: no idle time-out
    int32_t m_Start, m_End;
    uint8_t m_Bytes[2 * sizeof(HostRequest)];
};

// Waits for data unless (limitMs above 0) more than limitMs have gone by
// since start. A wait cut short by a signal only waits again.
static bool WaitWithin(const RequestStream* in, uint32_t start) {
    while (in->m_LimitMs > 0) {
        uint32_t waited = plat::TimeMs() - start;
        if (waited >= in->m_LimitMs) return false;
        int32_t ready = plat::SocketWait(in->m_Socket, static_cast<int32_t>(in->m_LimitMs - waited));
        if (ready != 0) return ready > 0;
    }
    return true;
}

// Until count bytes are buffered, receives as many as fit.
static bool Fill(RequestStream* in, int32_t count, uint32_t start) {
    if (in->m_End - in->m_Start >= count) return true;
    memmove(in->m_Bytes, in->m_Bytes + in->m_Start, static_cast<size_t>(in->m_End - in->m_Start));
    in->m_End -= in->m_Start;
    in->m_Start = 0;
    while (in->m_End < count) {
        if (!WaitWithin(in, start)) return false;
        int32_t room = static_cast<int32_t>(sizeof in->m_Bytes) - in->m_End;
        int32_t got = plat::SocketRecv(in->m_Socket, in->m_Bytes + in->m_End, room);
        if (got <= 0) return false;
        in->m_End += got;
    }
    return true;
}

// A length outside every request's range leaves no way to find where the
// next request starts, so the connection ends. The whole request must come
// within the idle time-out, counted from when the host begins to wait for
// it: a client that sends nothing, or a byte now and then, is let go.
static bool ReceiveRequest(RequestStream* in, HostRequest* request) {
    const uint32_t start = plat::TimeMs();
    if (!Fill(in, kRemoteHeaderSize, start)) return false;
    memcpy(&request->header, in->m_Bytes + in->m_Start, kRemoteHeaderSize);
    int32_t length = request->header.length;
    if (!PlausibleLength(length)) {
        Warningf("filehost: a request of %d bytes; closing the connection", length);
        return false;
    }
    if (!Fill(in, length, start)) return false;
    memcpy(request, in->m_Bytes + in->m_Start, static_cast<size_t>(length));
    in->m_Start += length;
    return true;
}

// A request is waiting when it is buffered whole: it is served next without
// waiting on the client, so replies can wait for it. The socket is not asked:
// a client sends a window of requests at once, so one receive brings them
// all, and a call to find it empty would cost each window its time.
static bool RequestWaiting(const RequestStream* in) {
    RemotePacket header;
    int32_t buffered = in->m_End - in->m_Start;
    if (buffered < kRemoteHeaderSize) return false;
    memcpy(&header, in->m_Bytes + in->m_Start, kRemoteHeaderSize);
    return PlausibleLength(header.length) && header.length <= buffered;
}

// Replies wait in pending while more requests are waiting, up to a batch.
static bool Flush(const RequestStream* in, std::vector<uint8_t>* pending) {
    if (pending->size() + sizeof(RemoteReadReply) <= kHostReplyBatch && RequestWaiting(in)) return true;
    bool sent = SendAllOn(in->m_Socket, pending->data(), static_cast<int32_t>(pending->size()));
    pending->clear();
    return sent;
}

// Replies to requests that are already waiting are gathered and sent together
// once none is: a client that sends a window of requests at once then wakes
// once for all their replies instead of once each. A reply is never held
// while the host waits for a request, so a client that waits for it is
// never stalled.
static bool Answer(const RequestStream* in, const RemoteReadReply& reply, int32_t length,
                   std::vector<uint8_t>* pending) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&reply);
    pending->insert(pending->end(), bytes, bytes + length);
    return Flush(in, pending);
}

// ------------------------------------------------------------ read runs

// Pieces of one file's read asked for back to back are read from the file
// at once: a window of a client's read requests then costs the host one
// read of the file instead of one a piece.
const int32_t kHostReadRun = 16;

// A plain read of a piece of an open file, as ServeRead would accept it.
static bool ReadPiece(const HostSession* session, const RemoteDataPacket& p, int32_t handle) {
    return p.header.command == kRequestRead && p.header.length == 24 && p.handle == handle &&
           DataFile(session, p) >= 0;
}

// The next request when it is already buffered and continues the run.
static bool NextPiece(const HostSession* session, RequestStream* in, int32_t handle, int32_t* count) {
    RemoteDataPacket p;
    if (in->m_End - in->m_Start < 24) return false;
    memcpy(&p, in->m_Bytes + in->m_Start, 24);
    if (!ReadPiece(session, p, handle)) return false;
    in->m_Start += 24;
    *count = p.count;
    return true;
}

// FileRead fills all it is asked for unless the file ends, so each piece
// gets what reading the pieces one by one would have given it: all it asked
// for, then what was left, then nothing; or the failure.
static void ReplyPieces(const int32_t* counts, int32_t pieces, const uint8_t* data, int32_t got,
                        std::vector<uint8_t>* pending) {
    int32_t offset = 0;
    for (int32_t i = 0; i < pieces; ++i) {
        int32_t left = got - offset, result = got < 0 ? -1 : (counts[i] < left ? counts[i] : left);
        RemotePacket header = {0, kReplyRead, result, kRemoteHeaderSize + (result > 0 ? result : 0)};
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&header);
        pending->insert(pending->end(), bytes, bytes + kRemoteHeaderSize);
        if (result > 0) pending->insert(pending->end(), data + offset, data + offset + result);
        if (result > 0) offset += result;
    }
}

// The run starting with first, answered into pending; false when first is
// not a plain read of an open file (it is then served alone).
static bool ServeReadRun(HostSession* session, RequestStream* in, const HostRequest& first,
                         std::vector<uint8_t>* pending, std::vector<uint8_t>* data) {
    const int32_t handle = first.data.handle;
    if (!ReadPiece(session, first.data, handle)) return false;
    int32_t counts[kHostReadRun] = {first.data.count};
    int32_t pieces = 1, total = first.data.count;
    while (pieces < kHostReadRun && NextPiece(session, in, handle, &counts[pieces])) total += counts[pieces++];
    data->resize(static_cast<size_t>(total));
    int32_t got = plat::FileRead(DataFile(session, first.data), data->data(), total, nullptr);
    ReplyPieces(counts, pieces, data->data(), got, pending);
    return true;
}

// A client that stops reading its replies is let go the same way.
void ServeConnection(const char* root, plat::SocketHandle socket, int32_t idleSeconds) {
    const uint32_t limitMs = idleSeconds > 0 ? static_cast<uint32_t>(idleSeconds) * 1000 : 0;
    if (limitMs > 0) plat::SocketSendTimeout(socket, static_cast<int32_t>(limitMs));
    HostSession session;
    OpenSession(&session, root);
    RequestStream in = {socket, limitMs, 0, 0, {}};
    HostRequest request;
    RemoteReadReply reply;
    std::vector<uint8_t> pending, data;
    pending.reserve(2 * kHostReplyBatch);
    while (ReceiveRequest(&in, &request)) {
        bool answered = ServeReadRun(&session, &in, request, &pending, &data)
                            ? Flush(&in, &pending)
                            : Answer(&in, reply, ServeRequest(&session, &request, &reply), &pending);
        if (!answered) break;
    }
    // The replies still held go out before the connection ends, whatever
    // ended it: every whole request is answered.
    if (!pending.empty()) SendAllOn(socket, pending.data(), static_cast<int32_t>(pending.size()));
    CloseSession(&session);
}
