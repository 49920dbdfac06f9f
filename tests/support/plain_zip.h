// A zip reader that shares no code with the zip layer, so that what the layer
// serves can be held against it: the end record, the central directory, each
// member's local header, and a member's bytes with a verdict on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PlainMember {
    std::string m_Name;  // as the central directory records it
    uint16_t m_Flags = 0;
    uint16_t m_Method = 0;
    uint32_t m_Crc = 0;
    uint32_t m_CompSize = 0;
    uint32_t m_Size = 0;
    uint32_t m_LocalHeader = 0;
    // The first data byte, as the local header's own lengths place it; only
    // meaningful when m_Located.
    uint32_t m_DataOffset = 0;
    bool m_Located = false;
};

struct PlainArchive {
    uint32_t m_EndRecord = 0;
    uint32_t m_DirectoryOffset = 0;
    uint32_t m_DirectorySize = 0;
    // Some end signature in the searched tail has a zip64 locator in front of
    // it: readers may then take their directory from different records.
    bool m_Zip64Seen = false;
    std::vector<PlainMember> m_Members;  // in central-directory order
};

// Takes the last end record whose comment fits the image and whose central
// directory (placed by a zip64 end record when a locator precedes it) lies
// whole in front of it and walks cleanly; false when none does.
bool ReadPlainZip(const uint8_t* image, size_t size, PlainArchive* archive);

// The member's bytes into data. True only when the member is clean: not
// encrypted, stored or deflated, its data within the image, a stored size
// equal to its size or a raw deflate stream that ends within the stored
// bytes after exactly the recorded size, and a matching CRC-32. Members
// larger than maxSize are not inflated and count as not clean.
bool ReadPlainMember(const uint8_t* image, size_t size, const PlainMember& member, uint32_t maxSize,
                     std::string* data);

// A name as lookups compare it: ASCII letters lowered, '\\' as '/'.
std::string PlainFold(const std::string& name);
