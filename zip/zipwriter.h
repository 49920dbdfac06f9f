// Writing zip archives: members are read and deflated on every core, in
// pieces of a fixed size, and written in the order given, so the archive's
// bytes do not depend on how many threads packed them, and memory does not
// grow with the size of a member.
#pragma once

#include <cstddef>
#include <cstdint>

struct ZipSource {
    const char* m_Path;  // the file whose bytes the member holds
    const char* m_Name;  // the member's name, '/' between its parts
    int64_t m_Time;      // modification time, seconds since 1970
    bool m_Store;        // kept as it is, never deflated
};

struct ZipWriteOptions {
    int32_t m_Level = 9;     // deflate level, 1 to 9
    uint32_t m_Align = 2048;  // stored members' data start on a multiple of this; 0: anywhere
    int32_t m_Threads = 0;   // 0: one per core
    // Members longer than this are read and deflated in pieces of this many
    // bytes (at least 4096), each primed with the 32 KB before it; the
    // archive's bytes depend on it, so it is fixed unless a test needs small
    // pieces.
    uint32_t m_Piece = 1 << 20;
    // The most bytes the archive may take; the format without zip64 holds
    // offsets below 4 GiB.
    uint64_t m_MaxBytes = 0xFFFFFFFFull;
    // Called on the calling thread after each member is written; may be null.
    void (*Progress)(void* context, int32_t written, int32_t count, uint64_t bytes) = nullptr;
    void* m_Context = nullptr;
    // Asked between pieces and while waiting for one; once it says true the
    // write stops and fails with the reason "interrupted". May be null.
    bool (*Cancelled)() = nullptr;
};

struct ZipWriteResult {
    uint64_t m_Bytes;  // of the archive
    int32_t m_Stored;
    int32_t m_Deflated;
};

// The format without zip64 holds this many members, and offsets below 4 GiB.
const int32_t kZipMaxMembers = 65535;

// Writes the archive to outName + ".part" and renames it to outName once it
// is whole. A member is deflated unless it is marked stored or deflating
// would not make it smaller. On failure (out of memory included) nothing is
// left behind and reason (reasonSize bytes) says why.
bool WriteZip(const char* outName, const ZipSource* sources, int32_t count,
              const ZipWriteOptions& options, ZipWriteResult* result, char* reason,
              size_t reasonSize);
