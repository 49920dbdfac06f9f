// The host's command line.
#include <cstdlib>
#include <cstring>

#include "core/output.h"
#include "remote/filehost/host.h"

static bool Usage() {
    Errorf("Usage: filehost [-a address] [-t seconds] root port");
    Printf(
        "       serves the files under root to remote-device clients over TCP, on\n"
        "       127.0.0.1 unless -a gives another IPv4 address; port 0 takes a free port;\n"
        "       a connection that sends no whole request for %d seconds (-t; 0: never)\n"
        "       is closed",
        static_cast<int>(kHostIdleSeconds));
    return false;
}

// -1 unless the whole text is a number from 0 to most.
static int32_t ParseNumber(const char* text, long most) {
    char* end = nullptr;
    long number = strtol(text, &end, 10);
    if (end == text || *end || number < 0 || number > most) return -1;
    return static_cast<int32_t>(number);
}

static bool IsDirectory(const char* path) {
    uint32_t attributes = 0;
    return plat::FileGetAttributes(path, &attributes) && (attributes & plat::kAttrDirectory);
}

// "localhost" or 127.0.0.0/8; anything else that does not parse fails to
// listen anyway.
static bool Loopback(const char* address) {
    return strcmp(address, "localhost") == 0 || strncmp(address, "127.", 4) == 0;
}

// The options before the root and port; false when one is unknown. A root
// that starts with '-' is still a root when nothing follows but the port.
static bool ParseOptions(int argc, char** argv, int* next, HostOptions* options,
                         const char** idle) {
    for (; *next + 2 < argc && argv[*next][0] == '-'; *next += 2) {
        if (strcmp(argv[*next], "-a") == 0)
            options->m_Address = argv[*next + 1];
        else if (strcmp(argv[*next], "-t") == 0)
            *idle = argv[*next + 1];
        else
            return false;
    }
    return true;
}

bool ParseHostArgs(int argc, char** argv, HostOptions* options) {
    *options = {"127.0.0.1", nullptr, -1, kHostIdleSeconds};
    const char* idle = nullptr;
    int next = 1;
    if (!ParseOptions(argc, argv, &next, options, &idle) || argc != next + 2) return Usage();
    options->m_Root = argv[next];
    options->m_Port = ParseNumber(argv[next + 1], 65535);
    if (options->m_Port < 0) {
        Errorf("filehost: '%s' is not a port number (0 to 65535)", argv[next + 1]);
        return false;
    }
    if (idle && (options->m_IdleSeconds = ParseNumber(idle, kHostMaxIdleSeconds)) < 0) {
        Errorf("filehost: '%s' is not a time-out in seconds (0 to %d)", idle,
               static_cast<int>(kHostMaxIdleSeconds));
        return false;
    }
    if (strlen(options->m_Root) > kHostMaxRoot || !IsDirectory(options->m_Root)) {
        Errorf("filehost: '%s' is not a directory that can be served", options->m_Root);
        return false;
    }
    if (!Loopback(options->m_Address))
        Warningf("filehost: %s is not a loopback address, and the protocol has no "
                 "authentication: whoever reaches it may read, write and delete the files "
                 "under %s", options->m_Address, options->m_Root);
    return true;
}
