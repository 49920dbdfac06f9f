#include "tool/resources.h"

#include "platform/platform.h"

// std::thread reports a thread it cannot make by throwing; the tool makes no
// use of exceptions, so the failure is turned into a result here.
static bool StartSystemThread(std::thread* thread, void (*run)(void*), void* context) {
    try {
        *thread = std::thread(run, context);
        return true;
    } catch (...) {
        return false;
    }
}

const ToolResources s_SystemResources = {
    plat::LargeAllocate,  // Allocate
    plat::LargeFree,      // Free
    StartSystemThread,    // StartThread
};

const ToolResources* s_ToolResources = &s_SystemResources;
