#include "support/zip_writer.h"

#include <zlib.h>

std::string RawDeflate(const std::string& data) {
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, static_cast<uint16_t>(value));
    Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

static void Append16(std::string& bytes, uint16_t value) {
    bytes.append(2, '\0');
    Put16(bytes, bytes.size() - 2, value);
}

static void Append32(std::string& bytes, uint32_t value) {
    bytes.append(4, '\0');
    Put32(bytes, bytes.size() - 4, value);
}

// Signature and version through the name and extra lengths, shared by the
// local and central records from the flags on.
static void AppendCommon(std::string& out, const ZipMember& m, const std::string& stored, uint16_t extra) {
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(m.m_Data.data()), static_cast<uInt>(m.m_Data.size()));
    Append16(out, 0);                      // flags
    Append16(out, m.m_Deflate ? 8 : 0);    // method
    Append32(out, 0);                      // time and date
    Append32(out, crc);
    Append32(out, static_cast<uint32_t>(stored.size()));
    Append32(out, static_cast<uint32_t>(m.m_Data.size()));
    Append16(out, static_cast<uint16_t>(m.m_Name.size()));
    Append16(out, extra);
}

std::string BuildZip(const std::vector<ZipMember>& members, ZipLayout* layout, const std::string& comment) {
    ZipLayout local;
    std::string out, central;
    for (const ZipMember& m : members) {
        std::string stored = m.m_Deflate ? RawDeflate(m.m_Data) : m.m_Data;
        uint32_t at = static_cast<uint32_t>(out.size());
        uint32_t natural = at + 30 + static_cast<uint32_t>(m.m_Name.size());
        uint16_t padding = static_cast<uint16_t>(m.m_DataAt > natural ? m.m_DataAt - natural : 0);
        local.m_Local.push_back(at);
        Append32(out, 0x04034b50);
        Append16(out, 20);
        AppendCommon(out, m, stored, padding);
        out += m.m_Name + std::string(padding, '\0') + stored;
        local.m_Central.push_back(static_cast<uint32_t>(central.size()));
        Append32(central, 0x02014b50);
        Append16(central, 20);
        Append16(central, 20);
        AppendCommon(central, m, stored, 0);
        Append16(central, 0);  // comment length
        Append32(central, 0);  // disk and internal attributes
        Append32(central, 0);  // external attributes
        Append32(central, at);
        central += m.m_Name;
    }
    uint32_t cdOffset = static_cast<uint32_t>(out.size());
    for (uint32_t& c : local.m_Central) c += cdOffset;
    out += central;
    local.m_End = static_cast<uint32_t>(out.size());
    Append32(out, 0x06054b50);
    Append32(out, 0);  // disk numbers
    Append16(out, static_cast<uint16_t>(members.size()));
    Append16(out, static_cast<uint16_t>(members.size()));
    Append32(out, static_cast<uint32_t>(central.size()));
    Append32(out, cdOffset);
    Append16(out, static_cast<uint16_t>(comment.size()));
    out += comment;
    if (layout) *layout = local;
    return out;
}
