// The file mapper with an archive mounted from the in-memory device: a row
// that selects the archive under an asset path, a row that only switches the
// device, and the archive file opened on its own row's device but kept by the
// zip layer, not the mapper, which reads it through that device's functions
// whatever the outer call on a member has selected.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "file/filemapper.h"
#include "file/stream.h"
#include "support/capture_system.h"
#include "support/probe_device.h"
#include "support/zip_writer.h"

namespace {

typedef std::vector<std::string> Calls;

std::string Pattern(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 97 + seed) % 251);
    return bytes;
}

FileMapEntry Row(const char* prefix, uint8_t device, uint8_t zip) {
    FileMapEntry row = {};
    strcpy(row.m_Prefix, prefix);
    row.m_DeviceId = device;
    row.m_UseZip = zip;
    return row;
}

// What an open hook saw while the device's open was under way.
struct DuringOpen {
    std::string m_AssetPath, m_SavedPath;
    bool m_Zip;
    uint8_t m_Device;
};
DuringOpen s_DuringOpen;

class FileMapperZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        s_MemoryFs.Reset();
        s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&ProbeDevice());
        s_RemoteEnabled = true;
        std::string image = BuildZip({{"data/a.dat", m_Stored}, {"data/b.dat", m_Deflated, true}}, &m_Layout);
        s_MemoryFs.m_Files["pack.zip"].assign(image.begin(), image.end());
        s_MemoryFs.m_Files["plain\\p.txt"] = {'p', 'q'};
        const FileMapEntry rows[] = {Row("Data\\", 0, 1), Row("pack.zip", 1, 0), Row("plain\\", 1, 0)};
        m_Mapper = NewFileMapper(rows, 3);
        ASSERT_TRUE(m_Mapper && InstallFileMapper(m_Mapper));
        s_OpenHook = [](const char*, bool) {
            s_DuringOpen = {s_AssetPath, s_FileMapper->m_SavedPath, s_ZipSelected, GetCurrentDevice()};
            return true;
        };
    }

    void TearDown() override {
        for (Stream& s : s_StreamTable)
            if (s.m_Device) s.Close();
        zipFile::UnmountAll();
        EXPECT_TRUE(RemoveFileMapper());
        DeleteFileMapper(m_Mapper);
        s_OpenHook = nullptr;
        s_ZipLoadLog = false;
        SwitchDevice(0);
        s_RemoteEnabled = false;
        datAssetManager::SetPath("");
        s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
    }

    static Calls TakeCalls() { return std::exchange(s_MemoryFs.m_Calls, {}); }

    const MappedHandle* Slot(int32_t handle) const {
        for (const MappedHandle& slot : m_Mapper->m_Handles)
            if (slot.m_Handle == handle) return &slot;
        return nullptr;
    }

    static std::string ReadAll(Stream* s) {
        std::string out;
        char buffer[3000];
        for (int32_t n; (n = s->Read(buffer, sizeof buffer)) > 0;) out.append(buffer, n);
        return out;
    }

    const std::string m_Stored = Pattern(5000, 1), m_Deflated = Pattern(20000, 2);
    ZipLayout m_Layout;
    FileMapper* m_Mapper = nullptr;
};

