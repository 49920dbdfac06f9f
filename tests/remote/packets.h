// Packets as the wire carries them, spelled out byte by byte for the tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// Little-endian 32-bit words, then raw bytes.
inline Bytes Words(std::initializer_list<int32_t> words, const std::string& tail = "") {
    Bytes bytes;
    for (uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(word >> shift));
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

inline Bytes Reply(int32_t code, int32_t result, const std::string& data = "") {
    return Words({0, code, result, 16 + int32_t(data.size())}, data);
}

// A name with its terminator, and one zero-filled to a 256-byte field.
inline std::string Z(const std::string& name) {
    return name + '\0';
}
inline std::string Field(const std::string& name) {
    return name + std::string(256 - name.size(), 0);
}
