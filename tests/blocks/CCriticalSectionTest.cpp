// The host's lock: exclusion under contention (held through scoped locks), trying without
// waiting, sleeping waiters and their wake-ups, and a scoped lock that gives back only what it
// took.
//
// The lock sleeps and wakes through the C library's syscall(), which this program replaces (it
// exports its own, so the host library's calls bind to it): futex calls on the lock under test
// are seen here before they go on to the real one. A test thus knows when a waiter sleeps and
// how often a holder woke one, without waiting for anything to happen in time. AddressSanitizer's
// runtime calls syscall() while it starts, before its shadow memory exists, which an instrumented
// replacement cannot survive: a sanitizer build leaves the replacement and the tests that watch
// the futex out, and the plain build runs them. A build whose locks are annotated for a race
// checker runs under valgrind, where the replacement's lookup of the next syscall() finds the
// replacement itself, which then calls itself until its stack runs out: such a build leaves them
// out too.
#include "../../blocks/CCriticalSection.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <linux/futex.h>
#include <sys/syscall.h>

#include <atomic>
#include <cstdarg>
#include <future>
#include <thread>
#include <vector>

#if !defined(__SANITIZE_ADDRESS__) && !defined(VRN3_ANNOTATE_LOCKS_DRD) && !defined(VRN3_ANNOTATE_LOCKS_HELGRIND)
#define VRN3_WATCH_FUTEX
#endif

#ifdef VRN3_WATCH_FUTEX
namespace {

std::atomic<const void*> gWatched{nullptr}; // the lock whose futex calls are counted
std::atomic<int> gSleeping{0};              // its waiters inside FUTEX_WAIT
std::atomic<int> gWakes{0};                 // FUTEX_WAKE calls on it
std::atomic<void*> gWord{nullptr};          // its futex word, as the lock named it

using TSyscall = long (*)(long, ...);

// The C library's syscall(). Looked up without a guarded static: two threads that both found it
// unset would have one wait for the other's lookup in a futex call made through syscall(), that
// is through this replacement, which would ask for it again, and again. Both lookups find the
// same function, so either may store it.
TSyscall RealSyscall()
{
    static std::atomic<TSyscall> real{nullptr}; // constant: initialised before anything runs
    TSyscall found = real.load(std::memory_order_acquire);
    if (found == nullptr) {
        found = reinterpret_cast<TSyscall>(dlsym(RTLD_NEXT, "syscall"));
        real.store(found, std::memory_order_release);
    }
    return found;
}

bool OnWatchedLock(void* word)
{
    const char* lock = static_cast<const char*>(gWatched.load());
    return lock != nullptr && word >= lock && word < lock + sizeof(CCriticalSection);
}

// Wakes every waiter that sleeps on the watched lock, through the real futex call.
void WakeAll()
{
    if (gWord.load() != nullptr)
        RealSyscall()(SYS_futex, gWord.load(), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

} // namespace

extern "C" long syscall(long number, ...)
{
    va_list args;
    va_start(args, number);
    long a[6];
    for (long& arg : a)
        arg = va_arg(args, long);
    va_end(args);
    void* word = reinterpret_cast<void*>(a[0]);
    const bool watched = number == SYS_futex && OnWatchedLock(word);
    const int op = static_cast<int>(a[1]) & ~FUTEX_PRIVATE_FLAG;
    if (watched && op == FUTEX_WAKE)
        ++gWakes;
    if (watched && op == FUTEX_WAIT) {
        gWord = word;
        ++gSleeping;
    }
    const long result = RealSyscall()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    if (watched && op == FUTEX_WAIT)
        --gSleeping;
    return result;
}

namespace {

bool TryFromAnotherThread(CCriticalSection& lock)
{
    return std::async(std::launch::async, [&] { return lock.Lock(0) && lock.Unlock(); }).get();
}

// A lock whose futex calls the test sees, counted from zero.
struct Watched {
    Watched()
    {
        gWatched = &lock;
        gSleeping = 0;
        gWakes = 0;
        gWord = nullptr;
    }
    ~Watched() { gWatched = nullptr; }
    void UntilSleeping(int waiters) const
    {
        while (gSleeping.load() < waiters)
            std::this_thread::yield();
    }
    CCriticalSection lock{false};
};

} // namespace
#endif

namespace {

// Exclusion and progress under contention: holders now and then keep the lock across a yield,
// so the others run out of spinning and sleep.
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

} // namespace

#ifdef VRN3_WATCH_FUTEX
namespace {

TEST(CCriticalSection, TryingFailsWhileHeldAndASleepingWaiterGetsTheLockWhenGivenBack)
{
    Watched w;
    CCriticalSection& lock = w.lock;
    ASSERT_TRUE(lock.Lock(INFINITE));
    EXPECT_FALSE(TryFromAnotherThread(lock));
    EXPECT_FALSE(lock.Lock(0)) << "not recursive";
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        lock.Lock(INFINITE);
        got = true;
        lock.Unlock();
    });
    w.UntilSleeping(1);
    EXPECT_TRUE(lock.Unlock());
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_TRUE(TryFromAnotherThread(lock));
    {
        CSingleLock later(&lock, false);
        EXPECT_TRUE(later.Lock() && !TryFromAnotherThread(lock) && later.Unlock());
        lock.Lock(); // held directly now; neither the scope's end nor Unlock() may give it back
        EXPECT_TRUE(later.Unlock());
    }
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Unlock();
}

// Two waiters sleep; the holder wakes one. That one must leave the lock marked as wanted, so
// that giving it back wakes the other: a second wake-up, seen before anything waits on it. (If
// it is missing, the test wakes the forgotten waiter itself rather than hang.)
TEST(CCriticalSection, AWokenWaiterGivingTheLockBackWakesTheNextSleeper)
{
    Watched w;
    w.lock.Lock(INFINITE);
    std::atomic<int> released{0};
    auto waiter = [&] {
        w.lock.Lock(INFINITE);
        w.lock.Unlock();
        ++released;
    };
    std::thread first(waiter), second(waiter);
    w.UntilSleeping(2);
    w.lock.Unlock();
    while (released.load() < 1)
        std::this_thread::yield();
    EXPECT_GE(gWakes.load(), 2) << "the first waiter gave the lock back without waking the second";
    while (released.load() < 2) {
        WakeAll();
        std::this_thread::yield();
    }
    first.join();
    second.join();
}

} // namespace
#endif
