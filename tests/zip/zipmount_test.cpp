// Mounting archives the test builds and then damages: every refusal names
// the archive and its reason and leaves nothing mounted or open, and no cut
// of an archive makes the mount read outside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "file/stream.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "support/zip_writer.h"
#include "zip/zipfile.h"

namespace {

class ZipMount : public ::testing::Test {
protected:
    void TearDown() override {
        zipFile::UnmountAll();
        s_ZipNameMode = kZipNamesPlain;
    }
};

std::vector<ZipMember> Sample() {
    return {{"maps/level1.dat", std::string(3000, 'a'), true},
            {"maps/", ""},  // a directory entry, not a member
            {"sounds/boom.wav", "boom"}};
}

// Moves the counts into a zip64 end record and its locator, as writers do
// for more than 65,535 members; offsetHigh is added to the directory offset.
void AddZip64End(std::string& z, const ZipLayout& l, uint64_t records, uint64_t offsetHigh) {
    std::string end = z.substr(l.m_End);
    uint32_t cdSize = static_cast<uint32_t>(l.m_End - l.m_Central[0]);
    std::string record(56, '\0'), locator(20, '\0');
    Put32(record, 0, 0x06064b50);
    Put32(record, 4, 44);
    Put32(record, 24, static_cast<uint32_t>(records));
    Put32(record, 32, static_cast<uint32_t>(records));
    Put32(record, 40, cdSize);
    Put32(record, 48, l.m_Central[0]);
    Put32(record, 52, static_cast<uint32_t>(offsetHigh >> 32));
    Put32(locator, 0, 0x07064b50);
    Put32(locator, 8, l.m_End);
    Put32(locator, 16, 1);
    Put16(end, 8, 0xFFFF);
    Put16(end, 10, 0xFFFF);
    Put32(end, 12, 0xFFFFFFFF);
    Put32(end, 16, 0xFFFFFFFF);
    z = z.substr(0, l.m_End) + record + locator + end;
}

// Mounts image as bad.zip, from memory or through the memory device.
zipFile* MountBad(const std::string& image, bool throughDevice) {
    s_MemoryFs.Reset();
    s_MemoryFs.m_Files["bad.zip"].assign(image.begin(), image.end());
    return throughDevice ? zipFile::Mount("bad.zip", 0, const_cast<FileDevice*>(&MemoryDevice))
                         : zipFile::MountImage("bad.zip", image.data(), static_cast<uint32_t>(image.size()), 0);
}

struct Refusal {
    const char* m_What;
    std::function<void(std::string&, const ZipLayout&)> m_Damage;
    const char* m_Reason;
    ZipNameMode m_Mode;
    std::vector<ZipMember> m_Members;
};

TEST_F(ZipMount, DamagedOrUnservableArchivesAreRefused) {
    const Refusal cases[] = {
        {"not an archive", [](std::string& z, const ZipLayout&) { z = std::string(5000, 'x'); },
         "no end record", kZipNamesPlain, Sample()},
        {"too short for an end record", [](std::string& z, const ZipLayout&) { z = "PK"; },
         "no end record", kZipNamesPlain, Sample()},
        {"directory past the end", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_End + 16, 1u << 30); },
         "central directory lies outside the file", kZipNamesPlain, Sample()},
        {"split archive", [](std::string& z, const ZipLayout& l) { Put16(z, l.m_End + 4, 1); },
         "split over several disks", kZipNamesPlain, Sample()},
        {"zip64 offsets without a zip64 record", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_End + 16, 0xFFFFFFFF); },
         "zip64 sizes or offsets past 32 bits", kZipNamesPlain, Sample()},
        {"zip64 record past 4 GiB", [](std::string& z, const ZipLayout& l) { AddZip64End(z, l, 3, 1ull << 32); },
         "central directory lies outside the file", kZipNamesPlain, Sample()},
        {"zip64 count beyond the directory", [](std::string& z, const ZipLayout& l) { AddZip64End(z, l, 4, 0); },
         "central directory is damaged", kZipNamesPlain, Sample()},
        {"zip64 member", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_Central[2] + 20, 0xFFFFFFFF); },
         "zip64", kZipNamesPlain, Sample()},
        {"damaged record", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_Central[1], 0); },
         "central directory is damaged at record 1", kZipNamesPlain, Sample()},
        {"encrypted", [](std::string& z, const ZipLayout& l) { Put16(z, l.m_Central[2] + 8, 1); },
         "member 'sounds/boom.wav' is encrypted", kZipNamesPlain, Sample()},
        {"other method", [](std::string& z, const ZipLayout& l) { Put16(z, l.m_Central[2] + 10, 12); },
         "compression method 12", kZipNamesPlain, Sample()},
        {"stored sizes differ", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_Central[2] + 24, 5); },
         "stored member 'sounds/boom.wav'", kZipNamesPlain, Sample()},
        {"name over 255", nullptr, "longer than 255 characters", kZipNamesPlain,
         {{std::string(256, 'n'), "x"}}},
        {"name with a NUL", nullptr, "holds a NUL", kZipNamesPlain, {{std::string("a\0b", 3), "x"}}},
        {"name outside the code", nullptr, "member name 'what?.txt' cannot be packed", kZipNamesPacked,
         {{"what?.txt", "x"}}},
        {"high byte in a packed name", nullptr, "cannot be packed", kZipNamesFrontCoded,
         {{"caf\xC3\xA9.txt", "x"}}},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.m_What);
        s_ZipNameMode = c.m_Mode;
        ZipLayout layout;
        std::string image = BuildZip(c.m_Members, &layout);
        if (c.m_Damage) c.m_Damage(image, layout);
        for (bool throughDevice : {false, true}) {
            CaptureSystem capture;
            zipFile* zip = MountBad(image, throughDevice);
            EXPECT_EQ(zip, nullptr);
            EXPECT_NE(std::string(zipFile::MountError()).find(c.m_Reason), std::string::npos) << zipFile::MountError();
            EXPECT_NE(capture.m_Console.find(std::string("Cannot mount 'bad.zip': ") + zipFile::MountError()),
                      std::string::npos);
            EXPECT_EQ(s_ZipFiles, nullptr);
            EXPECT_FALSE(s_ZipAvailable);
            EXPECT_TRUE(s_MemoryFs.m_Handles.empty()) << "the archive file is closed again";
        }
    }
}

