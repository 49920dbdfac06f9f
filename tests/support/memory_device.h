// Devices for tests: files kept in memory with a log of every device call,
// and a device that wraps another and fails chosen calls on demand.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "file/device.h"

struct MemoryFile {
    std::vector<uint8_t> m_Bytes;
    int32_t m_Position = 0;
    bool m_Open = false;
};

// One process-wide in-memory file system behind MemoryDevice.
struct MemoryFs {
    std::map<std::string, std::vector<uint8_t>> m_Files;
    std::map<int32_t, std::pair<std::string, int32_t>> m_Handles;  // handle -> name, position
    int32_t m_NextHandle = 100;
    // One line per device call, e.g. "read 7 4096", "write 7 100", "seek 7 10 0".
    std::vector<std::string> m_Calls;

    void Reset();
    std::string Text(const std::string& name) const;
};
extern MemoryFs s_MemoryFs;
extern const FileDevice MemoryDevice;

// Which calls FaultDevice fails: the Nth call of a slot (1-based) and every
// call after it, until cleared. 0 means never.
struct FaultPlan {
    FileDevice* m_Inner = nullptr;
    int m_FailOpenFrom = 0;
    int m_FailReadFrom = 0;
    int m_FailWriteFrom = 0;
    int m_FailSeekFrom = 0;
    int m_Opens = 0, m_Reads = 0, m_Writes = 0, m_Seeks = 0;
};
extern FaultPlan s_FaultPlan;
extern const FileDevice FaultDevice;
