// The remote device against a scripted host: a loopback peer that records
// every request and answers each with the next canned reply.
#include "remote/remote.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "remote/packets.h"
#include "support/capture_system.h"

namespace {

class FakeHost : public ::testing::Test {
protected:
    void TearDown() override { Stop(); }
    // The connection is closed after the last reply. Requests are those to this host.
    void Play(std::vector<Bytes> replies) {
        Stop();
        m_Replies = std::move(replies);
        m_Requests.clear();
        plat::SocketHandle listener = plat::SocketListen("127.0.0.1", 0);
        m_Peer = std::thread([this, listener] { Serve(listener); });
        ASSERT_TRUE(RemoteConnect("127.0.0.1", plat::SocketPort(listener)));
    }
    void Stop() {
        RemoteDisconnect();
        if (m_Peer.joinable()) m_Peer.join();
    }
    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Requests;
    }
    std::function<Bytes(const Bytes&)> m_Answer;  // in place of the canned replies

private:
    void Serve(plat::SocketHandle listener) {
        plat::SocketHandle peer = plat::SocketAccept(listener);
        plat::SocketClose(listener);
        Bytes request(16);
        for (size_t i = 0; i < m_Replies.size() && RecvAllOn(peer, request.data(), 16); ++i) {
            request.resize(request[12] | request[13] << 8);  // no request here reaches 64 KiB
            if (!RecvAllOn(peer, &request[16], int32_t(request.size()) - 16)) break;
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Requests.push_back(request);
            lock.unlock();
            const Bytes reply = m_Answer ? m_Answer(request) : m_Replies[i];
            SendAllOn(peer, reply.data(), int32_t(reply.size()));
        }
        plat::SocketClose(peer);
    }
    std::vector<Bytes> m_Replies, m_Requests;
    std::thread m_Peer;
    std::mutex m_Mutex;
};

TEST_F(FakeHost, EachOperationSendsItsTabledRequestAndReturnsTheReplyResult) {
    char got[4] = {};
    const std::string longest(255, 'n');  // the most a name field holds
    const struct {
        std::function<int32_t()> m_Call;
        Bytes m_Request, m_Reply;
        int32_t m_Result;
    } cases[] = {
        {[] { return RemoteOpen("a.txt", 1); }, Words({0, 2, 0, 30, 1, 0}, Z("a.txt")), Reply(3, 7),
         7},
        {[] { return RemoteCreate("b"); }, Words({0, 2, 0, 26, 0, 1}, Z("b")), Reply(3, -2), -2},
        {[] { return RemoteSeek(7, -9, 2); }, Words({0, 4, 0, 28, 7, -9, 2}), Reply(11, 120), 120},
        {[] { return RemoteClose(7); }, Words({0, 10, 0, 20, 7}), Reply(11, 0), 0},
        {[] { return RemoteWrite(7, "hey", 3); }, Words({0, 6, 0, 27, 7, 3}, "hey"), Reply(7, 3),
         3},
        {[&] { return RemoteRead(7, got, 3); }, Words({0, 8, 0, 24, 7, 3}), Reply(9, 3, "abc"), 3},
        {[] { return RemoteDelete("d/e"); }, Words({0, 17, 0, 20}, Z("d/e")), Reply(18, 0), 1},
        {[] { return RemoteIsNewer("a", "b"); }, Words({0, 15, 0, 528}, Field("a") + Field("b")),
         Reply(16, 1), 1},
        {[&] { return RemoteOpen(longest.c_str(), 0); }, Words({0, 2, 0, 280, 0, 0}, Z(longest)),
         Reply(3, 1), 1},
        {[&] { return RemoteDelete(longest.c_str()); }, Words({0, 17, 0, 272}, Z(longest)),
         Reply(18, 1), 0},
        {[&] { return RemoteIsNewer(longest.c_str(), ""); },
         Words({0, 15, 0, 528}, Z(longest) + Field("")), Reply(16, 2), 0},
    };
    std::vector<Bytes> replies;
    for (const auto& c : cases) replies.push_back(c.m_Reply);
    Play(replies);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].m_Result, cases[i].m_Call()) << "case " << i;
        EXPECT_EQ(cases[i].m_Request, Requests().at(i)) << "case " << i;
    }
    EXPECT_STREQ("abc", got);
}

