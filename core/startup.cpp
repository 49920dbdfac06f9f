// Static initialisation whose order matters lives in this one file, because
// C++ fixes the order only within a translation unit: the exit-time listing of
// open streams is registered first, so it runs last at exit, after everything
// registered later has been torn down.
#include <cstdlib>

#include "core/ipc.h"
#include "file/stream.h"

static int RegisterExitListing() {
    atexit(Stream::DumpHandles);
    return 1;
}
static int s_ExitListingRegistered = RegisterExitListing();

Semaphore s_OwnerSema = CreateSema(1);
