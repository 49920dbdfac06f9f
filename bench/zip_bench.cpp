// The zip layer's speed next to zlib's own inflate, a plain file and the
// command-line archivers (timed by bench/run.sh and handed in), and its
// directory's mount time, lookup rate and size in each name mode.
//   zip_bench text FILE BYTES SEED     writes generated text
//   zip_bench run DIR ARCHIVE UNZIP BSDTAR CAT
//       measures the members of DIR/big.zip (next to DIR/stored.txt) and the
//       directory of ARCHIVE; the last three are seconds for the deflated
//       member (unzip -p, bsdtar -xOf) and the stored one (cat)
//   zip_bench mountbytes ARCHIVE
//       the bytes, reads and seeks a mount of ARCHIVE asks of the local disk,
//       next to the archive's size and its central directory's, and the
//       mount's time
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "file/device.h"
#include "file/stream.h"
#include "zip/zipfile.h"

namespace {

const int32_t kPiece = 256 * 1024;
const int kRuns = 3;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Rate(double bytes, double secs) { return secs > 0 ? bytes / secs / 1e6 : 0; }

// ------------------------------------------------------------- data

// Words of a vocabulary drawn with a skewed distribution, in lines of varied
// length: about as compressible as a game's text data, never a repeating run.
bool WriteText(const char* name, uint64_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> words(5000);
    for (std::string& w : words)
        for (int n = 2 + static_cast<int>(rng() % 9); n > 0; --n) w += static_cast<char>('a' + rng() % 26);
    FILE* file = fopen(name, "wb");
    if (!file) return false;
    std::string block;
    for (uint64_t written = 0; written < bytes; written += block.size()) {
        block.clear();
        while (block.size() < (1u << 20)) {
            uint32_t r = static_cast<uint32_t>(rng());
            block += words[(r % 5000) * (r >> 20 & 0xFFF) / 0xFFF];
            block += (r & 0xF) == 0 ? '\n' : ' ';
        }
        if (block.size() > bytes - written) block.resize(bytes - written);
        fwrite(block.data(), 1, block.size(), file);
    }
    return fclose(file) == 0;
}

// ----------------------------------------------------- member reads

// Best seconds of reading a whole stream in large pieces; -1 when it cannot
// be opened or comes up short.
double TimeStream(const char* name, int64_t expected) {
    static uint8_t buffer[kPiece];
    double best = -1;
    for (int run = 0; run < kRuns; ++run) {
        double start = Now();
        Stream* stream = Stream::Open(name, true);
        if (!stream) return -1;
        int64_t total = 0;
        for (int32_t n; (n = stream->Read(buffer, kPiece)) > 0;) total += n;
        stream->Close();
        double secs = Now() - start;
        if (total != expected) return -1;
        if (best < 0 || secs < best) best = secs;
    }
    return best;
}

// The packed bytes, read past the zip layer once it has placed them.
std::vector<uint8_t> ReadPacked(const std::string& archive, zipFile* zip, zipEntry* entry) {
    std::vector<uint8_t> packed(static_cast<size_t>(entry->m_CompSize));
    FILE* file = zip->Locate(entry) ? fopen(archive.c_str(), "rb") : nullptr;
    if (!file || fseek(file, entry->m_Offset, SEEK_SET) != 0 ||
        fread(packed.data(), 1, packed.size(), file) != packed.size())
        packed.clear();
    if (file) fclose(file);
    return packed;
}

// zlib's raw inflate of the whole member in one call, the packed bytes
// already in memory; -1 unless it gives the member's bytes and CRC.
double TimeZlib(const std::string& archive, zipFile* zip, const zipEntry* entry) {
    std::vector<uint8_t> packed = ReadPacked(archive, zip, const_cast<zipEntry*>(entry));
    std::vector<uint8_t> out(static_cast<size_t>(entry->m_Size));
    if (packed.empty()) return -1;
    double best = -1;
    for (int run = 0; run < kRuns; ++run) {
        z_stream z = {};
        double start = Now();
        inflateInit2(&z, -15);
        z.next_in = packed.data();
        z.avail_in = static_cast<uInt>(packed.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        int result = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        double secs = Now() - start;
        if (result != Z_STREAM_END || z.total_out != out.size()) return -1;
        if (best < 0 || secs < best) best = secs;
    }
    return crc32(0, out.data(), static_cast<uInt>(out.size())) == zip->CrcOf(entry) ? best : -1;
}

// The same bytes read straight from the archive file in pieces of the same
// size: what the zip layer adds to a stored member's read, and what the file
// system gives the archive's pages, told apart.
double TimeRaw(const std::string& archive, zipFile* zip, zipEntry* entry) {
    static std::vector<char> piece(kPiece);
    FILE* file = zip->Locate(entry) ? fopen(archive.c_str(), "rb") : nullptr;
    double best = -1;
    for (int run = 0; file && run < kRuns; ++run) {
        double start = Now();
        int64_t total = 0;
        if (fseek(file, entry->m_Offset, SEEK_SET) != 0) break;
        for (size_t n; total < entry->m_Size && (n = fread(piece.data(), 1, std::min<int64_t>(kPiece, entry->m_Size - total), file)) > 0;)
            total += static_cast<int64_t>(n);
        double secs = Now() - start;
        if (total == entry->m_Size && (best < 0 || secs < best)) best = secs;
    }
    if (file) fclose(file);
    return best;
}

const char* Goal(bool met) { return met ? "met" : "MISSED"; }

void Row(const char* what, double bytes, double secs) {
    printf("  %-22s %8.3f s %8.0f MB/s\n", what, secs, Rate(bytes, secs));
}

void Compare(const char* what, double ours, double theirs, const char* goal, bool met) {
    printf("  stream / %-13s %6.3f   goal %s: %s\n", what, theirs / ours, goal, Goal(met));
}

// The deflated member, then the stored one; false when something is missing.
bool MeasureMembers(const std::string& dir, double unzipSecs, double bsdtarSecs, double catSecs) {
    std::string archive = dir + "/big.zip", plain = dir + "/stored.txt";
    zipFile* zip = zipFile::Mount(archive.c_str(), 0);
    const zipEntry* deflated = zip ? zip->Find("deflated.txt") : nullptr;
    const zipEntry* stored = zip ? zip->Find("stored.txt") : nullptr;
    if (!deflated || !stored || !zipFile::zipSelect(true)) return false;
    double d = deflated->m_Size, s = stored->m_Size;
    printf("deflated member: %.1f MB packed to %.1f MB (MB/s of unpacked data)\n", d / 1e6,
           deflated->m_CompSize / 1e6);
    double stream = TimeStream("deflated.txt", deflated->m_Size);
    double zlib = TimeZlib(archive, zip, deflated);
    if (stream < 0 || zlib < 0) return false;
    Row("stream", d, stream);
    Row("zlib, one call", d, zlib);
    Row("unzip -p", d, unzipSecs);
    Row("bsdtar -xOf", d, bsdtarSecs);
    Compare("zlib", stream, zlib, ">= 0.90", zlib / stream >= 0.9);
    Compare("unzip -p", stream, unzipSecs, "> 1", unzipSecs > stream);
    Compare("bsdtar", stream, bsdtarSecs, ">= 0.90", bsdtarSecs / stream >= 0.9);
    printf("stored member: %.1f MB\n", s / 1e6);
    stream = TimeStream("stored.txt", stored->m_Size);
    zipFile::zipSelect(false);
    double file = TimeStream(plain.c_str(), stored->m_Size);
    double raw = TimeRaw(archive, zip, const_cast<zipEntry*>(stored));
    if (stream < 0 || file < 0 || raw < 0) return false;
    Row("stream", s, stream);
    Row("plain file, stream", s, file);
    Row("archive bytes, fread", s, raw);
    Row("cat", s, catSecs);
    Compare("plain file", stream, file, ">= 0.90", file / stream >= 0.9);
    printf("  stream / archive bytes %6.3f   (the zip layer's own share)\n", raw / stream);
    Compare("cat", stream, catSecs, ">= 0.50", catSecs / stream >= 0.5);
    return true;
}

// ------------------------------------------------------- directory

void CollectName(const char* name, bool, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(name);
}

struct ModeFigures {
    double m_MountMs;
    double m_Lookups;  // per second
    double m_Bytes;    // of the directory, per member
    double m_NameBytes;
};

// Best of five mounts, then every name looked up in a shuffled order until a
// quarter second has passed.
bool MeasureMode(const std::string& archive, ZipNameMode mode, const std::vector<std::string>& names,
                 ModeFigures* figures) {
    figures->m_MountMs = -1;
    zipFile* zip = nullptr;
    for (int run = 0; run < 5; ++run) {
        zipFile::UnmountAll();
        s_ZipNameMode = mode;
        double start = Now();
        zip = zipFile::Mount(archive.c_str(), 0);
        double ms = (Now() - start) * 1e3;
        if (!zip) return false;
        if (figures->m_MountMs < 0 || ms < figures->m_MountMs) figures->m_MountMs = ms;
    }
    double count = zip->m_EntryCount, found = 0, tried = 0, start = Now(), secs = 0;
    for (; secs < 0.25; secs = Now() - start)
        for (const std::string& name : names) {
            found += zip->Find(name.c_str()) != nullptr;
            tried += 1;
        }
    if (found != tried) return false;
    figures->m_Lookups = tried / secs;
    figures->m_Bytes = zip->m_DirectoryBytes / count;
    // Each entry has its CRC and its local header's offset beside it.
    figures->m_NameBytes = (zip->m_DirectoryBytes - sizeof(zipFile)) / count - sizeof(zipEntry) - 2 * sizeof(uint32_t);
    return true;
}

bool MeasureDirectory(const std::string& archive) {
    zipFile::UnmountAll();
    s_ZipNameMode = kZipNamesPlain;
    zipFile* zip = zipFile::Mount(archive.c_str(), 0);
    if (!zip) return false;
    std::vector<std::string> names;
    zip->EnumFiles("", CollectName, &names);
    std::shuffle(names.begin(), names.end(), std::mt19937(5));
    printf("directory of %zu members: mount (best of 5), lookups, bytes per member (names alone)\n",
           names.size());
    const char* const kModeNames[] = {"plain", "packed", "front"};
    ModeFigures figures[3];
    for (int mode = 0; mode < 3; ++mode) {
        if (!MeasureMode(archive, static_cast<ZipNameMode>(mode), names, &figures[mode])) return false;
        printf("  %-7s %8.1f ms %11.0f lookups/s %7.1f bytes (%.1f)\n", kModeNames[mode],
               figures[mode].m_MountMs, figures[mode].m_Lookups, figures[mode].m_Bytes,
               figures[mode].m_NameBytes);
    }
    printf("  mount, plain: goal < 100 ms: %s\n", Goal(figures[0].m_MountMs < 100));
    for (int mode = 1; mode < 3; ++mode) {
        double ratio = figures[mode].m_Bytes / figures[0].m_Bytes;
        printf("  %s / plain bytes %.2f (names alone %.2f)   goal <= 0.90: %s\n", kModeNames[mode], ratio,
               figures[mode].m_NameBytes / figures[0].m_NameBytes, Goal(ratio <= 0.9));
    }
    return true;
}

// ---------------------------------------------------- mount's reads

// The local disk with every read and seek counted: what a mount costs a
// device where bytes are dear (a disc, a file host).
struct DeviceCounts {
    int64_t m_Bytes = 0;
    int64_t m_Reads = 0;
    int64_t m_Seeks = 0;
};
DeviceCounts s_Counts;

int32_t CountedRead(int32_t handle, void* buffer, int32_t count) {
    int32_t n = LocalDevice.m_Device.Read(handle, buffer, count);
    ++s_Counts.m_Reads;
    if (n > 0) s_Counts.m_Bytes += n;
    return n;
}

int32_t CountedSeek(int32_t handle, int32_t offset, int32_t origin) {
    ++s_Counts.m_Seeks;
    return LocalDevice.m_Device.Seek(handle, offset, origin);
}

FileDevice CountingDevice() {
    FileDevice device = LocalDevice.m_Device;
    device.Read = CountedRead;
    device.Seek = CountedSeek;
    return device;
}

// The archive's size and its central directory's, taken from the end record
// apart from the zip layer, so that a fault there cannot skew the yardstick.
bool ArchiveSizes(const char* archive, long* size, long* directory) {
    FILE* file = fopen(archive, "rb");
    if (!file) return false;
    *size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
    long start = std::max(0L, *size - 65536 - 22);
    std::vector<uint8_t> tail(*size >= 22 ? static_cast<size_t>(*size - start) : 0);
    bool read = !tail.empty() && fseek(file, start, SEEK_SET) == 0 &&
                fread(tail.data(), 1, tail.size(), file) == tail.size();
    fclose(file);
    for (size_t at = tail.size() - 21; read && at-- > 0;) {
        const uint8_t* r = tail.data() + at;
        if (r[0] != 'P' || r[1] != 'K' || r[2] != 5 || r[3] != 6) continue;
        *directory = static_cast<long>(r[12] | r[13] << 8 | r[14] << 16 | static_cast<uint32_t>(r[15]) << 24);
        return true;
    }
    return false;
}

// Five mounts from the page cache: the counts are the same each time, the
// time is the best of them.
bool MeasureMountBytes(const char* archive) {
    long size = 0, directory = 0;
    if (!ArchiveSizes(archive, &size, &directory)) return false;
    FileDevice device = CountingDevice();
    double best = -1;
    int32_t members = 0;
    for (int run = 0; run < 5; ++run) {
        zipFile::UnmountAll();
        s_Counts = DeviceCounts();
        double start = Now();
        zipFile* zip = zipFile::Mount(archive, 0, &device);
        double ms = (Now() - start) * 1e3;
        if (!zip) return false;
        members = zip->m_EntryCount;
        if (best < 0 || ms < best) best = ms;
    }
    zipFile::UnmountAll();
    double bytes = static_cast<double>(s_Counts.m_Bytes);
    printf("mount of %s: %d members, archive %ld bytes, central directory %ld bytes\n", archive,
           static_cast<int>(members), size, directory);
    printf("  read %.0f bytes (%.1f%% of the archive, %.1fx the directory) in %lld reads and %lld seeks; "
           "%.1f ms (best of 5, cached)\n",
           bytes, 100 * bytes / size, directory > 0 ? bytes / directory : 0,
           static_cast<long long>(s_Counts.m_Reads), static_cast<long long>(s_Counts.m_Seeks), best);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "text") == 0)
        return WriteText(argv[2], strtoull(argv[3], nullptr, 10), static_cast<unsigned>(atoi(argv[4]))) ? 0 : 1;
    if (argc == 3 && strcmp(argv[1], "mountbytes") == 0) return MeasureMountBytes(argv[2]) ? 0 : 1;
    if (argc != 7 || strcmp(argv[1], "run") != 0) {
        fprintf(stderr, "usage: zip_bench text FILE BYTES SEED | mountbytes ARCHIVE\n"
                        "     | run DIR ARCHIVE UNZIP_S BSDTAR_S CAT_S\n");
        return 1;
    }
    std::string dir = argv[2];
    if (!MeasureMembers(dir, atof(argv[4]), atof(argv[5]), atof(argv[6]))) {
        fprintf(stderr, "zip_bench: cannot measure the members of %s/big.zip\n", dir.c_str());
        return 1;
    }
    if (!MeasureDirectory(argv[3])) {
        fprintf(stderr, "zip_bench: cannot measure the directory of %s\n", argv[3]);
        return 1;
    }
    return 0;
}
