// The interface every file source fills: ten operation slots, in this order.
// An empty (null) slot means the device lacks that operation. Handles, counts
// and results are signed 32-bit; a negative result is a failure.
#pragma once

#include <cstdint>

typedef void (*EnumCallback)(const char* name, bool isDirectory, void* context);

struct zipEntry;  // location record of a paged archive member

struct FileDevice {
    int32_t (*Open)(const char* name, uint8_t readOnly);
    int32_t (*Create)(const char* name);
    int32_t (*Read)(int32_t handle, void* buffer, int32_t count);
    int32_t (*Write)(int32_t handle, const void* buffer, int32_t count);
    int32_t (*Seek)(int32_t handle, int32_t offset, int32_t origin);
    int32_t (*Close)(int32_t handle);
    int32_t (*EnumFiles)(const char* directory, EnumCallback callback, void* context);
    int32_t (*Size)(int32_t handle);
    int32_t (*Flush)(int32_t handle);
    bool (*Paging)(const char* name, zipEntry* location, uint32_t* pageHandle);
};

// The functions behind LocalDevice's forwarding slots. The remote host's
// functions can be stored here in their place, which redirects every stream on
// LocalDevice, open ones included.
struct LocalBackend {
    bool (*IsNewer)(const char* first, const char* second);
    int32_t (*Open)(const char* name, uint8_t readOnly);
    int32_t (*Create)(const char* name);
    int32_t (*Seek)(int32_t handle, int32_t offset, int32_t origin);
    int32_t (*Write)(int32_t handle, const void* buffer, int32_t count);
    int32_t (*Read)(int32_t handle, void* buffer, int32_t count);
    int32_t (*Close)(int32_t handle);
    bool (*Delete)(const char* name);
};

struct LocalFileDevice {
    FileDevice m_Device;
    LocalBackend m_Backend;
};

extern LocalFileDevice LocalDevice;
// The local disk's own backend functions.
extern const LocalBackend s_LocalBackend;
// Puts the local functions back into LocalDevice's backend block.
void RestoreLocalDevice();

// How many times a failing local read is tried again before it gives up.
const int kLocalReadRetries = 5;
