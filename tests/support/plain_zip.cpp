#include "support/plain_zip.h"

#include <zlib.h>

#include <cstring>

namespace {

const uint32_t kEndSig = 0x06054b50;
const uint32_t kLocatorSig = 0x07064b50;
const uint32_t kZip64Sig = 0x06064b50;
const uint32_t kCentralSig = 0x02014b50;
const uint32_t kLocalSig = 0x04034b50;
const size_t kEndLength = 22;
const size_t kCentralLength = 46;
const size_t kLocalLength = 30;
const size_t kLongestComment = 0xFFFF;

// Every read names its bytes' place and length; none is outside the image.
struct Bytes {
    const uint8_t* m_Data;
    size_t m_Size;

    bool Has(uint64_t at, uint64_t length) const { return at <= m_Size && length <= m_Size - at; }
    uint32_t U16(size_t at) const { return m_Data[at] | m_Data[at + 1] << 8; }
    uint32_t U32(size_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
    bool Sig(size_t at, uint32_t sig) const { return Has(at, 4) && U32(at) == sig; }
};

// The local header's own name and extra lengths say where the data starts.
void Locate(const Bytes& b, PlainMember* m) {
    if (!b.Has(m->m_LocalHeader, kLocalLength) || !b.Sig(m->m_LocalHeader, kLocalSig)) return;
    uint64_t data = uint64_t(m->m_LocalHeader) + kLocalLength + b.U16(m->m_LocalHeader + 26) +
                    b.U16(m->m_LocalHeader + 28);
    if (!b.Has(data, 0)) return;
    m->m_DataOffset = static_cast<uint32_t>(data);
    m->m_Located = true;
}

// One central record at pos, which must lie whole within [pos, end).
bool ReadRecord(const Bytes& b, size_t* pos, size_t end, PlainMember* m) {
    if (end - *pos < kCentralLength || !b.Sig(*pos, kCentralSig)) return false;
    size_t at = *pos;
    size_t length = kCentralLength + b.U16(at + 28) + b.U16(at + 30) + b.U16(at + 32);
    if (end - at < length) return false;
    m->m_Flags = static_cast<uint16_t>(b.U16(at + 8));
    m->m_Method = static_cast<uint16_t>(b.U16(at + 10));
    m->m_Crc = b.U32(at + 16);
    m->m_CompSize = b.U32(at + 20);
    m->m_Size = b.U32(at + 24);
    m->m_LocalHeader = b.U32(at + 42);
    m->m_Name.assign(reinterpret_cast<const char*>(b.m_Data + at + kCentralLength), b.U16(at + 28));
    *pos = at + length;
    return true;
}

// Where a directory lies and how many records it holds; it must end by limit.
struct Place {
    uint64_t m_Count, m_Size, m_Offset, m_Limit;
};

bool WalkDirectory(const Bytes& b, size_t endAt, const Place& place, PlainArchive* archive) {
    if (place.m_Offset > place.m_Limit || place.m_Size > place.m_Limit - place.m_Offset ||
        place.m_Count > place.m_Size / kCentralLength)
        return false;
    uint32_t count = uint32_t(place.m_Count), cdSize = uint32_t(place.m_Size), cdOffset = uint32_t(place.m_Offset);
    archive->m_Members.assign(count, PlainMember());
    size_t pos = cdOffset;
    for (PlainMember& m : archive->m_Members)
        if (!ReadRecord(b, &pos, size_t(cdOffset) + cdSize, &m)) return false;
    for (PlainMember& m : archive->m_Members) Locate(b, &m);
    archive->m_EndRecord = static_cast<uint32_t>(endAt);
    archive->m_DirectoryOffset = cdOffset;
    archive->m_DirectorySize = cdSize;
    return true;
}

bool CommentFits(const Bytes& b, size_t endAt) { return b.U16(endAt + 20) <= b.m_Size - endAt - kEndLength; }

uint64_t U64(const Bytes& b, size_t at) { return b.U32(at) | uint64_t(b.U32(at + 4)) << 32; }

// A zip64 locator in front of the end record points at the record that holds
// the real counts; the directory then ends before that record.
bool ZipPlace(const Bytes& b, size_t endAt, Place* place) {
    if (endAt < 20 || !b.Sig(endAt - 20, kLocatorSig)) {
        *place = {b.U16(endAt + 10), b.U32(endAt + 12), b.U32(endAt + 16), endAt};
        return true;
    }
    uint64_t recordAt = U64(b, endAt - 20 + 8);
    if (recordAt > endAt - 20 || endAt - 20 - recordAt < 56 || !b.Sig(recordAt, kZip64Sig)) return false;
    *place = {U64(b, recordAt + 32), U64(b, recordAt + 40), U64(b, recordAt + 48), recordAt};
    return true;
}

bool TakeEndRecord(const Bytes& b, size_t endAt, PlainArchive* archive) {
    Place place;
    return b.Sig(endAt, kEndSig) && CommentFits(b, endAt) && ZipPlace(b, endAt, &place) &&
           WalkDirectory(b, endAt, place, archive);
}

bool Inflated(const uint8_t* in, uint32_t inLength, uint32_t size, std::string* out) {
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out->assign(size_t(size) + 1, '\0');  // one spare byte shows a stream that runs long
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = inLength;
    z.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
    z.avail_out = size + 1;
    int r = Z_OK;
    while (r == Z_OK) r = inflate(&z, Z_NO_FLUSH);
    out->resize(z.total_out);
    inflateEnd(&z);
    return r == Z_STREAM_END && z.total_out == size;
}

}  // namespace

bool ReadPlainZip(const uint8_t* image, size_t size, PlainArchive* archive) {
    Bytes b = {image, size};
    if (size < kEndLength) return false;
    size_t lowest = size - kEndLength > kLongestComment ? size - kEndLength - kLongestComment : 0;
    *archive = PlainArchive();
    for (size_t at = lowest; at + kEndLength <= size; ++at)
        if (b.Sig(at, kEndSig) && at >= 20 && b.Sig(at - 20, kLocatorSig)) archive->m_Zip64Seen = true;
    for (size_t at = size - kEndLength + 1; at-- > lowest;)
        if (TakeEndRecord(b, at, archive)) return true;
    archive->m_Members.clear();
    return false;
}

bool ReadPlainMember(const uint8_t* image, size_t size, const PlainMember& member, uint32_t maxSize,
                     std::string* data) {
    Bytes b = {image, size};
    data->clear();
    if (!member.m_Located || (member.m_Flags & 1) || member.m_Size > maxSize ||
        !b.Has(member.m_DataOffset, member.m_CompSize))
        return false;
    const uint8_t* in = image + member.m_DataOffset;
    bool whole = false;
    if (member.m_Method == 0) {
        data->assign(reinterpret_cast<const char*>(in), member.m_CompSize);
        whole = member.m_CompSize == member.m_Size;
    } else if (member.m_Method == 8) {
        whole = Inflated(in, member.m_CompSize, member.m_Size, data);
    }
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data->data()),
                                               static_cast<uInt>(data->size())));
    return whole && crc == member.m_Crc;
}

std::string PlainFold(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '\\') c = '/';
    }
    return folded;
}