// Cut to its field, a longer name would be another file's: a create would
// truncate it, a delete remove it. Nothing is sent; of what the host would
// grant every request, only the close that follows is asked.
TEST_F(FakeHost, NamesLongerThan255AreRefusedWithoutSending) {
    const std::string name(256, 'n'), prefix(255, 'n');
    m_Answer = [](const Bytes& request) {
        const int32_t code = request[4];
        return Reply(code == 10 ? 11 : code + 1, code == 17 || code == 10 ? 0 : 1);
    };
    Play(std::vector<Bytes>(6));
    EXPECT_EQ(-1, RemoteCreate(name.c_str()));
    EXPECT_EQ(-1, RemoteOpen(name.c_str(), 1));
    EXPECT_FALSE(RemoteDelete(name.c_str()));
    EXPECT_FALSE(RemoteIsNewer(name.c_str(), prefix.c_str()));
    EXPECT_FALSE(RemoteIsNewer(prefix.c_str(), name.c_str()));
    EXPECT_EQ(0, RemoteClose(3));
    EXPECT_EQ((std::vector<Bytes>{Words({0, 10, 0, 20, 3})}), Requests());
}

TEST_F(FakeHost, ReadsAndWritesTravelInChunksOfAtMost4096) {
    std::string data(10000, 0), buffer(10000, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + i / 251);
    Play({Reply(9, 4096, data.substr(0, 4096)), Reply(9, 4096, data.substr(4096, 4096)),
          Reply(9, 1808, data.substr(8192)), Reply(9, 4096, data.substr(0, 4096)), Reply(9, 0),
          Reply(9, 0),  // the third request was already on its way
          Reply(7, 4096), Reply(7, 1000), Reply(7, 4096), Reply(7, 808),  // one short write
          Reply(7, 4096), Reply(7, -1), Reply(7, -1),  // second, then first fails
          Reply(9, 4096, data.substr(0, 4096)), Reply(9, -1), Reply(9, -1)});
    EXPECT_EQ(0, RemoteRead(1, &buffer[0], 0));  // a count of 0 sends nothing
    EXPECT_EQ(0, RemoteWrite(1, data.data(), 0));
    EXPECT_EQ(10000, RemoteRead(1, &buffer[0], 10000));
    EXPECT_TRUE(data == buffer);
    EXPECT_EQ(4096, RemoteRead(1, &buffer[0], 10000)) << "end of file at the second request";
    EXPECT_EQ(10000, RemoteWrite(1, data.data(), 10000));
    EXPECT_EQ(-1, RemoteWrite(1, data.data(), 10000)) << "not the 4096 bytes already written";
    EXPECT_EQ(-1, RemoteWrite(1, data.data(), 10000));
    EXPECT_EQ(-1, RemoteRead(1, &buffer[0], 10000));
    const struct {
        int32_t m_Code, m_Count, m_From;  // where a write's data starts in the source
    } sent[] = {{8, 4096, -1},   {8, 4096, -1},   {8, 1808, -1}, {8, 4096, -1}, {8, 4096, -1},
                {8, 1808, -1},   {6, 4096, 0},    {6, 4096, 4096}, {6, 4096, 5096}, {6, 808, 9192},
                {6, 4096, 0},    {6, 4096, 4096}, {6, 4096, 0},    {8, 4096, -1},   {8, 4096, -1},
                {8, 1808, -1}};
    const std::vector<Bytes> requests = Requests();
    ASSERT_EQ(std::size(sent), requests.size());
    for (size_t i = 0; i < std::size(sent); ++i) {
        const std::string tail =
            sent[i].m_From < 0 ? "" : data.substr(sent[i].m_From, sent[i].m_Count);
        const int32_t length = 24 + int32_t(tail.size());
        EXPECT_TRUE(Words({0, sent[i].m_Code, 0, length, 1, sent[i].m_Count}, tail) == requests[i])
            << "request " << i;
    }
}

