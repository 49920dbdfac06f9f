// The records of a zip archive as the writer lays them out: local headers,
// central directory entries and the end record, without zip64.
#pragma once

#include <cstdint>
#include <vector>

// What a member's local header and its central entry share.
struct MemberRecord {
    const char* m_Name;  // '/' between its parts, at most 255 bytes
    int64_t m_Time;      // seconds since 1970
    bool m_Deflated;
    uint32_t m_Crc;
    uint32_t m_CompSize;
    uint32_t m_Size;
    uint16_t m_Padding;  // bytes of the local extra field that align the data
};

// Bytes of the local extra field that put a stored member's data, whose
// header starts at headerAt, on a multiple of align (0 or 1: none).
uint16_t ZipPaddingFor(uint64_t headerAt, uint16_t nameLength, uint32_t align);

// Readers that honour the UTF-8 flag decode such names; plain ASCII needs
// no flag, and bytes that are not UTF-8 must not claim it.
bool IsUtf8BeyondAscii(const char* name);

void PutLocalHeader(std::vector<uint8_t>* out, const MemberRecord& member);
void PutCentralEntry(std::vector<uint8_t>* out, const MemberRecord& member, uint32_t headerAt);
void PutEndRecord(std::vector<uint8_t>* out, int32_t count, uint32_t centralSize, uint32_t centralAt);

// Where the CRC-32 lies in a local header: the CRC and both sizes that
// follow it are written last for members streamed in pieces.
const uint32_t kLocalCrcAt = 14;
void PutCrcAndSizes(std::vector<uint8_t>* out, uint32_t crc, uint32_t compSize, uint32_t size);
