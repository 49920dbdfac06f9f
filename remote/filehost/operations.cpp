// What the host does for each request of the protocol, on its own disk.
#include <cstring>

#include "remote/filehost/host.h"

// A client's name: joined to the root, and where that leads, links followed.
struct RequestName {
    char m_Path[kHostPathSize];
    char m_Resolved[kHostRealPathSize];
    HostPlace m_Place;
};

// A name counts only when its terminator arrived within the request.
static bool RequestPath(const HostSession* session, const char* field, int32_t available,
                        RequestName* name) {
    if (available <= 0 || !memchr(field, 0, static_cast<size_t>(available))) return false;
    if (!session->m_RealRoot[0] ||
        !ConfineName(session->m_Root, field, name->m_Path, sizeof name->m_Path))
        return false;
    name->m_Place = ResolvePlace(session->m_RealRoot, name->m_Path, name->m_Resolved,
                                 sizeof name->m_Resolved);
    return name->m_Place != kHostOutside;
}

// Only regular files, so that nothing (a FIFO, a device) can hold the
// connection's thread in an open.
static int32_t ServeOpen(HostSession* session, const HostRequest* request, RemoteReadReply*) {
    const RemoteOpenPacket& packet = request->open;
    RequestName name;
    if (!RequestPath(session, packet.name, packet.header.length - 24, &name)) return -1;
    const bool create = packet.create != 0;
    if (name.m_Place == kHostMissing && !create) return -1;
    return SessionAdd(session, plat::FileOpenRegular(name.m_Resolved, packet.readOnly != 0, create));
}

static int32_t ServeSeek(HostSession* session, const HostRequest* request, RemoteReadReply*) {
    const RemoteSeekPacket& packet = request->seek;
    int32_t file = SessionFile(session, packet.handle);
    if (file < 0) return -1;
    return plat::FileSeek(file, packet.offset, packet.origin);
}

// The count must be a chunk's and match the bytes that came with it.
int32_t DataFile(const HostSession* session, const RemoteDataPacket& packet) {
    if (packet.count < 1 || packet.count > kRemoteChunk) return -1;
    return SessionFile(session, packet.handle);
}

static int32_t ServeWrite(HostSession* session, const HostRequest* request, RemoteReadReply*) {
    const RemoteDataPacket& packet = request->data;
    int32_t file = DataFile(session, packet);
    if (file < 0) return -1;
    if (packet.header.length != 24 + packet.count) return -1;
    return plat::FileWrite(file, packet.data, packet.count);
}

static int32_t ServeRead(HostSession* session, const HostRequest* request, RemoteReadReply* reply) {
    const RemoteDataPacket& packet = request->data;
    int32_t file = DataFile(session, packet);
    return file < 0 ? -1 : plat::FileRead(file, reply->data, packet.count, nullptr);
}

static int32_t ServeClose(HostSession* session, const HostRequest* request, RemoteReadReply*) {
    int32_t file = SessionRemove(session, request->close.handle);
    if (file < 0) return -1;
    return plat::FileClose(file) < 0 ? -1 : 0;
}

// As on the local disk: a missing first file is not newer, a missing second
// one makes the first newer, and without both times nothing is.
static int32_t ServeIsNewer(HostSession* session, const HostRequest* request, RemoteReadReply*) {
    const RemoteIsNewerPacket& packet = request->isNewer;
    RequestName first, second;
    if (!RequestPath(session, packet.first, kRemoteNameField, &first) ||
        !RequestPath(session, packet.second, kRemoteNameField, &second))
        return -1;
    int64_t firstTime = 0, secondTime = 0;
    int32_t a = plat::FileLastWriteTime(first.m_Resolved, &firstTime);
    if (a < 0) return 0;
    int32_t b = plat::FileLastWriteTime(second.m_Resolved, &secondTime);
    if (b < 0) return 1;
    return a > 0 && b > 0 && plat::CompareFileTimes(firstTime, secondTime) > 0 ? 1 : 0;
}

// As on the local disk, a read-only file is deleted too. What goes is the
// entry named, a link itself rather than what it leads to; but a link that
// leads outside the root is refused, like any other way out.
static int32_t ServeDelete(HostSession* session, const HostRequest* request, RemoteReadReply*) {
    const RemoteDeletePacket& packet = request->remove;
    RequestName name;
    char entry[kHostRealPathSize];
    if (!RequestPath(session, packet.name, packet.header.length - 16, &name) ||
        name.m_Place != kHostInside ||
        !ResolveEntry(session->m_RealRoot, name.m_Path, entry, sizeof entry))
        return -1;
    return plat::FileDeleteEntry(entry) ? 0 : -1;
}

const HostOperation kHostOperations[kHostOperationCount] = {
    {kRequestOpen, kReplyOpen, 25, sizeof(RemoteOpenPacket), ServeOpen},          // Open, Create
    {kRequestSeek, kReplySeek, 28, 28, ServeSeek},                                // Seek
    {kRequestWrite, kReplyWrite, 25, sizeof(RemoteDataPacket), ServeWrite},       // Write
    {kRequestRead, kReplyRead, 24, 24, ServeRead},                                // Read
    {kRequestClose, kReplyClose, 20, 20, ServeClose},                             // Close
    {kRequestIsNewer, kReplyIsNewer, 528, 528, ServeIsNewer},                     // IsNewer
    {kRequestDelete, kReplyDelete, 17, sizeof(RemoteDeletePacket), ServeDelete},  // Delete
};
