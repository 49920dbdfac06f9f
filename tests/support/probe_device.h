// The in-memory device, with each call's log line marked by the selection it
// ran under: " @0" or " @1" for the device id GetCurrentDevice gives, and a
// "z" when the zip layer was selected. So a test sees where the file mapper
// had put every call.
#pragma once

#include <string>

#include "remote/remote.h"
#include "support/memory_device.h"
#include "zip/zipfile.h"

inline void MarkSelection() {
    if (s_MemoryFs.m_Calls.empty()) return;
    s_MemoryFs.m_Calls.back() +=
        " @" + std::to_string(GetCurrentDevice()) + (s_ZipSelected ? "z" : "");
}

inline const FileDevice& ProbeDevice() {
    static const FileDevice device = {
        [](const char* name, uint8_t readOnly) {
            int32_t r = MemoryDevice.Open(name, readOnly);
            MarkSelection();
            return r;
        },
        [](const char* name) {
            int32_t r = MemoryDevice.Create(name);
            MarkSelection();
            return r;
        },
        [](int32_t handle, void* buffer, int32_t count) {
            int32_t r = MemoryDevice.Read(handle, buffer, count);
            MarkSelection();
            return r;
        },
        [](int32_t handle, const void* buffer, int32_t count) {
            int32_t r = MemoryDevice.Write(handle, buffer, count);
            MarkSelection();
            return r;
        },
        [](int32_t handle, int32_t offset, int32_t origin) {
            int32_t r = MemoryDevice.Seek(handle, offset, origin);
            MarkSelection();
            return r;
        },
        [](int32_t handle) {
            int32_t r = MemoryDevice.Close(handle);
            MarkSelection();
            return r;
        },
        MemoryDevice.EnumFiles,
        MemoryDevice.Size,
        MemoryDevice.Flush,
        MemoryDevice.Paging,
    };
    return device;
}
