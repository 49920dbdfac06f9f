// The file host: its names and arguments in-process, then the real program
// on a loopback port, reached through ordinary streams on the remote device.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <vector>

#include "file/stream.h"
#include "remote/filehost/host.h"
#include "remote/host_program.h"
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
        // Windows devices, in any part, any case, with or without extensions.
        {"CON", nullptr},         {"sub/nul.txt", nullptr},
        {"Com1.log", nullptr},    {"lpt9/a", nullptr},
        {"conin$", nullptr},      {"CONOUT$.x.y", nullptr},
        {"aux .c", nullptr},      {"Prn", nullptr},
        {"com\xB9", nullptr},     {"LPT0.txt", nullptr},
        {"console", "r/console"}, {"COM10", "r/COM10"},
        {"lpt", "r/lpt"},         {"nul_x/auxx", "r/nul_x/auxx"},
        {"con$", "r/con$"},       {"a.con", "r/a.con"},
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

// What is wrong is said on standard error; the program-level table in the
// tool suite reads it.
TEST(HostArgs, ServeOnlyWhatCanBeServedAndWarnWhenOpen) {
    TempDir dir;
    const std::string root = dir.Path("");
    const char* const kOpen = "is not a loopback address, and the protocol has no authentication";
    const struct {
        std::vector<const char*> m_Args;
        int32_t m_Idle;  // the time-out taken; -1 when refused
        bool m_Warned;   // that anyone reaching the host is served
    } cases[] = {
        {{"filehost", root.c_str()}, -1, false},
        {{"filehost", root.c_str(), "70000"}, -1, false},
        {{"filehost", "-a", "10.0.0.1", "nowhere", "1"}, -1, false},
        {{"filehost", "-x", "1", root.c_str(), "0"}, -1, false},
        {{"filehost", "-t", "1.5", root.c_str(), "0"}, -1, false},
        {{"filehost", "--timeout=86401", root.c_str(), "0"}, -1, false},
        {{"filehost", root.c_str(), "0"}, kHostIdleSeconds, false},
        {{"filehost", "-a", "10.0.0.1", root.c_str(), "0"}, 600, true},
        {{"filehost", "-t", "0", "--address=0.0.0.0", root.c_str(), "0"}, 0, true},
        {{"filehost", "--address", "127.0.0.2", "--timeout=5", root.c_str(), "0"}, 5, false},
        {{"filehost", "-a", "localhost", "--", root.c_str(), "0"}, kHostIdleSeconds, false},
    };
    for (const auto& c : cases) {
        CaptureSystem cap;
        HostOptions options = {};
        int status = 0;
        const bool accepted =
            ParseHostArgs(int(c.m_Args.size()), const_cast<char**>(c.m_Args.data()), &options, &status);
        EXPECT_EQ(c.m_Idle, accepted ? options.m_IdleSeconds : -1) << c.m_Args[1];
        EXPECT_EQ(accepted ? 0 : 1, status) << c.m_Args[1];
        EXPECT_EQ(c.m_Warned, cap.m_Console.find(kOpen) != std::string::npos) << cap.m_Console;
    }
}

// Out of descriptors, every accept fails at once while the listener stays
// ready: each failure must be followed by a pause, long enough not to spin a
// core and short enough that Ctrl-C is still seen, and said once, not each
// time. The calls stand in for the system's; nothing really waits.
int s_Waits = 0, s_Accepts = 0;
std::vector<uint32_t> s_Pauses;

TEST(HostListen, AFailingAcceptPausesInsteadOfSpinning) {
    CaptureSystem cap;
    const HostListenCalls failing = {
        [](plat::SocketHandle, int32_t) { return ++s_Waits, int32_t(1); },
        [](plat::SocketHandle) { return ++s_Accepts, plat::SocketHandle(-1); },
        [](uint32_t ms) { s_Pauses.push_back(ms); },
        [] { return s_Waits >= 20; },
    };
    const HostOptions options = {"127.0.0.1", ".", 0, kHostIdleSeconds};
    EXPECT_TRUE(ServeUntilInterrupted(options, -1, failing));
    EXPECT_EQ(20, s_Accepts);
    ASSERT_EQ(20u, s_Pauses.size());
    for (uint32_t ms : s_Pauses) EXPECT_TRUE(ms >= 50 && ms <= 1000) << ms;
    const std::string said = "Warning: filehost: cannot accept a connection";
    EXPECT_EQ(cap.m_Console.find(said), cap.m_Console.rfind(said)) << cap.m_Console;
    EXPECT_NE(std::string::npos, cap.m_Console.find(said)) << cap.m_Console;
}

