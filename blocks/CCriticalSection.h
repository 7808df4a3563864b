// Locks of the host framework: CSyncObject, CCriticalSection and CSingleLock.
//
// A CCriticalSection is a non-recursive mutual exclusion lock that waits without limit. It is
// built for the case that dominates block traffic, a lock taken and given back by one thread
// with nobody else waiting: then Lock and Unlock are one atomic instruction each, inline. Only
// a contended lock goes to the host library, where waiters sleep on a futex.
//
// A CSingleLock holds a lock from construction (when asked to) until its destruction.
#pragma once

#include "HostApi.h"

#include <atomic>
#include <cstdint>

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

// The timeout that means "wait without limit".
constexpr unsigned long INFINITE = 0xFFFFFFFFul;

class VRN3_HOST_API CSyncObject {
public:
    virtual ~CSyncObject();
    // Takes the lock. A timeout of 0 only tries; any other value waits without limit.
    // Returns true when the lock is held.
    virtual bool Lock(unsigned long timeout = INFINITE) = 0;
    virtual bool Unlock() = 0;
};

class VRN3_HOST_API CCriticalSection final : public CSyncObject {
public:
    // The flag names the lock's owner in the host's own framework; locks in blocks are always
    // made with false, and this implementation ignores it.
    explicit CCriticalSection(bool initiallyOwned = false);
    ~CCriticalSection() override;

    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    bool Lock(unsigned long timeout = INFINITE) override
    {
        int expected = kFree;
        const bool held = mState.compare_exchange_strong(expected, kLocked, std::memory_order_acquire) ||
                          LockContended(timeout);
        if (held)
            VRN3_LOCK_ACQUIRED(this);
        return held;
    }

    bool Unlock() override
    {
        VRN3_LOCK_RELEASED(this);
        if (mState.exchange(kFree, std::memory_order_release) == kContended)
            WakeOne();
        return true;
    }

private:
    // kFree: nobody holds it; kLocked: held, nobody sleeps; kContended: held, maybe sleepers.
    enum : int { kFree = 0, kLocked = 1, kContended = 2 };

    bool LockContended(unsigned long timeout);
    void WakeOne();

    std::atomic<int> mState;
};

class VRN3_HOST_API CSingleLock {
public:
    CSingleLock(CSyncObject* object, bool initialLock) : mObject(object), mLocked(false)
    {
        if (initialLock)
            Lock();
    }
    ~CSingleLock()
    {
        if (mLocked)
            mObject->Unlock();
    }

    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    bool Lock(unsigned long timeout = INFINITE)
    {
        mLocked = mObject->Lock(timeout);
        return mLocked;
    }
    bool Unlock()
    {
        if (mLocked)
            mLocked = !mObject->Unlock();
        return !mLocked;
    }
    bool IsLocked() const { return mLocked; }

private:
    CSyncObject* mObject;
    bool mLocked;
};
