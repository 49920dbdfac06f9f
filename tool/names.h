// Hashing and comparing names a word at a time, with or without folding the
// case of ASCII letters (bytes above 127 never fold).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Lower-cases the ASCII letters among eight bytes at once.
inline uint64_t FoldWord(uint64_t x) {
    const uint64_t ones = 0x0101010101010101ull;
    uint64_t low = x & (0x7F * ones);
    uint64_t atLeastA = low + (0x80 - 'A') * ones;
    uint64_t aboveZ = low + (0x80 - 'Z' - 1) * ones;
    uint64_t upper = atLeastA & ~aboveZ & ~x & (0x80 * ones);
    return x | (upper >> 2);
}

// Bytes [offset, offset + 8) of text, zero past length. A short last word of
// a long text is read as the eight bytes ending at length, shifted down, so
// that every read is one unaligned load.
inline uint64_t LoadWord(const char* text, size_t offset, size_t length) {
    uint64_t word = 0;
    size_t left = length - offset;
    if (left >= 8) {
        memcpy(&word, text + offset, 8);
    } else if (length >= 8) {
        memcpy(&word, text + length - 8, 8);
        word >>= 8 * (8 - left);
    } else {
        for (size_t i = 0; i < left; ++i) word |= uint64_t(uint8_t(text[offset + i])) << (8 * i);
    }
    return word;
}

// A whole word at offset; the caller knows eight bytes are there.
inline uint64_t FullWord(const char* text, size_t offset) {
    uint64_t word;
    memcpy(&word, text + offset, 8);
    return word;
}

inline uint32_t FinishHash(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

inline uint64_t MixWord(uint64_t h, uint64_t word) {
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

// The folded hash lower-cases exactly the ASCII letters, as the comparison
// does: a looser fold (setting bit 5 of every byte, say) would hash '[' and
// '{', or Latin-1 capitals and small letters, alike, and names made of such
// bytes would all land on one probe cluster. Words go to two lanes in turn,
// so that two multiplies are in flight at once.
template <bool kFold>
inline uint64_t HashWord(uint64_t word) {
    return kFold ? FoldWord(word) : word;
}

template <bool kFold>
uint32_t NameHash(const char* text, size_t length) {
    uint64_t a = length * 0x9E3779B97F4A7C15ull, b = 0xC2B2AE3D27D4EB4Full;
    size_t at = 0;
    for (; at + 16 <= length; at += 16) {
        a = MixWord(a, HashWord<kFold>(FullWord(text, at)));
        b = MixWord(b, HashWord<kFold>(FullWord(text, at + 8)));
    }
    if (at + 8 <= length) {
        a = MixWord(a, HashWord<kFold>(FullWord(text, at)));
        at += 8;
    }
    if (at < length) b = MixWord(b, HashWord<kFold>(LoadWord(text, at, length)));
    return FinishHash(a ^ (b >> 7) ^ (b << 23));
}

// Most repeats are spelled the same, so words are folded only when they differ.
inline bool EqualFolded(const char* a, const char* b, size_t length) {
    size_t at = 0;
    for (; at + 8 <= length; at += 8) {
        uint64_t x = FullWord(a, at), y = FullWord(b, at);
        if (x != y && FoldWord(x) != FoldWord(y)) return false;
    }
    if (at == length) return true;
    uint64_t x = LoadWord(a, at, length), y = LoadWord(b, at, length);
    return x == y || FoldWord(x) == FoldWord(y);
}
