// cCommandBlock<T, code, E, N>::node: the storage behind a command block.
//
// It holds the count, type and size (cMemBlock::node), the visited list, grown N entries at a
// time, and the record. Command nodes are not pooled: each is one malloc'd storage, made by the
// constructor and freed, with its visited list, by the last unref.
//
// Locks: mLock guards the count (as in every node); mVisitedLock guards the visited list. The
// two are never held together. The record itself is not guarded.
#pragma once

#include "cCommandBlock.h"

#include <cstdlib>
#include <new>

template <class T, uint32_t code, class E, int N>
class cCommandBlock<T, code, E, N>::node : public cMemBlock::node {
public:
    ~node() override {}

    // At the last reference: frees the visited list, destroys the record, frees the storage.
    void unref() override
    {
        mLock.Lock(INFINITE);
        assert(mRefCount != 0 && "a node is never released twice");
        const uint32_t left = --mRefCount;
        mLock.Unlock();
        if (left != 0)
            return;
        delete[] mVisited; // GCOVR_EXCL_BR_LINE: delete[]'s null test; never null here
        this->~node();
        std::free(this);
    }

    // A node of count 1 with a fresh record and an empty visited list of capacity N.
    // The caller owns the reference. Throws std::bad_alloc; nothing is left allocated then.
    static node* Make()
    {
        void* storage = std::malloc(sizeof(node));
        if (storage == nullptr)
            throw std::bad_alloc();
        node* p = new (storage) node; // cannot throw
        try {
            p->mVisited = new E[N]; // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
        } catch (...) {
            p->~node();
            std::free(storage);
            throw;
        }
        p->mVisitedCount = 0;
        p->mVisitedCapacity = N;
        p->mType = code;
        p->mSize = sizeof(T);
        return p;
    }

    E* mVisited;                   // bricks that handled the command, in order (new[])
    int32_t mVisitedCount;         // entries used
    int32_t mVisitedCapacity;      // entries allocated
    CCriticalSection mVisitedLock; // guards the three fields above
    T mData;

private:
    node() noexcept : mVisited(nullptr), mVisitedCount(0), mVisitedCapacity(0), mVisitedLock(false) {}
};
