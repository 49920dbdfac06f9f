// Assertions. A failed condition reports its own source text, the source file
// and the line; by default that ends in the fatal stop.
#pragma once

#include <atomic>
#include <cstdint>

// The base name of a source path, so messages do not carry build directories.
constexpr const char* SourceBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

void AssertFailed(const char* expression, const char* file, int line);
// The same, returning 0 so that it can stand inside an expression.
int AssertFailedValue(const char* expression, const char* file, int line);
// True when the program is to stop.
bool AssertQuery(const char* expression, const char* file, int line);

// Set by the Ignore answer; silences every later assertion.
extern std::atomic<bool> s_IgnoreAsserts;

#define Assert(cond) \
    ((cond) ? (void)0 : AssertFailed(#cond, SourceBaseName(__FILE__), __LINE__))
// Expression form: 1 when the condition holds, else 0 after reporting.
#define Verify(cond) ((cond) ? 1 : AssertFailedValue(#cond, SourceBaseName(__FILE__), __LINE__))
