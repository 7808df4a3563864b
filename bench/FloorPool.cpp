// The pooled floor's buffer pool (see FloorPool.h).
#include "FloorPool.h"

#include <cstdlib>
#include <new>

FloorPool::~FloorPool()
{
    while (mFree != nullptr) {
        Buffer* b = mFree;
        mFree = b->next;
        std::free(b);
    }
}

FloorPool::Buffer* FloorPool::Get()
{
    Buffer* b;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        b = mFree;
        if (b != nullptr)
            mFree = b->next;
    }
    if (b == nullptr)
        b = static_cast<Buffer*>(std::malloc(sizeof(Buffer) + mSize));
    if (b == nullptr)
        throw std::bad_alloc();
    new (&b->refs) std::atomic<int>(1);
    return b;
}

void FloorPool::Release(Buffer* b)
{
    if (b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    std::lock_guard<std::mutex> lock(mMutex);
    b->next = mFree;
    mFree = b;
}
