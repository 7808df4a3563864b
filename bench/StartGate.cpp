// The start gate of the two-chain scenario (see StartGate.h).
#include "StartGate.h"

#include <pthread.h>
#include <sched.h>

namespace {

// Keeps the calling thread on the index-th processor the process may use, when it may use at
// least `threads` of them; else leaves it where the scheduler puts it.
void SpreadOut(int index, int threads)
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < threads)
        return;
    for (int cpu = 0, seen = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed) || seen++ != index)
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        return;
    }
}

} // namespace

void StartGate::Pass(int index)
{
    SpreadOut(index, mThreads);
    std::unique_lock<std::mutex> lock(mMutex);
    if (--mWaiting == 0)
        mOpen.notify_all();
    else
        mOpen.wait(lock, [this] { return mWaiting == 0; });
}
