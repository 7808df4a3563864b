// The host's locks. An uncontended CCriticalSection is taken with one atomic instruction and
// given back with a plain store; a contended one spins briefly, then its waiters sleep on a
// futex.
//
// The state word, which only this file reads or writes: its low byte is the lock (1 held, 0
// free), the bytes above count the threads that sleep or are about to sleep on it. Unlock
// stores 0 into the low byte and then reads the count to see whether to wake somebody. That
// read can overtake the store on this CPU, so a waiter that has just counted itself in might be
// missed; the waiter closes that gap instead, once, on its slow path: it makes every thread of
// the process pass a full memory barrier (membarrier) after counting itself and before it looks
// at the lock. Then either the holder's store is visible to the waiter, which takes the lock,
// or the holder's read comes after that barrier and sees the waiter, which it wakes. Where the
// kernel has no membarrier, Unlock fences its own store instead.
#include "../blocks/CCriticalSection.h"

#include <linux/futex.h>
#include <linux/membarrier.h>
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

// The low byte: held or free. Each sleeper, or thread about to sleep, adds kWaiter.
constexpr int kHeldMask = 0xFF;
constexpr int kWaiter = 0x100;

// Spins this many times on a held lock before sleeping: block locks are held for a few
// instructions, so a short spin usually wins without a system call.
constexpr int kSpinTries = 100;

bool RegisterProcessBarrier()
{
    return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

// True once this process may use membarrier. Set while the host library is loaded, before any
// thread can reach a lock of it; false (every Unlock fences) until then and where the kernel
// refuses.
const bool gProcessBarrier = RegisterProcessBarrier();

// A full memory barrier on every running thread of the process.
void ProcessBarrier()
{
    if (!gProcessBarrier || syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) != 0)
        std::atomic_thread_fence(std::memory_order_seq_cst);
}

// The lock byte, the low byte of the state word on this little-endian machine.
unsigned char* HeldByte(std::atomic<int>& state)
{
    return reinterpret_cast<unsigned char*>(&state);
}

bool TryTake(std::atomic<int>& state)
{
    return __atomic_exchange_n(HeldByte(state), 1, __ATOMIC_ACQUIRE) == 0;
}

void FutexWait(std::atomic<int>* word, int expected)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWake(std::atomic<int>* word)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// The slow path of Lock, once the first attempt found the lock held. Every attempt after the
// waiter has counted itself in is an atomic exchange, so a thread that takes the lock after it
// (also by exchange) sees the count when it gives the lock back.
bool LockContended(std::atomic<int>& state, unsigned long timeout)
{
    if (timeout == 0)
        return false;
    for (int i = 0; i < kSpinTries; ++i) {
        if ((state.load(std::memory_order_relaxed) & kHeldMask) == 0 && TryTake(state))
            return true;
        __builtin_ia32_pause();
    }
    state.fetch_add(kWaiter);
    ProcessBarrier();
    while (!TryTake(state)) {
        const int seen = state.load(std::memory_order_relaxed);
        if ((seen & kHeldMask) != 0)
            FutexWait(&state, seen);
    }
    state.fetch_sub(kWaiter);
    return true;
}

} // namespace

static_assert(sizeof(std::atomic<int>) == sizeof(int), "the futex word is a plain int");

CSyncObject::~CSyncObject() {}

CCriticalSection::CCriticalSection(bool) : mState(0)
{
    VRN3_LOCK_WORD(mState);
    VRN3_LOCK_CREATED(this);
}

CCriticalSection::~CCriticalSection()
{
    VRN3_LOCK_DESTROYED(this);
}

bool CCriticalSection::Lock(unsigned long timeout)
{
    const bool held = TryTake(mState) || LockContended(mState, timeout);
    if (held)
        VRN3_LOCK_ACQUIRED(this);
    return held;
}

bool CCriticalSection::Unlock()
{
    VRN3_LOCK_RELEASED(this);
    __atomic_store_n(HeldByte(mState), 0, __ATOMIC_RELEASE);
    if (!gProcessBarrier)
        std::atomic_thread_fence(std::memory_order_seq_cst);
    else
        std::atomic_signal_fence(std::memory_order_seq_cst); // the read stays after the store here
    if (mState.load(std::memory_order_relaxed) >= kWaiter)
        FutexWake(&mState);
    return true;
}
