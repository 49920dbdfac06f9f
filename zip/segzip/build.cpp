// segzip build: an archive of a folder's files, laid out in load order.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/output.h"
#include "platform/platform.h"
#include "zip/segzip/build.h"
#include "zip/zipwriter.h"

namespace {

// Name order is the mount's own (case and separators ignored); the spelling
// breaks ties so that the order is the same on every run.
void SortByName(std::vector<SourceFile>* files) {
    std::sort(files->begin(), files->end(), [](const SourceFile& a, const SourceFile& b) {
        int32_t order = ZipNameCompare(a.m_Name.c_str(), b.m_Name.c_str());
        return order != 0 ? order < 0 : a.m_Name < b.m_Name;
    });
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

namespace {

int Build(const SegzipOptions& options) {
    const char* out = options.m_Operands[0];
    // A build stopped half-way removes its .part instead of leaving it for
    // the next one to find.
    if (!plat::CatchInterrupt()) Warningf("segzip: an interrupted build may leave '%s.part' behind", out);
    std::vector<SourceFile> files;
    if (!ListSources(options, &files)) return 1;
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
    write.Cancelled = plat::Interrupted;
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

}  // namespace

// The listing and the ordering take memory too: running out of it anywhere
// is a failure with its reason, never an abort.
int RunBuild(const SegzipOptions& options) {
    try {
        return Build(options);
    } catch (const std::bad_alloc&) {
        Errorf("Cannot build '%s': out of memory", options.m_Operands[0]);
        return 1;
    }
}