// As many silent clients as the host serves at once: one stops after a
// request, one after half a header, the rest send nothing. With a one-second time-out each
// is let go, and the host serves a newcomer.
TEST(FileHostIdle, SilentConnectionsAreClosedAndTheHostServesAgain) {
    TempDir root;
    int32_t port = 0;
    const char* const options[] = {"-t", "1", nullptr};
    const int64_t host = StartFileHost(FILEHOST_BIN, root.Path("").c_str(), &port, options);
    ASSERT_GE(host, 0) << "the host did not come up";
    const Bytes close = Words({0, 10, 0, 20, 0});
    Bytes reply;
    std::vector<plat::SocketHandle> silent;
    for (int i = 0; i < kHostMaxConnections; ++i) {
        silent.push_back(plat::SocketConnect("127.0.0.1", port));
        const bool said = i == 0   ? ExchangeWithin(silent[0], close, &reply)
                          : i == 1 ? SendAllOn(silent[1], close.data(), 8)
                                   : true;
        EXPECT_TRUE(said) << "client " << i;
    }
    for (plat::SocketHandle socket : silent) {
        EXPECT_TRUE(ClosedByHost(socket));
        plat::SocketClose(socket);
    }
    plat::SocketHandle newcomer = plat::SocketConnect("127.0.0.1", port);
    EXPECT_TRUE(ExchangeWithin(newcomer, close, &reply) && reply == Reply(11, -1));
    plat::SocketClose(newcomer);
    plat::ProcessStop(host);
}

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

// Refused before they reach the system, which on Windows would open the
// device: nothing of these names may appear in the root. Near misses are
// ordinary names.
TEST_F(FileHostProgram, WindowsDeviceNamesAreRefusedOnEverySystem) {
    std::filesystem::create_directory(m_Root.Path("sub"));
    for (const char* name : {"CON", "nul.txt", "sub/Com1.log", "aux .c", "LPT9", "conin$",
                             "CONOUT$.x", "prn/a.txt", "sub\\Nul"}) {
        EXPECT_EQ(nullptr, Stream::Create(name)) << name;
        EXPECT_EQ(nullptr, Stream::Open(name, true)) << name;
        EXPECT_EQ(nullptr, Stream::Open(name, false)) << name;
        EXPECT_FALSE(RemoteDelete(name) || RemoteIsNewer(name, "missing")) << name;
    }
    std::set<std::string> served = {"console.txt", "COM10", "lpt", "nul_", "a.con"};
    for (const std::string& name : served) {
        Stream* file = Stream::Create(name.c_str());
        ASSERT_NE(nullptr, file) << name;
        EXPECT_EQ(0, file->Close());
    }
    served.insert("sub");
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_Root.Path("")))
        found.insert(entry.path().lexically_relative(m_Root.Path("")).generic_string());
    EXPECT_EQ(served, found);
}

// A raw connection creates f.txt as its handle 0; nothing malformed may
// reach it, and it is closed with the connection, which an impossible
// length ends. A created file is held by its creator alone, so only then can
// the device's own connection create it again.
// Reads of one file sent together are read from the file at once; each
// reply must still be what reading them one by one would give: full pieces,
// the rest at the end, then nothing, with a request of another kind (a bad
// handle here) answered in its place.
TEST_F(FileHostProgram, ReadsSentTogetherAreAnsweredAsOneByOne) {
    std::string data(6000, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i * 7 % 26);
    m_Root.Write("run.bin", data);
    plat::SocketHandle raw = plat::SocketConnect("127.0.0.1", m_Port);
    Bytes reply;
    ASSERT_TRUE(ExchangeWithin(raw, Words({0, 2, 0, 32, 1, 0}, Z("run.bin")), &reply));
    ASSERT_EQ(reply, Reply(3, 0));
    const struct {
        int32_t m_Handle, m_Count;
        Bytes m_Reply;
    } reads[] = {{0, 4096, Reply(9, 4096, data.substr(0, 4096))}, {0, 100, Reply(9, 100, data.substr(4096, 100))},
                 {7, 10, Reply(9, -1)}, {0, 4096, Reply(9, 1804, data.substr(4196))}, {0, 4096, Reply(9, 0)}};
    Bytes window;
    for (const auto& r : reads) {
        Bytes one = Words({0, 8, 0, 24, r.m_Handle, r.m_Count});
        window.insert(window.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(SendAllOn(raw, window.data(), int32_t(window.size())));
    for (const auto& r : reads) {
        Bytes got(r.m_Reply.size());
        ASSERT_TRUE(RecvAllOn(raw, got.data(), int32_t(got.size())));
        EXPECT_EQ(got, r.m_Reply) << "a read of " << r.m_Count;
    }
    plat::SocketClose(raw);
}

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
