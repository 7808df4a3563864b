// CBlockWatch: the blocks that cross one brick, kept beside them, keyed by their nodes (a
// block's and a node's layouts are binary interfaces: nothing is added to them).
//
// A block handed to one of the brick's handlers, or sent by the brick, is watched from then until
// its node is released: a copy of its bytes (record and extra bytes; for a command block its
// record) is taken at the hand-over or the send, and compared after the handler's call and when
// the node is released, which the node's lock tells by its destruction. A command block's visited
// list is copied at the hand-over: after the call it must start with the same entries and name no
// brick twice. A command the brick passes on is marked, so that a second pass is seen. A released
// node's lock address is kept until a lock is made there again: taking it means a handle was used
// after the release. When the brick is destroyed, every watched block must have been released.
//
// Not thread-safe: CBrickMonitorPrivate calls it with its mutex held. It only reads blocks, through
// their node pointers, and takes no lock.
#pragma once

#include "../blocks/cMemBlock.h"
#include "MonitorRules.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class CBlockWatch {
public:
    // How a watch reports a broken rule: the rule, the block's index and type, what was seen.
    using Report = std::function<void(EMonitorRule, uint64_t, uint32_t, const std::string&)>;

    explicit CBlockWatch(Report report);

    // `block` reaches one of the brick's handlers; `command` when it is a command block.
    void HandedOver(const cMemBlock& block, bool command, uint64_t index);
    // The brick sends `block`.
    void Sent(const cMemBlock& block, bool command, uint64_t index);
    // The handler's call with `block` returned or threw: it and the blocks sent meanwhile are checked.
    void CallEnded(const cMemBlock& block, const char* handler);

    // Whether `lock` is the lock of a watched node, and if so its type.
    bool IsNodeLock(const void* lock, uint32_t& type) const;
    // The record of a command block.
    const void* CommandRecord(const cMemBlock& block) const;
    void LockMade(const void* lock);
    void LockGone(const void* lock);
    void LockTaken(const void* lock, uint64_t index);
    // The brick is destroyed: what it still holds is reported, by type.
    void BrickGone();

private:
    struct Watched {
        uint32_t type = 0;
        uint64_t index = 0;
        bool command = false;
        bool received = false; // handed to a handler (else only sent)
        bool passed = false;   // a command the brick passed on
        std::vector<uint8_t> bytes;
        std::vector<const void*> visited;
    };
    struct Released {
        uint32_t type;
        uint64_t index;
    };

    Watched& Watch(const cMemBlock::node* node, bool command, uint64_t index);
    std::string Changed(const cMemBlock::node* node, Watched& watched) const;
    void CheckVisited(const cMemBlock::node* node, const Watched& watched, const char* handler);
    const uint8_t* DataOf(const cMemBlock::node* node, bool command) const;

    Report mReport;
    size_t mCommandData; // where a command node's record starts
    size_t mLockOffset;  // where a node's lock lies in it
    std::unordered_map<const cMemBlock::node*, Watched> mNodes;
    std::unordered_map<const void*, Released> mReleased; // lock addresses of released nodes
    std::vector<const cMemBlock::node*> mSentInCall;
};
