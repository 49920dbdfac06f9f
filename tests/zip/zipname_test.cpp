// The member-name code: packing, unpacking with front coding, and the two
// comparisons lookups use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture_system.h"
#include "zip/zipfile.h"

namespace {

std::vector<uint8_t> Pack(const std::string& name) {
    std::vector<uint8_t> out(kZipNameLength, 0xEE);
    out.resize(PackZipName(out.data(), name.c_str()));
    return out;
}

struct PackCase {
    std::string m_Name;
    std::vector<uint8_t> m_Bytes;
};

TEST(ZipNames, PackToTheDocumentedBytes) {
    const PackCase cases[] = {
        {"a", {0x15, 0x00}},
        {"abc", {0x95, 0x75, 0x01}},
        {"", {0x00}},
        {"A", {0x15, 0x00}},            // letters pack as lower case
        {"\\", Pack("/")},              // both separators are code 8
        {std::string("a\x80" "b", 3), {0x15, 0x60, 0x01}},  // a raw code 0 mid-name
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(c.m_Name);
        EXPECT_EQ(Pack(c.m_Name), c.m_Bytes);
        EXPECT_EQ(PackZipName(nullptr, c.m_Name.c_str()), static_cast<int32_t>(c.m_Bytes.size()));
    }
    // ceil(6 * (n + 1) / 8) for every length a name can have.
    for (size_t n = 0; n < 256; ++n)
        ASSERT_EQ(PackZipName(nullptr, std::string(n, 'x').c_str()), static_cast<int32_t>((6 * (n + 1) + 7) / 8));
}

TEST(ZipNames, EveryTableCharacterRoundTrips) {
    CaptureSystem capture;
    std::string all = " #$()-./0123456789_abcdefghijklmnopqrstuvwxyz~";
    std::vector<uint8_t> packed = Pack(all);
    char name[kZipNameLength];
    bool packedMode = s_PackedNames, front = s_FrontCoded;
    s_PackedNames = true;
    s_FrontCoded = false;
    zipEntry entry = {reinterpret_cast<const char*>(packed.data()), 0, 0, 0};
    EXPECT_EQ(std::string(UnpackZipName(name, &entry)), all);
    s_PackedNames = packedMode;
    s_FrontCoded = front;
    EXPECT_EQ(capture.m_Console, "");
    EXPECT_TRUE(ZipNamePackable(all.c_str()));
}

TEST(ZipNames, CharactersOutsideTheCodeWarnOnceEachAndPackAsCode48) {
    const std::string keys[] = {"a?b", "a%b", "a[b", std::string("a\xC0" "b")};
    for (const std::string& key : keys) {
        SCOPED_TRACE(key);
        CaptureSystem capture;
        std::vector<uint8_t> packed = Pack(key);
        EXPECT_EQ(PackedCode(packed.data(), 1), 48);
        EXPECT_FALSE(ZipNamePackable(key.c_str()));
        std::string expected = "Character " + key.substr(1, 1) + " (" +
                               std::to_string(static_cast<unsigned char>(key[1])) +
                               ") in zipfile name (" + key + ")";
        EXPECT_NE(capture.m_Console.find(expected), std::string::npos) << capture.m_Console;
        EXPECT_EQ(capture.m_Console.find("Character", capture.m_Console.find(expected) + 1), std::string::npos);
    }
}

TEST(ZipNames, ComparisonsFoldCaseAndSeparatorsAndAgree) {
    struct Case {
        const char* m_Key;
        const char* m_Name;
        int m_Sign;
    };
    const Case cases[] = {
        {"Maps\\Level1.DAT", "maps/level1.dat", 0},
        {"maps", "maps/level1.dat", -1},  // a proper prefix sorts first
        {"maps/level1.dat", "maps", 1},
        {"a b", "a_b", -1},
        {"z", "a", 1},
        {"", "", 0},
    };
    auto sign = [](int32_t v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.m_Key) + " vs " + c.m_Name);
        EXPECT_EQ(sign(ZipNameCompare(c.m_Key, c.m_Name)), c.m_Sign);
        EXPECT_EQ(sign(PackedNameCompare(Pack(c.m_Key).data(), Pack(c.m_Name).data())), c.m_Sign);
    }
}

// A little directory of hand-packed front-coded names.
class FrontCoding : public ::testing::Test {
protected:
    void SetUp() override {
        m_Packed = s_PackedNames;
        m_Front = s_FrontCoded;
        s_PackedNames = s_FrontCoded = true;
    }
    void TearDown() override {
        s_PackedNames = m_Packed;
        s_FrontCoded = m_Front;
    }
    // Codes c0, c1, then the rest of the name.
    static std::vector<uint8_t> Front(int c0, int c1, const std::string& rest) {
        std::vector<uint8_t> whole = Pack(rest), out(kZipNameLength, 0);
        std::vector<int> codes = {c0, c1};
        for (int k = 0;; ++k) {
            codes.push_back(PackedCode(whole.data(), k));
            if (codes.back() == 0) break;
        }
        uint32_t accumulator = 0;
        int bits = 0;
        size_t length = 0;
        for (int code : codes) {
            accumulator |= static_cast<uint32_t>(code) << bits;
            for (bits += 6; bits >= 8; bits -= 8, accumulator >>= 8) out[length++] = static_cast<uint8_t>(accumulator);
        }
        if (bits) out[length++] = static_cast<uint8_t>(accumulator);
        out.resize(length);
        return out;
    }
    bool m_Packed = false, m_Front = false;
};

TEST_F(FrontCoding, SharedLengthComesFromTheFirstTwoCodes) {
    std::vector<uint8_t> first = Pack("textures/walls/brick_01.tex");
    std::vector<uint8_t> second = Front(57, 2, "xyz");        // 1 + 8 * 2 = 17 shared
    std::vector<uint8_t> third = Front(56, 0, "sounds/a.wav");  // nothing shared
    std::vector<uint8_t> fourth = Front(56 + 3, 32 + 1, "_02.tex");  // c1's top bit is unused: 3 + 8
    zipEntry entries[] = {
        {reinterpret_cast<const char*>(first.data()), 0, 0, 0},
        {reinterpret_cast<const char*>(second.data()), 0, 0, 0},
        {reinterpret_cast<const char*>(third.data()), 0, 0, 0},
        {reinterpret_cast<const char*>(fourth.data()), 0, 0, 0},
    };
    char name[kZipNameLength];
    EXPECT_STREQ(UnpackZipName(name, &entries[1]), "textures/walls/brxyz");
    EXPECT_STREQ(UnpackZipName(name, &entries[2]), "sounds/a.wav");
    EXPECT_STREQ(UnpackZipName(name, &entries[3]), "sounds/a.wa_02.tex");
}

TEST_F(FrontCoding, APrefixLongerThanThePreviousNameTakesOnlyThatName) {
    std::vector<uint8_t> first = Pack("ab");
    std::vector<uint8_t> second = Front(63, 31, "c");  // claims 255 shared characters
    zipEntry entries[] = {
        {reinterpret_cast<const char*>(first.data()), 0, 0, 0},
        {reinterpret_cast<const char*>(second.data()), 0, 0, 0},
    };
    char name[kZipNameLength];
    EXPECT_STREQ(UnpackZipName(name, &entries[1]), "abc");
}

}  // namespace
