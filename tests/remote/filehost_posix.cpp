// Ctrl-C stops the host cleanly; Windows has no way to send it to one
// process from another, so there the host is only ever ended outright. And
// what only POSIX makes without privileges: FIFOs and symbolic links.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "remote/filehost/host.h"
#include "remote/host_program.h"
#include "remote/packets.h"
#include "support/temp_dir.h"

namespace {

TEST(FileHostStop, CtrlCEndsEveryConnectionAndTheHostWithStatus0) {
    TempDir root;
    int32_t port = 0;
    int64_t host = StartFileHost(FILEHOST_BIN, root.Path("").c_str(), &port);
    ASSERT_GE(host, 0);
    plat::SocketHandle client = plat::SocketConnect("127.0.0.1", port);
    const Bytes close = Words({0, 10, 0, 20, 0});
    Bytes reply(16);
    // One exchange first, so the connection is being served when the stop comes.
    EXPECT_TRUE(SendAllOn(client, close.data(), 20) && RecvAllOn(client, reply.data(), 16));
    EXPECT_EQ(0, plat::ProcessStop(host)) << "killed rather than stopped";
    EXPECT_EQ(0, plat::SocketRecv(client, reply.data(), 16)) << "the connection was not ended";
    plat::SocketClose(client);
}

// Opened for reading, a FIFO waits for a writer, and read-write it opens at
// once but is no file: either way the request is refused, answered at once,
// and no thread is left for Ctrl-C to wait on.
TEST_F(FileHostProgram, AFifoIsRefusedWithoutWaitingAndCtrlCStillStops) {
    ASSERT_EQ(0, mkfifo(m_Root.Path("pipe").c_str(), 0666));
    std::filesystem::create_directory(m_Root.Path("dir"));
    plat::SocketHandle raw = plat::SocketConnect("127.0.0.1", m_Port);
    const Bytes requests[] = {
        Words({0, 2, 0, 29, 1, 0}, Z("pipe")),  // read-only
        Words({0, 2, 0, 29, 0, 0}, Z("pipe")),  // read-write
        Words({0, 2, 0, 29, 0, 1}, Z("pipe")),  // create
        Words({0, 2, 0, 28, 1, 0}, Z("dir")),
    };
    for (const Bytes& request : requests) {
        Bytes reply;
        ASSERT_TRUE(ExchangeWithin(raw, request, &reply) && reply == Reply(3, -1))
            << std::string(request.begin() + 24, request.end());
    }
    EXPECT_EQ(0, plat::ProcessStop(m_Host)) << "killed rather than stopped";
    m_Host = -1;
    plat::SocketClose(raw);
}

// A link may lead anywhere inside the root; one that leads out is refused
// whatever the request, and a delete neither removes it nor touches what it
// leads to (once a read-only target lost its mark this way).
TEST_F(FileHostProgram, LinksOutOfTheRootAreRefusedAndLinksWithinItFollowed) {
    namespace fs = std::filesystem;
    TempDir outside;
    outside.Write("secret.txt", "secret");
    fs::permissions(outside.Path("secret.txt"), fs::perms::owner_read | fs::perms::group_read);
    m_Root.Write("in.txt", "in");
    fs::create_directory(m_Root.Path("sub"));
    fs::create_symlink(outside.Path("secret.txt"), m_Root.Path("secret"));
    fs::create_directory_symlink(outside.Path(""), m_Root.Path("out"));
    fs::create_symlink(outside.Path("new.txt"), m_Root.Path("dangling"));
    fs::create_symlink("../..", m_Root.Path("sub/up"));
    fs::create_symlink("in.txt", m_Root.Path("inlink"));
    fs::create_symlink("../in.txt", m_Root.Path("sub/back"));
    fs::create_directory_symlink(m_Root.Path("sub"), m_Root.Path("sublink"));
    for (const char* name : {"secret", "out/secret.txt", "dangling", "out/new.txt",
                             "sublink/../out/x", "sub/up/", "sub/up/x.txt"}) {
        EXPECT_EQ(nullptr, Stream::Open(name, true)) << name;
        EXPECT_EQ(nullptr, Stream::Open(name, false)) << name;
        EXPECT_EQ(nullptr, Stream::Create(name)) << name;
        EXPECT_FALSE(RemoteDelete(name) || RemoteIsNewer(name, "missing")) << name;
    }
    EXPECT_EQ("secret", outside.Read("secret.txt"));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::group_read,
              fs::status(outside.Path("secret.txt")).permissions());
    EXPECT_FALSE(outside.Exists("new.txt") || outside.Exists("x") ||
                 fs::exists(m_Root.Path("../x.txt")));
    EXPECT_TRUE(fs::is_symlink(m_Root.Path("secret")));

    for (const char* name : {"inlink", "sub/back", "sublink/back"}) {
        Stream* in = Stream::Open(name, true);
        ASSERT_NE(nullptr, in) << name;
        char text[3] = {};
        EXPECT_EQ(2, in->Read(text, 3)) << name;
        EXPECT_STREQ("in", text);
        EXPECT_EQ(0, in->Close());
    }
    Stream* made = Stream::Create("sublink/made.txt");
    ASSERT_NE(nullptr, made);
    EXPECT_EQ(0, made->Close());
    EXPECT_TRUE(m_Root.Exists("sub/made.txt"));
    EXPECT_TRUE(RemoteIsNewer("inlink", "missing"));
    EXPECT_TRUE(RemoteDelete("inlink")) << "the link itself goes";
    EXPECT_FALSE(fs::is_symlink(m_Root.Path("inlink")));
    EXPECT_EQ("in", m_Root.Read("in.txt"));
}

}  // namespace
