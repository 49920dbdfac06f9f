// Files, attributes, thread ids and clocks through the platform layer: the
// edges that the tests of the layers above do not reach. Portable: the same
// cases run against every implementation of platform.h.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Past 2 GiB - 1 a position does not fit the library's 32-bit positions: the
// seek is refused and moves nothing, never answered with the low 32 bits
// (which made a file of 4 GiB and 128 bytes look 128 bytes long).
TEST(PlatformFiles, SeeksPastTwoGigabytesAreRefusedWithoutMoving) {
    TempDir temp;
    for (uintmax_t size : {uintmax_t(1) << 31, (uintmax_t(1) << 32) + 128}) {
        std::string name = temp.Path("sparse.bin");
        { std::FILE* f = std::fopen(name.c_str(), "wb"); ASSERT_TRUE(f); std::fclose(f); }
        fs::resize_file(name, size);
        int32_t h = plat::FileOpen(name.c_str(), true);
        ASSERT_GE(h, 0);
        EXPECT_EQ(100, plat::FileSeek(h, 100, 0));
        EXPECT_EQ(-1, plat::FileSeek(h, 0, 2)) << size;
        EXPECT_EQ(-1, plat::FileSeek(h, INT32_MAX, 1)) << size;
        EXPECT_EQ(100, plat::FileSeek(h, 0, 1)) << "a refused seek must not move the position";
        EXPECT_EQ(INT32_MAX, plat::FileSeek(h, INT32_MAX, 0)) << "the last position that fits";
        char byte = 1;
        EXPECT_EQ(1, plat::FileRead(h, &byte, 1, nullptr));
        EXPECT_EQ(0, byte);
        EXPECT_EQ(0, plat::FileClose(h));
        fs::remove(name);
    }
}

TEST(PlatformFiles, SeekFromEachOriginReadPastEndAndRefuseNegativePositions) {
    TempDir temp;
    int32_t h = plat::FileCreate(temp.Path("data.bin").c_str());
    ASSERT_GE(h, 0);
    ASSERT_EQ(10, plat::FileWrite(h, "0123456789", 10));
    struct Step {
        int32_t offset, origin, position, count;
        const char* read;  // what the read after the seek must give
    };
    const Step steps[] = {
        {2, 0, 2, 3, "234"}, {2, 1, 7, 2, "78"}, {-4, 2, 6, 2, "67"}, {-2, 2, 8, 16, "89"}};
    char buffer[16] = {};
    for (const Step& s : steps) {
        EXPECT_EQ(s.position, plat::FileSeek(h, s.offset, s.origin)) << s.read;
        EXPECT_EQ(int32_t(std::strlen(s.read)), plat::FileRead(h, buffer, s.count, nullptr));
        EXPECT_EQ(0, std::memcmp(buffer, s.read, std::strlen(s.read))) << s.read;
    }
    int32_t error = 0;
    EXPECT_EQ(0, plat::FileRead(h, buffer, sizeof buffer, &error)) << "at the end";
    EXPECT_EQ(0, error);
    for (int32_t origin : {0, 1, 2}) EXPECT_EQ(-1, plat::FileSeek(h, -20, origin)) << origin;
    EXPECT_EQ(10, plat::FileSeek(h, 0, 1)) << "a failed seek must not move the position";
    EXPECT_EQ(12, plat::FileSeek(h, 2, 2)) << "beyond the end is a valid position";
    EXPECT_EQ(0, plat::FileClose(h));

    // Now a bad handle: everything fails, a read with the system's error code.
    EXPECT_EQ(-1, plat::FileRead(h, buffer, sizeof buffer, &error));
    EXPECT_NE(0, error);
    EXPECT_EQ(-1, plat::FileWrite(h, "x", 1));
    EXPECT_EQ(-1, plat::FileSeek(h, 0, 0));
    EXPECT_EQ(-1, plat::FileClose(h));
}

