// CPipeline: runs a chain of bricks, synchronously or with one thread per brick.
//
// Bricks are added in chain order; each added brick is connected after the one added before
// it, and the pipeline owns it from then on, destroying every brick (through its virtual
// destructor, last added first) when the pipeline goes. Blocks reach the chain through a
// brick's enqueueData/enqueueControl or a brick's own SendData/SendCmd.
//
// Synchronous: RunUntilIdle delivers queued blocks, control blocks first, brick by brick, until
// every queue is empty. Deterministic. The thread that runs it is then the only one that queues
// blocks to its bricks or delivers them, so their queues go without locks. Threaded: Start gives every brick a thread that
// delivers its blocks as they come; WaitIdle returns once every queue is empty and no handler
// runs; Stop (and the destructor) ends the threads. One handler call at a time per brick, in
// both modes. Build the chain before Start; the pipeline object itself is used by one thread.
//
// A handler that throws (out of memory, say) still has its block counted as delivered. Run
// synchronously, the exception passes out of RunUntilIdle; the blocks still queued stay queued.
// Run threaded, the brick's thread keeps the first such exception for the pipeline's owner and
// goes on delivering; the next WaitIdle rethrows it once the pipeline is idle.
#pragma once

#include "../blocks/CBrick.h"
#include "../blocks/HostApi.h"
#include "CBrickTap.h"

#include <cstdint>

struct CPipelinePrivate;

class VRN3_HOST_API CPipeline {
public:
    CPipeline();
    ~CPipeline();

    CPipeline(const CPipeline&) = delete;
    CPipeline& operator=(const CPipeline&) = delete;

    // Takes ownership of `brick` and connects it after the brick added before. Returns it.
    CBrick* Add(CBrick* brick);

    // Tells `tap` (not owned; it outlives the pipeline's runs) of everything that crosses
    // `brick`, a brick of this pipeline: its configuration at once, then every block delivered to
    // it and every block it sends (CBrickTap.h); null stops that. Call it after the brick's
    // Create and while the pipeline is not running threaded. Without a tap a delivery and a send
    // cost one test each.
    void Tap(CBrick* brick, CBrickTap* tap);

    // Synchronous run: deliver until all queues are empty. Returns the blocks delivered.
    uint64_t RunUntilIdle();

    // Threaded run. WaitIdle rethrows the first exception a handler threw since the last
    // WaitIdle, once the pipeline is idle.
    void Start();
    void WaitIdle();
    void Stop();

    // Blocks queued to the bricks or being handled: 0 whenever the pipeline is idle.
    int64_t PendingBlocks() const;

private:
    CPipelinePrivate* d;
};
