// StartGate: holds each of a number of threads until all of them have reached it.
//
// The two-chain scenario starts its threads one after another; the gate lets them run side by
// side from their first record, whatever starting a thread costs, each on a processor of its own
// where the process may use as many (else the scheduler may run both on one, one after the other,
// and they never meet). Waiting threads sleep, so the CPU time a slice is timed in holds none of
// their waiting. One gate serves one start.
#pragma once

#include <condition_variable>
#include <mutex>

class StartGate {
public:
    explicit StartGate(int threads) : mThreads(threads), mWaiting(threads) {}
    StartGate(const StartGate&) = delete;
    StartGate& operator=(const StartGate&) = delete;

    // Moves the calling thread, the gate's `index`-th, to a processor of its own if there are
    // enough, and returns once every thread has called it; the last one opens the gate for all.
    void Pass(int index);

private:
    std::mutex mMutex; // guards mWaiting
    std::condition_variable mOpen;
    const int mThreads;
    int mWaiting; // threads not yet at the gate
};
