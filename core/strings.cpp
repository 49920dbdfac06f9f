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