// A mount reads no member's local header; a bad one refuses its member at
// open, leaving no handle taken, while the others serve, from an image and
// through a device alike.
TEST_F(ZipMount, ABadLocalHeaderRefusesItsMemberAtOpen) {
    const struct {
        const char* m_What;
        std::function<void(std::string&, const ZipLayout&)> m_Damage;
        const char* m_Member;
        const char* m_Reason;
    } cases[] = {
        {"no signature", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_Local[2], 0x12345678); },
         "sounds/boom.wav", "its local header has no signature"},
        {"header past the directory", [](std::string& z, const ZipLayout& l) { Put32(z, l.m_Central[0] + 42, 1u << 20); },
         "maps/level1.dat", "its local header lies outside the file"},
        {"data past the directory", [](std::string& z, const ZipLayout& l) { Put16(z, l.m_Local[2] + 28, 60000); },
         "sounds/boom.wav", "its data lies outside the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_What);
        ZipLayout layout;
        std::string image = BuildZip(Sample(), &layout);
        c.m_Damage(image, layout);
        for (bool throughDevice : {false, true}) {
            CaptureSystem capture;
            zipFile* zip = MountBad(image, throughDevice);
            ASSERT_NE(zip, nullptr) << zipFile::MountError();
            EXPECT_EQ(zipFile::zipOpen(c.m_Member, true), -1);
            EXPECT_NE(capture.m_Console.find(std::string("Cannot open '") + c.m_Member + "' in 'bad.zip': " + c.m_Reason),
                      std::string::npos) << capture.m_Console;
            const char* other = c.m_Member[0] == 'm' ? "sounds/boom.wav" : "maps/level1.dat";
            int32_t handle = zipFile::zipOpen(other, true);
            EXPECT_EQ(handle, 0) << "the refused open took no handle";
            char byte = 0;
            EXPECT_EQ(zipFile::zipRead(handle, &byte, 1), 1);
            EXPECT_EQ(byte, other[0] == 'm' ? 'a' : 'b');
            zipFile::UnmountAll();
        }
    }
}

