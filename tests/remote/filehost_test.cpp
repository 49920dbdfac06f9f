// The file host: its names and arguments in-process, then the real program
// on a loopback port, reached through ordinary streams on the remote device.
#include <gtest/gtest.h>

#include <filesystem>

#include "file/stream.h"
#include "remote/filehost/host.h"
#include "remote/packets.h"
#include "remote/remote.h"
#include "support/capture_system.h"
#include "support/temp_dir.h"

namespace {

TEST(HostNames, EitherSeparatorIsServedAndNothingLeavesTheRoot) {
    const struct {
        const char* m_Name;
        const char* m_Path;  // null when refused
    } cases[] = {
        {"a.txt", "r/a.txt"},     {"sub\\A.txt", "r/sub/A.txt"},
        {"a//b/./c", "r/a/b/c"},  {"a/../b", "r/b"},
        {"a\\b/..\\../c", "r/c"}, {"../a", nullptr},
        {"a/../../b", nullptr},   {"..", nullptr},
        {"a/..", nullptr},        {"", nullptr},
        {"/a", nullptr},          {"\\a", nullptr},
        {"C:\\a", nullptr},       {"C:a", nullptr},
        {"a:b", nullptr},         {"a/...", nullptr},
        {"a. /b", nullptr},       {"a./b", nullptr},
    };
    for (const auto& c : cases) {
        char path[kHostPathSize];
        const bool served = ConfineName("r", c.m_Name, path, sizeof path);
        EXPECT_EQ(std::string(c.m_Path ? c.m_Path : "-"), served ? path : "-") << c.m_Name;
    }
    char small[7];
    EXPECT_TRUE(ConfineName("r", "abcd", small, sizeof small));
    EXPECT_FALSE(ConfineName("r", "abcde", small, sizeof small)) << "no room for the terminator";
}

TEST(HostArgs, ServeOnlyWhatCanBeServedAndSayWhatIsWrong) {
    TempDir dir;
    const std::string root = dir.Path("");
    const struct {
        std::vector<const char*> m_Args;
        const char* m_Said;  // empty when accepted
    } cases[] = {{{"filehost", root.c_str()}, "Error: Usage: filehost [-a address] root port"},
                 {{"filehost", root.c_str(), "70000"}, "'70000' is not a port number (0 to 65535)"},
                 {{"filehost", "-a", "10.0.0.1", "nowhere", "1"}, "'nowhere' is not a directory"},
                 {{"filehost", "-a", "10.0.0.1", root.c_str(), "0"}, ""}};
    for (const auto& c : cases) {
        CaptureSystem cap;
        HostOptions options = {};
        const bool accepted =
            ParseHostArgs(int(c.m_Args.size()), const_cast<char**>(c.m_Args.data()), &options);
        EXPECT_EQ(!*c.m_Said, accepted && std::string("10.0.0.1") == options.m_Address);
        EXPECT_NE(std::string::npos, cap.m_Console.find(c.m_Said)) << cap.m_Console;
    }
}

class FileHostProgram : public ::testing::Test {
protected:
    void SetUp() override {
        s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
        m_Host = StartFileHost(FILEHOST_BIN, m_Root.Path("").c_str(), &m_Port);
        ASSERT_GE(m_Host, 0) << "the host did not come up";
        ASSERT_TRUE(RemoteConnect("127.0.0.1", m_Port) && SwitchDevice(1));
    }
    void TearDown() override {
        for (Stream& s : s_StreamTable)
            if (s.m_Device) s.Close();
        RemoteDisconnect();
        EXPECT_EQ(0, memcmp(&LocalDevice.m_Backend, &s_LocalBackend, sizeof(LocalBackend)));
        if (m_Host >= 0) plat::ProcessStop(m_Host);
    }
    TempDir m_Root;
    int64_t m_Host = -1;
    int32_t m_Port = 0;
};

TEST_F(FileHostProgram, StreamsCreateWriteSeekAndReadBackSeveralMegabytes) {
    std::string data(5 << 20, 0), back(data.size() + 1, 0);
    uint32_t seed = 1;
    for (char& c : data) c = char((seed = seed * 1103515245 + 12345) >> 16);
    Stream* out = Stream::Create("big.bin");
    ASSERT_NE(nullptr, out);
    // Uneven pieces take the stream's buffered path and its direct one.
    for (size_t at = 0, n = 1; at < data.size();
         at += n, n = std::min(n * 5 % 70001 + 1, data.size() - at))
        ASSERT_EQ(int32_t(n), out->Write(&data[at], n));
    EXPECT_EQ(0, out->Close());
    Stream* patch = Stream::Open("big.bin", false);
    ASSERT_NE(nullptr, patch);
    EXPECT_EQ(100, patch->Read(&back[0], 100));
    EXPECT_EQ(100, patch->Flush()) << "a read-write stream seeks back to where its reader is";
    EXPECT_EQ(5, patch->Write("PATCH", 5));
    EXPECT_EQ(0, patch->Close());
    data.replace(100, 5, "PATCH");
    Stream* in = Stream::Open("big.bin", true);
    ASSERT_NE(nullptr, in);
    for (size_t at = 0, n = 1; at < data.size();
         at += n, n = std::min(n * 7 % 90001 + 1, data.size() - at))
        ASSERT_EQ(int32_t(n), in->Read(&back[at], n));
    EXPECT_EQ(0, in->Read(&back[data.size()], 1)) << "the end of the file";
    back.pop_back();
    EXPECT_TRUE(data == back) << "read back differs";
    EXPECT_TRUE(data == m_Root.Read("big.bin")) << "the host's copy differs";
}

TEST_F(FileHostProgram, NamesOutsideTheRootAreRefusedAndInsideOnesServed) {
    m_Root.Write("in.txt", "in");
    std::filesystem::create_directory(m_Root.Path("sub"));
    for (const std::string& name :
         {std::string("../out.txt"), std::string("..\\out.txt"), std::string("sub/../../out.txt"),
          std::string("/out.txt"), std::string("\\out.txt"), std::string("C:\\out.txt"),
          std::string("C:out.txt"), m_Root.Path("in.txt")}) {
        EXPECT_EQ(nullptr, Stream::Create(name.c_str())) << name;
        EXPECT_EQ(nullptr, Stream::Open(name.c_str(), true)) << name;
        EXPECT_FALSE(RemoteDelete(name.c_str()) || RemoteIsNewer(name.c_str(), "x")) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(m_Root.Path("../out.txt")));
    EXPECT_EQ("in", m_Root.Read("in.txt"));
    Stream* kept = Stream::Create("sub/..\\sub\\kept.txt");
    ASSERT_NE(nullptr, kept);
    EXPECT_EQ(2, kept->Write("ok", 2));
    EXPECT_EQ(0, kept->Close());
    EXPECT_EQ("ok", m_Root.Read("sub/kept.txt"));
    EXPECT_TRUE(RemoteIsNewer("sub/kept.txt", "missing") && RemoteDelete("sub\\kept.txt"));
    EXPECT_FALSE(m_Root.Exists("sub/kept.txt"));
}

// A raw connection creates f.txt as its handle 0; nothing malformed may
// reach it, and it is closed with the connection, which an impossible
// length ends. A created file is held by its creator alone, so only then can
// the device's own connection create it again.
TEST_F(FileHostProgram, MalformedRequestsFailAndFilesCloseWithTheirConnection) {
    plat::SocketHandle raw = plat::SocketConnect("127.0.0.1", m_Port);
    const struct {
        Bytes m_Request, m_Reply;
    } cases[] = {
        {Words({0, 2, 0, 30, 0, 1}, Z("f.txt")), Reply(3, 0)},
        {Words({0, 99, 0, 20, 0}), Reply(100, -1)},            // unknown code
        {Words({0, 8, 0, 24, 0, 5000}), Reply(9, -1)},         // more than a chunk
        {Words({0, 8, 0, 24, 0, 0}), Reply(9, -1)},            // less than a byte
        {Words({0, 6, 0, 30, 0, 3}, "abcdef"), Reply(7, -1)},  // count and length differ
        {Words({0, 4, 0, 32, 0, 0, 0, 0}), Reply(11, -1)},     // a seek of the wrong length
        {Words({0, 2, 0, 30, 0, 1}, "abcdef"), Reply(3, -1)},  // an unterminated name
        {Words({0, 10, 0, 20, 5}), Reply(11, -1)},             // a handle never opened
        {Words({0, 6, 0, 1 << 20}), Bytes()},                  // no request is that long
    };
    for (const auto& c : cases) {
        Bytes reply(16);
        ASSERT_TRUE(SendAllOn(raw, c.m_Request.data(), int32_t(c.m_Request.size())));
        const bool answered = RecvAllOn(raw, reply.data(), 16);
        EXPECT_TRUE(c.m_Reply == (answered ? reply : Bytes()));
    }
    plat::SocketClose(raw);
    EXPECT_EQ("", m_Root.Read("f.txt"));
    EXPECT_FALSE(m_Root.Exists("abcdef"));
    EXPECT_EQ(-1, RemoteClose(0)) << "another connection's handle";
    int32_t again = RemoteCreate("f.txt");
    for (int i = 0; i < 250 && again < 0; ++i, plat::SleepMs(20)) again = RemoteCreate("f.txt");
    EXPECT_EQ(0, RemoteClose(again));
}

}  // namespace