TEST(DeviceSwitch, RefusedUntilTheHostIsAvailableThenInstallsEitherSet) {
    const LocalBackend& b = LocalDevice.m_Backend;
    for (uint8_t id : {0, 1, 2, 255}) {
        EXPECT_FALSE(SwitchDevice(id));
        EXPECT_EQ(0, GetCurrentDevice());
        EXPECT_EQ(0, memcmp(&b, &s_LocalBackend, sizeof b));
    }
    s_RemoteEnabled = true;
    for (int round = 0; round < 2; ++round) {  // the same set again is still a switch
        EXPECT_TRUE(SwitchDevice(2));
        EXPECT_EQ(1, GetCurrentDevice());
        EXPECT_TRUE(b.IsNewer == RemoteIsNewer && b.Open == RemoteOpen &&
                    b.Create == RemoteCreate && b.Seek == RemoteSeek && b.Write == RemoteWrite &&
                    b.Read == RemoteRead && b.Close == RemoteClose && b.Delete == RemoteDelete);
    }
    EXPECT_TRUE(SwitchDevice(0));
    EXPECT_EQ(0, GetCurrentDevice());
    EXPECT_EQ(0, memcmp(&b, &s_LocalBackend, sizeof b));
    s_RemoteEnabled = false;
}

// Whatever arrived of the reply, a peer that has gone yields -1, at once and
// for every exchange after, and is no protocol fault.
TEST_F(FakeHost, APeerThatClosesMidReplyYieldsMinusOneWithoutHanging) {
    for (size_t cut : {8, 36}) {  // into the header; 20 of 100 data bytes
        Bytes reply = Reply(9, 100, std::string(100, 'x'));
        reply.resize(cut);
        Play({reply});
        CaptureSystem cap;
        std::string buffer(100, '#');
        EXPECT_EQ(-1, RemoteRead(1, &buffer[0], 100));
        EXPECT_EQ(std::string(100, '#'), buffer);
        EXPECT_EQ(-1, RemoteClose(1));
        EXPECT_EQ("", cap.m_Console);
    }
}

// A close's reply buffer holds only a header: what lies after it must stay.
int32_t CloseIntoHeaderOnly(std::string* after) {
    struct {
        RemotePacket m_Header;
        char m_After[14];
    } reply = {{0, 11, -1, 16}, {}};
    memcpy(reply.m_After, after->data(), sizeof reply.m_After);
    const RemoteClosePacket request = {{0, 10, 0, 20}, 1};
    RemoteExchange(&request.header, &reply.m_Header, sizeof reply.m_Header);
    after->assign(reply.m_After, sizeof reply.m_After);
    return reply.m_Header.result;
}

int32_t ReadTen(std::string* buffer) {
    return RemoteRead(1, &(*buffer)[0], 10);
}
int32_t Seek(std::string*) {
    return RemoteSeek(1, 0, 0);
}

// Every faulty reply is reported, is consumed whole without passing the
// buffers it goes to, and leaves the next exchange in step.
TEST_F(FakeHost, FaultyRepliesAreReportedAndNeitherOverrunNorDesynchronise) {
    const char* const kLength = "Assert(recvPkt->length <= (int)recvSize) failed";
    const char* const kCode = "Assert(recvPkt->command == command) failed";
    const struct {
        int32_t (*m_Call)(std::string* buffer);
        Bytes m_Reply;
        const char* m_Reported;
        int32_t m_Result;
        std::string m_Buffer;  // 10 bytes asked for, then 4 guard bytes
    } cases[] = {
        {ReadTen, Reply(9, 4184, std::string(4184, 'b')), kLength, 10, "bbbbbbbbbb####"},
        {ReadTen, Reply(9, 20, std::string(20, 'c')), "", 10, "cccccccccc####"},  // within room
        {CloseIntoHeaderOnly, Reply(11, 0, std::string(24, 'z')), kLength, 0, "##############"},
        {Seek, Reply(11, 40), "", 40, "##############"},  // a seek is answered with 11
        {Seek, Reply(5, 41), kCode, 41, "##############"},
        {Seek, Reply(12, 42), kCode, 42, "##############"},
    };
    std::vector<Bytes> replies;
    for (int32_t i = 0; i < int32_t(std::size(cases)); ++i)
        replies.insert(replies.end(), {cases[i].m_Reply, Reply(11, 100 + i)});
    Play(replies);
    for (int32_t i = 0; i < int32_t(std::size(cases)); ++i) {
        CaptureSystem cap;
        std::string buffer(14, '#');
        EXPECT_EQ(cases[i].m_Result, cases[i].m_Call(&buffer)) << "case " << i;
        EXPECT_EQ(cases[i].m_Buffer, buffer);
        EXPECT_NE(std::string::npos, cap.m_Console.find(cases[i].m_Reported)) << cap.m_Console;
        EXPECT_EQ(*cases[i].m_Reported == 0, cap.m_EndStatuses.empty()) << "case " << i;
        EXPECT_EQ(100 + i, RemoteClose(1)) << "the exchange after case " << i;
    }
}

