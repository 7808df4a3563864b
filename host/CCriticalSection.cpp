// The host's locks. An uncontended CCriticalSection is taken and given back with one atomic
// instruction each; a contended one spins briefly, then its waiters sleep on a futex. The lock's
// state word lives in the object but only this file reads or writes it.
#include "../blocks/CCriticalSection.h"

#include "CBrickMonitorPrivate.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

// Race checkers cannot see a lock made of atomics and a futex. A build for one of them
// (VRN3_ANNOTATE_LOCKS=drd or helgrind in CMake) tells it where each lock is taken and given
// back, and that the lock's own atomic word is no data race; in every other build these are
// no-ops.
#if defined(VRN3_ANNOTATE_LOCKS_DRD)
#include <valgrind/drd.h>
#elif defined(VRN3_ANNOTATE_LOCKS_HELGRIND)
#include <valgrind/helgrind.h>
#endif
#if defined(VRN3_ANNOTATE_LOCKS_DRD) || defined(VRN3_ANNOTATE_LOCKS_HELGRIND)
#define VRN3_LOCK_CREATED(lock) ANNOTATE_RWLOCK_CREATE(lock)
#define VRN3_LOCK_DESTROYED(lock) ANNOTATE_RWLOCK_DESTROY(lock)
#define VRN3_LOCK_ACQUIRED(lock) ANNOTATE_RWLOCK_ACQUIRED(lock, 1)
#define VRN3_LOCK_RELEASED(lock) ANNOTATE_RWLOCK_RELEASED(lock, 1)
#define VRN3_LOCK_WORD(word) ANNOTATE_BENIGN_RACE_SIZED(&(word), sizeof(word), "the lock's own atomic word")
#else
#define VRN3_LOCK_CREATED(lock) ((void)0)
#define VRN3_LOCK_DESTROYED(lock) ((void)0)
#define VRN3_LOCK_ACQUIRED(lock) ((void)0)
#define VRN3_LOCK_RELEASED(lock) ((void)0)
#define VRN3_LOCK_WORD(word) ((void)0)
#endif

namespace {

// On i386 the slow paths take their arguments in registers: a function whose arguments are on the
// stack can end in a jump only to one that needs no more stack arguments than it has.
#if defined(__i386__)
#define VRN3_SLOW_PATH __attribute__((noinline, regparm(3)))
#else
#define VRN3_SLOW_PATH __attribute__((noinline))
#endif

// kFree: nobody holds it; kLocked: held, nobody sleeps; kContended: held, maybe sleepers.
enum : int { kFree = 0, kLocked = 1, kContended = 2 };

// Spins this many times on a held lock before sleeping: block locks are held for a few
// instructions, so a short spin usually wins without a system call.
constexpr int kSpinTries = 100;

void FutexWait(std::atomic<int>* word, int expected)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

// Out of line, as LockContended is: the fast paths of Lock and Unlock then need no register
// saved and, on i386, no GOT pointer set up for the system call's PLT entry. Returns true, Unlock's
// result, so that Unlock ends in a jump here rather than a call that needs a frame.
VRN3_SLOW_PATH bool FutexWake(std::atomic<int>* word)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    return true;
}

// The slow path of Lock, once the first attempt found the lock held. Lock ends in a jump here, so
// its own fast path keeps no frame.
VRN3_SLOW_PATH bool LockContended(std::atomic<int>& state, unsigned long timeout)
{
    for (int i = 0; i < kSpinTries; ++i) {
        int expected = kFree;
        if (state.compare_exchange_weak(expected, kLocked, std::memory_order_acquire))
            return true;
        if (timeout == 0)
            return false;
        __builtin_ia32_pause();
    }
    // From here on the lock is marked contended, so its holder wakes a sleeper on Unlock. A
    // waiter that wakes marks it so again: others may still sleep, and it must wake the next.
    int seen = state.exchange(kContended, std::memory_order_acquire);
    while (seen != kFree) {
        FutexWait(&state, kContended);
        seen = state.exchange(kContended, std::memory_order_acquire); // others may sleep
    }
    return true;
}

// While a brick monitor lives it hears of every lock made and destroyed (it keeps what it learns
// beside the locks, by address); without one, each costs the test of one pointer.
__attribute__((noinline)) void TellMade(const void* lock)
{
    ActiveMonitor()->LockMade(lock);
}

__attribute__((noinline)) void TellGone(const void* lock)
{
    ActiveMonitor()->LockGone(lock);
}

} // namespace

static_assert(sizeof(std::atomic<int>) == sizeof(int), "the futex word is a plain int");

CSyncObject::~CSyncObject() {}

CCriticalSection::CCriticalSection(bool) : mState(kFree)
{
    VRN3_LOCK_WORD(mState);
    VRN3_LOCK_CREATED(this);
    if (__builtin_expect(ActiveMonitor() != nullptr, 0))
        TellMade(this);
}

CCriticalSection::~CCriticalSection()
{
    VRN3_LOCK_DESTROYED(this);
    if (__builtin_expect(ActiveMonitor() != nullptr, 0))
        TellGone(this);
}

bool CCriticalSection::Lock(unsigned long timeout)
{
    int expected = kFree;
    const bool held =
        mState.compare_exchange_strong(expected, kLocked, std::memory_order_acquire) || LockContended(mState, timeout);
    if (held)
        VRN3_LOCK_ACQUIRED(this);
    return held;
}

bool CCriticalSection::Unlock()
{
    VRN3_LOCK_RELEASED(this);
    if (__builtin_expect(mState.exchange(kFree, std::memory_order_release) == kContended, 0))
        return FutexWake(&mState);
    return true;
}

// The two calls above under names the library alone binds to them, for the monitor's lock calls
// (CBrickMonitor::Lock), which a program that interposes on Lock and Unlock forwards to. A member
// function takes its object as its first argument, as these do, on i386 and amd64 alike.
#pragma GCC diagnostic push
#if !defined(__clang__) // GCC warns that an alias's type differs from its target's; clang has no such warning
#pragma GCC diagnostic ignored "-Wattribute-alias"
#endif
bool HostLock(CCriticalSection* lock, unsigned long timeout)
    __attribute__((alias("_ZN16CCriticalSection4LockEm"), visibility("hidden")));
bool HostUnlock(CCriticalSection* lock) __attribute__((alias("_ZN16CCriticalSection6UnlockEv"), visibility("hidden")));
#pragma GCC diagnostic pop
