// segzip: lists, prints and checks zip archive members as the zip layer serves them.
#include <cstdio>

#include "zip/segzip/segzip.h"

int main(int argc, char** argv) {
    RouteConsoleToStderr();
    SegzipOptions options;
    if (!ParseSegzipArgs(argc, argv, &options)) {
        fputs(kSegzipUsage, stderr);
        return 1;
    }
    return RunSegzip(options);
}
