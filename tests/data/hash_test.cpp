// The string-keyed hash table: bucket arithmetic, both storage modes, the
// global list of tables and the temporary-allocation bracket.
#include "data/hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/memory.h"
#include "support/capture_system.h"

namespace {

const bool kBothModes[] = {false, true};

bool AllHeadsNull(const HashTable& t) {
    return std::all_of(t.m_Buckets, t.m_Buckets + t.m_Size, [](HashNode* head) { return !head; });
}

TEST(HashBuckets, CountsArePrimesOfAtLeast101AndNothingIsAllocatedEarly) {
    const int32_t primes[][2] = {{100, 101},     {101, 101},   {102, 103},   {200, 211},
                                 {256, 257},     {1000, 1009}, {1024, 1031}, {4096, 4099},
                                 {10000, 10007}, {120, 127}};
    for (const auto& p : primes) EXPECT_EQ(p[1], HashTable::ComputePrime(p[0])) << p[0];
    const int32_t sizes[][2] = {{0, 101}, {1, 101}, {50, 101}, {100, 101}, {-5, 101}, {102, 103}};
    for (bool fixed : kBothModes) {
        for (const auto& c : sizes) {
            HashTable table(c[0], fixed, 8, false, false);
            EXPECT_EQ(c[1], table.m_Size) << c[0] << " fixed " << fixed;
            EXPECT_EQ(nullptr, table.Lookup("abc"));
            EXPECT_FALSE(table.Remove("abc"));
            EXPECT_EQ(nullptr, table.m_Buckets);  // looking and removing must not allocate
        }
    }
}

TEST(HashBuckets, BytesCountAsSignedAndHighBitsFoldBack) {
    // Buckets of 101 and of 30011.
    const struct {
        const char* key;
        uint32_t small, large;
    } cases[] = {{"", 0, 0},
                 {"abc", 37, 0x6783},  // below 30011, so the raw value shows
                 {"\xE9", 51, 16841},  // 0x0FFFFF19; unsigned bytes would give 31
                 {"\xE9\xE9\xE9", 11, 17839},
                 {"abcdefghijklmnop", 4, 23186}};
    HashTable small(101, false, 0, false, false);
    HashTable large(30000, false, 0, false, false);
    ASSERT_EQ(30011, large.m_Size);
    for (const auto& c : cases) {
        EXPECT_EQ(c.small, small.Hash(c.key)) << c.key;
        EXPECT_EQ(c.large, large.Hash(c.key)) << c.key;
    }
}

TEST(HashInsert, KeysMatchExactlyDuplicatesReplaceAndCrowdedBucketsWork) {
    int first = 1, second = 2;
    for (bool fixed : kBothModes) {
        HashTable table(0, fixed, 8, false, false);
        char key[] = "Key";
        ASSERT_TRUE(table.Insert(key, &first));
        strcpy(key, "xyz");  // the table keeps its own copy
        // These two share a bucket, so only the key comparison tells them apart.
        ASSERT_EQ(table.Hash("BuCKet"), table.Hash("bUckEt"));
        ASSERT_TRUE(table.Insert("BuCKet", &second));
        for (const char* other : {"key", "KEY", "Ke", "Key2", "xyz", "bUckEt"})
            EXPECT_EQ(nullptr, table.Lookup(other)) << other;
        EXPECT_EQ(&first, table.Lookup("Key"));
        EXPECT_TRUE(table.Insert("Key", &second));
        EXPECT_EQ(&second, table.Lookup("Key"));
        EXPECT_EQ(2, table.m_Count);
        EXPECT_TRUE(table.Remove("Key"));
        EXPECT_FALSE(table.Remove("Key"));
        EXPECT_EQ(nullptr, table.Lookup("Key"));
        EXPECT_TRUE(table.Remove("BuCKet"));

        std::vector<std::string> keys;  // all in the bucket of "abc"
        for (int i = 0; keys.size() < 20; ++i) {
            const std::string key = "k" + std::to_string(i);
            if (table.Hash(key.c_str()) == table.Hash("abc")) keys.push_back(key);
        }
        std::vector<int> values(keys.size());
        for (size_t i = 0; i < keys.size(); ++i) table.Insert(keys[i].c_str(), &values[i]);
        // The last key inserted, one from the middle and the first one.
        for (size_t gone : {19, 10, 0}) EXPECT_TRUE(table.Remove(keys[gone].c_str()));
        EXPECT_EQ(17, table.m_Count);
        for (size_t i = 0; i < keys.size(); ++i) {
            const bool removed = i == 19 || i == 10 || i == 0;
            EXPECT_EQ(removed ? nullptr : &values[i], table.Lookup(keys[i].c_str())) << keys[i];
        }
    }
}

TEST(HashSlots, LowestFreeSlotIsTakenAndOverlongKeysOrAFullTableRefused) {
    HashTable table(0, true, 8, false, false);  // 8 bytes per key, terminator included
    int value = 0;
    EXPECT_FALSE(table.Insert("12345678", &value));
    for (int i = 0; i < table.m_Size; ++i)
        ASSERT_TRUE(table.Insert(std::to_string(i).c_str(), &value)) << i;
    EXPECT_EQ(table.m_Size, table.m_Count);
    EXPECT_FALSE(table.Insert("1234567", &value));
    EXPECT_EQ(nullptr, table.Lookup("1234567"));
    for (const char* key : {"50", "1"}) ASSERT_TRUE(table.Remove(key));
    EXPECT_EQ(0, table.m_Slots[1].m_Key[-1]);
    EXPECT_TRUE(table.Insert("1234567", &value));
    EXPECT_TRUE(table.Insert("x", &value));
    EXPECT_STREQ("1234567", table.m_Slots[1].m_Key);
    EXPECT_STREQ("x", table.m_Slots[50].m_Key);
    EXPECT_EQ(1, table.m_Slots[50].m_Key[-1]);
}

// A block whose size does not fit a signed 32-bit count (the slots, the keys
// or the buckets of a large table) is refused as a failed allocation would be:
// no slots, nothing inserted, and the table can be set up again.
TEST(HashSlots, TablesTooLargeToAddressAreRefusedAsIfMemoryRanOut) {
    struct Case {
        int32_t size;
        bool fixed;
        int16_t keyLength;
    };
    const Case cases[] = {
        {70000, true, 32767},    // keys: 70001 areas of 32768 bytes, past 2 GiB
        {2147483646, true, 8},   // slots and keys
        {2147483646, false, 8},  // buckets
    };
    int value = 0;
    for (const Case& c : cases) {
        HashTable table(c.size, c.fixed, c.keyLength, false, false);
        EXPECT_EQ(nullptr, table.m_Slots) << c.size;
        EXPECT_FALSE(table.Insert("key", &value)) << c.size;
        EXPECT_EQ(0, table.m_Count) << c.size;
        table.InitFixed(100, 8);
        EXPECT_TRUE(table.Insert("key", &value)) << c.size;
        EXPECT_EQ(&value, table.Lookup("key")) << c.size;
    }
}

TEST(HashClear, ForgetsEverythingReleasesUnusedSlotsAndRehashesIntoAFreshArray) {
    int value = 0;
    for (bool fixed : kBothModes) {
        HashTable table(150, fixed, 8, false, false);
        for (const char* key : {"a", "b", "abc"}) ASSERT_TRUE(table.Insert(key, &value));
        table.Clear();
        EXPECT_EQ(nullptr, table.m_Buckets);
        EXPECT_EQ(0, table.m_Count);
        for (const char* key : {"a", "b", "abc"}) EXPECT_EQ(nullptr, table.Lookup(key));
        EXPECT_EQ(0x6783u % 151, table.Hash("abc"));
        ASSERT_NE(nullptr, table.m_Buckets);
        EXPECT_EQ(151, table.m_Size);
        EXPECT_TRUE(AllHeadsNull(table));
    }
    HashTable slots(0, true, 8, false, false);
    slots.Clear();  // nothing was hashed, yet the slots go
    EXPECT_EQ(nullptr, slots.m_Slots);
    slots.InitFixed(200, 16);
    slots.InitFixed(300, 4);  // the leak check shows the earlier slots went back
    slots.Init(120);
    EXPECT_EQ(nullptr, slots.m_Slots);
}

TEST(HashList, RegisteredTablesLeaveWithoutBreakingTheChain) {
    HashTable* const before = s_HashTables;
    auto a = std::make_unique<HashTable>(0, false, 0, true, false);
    auto b = std::make_unique<HashTable>(0, true, 8, true, false);
    auto c = std::make_unique<HashTable>(0, false, 0, true, false);
    EXPECT_EQ(c.get(), s_HashTables);
    EXPECT_EQ(b.get(), c->m_Next);
    EXPECT_EQ(a.get(), b->m_Next);
    EXPECT_EQ(before, a->m_Next);
    b.reset();
    std::make_unique<HashTable>(0, false, 0, false, false).reset();  // never entered the list
    EXPECT_EQ(c.get(), s_HashTables);
    EXPECT_EQ(a.get(), c->m_Next);
    c.reset();
    EXPECT_EQ(a.get(), s_HashTables);
    a.reset();
    EXPECT_EQ(before, s_HashTables);
}

// At depth 0 every operation must leave the bracket closed again. At depth 8
// one more level fails its assertion: that shows which operations open the
// bracket, and that m_SkipNesting stops them.
TEST(HashNesting, AllocationsAndReleasesAreBracketedUnlessSkipped) {
    using Step = void (*)(HashTable&);
    struct Case {
        const char* what;
        Step prepare, act;
        bool brackets;
    };
    static int value = 0;
    const Step none = [](HashTable&) {};
    const Step hash = [](HashTable& t) { t.Hash("a"); };
    const Step fill = [](HashTable& t) { t.Insert("a", &value); };
    const Step slots = [](HashTable& t) { t.InitFixed(0, 8); };
    const Step clear = [](HashTable& t) { t.Clear(); };
    const Step hashedSlots = [](HashTable& t) {
        t.InitFixed(0, 8);
        t.Hash("a");
    };
    const Case cases[] = {
        {"Hash", none, hash, true},
        {"InitFixed", none, slots, true},
        {"Insert", hash, fill, true},
        {"Insert into a slot", hashedSlots, fill, false},
        {"Remove", fill, [](HashTable& t) { t.Remove("a"); }, true},
        {"Clear", fill, clear, true},
        {"Clear of unused slots", slots, clear, true},
        {"Clear of nothing", none, clear, false},
    };
    for (const Case& c : cases) {
        for (int run = 0; run < 4; ++run) {
            const bool skip = run & 1, deep = run & 2;
            HashTable table(0, false, 0, false, skip);
            c.prepare(table);
            ASSERT_EQ(0, s_Temporary) << c.what;
            for (int i = 0; deep && i < kMaxTemporaryNesting; ++i) BeginTemporary();
            CaptureSystem cap;
            c.act(table);
            const bool asserted =
                cap.m_Console.find("Assert(s_Temporary < 8)") != std::string::npos;
            EXPECT_EQ(deep && c.brackets && !skip, asserted) << c.what << run << cap.m_Console;
            // A failed level is still closed, one level too many.
            EXPECT_EQ(deep ? (asserted ? 7 : 8) : 0, s_Temporary) << c.what << run;
            while (s_Temporary > 0) EndTemporary();
        }
    }
}

}  // namespace
