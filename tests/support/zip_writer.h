// Builds zip archives in memory, member by member, and says where each
// record landed, so that tests can cut them or alter their fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipMember {
    std::string m_Name;
    std::string m_Data;
    bool m_Deflate = false;
    // When set, the local header's extra field is padded so that the data
    // begins at this offset.
    uint32_t m_DataAt = 0;
};

struct ZipLayout {
    std::vector<uint32_t> m_Local;    // each member's local header
    std::vector<uint32_t> m_Central;  // each member's central record
    uint32_t m_End = 0;               // the end record
};

std::string RawDeflate(const std::string& data);
std::string BuildZip(const std::vector<ZipMember>& members, ZipLayout* layout = nullptr,
                     const std::string& comment = "");
void Put16(std::string& bytes, size_t at, uint16_t value);
void Put32(std::string& bytes, size_t at, uint32_t value);
