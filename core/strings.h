// Bounded string operations: the result is always terminated within size.
#pragma once

#include <cstdarg>
#include <cstddef>

char* SafeStrncpy(char* destination, const char* source, size_t size);
char* SafeVsnprintf(char* destination, size_t size, const char* format, va_list args);
char* SafeSnprintf(char* destination, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Comparisons that ignore the case of ASCII letters only; other bytes, high
// ones included, must be equal. Independent of the locale.
bool EqualNoCase(const char* a, const char* b);
bool StartsWithNoCase(const char* text, const char* prefix);

// Lower-cases ASCII letters and turns '/' into '\', terminator included.
// Destination and source may be the same buffer.
void LowerPath(char* destination, const char* source);

// The bytes of the UTF-8 character that text starts with: 1 for ASCII (the
// terminator too), 2 to 4 for a well-formed sequence, 0 when the bytes there
// are not UTF-8 (a stray continuation byte, an overlong form, a surrogate,
// past U+10FFFF, a sequence cut short).
int Utf8Length(const char* text);
