// Semaphores, the recursive mutex and its guard.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/ipc.h"
#include "platform/platform.h"
#include "support/capture_system.h"

namespace {

// Whether the semaphore's count stands at 0; leaves it as it was. Only valid
// while no other thread waits on it.
bool Held(Semaphore sema) {
    if (!SignalSema(sema)) return false;
    WaitSema(sema);
    return true;
}

void WaitFor(const std::atomic<int>& step, int value) {
    while (step.load() != value) std::this_thread::yield();
}

TEST(Mutexes, OnlyTheOwnerUnlocksAndAsOftenAsItLocked) {
    Mutex mutex;
    std::atomic<int> step{0};
    std::atomic<uint32_t> ownerId{0};
    std::thread owner([&] {
        ownerId = plat::ThreadId();
        for (int i = 0; i < 3; ++i) mutex.Lock();
        for (int i = 0; i < 2; ++i) mutex.Unlock();
        step = 1;
        WaitFor(step, 2);
        mutex.Unlock();
    });
    WaitFor(step, 1);
    mutex.Unlock();  // not the owner: changes nothing
    EXPECT_EQ(ownerId.load(), mutex.m_Owner.load());
    EXPECT_EQ(1u, mutex.m_LockCount);
    EXPECT_TRUE(Held(mutex.m_Sema));
    step = 2;
    owner.join();
    EXPECT_EQ(0u, mutex.m_Owner.load());
    EXPECT_EQ(0u, mutex.m_LockCount);
    EXPECT_FALSE(Held(mutex.m_Sema));
    EXPECT_FALSE(Held(s_OwnerSema));
}

TEST(Mutexes, GuardedCounterIsExact) {
    Mutex mutex;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                MutexGuard guard(&mutex);
                MutexGuard nested(&mutex);
                ++counter;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(8 * 3000, counter);
    EXPECT_EQ(0u, mutex.m_LockCount);
}

TEST(Semaphores, CountStaysAtMostOneAndMisuseFailsTheAssertion) {
    Semaphore sema = CreateSema(0);
    ASSERT_NE(nullptr, sema);
    EXPECT_TRUE(SignalSema(sema));
    EXPECT_FALSE(SignalSema(sema));  // already at the maximum
    EXPECT_TRUE(WaitSema(sema));
    plat::SemaClose(sema);

    const struct {
        void (*fail)();
        const char* expression;
    } cases[] = {
        {[] { EXPECT_FALSE(WaitSema(nullptr)); }, "sema"},
        {[] { EXPECT_FALSE(SignalSema(nullptr)); }, "sema"},
        {[] { Mutex().Lock(); },
         "\"Mutex Lock/Unlock chain not properly utilized\" && m_LockCount == 0"},
    };
    for (const auto& c : cases) {
        CaptureSystem cap;
        cap.m_DebuggerResumes = true;
        c.fail();
        const std::string start = std::string("<12>Fatal Error: Assert(") + c.expression;
        EXPECT_EQ(0u, cap.m_Console.find(start + ") failed in [ipc.cpp, line ")) << cap.m_Console;
    }
}

}  // namespace
