// Keeping a client's names inside the served root.
#include <cstring>

#include "remote/filehost/host.h"

namespace {

struct PathBuilder {
    char* m_Path;
    size_t m_Size;
    size_t m_RootEnd;  // nothing before this may be removed
    size_t m_Used;
};

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Windows drops trailing dots and spaces from a name part, so "..." or ".. "
// could reach something other than what was checked here.
bool PlainPart(const char* part, size_t length) {
    char last = part[length - 1];
    return last != '.' && last != ' ';
}

// Appends one part of the name, or for ".." removes the last one appended;
// false when that would leave the root or overflow the path.
bool AddPart(PathBuilder* b, const char* part, size_t length) {
    if (length == 1 && part[0] == '.') return true;
    if (length == 2 && part[0] == '.' && part[1] == '.') {
        if (b->m_Used == b->m_RootEnd) return false;
        while (b->m_Path[--b->m_Used] != '/') {
        }
        return true;
    }
    if (!PlainPart(part, length) || b->m_Used + 1 + length >= b->m_Size) return false;
    b->m_Path[b->m_Used++] = '/';
    memcpy(b->m_Path + b->m_Used, part, length);
    b->m_Used += length;
    return true;
}

}  // namespace

bool ConfineName(const char* root, const char* name, char* path, size_t size) {
    PathBuilder b = {path, size, strlen(root), strlen(root)};
    if (IsSeparator(name[0]) || strchr(name, ':') || b.m_RootEnd >= size) return false;
    memcpy(path, root, b.m_RootEnd);
    for (const char* part = name; *part;) {
        size_t length = strcspn(part, "/\\");
        if (length > 0 && !AddPart(&b, part, length)) return false;
        part += length + (part[length] ? 1 : 0);
    }
    path[b.m_Used] = 0;
    return b.m_Used > b.m_RootEnd;  // the root itself is not a file
}
