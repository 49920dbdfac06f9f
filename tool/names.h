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

inline uint32_t FinishHash(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

template <bool kFold>
uint32_t NameHash(const char* text, size_t length) {
    uint64_t h = length * 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < length; i += 8) {
        uint64_t word = LoadWord(text, i, length);
        h = (h ^ (kFold ? FoldWord(word) : word)) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
    }
    return FinishHash(h);
}

inline bool EqualFolded(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; i += 8)
        if (FoldWord(LoadWord(a, i, length)) != FoldWord(LoadWord(b, i, length))) return false;
    return true;
}

// A mask with the high bit set in exactly the bytes of word that are zero
// (no borrow runs from one byte into the next).
inline uint64_t ZeroBytes(uint64_t word) {
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((word & low7) + low7) | word | low7);
}

// Where a record's name ends: the first ')' at or after offset from, unless a
// zero byte (the end of the text, as the text functions read it) comes first.
// Null when neither stands within length.
inline const char* FindClose(const char* text, size_t from, size_t length) {
    const uint64_t parens = 0x2929292929292929ull;  // ')'
    for (size_t at = 0; at < length; at += 8) {
        uint64_t word = LoadWord(text, at, length);
        uint64_t zeros = ZeroBytes(word);
        uint64_t closes = at + 8 > from ? ZeroBytes(word ^ parens) : 0;
        if (at < from && at + 8 > from) closes &= ~0ull << (8 * (from - at));
        if (length - at < 8) zeros &= (1ull << (8 * (length - at))) - 1;  // not the padding
        uint64_t hits = zeros | closes;
        if (!hits) continue;
        size_t offset = at + __builtin_ctzll(hits) / 8;
        return (closes >> (8 * (offset - at)) & 0x80) ? text + offset : nullptr;
    }
    return nullptr;
}
