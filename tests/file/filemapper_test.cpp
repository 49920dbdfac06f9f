// The file mapper without archives: which names each kind of row matches, the
// device every stream call then runs on, the nesting gate and its assertions,
// the remembered handles, and making, installing and removing a mapper.
// Streams run on the in-memory device; the remote host is marked available,
// so the device switch is real, but no call ever reaches it.
#include "file/filemapper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "file/stream.h"
#include "support/capture_system.h"
#include "support/probe_device.h"

namespace {

typedef std::vector<std::string> Calls;

FileMapEntry Row(const char* prefix, uint8_t device, uint8_t zip = 0) {
    FileMapEntry row = {};
    strcpy(row.m_Prefix, prefix);
    row.m_DeviceId = device;
    row.m_UseZip = zip;
    return row;
}

class FileMapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        s_MemoryFs.Reset();
        s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&ProbeDevice());
        s_RemoteEnabled = true;
    }

    void TearDown() override {
        for (Stream& s : s_StreamTable)
            if (s.m_Device) s.Close();
        s_FileMapper = nullptr;
        DeleteFileMapper(m_Mapper);
        SwitchDevice(0);
        s_RemoteEnabled = false;
        datAssetManager::SetPath("");
        s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
    }

    FileMapper* Install(const std::vector<FileMapEntry>& rows) {
        m_Mapper = NewFileMapper(rows.data(), static_cast<int32_t>(rows.size()));
        EXPECT_TRUE(m_Mapper && InstallFileMapper(m_Mapper));
        return m_Mapper;
    }

    static Calls TakeCalls() { return std::exchange(s_MemoryFs.m_Calls, {}); }

    int32_t Remembered() const {
        int32_t n = 0;
        for (const MappedHandle& slot : m_Mapper->m_Handles) n += slot.m_Handle != -1;
        return n;
    }

    FileMapper* m_Mapper = nullptr;
};

// Each name is opened, read and closed through a stream; the device mark of
// every call says whether a row matched.
TEST_F(FileMapperTest, EachKindOfRowMatchesItsNames) {
    Install({Row("Data\\", 1), Row("tex*", 1), Row("sub/", 1), Row("exact.bin", 1)});
    datAssetManager::SetPath("c:\\root");
    const std::pair<const char*, bool> cases[] = {
        {"data\\a.dat", true},           // the separator row, on the name
        {"c:\\root\\DATA\\a.dat", true}, // ... or on the name past the asset path
        {"x:\\ROOT\\data\\a.dat", true}, // which need not be the asset path itself
        {"data/a.dat", false},           // a '/' is not a '\'
        {"data", false},                 // shorter than the prefix
        {"sub/x", true},                 // a '/' row is a separator row too
        {"sub\\x", false},
        {"texture.dds", true},           // the asterisk row, case ignored
        {"TEX.DDS", true},
        {"tex", true},
        {"a.tex", false},
        {"c:\\root\\tex.dds", false},    // asterisk rows look at the whole name only
        {"exact.bin", true},             // a plain row takes the whole name
        {"EXACT.BIN", true},
        {"c:\\root\\exact.bin", true},   // ... or the whole name past the asset path
        {"exact.bin2", false},
        {"xexact.bin", false},
        {"c:\\r", false},                // shorter than the asset path
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        s_MemoryFs.m_Files[c.first] = {'x', 'y'};
        std::string mark = c.second ? " @1" : " @0";
        Stream* s = Stream::Open(c.first, true);
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(0, GetCurrentDevice()) << "switched back after the open";
        EXPECT_EQ(c.second ? 1 : 0, Remembered());
        char byte;
        EXPECT_EQ(1, s->Read(&byte, 1));
        EXPECT_EQ(0, s->Close());
        int32_t h = s_MemoryFs.m_NextHandle - 1;
        EXPECT_EQ((Calls{std::string("open ") + c.first + " 1" + mark,
                         "read " + std::to_string(h) + " 4096" + mark,
                         "close " + std::to_string(h) + mark}),
                  TakeCalls());
        EXPECT_EQ(0, Remembered()) << "forgotten at the close";
        EXPECT_EQ(0, m_Mapper->m_RefCount);
        EXPECT_STREQ("c:\\root\\", s_AssetPath) << "no archive: the asset path stays";
    }
}

