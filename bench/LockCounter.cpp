// The counting definitions of the host's lock calls (see LockCounter.h).
#include "LockCounter.h"

#include "../blocks/CCriticalSection.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace {

// Counted calls, from all threads. Bumped only while counting, in untimed passes, so their
// locked instructions never reach a timed figure.
std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gLocks{0};
std::atomic<uint64_t> gUnlocks{0};

using LockFn = bool (*)(CCriticalSection*, unsigned long);
using UnlockFn = bool (*)(CCriticalSection*);

// The host library's definition of `symbol`, the next one after the executable's own.
template <class Fn>
Fn HostDefinition(const char* symbol)
{
    void* found = dlsym(RTLD_NEXT, symbol);
    if (found == nullptr) {
        std::fprintf(stderr, "vrn3-bench: no host definition of %s\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Fn>(found);
}

// Looked up as the executable starts: neither library takes a lock before that.
const LockFn gHostLock = HostDefinition<LockFn>("_ZN16CCriticalSection4LockEm");
const UnlockFn gHostUnlock = HostDefinition<UnlockFn>("_ZN16CCriticalSection6UnlockEv");

} // namespace

bool CCriticalSection::Lock(unsigned long timeout)
{
    if (gCounting.load(std::memory_order_relaxed))
        gLocks.fetch_add(1, std::memory_order_relaxed);
    return gHostLock(this, timeout);
}

bool CCriticalSection::Unlock()
{
    if (gCounting.load(std::memory_order_relaxed))
        gUnlocks.fetch_add(1, std::memory_order_relaxed);
    return gHostUnlock(this);
}

namespace lockcount {

void Start()
{
    gLocks.store(0);
    gUnlocks.store(0);
    gCounting.store(true);
}

void Stop()
{
    gCounting.store(false);
}
uint64_t Locks()
{
    return gLocks.load();
}
uint64_t Unlocks()
{
    return gUnlocks.load();
}

} // namespace lockcount
