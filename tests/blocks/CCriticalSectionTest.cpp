// The host's lock: exclusion under contention (held through scoped locks), trying without
// waiting, a sleeping waiter, and a scoped lock that gives back only what it took.
#include "blocks/CCriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

bool TryFromAnotherThread(CCriticalSection& lock)
{
    return std::async(std::launch::async, [&] { return lock.Lock(0) && lock.Unlock(); }).get();
}

// Exclusion and progress under contention: holders now and then keep the lock across a yield,
// so the others run out of spinning and sleep; a wake-up that Unlock misses hangs this test.
TEST(CCriticalSection, ThreadsIncrementingUnderTheLockLoseNothing)
{
    CCriticalSection lock(false);
    uint32_t counter = 0; // plain: only the lock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100000; ++i) {
                CSingleLock hold(&lock, true);
                const uint32_t seen = counter;
                if (i % 64 == 0)
                    std::this_thread::yield(); // let others pile up on the lock
                counter = seen + 1;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(400000u, counter);
}

TEST(CCriticalSection, TryingFailsWhileHeldAndAWaiterGetsTheLockWhenGivenBack)
{
    CCriticalSection lock(false);
    ASSERT_TRUE(lock.Lock(INFINITE));
    EXPECT_FALSE(TryFromAnotherThread(lock));
    EXPECT_FALSE(lock.Lock(0)) << "not recursive";
    std::atomic<int> stage{0};
    std::thread waiter([&] {
        stage = 1;
        lock.Lock(INFINITE); // sleeps: the holder gives it back later
        stage = 2;
        lock.Unlock();
    });
    while (stage.load() != 1)
        std::this_thread::yield();
    EXPECT_TRUE(lock.Unlock());
    waiter.join();
    EXPECT_EQ(2, stage.load());
    EXPECT_TRUE(TryFromAnotherThread(lock));
    {
        CSingleLock later(&lock, false);
        EXPECT_TRUE(later.Lock() && !TryFromAnotherThread(lock) && later.Unlock());
        lock.Lock(); // held directly now; the scope's end must not give it back
    }
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Unlock();
}

} // namespace
