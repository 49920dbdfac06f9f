// The local disk as a file device. Its stream slots forward through a backend
// block that the device switch may overwrite, so open streams follow it.
#include <cstring>

#include "core/output.h"
#include "file/device.h"
#include "platform/platform.h"

static bool LocalIsNewer(const char* first, const char* second) {
    int64_t firstTime = 0, secondTime = 0;
    int32_t a = plat::FileLastWriteTime(first, &firstTime);
    if (a < 0) return false;
    int32_t b = plat::FileLastWriteTime(second, &secondTime);
    if (b < 0) return true;
    // Without both times there is nothing to compare: not newer.
    if (a == 0 || b == 0) return false;
    return plat::CompareFileTimes(firstTime, secondTime) > 0;
}

static int32_t LocalOpen(const char* name, uint8_t readOnly) {
    return plat::FileOpen(name, readOnly != 0);
}

static int32_t LocalCreate(const char* name) { return plat::FileCreate(name); }

static int32_t LocalSeek(int32_t handle, int32_t offset, int32_t origin) {
    return plat::FileSeek(handle, offset, origin);
}

static int32_t LocalWrite(int32_t handle, const void* buffer, int32_t count) {
    return plat::FileWrite(handle, buffer, count);
}

// A failing read is tried again a few times, then given up: a lasting
// failure must not hang the program.
static int32_t LocalRead(int32_t handle, void* buffer, int32_t count) {
    for (int attempt = 0;; ++attempt) {
        int32_t error = 0;
        int32_t n = plat::FileRead(handle, buffer, count, &error);
        if (n >= 0) return n;
        if (attempt == kLocalReadRetries) {
            Errorf("ReadFile returned %d, giving up", error);
            return -1;
        }
        Errorf("ReadFile returned %d, retrying", error);
    }
}

static int32_t LocalClose(int32_t handle) { return plat::FileClose(handle) < 0 ? -1 : 0; }

static bool LocalDelete(const char* name) {
    uint32_t attributes = 0;
    if (plat::FileGetAttributes(name, &attributes) && (attributes & plat::kAttrReadOnly))
        plat::FileSetAttributes(name, attributes & ~plat::kAttrReadOnly);
    return plat::FileDelete(name);
}

// The directory and "\*" must fit a 256-byte search pattern. A longer name
// is refused rather than cut, since the cut name may be another directory.
static int32_t LocalEnumFiles(const char* directory, EnumCallback callback, void* context) {
    const size_t kLongestDirectory = 253;
    if (strlen(directory) > kLongestDirectory) return 0;
    int32_t count = plat::DirEnumerate(directory, callback, context);
    return count < 0 ? 0 : count;
}

static int32_t ForwardOpen(const char* name, uint8_t readOnly) {
    return LocalDevice.m_Backend.Open(name, readOnly);
}

static int32_t ForwardCreate(const char* name) { return LocalDevice.m_Backend.Create(name); }

static int32_t ForwardRead(int32_t handle, void* buffer, int32_t count) {
    return LocalDevice.m_Backend.Read(handle, buffer, count);
}

static int32_t ForwardWrite(int32_t handle, const void* buffer, int32_t count) {
    return LocalDevice.m_Backend.Write(handle, buffer, count);
}

static int32_t ForwardSeek(int32_t handle, int32_t offset, int32_t origin) {
    return LocalDevice.m_Backend.Seek(handle, offset, origin);
}

static int32_t ForwardClose(int32_t handle) { return LocalDevice.m_Backend.Close(handle); }

void RestoreLocalDevice() { LocalDevice.m_Backend = s_LocalBackend; }

constexpr LocalBackend s_LocalBackend = {
    LocalIsNewer,  // IsNewer
    LocalOpen,     // Open
    LocalCreate,   // Create
    LocalSeek,     // Seek
    LocalWrite,    // Write
    LocalRead,     // Read
    LocalClose,    // Close
    LocalDelete,   // Delete
};

// Not const: the device switch rewrites the backend block at run time.
LocalFileDevice LocalDevice = {
    {
        ForwardOpen,     // Open
        ForwardCreate,   // Create
        ForwardRead,     // Read
        ForwardWrite,    // Write
        ForwardSeek,     // Seek
        ForwardClose,    // Close
        LocalEnumFiles,  // EnumFiles
        nullptr,         // Size
        nullptr,         // Flush
        nullptr,         // Paging
    },
    s_LocalBackend,
};
