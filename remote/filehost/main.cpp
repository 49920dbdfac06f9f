// filehost: serves a directory to the remote file device.
#include "remote/filehost/host.h"

int main(int argc, char** argv) {
    HostOptions options;
    int status = 1;
    if (!ParseHostArgs(argc, argv, &options, &status)) return status;
    return RunHost(options);
}
