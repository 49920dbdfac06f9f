// Whole-buffer transfers over a socket, for both ends of the protocol.
#include "remote/wire.h"

bool SendAllOn(plat::SocketHandle socket, const void* buffer, int32_t count) {
    const uint8_t* from = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        int32_t sent = plat::SocketSend(socket, from, count);
        if (sent <= 0) return false;
        from += sent;
        count -= sent;
    }
    return true;
}

// A receive of 0 bytes means the peer has gone: waiting on would never end.
bool RecvAllOn(plat::SocketHandle socket, void* buffer, int32_t count) {
    uint8_t* to = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        int32_t got = plat::SocketRecv(socket, to, count);
        if (got <= 0) return false;
        to += got;
        count -= got;
    }
    return true;
}
