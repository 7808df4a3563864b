// The monitor's handle: one living monitor a process, found by the host through gBrickMonitor.
#include "CBrickMonitor.h"

#include "CBrickMonitorPrivate.h"

#include <stdexcept>

CBrickMonitor::CBrickMonitor(CBrick* brick, const CBrickRules& rules) : d(new CBrickMonitorPrivate(brick, rules))
{
    CBrickMonitorPrivate* none = nullptr;
    if (!gBrickMonitor.compare_exchange_strong(none, d)) {
        delete d; // GCOVR_EXCL_BR_LINE: delete's null test; never null here
        throw std::logic_error("a brick monitor is already watching");
    }
}

CBrickMonitor::~CBrickMonitor()
{
    gBrickMonitor.store(nullptr);
    delete d; // GCOVR_EXCL_BR_LINE: delete's null test; never null here
}

void CBrickMonitor::Feeding(uint64_t index)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->feeding = index;
}

void CBrickMonitor::BrickGone()
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->blocks.BrickGone();
}

std::vector<CBrickViolation> CBrickMonitor::Violations() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->violations;
}

bool CBrickMonitor::Lock(CCriticalSection* lock, unsigned long timeout)
{
    const bool held = HostLock(lock, timeout);
    CBrickMonitorPrivate* monitor = ActiveMonitor();
    if (held && monitor != nullptr)
        monitor->Locked(lock);
    return held;
}

bool CBrickMonitor::Unlock(CCriticalSection* lock)
{
    if (CBrickMonitorPrivate* monitor = ActiveMonitor())
        monitor->Unlocking(lock);
    return HostUnlock(lock);
}
