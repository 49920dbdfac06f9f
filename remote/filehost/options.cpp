// The host's command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/cmdline.h"
#include "core/output.h"
#include "remote/filehost/host.h"

// The defaults written in, so the text cannot fall behind them.
static void Usage(char* text, size_t size) {
    snprintf(text, size,
             "usage: filehost [-a ADDRESS] [-t SECONDS] ROOT PORT\n"
             "  -a, --address ADDRESS  the IPv4 address to listen on (default 127.0.0.1)\n"
             "  -t, --timeout SECONDS  close a connection that sends no whole request for so\n"
             "                         long, 0 to %d (default %d; 0: never)\n"
             "Serves the files under ROOT to remote-device clients over TCP. PORT 0 takes a\n"
             "free port, which the start-up line shows. Ctrl-C ends the host.\n",
             static_cast<int>(kHostMaxIdleSeconds), static_cast<int>(kHostIdleSeconds));
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

static void TakeOperands(CmdWalk& walk, const std::vector<const char*>& operands, const char* idle,
                         HostOptions* options) {
    int count = static_cast<int>(operands.size());
    if (count != 2) {
        walk.Bad("wants ROOT PORT, not %d operand%s", count, count == 1 ? "" : "s");
        return;
    }
    options->m_Root = operands[0];
    options->m_Port = ParseNumber(operands[1], 65535);
    if (options->m_Port < 0) walk.Bad("'%s' is not a port number (0 to 65535)", operands[1]);
    if (idle && (options->m_IdleSeconds = ParseNumber(idle, kHostMaxIdleSeconds)) < 0)
        walk.Bad("--timeout must be 0 to %d seconds, not '%s'", static_cast<int>(kHostMaxIdleSeconds), idle);
    if (strlen(options->m_Root) > kHostMaxRoot || !IsDirectory(options->m_Root))
        walk.Bad("'%s' is not a directory that can be served", options->m_Root);
}

bool ParseHostArgs(int argc, char** argv, HostOptions* options, int* status) {
    *options = {"127.0.0.1", nullptr, -1, kHostIdleSeconds};
    CmdWalk walk("filehost", argc, argv);
    std::vector<const char*> operands;
    const char* idle = nullptr;
    while (walk.Next()) {
        if (const char* operand = walk.Operand()) operands.push_back(operand);
        else if (!walk.Value("--address", &options->m_Address, "-a") && !walk.Value("--timeout", &idle, "-t"))
            walk.Unknown();
    }
    if (walk.End() == kCmdRun) TakeOperands(walk, operands, idle, options);
    if (walk.End() != kCmdRun) {
        char usage[1024];
        Usage(usage, sizeof usage);
        *status = walk.Answer(usage, 1);
        return false;
    }
    if (!Loopback(options->m_Address))
        Warningf("filehost: %s is not a loopback address, and the protocol has no "
                 "authentication: whoever reaches it may read, write and delete the files "
                 "under %s", options->m_Address, options->m_Root);
    return true;
}
