// Locks of the host framework: CSyncObject, CCriticalSection and CSingleLock.
//
// A CCriticalSection is a non-recursive mutual exclusion lock that waits without limit. Lock and
// Unlock are calls into the host library; how the lock waits is the host's own business. Its
// state word is the host's and is never read outside the host library.
//
// A CSingleLock holds a lock from construction (when asked to) until its destruction.
#pragma once

#include "HostApi.h"

#include <atomic>

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

    bool Lock(unsigned long timeout = INFINITE) override;
    bool Unlock() override;

private:
    // Owned by the host library, which alone reads and writes it; it keeps the lock's size.
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
