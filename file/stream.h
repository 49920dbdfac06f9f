// Buffered streams: a fixed table of 32 entries, each with its own static
// 4096-byte buffer, over swappable file devices.
#pragma once

#include <cstdint>

#include "file/device.h"

class Mutex;

const int kMaxStreams = 32;
const int kStreamBufferSize = 4096;
const int kStreamNameLength = 160;

struct Stream {
    static Stream* Open(const char* name, bool readOnly);
    static Stream* Create(const char* name);
    static Stream* AllocHandle(const char* name, int32_t handle, FileDevice* device);
    static void CloseAll();
    static void DumpHandles();

    int32_t Read(void* buffer, int32_t count);
    int32_t Write(const void* buffer, int32_t count);
    int32_t Flush();
    int32_t Close();
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    FileDevice* m_Device;  // null marks a free entry
    int32_t m_Handle;
    char m_Name[kStreamNameLength];
    uint8_t* m_Buffer;
    int32_t m_FileOffset;  // device position of the buffer's first byte
    int32_t m_BufferPos;
    int32_t m_BufferFill;  // 0 unless reading
    int32_t m_BufferSize;
};

// Stores one line, its line feed included, of at most size - 1 bytes, always
// terminated. Returns the number of bytes stored; 0 at end of file.
int32_t fgetline(char* buffer, int32_t size, Stream* stream);

extern Stream s_StreamTable[kMaxStreams];
extern FileDevice* s_ReadDevice;
extern FileDevice* s_WriteDevice;
extern bool (*s_OpenHook)(const char* name, bool readOnly);
extern int32_t s_StreamDebug;
// Created by the first AllocHandle; null before.
extern Mutex* s_StreamMutex;
