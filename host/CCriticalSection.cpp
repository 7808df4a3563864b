// The slow paths of the host's locks: a contended CCriticalSection sleeps on a futex.
#include "../blocks/CCriticalSection.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Spins this many times on a held lock before sleeping: block locks are held for a few
// instructions, so a short spin usually wins without a system call.
constexpr int kSpinTries = 100;

void FutexWait(std::atomic<int>* word, int expected)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWake(std::atomic<int>* word)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace

static_assert(sizeof(std::atomic<int>) == sizeof(int), "the futex word is a plain int");

CSyncObject::~CSyncObject() {}

CCriticalSection::CCriticalSection(bool) : mState(kFree)
{
    VRN3_LOCK_WORD(mState);
    VRN3_LOCK_CREATED(this);
}

CCriticalSection::~CCriticalSection()
{
    VRN3_LOCK_DESTROYED(this);
}

bool CCriticalSection::LockContended(unsigned long timeout)
{
    for (int i = 0; i < kSpinTries; ++i) {
        int expected = kFree;
        if (mState.compare_exchange_weak(expected, kLocked, std::memory_order_acquire))
            return true;
        if (timeout == 0)
            return false;
        __builtin_ia32_pause();
    }
    // From here on the lock is marked contended, so its holder wakes a sleeper on Unlock.
    while (mState.exchange(kContended, std::memory_order_acquire) != kFree)
        FutexWait(&mState, kContended);
    return true;
}

void CCriticalSection::WakeOne()
{
    FutexWake(&mState);
}
