// The zip device on archives built by the test: the handle table, reads and
// seeks of stored and deflated members, paging, the load-dump record and the
// slow-read line with an injected clock, listing, and selection.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/timer.h"
#include "file/loaddump.h"
#include "file/stream.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"
#include "zip/zipfile.h"

namespace {

std::string Pattern(size_t size, int seed = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) % 61 + 'A');
    return bytes;
}

class ZipDeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        zipFile::UnmountAll();
        s_ZipNameMode = kZipNamesPlain;
        s_ZipLoadLog = false;
        s_LoadClock = &s_SystemLoadClock;
        s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
    }

    zipFile* Mount(const std::vector<ZipMember>& members, ZipLayout* layout = nullptr) {
        m_Images.push_back(BuildZip(members, layout));
        return MountBytes(m_Images.back());
    }
    zipFile* MountBytes(const std::string& image) {
        return zipFile::MountImage("test.zip", image.data(), static_cast<uint32_t>(image.size()), 77);
    }

    static std::string ReadAll(int32_t handle, int32_t piece = 4096) {
        std::string out;
        std::vector<char> buffer(piece);
        for (int32_t n; (n = ZipDevice.m_Device.Read(handle, buffer.data(), piece)) > 0;) out.append(buffer.data(), n);
        return out;
    }
    static std::string ReadAt(int32_t handle, int32_t offset, int32_t origin, int32_t count) {
        ZipDevice.m_Device.Seek(handle, offset, origin);
        std::string out(count, '\0');
        out.resize(ZipDevice.m_Device.Read(handle, &out[0], count));
        return out;
    }

    std::vector<std::string> m_Images;
};

TEST_F(ZipDeviceTest, SixteenHandlesAtMostAndTheLowestFreeIsTaken) {
    CaptureSystem capture;
    ASSERT_TRUE(Mount({{"a.dat", Pattern(1000)}, {"b.dat", Pattern(5000), true}}));
    for (int32_t i = 0; i < maxZipHandles; ++i)
        ASSERT_EQ(zipFile::zipOpen(i % 2 ? "A.DAT" : "b.dat", 1), i);
    EXPECT_EQ(zipFile::zipOpen("a.dat", 1), -1);
    EXPECT_EQ(zipFile::zipClose(5), 0);
    EXPECT_EQ(zipFile::zipOpen("b.dat", 1), 5);
    EXPECT_EQ(zipFile::zipOpen("missing.dat", 1), -1);
    EXPECT_EQ(capture.m_Console, "");
}

TEST_F(ZipDeviceTest, StoredMemberReadsAndSeeks) {
    std::string data = Pattern(1000);
    ASSERT_TRUE(Mount({{"pad.dat", "x"}, {"a.dat", data}}));
    int32_t h = zipFile::zipOpen("a.dat", 1);
    ASSERT_GE(h, 0);
    EXPECT_EQ(zipFile::zipSize(h), 1000);
    EXPECT_EQ(ReadAt(h, 900, 0, 4096), data.substr(900));  // the 100-byte tail
    EXPECT_EQ(ReadAll(h), "");
    EXPECT_EQ(zipFile::zipSeek(h, 10, 2), 1010);
    EXPECT_EQ(ReadAll(h), "");
    EXPECT_EQ(zipFile::zipSeek(h, 0, 3), -1);
    EXPECT_EQ(zipFile::zipSeek(h, -20, 1), 990);
    // Before the start is the start: nothing of the member in front is read.
    EXPECT_EQ(zipFile::zipSeek(h, -50, 0), 0);
    EXPECT_EQ(ReadAt(h, -5000, 1, 10), data.substr(0, 10));
    EXPECT_EQ(zipFile::zipClose(h), 0);
    EXPECT_EQ(zipFile::zipRead(h, nullptr, 1), -1);  // closed: touches nothing
}

