// cBlockQueue: a first-in first-out queue of block handles, for the blocks a brick holds back.
//
// The queue is one pointer wide: it points at shared storage holding its bookkeeping and a ring
// of handle slots (null until the first append). Appending copies a handle (the block is shared,
// not copied); removing the front releases that handle, and taking the front hands it over. The ring doubles when it is full and
// never shrinks, and clear() keeps it, so a queue that has reached its working size allocates
// nothing more: appending and removing are constant time and allocation free. Destroying the
// queue releases every handle it holds and frees the ring.
//
// Like any container of handles it is used by one thread at a time; the blocks it holds lock
// their own nodes.
#pragma once

#include "cMemBlock.h"

#include <cstdlib>
#include <new>

class cBlockQueue {
public:
    cBlockQueue() : mRing(nullptr) {}
    ~cBlockQueue()
    {
        clear();
        std::free(mRing);
    }
    cBlockQueue(const cBlockQueue&) = delete;
    cBlockQueue& operator=(const cBlockQueue&) = delete;

    bool isEmpty() const { return size() == 0; }
    int size() const { return mRing == nullptr ? 0 : static_cast<int>(mRing->count); }

    // Appends a handle sharing `block`. Throws std::bad_alloc when the ring cannot grow; the
    // queue is then unchanged.
    void append(const cMemBlock& block)
    {
        new (&FreeSlot()) cMemBlock(block); // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
        ++mRing->count;
    }

    // Makes room for `more` appends that then cannot fail. Throws std::bad_alloc when the ring
    // cannot grow; the queue is then unchanged.
    void reserve(uint32_t more)
    {
        while (mRing == nullptr || mRing->capacity - mRing->count < more)
            Grow();
    }

    // The oldest handle. The queue must not be empty.
    const cMemBlock& front() const
    {
        assert(!isEmpty() && "front of an empty queue");
        return mRing->Slot(mRing->head);
    }

    // Releases the oldest handle. The queue must not be empty.
    void removeFirst()
    {
        assert(!isEmpty() && "removing from an empty queue");
        mRing->Slot(mRing->head).~cMemBlock();
        mRing->head = (mRing->head + 1) & (mRing->capacity - 1);
        --mRing->count;
    }

    // Removes the oldest handle and hands it to the caller: its reference moves, no count
    // changes. The queue must not be empty.
    cMemBlock takeFirst()
    {
        assert(!isEmpty() && "taking from an empty queue");
        cMemBlock::node* taken = mRing->Slot(mRing->head).mNode; // the slot is left unused
        mRing->head = (mRing->head + 1) & (mRing->capacity - 1);
        --mRing->count;
        return cMemBlock(taken, cMemBlock::AdoptTag());
    }

    // Releases every handle, oldest first; the ring is kept.
    void clear()
    {
        while (!isEmpty())
            removeFirst();
    }

private:
    // Slots first, oldest at `head`, wrapping around; capacity is a power of two.
    // Aligned as a handle, so that the slots after it are, with 4- and 8-byte pointers alike.
    struct alignas(cMemBlock) Ring {
        uint32_t capacity;
        uint32_t head;
        uint32_t count;
        cMemBlock& Slot(uint32_t i) { return reinterpret_cast<cMemBlock*>(this + 1)[i & (capacity - 1)]; }
    };
    static_assert(sizeof(Ring) % alignof(cMemBlock) == 0, "slots follow the bookkeeping aligned");

    static constexpr uint32_t kFirstCapacity = 64;

    // The slot behind the newest handle, the ring grown first if it is full.
    cMemBlock& FreeSlot()
    {
        if (__builtin_expect(mRing == nullptr || mRing->count == mRing->capacity, 0))
            Grow();
        return mRing->Slot(mRing->head + mRing->count);
    }

    // Moves the handles into a ring twice as large; no count changes. Out of line and cold: a
    // queue at its working size never grows, so appending stays a few instructions that inline
    // where a block is queued.
    __attribute__((noinline, cold)) void Grow()
    {
        const uint32_t capacity = mRing == nullptr ? kFirstCapacity : mRing->capacity * 2;
        // The product in 64 bits: it cannot wrap there, and a 64-bit size_t holds it anyway.
        // GCOVR_EXCL_START: only a queue already holding 2^31 handles (32 GiB of slots) wraps the capacity to 0
        if (capacity == 0 || static_cast<uint64_t>(capacity) * sizeof(cMemBlock) > SIZE_MAX - sizeof(Ring))
            throw std::bad_alloc();
        // GCOVR_EXCL_STOP
        Ring* grown = static_cast<Ring*>(std::malloc(sizeof(Ring) + capacity * sizeof(cMemBlock)));
        if (grown == nullptr)
            throw std::bad_alloc();
        grown->capacity = capacity;
        grown->head = 0;
        grown->count = 0;
        if (mRing != nullptr) {
            for (uint32_t i = 0; i < mRing->count; ++i)
                new (&grown->Slot(i)) cMemBlock(mRing->Slot(mRing->head + i).mNode, cMemBlock::AdoptTag());
            grown->count = mRing->count;
            std::free(mRing); // its slots' references went to the new ring: nothing to release
        }
        mRing = grown;
    }

    Ring* mRing;
};

static_assert(sizeof(cBlockQueue) == sizeof(void*), "one pointer, as the queue it replaces");
