#include "core/version.h"

#ifndef SEGSORTER_VERSION
#error "SEGSORTER_VERSION comes from the build: project(... VERSION ...)"
#endif

const char* SegsorterVersion() { return SEGSORTER_VERSION; }
