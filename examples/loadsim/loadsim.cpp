// loadsim: loads the files a script names through streams, as a game loads
// its data, with a file mapper choosing per file between the local disk and a
// file host and between plain files and mounted archives. The archives'
// records of every open, with the script's segments, make its standard
// output a load dump for segsorter.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/output.h"
#include "core/timer.h"
#include "examples/loadsim/dump_output.h"
#include "file/filemapper.h"
#include "file/stream.h"
#include "remote/remote.h"
#include "zip/zipfile.h"

namespace {

const int kSetupFailed = 2;

// A dump reader takes lines in pieces of at most 4095 bytes: a segment's
// record, "::LOADSEG::(" and ")" around its name, must fit in one.
const size_t kLongestSegmentName = 4095 - 13;
// The file mapper stops the process on a name of FNAME_LENGTH characters.
const size_t kLongestFileName = FNAME_LENGTH - 1;

const char kUsage[] =
    "Usage: loadsim [--host ADDRESS:PORT] [--mount ARCHIVE]... "
    "[--map PREFIX=local|remote[,zip]]... [--names plain|packed|front] SCRIPT\n";

struct Options {
    std::string m_HostAddress;
    int32_t m_HostPort = 0;
    std::vector<const char*> m_Mounts;
    std::vector<FileMapEntry> m_Rows;
    ZipNameMode m_Names = kZipNamesPlain;
    const char* m_Script = nullptr;
};

struct Totals {
    int32_t m_Files = 0;
    int64_t m_Bytes = 0;
    int32_t m_Missing = 0;
    int32_t m_Failed = 0;  // opened, but a read failed
    std::set<std::string> m_Warned;  // names said to be lost to the dump, by kind
};

// ------------------------------------------------------------ arguments

bool ParseHost(const char* text, Options* options) {
    const char* colon = strrchr(text, ':');
    char* end = nullptr;
    long port = colon ? strtol(colon + 1, &end, 10) : 0;
    if (!colon || colon == text || end == colon + 1 || *end || port <= 0 || port > 65535) {
        fprintf(stderr, "loadsim: --host wants ADDRESS:PORT, not '%s'\n", text);
        return false;
    }
    options->m_HostAddress.assign(text, colon);
    options->m_HostPort = static_cast<int32_t>(port);
    return true;
}

bool ParseNames(const char* text, Options* options) {
    const char* const names[] = {"plain", "packed", "front"};
    for (int32_t i = 0; i < 3; ++i)
        if (strcmp(text, names[i]) == 0) {
            options->m_Names = static_cast<ZipNameMode>(i);
            return true;
        }
    fprintf(stderr, "loadsim: --names is plain, packed or front, not '%s'\n", text);
    return false;
}

bool ParseOption(const char* option, const char* value, Options* options) {
    if (strcmp(option, "--host") == 0) return ParseHost(value, options);
    if (strcmp(option, "--mount") == 0) {
        options->m_Mounts.push_back(value);
        return true;
    }
    if (strcmp(option, "--names") == 0) return ParseNames(value, options);
    if (strcmp(option, "--map") == 0) {
        FileMapEntry row;
        if (!ParseFileMapRow(value, &row)) return false;
        options->m_Rows.push_back(row);
        return true;
    }
    fprintf(stderr, "loadsim: unknown option '%s'\n", option);
    return false;
}

bool NeedsHost(const Options& options) {
    for (const FileMapEntry& row : options.m_Rows)
        if (row.m_DeviceId) return true;
    return false;
}

bool ParseArgs(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--", 2) != 0) {
            if (options->m_Script) return false;
            options->m_Script = argv[i];
        } else if (i + 1 == argc || !ParseOption(argv[i], argv[i + 1], options)) {
            return false;
        } else {
            ++i;
        }
    }
    if (NeedsHost(*options) && options->m_HostAddress.empty()) {
        fprintf(stderr, "loadsim: a remote --map row needs --host\n");
        return false;
    }
    return options->m_Script != nullptr;
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

// A line of any length, gathered whole from fgetline's pieces, so that a long
// one is judged as a whole and never taken for several.
bool ReadLine(Stream* script, std::string* line) {
    line->clear();
    char piece[4096];
    for (int32_t n; (n = fgetline(piece, sizeof piece, script)) > 0;) {
        line->append(piece, static_cast<size_t>(n));
        if (piece[n - 1] == '\n') return true;
    }
    return !line->empty();
}

