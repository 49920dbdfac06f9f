// Static initialisation whose order matters lives in this one file, because
// C++ fixes the order only within a translation unit: the exit-time listing of
// open streams is registered first, so it runs last at exit, after everything
// registered later has been torn down.
#include <cstdlib>

#include "core/ipc.h"
#include "data/hash.h"
#include "data/param.h"
#include "file/stream.h"

static int RegisterExitListing() {
    atexit(Stream::DumpHandles);
    return 1;
}
static int s_ExitListingRegistered = RegisterExitListing();

Semaphore s_OwnerSema = CreateSema(1);

Param assertquery(0, "assertquery", "[core] Ask before aborting due to assertion failure");

// Destroyed at exit before the stream listing runs.
HashTable s_ArgTable(101, false, 32, true, false);
