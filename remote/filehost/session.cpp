// One connection: its open files, and its requests answered in turn.
#include "core/output.h"
#include "remote/filehost/host.h"

void OpenSession(HostSession* session, const char* root) {
    session->m_Root = root;
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

// A length outside every request's range leaves no way to find where the
// next request starts, so the connection ends.
static bool ReceiveRequest(plat::SocketHandle socket, HostRequest* request) {
    if (!RecvAllOn(socket, &request->header, kRemoteHeaderSize)) return false;
    int32_t length = request->header.length;
    if (length >= kRemoteHeaderSize && length <= static_cast<int32_t>(sizeof *request))
        return RecvAllOn(socket, reinterpret_cast<uint8_t*>(request) + kRemoteHeaderSize,
                         length - kRemoteHeaderSize);
    Warningf("filehost: a request of %d bytes; closing the connection", length);
    return false;
}

void ServeConnection(const char* root, plat::SocketHandle socket) {
    HostSession session;
    OpenSession(&session, root);
    HostRequest request;
    RemoteReadReply reply;
    while (ReceiveRequest(socket, &request)) {
        int32_t length = ServeRequest(&session, &request, &reply);
        if (!SendAllOn(socket, &reply, length)) break;
    }
    CloseSession(&session);
}
