// loadsim: loads the files a script names through streams, as a game loads
// its data, with a file mapper choosing per file between the local disk and a
// file host and between plain files and mounted archives. The archives'
// records of every open, with the script's segments, make its standard
// output a load dump for segsorter.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/cmdline.h"
#include "core/output.h"
#include "core/timer.h"
#include "examples/loadsim/dump_output.h"
#include "file/filemapper.h"
#include "file/loaddump.h"
#include "file/stream.h"
#include "remote/remote.h"
#include "zip/zipfile.h"

namespace {

const int kSetupFailed = 2;

// The file mapper stops the process on a name of FNAME_LENGTH characters.
const size_t kLongestFileName = FNAME_LENGTH - 1;

const char kUsage[] =
    "usage: loadsim [--host ADDRESS:PORT] [--mount ARCHIVE]... [--map PREFIX=local|remote[,zip]]...\n"
    "               [--names plain|packed|front] [--record-files] SCRIPT\n"
    "  --host ADDRESS:PORT  connect to a file host first\n"
    "  --mount ARCHIVE      mount an archive, opened on the device its own name maps to\n"
    "  --map ROW            a row of the file mapper, tried in order; without rows every\n"
    "                       name is local, and looked for in the archives when there are any\n"
    "  --names MODE         the archives' name mode: plain (default), packed or front\n"
    "  --record-files       record plain files too, not only archive members, so that\n"
    "                       loads from loose files make a load dump\n"
    "SCRIPT ('-': standard input) names a file to load on each line; 'segment NAME'\n"
    "starts a load segment and '#' a comment. The load dump goes to standard output.\n";

struct Options {
    std::string m_HostAddress;
    int32_t m_HostPort = 0;
    std::vector<const char*> m_Mounts;
    std::vector<FileMapEntry> m_Rows;
    ZipNameMode m_Names = kZipNamesPlain;
    const char* m_Script = nullptr;
    bool m_RecordFiles = false;
};

struct Totals {
    int32_t m_Files = 0;
    int64_t m_Bytes = 0;
    int32_t m_Missing = 0;
    int32_t m_Failed = 0;  // opened, but a read failed
    std::set<std::string> m_Warned;  // file names said to be lost to the dump
};

// ------------------------------------------------------------ arguments

void ParseHost(CmdWalk& walk, const char* text, Options* options) {
    const char* colon = strrchr(text, ':');
    char* end = nullptr;
    long port = colon ? strtol(colon + 1, &end, 10) : 0;
    if (!colon || colon == text || end == colon + 1 || *end || port <= 0 || port > 65535) {
        walk.Bad("--host wants ADDRESS:PORT, not '%s'", text);
        return;
    }
    options->m_HostAddress.assign(text, colon);
    options->m_HostPort = static_cast<int32_t>(port);
}

void ParseNames(CmdWalk& walk, const char* text, Options* options) {
    if (!ParseZipNameMode(text, &options->m_Names)) walk.Bad("--names is plain, packed or front, not '%s'", text);
}

// The mapper's own complaint is silenced: it does not name the option.
void ParseMap(CmdWalk& walk, const char* text, Options* options) {
    FileMapEntry row;
    uint32_t mask = OutputMask;
    OutputMask &= ~kMaskError;
    bool parsed = ParseFileMapRow(text, &row);
    OutputMask = mask;
    if (parsed) options->m_Rows.push_back(row);
    else walk.Bad("--map wants PREFIX=local|remote[,zip], not '%s'", text);
}

bool ParseOption(CmdWalk& walk, Options* options) {
    const char* value = nullptr;
    if (walk.Value("--host", &value)) ParseHost(walk, value, options);
    else if (walk.Value("--mount", &value)) options->m_Mounts.push_back(value);
    else if (walk.Value("--names", &value)) ParseNames(walk, value, options);
    else if (walk.Value("--map", &value)) ParseMap(walk, value, options);
    else if (walk.Flag("--record-files")) options->m_RecordFiles = true;
    else return false;
    return true;
}

bool NeedsHost(const Options& options) {
    for (const FileMapEntry& row : options.m_Rows)
        if (row.m_DeviceId) return true;
    return false;
}

bool ParseArgs(CmdWalk& walk, Options* options) {
    while (walk.Next()) {
        const char* operand = walk.Operand();
        if (!operand && !ParseOption(walk, options)) walk.Unknown();
        else if (operand && options->m_Script) walk.Bad("one SCRIPT only, not '%s' as well", operand);
        else if (operand) options->m_Script = operand;
    }
    if (walk.End() != kCmdRun) return false;
    if (!options->m_Script) return walk.Bad("no SCRIPT given");
    if (NeedsHost(*options) && options->m_HostAddress.empty()) return walk.Bad("a remote --map row needs --host");
    return true;
}

// Without --map rows every name goes to the local disk, and into the
// archives when there are any.
void AddDefaultRow(Options* options) {
    if (!options->m_Rows.empty()) return;
    FileMapEntry row;
    ParseFileMapRow(options->m_Mounts.empty() ? "*=local" : "*=local,zip", &row);
    options->m_Rows.push_back(row);
}

// --------------------------------------------------------------- script

// The whole script, so that a line of any length is judged as a whole and
// never taken for several.
bool ReadWhole(const char* name, std::string* text) {
    char piece[4096];
    if (strcmp(name, "-") == 0) {
        for (size_t n; (n = fread(piece, 1, sizeof piece, stdin)) > 0;) text->append(piece, n);
        return !ferror(stdin);
    }
    Stream* script = Stream::Open(name, true);
    if (!script) return false;
    int32_t n = 0;
    while ((n = script->Read(piece, sizeof piece)) > 0) text->append(piece, static_cast<size_t>(n));
    script->Close();
    return n == 0;
}

// The line without its comment and the blanks around it.
std::string ScriptText(const std::string& line) {
    size_t end = std::min(line.find('#'), line.size());
    while (end > 0 && static_cast<unsigned char>(line[end - 1]) <= ' ') --end;
    size_t start = 0;
    while (start < end && (line[start] == ' ' || line[start] == '\t')) ++start;
    return line.substr(start, end - start);
}

// Read before the mapper is installed: the script is a local file (or
// standard input) whatever the rows say.
bool ReadScript(const char* name, std::vector<std::string>* lines) {
    std::string whole;
    if (!ReadWhole(name, &whole)) {
        fprintf(stderr, "loadsim: cannot read script '%s'\n", name);
        return false;
    }
    for (size_t start = 0; start < whole.size();) {
        size_t end = std::min(whole.find('\n', start), whole.size());
        std::string text = ScriptText(whole.substr(start, end - start));
        if (!text.empty()) lines->push_back(text);
        start = end + 1;
    }
    return true;
}

bool IsSegment(const std::string& line) { return line.compare(0, 8, "segment ") == 0; }

// A segment name too long for its record would leave its files under the
// segment before it, so such a script is refused before anything loads.
bool SegmentsFit(const std::vector<std::string>& lines) {
    bool fit = true;
    for (const std::string& line : lines) {
        if (!IsSegment(line) || line.size() - 8 <= kLongestSegmentName) continue;
        fprintf(stderr, "loadsim: segment '%.40s...' has a name of %d characters; a load dump carries %d\n",
                line.c_str() + 8, static_cast<int>(line.size() - 8), static_cast<int>(kLongestSegmentName));
        fit = false;
    }
    return fit;
}

// Why a dump reader would not get a file's name back, or null when it would.
// It closes a name at the first ')' from the record's thirteenth character,
// an OPEN name's fourth, so a name of one or two characters has no ')' it can
// see. (StartLoadSegment warns of a segment name itself.)
const char* LostToDump(const std::string& name) {
    if (name.size() < 3) return "a file name of 1 or 2 characters is not read";
    return name.find(')', 3) == std::string::npos ? nullptr : "it ends at a ')' after its third character";
}

// The reading rules stay as old dumps and their users know them: a name they
// would lose is pointed out, once, before it is loaded.
void WarnIfLost(const std::string& name, Totals* totals) {
    const char* why = LostToDump(name);
    if (!why || !totals->m_Warned.insert(name).second) return;
    Warningf("File '%s' cannot cross a load dump (%s): the sorted order will miss it", name.c_str(), why);
}

// The buffer every file is read into, grown as needed and kept between
// files, as a game keeps its load buffer.
std::vector<char> s_Buffer;

// Whatever is left in the buffer past "used" is at least this much, so that
// the read after the last byte can find anything a wrong size left behind.
const size_t kSlack = 65536;

char* Room(size_t used, size_t want) {
    if (s_Buffer.size() < used + want) s_Buffer.resize(std::max(used + want, s_Buffer.size() * 2));
    return s_Buffer.data() + used;
}

// Loads a file as a game does: its size from the stream's device, the whole
// file in one read, then reads until one returns 0, which costs one call when
// the size was right and still loads every byte when it was short. A device
// that cannot tell (loose files) is read in pieces from the start. False when
// a read failed; *bytes counts what came before it too.
bool ReadWholeFile(Stream* file, int64_t* bytes) {
    int32_t size = file->m_Device->Size ? file->m_Device->Size(file->m_Handle) : -1;
    int32_t ask = size > 0 ? size : static_cast<int32_t>(kSlack);
    size_t used = 0;
    int32_t n = file->Read(Room(0, static_cast<size_t>(ask) + kSlack), ask);
    for (; n > 0; n = file->Read(Room(used, kSlack), static_cast<int32_t>(kSlack))) used += static_cast<size_t>(n);
    *bytes += static_cast<int64_t>(used);
    return n == 0;
}

void LoadFile(const std::string& name, Totals* totals) {
    WarnIfLost(name, totals);
    Stream* file = nullptr;
    if (name.size() > kLongestFileName)
        Errorf("Cannot load '%s': its name has %d characters, more than the %d a file name can have",
               name.c_str(), static_cast<int>(name.size()), static_cast<int>(kLongestFileName));
    else if (!(file = Stream::Open(name.c_str(), true)))
        Errorf("Cannot load '%s'", name.c_str());
    if (!file) {
        ++totals->m_Missing;
        return;
    }
    bool whole = ReadWholeFile(file, &totals->m_Bytes);
    file->Close();
    if (!whole) {
        Errorf("Cannot load '%s': a read failed", name.c_str());
        ++totals->m_Failed;
        return;
    }
    ++totals->m_Files;
}

void RunScript(const std::vector<std::string>& lines, Totals* totals) {
    for (const std::string& line : lines) {
        if (!IsSegment(line)) {
            LoadFile(line, totals);
            continue;
        }
        StartLoadSegment(line.c_str() + 8);
    }
}

// ---------------------------------------------------------------- setup

// Archives mount under the installed mapper, so each archive file opens on
// the device its own name maps to and its reads keep going there.
bool MountAll(const Options& options) {
    s_ZipNameMode = options.m_Names;
    for (const char* archive : options.m_Mounts)
        if (!zipFile::Mount(archive, 0)) return false;
    return true;
}

// Milliseconds since start, to a tenth or better: a level from the page
// cache loads in a few milliseconds, which whole ones would hide.
double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void PrintSummary(const Options& options, const Totals& totals, double mountMs, double totalMs) {
    size_t mounts = options.m_Mounts.size();
    if (mounts) fprintf(stderr, "loadsim: mounted %zu archive%s in %.1f ms\n", mounts, mounts == 1 ? "" : "s", mountMs);
    fprintf(stderr, "loadsim: %d files, %lld bytes, %.1f ms, %d not found", totals.m_Files,
            static_cast<long long>(totals.m_Bytes), totalMs, totals.m_Missing);
    if (totals.m_Failed) fprintf(stderr, ", %d failed to read", totals.m_Failed);
    fputc('\n', stderr);
}

int Run(const Options& options, const std::vector<std::string>& lines) {
    if (!options.m_HostAddress.empty() &&
        !RemoteConnect(options.m_HostAddress.c_str(), options.m_HostPort))
        return kSetupFailed;
    FileMapper* mapper = NewFileMapper(options.m_Rows.data(), static_cast<int32_t>(options.m_Rows.size()));
    if (!mapper || !InstallFileMapper(mapper)) return kSetupFailed;
    // The first Timer sets the tick rate; where it must be measured (Windows)
    // that takes 100 ms or more: done here, it counts against neither the
    // first record nor the total.
    Timer calibration;
    Totals totals;
    auto start = std::chrono::steady_clock::now();
    bool mounted = MountAll(options);
    double mountMs = MsSince(start);
    if (mounted) {
        s_ZipLoadLog = true;
        s_StreamLoadLog = options.m_RecordFiles;
        RunScript(lines, &totals);
        s_ZipLoadLog = s_StreamLoadLog = false;
    }
    double totalMs = MsSince(start);
    zipFile::UnmountAll();
    RemoveFileMapper();
    DeleteFileMapper(mapper);
    RemoteDisconnect();
    if (!mounted) return kSetupFailed;
    PrintSummary(options, totals, mountMs, totalMs);
    return totals.m_Missing || totals.m_Failed ? 1 : 0;
}

}  // namespace

// A dump that did not reach standard output whole fails the run as a file
// that did not load does.
int main(int argc, char** argv) {
    RouteOutput();
    Options options;
    CmdWalk walk("loadsim", argc, argv);
    if (!ParseArgs(walk, &options)) return walk.Answer(kUsage, kSetupFailed);
    AddDefaultRow(&options);
    std::vector<std::string> lines;
    int status = kSetupFailed;
    if (ReadScript(options.m_Script, &lines) && SegmentsFit(lines)) status = Run(options, lines);
    bool dumpWhole = FinishDump();
    return status == 0 && !dumpWhole ? 1 : status;
}
