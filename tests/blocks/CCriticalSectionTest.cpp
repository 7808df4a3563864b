// The host's lock: exclusion under contention, trying without waiting, and scoped holding.
#include "blocks/CCriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

bool TryFromAnotherThread(CCriticalSection& lock)
{
    bool got = false;
    std::thread([&] {
        got = lock.Lock(0);
        if (got)
            lock.Unlock();
    }).join();
    return got;
}

// Exclusion and progress under contention: holders now and then keep the lock across a yield,
// so the others run out of spinning and sleep; a wake-up that Unlock misses hangs this test.
TEST(CCriticalSection, ThreadsIncrementingUnderTheLockLoseNothing)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 100000;
    CCriticalSection lock(false);
    uint32_t counter = 0; // plain: only the lock protects it
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < kRounds; ++i) {
                CSingleLock hold(&lock, true);
                const uint32_t seen = counter;
                if (i % 64 == 0)
                    std::this_thread::yield(); // let others pile up on the lock
                counter = seen + 1;
            }
        });
    }
    go = true;
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(static_cast<uint32_t>(kThreads * kRounds), counter);
}

TEST(CCriticalSection, TryingWithTimeoutZeroFailsWhileHeld)
{
    CCriticalSection lock(false);
    ASSERT_TRUE(lock.Lock(INFINITE));
    EXPECT_FALSE(TryFromAnotherThread(lock));
    EXPECT_FALSE(lock.Lock(0)) << "not recursive";
    EXPECT_TRUE(lock.Unlock());
    EXPECT_TRUE(TryFromAnotherThread(lock));
    EXPECT_TRUE(lock.Lock(0));
    lock.Unlock();
}

TEST(CCriticalSection, AWaiterGetsTheLockWhenItIsGivenBack)
{
    CCriticalSection lock(false);
    lock.Lock();
    std::atomic<int> stage{0};
    std::thread waiter([&] {
        stage = 1;
        lock.Lock(INFINITE); // sleeps: the holder gives it back later
        stage = 2;
        lock.Unlock();
    });
    while (stage.load() != 1)
        std::this_thread::yield();
    for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
    EXPECT_EQ(1, stage.load());
    lock.Unlock();
    waiter.join();
    EXPECT_EQ(2, stage.load());
    EXPECT_TRUE(lock.Lock(0));
    lock.Unlock();
}

TEST(CCriticalSection, ASingleLockHoldsUntilItsScopeEnds)
{
    CCriticalSection lock(false);
    {
        CSingleLock hold(&lock, true);
        EXPECT_TRUE(hold.IsLocked());
        EXPECT_FALSE(TryFromAnotherThread(lock));
    }
    EXPECT_TRUE(TryFromAnotherThread(lock));
    {
        CSingleLock later(&lock, false);
        EXPECT_FALSE(later.IsLocked());
        EXPECT_TRUE(TryFromAnotherThread(lock));
        EXPECT_TRUE(later.Lock());
        EXPECT_FALSE(TryFromAnotherThread(lock));
        EXPECT_TRUE(later.Unlock());
        EXPECT_FALSE(later.IsLocked());
        EXPECT_TRUE(TryFromAnotherThread(lock));
        lock.Lock(); // held directly now; the scope's end must not give it back
    }
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Unlock();
}

} // namespace
