// The files segzip build packs: every regular file under the folder, as
// `zip -r` takes them, links to files followed wherever they lead.
#include <sys/stat.h>

#include <filesystem>

#include "core/output.h"
#include "platform/platform.h"
#include "zip/segzip/build.h"

namespace fs = std::filesystem;

namespace {

// The zip layer's sizes are signed 32-bit: it serves members below 2 GiB.
const uint64_t kLargestMember = 0x7FFFFFFFull;
const size_t kNamesShown = 3;

// The archive's own name relative to the folder, when the folder holds it: an
// older archive, or the part of one a killed build left, must not become a
// member of the new one.
std::string NameInside(const char* root, const char* out) {
    std::error_code ignored;
    fs::path relative = fs::weakly_canonical(out, ignored).lexically_relative(fs::weakly_canonical(root, ignored));
    std::string name = relative.generic_string();
    return name.empty() || name.compare(0, 2, "..") == 0 ? std::string() : name;
}

// With --relative-to, the root's own path under that folder, and a '/'.
bool NamePrefix(const SegzipOptions& options, std::string* prefix) {
    if (!options.m_RelativeTo) return true;
    std::error_code ignored;
    fs::path top = fs::weakly_canonical(options.m_RelativeTo, ignored);
    std::string inside = fs::weakly_canonical(options.m_Archive, ignored).lexically_relative(top).generic_string();
    if (inside.empty() || inside.compare(0, 2, "..") == 0) {
        Errorf("Cannot build '%s': '%s' is not inside '%s' (--relative-to)", options.m_Operands[0],
               options.m_Archive, options.m_RelativeTo);
        return false;
    }
    if (inside != ".") *prefix = inside + "/";
    return true;
}

bool Outside(const fs::path& path, const fs::path& canonicalRoot) {
    std::error_code failure;
    fs::path target = fs::canonical(path, failure);
    std::string relative = target.lexically_relative(canonicalRoot).generic_string();
    return failure || relative.empty() || relative.compare(0, 2, "..") == 0;
}

struct Listing {
    const char* m_Root;
    const char* m_Out;
    const std::vector<const char*>& m_Exclude;
    std::string m_Prefix;  // what names take before their path under the root
    std::string m_Own;
    fs::path m_CanonicalRoot;
    NameTally m_Outside;  // links to files outside the folder, followed
    NameTally m_Skipped;  // links to folders, broken links, devices, pipes
};

bool Excluded(const Listing& listing, const std::string& name) {
    for (const char* pattern : listing.m_Exclude)
        if (MatchPattern(pattern, name.c_str())) return true;
    return false;
}

// false when the file must stop the build. An excluded folder is not even
// walked, and an excluded file neither looked at nor read.
bool Take(Listing& listing, fs::recursive_directory_iterator& it, std::vector<SourceFile>* files) {
    const fs::directory_entry& entry = *it;
    std::error_code failure;
    std::string inRoot = entry.path().lexically_relative(listing.m_Root).generic_string();
    if (inRoot == listing.m_Own || inRoot == listing.m_Own + ".part") return true;
    std::string name = listing.m_Prefix + inRoot;
    bool link = entry.is_symlink(failure);
    bool directory = entry.is_directory(failure);
    if (Excluded(listing, name)) {
        if (directory) it.disable_recursion_pending();
        return true;
    }
    if (directory) {
        if (link) listing.m_Skipped.Add(name);  // not followed: a loop would never end
        return true;
    }
    if (!entry.is_regular_file(failure)) {
        listing.m_Skipped.Add(name);
        return true;
    }
    if (link && Outside(entry.path(), listing.m_CanonicalRoot)) listing.m_Outside.Add(name);
    if (entry.file_size(failure) > kLargestMember && !failure) {
        Errorf("Cannot build '%s': '%s' is 2 GiB or more; archive members must be smaller", listing.m_Out,
               name.c_str());
        return false;
    }
    SourceFile file = {entry.path().string(), name, 0};
    struct stat status;
    if (stat(file.m_Path.c_str(), &status) == 0) file.m_Time = static_cast<int64_t>(status.st_mtime);
    files->push_back(file);
    return true;
}

// One line, however many: a tree full of links should not bury the rest.
void ReportPassedOver(const Listing& listing) {
    std::string text;
    if (listing.m_Outside.m_Count)
        text = "followed " + Counted(listing.m_Outside.m_Count, "link to a file", "links to files") + " outside '" +
               listing.m_Root + "' (" + listing.m_Outside.Summary() + ")";
    if (listing.m_Skipped.m_Count)
        text += (text.empty() ? "skipped " : "; skipped ") +
                Counted(listing.m_Skipped.m_Count, "entry that is not a regular file",
                        "entries that are not regular files") +
                ", such as links to folders, broken links and pipes (" + listing.m_Skipped.Summary() + ")";
    if (!text.empty()) Warningf("%s", text.c_str());
}

}  // namespace

void NameTally::Add(const std::string& name) {
    if (m_First.size() < kNamesShown) m_First.push_back(name);
    ++m_Count;
}

std::string NameTally::Summary() const {
    std::string text;
    for (const std::string& name : m_First) text += (text.empty() ? "'" : ", '") + name + "'";
    if (m_Count > static_cast<int32_t>(m_First.size()))
        text += " and " + std::to_string(m_Count - static_cast<int32_t>(m_First.size())) + " more";
    return text;
}

std::string Counted(int32_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool ListSources(const SegzipOptions& options, std::vector<SourceFile>* files) {
    const char *root = options.m_Archive, *out = options.m_Operands[0];
    std::error_code failure;
    Listing listing{root, out, options.m_Exclude, "", NameInside(root, out), fs::canonical(root, failure), {}, {}};
    if (!NamePrefix(options, &listing.m_Prefix)) return false;
    fs::recursive_directory_iterator it(root, failure), end;
    for (; !failure && it != end; it.increment(failure)) {
        if (plat::Interrupted()) {
            Errorf("Cannot build '%s': interrupted", out);
            return false;
        }
        if (!Take(listing, it, files)) return false;
    }
    if (failure) {
        Errorf("Cannot read source folder '%s': %s", root, failure.message().c_str());
        return false;
    }
    ReportPassedOver(listing);
    return true;
}
