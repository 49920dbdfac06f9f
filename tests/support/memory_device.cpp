#include "support/memory_device.h"

#include <algorithm>
#include <cstring>

MemoryFs s_MemoryFs;
FaultPlan s_FaultPlan;

void MemoryFs::Reset() { *this = MemoryFs(); }

std::string MemoryFs::Text(const std::string& name) const {
    auto it = m_Files.find(name);
    return it == m_Files.end() ? std::string() : std::string(it->second.begin(), it->second.end());
}

static void Log(const std::string& line) { s_MemoryFs.m_Calls.push_back(line); }

static int32_t NewHandle(const char* name) {
    int32_t handle = s_MemoryFs.m_NextHandle++;
    s_MemoryFs.m_Handles[handle] = {name, 0};
    return handle;
}

static int32_t MemOpen(const char* name, uint8_t readOnly) {
    Log(std::string("open ") + name + " " + std::to_string(readOnly));
    if (!s_MemoryFs.m_Files.count(name)) return -1;
    return NewHandle(name);
}

static int32_t MemCreate(const char* name) {
    Log(std::string("create ") + name);
    s_MemoryFs.m_Files[name].clear();
    return NewHandle(name);
}

static int32_t MemRead(int32_t handle, void* buffer, int32_t count) {
    Log("read " + std::to_string(handle) + " " + std::to_string(count));
    auto it = s_MemoryFs.m_Handles.find(handle);
    if (it == s_MemoryFs.m_Handles.end()) return -1;
    std::vector<uint8_t>& bytes = s_MemoryFs.m_Files[it->second.first];
    int32_t& position = it->second.second;
    int32_t size = static_cast<int32_t>(bytes.size());
    int32_t n = std::max(0, std::min(count, size - position));
    if (n > 0) memcpy(buffer, bytes.data() + position, n);
    position += n;
    return n;
}

static int32_t MemWrite(int32_t handle, const void* buffer, int32_t count) {
    Log("write " + std::to_string(handle) + " " + std::to_string(count));
    auto it = s_MemoryFs.m_Handles.find(handle);
    if (it == s_MemoryFs.m_Handles.end()) return -1;
    std::vector<uint8_t>& bytes = s_MemoryFs.m_Files[it->second.first];
    int32_t& position = it->second.second;
    if (bytes.size() < static_cast<size_t>(position + count)) bytes.resize(position + count);
    memcpy(bytes.data() + position, buffer, count);
    position += count;
    return count;
}

static int32_t MemSeek(int32_t handle, int32_t offset, int32_t origin) {
    Log("seek " + std::to_string(handle) + " " + std::to_string(offset) + " " +
        std::to_string(origin));
    auto it = s_MemoryFs.m_Handles.find(handle);
    if (it == s_MemoryFs.m_Handles.end()) return -1;
    int32_t size = static_cast<int32_t>(s_MemoryFs.m_Files[it->second.first].size());
    int32_t base = origin == 0 ? 0 : origin == 1 ? it->second.second : size;
    if (base + offset < 0) return -1;
    return it->second.second = base + offset;
}

static int32_t MemClose(int32_t handle) {
    Log("close " + std::to_string(handle));
    return s_MemoryFs.m_Handles.erase(handle) ? 0 : -1;
}

const FileDevice MemoryDevice = {
    MemOpen,    // Open
    MemCreate,  // Create
    MemRead,    // Read
    MemWrite,   // Write
    MemSeek,    // Seek
    MemClose,   // Close
    nullptr,    // EnumFiles
    nullptr,    // Size
    nullptr,    // Flush
    nullptr,    // Paging
};

static bool Fails(int* calls, int from) { return ++*calls >= from && from > 0; }

static int32_t FaultOpen(const char* name, uint8_t readOnly) {
    if (Fails(&s_FaultPlan.m_Opens, s_FaultPlan.m_FailOpenFrom)) return -1;
    return s_FaultPlan.m_Inner->Open(name, readOnly);
}

static int32_t FaultCreate(const char* name) { return s_FaultPlan.m_Inner->Create(name); }

static int32_t FaultRead(int32_t handle, void* buffer, int32_t count) {
    if (Fails(&s_FaultPlan.m_Reads, s_FaultPlan.m_FailReadFrom)) return -1;
    return s_FaultPlan.m_Inner->Read(handle, buffer, count);
}

static int32_t FaultWrite(int32_t handle, const void* buffer, int32_t count) {
    if (Fails(&s_FaultPlan.m_Writes, s_FaultPlan.m_FailWriteFrom)) return -1;
    return s_FaultPlan.m_Inner->Write(handle, buffer, count);
}

static int32_t FaultSeek(int32_t handle, int32_t offset, int32_t origin) {
    if (Fails(&s_FaultPlan.m_Seeks, s_FaultPlan.m_FailSeekFrom)) return -1;
    return s_FaultPlan.m_Inner->Seek(handle, offset, origin);
}

static int32_t FaultClose(int32_t handle) { return s_FaultPlan.m_Inner->Close(handle); }

const FileDevice FaultDevice = {
    FaultOpen,    // Open
    FaultCreate,  // Create
    FaultRead,    // Read
    FaultWrite,   // Write
    FaultSeek,    // Seek
    FaultClose,   // Close
    nullptr,      // EnumFiles
    nullptr,      // Size
    nullptr,      // Flush
    nullptr,      // Paging
};
