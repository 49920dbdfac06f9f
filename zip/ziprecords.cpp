#include "zip/ziprecords.h"

#include "core/strings.h"

#include <cstring>
#include <ctime>

namespace {

// Made by 2.0 on Unix: readers then take the name's flag and the Unix mode
// below at their word (readers seeing MS-DOS re-code names as a DOS code
// page). The zip layer's own mount reads neither.
const uint16_t kMadeBy = (3 << 8) | 20;
// A regular file, rw-r--r--: what extracting a member gives, the same on
// every system the archive is built on.
const uint32_t kUnixFileMode = 0100644;
const uint16_t kUtf8Flag = 1 << 11;
// The padding's own extra record, so that readers walking the field see it
// whole.
const uint16_t kPaddingId = 0xD935;

void Put16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// The MS-DOS time and date the headers hold, in local time; earlier than 1980
// is 1980.
uint32_t DosTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    const tm* local = localtime(&t);
    if (!local || local->tm_year < 80) return 0x00210000;  // 1980-01-01 00:00
    uint32_t date = ((local->tm_year - 80) << 9) | ((local->tm_mon + 1) << 5) | local->tm_mday;
    uint32_t time = (local->tm_hour << 11) | (local->tm_min << 5) | (local->tm_sec / 2);
    return (date << 16) | time;
}

// From "version needed" to the extra field's length.
void PutFields(std::vector<uint8_t>* out, const MemberRecord& m, uint16_t extraLength) {
    Put16(out, 20);  // version needed: 2.0, deflate
    Put16(out, IsUtf8BeyondAscii(m.m_Name) ? kUtf8Flag : 0);
    Put16(out, m.m_Deflated ? 8 : 0);
    Put32(out, DosTime(m.m_Time));
    PutCrcAndSizes(out, m.m_Crc, m.m_CompSize, m.m_Size);
    Put16(out, static_cast<uint32_t>(strlen(m.m_Name)));
    Put16(out, extraLength);
}

}  // namespace

uint16_t ZipPaddingFor(uint64_t headerAt, uint16_t nameLength, uint32_t align) {
    if (align <= 1) return 0;
    uint64_t dataAt = headerAt + 30 + nameLength + 4;
    return static_cast<uint16_t>(4 + (align - dataAt % align) % align);
}

bool IsUtf8BeyondAscii(const char* name) {
    bool beyond = false;
    for (int length; *name; name += length) {
        if ((length = Utf8Length(name)) == 0) return false;
        beyond |= length > 1;
    }
    return beyond;
}

void PutCrcAndSizes(std::vector<uint8_t>* out, uint32_t crc, uint32_t compSize, uint32_t size) {
    Put32(out, crc);
    Put32(out, compSize);
    Put32(out, size);
}

void PutLocalHeader(std::vector<uint8_t>* out, const MemberRecord& member) {
    Put32(out, 0x04034b50);
    PutFields(out, member, member.m_Padding);
    out->insert(out->end(), member.m_Name, member.m_Name + strlen(member.m_Name));
    if (member.m_Padding) {
        Put16(out, kPaddingId);
        Put16(out, member.m_Padding - 4u);
        out->resize(out->size() + member.m_Padding - 4, 0);
    }
}

void PutCentralEntry(std::vector<uint8_t>* out, const MemberRecord& member, uint32_t headerAt) {
    Put32(out, 0x02014b50);
    Put16(out, kMadeBy);
    PutFields(out, member, 0);
    Put16(out, 0);  // comment length
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, kUnixFileMode << 16);
    Put32(out, headerAt);
    out->insert(out->end(), member.m_Name, member.m_Name + strlen(member.m_Name));
}

void PutEndRecord(std::vector<uint8_t>* out, int32_t count, uint32_t centralSize, uint32_t centralAt) {
    Put32(out, 0x06054b50);
    Put16(out, 0);  // this disk
    Put16(out, 0);  // the directory's disk
    Put16(out, static_cast<uint32_t>(count));
    Put16(out, static_cast<uint32_t>(count));
    Put32(out, centralSize);
    Put32(out, centralAt);
    Put16(out, 0);  // comment length
}
