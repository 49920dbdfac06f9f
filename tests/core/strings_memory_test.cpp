// Bounded string copies and formatting, and ASCII-only case folding.
#include <gtest/gtest.h>

#include <cstring>

#include "core/strings.h"

namespace {

TEST(SafeStrings, CopyAndFormatAreCutAndTerminated) {
    char buffer[8];
    auto fresh = [&buffer] { return static_cast<char*>(memset(buffer, 'X', sizeof buffer)); };
    EXPECT_EQ(0, memcmp(SafeStrncpy(fresh(), "abcdef", 4), "abc\0XXXX", 8));
    EXPECT_EQ(0, memcmp(SafeStrncpy(fresh(), "abc", 1), "\0XXXXXXX", 8));
    EXPECT_EQ(0, memcmp(SafeSnprintf(fresh(), 4, "%d", 12345), "123\0XXXX", 8));
    EXPECT_EQ(0, memcmp(SafeSnprintf(fresh(), 5, "%s", "abcd"), "abcd\0XXX", 8));  // exact fit
    EXPECT_EQ(0, memcmp(SafeSnprintf(fresh(), 1, "%s", "abc"), "\0XXXXXXX", 8));
}

TEST(CaseFolding, OnlyAsciiLettersFold) {
    const struct {
        const char* a;
        const char* b;
        bool equal, startsWith;
    } cases[] = {
        {"Hello.TXT", "hELLO.txt", true, true}, {"", "", true, true}, {"", "a", false, false},
        {"abc", "abd", false, false}, {"abc", "ab", false, true}, {"ab", "abc", false, false},
        {"Data/Maps/x.bin", "DATA/maps", false, true},
        // High bytes are compared as they are; '[' and '{' are one bit apart but not letters.
        {"\xE9t\xE9", "\xE9T\xE9", true, true}, {"\xE9", "\xC9", false, false},
        {"[x", "{x", false, false}, {"@", "`", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.equal, EqualNoCase(c.a, c.b)) << c.a << " / " << c.b;
        EXPECT_EQ(c.startsWith, StartsWithNoCase(c.a, c.b)) << c.a << " / " << c.b;
    }
}

}  // namespace
