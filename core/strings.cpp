#include "core/strings.h"

#include <cstdio>
#include <cstring>

char* SafeStrncpy(char* destination, const char* source, size_t size) {
    destination[size - 1] = 0;
    strncpy(destination, source, size - 1);
    return destination;
}

char* SafeVsnprintf(char* destination, size_t size, const char* format, va_list args) {
    destination[size - 1] = 0;
    vsnprintf(destination, size, format, args);
    return destination;
}

char* SafeSnprintf(char* destination, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SafeVsnprintf(destination, size, format, args);
    va_end(args);
    return destination;
}

static int AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

bool EqualNoCase(const char* a, const char* b) {
    for (; *a && AsciiLower(*a) == AsciiLower(*b); ++a, ++b) {
    }
    return AsciiLower(*a) == AsciiLower(*b);
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (AsciiLower(*text) != AsciiLower(*prefix)) return false;
    return true;
}

void LowerPath(char* destination, const char* source) {
    do {
        char c = *source;
        *destination++ = c == '/' ? '\\' : static_cast<char>(AsciiLower(c));
    } while (*source++);
}

namespace {

// The length of the UTF-8 sequence that starts with lead, 0 when no
// sequence may start with it (overlong two-byte leads and past U+10FFFF
// included).
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The second byte's range narrows for the leads that could otherwise spell
// an overlong form, a surrogate or a code point past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
    if (lead == 0xE0) return second >= 0xA0 && second <= 0xBF;
    if (lead == 0xED) return second >= 0x80 && second <= 0x9F;
    if (lead == 0xF0) return second >= 0x90 && second <= 0xBF;
    if (lead == 0xF4) return second >= 0x80 && second <= 0x8F;
    return second >= 0x80 && second <= 0xBF;
}

}  // namespace

int Utf8Length(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    int length = SequenceLength(p[0]);
    if (length <= 1) return length;
    if (!SecondByteFits(p[0], p[1])) return 0;
    for (int i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return length;
}