TEST_F(ZipDeviceTest, DeflatedMemberSeeksForwardAndBack) {
    std::string data = Pattern(20000);
    ASSERT_TRUE(Mount({{"d.dat", data, true}}));
    int32_t h = zipFile::zipOpen("d.dat", 1);
    ASSERT_GE(h, 0);
    EXPECT_EQ(ReadAt(h, 5000, 0, 10), data.substr(5000, 10));
    EXPECT_EQ(ReadAt(h, 0, 0, 10), data.substr(0, 10));
    EXPECT_EQ(zipFile::zipSeek(h, -1, 0), 20000);
    EXPECT_EQ(zipFile::zipSeek(h, -10, 2), 19990);
    EXPECT_EQ(ReadAll(h, 7), data.substr(19990));
    EXPECT_EQ(zipFile::zipSeek(h, 1, 3), -1);
    EXPECT_EQ(zipFile::zipSeek(h, 12345, 0), 12345);
    EXPECT_EQ(zipFile::zipSeek(h, -2345, 1), 10000);
    EXPECT_EQ(ReadAll(h, 333), data.substr(10000));
}

TEST_F(ZipDeviceTest, ADeflateStreamThatEndsEarlyStopsSeeksWhereItEnded) {
    ZipLayout layout;
    std::string image = BuildZip({{"short.dat", Pattern(10000), true}}, &layout);
    Put32(image, layout.m_Central[0] + 24, 20000);  // claims twice what the stream holds
    m_Images.push_back(image);
    ASSERT_TRUE(MountBytes(m_Images.back()));
    int32_t h = zipFile::zipOpen("short.dat", 1);
    EXPECT_EQ(zipFile::zipSeek(h, 15000, 0), 10000);
    EXPECT_EQ(ReadAll(h), "");
    EXPECT_EQ(ReadAt(h, 9990, 0, 100), Pattern(10000).substr(9990));
}

