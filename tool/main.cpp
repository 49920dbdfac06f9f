#include <cstdio>

#include "core/output.h"
#include "tool/segsorter.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        Errorf("%s", kUsage);
        Displayf("%s", kDescription);
        return -1;
    }
    // No line end: the next console output continues on this line.
    printf("argc = %d", argc);
    return ProcessDump(argv[1], argv[2], argc > 3 ? argv[3] : nullptr);
}
