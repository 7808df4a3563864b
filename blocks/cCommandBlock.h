// cCommandBlock<T, code, E, N>: typed view of a command or notification block.
//
// A command record is shared, not copied on write: whatever one holder writes through GetData()
// every other holder sees. The block also carries the list of bricks that have handled the
// command (MarkVisited), so a brick recognises a command that reaches it a second time; the
// list travels with the command from brick to brick and only grows. The node, its storage and
// its locks are in cCommandBlockNode.h.
#pragma once

#include "cMemBlock.h"

class CBrick;

template <class T, uint32_t code, class E = CBrick*, int N = 10>
class cCommandBlock : public cMemBlock {
public:
    // The node behind the handle: the visited list and the record (cCommandBlockNode.h).
    class node;

    // Makes a new command block: type `code`, size sizeof(T), record as T's constructor made it.
    // The handle holds the node alone. Throws std::bad_alloc.
    cCommandBlock() : cMemBlock(node::Make(), AdoptTag()) {}
    // A view of an existing block: shares its node; nothing is tested or copied.
    explicit cCommandBlock(const cMemBlock& block) : cMemBlock(block) {}
    cCommandBlock(const cCommandBlock& other) : cMemBlock(other) {}
    cCommandBlock& operator=(const cMemBlock& block)
    {
        cMemBlock::operator=(block);
        return *this;
    }
    cCommandBlock& operator=(const cCommandBlock& other)
    {
        cMemBlock::operator=(other);
        return *this;
    }
    ~cCommandBlock() override {}

    // The shared record; no lock, no copy, whatever the count.
    void* GetData() override { return &Node()->mData; }
    const void* GetData() const override { return &Node()->mData; }

    T& Record() { return Node()->mData; }
    const T& Record() const { return Node()->mData; }

    // Records `brick` as having handled the command. False when it already had; the list is
    // then unchanged. Callable on a const view: the list belongs to the node.
    bool MarkVisited(E brick) const
    {
        node* n = Node();
        CSingleLock lock(&n->mVisitedLock, true);
        for (int32_t i = 0; i < n->mVisitedCount; ++i) {
            if (n->mVisited[i] == brick)
                return false;
        }
        if (n->mVisitedCapacity <= n->mVisitedCount)
            Grow(n); // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
        n->mVisited[n->mVisitedCount++] = brick;
        return true;
    }

    // Read access to the visited list, for hosts and tests.
    int32_t VisitedCount() const { return Node()->mVisitedCount; }
    int32_t VisitedCapacity() const { return Node()->mVisitedCapacity; }
    E Visited(int32_t i) const { return Node()->mVisited[i]; }

private:
    // Called with the visited lock held.
    static void Grow(node* n)
    {
        const int32_t capacity = n->mVisitedCapacity + N;
        E* grown = new E[capacity]; // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
        for (int32_t i = 0; i < n->mVisitedCount; ++i)
            grown[i] = n->mVisited[i];
        delete[] n->mVisited; // GCOVR_EXCL_BR_LINE: delete[]'s null test; never null here
        n->mVisited = grown;
        n->mVisitedCapacity = capacity;
    }
    node* Node() const { return static_cast<node*>(mNode); }
};

#include "cCommandBlockNode.h"
