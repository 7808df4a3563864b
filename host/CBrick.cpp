// The host's brick: connections, the two queues, and delivery of queued blocks to handlers.
#include "../blocks/CBrick.h"

#include "../records/HostRecords.h"
#include "CBrickMonitorPrivate.h"
#include "CBrickPrivate.h"
#include "CPipelinePrivate.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<uint32_t> gNextSignature{1};

// The brick's onCreate, at the first delivery asked of it after Create. Out of line and cold:
// every later delivery only tests the flag.
__attribute__((noinline, cold)) void RunOnCreate(CBrick* brick, CBrickPrivate* d)
{
    d->onCreateRan = true;
    brick->onCreate(d->config);
}

// Inline in the delivery, where the block is a plain handle of the queue: its type is then read
// from its node directly instead of through the handle's virtual table. Returns the handler's answer.
__attribute__((always_inline)) inline bool Handle(CBrick* brick, cMemBlock& block, bool control)
{
    if (control)
        return brick->onCtrl(block);
    if (block.GetType() == kCodeNtfy)
        return brick->onNotify(block);
    return brick->onData(block);
}

// Hands a block taken from one of the brick's queues to its handler, through the living brick
// monitor when `watched`. A block whose handler (or the brick's tap) throws counts as delivered
// too; the pipeline decides whether the exception passes on (see CPipelinePrivate::BlockFailed).
template <bool watched>
__attribute__((always_inline)) inline bool DeliverAs(CBrick* brick, CBrickPrivate* d, cMemBlock& block, bool control)
{
    try {
        if (d->tap != nullptr)
            d->tap->Delivered(block, control);
        if (watched)
            ActiveMonitor()->Deliver(brick, block, control, Handle);
        else
            Handle(brick, block, control);
    } catch (...) {
        if (d->pipeline == nullptr)
            throw;
        d->pipeline->BlockFailed();
        return true;
    }
    if (d->pipeline != nullptr)
        d->pipeline->BlockDelivered();
    return true;
}

// Out of line and cold: without a monitor, a delivery costs the test of one pointer.
__attribute__((noinline, cold)) bool DeliverWatched(CBrick* brick, CBrickPrivate* d, cMemBlock& block, bool control)
{
    return DeliverAs<true>(brick, d, block, control);
}

__attribute__((always_inline)) inline bool Deliver(CBrick* brick, CBrickPrivate* d, cMemBlock& block, bool control)
{
    if (__builtin_expect(ActiveMonitor() != nullptr, 0))
        return DeliverWatched(brick, d, block, control);
    return DeliverAs<false>(brick, d, block, control);
}

// Delivers the front block of a brick that threads share: the block is taken out under the
// queue lock and handled after it is given back, so senders never wait for a handler.
__attribute__((noinline)) bool DeliverFrontLocked(CBrick* brick, CBrickPrivate* d, cBlockQueue& queue, bool control)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    if (queue.isEmpty())
        return false;
    cMemBlock block = queue.takeFirst();
    lock.unlock();
    return Deliver(brick, d, block, control);
}

// Delivers the front block of a queue that is not empty, of a brick that one thread feeds and
// runs: no lock is taken.
__attribute__((noinline)) bool DeliverTaken(CBrick* brick, CBrickPrivate* d, cBlockQueue& queue, bool control)
{
    cMemBlock block = queue.takeFirst();
    return Deliver(brick, d, block, control);
}

// Delivers the front block of one of the brick's queues to its handler; the queue's handle
// moves to the handler. False when the queue was empty. Inline in DoCtrl and DoData, so that
// finding the queue of a brick that one thread runs empty (a pipeline's last question to each
// brick) costs a few loads and no call.
__attribute__((always_inline)) inline bool DeliverFront(CBrick* brick, CBrickPrivate* d, bool control)
{
    if (__builtin_expect(d->created && !d->onCreateRan, 0))
        RunOnCreate(brick, d);
    cBlockQueue& queue = control ? d->control : d->data;
    if (!d->oneThread)
        return DeliverFrontLocked(brick, d, queue, control);
    if (queue.isEmpty())
        return false;
    return DeliverTaken(brick, d, queue, control);
}

// Queues a block, the queue lock held or not needed. A block counts as pending only once it is
// queued: when the queue cannot grow, the exception passes on and nothing has changed.
__attribute__((always_inline)) inline bool Queue(CBrickPrivate* d, cBlockQueue& queue, const cMemBlock& block)
{
    if (d->stopped)
        return false;
    queue.append(block);
    if (d->pipeline != nullptr)
        d->pipeline->BlockQueued();
    return true;
}

