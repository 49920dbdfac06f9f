// segzip build: an archive of a folder's files, laid out in load order.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <unordered_map>

#include "core/output.h"
#include "zip/segzip/segzip.h"
#include "zip/zipwriter.h"

namespace fs = std::filesystem;

namespace {

struct SourceFile {
    std::string m_Path;
    std::string m_Name;  // relative to the folder, '/' between parts
    int64_t m_Time;
};

std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = ZipFoldChar(c);
    return folded;
}

// The archive's own name relative to the folder, when the folder holds it: an
// older archive must not become a member of the new one.
std::string NameInside(const char* root, const char* out) {
    std::error_code ignored;
    fs::path relative = fs::weakly_canonical(out, ignored).lexically_relative(fs::weakly_canonical(root, ignored));
    std::string name = relative.generic_string();
    return name.empty() || name.compare(0, 2, "..") == 0 ? std::string() : name;
}

bool ListSources(const char* root, const char* out, std::vector<SourceFile>* files) {
    std::error_code failure;
    std::string skip = NameInside(root, out);
    fs::recursive_directory_iterator it(root, failure), end;
    for (; !failure && it != end; it.increment(failure)) {
        if (!it->is_regular_file(failure) || failure) continue;
        SourceFile file = {it->path().string(), it->path().lexically_relative(root).generic_string(), 0};
        struct stat status;
        if (stat(file.m_Path.c_str(), &status) == 0) file.m_Time = static_cast<int64_t>(status.st_mtime);
        if (file.m_Name != skip) files->push_back(file);
    }
    if (failure) Errorf("Cannot read source folder '%s': %s", root, failure.message().c_str());
    return !failure;
}

// Name order is the mount's own (case and separators ignored); the spelling
// breaks ties so that the order is the same on every run.
void SortByName(std::vector<SourceFile>* files) {
    std::sort(files->begin(), files->end(), [](const SourceFile& a, const SourceFile& b) {
        int32_t order = ZipNameCompare(a.m_Name.c_str(), b.m_Name.c_str());
        return order != 0 ? order < 0 : a.m_Name < b.m_Name;
    });
}

// The sorted file's files first, segment by segment, each with the first
// segment that opens it; then the rest, still in name order.
bool OrderBySorted(const SegzipOptions& options, std::vector<SourceFile>* files) {
    std::vector<SortedSegment> segments;
    if (!ReadSorted(options.m_NamesFrom, &segments)) return false;
    std::unordered_map<std::string, size_t> byName;
    for (size_t i = 0; i < files->size(); ++i) byName.emplace(Folded((*files)[i].m_Name), i);
    std::vector<char> placed(files->size(), 0);
    std::vector<SourceFile> ordered;
    std::set<std::string> missing;
    for (const SortedSegment& segment : segments) {
        for (const std::string& name : segment.m_Files) {
            auto found = byName.find(Folded(name));
            if (found == byName.end()) {
                if (missing.insert(Folded(name)).second)
                    Warningf("'%s' is in '%s' but not under '%s': left out", name.c_str(), options.m_NamesFrom,
                             options.m_Archive);
            } else if (!placed[found->second]) {
                placed[found->second] = 1;
                ordered.push_back((*files)[found->second]);
            }
        }
    }
    for (size_t i = 0; i < files->size(); ++i)
        if (!placed[i]) ordered.push_back((*files)[i]);
    files->swap(ordered);
    return true;
}

// Lookups ignore case and read '\\' as '/': of two names that differ only
// so, an archive would serve one. Refused rather than lost; the files must
// still be in name order, where such names are neighbours.
bool CheckTwins(const std::vector<SourceFile>& files) {
    for (size_t i = 1; i < files.size(); ++i) {
        if (ZipNameCompare(files[i - 1].m_Name.c_str(), files[i].m_Name.c_str()) != 0) continue;
        Errorf("Members '%s' and '%s' differ only in letter case or separators: an archive could serve only one",
               files[i - 1].m_Name.c_str(), files[i].m_Name.c_str());
        return false;
    }
    return true;
}

bool CheckNames(const std::vector<SourceFile>& files) {
    for (const SourceFile& file : files) {
        if (file.m_Name.size() > 255) {
            Errorf("Member name '%s' is longer than 255 characters", file.m_Name.c_str());
            return false;
        }
        if (!ZipNamePackable(file.m_Name.c_str()))
            Warningf("Member name '%s' cannot be packed: the archive will serve plain names only",
                     file.m_Name.c_str());
    }
    return true;
}

struct Progress {
    std::chrono::steady_clock::time_point m_Start;
    std::chrono::steady_clock::time_point m_Shown;
    bool m_Any;
};

// Shown on a terminal only, once the build has taken a second, ten times a
// second at most, and at the last member.
void ShowProgress(void* context, int32_t written, int32_t count, uint64_t bytes) {
    Progress* progress = static_cast<Progress*>(context);
    auto now = std::chrono::steady_clock::now();
    if (now - progress->m_Start < std::chrono::seconds(1)) return;
    if (written < count && now - progress->m_Shown < std::chrono::milliseconds(100)) return;
    progress->m_Shown = now;
    progress->m_Any = true;
    fprintf(stderr, "\r%d/%d members, %.1f MB", written, count, static_cast<double>(bytes) / (1 << 20));
    fflush(stderr);
}

}  // namespace

bool MatchPattern(const char* pattern, const char* name) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern && (*pattern == '?' || fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

int RunBuild(const SegzipOptions& options) {
    const char* out = options.m_Operands[0];
    std::vector<SourceFile> files;
    if (!ListSources(options.m_Archive, out, &files)) return 1;
    SortByName(&files);
    if (!CheckTwins(files)) return 1;
    if (options.m_NamesFrom && !OrderBySorted(options, &files)) return 1;
    if (!CheckNames(files)) return 1;
    std::vector<ZipSource> sources;
    for (const SourceFile& file : files) {
        bool store = false;
        for (const char* pattern : options.m_Store) store |= MatchPattern(pattern, file.m_Name.c_str());
        sources.push_back(ZipSource{file.m_Path.c_str(), file.m_Name.c_str(), file.m_Time, store});
    }
    Progress progress = {std::chrono::steady_clock::now(), {}, false};
    ZipWriteOptions write;
    write.m_Level = options.m_Level;
    write.m_Align = options.m_Align;
    if (StderrIsTerminal()) write.Progress = ShowProgress;
    write.m_Context = &progress;
    ZipWriteResult result;
    char reason[600];
    bool ok = WriteZip(out, sources.data(), static_cast<int32_t>(sources.size()), write, &result, reason,
                       sizeof reason);
    if (progress.m_Any) fputs("\n", stderr);
    if (!ok) {
        Errorf("Cannot build '%s': %s", out, reason);
        return 1;
    }
    if (result.m_Bytes >= 0x80000000ull)
        Warningf("'%s' is 2 GiB or more: the zip layer does not mount it", out);
    printf("%s: %d members (%d deflated, %d stored), %llu bytes\n", out, result.m_Deflated + result.m_Stored,
           result.m_Deflated, result.m_Stored, static_cast<unsigned long long>(result.m_Bytes));
    return fflush(stdout) == 0 ? 0 : 1;
}
