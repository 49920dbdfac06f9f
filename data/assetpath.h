// The asset path: a directory that names are relative to, kept normalised
// (backslashes only, ending in one) for the file mapper.
#pragma once

#include <cstdint>

const int kAssetPathSize = 256;
extern char s_AssetPath[kAssetPathSize];
extern int32_t s_AssetDebug;

class datAssetManager {
public:
    static void SetPath(const char* path);
};