TEST_F(ZipMount, Zip64EndRecordsWithinFourGiBAreServed) {
    for (bool zip64 : {false, true}) {
        SCOPED_TRACE(zip64 ? "zip64 end record" : "a count of 0xFFFF is a count");
        std::vector<ZipMember> members;
        for (int i = 0; i < (zip64 ? 3 : 0xFFFF); ++i) members.push_back({"m" + std::to_string(i), "x"});
        ZipLayout layout;
        std::string image = BuildZip(members, &layout);
        if (zip64) AddZip64End(image, layout, 3, 0);
        zipFile* zip = zipFile::MountImage("big.zip", image.data(), static_cast<uint32_t>(image.size()), 0);
        ASSERT_TRUE(zip) << zipFile::MountError();
        EXPECT_EQ(zip->m_EntryCount, static_cast<int32_t>(members.size()));
        EXPECT_TRUE(zip->Find("m2"));
        zipFile::UnmountAll();
    }
}

// A small archive followed by zeros up to 4 GiB and 128 bytes, on a device
// that answers seeks with the low 32 bits of the position, as the platform
// once did: the end it gives is 128.
struct WrappingFile {
    std::string m_Head;
    int64_t m_Position = 0;
};
WrappingFile s_Wrapping;

const FileDevice& WrappingDevice() {
    static const FileDevice device = {
        [](const char*, uint8_t) { return 7; },
        nullptr,
        [](int32_t, void* buffer, int32_t count) {
            int64_t left = (int64_t(1) << 32) + 128 - s_Wrapping.m_Position;
            int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, left)));
            for (int32_t i = 0; i < n; ++i, ++s_Wrapping.m_Position) {
                size_t at = static_cast<size_t>(s_Wrapping.m_Position);
                static_cast<char*>(buffer)[i] = at < s_Wrapping.m_Head.size() ? s_Wrapping.m_Head[at] : 0;
            }
            return n;
        },
        nullptr,
        [](int32_t, int32_t offset, int32_t origin) {
            int64_t base = origin == 0 ? 0 : origin == 1 ? s_Wrapping.m_Position : (int64_t(1) << 32) + 128;
            s_Wrapping.m_Position = base + offset;
            return static_cast<int32_t>(static_cast<uint32_t>(s_Wrapping.m_Position));
        },
        [](int32_t) { return 0; },
        nullptr, nullptr, nullptr, nullptr,
    };
    return device;
}

TEST_F(ZipMount, ArchivesOf2GiBOrMoreAreRefused) {
    CaptureSystem capture;
    static const char byte = 0;
    EXPECT_EQ(zipFile::MountImage("huge.zip", &byte, 0x80000000u, 0), nullptr);
    EXPECT_NE(std::string(zipFile::MountError()).find("2 GiB"), std::string::npos);
    s_Wrapping.m_Head = BuildZip({{"a.txt", std::string(100, 'a')}});
    EXPECT_EQ(zipFile::Mount("huge.zip", 0, const_cast<FileDevice*>(&WrappingDevice())), nullptr);
    EXPECT_STREQ(zipFile::MountError(), "it is 4 GiB or more (archives are served below 2 GiB)");
}

