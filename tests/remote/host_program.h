// The file host program on a loopback port, with the remote device connected
// to it and installed, for tests that reach it through ordinary streams.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "file/stream.h"
#include "remote/filehost/host.h"
#include "remote/packets.h"
#include "remote/remote.h"
#include "support/temp_dir.h"

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

// Bounds on waiting for a host that may be stuck: long, as a program under an
// emulator or a sanitizer is slow, but never for ever.
const int32_t kHostPatienceMs = 30000;

// Sends a request on a raw connection and receives the 16-byte reply; false
// when none has arrived within the patience allowed.
inline bool ExchangeWithin(plat::SocketHandle socket, const Bytes& request, Bytes* reply) {
    reply->assign(16, 0);
    return SendAllOn(socket, request.data(), int32_t(request.size())) &&
           plat::SocketWait(socket, kHostPatienceMs) == 1 &&
           RecvAllOn(socket, reply->data(), 16);
}

// True once the host has closed (or reset) the connection, within the
// patience allowed.
inline bool ClosedByHost(plat::SocketHandle socket) {
    uint8_t byte = 0;
    return plat::SocketWait(socket, kHostPatienceMs) == 1 && plat::SocketRecv(socket, &byte, 1) <= 0;
}
