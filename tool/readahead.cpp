#include "tool/readahead.h"

#include <cstring>

#include "file/stream.h"
#include "platform/platform.h"
#include "tool/resources.h"

// One large page holds the whole ring when the system gives one.
const size_t kRingBytes = 2 << 20;
static_assert(ReadAhead::kSlots * (ReadAhead::kCarry + ReadAhead::kChunk) <= kRingBytes,
              "the ring fits its block");

// Without the ring Next fails at once; without semaphores or a thread the
// ring is filled on the caller's thread instead.
ReadAhead::ReadAhead(Stream* stream) : m_Stream(stream) {
    m_Memory = s_ToolResources->Allocate(kRingBytes);
    if (!m_Memory) {
        m_Last = -1;
        return;
    }
    for (int i = 0; i < kSlots; ++i)
        m_Slots[i].m_Data = static_cast<char*>(m_Memory) + i * (kCarry + kChunk) + kCarry;
    m_Threaded = StartThread();
}

bool ReadAhead::StartThread() {
    for (Slot& slot : m_Slots) {
        slot.m_Full = CreateSema(0);
        slot.m_Empty = CreateSema(1);
        if (!slot.m_Full || !slot.m_Empty) return false;
    }
    return s_ToolResources->StartThread(&m_Thread, RunThread, this);
}

void ReadAhead::RunThread(void* self) { static_cast<ReadAhead*>(self)->Run(); }

int32_t ReadAhead::Fill(Slot* slot) {
    return slot->m_Read = m_Stream->Read(slot->m_Data, static_cast<int32_t>(kChunk));
}

// The thread stops after the end, a failure, or when told to.
void ReadAhead::Run() {
    for (int i = 0;; i = (i + 1) % kSlots) {
        Slot& slot = m_Slots[i];
        WaitSema(slot.m_Empty);
        if (m_Stop) return;
        int32_t read = Fill(&slot);
        SignalSema(slot.m_Full);
        if (read <= 0) return;
    }
}

int32_t ReadAhead::Next(const char* carry, size_t carryBytes, char** start) {
    if (m_Last <= 0) return m_Last;  // the thread has stopped: nothing more comes
    if (carryBytes > kCarry) return m_Last = -1;
    int next = (m_Current + 1) % kSlots;
    Slot& slot = m_Slots[next];
    if (m_Threaded)
        WaitSema(slot.m_Full);
    else
        Fill(&slot);  // the slot in hand, whose carry is copied out below, is another
    char* front = slot.m_Data - carryBytes;
    if (carryBytes > 0) memcpy(front, carry, carryBytes);
    if (m_Threaded && m_Current >= 0) SignalSema(m_Slots[m_Current].m_Empty);
    m_Current = next;
    *start = front;
    return m_Last = slot.m_Read;
}

// A thread waiting for a free slot is woken to see it must stop; one inside
// a read finishes it first.
ReadAhead::~ReadAhead() {
    m_Stop = true;
    if (m_Threaded) {
        for (Slot& slot : m_Slots) SignalSema(slot.m_Empty);
        m_Thread.join();
    }
    for (Slot& slot : m_Slots) {
        if (slot.m_Full) plat::SemaClose(slot.m_Full);
        if (slot.m_Empty) plat::SemaClose(slot.m_Empty);
    }
    s_ToolResources->Free(m_Memory, kRingBytes);
}