// Info-ZIP deflates some members to exactly their own length, which the zip
// layer holds as one byte longer packed (equal sizes mean stored to it). Such
// a member, last in the archive so that its data ends where the central
// directory begins, reads back whole, in pieces and after seeks.
TEST_F(ZipMount, ADeflatedMemberAsLongAsItsDataReadsBack) {
    // Noise, which deflate cannot shrink, then a run it codes in a few bytes:
    // some length of run makes the two lengths meet.
    std::mt19937 random(7);
    std::string noise(700, '\0'), data;
    for (char& c : noise) c = static_cast<char>(random());
    for (int run = 0; run < 400 && (data.empty() || RawDeflate(data).size() != data.size()); ++run)
        data = noise + std::string(run, 'r');
    ASSERT_EQ(RawDeflate(data).size(), data.size()) << "no such data found";
    std::string image = BuildZip({{"a.txt", "first"}, {"same.bin", data, true}});
    for (bool throughDevice : {false, true}) {
        SCOPED_TRACE(throughDevice ? "through a device" : "as an image");
        s_MemoryFs.Reset();
        s_MemoryFs.m_Files["eq.zip"].assign(image.begin(), image.end());
        zipFile* zip = throughDevice
                           ? zipFile::Mount("eq.zip", 0, const_cast<FileDevice*>(&MemoryDevice))
                           : zipFile::MountImage("eq.zip", image.data(), static_cast<uint32_t>(image.size()), 0);
        ASSERT_TRUE(zip) << zipFile::MountError();
        EXPECT_EQ(zip->Find("same.bin")->m_CompSize, static_cast<int32_t>(data.size()) + 1);
        int32_t h = zipFile::zipOpen("same.bin", 1);
        std::string back(data.size() + 10, '\0');
        EXPECT_EQ(zipFile::zipRead(h, &back[0], 300), 300);
        EXPECT_EQ(zipFile::zipRead(h, &back[300], static_cast<int32_t>(back.size()) - 300),
                  static_cast<int32_t>(data.size()) - 300);
        back.resize(data.size());
        EXPECT_EQ(back, data);
        EXPECT_EQ(zipFile::zipSeek(h, 500, 0), 500);
        char piece[10];
        EXPECT_EQ(zipFile::zipRead(h, piece, 10), 10);
        EXPECT_EQ(std::string(piece, 10), data.substr(500, 10));
        zipFile::zipClose(h);
        zipFile::UnmountAll();
    }
}

TEST_F(ZipMount, EveryCutOfAnArchiveIsRefusedOrServedWithoutReadingPastIt) {
    CaptureSystem capture;
    std::string image = BuildZip(Sample(), nullptr, "a comment");
    int mounted = 0;
    for (size_t length = 0; length <= image.size(); ++length) {
        // An exact-size copy, so that a read past the cut is a read past the block.
        std::unique_ptr<char[]> cut(new char[length + 1]);
        memcpy(cut.get(), image.data(), length);
        zipFile* zip = zipFile::MountImage("cut.zip", cut.get(), static_cast<uint32_t>(length), 0);
        if (zip) {
            ++mounted;
            int32_t h = zipFile::zipOpen("sounds/boom.wav", 1);
            char text[8] = {};
            EXPECT_EQ(zipFile::zipRead(h, text, 8), 4);
            EXPECT_STREQ(text, "boom");
            zipFile::zipClose(h);
        }
        zipFile::UnmountAll();
    }
    // Only cuts inside the comment leave a record that fits: the whole
    // archive, and the ones whose comment length runs past the cut are not.
    EXPECT_EQ(mounted, 1);
}

TEST_F(ZipMount, ARepeatedNameKeepsTheFirstWithAWarning) {
    CaptureSystem capture;
    std::string image = BuildZip({{"Data/A.txt", "first"}, {"b.txt", "b"}, {"data\\a.TXT", "second"}});
    zipFile* zip = zipFile::MountImage("dup.zip", image.data(), static_cast<uint32_t>(image.size()), 0);
    ASSERT_TRUE(zip);
    EXPECT_EQ(zip->m_EntryCount, 2);
    EXPECT_NE(capture.m_Console.find("'dup.zip' holds 'data\\a.TXT' more than once; the first is served"),
              std::string::npos) << capture.m_Console;
    int32_t h = zipFile::zipOpen("data/a.txt", 1);
    char text[8] = {};
    zipFile::zipRead(h, text, 8);
    EXPECT_STREQ(text, "first");
}

TEST_F(ZipMount, TheFirstMountFixesTheNameModeAndTheDeviceToGoBackTo) {
    std::string image = BuildZip({{"a.txt", "a"}});
    s_ZipNameMode = kZipNamesPacked;
    ASSERT_TRUE(zipFile::MountImage("one.zip", image.data(), static_cast<uint32_t>(image.size()), 0));
    s_ZipNameMode = kZipNamesPlain;
    zipFile* second = zipFile::MountImage("two.zip", image.data(), static_cast<uint32_t>(image.size()), 0);
    ASSERT_TRUE(second);
    EXPECT_TRUE(s_PackedNames);
    EXPECT_FALSE(s_FrontCoded);
    EXPECT_EQ(s_ZipFiles->m_Next, second);  // list order is mount order
    EXPECT_EQ(s_BaseDevice, &LocalDevice.m_Device);
    EXPECT_TRUE(s_ZipAvailable);
}

}  // namespace
