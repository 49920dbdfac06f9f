// Arbitrary request streams into the file host's connection loop. The root it
// serves lies two levels down in a sandbox that also holds files and a
// directory outside it, so a name that climbs out has something to reach.
// After every input nothing outside the root may have changed, every file the
// connection opened must be closed, and each whole request up to the first
// impossible length must have had exactly one reply, framed as its kind is.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "remote/filehost/host.h"
#include "support/capture_system.h"

namespace fs = std::filesystem;

namespace {

std::string s_Sandbox, s_Root;
std::map<std::string, std::string> s_Outside;  // as made, for every input to keep
int s_Descriptors;
CaptureSystem* s_Capture;

void Check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "filehost_fuzz: %s\n", what);
    abort();
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry of the sandbox outside the root: permissions, and contents
// for files. The root is left out; it is made afresh for each input anyway.
std::map<std::string, std::string> Outside() {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(s_Sandbox, error), end; it != end;
         it.increment(error)) {
        if (it->path() == s_Root) {
            it.disable_recursion_pending();
            continue;
        }
        std::string& entry = entries[it->path().string()];
        entry = std::to_string(int(it->symlink_status(error).permissions())) + ":";
        if (it->is_directory(error)) continue;
        std::ifstream in(it->path(), std::ios::binary);
        entry.append(std::istreambuf_iterator<char>(in), {});
    }
    return entries;
}

// Something to open, read, write and delete in the root and in a directory
// under it.
void ResetRoot() {
    std::error_code error;
    fs::remove_all(s_Root, error);
    fs::create_directories(s_Root + "/sub", error);
    Put(s_Root + "/a.txt", "alpha\n");
    Put(s_Root + "/sub/b.txt", std::string(5000, 'b'));
}

// More than at the start when the connection left a file open.
int OpenDescriptors() {
    std::error_code error;
    int count = 0;
    for (fs::directory_iterator it("/proc/self/fd", error), end; it != end; it.increment(error))
        ++count;
    return count;
}

// What the host is to answer: the request's code, and for a well-formed
// read of at least a byte the count asked, which no result may pass (-1, a
// failure, for every other).
struct Asked {
    int32_t m_Code;
    int32_t m_Count;
};

int32_t ReplyCode(int32_t request) {
    const int32_t kPairs[][2] = {{kRequestOpen, kReplyOpen},    {kRequestSeek, kReplySeek},
                                 {kRequestWrite, kReplyWrite},  {kRequestRead, kReplyRead},
                                 {kRequestClose, kReplyClose},  {kRequestIsNewer, kReplyIsNewer},
                                 {kRequestDelete, kReplyDelete}};
    for (const auto& pair : kPairs)
        if (pair[0] == request) return pair[1];
    return int32_t(uint32_t(request) + 1);  // unknown codes too are answered with their code + 1
}

// The whole requests before the first length no request can have, which
// ends the connection, or before the input runs out.
std::vector<Asked> Requests(const uint8_t* data, size_t size) {
    std::vector<Asked> asked;
    for (size_t at = 0; size - at >= 16;) {
        int32_t words[6] = {};
        memcpy(words, data + at, size - at < 24 ? size - at : 24);
        int32_t length = words[3];
        if (length < 16 || length > int32_t(sizeof(HostRequest)) || size_t(length) > size - at)
            break;
        bool read = words[1] == kRequestRead && length == 24 && words[5] > 0;
        asked.push_back({ReplyCode(words[1]), read ? words[5] : -1});
        at += length;
    }
    return asked;
}

void ReadReplies(int socket, const std::vector<Asked>& asked) {
    size_t answered = 0;
    RemoteReadReply reply;
    while (RecvAllOn(socket, &reply.header, kRemoteHeaderSize)) {
        Check(answered < asked.size(), "a reply to no request");
        const Asked& a = asked[answered++];
        int32_t result = reply.header.result;
        Check(reply.header.command == a.m_Code, "reply code");
        bool read = a.m_Code == kReplyRead;
        Check(!read || (result <= a.m_Count && result <= kRemoteChunk), "a read past its count");
        Check(reply.header.length == 16 + (read && result > 0 ? result : 0), "reply length");
        Check(RecvAllOn(socket, reply.data, reply.header.length - 16), "reply cut short");
    }
    Check(answered == asked.size(), "a request went unanswered");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;  // the host's warnings stay off the console
    // TMPDIR=/dev/shm spares the disk the root's remaking for every input.
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    s_Sandbox = (temp / "filehost_fuzz.").string() + std::to_string(getpid());
    s_Root = s_Sandbox + "/outer/root";
    fs::create_directories(s_Sandbox + "/outdir", error);
    Put(s_Sandbox + "/out.txt", "outside\n");
    Put(s_Sandbox + "/outdir/deep.txt", "deeper outside\n");
    Put(s_Sandbox + "/outer/near.txt", "next to the root\n");
    Put(s_Sandbox + "/outer/root.bak", "a name the root's is a prefix of\n");
    ResetRoot();
    s_Outside = Outside();
    s_Descriptors = OpenDescriptors();
    atexit([] {
        std::error_code ignored;
        fs::remove_all(s_Sandbox, ignored);
    });
    return 0;
}

// The host serves on this thread; one other writes the input and one reads
// the replies, so neither side can block the other on a full socket.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetRoot();
    int pair[2];
    Check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "socketpair");
    std::thread writer([&] {
        SendAllOn(pair[0], data, int32_t(size));
        shutdown(pair[0], SHUT_WR);
    });
    std::vector<Asked> asked = Requests(data, size);
    std::thread reader(ReadReplies, pair[0], std::cref(asked));
    ServeConnection(s_Root.c_str(), pair[1], 0);
    close(pair[1]);  // a writer still sending to a host that has stopped fails now
    writer.join();
    reader.join();
    close(pair[0]);
    Check(Outside() == s_Outside, "something outside the root changed");
    Check(OpenDescriptors() == s_Descriptors, "a file was left open");
    s_Capture->m_Console.clear();
    return 0;
}