TEST_F(FileMapperTest, ASingleAsteriskMatchesEveryName) {
    Install({Row("*", 1)});
    for (const char* name : {"a", "dir\\b.txt", "/abs/c"}) {
        s_MemoryFs.m_Files[name] = {'x'};
        Stream* s = Stream::Create(name);
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(1, s->Write("z", 1));
        EXPECT_EQ(0, s->Close());
    }
    for (const std::string& call : TakeCalls()) EXPECT_EQ(" @1", call.substr(call.size() - 3)) << call;
}

// Brackets driven directly: a nested pair only counts, an inner pair acts, and
// without rows nothing acts at all.
TEST_F(FileMapperTest, TheGateLetsOnlyOutermostAndInnerBracketsAct) {
    FileMapper* m = Install({Row("r\\", 1)});
    s_MemoryFs.m_Files["r\\f"] = {'x'};
    Stream* s = Stream::Open("r\\f", true);
    ASSERT_NE(nullptr, s);
    int32_t h = s->m_Handle;

    // An open nested in the stream's bracket: selects nothing, remembers nothing.
    EXPECT_TRUE(m->EnterHandle(h, false));
    EXPECT_EQ(1, GetCurrentDevice());
    SwitchDevice(0);  // as if the outer call had moved on
    EXPECT_FALSE(m->SelectByName("r\\g", false));
    EXPECT_EQ(0, GetCurrentDevice());
    EXPECT_EQ(2, m->m_RefCount);
    EXPECT_FALSE(m->m_Mapped);
    EXPECT_FALSE(m->FinishOpen(555, false));
    EXPECT_EQ(1, Remembered());
    // An inner pair acts even there, and puts back what it found.
    EXPECT_TRUE(m->EnterHandle(h, true));
    EXPECT_EQ(1, GetCurrentDevice());
    m->Leave(true);
    EXPECT_EQ(0, GetCurrentDevice());
    EXPECT_EQ(1, m->m_RefCount);
    // The outer close restores what was current at the outer open.
    SwitchDevice(1);
    m->Leave(false);
    EXPECT_EQ(0, GetCurrentDevice());
    EXPECT_EQ(0, m->m_RefCount);

    // An unknown handle is used as it is, on the current device.
    EXPECT_FALSE(m->EnterHandle(h + 1, false));
    m->Leave(false);

    // Without rows every bracket says false at once, but still counts.
    m->m_NumEntries = 0;
    EXPECT_FALSE(m->SelectByName("r\\f", false));
    EXPECT_EQ(1, m->m_RefCount);
    EXPECT_FALSE(m->FinishOpen(7, false));
    EXPECT_FALSE(m->EnterHandle(h, false));
    EXPECT_FALSE(m->EnterHandle(h, true));
    EXPECT_EQ(2, m->m_RefCount);
    m->Leave(true);
    m->LeaveAndForget(h, false);
    EXPECT_EQ(0, m->m_RefCount);
    EXPECT_EQ(0, GetCurrentDevice());
    EXPECT_EQ(1, Remembered()) << "a closing bracket that does not act forgets nothing";
}

