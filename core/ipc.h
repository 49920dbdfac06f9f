// Semaphores and the recursive mutex.
#pragma once

#include <atomic>
#include <cstdint>

namespace plat {
struct Sema;
}
typedef plat::Sema* Semaphore;

// A new semaphore with maximum count 1; null on failure.
Semaphore CreateSema(uint8_t initialCount);
// True when the wait ended by the semaphore being signalled.
bool WaitSema(Semaphore sema);
// True when the count was raised; false when it already stood at 1.
bool SignalSema(Semaphore sema);

// Guards m_Owner of every Mutex; created during static initialisation.
extern Semaphore s_OwnerSema;

class Mutex {
public:
    Mutex();
    ~Mutex();
    void Lock();
    void Unlock();
    bool CheckOwner(bool test, uint32_t id);

    Semaphore m_Sema;
    // Read by threads that do not hold the mutex, so the accesses are atomic
    // (relaxed: the semaphore orders everything else).
    std::atomic<uint32_t> m_Owner;
    uint32_t m_LockCount;

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
};

class MutexGuard {
public:
    explicit MutexGuard(Mutex* mutex);
    ~MutexGuard();

    uint8_t m_State;
    Mutex* m_Mutex;

    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;
};
