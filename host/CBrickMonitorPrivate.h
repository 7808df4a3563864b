// The monitor's own state, behind CBrickMonitor's private pointer, and the calls the host makes on
// it: CBrick's delivery and sends and CCriticalSection's construction and destruction, each
// through gBrickMonitor, which is null unless a monitor lives (without a monitor each costs one
// test of that pointer); and the lock calls, through CBrickMonitor::Lock and Unlock, where the
// program forwards them.
//
// What it checks beyond the blocks (CBlockWatch) and the lock order (CLockWatch), for the watched
// brick: a handler's answer false only for a (path, type) the rules allow; an exception out of a
// handler only std::bad_alloc; SendData and SendCmd only from the thread running one of its
// handlers; no handler of it starting while another runs; a reset answered within its call by
// exactly one echoing answer and not passed on.
//
// Everything is guarded by `mutex`, which is never held while a handler runs nor while a lock of
// the framework is taken: the calls from the locks come from every thread.
#pragma once

#include "CBlockWatch.h"
#include "CBrickMonitor.h"
#include "CLockWatch.h"

#include <atomic>
#include <mutex>
#include <thread>

struct CBrickMonitorPrivate {
    // How the host hands a block to a handler; returns the handler's answer.
    using Handler = bool (*)(CBrick* brick, cMemBlock& block, bool control);

    CBrickMonitorPrivate(CBrick* watched, const CBrickRules& owed);

    bool Deliver(CBrick* target, cMemBlock& block, bool control, Handler handle);
    void Sending(CBrick* sender, const cMemBlock& block, bool command);
    void LockMade(const void* lock);
    void LockGone(const void* lock);
    void Locked(const void* lock);
    void Unlocking(const void* lock);

    // Keeps a violation; called with `mutex` held.
    void Report(EMonitorRule rule, uint64_t block, uint32_t type, const std::string& seen);

    CBrick* const brick;
    const CBrickRules rules;
    mutable std::mutex mutex;
    std::vector<CBrickViolation> violations;
    CBlockWatch blocks;
    CLockWatch locks;
    uint64_t feeding = 0;

    // The handler call running, if any.
    int depth = 0;
    std::thread::id handlerThread;
    const char* handler = nullptr;
    uint32_t handlerType = 0; // the type of the block it handles
    // A reset being handled: its record, the answers sent and whether it was passed on.
    const void* reset = nullptr;
    int answers = 0, echoes = 0;
    bool resetPassed = false;

private:
    const char* Begin(const cMemBlock& block, bool control);
    void End(const cMemBlock& block, bool control, const char* name, bool answer);
    bool MayRefuse(const cMemBlock& block, bool control) const;
    void CheckReset();
    void SentDuringReset(const cMemBlock& block, bool command);
};

// The host's own lock calls, bound inside the library whatever a program interposes
// (CCriticalSection.cpp).
bool HostLock(CCriticalSection* lock, unsigned long timeout);
bool HostUnlock(CCriticalSection* lock);

// The living monitor, or null.
extern std::atomic<CBrickMonitorPrivate*> gBrickMonitor;

// The living monitor or null: the one load every host call makes.
inline CBrickMonitorPrivate* ActiveMonitor()
{
    return gBrickMonitor.load(std::memory_order_relaxed);
}
