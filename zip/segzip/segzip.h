// segzip: shows what the zip layer sees of an archive (its listing, its
// members' bytes, a check of every member against the archive's directory).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/zipfile.h"

enum SegzipCommand { kSegzipList, kSegzipCat, kSegzipTest, kSegzipBuild, kSegzipLayout };

struct SegzipOptions {
    SegzipCommand m_Command;
    bool m_Long;    // list -l
    bool m_Memory;  // mount an image read into memory
    ZipNameMode m_Names;
    // The first operand: the archive, or for build the source folder.
    const char* m_Archive;
    // list: the directory (at most one, may be absent); cat: the members;
    // build: the archive to write; layout: the sorted file.
    char** m_Operands;
    int32_t m_OperandCount;
    // build
    const char* m_NamesFrom;
    std::vector<const char*> m_Store;
    std::vector<const char*> m_Exclude;
    const char* m_RelativeTo;  // members are named relative to it; SOURCEDIR when null
    int32_t m_Level;
    uint32_t m_Align;
    // layout
    const char* m_Svg;  // "-": standard output, the table going to standard error
    double m_SeekMs;
    double m_Mbps;
};

// Reads "COMMAND [options] ARCHIVE [operands]"; options may come anywhere
// before a "--". false when there is nothing to run: the usage or the
// version was asked for, or what is wrong was said; *status is then the
// process's.
bool ParseSegzipArgs(int argc, char** argv, SegzipOptions* options, int* status);

// Sends the library's console output (diagnostics included) to standard
// error, so standard output carries only listings and member bytes.
void RouteConsoleToStderr();

// True when standard error is a terminal (progress is shown only there).
bool StderrIsTerminal();

// build and layout: 0 when done, 1 on failure, after saying why.
int RunBuild(const SegzipOptions& options);
int RunLayout(const SegzipOptions& options);

struct SortedSegment {
    std::string m_Name;
    std::vector<std::string> m_Files;  // as the sorted file spells them, in its order
};

// Reads a sorted load-order file through the current device; false after
// saying why it cannot be read.
bool ReadSorted(const char* name, std::vector<SortedSegment>* segments);

// ASCII case ignored; '*' matches any run of characters, '/' included, and
// '?' any one.
bool MatchPattern(const char* pattern, const char* name);

// Mounts the archive and runs the command: 0 on success, 1 when the archive
// cannot be mounted, a listing is empty, a member is missing or a member is
// bad.
int RunSegzip(const SegzipOptions& options);