// Each handle keeps a window of the archive ahead of its reader, and a read
// of a whole deflated member inflates it in one call. Both must give the
// member's own bytes after seeks either way, after a close and reopen, and
// after the handle served another member, from a device and from an image;
// a stream that ends early gives what it holds on the one-call road too.
TEST_F(ZipDeviceTest, InputWindowsAndWholeReadsServeSeeksAndReopens) {
    std::string noise(300000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::vector<ZipMember> members = {{"small.dat", Pattern(20000, 3), true},
                                            {"noise.dat", noise, true},
                                            {"stored.dat", Pattern(100000, 4)},
                                            {"short.dat", Pattern(10000, 5), true}};
    ZipLayout layout;
    std::string image = BuildZip(members, &layout);
    Put32(image, layout.m_Central[3] + 24, 20000);  // short.dat claims twice what its stream holds
    for (bool throughDevice : {false, true}) {
        SCOPED_TRACE(throughDevice ? "device" : "image");
        s_MemoryFs.Reset();
        s_MemoryFs.m_Files["test.zip"].assign(image.begin(), image.end());
        ASSERT_TRUE(throughDevice ? zipFile::Mount("test.zip", 0, const_cast<FileDevice*>(&MemoryDevice))
                                  : MountBytes(image));
        for (const ZipMember& m : members) {
            SCOPED_TRACE(m.m_Name);
            const std::string& data = m.m_Name == "short.dat" ? Pattern(10000, 5) : m.m_Data;
            int32_t size = m.m_Name == "short.dat" ? 20000 : static_cast<int32_t>(data.size());
            int32_t h = zipFile::zipOpen(m.m_Name.c_str(), 1);
            ASSERT_EQ(h, 0);
            EXPECT_EQ(ReadAt(h, 0, 0, size), data);
            EXPECT_EQ(ReadAt(h, static_cast<int32_t>(data.size()) / 2, 0, 100), data.substr(data.size() / 2, 100));
            EXPECT_EQ(ReadAt(h, 10, 0, 100), data.substr(10, 100));
            zipFile::zipClose(h);
            h = zipFile::zipOpen(m.m_Name == "small.dat" ? "noise.dat" : "small.dat", 1);
            EXPECT_EQ(ReadAll(h, 65536).size(), m.m_Name == "small.dat" ? noise.size() : 20000u);
            zipFile::zipClose(h);
            ASSERT_EQ(zipFile::zipOpen(m.m_Name.c_str(), 1), 0);
            EXPECT_EQ(ReadAll(0, 7000), data);
            zipFile::zipClose(0);
        }
        zipFile::UnmountAll();
    }
}

TEST_F(ZipDeviceTest, WritingIsRefused) {
    CaptureSystem capture;
    ASSERT_TRUE(Mount({{"a.dat", "abc"}}));
    EXPECT_EQ(zipFile::zipOpen("a.dat", 0), -1);
    EXPECT_EQ(zipFile::zipCreate("a.dat"), -1);
    EXPECT_EQ(zipFile::zipWrite(0, "x", 1), -1);
    for (const char* text : {"zipFile::zipOpen: This shouldn't happen.", "Cannot create on zip file",
                             "Cannot write on zip file"})
        EXPECT_NE(capture.m_Console.find(text), std::string::npos) << text;
}

TEST_F(ZipDeviceTest, PagingNeedsAStoredMemberOnA2kBoundary) {
    CaptureSystem capture;
    ASSERT_TRUE(Mount({{"early.dat", Pattern(100)},
                       {"odd.dat", Pattern(100), false, 6000},
                       {"page.dat", Pattern(3000), false, 6144},
                       {"packed.dat", Pattern(9000), true, 12288}}));
    zipEntry location = {};
    uint32_t page = 0;
    EXPECT_TRUE(zipFile::zipPaging("PAGE.DAT", &location, &page));
    EXPECT_EQ(location.m_Offset, 3u);
    EXPECT_EQ(location.m_Size, 3000);
    EXPECT_EQ(page, 77u);
    EXPECT_FALSE(zipFile::zipPaging("page.dat", &location, nullptr));
    EXPECT_FALSE(zipFile::zipPaging("missing.dat", &location, &page));
    EXPECT_EQ(capture.m_Console, "");
    EXPECT_FALSE(zipFile::zipPaging("odd.dat", &location, &page));
    EXPECT_NE(capture.m_Console.find("zipFile::zipPaging(odd.dat) - file not on 2k boundary"), std::string::npos);
    // A compressed member fails the assertion; passed over, it is handed out.
    capture.m_DebuggerResumes = true;
    EXPECT_TRUE(zipFile::zipPaging("packed.dat", &location, &page));
    EXPECT_EQ(location.m_Offset, 6u);
    EXPECT_NE(capture.m_Console.find("(fe->m_CompSize == fe->m_Size) && \"Compressed files cannot be paged\""),
              std::string::npos);
}

// A clock the test moves by hand.
uint32_t s_FakeMs = 0;
uint32_t s_FakeTicks = 0;
uint32_t s_TickStep = 0;
uint32_t FakeMs() { return s_FakeMs; }
uint32_t FakeTicks() { return s_FakeTicks += s_TickStep; }
const LoadClock kFakeClock = {FakeMs, FakeTicks};

TEST_F(ZipDeviceTest, OpenRecordsTurnRedAbove25Ms) {
    CaptureSystem capture;
    ASSERT_TRUE(Mount({{"Maps/Level1.DAT", "x"}, {"b.dat", "y"}}));
    s_LoadClock = &kFakeClock;
    s_ZipLoadLog = true;
    s_FakeMs = 1000;
    zipFile::zipOpen("b.dat", 1);  // starts the clock: 0 ms
    s_FakeMs += 25;
    zipFile::zipOpen("MAPS/level1.dat", 1);
    s_FakeMs += 26;
    zipFile::zipOpen("b.dat", 1);
    std::string plain = capture.m_Console;
    EXPECT_NE(plain.find("::OPEN::(b.dat)    // 0ms"), std::string::npos) << plain;
    EXPECT_NE(plain.find("::OPEN::(maps\\level1.dat)    // 25ms"), std::string::npos) << plain;
    size_t red = plain.rfind("::OPEN::(b.dat)    // ");
    ASSERT_NE(red, std::string::npos);
    EXPECT_EQ(plain.substr(red + 22, 1), "<") << "a colour change before the number";
    EXPECT_NE(plain.find("26ms<", red), std::string::npos) << plain;
}

TEST_F(ZipDeviceTest, ReadsSlowerThan100MsAreReported) {
    CaptureSystem capture;
    float msPerTick = MsPerTick, secsPerTick = SecsPerTick;
    MsPerTick = 1.0f;
    SecsPerTick = 0.001f;
    ASSERT_TRUE(Mount({{"a.dat", Pattern(1000)}}));
    s_LoadClock = &kFakeClock;
    int32_t h = zipFile::zipOpen("a.dat", 1);
    char buffer[4096];
    s_TickStep = 100;  // exactly 100.0 ms
    EXPECT_EQ(zipFile::zipRead(h, buffer, 10), 10);
    EXPECT_EQ(capture.m_Console, "");
    s_TickStep = 101;
    zipFile::zipSeek(h, 900, 0);
    EXPECT_EQ(zipFile::zipRead(h, buffer, 4096), 100);
    EXPECT_NE(capture.m_Console.find("100 bytes read, time = 202.000000"), std::string::npos) << capture.m_Console;
    MsPerTick = msPerTick;
    SecsPerTick = secsPerTick;
}

TEST_F(ZipDeviceTest, AReadWithABadHandleFailsItsAssertionAndTouchesNothing) {
    CaptureSystem capture;
    capture.m_DebuggerResumes = true;
    char buffer[8] = {};
    EXPECT_EQ(zipFile::zipRead(maxZipHandles, buffer, 8), -1);
    EXPECT_NE(capture.m_Console.find("handle>=0 && handle<maxZipHandles"), std::string::npos);
}

TEST_F(ZipDeviceTest, FailingArchiveReadsEndTheProcess) {
    struct Case {
        const char* m_What;
        bool m_Deflate;
        bool m_FailDevice;
        const char* m_Message;
    };
    const Case cases[] = {
        {"short read", false, true, "Error reading zipfile from host, was fileserver reset?"},
        {"corrupt data", true, false, "Cannot inflate 'a.dat' in 'a.zip': invalid "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_What);
        CaptureSystem capture;
        capture.m_DebuggerResumes = false;
        ZipLayout layout;
        std::string image = BuildZip({{"a.dat", Pattern(50000), c.m_Deflate}}, &layout);
        if (!c.m_FailDevice) image.replace(layout.m_Local[0] + 35, 64, std::string(64, '\xFF'));
        s_MemoryFs.Reset();
        s_MemoryFs.m_Files["a.zip"].assign(image.begin(), image.end());
        s_FaultPlan = FaultPlan();
        s_FaultPlan.m_Inner = const_cast<FileDevice*>(&MemoryDevice);
        ASSERT_TRUE(zipFile::Mount("a.zip", 0, const_cast<FileDevice*>(&FaultDevice)));
        if (c.m_FailDevice) s_FaultPlan.m_FailReadFrom = s_FaultPlan.m_Reads + 1;
        int32_t h = zipFile::zipOpen("a.dat", 1);
        std::vector<char> buffer(50000, '\x55');
        zipFile::zipRead(h, buffer.data(), 50000);
        EXPECT_NE(capture.m_Console.find(c.m_Message), std::string::npos) << capture.m_Console;
        EXPECT_NE(capture.m_Console.find("Fatal disc error"), std::string::npos) << capture.m_Console;
        EXPECT_EQ(capture.m_EndStatuses, std::vector<int>{3});
        zipFile::UnmountAll();
    }
}

std::vector<std::string> List(zipFile* zip, const char* directory) {
    std::vector<std::string> names;
    zip->EnumFiles(directory, [](const char* name, bool isDirectory, void* context) {
        EXPECT_FALSE(isDirectory);
        static_cast<std::vector<std::string>*>(context)->push_back(name);
    }, &names);
    return names;
}

TEST_F(ZipDeviceTest, ListingInEveryNameMode) {
    typedef std::vector<std::string> Names;
    for (ZipNameMode mode : {kZipNamesPlain, kZipNamesPacked, kZipNamesFrontCoded}) {
        SCOPED_TRACE(mode);
        s_ZipNameMode = mode;
        zipFile* zip = Mount({{"maps/level1.dat", "1"}, {"maps2/x.dat", "2"}, {"other.txt", "3"},
                              {"maps/sub/a.dat", "4"}, {"Maps/B.dat", "5"}});
        ASSERT_TRUE(zip);
        Names underMaps = mode == kZipNamesPlain ? Names{"B.dat", "level1.dat", "sub/a.dat"}
                                                 : Names{"b.dat", "level1.dat", "sub/a.dat"};
        EXPECT_EQ(List(zip, "maps"), underMaps);
        EXPECT_EQ(List(zip, "maps/"), underMaps);
        EXPECT_EQ(List(zip, "MAPS"), underMaps);
        EXPECT_EQ(List(zip, "maps\\sub"), Names{"a.dat"});
        EXPECT_EQ(List(zip, "").size(), 5u);
        EXPECT_EQ(List(zip, "").back(), "other.txt");
        EXPECT_EQ(zip->EnumFiles("maps", nullptr, nullptr), 3);
        EXPECT_EQ(zip->EnumFiles(std::string(300, 'm').c_str(), nullptr, nullptr), 0);
        // Every archive is listed, so a member in two of them comes twice.
        ASSERT_TRUE(Mount({{"maps/level1.dat", "again"}}));
        EXPECT_EQ(zipFile::zipEnumFiles("maps", nullptr, nullptr), 4);
        zipFile::UnmountAll();
    }
}

TEST_F(ZipDeviceTest, SelectionNeedsAMountedArchive) {
    FileDevice* before = s_ReadDevice;
    EXPECT_FALSE(zipFile::zipSelect(true));
    EXPECT_FALSE(zipFile::zipSelect(false));
    EXPECT_EQ(s_ReadDevice, before);
    ASSERT_TRUE(Mount({{"a.dat", "abc"}}));
    EXPECT_TRUE(zipFile::zipSelect(true));
    EXPECT_EQ(s_ReadDevice, &ZipDevice.m_Device);
    EXPECT_TRUE(s_ZipSelected);
    Stream* s = Stream::Open("A.DAT", true);
    ASSERT_TRUE(s);
    char text[4] = {};
    EXPECT_EQ(s->Read(text, 3), 3);
    EXPECT_STREQ(text, "abc");
    s->Close();
    EXPECT_TRUE(zipFile::zipSelect(false));
    EXPECT_EQ(s_ReadDevice, before);
    EXPECT_FALSE(s_ZipSelected);
}

TEST_F(ZipDeviceTest, ManyNamesSharingPrefixesAreFoundInEveryMode) {
    std::vector<ZipMember> members;
    for (int i = 0; i < 300; ++i) {
        char name[64];
        snprintf(name, sizeof name, "textures/level%02d/wall_%03d.tex", i % 7, i);
        members.push_back({name, std::to_string(i)});
    }
    size_t bytes[3] = {};
    for (ZipNameMode mode : {kZipNamesPlain, kZipNamesPacked, kZipNamesFrontCoded}) {
        SCOPED_TRACE(mode);
        s_ZipNameMode = mode;
        zipFile* zip = Mount(members);
        ASSERT_TRUE(zip);
        bytes[mode] = zip->m_DirectoryBytes;
        for (int i = 0; i < 300; ++i) {
            std::string key = members[i].m_Name;
            for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(toupper(c));
            int32_t h = zipFile::zipOpen(key.c_str(), 1);
            ASSERT_GE(h, 0) << key;
            ASSERT_EQ(ReadAll(h), std::to_string(i));
            zipFile::zipClose(h);
        }
        EXPECT_EQ(zip->Find("textures/level00/wall_000.te"), nullptr);
        EXPECT_EQ(zip->Find("textures/level00/wall_000.texx"), nullptr);
        zipFile::UnmountAll();
    }
    EXPECT_LT(bytes[kZipNamesPacked], bytes[kZipNamesPlain]);
    EXPECT_LT(bytes[kZipNamesFrontCoded], bytes[kZipNamesPacked]);
}

}  // namespace

