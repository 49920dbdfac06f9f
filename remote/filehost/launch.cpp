// Starting a host from another program, as the tests and the benchmark do.
#include <cstdio>

#include "remote/filehost/host.h"

// A port the system has just handed out and taken back: free, unless another
// program takes it before the host does.
static int32_t FreePort() {
    plat::SocketHandle probe = plat::SocketListen("127.0.0.1", 0);
    if (probe < 0) return -1;
    int32_t port = plat::SocketPort(probe);
    plat::SocketClose(probe);
    return port;
}

// A program started under an emulator can take seconds to come up.
static bool Accepting(int32_t port) {
    for (int attempt = 0; attempt < 600; ++attempt) {
        plat::SocketHandle probe = plat::SocketConnect("127.0.0.1", port);
        if (probe >= 0) {
            plat::SocketClose(probe);
            return true;
        }
        plat::SleepMs(50);
    }
    return false;
}

int64_t StartFileHost(const char* program, const char* root, int32_t* port) {
    *port = FreePort();
    char portText[16];
    snprintf(portText, sizeof portText, "%d", static_cast<int>(*port));
    const char* argv[] = {program, root, portText, nullptr};
    int64_t host = *port > 0 ? plat::ProcessStart(argv) : -1;
    if (host < 0 || Accepting(*port)) return host;
    plat::ProcessStop(host);
    return -1;
}
