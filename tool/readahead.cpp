#include "tool/readahead.h"

#include <cstring>

#include "file/stream.h"
#include "platform/platform.h"

// One large page holds the whole ring when the system gives one.
const size_t kRingBytes = 2 << 20;
static_assert(ReadAhead::kSlots * (ReadAhead::kCarry + ReadAhead::kChunk) <= kRingBytes,
              "the ring fits its block");

ReadAhead::ReadAhead(Stream* stream) : m_Stream(stream) {
    if (!Start()) m_Last = -1;
}

// Without memory, semaphores or a thread, Next fails at once.
bool ReadAhead::Start() {
    m_Memory = plat::LargeAllocate(kRingBytes);
    if (!m_Memory) return false;
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = m_Slots[i];
        slot.m_Data = static_cast<char*>(m_Memory) + i * (kCarry + kChunk) + kCarry;
        slot.m_Full = CreateSema(0);
        slot.m_Empty = CreateSema(1);
        if (!slot.m_Full || !slot.m_Empty) return false;
    }
    m_Thread = std::thread(&ReadAhead::Run, this);
    return true;
}

// The thread stops after the end, a failure, or when told to.
void ReadAhead::Run() {
    for (int i = 0;; i = (i + 1) % kSlots) {
        Slot& slot = m_Slots[i];
        WaitSema(slot.m_Empty);
        if (m_Stop) return;
        slot.m_Read = m_Stream->Read(slot.m_Data, static_cast<int32_t>(kChunk));
        SignalSema(slot.m_Full);
        if (slot.m_Read <= 0) return;
    }
}

int32_t ReadAhead::Next(const char* carry, size_t carryBytes, char** start) {
    if (m_Last <= 0) return m_Last;  // the thread has stopped: nothing more comes
    if (carryBytes > kCarry) return m_Last = -1;
    int next = (m_Current + 1) % kSlots;
    Slot& slot = m_Slots[next];
    WaitSema(slot.m_Full);
    char* front = slot.m_Data - carryBytes;
    if (carryBytes > 0) memcpy(front, carry, carryBytes);
    if (m_Current >= 0) SignalSema(m_Slots[m_Current].m_Empty);
    m_Current = next;
    *start = front;
    return m_Last = slot.m_Read;
}

// A thread waiting for a free slot is woken to see it must stop; one inside
// a read finishes it first.
ReadAhead::~ReadAhead() {
    m_Stop = true;
    for (Slot& slot : m_Slots) SignalSema(slot.m_Empty);
    if (m_Thread.joinable()) m_Thread.join();
    for (Slot& slot : m_Slots) {
        if (slot.m_Full) plat::SemaClose(slot.m_Full);
        if (slot.m_Empty) plat::SemaClose(slot.m_Empty);
    }
    plat::LargeFree(m_Memory, kRingBytes);
}
