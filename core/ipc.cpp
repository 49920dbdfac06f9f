#include "core/ipc.h"

#include "core/assert.h"
#include "platform/platform.h"

Semaphore CreateSema(uint8_t initialCount) { return plat::SemaCreate(initialCount); }

bool WaitSema(Semaphore sema) {
    Assert(sema);
    return sema && plat::SemaWait(sema);
}

bool SignalSema(Semaphore sema) {
    Assert(sema);
    return sema && plat::SemaSignal(sema);
}

Mutex::Mutex() : m_Sema(CreateSema(1)), m_Owner(0), m_LockCount(0) {}

Mutex::~Mutex() {
    Assert("Mutex Lock/Unlock chain not properly utilized" && m_LockCount == 0);
    Semaphore sema = m_Sema;
    Assert(sema);
    plat::SemaClose(sema);
}

bool Mutex::CheckOwner(bool test, uint32_t id) {
    Semaphore sema = m_Sema;
    Assert(sema);
    WaitSema(s_OwnerSema);
    bool result = true;
    if (test)
        result = m_Owner.load(std::memory_order_relaxed) == id;
    else
        m_Owner.store(id, std::memory_order_relaxed);
    SignalSema(s_OwnerSema);
    return result;
}

void Mutex::Lock() {
    uint32_t caller = plat::ThreadId();
    Assert(caller != 0);
    Semaphore sema = m_Sema;
    Assert(sema);
    if (!CheckOwner(true, caller)) WaitSema(m_Sema);
    m_Owner.store(caller, std::memory_order_relaxed);
    m_LockCount++;
}

void Mutex::Unlock() {
    Semaphore sema = m_Sema;
    Assert(sema);
    if (plat::ThreadId() != m_Owner.load(std::memory_order_relaxed)) return;
    if (--m_LockCount != 0) return;
    CheckOwner(false, 0);
    SignalSema(m_Sema);
}

MutexGuard::MutexGuard(Mutex* mutex) : m_State(0), m_Mutex(mutex) {
    m_Mutex->Lock();
    m_State = 1;
}

MutexGuard::~MutexGuard() {
    if (m_State == 1) m_Mutex->Unlock();
    m_State = 0;
}
