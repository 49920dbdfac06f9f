// The archive's own records, read and checked for mounting. Every length and
// offset is checked against what holds it before it is used, so a damaged or
// hostile archive is refused rather than read outside its bytes.
#include "zip/ziparchive.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "core/strings.h"
#include "zip/zipfile.h"

const uint32_t kEndSignature = 0x06054b50;
const uint32_t kEnd64LocatorSignature = 0x07064b50;
const uint32_t kEnd64Signature = 0x06064b50;
const uint32_t kEnd64LocatorSize = 20;
const uint32_t kEnd64RecordSize = 56;
const uint32_t kCentralSignature = 0x02014b50;
const uint32_t kLocalSignature = 0x04034b50;
const uint32_t kEndRecordSize = 22;
const uint32_t kMaxCommentSize = 65535;
const uint32_t kCentralRecordSize = 46;
const uint16_t kFlagEncrypted = 1;
const uint16_t kMethodStored = 0;
const uint16_t kMethodDeflate = 8;

static uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
static uint32_t Get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

static bool Fail(char* reason, const char* format, ...) __attribute__((format(printf, 2, 3)));
static bool Fail(char* reason, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SafeVsnprintf(reason, kMountReasonLength, format, args);
    va_end(args);
    return false;
}

// ------------------------------------------------------------ reading

static bool DeviceRead(ArchiveSource* source, uint32_t offset, uint8_t* buffer, uint32_t count) {
    int32_t handle = source->m_Handle;
    if (source->m_Device->Seek(handle, static_cast<int32_t>(offset), 0) != static_cast<int32_t>(offset))
        return false;
    while (count > 0) {
        int32_t n = source->m_Device->Read(handle, buffer, static_cast<int32_t>(count));
        if (n <= 0) return false;
        buffer += n;
        count -= static_cast<uint32_t>(n) < count ? static_cast<uint32_t>(n) : count;
    }
    return true;
}

// A mount makes a few large reads (the end of the archive, the central
// directory), so each goes straight to the device.
bool ReadArchive(ArchiveSource* source, uint32_t offset, void* buffer, uint32_t count) {
    if (offset > source->m_Size || count > source->m_Size - offset) return false;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (source->m_Device) return DeviceRead(source, offset, out, count);
    memcpy(out, source->m_Image + offset, count);
    return true;
}

// --------------------------------------------------------- end record

enum EndRecordCheck { kNotTheRecord, kRecordFits, kRecordZip64, kRecordSplit };

// A record whose directory does not fit in front of it, or whose comment
// runs past the file, is a chance match inside data or a comment. A count
// of 0xFFFF without a zip64 locator is a count: some writers leave it so.
static EndRecordCheck CheckEndRecord(const uint8_t* tail, uint32_t p, uint32_t at, uint32_t size) {
    const uint8_t* r = tail + p;
    uint32_t cdSize = Get32(r + 12), cdOffset = Get32(r + 16);
    if (cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) return kRecordZip64;
    if (cdOffset > at || cdSize > at - cdOffset || Get16(r + 20) > size - at - kEndRecordSize)
        return kNotTheRecord;
    if (Get16(r + 4) != 0 || Get16(r + 6) != 0 || Get16(r + 8) != Get16(r + 10)) return kRecordSplit;
    return kRecordFits;
}

