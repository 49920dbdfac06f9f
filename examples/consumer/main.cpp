// A game's loader in miniature, built against the installed library: it
// mounts one archive, loads the files its command line names through
// streams, each under the segment named before it, and prints the load dump
// that segsorter turns into a load order.
//
//   consumer ARCHIVE [SEGMENT: | FILE]...
//
// An argument ending in ':' starts a segment; any other is a member to load.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/output.h"
#include "file/filemapper.h"
#include "file/loaddump.h"
#include "file/stream.h"
#include "zip/zipfile.h"

namespace {

// Loads one file whole; its bytes, or -1 when it cannot be opened or read.
long Load(const char* name) {
    Stream* file = Stream::Open(name, true);
    if (!file) return -1;
    static char buffer[65536];
    long total = 0;
    int32_t n = 0;
    while ((n = file->Read(buffer, sizeof buffer)) > 0) total += n;
    file->Close();
    return n < 0 ? -1 : total;
}

// Every name goes into the mounted archive; a game would map its loose
// folders here too.
FileMapper* InstallArchiveMapper() {
    FileMapEntry row;
    if (!ParseFileMapRow("*=local,zip", &row)) return nullptr;
    FileMapper* mapper = NewFileMapper(&row, 1);
    if (mapper && !InstallFileMapper(mapper)) {
        DeleteFileMapper(mapper);
        return nullptr;
    }
    return mapper;
}

int LoadAll(int argc, char** argv) {
    int loaded = 0, failed = 0;
    long bytes = 0;
    for (int i = 2; i < argc; ++i) {
        size_t length = strlen(argv[i]);
        if (length > 0 && argv[i][length - 1] == ':') {
            if (!StartLoadSegment(std::string(argv[i], length - 1).c_str())) return 2;
            continue;
        }
        long n = Load(argv[i]);
        if (n < 0) {
            fprintf(stderr, "consumer: cannot load '%s'\n", argv[i]);
            ++failed;
        } else {
            ++loaded;
            bytes += n;
        }
    }
    fprintf(stderr, "consumer: %d files, %ld bytes, %d failed\n", loaded, bytes, failed);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("Usage: consumer ARCHIVE [SEGMENT: | FILE]...\n", stderr);
        return 2;
    }
    FileMapper* mapper = InstallArchiveMapper();
    if (!mapper || !zipFile::Mount(argv[1], 0)) return 2;
    s_ZipLoadLog = true;
    int status = LoadAll(argc, argv);
    s_ZipLoadLog = false;
    zipFile::UnmountAll();
    RemoveFileMapper();
    DeleteFileMapper(mapper);
    return status;
}
