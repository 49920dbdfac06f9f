// The project's version, set once in the top CMakeLists.txt.
#pragma once

// "MAJOR.MINOR.PATCH".
const char* SegsorterVersion();
