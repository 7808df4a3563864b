// The host's own state of a pipeline, behind CPipeline's private pointer, and the three calls its
// bricks make on it. Bricks are not the pipeline's users, so these stay out of CPipeline.h.
//
// The pipeline's owner builds, starts and stops it from one thread. `pending` is counted by every
// thread that queues or delivers a block: plainly while no brick thread runs (one thread does
// all), atomically once Start set `threaded`. `failure` is guarded by `idleMutex`. The count is
// pointer-sized, so that counting it is one plain instruction on i386 as on amd64 (a 64-bit
// atomic there goes through the x87 unit or a compare-exchange loop); no pipeline holds more
// blocks than memory has room for pointers.
#pragma once

#include "../blocks/CBrick.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

struct CPipelinePrivate {
    std::vector<CBrick*> bricks;       // chain order; owned
    std::vector<std::thread> threads;  // one per brick while threaded
    std::atomic<bool> threaded{false}; // brick threads deliver; set before they start
    std::atomic<bool> stopping{false}; // set under each brick's lock, so no wake-up is missed
    std::atomic<intptr_t> pending{0};  // blocks queued or being handled
    std::mutex idleMutex;              // with `idle`: wakes WaitIdle; guards `failure`
    std::condition_variable idle;
    std::exception_ptr failure; // first exception of a handler on a brick's thread

    // A block was queued to / delivered by one of the pipeline's bricks. Inline: a synchronous
    // pipeline's bricks count every block they queue and deliver.
    void BlockQueued()
    {
        if (!threaded.load(std::memory_order_relaxed))
            pending.store(pending.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        else
            pending.fetch_add(1);
    }
    void BlockDelivered()
    {
        if (!threaded.load(std::memory_order_relaxed))
            pending.store(pending.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
        else if (pending.fetch_sub(1) == 1)
            WakeIdle(); // nobody waits while the pipeline runs synchronously
    }
    // Called from inside the handler of a handler's exception: the block counts as delivered;
    // threaded, the exception is kept for WaitIdle, else it is rethrown.
    void BlockFailed();

private:
    // Wakes WaitIdle once the count reached 0 on a brick's thread.
    void WakeIdle();
};
