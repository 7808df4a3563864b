// FloorPool: the buffer pool a peer of the sound brick would use, the yardstick of the pooled
// floor. A last-in first-out free list under a mutex, buffers of one size with an atomic
// reference count; Get returns a buffer with count 1 (from the list, or newly allocated), the
// last Release puts it back. The pool frees every listed buffer when it goes; buffers still out
// then are the caller's to have released first. Any thread may call Get and Release.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

class FloorPool {
public:
    struct Buffer {
        Buffer* next;
        std::atomic<int> refs;
        uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
    };

    explicit FloorPool(uint32_t size) : mSize(size) {}
    ~FloorPool();
    FloorPool(const FloorPool&) = delete;
    FloorPool& operator=(const FloorPool&) = delete;

    Buffer* Get();
    void Release(Buffer* buffer);

private:
    std::mutex mMutex; // guards mFree
    Buffer* mFree = nullptr;
    uint32_t mSize;
};
