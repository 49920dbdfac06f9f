// The grouping rules read plainly: every lookup walks the lists from the
// head. Tests and fuzz targets hold the tool's sorted files against it.
#pragma once

#include <string>
#include <vector>

// ASCII letters lowered, every other byte as it is.
std::string Fold(std::string text);
// The pieces fgetline hands out with a 4096-byte buffer.
std::vector<std::string> Pieces(const std::string& dump);
// The sorted file the tool must write for dump.
std::string Reference(const std::string& dump);
