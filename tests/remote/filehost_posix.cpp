// Ctrl-C stops the host cleanly; Windows has no way to send it to one
// process from another, so there the host is only ever ended outright.
#include <gtest/gtest.h>

#include "remote/filehost/host.h"
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

}  // namespace
