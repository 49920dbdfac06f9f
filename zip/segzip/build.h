// segzip build's steps: the folder's files, and their order from a sorted
// load-order file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/segzip/segzip.h"

struct SourceFile {
    std::string m_Path;
    std::string m_Name;  // relative to the folder (or --relative-to), '/' between parts
    int64_t m_Time;
};

// Names that a step passed over, counted, with the first few kept for a
// one-line summary.
struct NameTally {
    int32_t m_Count = 0;
    std::vector<std::string> m_First;

    void Add(const std::string& name);
    // "'a', 'b', 'c' and 4 more"
    std::string Summary() const;
};

// "1 name", "2 names"
std::string Counted(int32_t count, const char* one, const char* many);

// The regular files under SOURCEDIR, links to files followed, the archive
// being written (and its .part) and what --exclude matches left out, named as
// --relative-to says; warns in one line about links that lead outside and
// entries passed over. false, after saying why, when the folder cannot be
// read, --relative-to does not hold it, a file is too large for the zip layer
// or the build was interrupted.
bool ListSources(const SegzipOptions& options, std::vector<SourceFile>* files);

// The sorted file's files first, segment by segment, each with the first
// segment that opens it; then the rest, still in name order. false when the
// sorted file cannot be read.
bool OrderBySorted(const SegzipOptions& options, std::vector<SourceFile>* files);

// A name with case folded and '\\' read as '/', as the mount compares them.
std::string FoldedName(const std::string& name);
