// segzip's command line: the command word, then each command's own options
// and operands, in any order before a "--".
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/cmdline.h"
#include "zip/segzip/segzip.h"

namespace {

const char kOverview[] =
    "usage: segzip COMMAND [options] OPERANDS\n"
    "  list    the members of an archive, or of one directory in it\n"
    "  cat     members' bytes, to standard output\n"
    "  test    reads every member and checks it against the archive's directory\n"
    "  build   an archive of a folder's files, in name or load order\n"
    "  layout  what loading each segment of a sorted file costs on a disc drive\n"
    "'segzip COMMAND --help' shows a command's options.\n";

#define SEGZIP_MOUNT_OPTIONS                                                     \
    "  --names MODE   the directory's name mode: plain (default), packed or front\n" \
    "  --memory       read the archive into memory and mount that image\n"

const char kListUsage[] =
    "usage: segzip list [-l] [--names MODE] [--memory] ARCHIVE [DIRECTORY]\n"
    "  -l             size, stored size, data offset and sector before each name\n" SEGZIP_MOUNT_OPTIONS;
const char kCatUsage[] = "usage: segzip cat [--names MODE] [--memory] ARCHIVE MEMBER...\n" SEGZIP_MOUNT_OPTIONS;
const char kTestUsage[] = "usage: segzip test [--names MODE] [--memory] ARCHIVE\n" SEGZIP_MOUNT_OPTIONS;
const char kBuildUsage[] =
    "usage: segzip build [options] SOURCEDIR OUT.zip\n"
    "  --names-from SORTED  members in a sorted load-order file's order\n"
    "  --store PATTERN      store the members it matches, never deflate them (repeatable)\n"
    "  --exclude PATTERN    leave out, unread, the files it matches (repeatable)\n"
    "  --relative-to DIR    name members relative to DIR, a folder that holds SOURCEDIR\n"
    "  --level N            deflate level, 1 to 9 (default 9)\n"
    "  --align 2048|none    start stored members on a 2048-byte sector (default 2048)\n"
    "A PATTERN is matched against a member's name, ASCII case ignored: '*' matches\n"
    "any run of characters, '/' included, '?' any one.\n";
const char kLayoutUsage[] =
    "usage: segzip layout [--svg OUT.svg] [--seek-ms MS] [--mbps MBPS] ARCHIVE SORTED\n"
    "  --svg FILE     draw each segment's members across the archive; '-': standard\n"
    "                 output, the table then going to standard error\n"
    "  --seek-ms MS   the cost of a seek (default 100)\n"
    "  --mbps MBPS    the read speed, in MB/s (default 10)\n";

struct CommandInfo {
    const char* m_Word;
    SegzipCommand m_Command;
    const char* m_Program;   // as messages name it
    const char* m_Operands;  // as the usage spells them
    int32_t m_Least;
    int32_t m_Most;
    const char* m_Usage;
};

const CommandInfo kCommands[] = {
    {"list", kSegzipList, "segzip list", "ARCHIVE [DIRECTORY]", 1, 2, kListUsage},
    {"cat", kSegzipCat, "segzip cat", "ARCHIVE MEMBER...", 2, INT_MAX, kCatUsage},
    {"test", kSegzipTest, "segzip test", "ARCHIVE", 1, 1, kTestUsage},
    {"build", kSegzipBuild, "segzip build", "SOURCEDIR OUT.zip", 2, 2, kBuildUsage},
    {"layout", kSegzipLayout, "segzip layout", "ARCHIVE SORTED", 2, 2, kLayoutUsage},
};

const CommandInfo* FindCommand(const char* word) {
    for (const CommandInfo& info : kCommands)
        if (strcmp(word, info.m_Word) == 0) return &info;
    return nullptr;
}

// A number from low to high, whole when asked; said to be wrong otherwise.
void ParseNumber(CmdWalk& walk, const char* name, const char* text, double low, double high, bool whole,
                 double* value) {
    char* end = nullptr;
    *value = strtod(text, &end);
    bool fits = end != text && *end == 0 && *value >= low && *value <= high;
    if (!fits || (whole && *value != static_cast<int32_t>(*value)))
        walk.Bad("%s must be %.10g to %.10g, not '%s'", name, low, high, text);
}

bool ParseMountOption(CmdWalk& walk, SegzipOptions* options) {
    const char* value = nullptr;
    if (walk.Flag("--memory")) options->m_Memory = true;
    else if (!walk.Value("--names", &value)) return false;
    else if (!ParseZipNameMode(value, &options->m_Names)) walk.Bad("--names is plain, packed or front, not '%s'", value);
    return true;
}

bool ParseBuildOption(CmdWalk& walk, SegzipOptions* options) {
    const char* value = nullptr;
    double level = 0;
    if (walk.Value("--names-from", &value)) options->m_NamesFrom = value;
    else if (walk.Value("--store", &value)) options->m_Store.push_back(value);
    else if (walk.Value("--exclude", &value)) options->m_Exclude.push_back(value);
    else if (walk.Value("--relative-to", &value)) options->m_RelativeTo = value;
    else if (walk.Value("--level", &value)) {
        ParseNumber(walk, "--level", value, 1, 9, true, &level);
        options->m_Level = static_cast<int32_t>(level);
    } else if (walk.Value("--align", &value)) {
        if (strcmp(value, "2048") != 0 && strcmp(value, "none") != 0)
            walk.Bad("--align must be 2048 or none, not '%s'", value);
        options->m_Align = value[0] == 'n' ? 0 : 2048;
    } else {
        return false;
    }
    return true;
}

bool ParseLayoutOption(CmdWalk& walk, SegzipOptions* options) {
    const char* value = nullptr;
    if (walk.Value("--svg", &value)) options->m_Svg = value;
    else if (walk.Value("--seek-ms", &value)) ParseNumber(walk, "--seek-ms", value, 0, 1e6, false, &options->m_SeekMs);
    else if (walk.Value("--mbps", &value)) ParseNumber(walk, "--mbps", value, 1e-3, 1e6, false, &options->m_Mbps);
    else return false;
    return true;
}

bool ParseOption(CmdWalk& walk, SegzipOptions* options) {
    switch (options->m_Command) {
        case kSegzipList:
            if (!walk.Flag("-l")) return ParseMountOption(walk, options);
            options->m_Long = true;
            return true;
        case kSegzipCat:
        case kSegzipTest: return ParseMountOption(walk, options);
        case kSegzipBuild: return ParseBuildOption(walk, options);
        case kSegzipLayout: return ParseLayoutOption(walk, options);
    }
    return false;
}

bool IsDash(const char* name) { return name && strcmp(name, "-") == 0; }

// The operands, gathered at the front of argv. An archive is mounted from a
// file, and one being built is written aside and renamed into place when
// whole: standard input and output can be neither.
void TakeOperands(CmdWalk& walk, const CommandInfo& info, char** argv, int32_t count, SegzipOptions* options) {
    if (count < info.m_Least || count > info.m_Most)
        walk.Bad("wants %s, not %d operand%s", info.m_Operands, count, count == 1 ? "" : "s");
    if (count < info.m_Least) return;
    options->m_Archive = argv[0];
    options->m_Operands = argv + 1;
    options->m_OperandCount = count - 1;
    if (info.m_Command == kSegzipBuild && IsDash(argv[1]))
        walk.Bad("OUT.zip cannot be '-': a zip needs a seekable file, and standard output may not be one");
    if (info.m_Command != kSegzipBuild && IsDash(argv[0]))
        walk.Bad("ARCHIVE cannot be '-': an archive is mounted from a file, not from standard input");
}

// Before a command: --help, --version, or what is wrong.
int AnswerWithoutCommand(int argc, char** argv) {
    CmdWalk top("segzip", argc, argv);
    if (top.Next() && !top.Operand()) top.Unknown();
    if (top.End() == kCmdRun && argc < 2) top.Bad("no command given: list, cat, test, build or layout");
    if (top.End() == kCmdRun) top.Bad("unknown command '%s'", argv[1]);
    return top.Answer(kOverview, 1);
}

}  // namespace

bool ParseSegzipArgs(int argc, char** argv, SegzipOptions* options, int* status) {
    *options = SegzipOptions{};
    options->m_Level = 9;
    options->m_Align = 2048;
    options->m_SeekMs = 100;
    options->m_Mbps = 10;
    const CommandInfo* info = argc > 1 ? FindCommand(argv[1]) : nullptr;
    if (!info) {
        *status = AnswerWithoutCommand(argc, argv);
        return false;
    }
    options->m_Command = info->m_Command;
    CmdWalk walk(info->m_Program, argc, argv, 2);
    int32_t count = 0;
    while (walk.Next()) {
        if (const char* operand = walk.Operand()) argv[count++] = const_cast<char*>(operand);
        else if (!ParseOption(walk, options)) walk.Unknown();
    }
    if (walk.End() == kCmdRun) TakeOperands(walk, *info, argv, count, options);
    if (walk.End() == kCmdRun) return true;
    *status = walk.Answer(info->m_Usage, 1);
    return false;
}
