// segzip build --names-from: the folder's files in a sorted load-order
// file's order, and what of the file could not be matched, and why.
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/output.h"
#include "zip/segzip/build.h"

namespace {

// A load dump's OPEN record ends at the first ')' from its name's fourth
// character on, so a name holding one reaches the sorted file cut there.
// The name itself when no ')' would cut it.
std::string CutByDump(const std::string& name) {
    size_t close = name.size() > 3 ? name.find(')', 3) : std::string::npos;
    return close == std::string::npos ? name : name.substr(0, close);
}

struct Unmatched {
    NameTally m_Missing;
    NameTally m_Cut;  // names that are a tree file's name cut at its ')'
    std::unordered_set<std::string> m_Seen;
};

void NoteUnmatched(const std::string& name, const std::unordered_map<std::string, size_t>& byCut,
                   const std::vector<SourceFile>& files, Unmatched* unmatched) {
    std::string folded = FoldedName(name);
    if (!unmatched->m_Seen.insert(folded).second) return;
    auto cut = byCut.find(folded);
    if (cut == byCut.end()) unmatched->m_Missing.Add(name);
    else unmatched->m_Cut.Add(name + "' for '" + files[cut->second].m_Name);
}

void ReportUnmatched(const SegzipOptions& options, const Unmatched& unmatched) {
    int32_t missing = unmatched.m_Missing.m_Count, cut = unmatched.m_Cut.m_Count;
    if (missing)
        Warningf("%s in '%s' %s not under '%s' and left out: %s", Counted(missing, "name", "names").c_str(),
                 options.m_NamesFrom, missing == 1 ? "is" : "are", options.m_Archive,
                 unmatched.m_Missing.Summary().c_str());
    if (cut)
        Warningf("%s in '%s' %s cut at a ')' (%s): names holding ')' cannot cross a load dump, so %s in "
                 "name order after the load-ordered ones",
                 Counted(cut, "name", "names").c_str(), options.m_NamesFrom,
                 cut == 1 ? "is a file's name" : "are files' names", unmatched.m_Cut.Summary().c_str(),
                 cut == 1 ? "that file stays" : "those files stay");
}

}  // namespace

std::string FoldedName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = ZipFoldChar(c);
    return folded;
}

bool OrderBySorted(const SegzipOptions& options, std::vector<SourceFile>* files) {
    std::vector<SortedSegment> segments;
    if (!ReadSorted(options.m_NamesFrom, &segments)) return false;
    std::unordered_map<std::string, size_t> byName, byCut;
    for (size_t i = 0; i < files->size(); ++i) {
        const std::string& name = (*files)[i].m_Name;
        byName.emplace(FoldedName(name), i);
        if (CutByDump(name) != name) byCut.emplace(FoldedName(CutByDump(name)), i);
    }
    std::vector<char> placed(files->size(), 0);
    std::vector<SourceFile> ordered;
    Unmatched unmatched;
    for (const SortedSegment& segment : segments) {
        for (const std::string& name : segment.m_Files) {
            auto found = byName.find(FoldedName(name));
            if (found == byName.end()) {
                NoteUnmatched(name, byCut, *files, &unmatched);
            } else if (!placed[found->second]) {
                placed[found->second] = 1;
                ordered.push_back((*files)[found->second]);
            }
        }
    }
    ReportUnmatched(options, unmatched);
    for (size_t i = 0; i < files->size(); ++i)
        if (!placed[i]) ordered.push_back((*files)[i]);
    files->swap(ordered);
    return true;
}
