// One connection: its open files, and its requests answered in turn.
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

// Receives count bytes, unless (limitMs above 0) more than limitMs have gone
// by since start. A wait cut short by a signal only waits again.
static bool RecvWithin(plat::SocketHandle socket, void* buffer, int32_t count, uint32_t start,
                       uint32_t limitMs) {
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    for (int32_t done = 0; done < count;) {
        if (limitMs > 0) {
            uint32_t waited = plat::TimeMs() - start;
            if (waited >= limitMs) return false;
            int32_t ready = plat::SocketWait(socket, static_cast<int32_t>(limitMs - waited));
            if (ready < 0) return false;
            if (ready == 0) continue;
        }
        int32_t got = plat::SocketRecv(socket, bytes + done, count - done);
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

// A length outside every request's range leaves no way to find where the
// next request starts, so the connection ends. The whole request must come
// within the idle time-out, counted from when the host begins to wait for
// it: a client that sends nothing, or a byte now and then, is let go.
static bool ReceiveRequest(plat::SocketHandle socket, HostRequest* request, uint32_t limitMs) {
    const uint32_t start = plat::TimeMs();
    if (!RecvWithin(socket, &request->header, kRemoteHeaderSize, start, limitMs)) return false;
    int32_t length = request->header.length;
    if (length >= kRemoteHeaderSize && length <= static_cast<int32_t>(sizeof *request))
        return RecvWithin(socket, reinterpret_cast<uint8_t*>(request) + kRemoteHeaderSize,
                          length - kRemoteHeaderSize, start, limitMs);
    Warningf("filehost: a request of %d bytes; closing the connection", length);
    return false;
}

// A client that stops reading its replies is let go the same way.
void ServeConnection(const char* root, plat::SocketHandle socket, int32_t idleSeconds) {
    const uint32_t limitMs = idleSeconds > 0 ? static_cast<uint32_t>(idleSeconds) * 1000 : 0;
    if (limitMs > 0) plat::SocketSendTimeout(socket, static_cast<int32_t>(limitMs));
    HostSession session;
    OpenSession(&session, root);
    HostRequest request;
    RemoteReadReply reply;
    while (ReceiveRequest(socket, &request, limitMs)) {
        int32_t length = ServeRequest(&session, &request, &reply);
        if (!SendAllOn(socket, &reply, length)) break;
    }
    CloseSession(&session);
}
