#include "data/assetpath.h"

#include <cstring>

#include "core/output.h"
#include "core/strings.h"
#include "data/param.h"

char s_AssetPath[kAssetPathSize];
int32_t s_AssetDebug = 0;

// A path that fills the buffer without ending in a separator is cut by one
// more character, so the backslash and the terminator still fit.
static void EndWithSeparator(char* path) {
    size_t length = strlen(path);
    if (path[length - 1] == '\\') return;
    if (length > kAssetPathSize - 2) length = kAssetPathSize - 2;
    path[length] = '\\';
    path[length + 1] = 0;
}

void datAssetManager::SetPath(const char* path) {
    GetDebugLevel("assetDebug", &s_AssetDebug);
    SafeStrncpy(s_AssetPath, path, sizeof s_AssetPath);
    if (s_AssetPath[0]) {
        for (char* p = s_AssetPath; *p; ++p)
            if (*p == '/') *p = '\\';
        EndWithSeparator(s_AssetPath);
    }
    Debugf(s_AssetDebug, "datAssetManager::SetPath(%s)", s_AssetPath);
}