// A length short of the header's own, down to the lowest one there is,
// carries nothing: nothing after the header is drained as its payload, and a
// read that claims bytes without carrying any has read none.
TEST_F(FakeHost, ARepliedLengthBelowTheHeaderCarriesNothing) {
    const Bytes next = Reply(11, 77);
    for (int32_t length : {INT32_MIN, INT32_MIN + 15, -1, 0, 15}) {
        for (bool read : {false, true}) {
            Bytes reply = Words({0, read ? 9 : 11, 42, length});
            reply.insert(reply.end(), next.begin(), next.end());
            Play({reply});
            CaptureSystem cap;
            std::string buffer(10, '#');
            EXPECT_EQ(read ? 0 : 42, read ? RemoteRead(1, &buffer[0], 10) : RemoteClose(1))
                << "length " << length;
            EXPECT_EQ(std::string(10, '#'), buffer);
            Bytes rest(16);
            EXPECT_TRUE(RecvAll(rest.data(), 16) && rest == next) << "length " << length;
            EXPECT_EQ("", cap.m_Console);
        }
    }
}

// The local operations fail with -1 alone; any other negative result from
// the host is the same failure, chunks already moved or not.
TEST_F(FakeHost, ANegativeReadOrWriteResultIsMinusOne) {
    std::string data(5000, 'w'), buffer(5000, '#');
    Play({Reply(9, -7), Reply(9, 4096, data.substr(0, 4096)), Reply(9, INT32_MIN), Reply(7, -2),
          Reply(7, 4096), Reply(7, -100)});
    EXPECT_EQ(-1, RemoteRead(1, &buffer[0], 10));
    EXPECT_EQ(-1, RemoteRead(1, &buffer[0], 5000));
    EXPECT_EQ(-1, RemoteWrite(1, data.data(), 10));
    EXPECT_EQ(-1, RemoteWrite(1, data.data(), 5000));
}

