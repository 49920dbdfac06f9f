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

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameLetters(const char* a, const char* upper, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (Upper(a[i]) != upper[i]) return false;
    return true;
}

// COM and LPT take a digit, or one of the superscripts one, two and three
// (Windows-1252 bytes), all of which Windows reserves.
bool PortNumber(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (c >= '0' && c <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

// Windows opens a device, not a file, for these names in every directory,
// whatever follows the first dot and whatever spaces end the base: "nul",
// "Con.txt" and "aux .log" all reach devices.
bool DeviceName(const char* part, size_t length) {
    size_t base = 0;
    while (base < length && part[base] != '.') ++base;
    while (base > 0 && part[base - 1] == ' ') --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == strlen(device) && SameLetters(part, device, base)) return true;
    return base == 4 && (SameLetters(part, "COM", 3) || SameLetters(part, "LPT", 3)) &&
           PortNumber(part[3]);
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
    if (!PlainPart(part, length) || DeviceName(part, length)) return false;
    if (b->m_Used + 1 + length >= b->m_Size) return false;
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

// Inside the real root: its own path (only when rootToo) or one below it.
static bool Within(const char* realRoot, const char* path, bool rootToo) {
    size_t length = strlen(realRoot);
    if (strncmp(path, realRoot, length) != 0) return false;
    if (path[length] == 0) return rootToo;
    return IsSeparator(path[length]) || (length > 0 && IsSeparator(realRoot[length - 1]));
}

bool ResolveEntry(const char* realRoot, const char* path, char* entry, size_t size) {
    const char* last = strrchr(path, '/');
    if (!last || last == path) return false;
    char directory[kHostRealPathSize];
    size_t length = static_cast<size_t>(last - path);
    if (length >= sizeof directory) return false;
    memcpy(directory, path, length);
    directory[length] = 0;
    if (!plat::PathResolve(directory, entry, size) || !Within(realRoot, entry, true)) return false;
    size_t used = strlen(entry);
    if (used + strlen(last) >= size) return false;
    memcpy(entry + used, last, strlen(last) + 1);
    return true;
}

HostPlace ResolvePlace(const char* realRoot, const char* path, char* resolved, size_t size) {
    if (plat::PathResolve(path, resolved, size))
        return Within(realRoot, resolved, false) ? kHostInside : kHostOutside;
    return ResolveEntry(realRoot, path, resolved, size) ? kHostMissing : kHostOutside;
}
