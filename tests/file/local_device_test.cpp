// The local disk device on real files in a temporary directory, and its
// backend block that another device's functions can replace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "file/stream.h"
#include "support/capture_system.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class LocalFiles : public ::testing::Test {
protected:
    void SetUp() override { s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device; }
    void TearDown() override {
        RestoreLocalDevice();
        for (Stream& s : s_StreamTable)
            if (s.m_Device) s.Close();
    }
    TempDir m_Dir;
    LocalBackend& m_Backend = LocalDevice.m_Backend;
};

TEST_F(LocalFiles, IsNewerComparesWriteTimesAndDeleteRemovesReadOnlyFiles) {
    const std::string a = m_Dir.Write("a", "1"), b = m_Dir.Write("b", "2");
    EXPECT_TRUE(m_Backend.IsNewer(a.c_str(), m_Dir.Path("missing").c_str()));
    EXPECT_FALSE(m_Backend.IsNewer(m_Dir.Path("missing").c_str(), a.c_str()));
    // Both set the same way, since a file system may store times coarser
    // than the clock reads them.
    const fs::file_time_type base = fs::last_write_time(a);
    fs::last_write_time(a, base);
    fs::last_write_time(b, base);
    EXPECT_FALSE(m_Backend.IsNewer(a.c_str(), b.c_str())) << "same time";
    fs::last_write_time(a, base + std::chrono::seconds(10));
    EXPECT_TRUE(m_Backend.IsNewer(a.c_str(), b.c_str()));
    EXPECT_FALSE(m_Backend.IsNewer(b.c_str(), a.c_str()));
    fs::permissions(a, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_TRUE(m_Backend.Delete(a.c_str()));
    EXPECT_FALSE(m_Dir.Exists("a"));
    EXPECT_FALSE(m_Backend.Delete(a.c_str()));
}

TEST_F(LocalFiles, EnumFilesReportsEveryEntryWithItsKind) {
    typedef std::map<std::string, bool> Seen;  // name -> is a directory
    Seen seen;
    EnumCallback collect = [](const char* name, bool isDirectory, void* context) {
        (*static_cast<Seen*>(context))[name] = isDirectory;
    };
    EXPECT_EQ(0, LocalDevice.m_Device.EnumFiles(m_Dir.Path("missing").c_str(), collect, &seen));
    m_Dir.Write("one.txt", "1");
    fs::create_directory(m_Dir.Path("sub"));
    EXPECT_EQ(4, LocalDevice.m_Device.EnumFiles(m_Dir.Path("").c_str(), collect, &seen));
    EXPECT_EQ((Seen{{".", true}, {"..", true}, {"one.txt", false}, {"sub", true}}), seen);
}

// The longest directory name that fits the search pattern is listed; a
// longer one is refused whole, never cut to a name that may be its parent's.
TEST_F(LocalFiles, EnumFilesRefusesADirectoryNameTooLongToUse) {
    const size_t kLongest = 253;
    std::string longest = m_Dir.Path("");
    ASSERT_LT(longest.size(), kLongest);
    longest += std::string(kLongest - longest.size(), 'd');
    ASSERT_TRUE(fs::create_directory(longest));
    const std::pair<std::string, int32_t> cases[] = {
        {longest, 2},  // "." and ".."
        {longest + char(fs::path::preferred_separator) + "sub", 0},
        {longest + "x", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, LocalDevice.m_Device.EnumFiles(c.first.c_str(), nullptr, nullptr))
            << c.first.size();
}

int32_t s_FakeReadHandle = -1;

TEST_F(LocalFiles, BackendBlockRedirectsOpenStreamsUntilRestored) {
    Stream* s = Stream::Open(m_Dir.Write("real", "real content").c_str(), true);
    ASSERT_NE(nullptr, s);
    s_FakeReadHandle = -1;
    m_Backend = LocalBackend{};
    m_Backend.Read = [](int32_t handle, void* buffer, int32_t) {
        s_FakeReadHandle = handle;
        memset(buffer, 'R', 3);
        return 3;
    };
    char got[8];
    ASSERT_EQ(3, s->Read(got, 3));
    EXPECT_EQ("RRR", std::string(got, 3));
    EXPECT_EQ(s->m_Handle, s_FakeReadHandle);
    RestoreLocalDevice();
    EXPECT_EQ(0, memcmp(&s_LocalBackend, &m_Backend, sizeof m_Backend)) << "every entry is back";
    ASSERT_EQ(5, s->Read(got, 5));
    EXPECT_EQ("real ", std::string(got, 5)) << "the open stream reads the disk again";
}

TEST_F(LocalFiles, FailingReadIsRetriedFiveTimesThenGivenUp) {
    CaptureSystem capture;
    char got[16];
    EXPECT_EQ(-1, m_Backend.Read(123456, got, sizeof got));
    const std::string retry = "<12>Error: ReadFile returned N, retrying<7>\n";
    const std::string expected =
        retry + retry + retry + retry + retry + "<12>Error: ReadFile returned N, giving up<7>\n";
    EXPECT_EQ(expected,
              std::regex_replace(capture.m_Console, std::regex("returned -?\\d+"), "returned N"));
}

// Open needs an existing file; Create truncates one and holds it alone until
// closed; megabytes written in uneven pieces come back the same.
TEST_F(LocalFiles, CreateHoldsTheFileAloneAndMegabytesRoundTrip) {
    EXPECT_EQ(nullptr, Stream::Open(m_Dir.Path("big").c_str(), false));
    EXPECT_FALSE(m_Dir.Exists("big")) << "opening never creates";
    const std::string path = m_Dir.Write("big", "previous content");
    Stream* out = Stream::Create(path.c_str());
    ASSERT_NE(nullptr, out);
    EXPECT_EQ("", m_Dir.Read("big"));
    EXPECT_EQ(nullptr, Stream::Open(path.c_str(), true));
    EXPECT_EQ(nullptr, Stream::Open(path.c_str(), false));
    std::string data(3 << 20, '\0'), back(data.size() + 10000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
    const int32_t pieces[] = {1, 100, 4095, 4096, 10000, 777, 3000, 5000, 13};
    for (int32_t at = 0, i = 0, n; at < static_cast<int32_t>(data.size()); at += n, ++i) {
        n = std::min(pieces[i % 9], static_cast<int32_t>(data.size()) - at);
        ASSERT_EQ(n, out->Write(&data[at], n));
    }
    EXPECT_EQ(0, out->Close());
    Stream* in = Stream::Open(path.c_str(), true);
    ASSERT_NE(nullptr, in);
    size_t got = 0;
    for (int32_t n = 1, i = 4; n > 0; got += n, ++i)
        ASSERT_LE(0, n = in->Read(&back[got], pieces[i % 9]));
    back.resize(got);
    EXPECT_TRUE(back == data) << "read back " << got << " bytes that differ from those written";
}

}  // namespace
