// The host's command line.
#include <cstdlib>
#include <cstring>

#include "core/output.h"
#include "remote/filehost/host.h"

static bool Usage() {
    Errorf("Usage: filehost [-a address] root port");
    Printf(
        "       serves the files under root to remote-device clients over TCP, on\n"
        "       127.0.0.1 unless -a gives another IPv4 address; port 0 takes a free port");
    return false;
}

// -1 unless the whole text is a port number.
static int32_t ParsePort(const char* text) {
    char* end = nullptr;
    long port = strtol(text, &end, 10);
    if (end == text || *end || port < 0 || port > 65535) return -1;
    return static_cast<int32_t>(port);
}

static bool IsDirectory(const char* path) {
    uint32_t attributes = 0;
    return plat::FileGetAttributes(path, &attributes) && (attributes & plat::kAttrDirectory);
}

bool ParseHostArgs(int argc, char** argv, HostOptions* options) {
    int first = argc > 1 && strcmp(argv[1], "-a") == 0 ? 3 : 1;
    if (argc != first + 2) return Usage();
    *options = {first == 3 ? argv[2] : "127.0.0.1", argv[first], ParsePort(argv[first + 1])};
    if (options->m_Port < 0) {
        Errorf("filehost: '%s' is not a port number (0 to 65535)", argv[first + 1]);
        return false;
    }
    if (strlen(options->m_Root) > kHostMaxRoot || !IsDirectory(options->m_Root)) {
        Errorf("filehost: '%s' is not a directory that can be served", options->m_Root);
        return false;
    }
    return true;
}
