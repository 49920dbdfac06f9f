// filehost: serves a directory to the remote file device.
#include "remote/filehost/host.h"

int main(int argc, char** argv) {
    HostOptions options;
    if (!ParseHostArgs(argc, argv, &options)) return 1;
    return RunHost(options);
}
