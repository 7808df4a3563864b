// Running a chain of bricks: the synchronous loop, the brick threads, and idle detection.
//
// Idle detection counts blocks: every block queued to a brick of the pipeline adds one, every
// block delivered to a handler takes one away after the handler returns or throws. A handler
// queues what it sends before its own block is counted off, so the count reaches 0 only when no
// block is queued and no handler runs. While the pipeline runs synchronously its one thread
// alone counts, without atomic instructions.
#include "CPipeline.h"

#include "CBrickPrivate.h"
#include "CPipelinePrivate.h"

#include <thread>

namespace {

// One brick's thread: delivers the brick's blocks as they come, until the pipeline stops and
// nothing is left. Handlers' exceptions are kept by BlockFailed; anything else thrown on the
// way (onCreate's) is kept here, so that no exception ends the process.
void DeliverLoop(CPipelinePrivate* d, CBrick* brick, CBrickPrivate* b)
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(b->mutex);
            b->wake.wait(lock, [&] { return d->stopping || !b->control.isEmpty() || !b->data.isEmpty(); });
            if (b->control.isEmpty() && b->data.isEmpty())
                return; // stopping, and nothing left to deliver
        }
        try {
            if (!brick->DoCtrl())
                brick->DoData();
        } catch (...) {
            std::lock_guard<std::mutex> lock(d->idleMutex);
            if (!d->failure)
                d->failure = std::current_exception();
        }
    }
}

} // namespace

CPipeline::CPipeline() : d(new CPipelinePrivate) {}

CPipeline::~CPipeline()
{
    Stop();
    for (auto it = d->bricks.rbegin(); it != d->bricks.rend(); ++it)
        delete *it; // GCOVR_EXCL_BR_LINE: delete's null test; never null here
    delete d;       // GCOVR_EXCL_BR_LINE: delete's null test; never null here
}

CBrick* CPipeline::Add(CBrick* brick)
{
    if (!d->bricks.empty())
        brick->ConnectAfter(d->bricks.back());
    brick->d->pipeline = d;
    brick->d->oneThread = !d->threaded.load(std::memory_order_relaxed);
    d->bricks.push_back(brick);
    return brick;
}

void CPipeline::Tap(CBrick* brick, CBrickTap* tap)
{
    brick->d->tap = tap;
    if (tap != nullptr && brick->d->created)
        tap->Configured(brick->d->config);
}

uint64_t CPipeline::RunUntilIdle()
{
    uint64_t delivered = 0;
    bool progress = true;
    while (progress) {
        progress = false;
        for (CBrick* brick : d->bricks) {
            while (brick->DoCtrl() || brick->DoData()) {
                ++delivered;
                progress = true;
            }
        }
    }
    return delivered;
}

void CPipeline::Start()
{
    if (!d->threads.empty())
        return;
    d->stopping = false;
    d->threaded = true;
    for (CBrick* brick : d->bricks)
        brick->d->oneThread = false; // before any brick thread starts
    for (CBrick* brick : d->bricks)
        d->threads.emplace_back([this, brick] { DeliverLoop(d, brick, brick->d); });
}

void CPipeline::WaitIdle()
{
    std::unique_lock<std::mutex> lock(d->idleMutex);
    d->idle.wait(lock, [this] { return d->pending.load() == 0; });
    if (d->failure) {
        std::exception_ptr failure;
        std::swap(failure, d->failure);
        std::rethrow_exception(failure);
    }
}

int64_t CPipeline::PendingBlocks() const
{
    return d->pending.load();
}

void CPipeline::Stop()
{
    if (d->threads.empty())
        return;
    d->stopping = true;
    for (CBrick* brick : d->bricks) {
        std::lock_guard<std::mutex> lock(brick->d->mutex); // no waiter is between test and sleep
        brick->d->wake.notify_all();
    }
    for (std::thread& thread : d->threads)
        thread.join();
    d->threads.clear();
    d->threaded = false;
    for (CBrick* brick : d->bricks)
        brick->d->oneThread = true; // every brick thread has ended
}

void CPipelinePrivate::WakeIdle()
{
    std::lock_guard<std::mutex> lock(idleMutex);
    idle.notify_all();
}

// The failure is kept before the block is counted off, so a WaitIdle that sees the pipeline idle
// also sees the failure.
void CPipelinePrivate::BlockFailed()
{
    if (!threaded) {
        BlockDelivered();
        throw;
    }
    {
        std::lock_guard<std::mutex> lock(idleMutex);
        if (!failure)
            failure = std::current_exception();
    }
    BlockDelivered();
}