TEST_F(FileMapperTest, BrokenNestingAndOverlongNamesFailTheirAssertions) {
    FileMapper* m = Install({Row("*", 1)});
    const std::string longName(FNAME_LENGTH, 'a');
    struct Case {
        const char* m_What;
        void (*m_Call)(FileMapper* m, const std::string& longName);
        const char* m_Assertion;
        int32_t m_RefCountAfter;
    };
    const Case cases[] = {
        {"closing at depth 0", [](FileMapper* m, const std::string&) { m->Leave(false); },
         "m_RefCount > 0", -1},
        {"forgetting at depth 0",
         [](FileMapper* m, const std::string&) { m->LeaveAndForget(3, false); }, "m_RefCount > 0", -1},
        {"finishing at depth 0", [](FileMapper* m, const std::string&) { m->FinishOpen(3, false); },
         "m_RefCount > 0", -1},
        {"opening below depth 0",
         [](FileMapper* m, const std::string&) {
             m->m_RefCount = -1;
             m->EnterHandle(3, false);
         },
         "m_RefCount >= 0", 0},
        {"a name of FNAME_LENGTH characters",
         [](FileMapper* m, const std::string& name) {
             EXPECT_FALSE(m->SelectByName(name.c_str(), false));
             EXPECT_EQ(0, GetCurrentDevice()) << "matches no row, not even *";
             EXPECT_FALSE(m->m_Mapped);
         },
         "strlen(filename) < FNAME_LENGTH", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_What);
        CaptureSystem capture;
        capture.m_DebuggerResumes = true;
        m->m_RefCount = 0;
        c.m_Call(m, longName);
        EXPECT_NE(std::string::npos, capture.m_Console.find(c.m_Assertion)) << capture.m_Console;
        EXPECT_EQ(c.m_RefCountAfter, m->m_RefCount);
    }
    m->m_RefCount = 0;
}

// m_OpenCount follows the remembered handles; with every slot taken a name
// matches no row, so the ninth file opens and stays on the current device.
TEST_F(FileMapperTest, EightHandlesAreRememberedAndANinthNameIsNotMapped) {
    FileMapper* m = Install({Row("m\\", 1)});
    std::vector<Stream*> streams;
    for (int i = 0; i < kMappedHandles + 1; ++i) {
        std::string name = "m\\" + std::to_string(i);
        s_MemoryFs.m_Files[name] = {'x'};
        streams.push_back(Stream::Open(name.c_str(), true));
        ASSERT_NE(nullptr, streams.back());
        EXPECT_EQ(std::min(i + 1, kMappedHandles), m->m_OpenCount);
    }
    EXPECT_EQ(kMappedHandles, Remembered());
    const Calls calls = TakeCalls();
    EXPECT_EQ("open m\\7 1 @1", calls[7]);
    EXPECT_EQ("open m\\8 1 @0", calls[8]);
    const int32_t ninth = streams[8]->m_Handle, eighth = streams[7]->m_Handle;
    char byte;
    EXPECT_EQ(1, streams[8]->Read(&byte, 1));
    EXPECT_EQ(0, streams[7]->Close());
    EXPECT_EQ(kMappedHandles - 1, m->m_OpenCount);
    EXPECT_EQ(0, streams[8]->Close()) << "not remembered: counts nothing down";
    EXPECT_EQ(kMappedHandles - 1, m->m_OpenCount);
    s_MemoryFs.m_Files["m\\again"] = {'x'};
    ASSERT_NE(nullptr, Stream::Open("m\\again", true));
    EXPECT_EQ(kMappedHandles, m->m_OpenCount);
    EXPECT_EQ((Calls{"read " + std::to_string(ninth) + " 4096 @0", "close " + std::to_string(eighth) + " @1",
                     "close " + std::to_string(ninth) + " @0", "open m\\again 1 @1"}),
              TakeCalls());
}

// Only what a device could hand back as a file takes a slot.
TEST_F(FileMapperTest, AFailedOpenIsNeverRemembered) {
    FileMapper* m = Install({Row("*", 1)});
    EXPECT_EQ(nullptr, Stream::Open("missing", true));
    const std::pair<int32_t, bool> offered[] = {{-1, false}, {-2, false}, {INT32_MIN, false}, {0, true}};
    for (const auto& o : offered) {
        SCOPED_TRACE(o.first);
        EXPECT_FALSE(m->SelectByName("f", false)) << "no archive selected";
        EXPECT_TRUE(m->m_Mapped);
        EXPECT_TRUE(m->FinishOpen(o.first, false)) << "a row had matched";
        EXPECT_EQ(o.second ? 1 : 0, m->m_OpenCount);
        EXPECT_EQ(o.second ? 1 : 0, Remembered());
        m->EnterHandle(o.first, false);
        m->LeaveAndForget(o.first, false);
        EXPECT_EQ(0, m->m_OpenCount);
        EXPECT_EQ(0, Remembered());
    }
}

