// Arbitrary replies from a fake file host to every remote operation. The
// input holds a script of client calls (its length in the first two bytes)
// and then the host's replies, one taken per request: code (0 for the right
// one), result, declared length and that many bytes less 16 of payload. When
// the replies run out the host closes, so the client meets end of stream.
// Results must keep their contracts and no buffer may be passed; and while
// the connection is up, a last exchange must get exactly its own reply,
// which it cannot when an earlier reply was read too short or too long.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "core/assert.h"
#include "data/param.h"
#include "remote/remote.h"
#include "support/capture_system.h"

namespace {

const int32_t kLastHandle = 0x7E57;  // no script handle reaches it: one byte each
const int32_t kLastResult = 0x5EED;
CaptureSystem* s_Capture;

void Check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "remote_client_fuzz: %s\n", what);
    abort();
}

// Bytes in order; past the end, zeros.
struct Input {
    const uint8_t* m_At;
    size_t m_Left;
    std::string Take(size_t n) {
        n = n < m_Left ? n : m_Left;
        std::string bytes(reinterpret_cast<const char*>(m_At), n);
        m_At += n;
        m_Left -= n;
        return bytes;
    }
    uint32_t Word(int bytes) {
        uint32_t word = 0;
        for (int i = 0; i < bytes && m_Left > 0; ++i, --m_Left) word |= uint32_t(*m_At++) << 8 * i;
        return word;
    }
};

int32_t At(const std::string& packet, size_t offset) {
    int32_t word;
    memcpy(&word, packet.data() + offset, sizeof word);
    return word;
}

// A name ends exactly where its packet or field does, zeros after it.
bool Terminated(const std::string& field) {
    size_t end = field.find('\0');
    return end != std::string::npos && field.find_first_not_of('\0', end) == std::string::npos;
}

// Each request's reply code and the lengths its packet can have.
struct Shape {
    int32_t m_Request, m_Reply, m_Min, m_Max;
};
const Shape kShapes[] = {
    {kRequestOpen, kReplyOpen, 25, 280},     {kRequestSeek, kReplySeek, 28, 28},
    {kRequestWrite, kReplyWrite, 25, 4120},  {kRequestRead, kReplyRead, 24, 24},
    {kRequestClose, kReplyClose, 20, 20},    {kRequestIsNewer, kReplyIsNewer, 528, 528},
    {kRequestDelete, kReplyDelete, 17, 272},
};

// The reply code for a request as the operations must build it; anything
// else is the client's fault, not the host's.
int32_t ReplyCode(const std::string& r) {
    Check(At(r, 0) == 0 && At(r, 8) == 0, "request header fields not zero");
    int32_t code = At(r, 4), length = At(r, 12), count = length >= 24 ? At(r, 20) : 0;
    const Shape* shape = nullptr;
    for (const Shape& s : kShapes)
        if (s.m_Request == code) shape = &s;
    Check(shape && length >= shape->m_Min && length <= shape->m_Max, "request code or length");
    bool chunk = count >= 1 && count <= kRemoteChunk;
    if (code == kRequestRead || code == kRequestWrite)
        Check(chunk && length == (code == kRequestWrite ? 24 + count : 24), "chunk count");
    if (code == kRequestOpen)  // count is the create flag here
        Check(Terminated(r.substr(24)) && (count == 0 || (count == 1 && At(r, 16) == 0)), "open");
    if (code == kRequestDelete) Check(Terminated(r.substr(16)), "delete name");
    if (code == kRequestIsNewer)
        Check(Terminated(r.substr(16, 256)) && Terminated(r.substr(272)), "is-newer names");
    return shape->m_Reply;
}

bool ReceiveRequest(int socket, std::string* request) {
    request->assign(16, '\0');
    if (!RecvAllOn(socket, &(*request)[0], 16)) return false;
    int32_t length = At(*request, 12);
    Check(length >= 16 && length <= int32_t(sizeof(RemoteDataPacket)), "request length");
    request->resize(length);
    Check(RecvAllOn(socket, &(*request)[16], length - 16), "request cut short");
    return true;
}

struct Host {
    int m_Socket;
    Input m_Replies;
    std::atomic<bool> m_Closed{false};
};