TEST_F(FileMapperZipTest, RowsRouteStreamsIntoTheArchiveAndOntoTheirDevices) {
    CaptureSystem capture;
    s_ZipLoadLog = true;
    // The archive file opens through its own row, on the remote set, and
    // takes no slot of the mapper.
    ASSERT_NE(nullptr, zipFile::Mount("pack.zip", 0));
    const int32_t archive = 100;
    for (const std::string& call : TakeCalls()) EXPECT_EQ(" @1", call.substr(call.size() - 3)) << call;
    EXPECT_EQ(nullptr, Slot(archive));
    EXPECT_EQ(0, m_Mapper->m_OpenCount);
    datAssetManager::SetPath("c:\\root");

    Stream *a = nullptr, *b = nullptr, *p = nullptr;
    const std::pair<std::function<void()>, Calls> steps[] = {
        // Data\ matches the name past the asset path: the archive serves the
        // rest of it, with the asset path empty until the open is finished.
        {[&] {
             ASSERT_NE(nullptr, a = Stream::Open("c:\\root\\data\\a.dat", true));
             EXPECT_EQ("", s_DuringOpen.m_AssetPath);
             EXPECT_EQ("c:\\root\\", s_DuringOpen.m_SavedPath);
             EXPECT_TRUE(s_DuringOpen.m_Zip);
             EXPECT_EQ(0, s_DuringOpen.m_Device);
             EXPECT_NE(std::string::npos, capture.m_Console.find("::OPEN::(data\\a.dat)"));
             ASSERT_NE(nullptr, Slot(a->m_Handle));
             EXPECT_EQ(1, Slot(a->m_Handle)->m_UseZip);
             EXPECT_EQ(0, Slot(a->m_Handle)->m_DeviceId);
         },
         // Every archive read is made inside the member's open or read, which
         // selects the zip layer, straight through the archive's own
         // functions. The open reads the local header with the member behind
         // it (here all up to the directory's first byte) in one read...
         {"read 100 " + std::to_string(m_Layout.m_Central[0] + 1) + " @0z"}},
        // ...so reading the member makes no archive call.
        {[&] { EXPECT_EQ(m_Stored, ReadAll(a)); }, {}},
        // A row without the zip layer switches the device only; the device
        // is handed the whole name and the handle is remembered with it.
        {[&] {
             ASSERT_NE(nullptr, p = Stream::Open("plain\\p.txt", true));
             EXPECT_FALSE(s_DuringOpen.m_Zip);
             EXPECT_EQ(1, s_DuringOpen.m_Device);
             EXPECT_EQ("c:\\root\\", s_DuringOpen.m_AssetPath);
             EXPECT_EQ(1, Slot(p->m_Handle)->m_DeviceId);
             EXPECT_EQ(0, Slot(p->m_Handle)->m_UseZip);
             EXPECT_EQ("pq", ReadAll(p));
         },
         {"open plain\\p.txt 1 @1", "read 101 4096 @1", "read 101 4096 @1"}},
        // A deflated member, read piece by piece between plain reads.
        {[&] {
             datAssetManager::SetPath("");
             ASSERT_NE(nullptr, b = Stream::Open("DATA\\B.DAT", true));
             EXPECT_EQ(m_Deflated, ReadAll(b));
         },
         {}},
        {[&] {
             EXPECT_EQ(0, a->Close());
             EXPECT_EQ(0, b->Close());
             EXPECT_EQ(0, p->Close());
         },
         {"close 101 @1"}},
    };
    for (const auto& step : steps) {
        step.first();
        Calls calls = TakeCalls();
        if (&step == &steps[3]) {
            ASSERT_FALSE(calls.empty());
            for (const std::string& call : calls) EXPECT_EQ(" @0z", call.substr(call.size() - 4)) << call;
        } else {
            EXPECT_EQ(step.second, calls) << "step " << &step - steps;
        }
        EXPECT_EQ(0, GetCurrentDevice()) << "step " << &step - steps;
        EXPECT_FALSE(s_ZipSelected);
        EXPECT_EQ(&ProbeDevice(), s_ReadDevice);
        EXPECT_EQ(0, m_Mapper->m_RefCount);
    }
    EXPECT_STREQ("", m_Mapper->m_SavedPath);
    EXPECT_EQ(nullptr, Slot(0)) << "members forgotten at their close";
}

// An inner bracket on a remembered member takes its device but never its
// archive selection, and gives back exactly what it found.
TEST_F(FileMapperZipTest, AnInnerBracketSelectsTheDeviceButNoArchive) {
    ASSERT_NE(nullptr, zipFile::Mount("pack.zip", 0));
    Stream* a = Stream::Open("data\\a.dat", true);
    ASSERT_NE(nullptr, a);
    zipFile::zipSelect(true);
    SwitchDevice(1);
    m_Mapper->m_RefCount = 1;  // as inside an outer call
    EXPECT_TRUE(m_Mapper->EnterHandle(a->m_Handle, true));
    EXPECT_FALSE(s_ZipSelected);
    EXPECT_EQ(0, GetCurrentDevice());
    m_Mapper->Leave(true);
    EXPECT_TRUE(s_ZipSelected);
    EXPECT_EQ(1, GetCurrentDevice());
    m_Mapper->m_RefCount = 0;
    zipFile::zipSelect(false);
    SwitchDevice(0);
}

}  // namespace