TEST(PlatformFiles, DirectoryIsNoFileAndFileOpenForReadingSurvivesCreate) {
    TempDir temp;
    for (bool readOnly : {true, false})
        EXPECT_EQ(-1, plat::FileOpen(temp.Path(".").c_str(), readOnly)) << readOnly;

    std::string busy = temp.Write("busy.bin", "keep me");
    int32_t reader = plat::FileOpen(busy.c_str(), true);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(-1, plat::FileCreate(busy.c_str()));
    EXPECT_EQ(-1, plat::FileWrite(reader, "x", 1)) << "the handle is read-only";
    EXPECT_EQ(0, plat::FileClose(reader));
    EXPECT_EQ("keep me", temp.Read("busy.bin"));
}

TEST(PlatformFiles, AttributesShowDirectoriesAndRoundTripTheReadOnlyBit) {
    TempDir temp;
    uint32_t attributes = 0;
    ASSERT_TRUE(plat::FileGetAttributes(temp.Path(".").c_str(), &attributes));
    EXPECT_EQ(plat::kAttrDirectory, attributes & ~uint32_t(plat::kAttrReadOnly));

    std::string path = temp.Write("flip.txt", "f");
    const fs::perms anyWrite =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(path, anyWrite, fs::perm_options::add);  // all must lose it
    // Ends writable, so that the directory can be removed everywhere.
    for (uint32_t wanted : {plat::kAttrNormal, plat::kAttrReadOnly, plat::kAttrNormal}) {
        ASSERT_TRUE(plat::FileSetAttributes(path.c_str(), wanted));
        ASSERT_TRUE(plat::FileGetAttributes(path.c_str(), &attributes));
        // Windows keeps bits of its own (archive) beside these.
        EXPECT_EQ(wanted & plat::kAttrReadOnly, attributes & plat::kAttrReadOnly);
        EXPECT_EQ(0u, attributes & plat::kAttrDirectory);
        EXPECT_EQ(wanted == plat::kAttrReadOnly,
                  (fs::status(path).permissions() & anyWrite) == fs::perms::none)
            << "read-only means nobody may write";
    }
    EXPECT_FALSE(plat::FileGetAttributes(temp.Path("missing").c_str(), &attributes));
    EXPECT_FALSE(plat::FileSetAttributes(temp.Path("missing").c_str(), plat::kAttrReadOnly));
}

// The null device takes whatever is written; it cannot be truncated, and is
// not asked to be.
TEST(PlatformFiles, CreateWritesIntoTheNullDevice) {
#if defined(_WIN32)
    const char* const kNull = "NUL";
#else
    const char* const kNull = "/dev/null";
#endif
    int32_t h = plat::FileCreate(kNull);
    ASSERT_GE(h, 0);
    EXPECT_EQ(6, plat::FileWrite(h, "sorted", 6));
    EXPECT_EQ(0, plat::FileClose(h));
}

// ------------------------------------------------------- threads and clocks

TEST(PlatformThread, IdIsNonZeroStableAndPerThread) {
    uint32_t mine = plat::ThreadId(), other = 0;
    std::thread([&] { other = plat::ThreadId(); }).join();
    EXPECT_NE(0u, mine);
    EXPECT_NE(0u, other);
    EXPECT_NE(mine, other);
    EXPECT_EQ(mine, plat::ThreadId()) << "stable";
}

TEST(PlatformTime, ClocksAdvanceAcrossSleep) {
    ASSERT_GT(plat::PerfFrequency(), 0);
    uint32_t msBefore = plat::TimeMs();
    int64_t ticksBefore = plat::PerfCounter();
    plat::SleepMs(20);
    int64_t ticksAfter = plat::PerfCounter();
    uint32_t msAfter = plat::TimeMs();
    // Lower bounds only: a sleep may last longer, never shorter. TimeMs may
    // tick coarsely and wrap, so its difference only has to be positive.
    EXPECT_GE(ticksAfter - ticksBefore, plat::PerfFrequency() * 20 / 1000);
    EXPECT_GT(int32_t(msAfter - msBefore), 0);
}

}  // namespace