// A read of several pieces puts a window of requests on the wire at once (4
// here). The host reads on from where a short piece stopped, so the bytes stay
// contiguous; whatever ends the read early, the replies still due are dropped
// uncopied, and the seek after the read gets its own reply.
TEST_F(FakeHost, AWindowedReadKeepsItsBytesContiguousAndTheNextExchangeInStep) {
    std::string file(20000, 0);
    for (size_t i = 0; i < file.size(); ++i) file[i] = char(i * 13 + i / 97);
    auto piece = [&](int32_t from, int32_t n) { return Reply(9, n, file.substr(from, n)); };
    const Bytes stray = Reply(9, 4096, std::string(4096, '!'));
    const struct {
        std::vector<Bytes> m_Replies;  // the seek's follows unless the host has gone
        std::vector<int32_t> m_Asked;  // the read requests' counts, in order
        int32_t m_Result, m_Copied;
        bool m_HostGone;
    } cases[] = {
        {{piece(0, 4096), piece(4096, 4096), piece(8192, 4096), piece(12288, 4096),
          piece(16384, 3616)},
         {4096, 4096, 4096, 4096, 3616}, 20000, 20000, false},
        {{piece(0, 4096), piece(4096, 1000), piece(5096, 4096), piece(9192, 4096),
          piece(13288, 4096), piece(17384, 2616)},
         {4096, 4096, 4096, 4096, 4096, 2616}, 20000, 20000, false},
        {{piece(0, 4096), piece(4096, 100), Reply(9, 0), stray}, {4096, 4096, 4096, 4096}, 4196,
         4196, false},
        {{piece(0, 4096), Reply(9, -5), stray, stray}, {4096, 4096, 4096, 4096}, -1, 4096, false},
        {{piece(0, 4096), piece(4096, 4096)}, {4096, 4096}, -1, 8192, true},
    };
    s_RemoteReadWindow = 4;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::vector<Bytes> replies = cases[i].m_Replies;
        if (!cases[i].m_HostGone) replies.push_back(Reply(11, 55));
        Play(replies);
        std::string buffer(20004, '#');
        EXPECT_EQ(cases[i].m_Result, RemoteRead(1, &buffer[0], 20000)) << "case " << i;
        const int32_t copied = cases[i].m_Copied;
        EXPECT_TRUE(buffer.substr(0, copied) == file.substr(0, copied)) << "case " << i;
        EXPECT_EQ(std::string(buffer.size() - copied, '#'), buffer.substr(copied)) << "case " << i;
        EXPECT_EQ(cases[i].m_HostGone ? -1 : 55, RemoteSeek(1, 0, 0)) << "case " << i;
        std::vector<Bytes> sent;
        for (int32_t asked : cases[i].m_Asked) sent.push_back(Words({0, 8, 0, 24, 1, asked}));
        if (!cases[i].m_HostGone) sent.push_back(Words({0, 4, 0, 28, 1, 0, 0}));
        EXPECT_EQ(sent, Requests()) << "case " << i;
    }
    s_RemoteReadWindow = 16;
}

// Each thread's windows go out and come back whole, never mixed with the
// other's: every reply carries its handle's letter.
TEST_F(FakeHost, TwoThreadsReadingAtOnceEachGetOnlyTheirOwnReplies) {
    const int kReads = 50;  // 3 windows of 4 pieces each
    m_Answer = [](const Bytes& request) {
        const int32_t count = request[20] | request[21] << 8;
        return Reply(9, count, std::string(count, char('a' + request[16])));
    };
    Play(std::vector<Bytes>(2 * kReads * 12));
    s_RemoteReadWindow = 4;
    int matched[2] = {0, 0};
    auto readMany = [&matched](int32_t handle) {
        std::string buffer(48000, 0);
        for (int i = 0; i < kReads; ++i)
            matched[handle] += RemoteRead(handle, &buffer[0], 48000) == 48000 &&
                               buffer == std::string(48000, char('a' + handle));
    };
    std::thread other(readMany, 0);
    readMany(1);
    other.join();
    s_RemoteReadWindow = 16;
    EXPECT_EQ(kReads, matched[0]);
    EXPECT_EQ(kReads, matched[1]);
}

// The semaphore is made by the first exchange, so this tells only as the
// process's first exchange, which it is under ctest.
TEST_F(FakeHost, TwoThreadsMakingTheFirstExchangesAtOnceEachGetTheirOwnReplies) {
    if (s_RemoteSema) GTEST_SKIP() << "an earlier test made the first exchange";
    const int kEach = 200;
    m_Answer = [](const Bytes& request) { return Reply(11, request[16] | request[17] << 8); };
    Play(std::vector<Bytes>(2 * kEach));
    std::atomic<int> ready{0};
    int matched[2] = {0, 0};
    auto closeMany = [&](int32_t base, int* count) {
        for (++ready; ready < 2;) {
        }
        for (int32_t i = 0; i < kEach; ++i) *count += RemoteClose(base + i) == base + i;
    };
    std::thread other(closeMany, 1000, &matched[0]);
    closeMany(3000, &matched[1]);
    other.join();
    EXPECT_EQ(kEach, matched[0]);
    EXPECT_EQ(kEach, matched[1]);
}

}  // namespace
