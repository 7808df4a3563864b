// CLockWatch: the order in which threads take locks, kept beside the locks, keyed by their
// addresses (a lock's own layout is a binary interface and holds nothing but its state word).
//
// For each thread the locks it holds, in the order taken; for each lock the locks taken while it
// was held (the edges, as the kernel's lockdep records them). A lock the caller knows to be a
// node's lock must be taken while the thread holds no other lock: in the framework a node's lock
// comes before its pool's lock and nothing is taken inside a pool's, so a node lock under any
// other lock is the wrong order. Between two other locks, taking one while holding the other
// when the reverse has been seen before is an inversion, told once a pair. Locks are numbered in the order first
// seen, so that reports read the same on every run. A lock made or destroyed forgets its edges.
//
// Not thread-safe: CBrickMonitorPrivate calls it with its mutex held.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class CLockWatch {
public:
    // The lock at `lock` is made or destroyed: what was known of that address is forgotten.
    void Forget(const void* lock);
    // The calling thread took `lock`; `nodeLock` tells whether it is a watched node's. Returns
    // what is wrong ("" when nothing) and sets `inversion` to tell which rule.
    std::string Taken(const void* lock, bool nodeLock, bool& inversion);
    // The calling thread gives `lock` back.
    void Given(const void* lock);

private:
    struct Held {
        const void* lock;
        bool nodeLock;
    };
    uint64_t Number(const void* lock);

    std::map<std::thread::id, std::vector<Held>> mHeld;
    std::unordered_map<const void*, std::set<const void*>> mAfter; // lock -> locks taken under it
    std::set<std::pair<const void*, const void*>> mInverted;       // pairs told already
    std::unordered_map<const void*, uint64_t> mNumbers;            // in the order first seen
    uint64_t mLastNumber = 0;
};
