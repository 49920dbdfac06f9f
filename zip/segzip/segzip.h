// segzip: shows what the zip layer sees of an archive (its listing, its
// members' bytes, a check of every member against the archive's directory).
#pragma once

#include <cstdint>

#include "zip/zipfile.h"

enum SegzipCommand { kSegzipList, kSegzipCat, kSegzipTest };

struct SegzipOptions {
    SegzipCommand m_Command;
    bool m_Long;    // list -l
    bool m_Memory;  // mount an image read into memory
    ZipNameMode m_Names;
    const char* m_Archive;
    // list: the directory (at most one, may be absent); cat: the members.
    char** m_Operands;
    int32_t m_OperandCount;
};

extern const char kSegzipUsage[];

// Reads "COMMAND [options] ARCHIVE [operands]"; options may come anywhere
// before a "--". false when the arguments make no command.
bool ParseSegzipArgs(int argc, char** argv, SegzipOptions* options);

// Sends the library's console output (diagnostics included) to standard
// error, so standard output carries only listings and member bytes.
void RouteConsoleToStderr();

// Mounts the archive and runs the command: 0 on success, 1 when the archive
// cannot be mounted, a member is missing or a member is bad.
int RunSegzip(const SegzipOptions& options);
