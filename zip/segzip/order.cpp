// segzip build --names-from: the folder's files in a sorted load-order
// file's order.
#include <set>
#include <string>
#include <unordered_map>

#include "core/output.h"
#include "zip/segzip/build.h"

std::string FoldedName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = ZipFoldChar(c);
    return folded;
}

bool OrderBySorted(const SegzipOptions& options, std::vector<SourceFile>* files) {
    std::vector<SortedSegment> segments;
    if (!ReadSorted(options.m_NamesFrom, &segments)) return false;
    std::unordered_map<std::string, size_t> byName;
    for (size_t i = 0; i < files->size(); ++i) byName.emplace(FoldedName((*files)[i].m_Name), i);
    std::vector<char> placed(files->size(), 0);
    std::vector<SourceFile> ordered;
    std::set<std::string> missing;
    for (const SortedSegment& segment : segments) {
        for (const std::string& name : segment.m_Files) {
            auto found = byName.find(FoldedName(name));
            if (found == byName.end()) {
                if (missing.insert(FoldedName(name)).second)
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