// Queues a block to a brick that threads share. The brick's thread is woken while the queue
// lock is still held, so race checkers see every wake-up ordered with the queue change it
// announces.
__attribute__((noinline)) bool PushLocked(CBrickPrivate* d, cBlockQueue& queue, const cMemBlock& block)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    if (!Queue(d, queue, block))
        return false;
    d->wake.notify_one();
    return true;
}

// A brick that one thread feeds and runs takes no lock and wakes nobody.
bool Push(CBrickPrivate* d, cBlockQueue& queue, const cMemBlock& block)
{
    if (!d->oneThread)
        return PushLocked(d, queue, block);
    return Queue(d, queue, block);
}

} // namespace

CBrick::CBrick() : d(new CBrickPrivate)
{
    d->signature = gNextSignature.fetch_add(1);
}

CBrick::~CBrick()
{
    DisconnectFromAll();
    for (auto it = d->owned.rbegin(); it != d->owned.rend(); ++it)
        delete *it; // GCOVR_EXCL_BR_LINE: delete's null test; never null here
    delete d;       // GCOVR_EXCL_BR_LINE: delete's null test; never null here
}

bool CBrick::DoCtrl()
{
    return DeliverFront(this, d, true);
}

bool CBrick::DoData()
{
    return DeliverFront(this, d, false);
}

bool CBrick::ConnectAfter(CBrick* previous)
{
    if (previous == nullptr || previous == this)
        return false;
    d->previous = previous;
    previous->d->next = this;
    return true;
}

bool CBrick::ConnectOwned(CBrick* owned)
{
    if (owned == nullptr || owned == this)
        return false;
    d->owned.push_back(owned);
    return true;
}

bool CBrick::DisconnectFrom(CBrick* other)
{
    bool found = false;
    if (other != nullptr && d->next == other) {
        d->next = nullptr;
        if (other->d->previous == this)
            other->d->previous = nullptr;
        found = true;
    }
    if (other != nullptr && d->previous == other) {
        d->previous = nullptr;
        if (other->d->next == this)
            other->d->next = nullptr;
        found = true;
    }
    return found;
}

void CBrick::DisconnectFromAll()
{
    if (d->next != nullptr)
        DisconnectFrom(d->next);
    if (d->previous != nullptr)
        DisconnectFrom(d->previous);
}

bool CBrick::Create(const TBrickConfig& config)
{
    d->config = config;
    d->created = true;
    return true;
}

void CBrick::SetStopped(bool stopped)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stopped = stopped;
}

bool CBrick::HasNextBrick()
{
    return d->next != nullptr;
}

bool CBrick::HasPreviousBrick()
{
    return d->previous != nullptr;
}

uint32_t CBrick::GetSignature()
{
    return d->signature;
}

bool CBrick::IsKnownInput(const TContentDescriptor& input)
{
    return d->created && std::memcmp(&input, &d->config.input, sizeof input) == 0;
}

bool CBrick::IsKnownOutput(const TContentDescriptor& output)
{
    return d->created && std::memcmp(&output, &d->config.output, sizeof output) == 0;
}

bool CBrick::enqueueControl(const cMemBlock& block)
{
    return Push(d, d->control, block);
}

bool CBrick::enqueueData(const cMemBlock& block)
{
    return Push(d, d->data, block);
}

bool CBrick::DisconnectOwned(CBrick* owned)
{
    for (auto it = d->owned.begin(); it != d->owned.end(); ++it) {
        if (*it == owned) {
            d->owned.erase(it);
            return true;
        }
    }
    return false;
}

bool CBrick::onCtrl(cMemBlock&)
{
    return false;
}

bool CBrick::onData(const cMemBlock&)
{
    return false;
}

bool CBrick::onNotify(const cMemBlock&)
{
    return false;
}

bool CBrick::onCreate(const TBrickConfig&)
{
    return true;
}

bool CBrick::SendData(const cMemBlock& block)
{
    if (CBrickMonitorPrivate* monitor = ActiveMonitor())
        monitor->Sending(this, block, false);
    if (d->tap != nullptr)
        d->tap->Sent(block, false);
    return d->next != nullptr && d->next->enqueueData(block);
}

bool CBrick::SendCmd(const cMemBlock& block)
{
    if (CBrickMonitorPrivate* monitor = ActiveMonitor())
        monitor->Sending(this, block, true);
    if (d->tap != nullptr)
        d->tap->Sent(block, true);
    return d->previous != nullptr && d->previous->enqueueControl(block);
}
