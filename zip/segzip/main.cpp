// segzip: lists, prints and checks zip archive members as the zip layer serves them.
#include <cstdio>
#include <cstring>

#include "core/output.h"
#include "zip/segzip/segzip.h"

// Every command's report or bytes go to standard output; one that did not
// reach it whole (a full disk, a closed pipe's end) fails the run, so this
// check covers all of them at once.
static bool OutputWhole() {
    int error = CloseStdout();
    if (error)
        fprintf(stderr, "segzip: standard output was not written whole%s%s\n", error > 0 ? ": " : "",
                error > 0 ? strerror(error) : "");
    return error == 0;
}

int main(int argc, char** argv) {
    RouteConsoleToStderr();
    SegzipOptions options;
    int status = 1;
    if (!ParseSegzipArgs(argc, argv, &options, &status)) return status;
    status = RunSegzip(options);
    return OutputWhole() ? status : 1;
}