// A file a device opens for itself (an archive the zip layer mounts) opens on
// its row's device but takes no slot: it keeps that device's functions, so
// archives, however many, never crowd the streams' files out of their rows,
// and eight open streams never send an archive to another device.
TEST_F(FileMapperTest, FilesADeviceOpensForItselfTakeNoSlot) {
    FileMapper* m = Install({Row("packs\\", 1), Row("local\\", 0)});
    auto open = [m](const char* name, int32_t handle, bool inner) {
        SwitchDevice(0);
        m->SelectByName(name, inner);
        uint8_t device = GetCurrentDevice();
        EXPECT_EQ(device != 0, m->FinishOpen(handle, inner)) << name;
        return device;
    };
    for (int32_t h = 0; h < 12; ++h) EXPECT_EQ(1, open("packs\\a.zip", h, true)) << h;
    EXPECT_EQ(0, m->m_OpenCount);
    EXPECT_EQ(0, Remembered());
    m->m_Entries[1].m_DeviceId = 1;  // the streams' row now switches too
    for (int32_t h = 0; h < kMappedHandles; ++h) EXPECT_EQ(1, open("local\\f", h, false)) << h;
    EXPECT_EQ(kMappedHandles, Remembered());
    EXPECT_EQ(0, open("local\\f", 100, false)) << "a ninth stream matches no row";
    EXPECT_EQ(1, open("packs\\b.zip", 101, true)) << "an archive still does";
    EXPECT_EQ(kMappedHandles, m->m_OpenCount);
    for (int32_t h = 0; h < kMappedHandles; ++h) {
        m->EnterHandle(h, false);
        m->LeaveAndForget(h, false);
    }
    EXPECT_EQ(0, m->m_OpenCount);
}

TEST_F(FileMapperTest, MakingInstallingAndRemoving) {
    CaptureSystem capture;
    FileMapEntry unterminated = Row("", 0);
    memset(unterminated.m_Prefix, 'u', sizeof unterminated.m_Prefix);
    const std::pair<std::vector<FileMapEntry>, const char*> refused[] = {
        {{Row("a\\", 0), Row("", 1)}, "row 2 has an empty prefix"},
        {{unterminated}, "row 1 has an unterminated prefix"},
    };
    for (const auto& r : refused) {
        capture.m_Console.clear();
        EXPECT_EQ(nullptr, NewFileMapper(r.first.data(), static_cast<int32_t>(r.first.size())));
        EXPECT_NE(std::string::npos, capture.m_Console.find(r.second)) << capture.m_Console;
    }

    FileMapper* m = Install({Row("r\\", 1)});
    EXPECT_EQ(0, m->m_RefCount);
    EXPECT_STREQ("", m->m_SavedPath);
    FileMapEntry other = Row("*", 0);
    FileMapper* second = NewFileMapper(&other, 1);
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(InstallFileMapper(second));
    EXPECT_EQ(m, s_FileMapper);
    DeleteFileMapper(second);

    s_MemoryFs.m_Files["r\\f"] = {'x'};
    s_MemoryFs.m_Files["plain"] = {'x'};
    Stream* mapped = Stream::Open("r\\f", true);
    Stream* plain = Stream::Open("plain", true);
    ASSERT_TRUE(mapped && plain);
    capture.m_Console.clear();
    EXPECT_FALSE(RemoveFileMapper());
    EXPECT_NE(std::string::npos, capture.m_Console.find("1 file opened through it is still open"));
    EXPECT_EQ(0, mapped->Close());
    m->EnterHandle(plain->m_Handle, false);
    EXPECT_FALSE(RemoveFileMapper()) << "inside a bracket";
    EXPECT_NE(std::string::npos, capture.m_Console.find("a device call is under way"));
    m->Leave(false);
    EXPECT_TRUE(RemoveFileMapper()) << "an unmapped stream does not hold it";
    EXPECT_EQ(nullptr, s_FileMapper);
    TakeCalls();
    char byte;
    EXPECT_EQ(1, plain->Read(&byte, 1));
    EXPECT_EQ(Calls{"read " + std::to_string(plain->m_Handle) + " 4096 @0"}, TakeCalls());
}

}  // namespace