// The line without its comment and the blanks around it.
std::string ScriptText(const std::string& line) {
    size_t end = std::min(line.find('#'), line.size());
    while (end > 0 && static_cast<unsigned char>(line[end - 1]) <= ' ') --end;
    size_t start = 0;
    while (start < end && (line[start] == ' ' || line[start] == '\t')) ++start;
    return line.substr(start, end - start);
}

// Read before the mapper is installed: the script is a local file whatever
// the rows say.
bool ReadScript(const char* name, std::vector<std::string>* lines) {
    Stream* script = Stream::Open(name, true);
    if (!script) {
        fprintf(stderr, "loadsim: cannot open script '%s'\n", name);
        return false;
    }
    for (std::string line; ReadLine(script, &line);) {
        std::string text = ScriptText(line);
        if (!text.empty()) lines->push_back(text);
    }
    script->Close();
    return true;
}

bool IsSegment(const std::string& line) { return line.compare(0, 8, "segment ") == 0; }

// A segment name too long for a dump line would leave its files under the
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

// Why a dump reader would not get the name back, or null when it would. It
// closes a name at the first ')' from the record's thirteenth character: all
// of a segment's name, an OPEN name (from the ninth) from its fourth, so a
// name of one or two characters has no ')' it can see.
const char* LostToDump(const std::string& name, bool segment) {
    if (segment) return name.find(')') == std::string::npos ? nullptr : "it ends at its ')'";
    if (name.size() < 3) return "a file name of 1 or 2 characters is not read";
    return name.find(')', 3) == std::string::npos ? nullptr : "it ends at a ')' after its third character";
}

// The reading rules stay as old dumps and their users know them: a name they
// would lose is pointed out, once, before it is loaded.
void WarnIfLost(const std::string& name, bool segment, Totals* totals) {
    const char* why = LostToDump(name, segment);
    if (!why || !totals->m_Warned.insert((segment ? "s" : "f") + name).second) return;
    Warningf("%s '%s' cannot cross a load dump (%s): the sorted order will miss it",
             segment ? "Segment" : "File", name.c_str(), why);
}

void LoadFile(const std::string& name, Totals* totals) {
    WarnIfLost(name, false, totals);
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
    static char buffer[65536];
    int32_t n = 0;
    while ((n = file->Read(buffer, sizeof buffer)) > 0) totals->m_Bytes += n;
    file->Close();
    if (n < 0) {
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
        WarnIfLost(line.substr(8), true, totals);
        WriteSegmentRecord(line.substr(8));
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

int Run(const Options& options, const std::vector<std::string>& lines) {
    if (!options.m_HostAddress.empty() &&
        !RemoteConnect(options.m_HostAddress.c_str(), options.m_HostPort))
        return kSetupFailed;
    FileMapper* mapper = NewFileMapper(options.m_Rows.data(), static_cast<int32_t>(options.m_Rows.size()));
    if (!mapper || !InstallFileMapper(mapper)) return kSetupFailed;
    // The first Timer calibrates the tick counter, which takes 100 ms or more:
    // done here, it counts against neither the first record nor the total.
    Timer calibration;
    Totals totals;
    uint32_t start = GetTimeMs();
    bool mounted = MountAll(options);
    if (mounted) {
        s_ZipLoadLog = true;
        RunScript(lines, &totals);
        s_ZipLoadLog = false;
    }
    zipFile::UnmountAll();
    RemoveFileMapper();
    DeleteFileMapper(mapper);
    RemoteDisconnect();
    if (!mounted) return kSetupFailed;
    fprintf(stderr, "loadsim: %d files, %lld bytes, %u ms, %d not found", totals.m_Files,
            static_cast<long long>(totals.m_Bytes), GetTimeMs() - start, totals.m_Missing);
    if (totals.m_Failed) fprintf(stderr, ", %d failed to read", totals.m_Failed);
    fputc('\n', stderr);
    return totals.m_Missing || totals.m_Failed ? 1 : 0;
}

}  // namespace

// A dump that did not reach standard output whole fails the run as a file
// that did not load does.
int main(int argc, char** argv) {
    RouteOutput();
    Options options;
    if (!ParseArgs(argc, argv, &options)) {
        fputs(kUsage, stderr);
        return kSetupFailed;
    }
    AddDefaultRow(&options);
    std::vector<std::string> lines;
    int status = kSetupFailed;
    if (ReadScript(options.m_Script, &lines) && SegmentsFit(lines)) status = Run(options, lines);
    bool dumpWhole = FinishDump();
    return status == 0 && !dumpWhole ? 1 : status;
}