namespace {

// Two threads reading two members of one archive share its file position:
// each call into the zip layer runs alone, so each gets its own bytes.
TEST_F(ZipDeviceTest, TwoThreadsReadTwoMembersOfOneArchive) {
    TempDir dir;
    const std::string stored = Pattern(1 << 21, 1), deflated = Pattern(1 << 21, 2);
    std::string path = dir.Write("two.zip", BuildZip({{"s.bin", stored}, {"d.bin", deflated, true}}));
    ASSERT_TRUE(zipFile::Mount(path.c_str(), 0, &LocalDevice.m_Device));
    std::string got[2];
    std::atomic<int> ready{0};
    auto read = [&](int which, const char* name) {
        int32_t h = zipFile::zipOpen(name, 1);
        for (++ready; ready < 2;) std::this_thread::yield();
        char piece[101];  // small pieces, so that the two threads' reads interleave
        for (int32_t n; (n = zipFile::zipRead(h, piece, sizeof piece)) > 0;) got[which].append(piece, n);
        zipFile::zipClose(h);
    };
    std::thread first(read, 0, "s.bin"), second(read, 1, "d.bin");
    first.join();
    second.join();
    EXPECT_TRUE(got[0] == stored) << "stored member: " << got[0].size() << " bytes";
    EXPECT_TRUE(got[1] == deflated) << "deflated member: " << got[1].size() << " bytes";
}

}  // namespace