// The next reply, or as much of it as the input holds and then end of stream.
// m_Closed is raised before anything of a cut reply goes, so the client can
// never be done with its calls and still see the connection as up.
bool SendReply(Host* host, int32_t rightCode) {
    std::string reply(4, '\0');
    if (host->m_Replies.m_Left >= 12) {
        int32_t code = host->m_Replies.Word(4), result = host->m_Replies.Word(4);
        int32_t length = host->m_Replies.Word(4), rest = length > 16 ? length - 16 : 0;
        int32_t words[3] = {code ? code : rightCode, result, length};
        reply.append(reinterpret_cast<const char*>(words), sizeof words);
        if (size_t(rest) <= host->m_Replies.m_Left)
            return SendAllOn(host->m_Socket, (reply + host->m_Replies.Take(rest)).data(),
                             int32_t(reply.size()) + rest);
    }
    host->m_Closed = true;
    reply += host->m_Replies.Take(host->m_Replies.m_Left);
    SendAllOn(host->m_Socket, reply.data(), int32_t(reply.size()));
    shutdown(host->m_Socket, SHUT_RDWR);
    return false;
}

void Serve(Host* host) {
    std::string request;
    while (ReceiveRequest(host->m_Socket, &request)) {
        int32_t code = ReplyCode(request);
        if (At(request, 4) == kRequestClose && At(request, 16) == kLastHandle) {
            const RemotePacket last = {0, kReplyClose, kLastResult, 16};
            SendAllOn(host->m_Socket, &last, sizeof last);
        } else if (!SendReply(host, code)) {
            return;
        }
    }
}

// Past 255 characters a name is refused unsent; now and then the script goes beyond.
std::string Name(Input& in) {
    uint32_t length = in.Word(1);
    std::string name = in.Take(length);
    if (length == 255) name.append(100, 'n');
    return name;
}

// Buffers hold exactly count bytes, so that AddressSanitizer sees any
// byte moved past them; and a read leaves alone what lies past its result.
void Transfer(Input& in, bool write) {
    int32_t handle = in.Word(1), count = in.Word(2) % (3 * kRemoteChunk + 2);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[count]);
    memset(buffer.get(), 0xA5, count);
    int32_t done =
        write ? RemoteWrite(handle, buffer.get(), count) : RemoteRead(handle, buffer.get(), count);
    Check(done >= -1 && done <= count, "read or write result out of range");
    for (int32_t i = write || done < 0 ? count : done; i < count; ++i)
        Check(buffer[i] == 0xA5, "a read touched bytes past its result");
}

// Results the host hands straight through are any value; only the last
// exchange tells whether they were taken from the right bytes.
void Call(Input& in) {
    switch (in.Word(1) % 8) {
        case 0: {
            uint8_t readOnly = uint8_t(in.Word(1));
            RemoteOpen(Name(in).c_str(), readOnly);
            break;
        }
        case 1:
            RemoteCreate(Name(in).c_str());
            break;
        case 2: {
            int32_t handle = in.Word(1), offset = in.Word(4);
            RemoteSeek(handle, offset, in.Word(1));
            break;
        }
        case 3:
            Transfer(in, false);
            break;
        case 4:
            Transfer(in, true);
            break;
        case 5:
            RemoteClose(in.Word(1));
            break;
        case 6: {
            std::string first = Name(in);
            RemoteIsNewer(first.c_str(), Name(in).c_str());
            break;
        }
        case 7:
            RemoteDelete(Name(in).c_str());
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;  // kept for the whole run
    assertquery.m_Value = 1;        // a faulty reply's assertion asks, and is ignored
    s_RemoteEnabled = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input replies = {data, size};
    size_t scriptSize = replies.Word(2);
    Input script = {replies.m_At, scriptSize < replies.m_Left ? scriptSize : replies.m_Left};
    replies.Take(script.m_Left);
    int pair[2];
    Check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "socketpair");
    s_RemoteSocket = pair[0];
    s_IgnoreAsserts = false;
    s_Capture->m_BoxAnswers = {plat::kIdIgnore};
    Host host = {pair[1], replies};
    std::thread peer(Serve, &host);
    while (script.m_Left > 0) Call(script);
    if (!host.m_Closed)
        Check(RemoteClose(kLastHandle) == kLastResult, "the next exchange is out of step");
    shutdown(pair[0], SHUT_RDWR);
    peer.join();
    close(pair[0]);
    close(pair[1]);
    Check(s_Capture->m_EndStatuses.empty(), "a fatal stop");
    s_Capture->m_Console.clear();
    s_Capture->m_Boxes.clear();
    s_Capture->m_DebuggerLines.clear();
    return 0;
}
