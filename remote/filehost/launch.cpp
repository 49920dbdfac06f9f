// Starting a host from another program, as the tests and the benchmark do.
#include <cstdio>
#include <vector>

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

int64_t StartFileHost(const char* program, const char* root, int32_t* port,
                      const char* const* options) {
    *port = FreePort();
    char portText[16];
    snprintf(portText, sizeof portText, "%d", static_cast<int>(*port));
    std::vector<const char*> argv = {program};
    for (const char* const* option = options; option && *option; ++option) argv.push_back(*option);
    argv.insert(argv.end(), {root, portText, nullptr});
    int64_t host = *port > 0 ? plat::ProcessStart(argv.data()) : -1;
    if (host < 0 || Accepting(*port)) return host;
    plat::ProcessStop(host);
    return -1;
}