static uint64_t Get64(const uint8_t* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

// Archives of more than 65,535 members carry their counts in a zip64 end
// record; they are served as long as every size and offset fits 32 bits.
static bool ReadZip64End(ArchiveSource* source, const uint8_t* locator, uint32_t locatorAt,
                         CentralDirectory* cd, char* reason) {
    uint64_t recordAt = Get64(locator + 8);
    uint8_t r[kEnd64RecordSize];
    if (Get32(locator + 4) != 0 || Get32(locator + 16) > 1)
        return Fail(reason, "archives split over several disks are not served");
    if (locatorAt < kEnd64RecordSize || recordAt > locatorAt - kEnd64RecordSize ||
        !ReadArchive(source, static_cast<uint32_t>(recordAt), r, kEnd64RecordSize) ||
        Get32(r) != kEnd64Signature)
        return Fail(reason, "zip64 end record lies outside the file");
    uint64_t records = Get64(r + 32), cdSize = Get64(r + 40), cdOffset = Get64(r + 48);
    if (Get32(r + 16) != 0 || Get32(r + 20) != 0 || Get64(r + 24) != records)
        return Fail(reason, "archives split over several disks are not served");
    if (records > INT32_MAX || cdOffset > recordAt || cdSize > recordAt - cdOffset)
        return Fail(reason, "central directory lies outside the file");
    cd->m_Records = static_cast<int32_t>(records);
    cd->m_Size = static_cast<uint32_t>(cdSize);
    cd->m_Offset = static_cast<uint32_t>(cdOffset);
    return true;
}

// Searches back over a comment of up to 64 KB for the end record.
static bool FindEndRecord(ArchiveSource* source, const uint8_t* tail, uint32_t tailSize,
                          CentralDirectory* cd, char* reason) {
    bool seen = false;
    for (uint32_t p = tailSize - kEndRecordSize + 1; p-- > 0;) {
        if (Get32(tail + p) != kEndSignature) continue;
        seen = true;
        uint32_t at = source->m_Size - tailSize + p;
        if (p >= kEnd64LocatorSize && Get32(tail + p - kEnd64LocatorSize) == kEnd64LocatorSignature)
            return ReadZip64End(source, tail + p - kEnd64LocatorSize, at - kEnd64LocatorSize, cd, reason);
        switch (CheckEndRecord(tail, p, at, source->m_Size)) {
            case kNotTheRecord: continue;
            case kRecordZip64: return Fail(reason, "zip64 sizes or offsets past 32 bits are not served");
            case kRecordSplit: return Fail(reason, "archives split over several disks are not served");
            case kRecordFits: break;
        }
        cd->m_Records = Get16(tail + p + 10);
        cd->m_Size = Get32(tail + p + 12);
        cd->m_Offset = Get32(tail + p + 16);
        return true;
    }
    return Fail(reason, seen ? "central directory lies outside the file" : "no end record (not a zip archive)");
}

bool FindCentralDirectory(ArchiveSource* source, CentralDirectory* cd, char* reason) {
    if (source->m_Size < kEndRecordSize) return Fail(reason, "no end record (not a zip archive)");
    uint32_t tailSize = source->m_Size < kEndRecordSize + kMaxCommentSize ? source->m_Size
                                                                          : kEndRecordSize + kMaxCommentSize;
    uint8_t* tail = ZipAllocate<uint8_t>(tailSize, __LINE__);
    if (!tail) return Fail(reason, "out of memory");
    bool found = ReadArchive(source, source->m_Size - tailSize, tail, tailSize)
                     ? FindEndRecord(source, tail, tailSize, cd, reason)
                     : Fail(reason, "cannot read the archive");
    ZipRelease(tail);
    if (!found) return false;
    // Checked before anything is sized by the count.
    if (static_cast<uint32_t>(cd->m_Records) > cd->m_Size / kCentralRecordSize)
        return Fail(reason, "central directory is damaged: too short for %d records", cd->m_Records);
    cd->m_Bytes = MountAllocate<uint8_t>(cd->m_Size + 1);
    if (!cd->m_Bytes) return Fail(reason, "out of memory");
    if (!ReadArchive(source, cd->m_Offset, cd->m_Bytes, cd->m_Size))
        return Fail(reason, "cannot read the central directory");
    return true;
}

// ---------------------------------------------------- central directory

static bool IsDirectoryName(const char* name, uint32_t length) {
    return length > 0 && (name[length - 1] == '/' || name[length - 1] == '\\');
}

// The checks on one member, named in the reason by its text.
static bool CheckMember(const uint8_t* r, const char* name, bool packed, char* reason) {
    uint16_t method = Get16(r + 10);
    uint32_t comp = Get32(r + 20), size = Get32(r + 24);
    if (Get16(r + 8) & kFlagEncrypted) return Fail(reason, "member '%s' is encrypted", name);
    if (comp == 0xFFFFFFFF || size == 0xFFFFFFFF || Get32(r + 42) == 0xFFFFFFFF)
        return Fail(reason, "member '%s' has zip64 sizes, which are not served", name);
    if (method != kMethodStored && method != kMethodDeflate)
        return Fail(reason, "member '%s' uses compression method %u; only stored and deflate are served",
                    name, method);
    // A deflated member as long packed as unpacked is held one byte longer
    // (see BuildDirectory), which must still fit.
    if (size >= INT32_MAX || comp > INT32_MAX) return Fail(reason, "member '%s' is 2 GiB or larger", name);
    if (method == kMethodStored && comp != size)
        return Fail(reason, "stored member '%s' has a stored size unlike its size", name);
    if (packed && !ZipNamePackable(name))
        return Fail(reason, "member name '%s' cannot be packed", name);
    return true;
}

static bool CheckName(const uint8_t* text, uint32_t length, char* reason) {
    if (length == 0) return Fail(reason, "a member has an empty name");
    if (length >= static_cast<uint32_t>(kZipNameLength))
        return Fail(reason, "a member name is longer than %d characters", kZipNameLength - 1);
    if (memchr(text, 0, length)) return Fail(reason, "a member name holds a NUL byte");
    return true;
}

// Folded once here, names sort with a plain byte comparison.
static void Fold(char* out, const char* text, uint32_t length) {
    for (uint32_t i = 0; i <= length; ++i) out[i] = ZipFoldChar(text[i]);
}

bool ReadMembers(const CentralDirectory* cd, bool packed, MountMember* members, char* names,
                 char* folded, int32_t* count, char* reason) {
    uint32_t pos = 0;
    *count = 0;
    for (int32_t i = 0; i < cd->m_Records; ++i) {
        const uint8_t* r = cd->m_Bytes + pos;
        if (cd->m_Size - pos < kCentralRecordSize || Get32(r) != kCentralSignature)
            return Fail(reason, "central directory is damaged at record %d", i);
        uint32_t nameLength = Get16(r + 28);
        uint32_t recordLength = kCentralRecordSize + nameLength + Get16(r + 30) + Get16(r + 32);
        if (cd->m_Size - pos < recordLength)
            return Fail(reason, "central directory is damaged at record %d", i);
        pos += recordLength;
        const char* text = reinterpret_cast<const char*>(r + kCentralRecordSize);
        if (IsDirectoryName(text, nameLength)) continue;
        if (!CheckName(r + kCentralRecordSize, nameLength, reason)) return false;
        memcpy(names, text, nameLength);
        names[nameLength] = 0;
        if (!CheckMember(r, names, packed, reason)) return false;
        Fold(folded, names, nameLength);
        members[*count] = {names, folded, Get32(r + 42), static_cast<int32_t>(Get32(r + 24)),
                           static_cast<int32_t>(Get32(r + 20)), Get32(r + 16), i,
                           Get16(r + 10) == kMethodDeflate};
        ++*count;
        names += nameLength + 1;
        folded += nameLength + 1;
    }
    return true;
}

// ------------------------------------------------------- local headers

// The local header's own name and extra lengths place the data; they may
// differ from the central directory's. A deflated member's data may end one
// byte past the central directory's start: one as long packed as unpacked is
// held one byte longer (see HeldCompSize), and that byte, inside the
// archive, is never consumed.
const char* PlaceData(const uint8_t* header, uint32_t headerAt, const zipEntry* entry, uint32_t dataEnd,
                      uint32_t* data) {
    if (Get32(header) != kLocalSignature) return "its local header has no signature";
    uint32_t at = headerAt + kLocalHeaderSize + Get16(header + 26) + Get16(header + 28);
    uint32_t slack = entry->m_Size != entry->m_CompSize ? 1 : 0;
    if (at > dataEnd || static_cast<uint32_t>(entry->m_CompSize) > dataEnd + slack - at)
        return "its data lies outside the file";
    *data = at;
    return nullptr;
}

bool HeaderInside(uint32_t headerAt, uint32_t dataEnd) {
    return headerAt <= dataEnd && dataEnd - headerAt >= kLocalHeaderSize;
}
