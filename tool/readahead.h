// Reads a stream ahead of its user, on a thread of its own, a chunk at a time
// into a ring of slots, so that copying the dump out of the system's cache
// overlaps parsing it. Each slot has room in front of its chunk for the
// unread end of the chunk before, so a line split between two chunks is
// joined without moving either. When no thread can be had, the same ring is
// filled on the user's thread, a chunk per call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "core/ipc.h"

struct Stream;

class ReadAhead {
public:
    static const size_t kChunk = 128 << 10;
    static const size_t kCarry = 4096;  // more than a piece left unread
    static const int kSlots = 4;

    // The stream is read only by the ReadAhead (on its thread, when it has
    // one), until Next has returned 0 or -1 or the ReadAhead is gone.
    explicit ReadAhead(Stream* stream);
    ~ReadAhead();
    // Releases the chunk in hand and takes the next one, with carry bytes
    // (at most kCarry, from the chunk in hand) copied in front of it; *start
    // is where those begin. Returns the stream's result for the chunk: bytes
    // read, 0 at the end, -1 after a failure (and so on every later call).
    int32_t Next(const char* carry, size_t carryBytes, char** start);
    // The ring could not be allocated: Next fails from the start.
    bool OutOfMemory() const { return m_Memory == nullptr; }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

private:
    struct Slot {
        char* m_Data;
        int32_t m_Read;
        Semaphore m_Full;   // raised by the thread when m_Read is set
        Semaphore m_Empty;  // raised by the user when done with the slot
    };
    bool StartThread();
    static void RunThread(void* self);
    void Run();
    int32_t Fill(Slot* slot);

    Stream* m_Stream;
    void* m_Memory = nullptr;
    Slot m_Slots[kSlots] = {};
    bool m_Threaded = false;
    int m_Current = -1;
    int32_t m_Last = 1;  // the last result handed out
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};
