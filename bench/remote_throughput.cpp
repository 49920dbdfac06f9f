// Throughput of the remote device over loopback next to the local disk: the
// same 64 MB file written and read back through streams, each way three
// times, best run kept; and, as the floor of any protocol that waits for a
// reply to each read, a bare socket answering each request with 64 KB.
// Usage: remote_throughput [directory [window]], the window being how many
// read requests the remote device sends at once.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "file/stream.h"
#include "remote/filehost/host.h"
#include "remote/remote.h"

namespace {

const int32_t kFileSize = 64 << 20;
const int32_t kPiece = 64 << 10;  // what a program moving a large file might use
const int kRounds = 3;

struct Speeds {
    double m_Write = 0, m_Read = 0;  // MB/s, best of the rounds
};

double MegabytesPerSecond(int64_t start) {
    double seconds = double(plat::PerfCounter() - start) / double(plat::PerfFrequency());
    return kFileSize / 1e6 / seconds;
}

bool WriteFile(const char* name, const std::vector<char>& data) {
    Stream* stream = Stream::Create(name);
    if (!stream) return false;
    bool ok = true;
    for (int32_t at = 0; at < kFileSize && ok; at += kPiece)
        ok = stream->Write(&data[at], kPiece) == kPiece;
    stream->Close();
    return ok;
}

bool ReadFile(const char* name, std::vector<char>* data) {
    Stream* stream = Stream::Open(name, true);
    if (!stream) return false;
    bool ok = true;
    for (int32_t at = 0; at < kFileSize && ok; at += kPiece)
        ok = stream->Read(&(*data)[at], kPiece) == kPiece;
    stream->Close();
    return ok;
}

// false when a round failed or read back something else than was written.
// The check of what came back is not timed.
bool Measure(const std::string& name, const std::vector<char>& data, Speeds* best) {
    std::vector<char> back(data.size());
    for (int round = 0; round < kRounds; ++round) {
        int64_t start = plat::PerfCounter();
        if (!WriteFile(name.c_str(), data)) return false;
        best->m_Write = std::max(best->m_Write, MegabytesPerSecond(start));
        start = plat::PerfCounter();
        if (!ReadFile(name.c_str(), &back)) return false;
        best->m_Read = std::max(best->m_Read, MegabytesPerSecond(start));
        if (back != data) return false;
    }
    return true;
}

// A thread that answers every 24-byte request with kPiece bytes.
void ServePieces(plat::SocketHandle listener) {
    plat::SocketHandle socket = plat::SocketAccept(listener);
    std::vector<char> piece(kPiece, 'x');
    char request[24];
    while (socket >= 0 && RecvAllOn(socket, request, sizeof request) && SendAllOn(socket, piece.data(), kPiece)) {
    }
    if (socket >= 0) plat::SocketClose(socket);
}

// MB/s of the file's worth of 64 KB pieces, one request and reply each.
double BareSocketRead() {
    plat::SocketHandle listener = plat::SocketListen("127.0.0.1", 0);
    if (listener < 0) return 0;
    std::thread server(ServePieces, listener);
    plat::SocketHandle client = plat::SocketConnect("127.0.0.1", plat::SocketPort(listener));
    std::vector<char> back(kFileSize);
    const char request[24] = {};
    double best = 0;
    for (int round = 0; round < kRounds && client >= 0; ++round) {
        int64_t start = plat::PerfCounter();
        bool ok = true;
        for (int32_t at = 0; at < kFileSize && ok; at += kPiece)
            ok = SendAllOn(client, request, sizeof request) && RecvAllOn(client, &back[at], kPiece);
        if (ok) best = std::max(best, MegabytesPerSecond(start));
    }
    if (client >= 0) plat::SocketClose(client);
    server.join();
    plat::SocketClose(listener);
    return best;
}

bool MeasureRemote(const std::string& root, const std::vector<char>& data, Speeds* best) {
    int32_t port = 0;
    int64_t host = StartFileHost(FILEHOST_BIN, root.c_str(), &port);
    if (host < 0 || !RemoteConnect("127.0.0.1", port)) return false;
    SwitchDevice(1);
    bool ok = Measure("remote.bin", data, best);
    RemoteDisconnect();
    plat::ProcessStop(host);
    return ok;
}

void Report(const Speeds& local, const Speeds& remote, double bare) {
    printf("\nread window %d\n", s_RemoteReadWindow);
    printf("%-14s %12s %12s\n", "", "write MB/s", "read MB/s");
    printf("%-14s %12.1f %12.1f\n", "local disk", local.m_Write, local.m_Read);
    printf("%-14s %12.1f %12.1f\n", "remote host", remote.m_Write, remote.m_Read);
    printf("%-14s %12.3f %12.3f\n", "remote/local", remote.m_Write / local.m_Write,
           remote.m_Read / local.m_Read);
    printf("%-14s %12s %12.1f\n", "bare socket", "", bare);
    printf("%-14s %12s %12.3f\n", "bare/local", "", bare / local.m_Read);
    printf("%-14s %12s %12.3f\n", "remote/bare", "", bare > 0 ? remote.m_Read / bare : 0);
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path root =
        (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) / "remote-throughput";
    fs::create_directories(root);
    if (argc > 2) s_RemoteReadWindow = atoi(argv[2]);
    std::vector<char> data(kFileSize);
    uint32_t seed = 1;
    for (char& c : data) c = char((seed = seed * 1103515245 + 12345) >> 16);
    Speeds local, remote;
    bool ok = Measure((root / "local.bin").string(), data, &local) &&
              MeasureRemote(root.string(), data, &remote);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    if (!ok) {
        fprintf(stderr, "remote_throughput: a run failed or read back other bytes\n");
        return 1;
    }
    Report(local, remote, BareSocketRead());
    return 0;
}
