// Lock order: the held locks of each thread and the edges between locks.
#include "CLockWatch.h"

#include <iterator>

void CLockWatch::Forget(const void* lock)
{
    mAfter.erase(lock);
    mNumbers.erase(lock);
}

uint64_t CLockWatch::Number(const void* lock)
{
    const auto placed = mNumbers.emplace(lock, mLastNumber + 1);
    if (placed.second)
        ++mLastNumber;
    return placed.first->second;
}

std::string CLockWatch::Taken(const void* lock, bool nodeLock, bool& inversion)
{
    std::vector<Held>& held = mHeld[std::this_thread::get_id()];
    std::string wrong;
    for (const Held& outer : held) {
        if (!wrong.empty() || outer.nodeLock)
            continue;
        if (nodeLock) {
            wrong = "its lock taken while the thread holds lock " + std::to_string(Number(outer.lock)) +
                    " (a node's lock comes before its pool's)";
            inversion = false;
        } else if (mAfter[lock].count(outer.lock) != 0 && mInverted.insert(std::make_pair(lock, outer.lock)).second) {
            wrong = "lock " + std::to_string(Number(lock)) + " taken while holding lock " +
                    std::to_string(Number(outer.lock)) + ", which was taken before while holding it";
            inversion = true;
        }
    }
    if (!nodeLock)
        for (const Held& outer : held)
            if (!outer.nodeLock)
                mAfter[outer.lock].insert(lock);
    held.push_back(Held{lock, nodeLock});
    return wrong;
}

void CLockWatch::Given(const void* lock)
{
    std::vector<Held>& held = mHeld[std::this_thread::get_id()];
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        if (it->lock == lock) {
            held.erase(std::next(it).base());
            return;
        }
    }
}
