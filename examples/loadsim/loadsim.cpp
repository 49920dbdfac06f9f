// loadsim: loads the files a script names through streams, as a game loads
// its data, with a file mapper choosing per file between the local disk and a
// file host and between plain files and mounted archives. The archives'
// records of every open, with the script's segments, make its standard
// output a load dump for segsorter.
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Read before the mapper is installed: the script is a local file whatever
// the rows say.
bool ReadScript(const char* name, std::vector<std::string>* lines) {
    Stream* script = Stream::Open(name, true);
    if (!script) {
        fprintf(stderr, "loadsim: cannot open script '%s'\n", name);
        return false;
    }
    char line[4096];
    while (fgetline(line, sizeof line, script) > 0) {
        char* end = strchr(line, '#');
        if (!end) end = line + strlen(line);
        while (end > line && static_cast<unsigned char>(end[-1]) <= ' ') --end;
        *end = 0;
        const char* start = line;
        while (*start == ' ' || *start == '\t') ++start;
        if (*start) lines->push_back(start);
    }
    script->Close();
    return true;
}

void LoadFile(const char* name, Totals* totals) {
    Stream* file = Stream::Open(name, true);
    if (!file) {
        Errorf("Cannot load '%s'", name);
        ++totals->m_Missing;
        return;
    }
    static char buffer[65536];
    for (int32_t n; (n = file->Read(buffer, sizeof buffer)) > 0;) totals->m_Bytes += n;
    file->Close();
    ++totals->m_Files;
}

void RunScript(const std::vector<std::string>& lines, Totals* totals) {
    for (const std::string& line : lines) {
        if (line.compare(0, 8, "segment ") == 0)
            Displayf("::LOADSEG::(%s)", line.c_str() + 8);
        else
            LoadFile(line.c_str(), totals);
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
    fprintf(stderr, "loadsim: %d files, %lld bytes, %u ms, %d not found\n", totals.m_Files,
            static_cast<long long>(totals.m_Bytes), GetTimeMs() - start, totals.m_Missing);
    return totals.m_Missing ? 1 : 0;
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
    if (ReadScript(options.m_Script, &lines)) status = Run(options, lines);
    bool dumpWhole = FinishDump();
    return status == 0 && !dumpWhole ? 1 : status;
}
