// The counting allocator of the benchmark process (see AllocCounter.h).
#include "AllocCounter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <malloc.h>

#ifndef VRN3_BENCH_COUNT_ALLOCS

namespace alloccount {
bool Enabled()
{
    return false;
}
uint64_t Allocations()
{
    return 0;
}
int64_t LiveBytes()
{
    return 0;
}
int64_t PeakBytes()
{
    return 0;
}
void ResetPeak() {}
} // namespace alloccount

#else

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {

// 32-bit counters: one locked instruction each on i386, where 64-bit atomics take a
// compare-exchange loop. A run makes far fewer than 2^32 calls and holds far less than 2 GiB.
std::atomic<uint32_t> gAllocations{0};
std::atomic<int32_t> gLive{0};
std::atomic<int32_t> gPeak{0};

void Counted(void* p)
{
    if (p == nullptr)
        return;
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    const int32_t live = gLive.fetch_add(static_cast<int32_t>(malloc_usable_size(p)), std::memory_order_relaxed) +
                         static_cast<int32_t>(malloc_usable_size(p));
    int32_t peak = gPeak.load(std::memory_order_relaxed);
    while (live > peak && !gPeak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {}
}

void Uncounted(void* p)
{
    if (p != nullptr)
        gLive.fetch_sub(static_cast<int32_t>(malloc_usable_size(p)), std::memory_order_relaxed);
}

} // namespace

extern "C" {

void* malloc(size_t size)
{
    void* p = __libc_malloc(size);
    Counted(p);
    return p;
}

void* calloc(size_t count, size_t size)
{
    void* p = __libc_calloc(count, size);
    Counted(p);
    return p;
}

void* realloc(void* old, size_t size)
{
    Uncounted(old);
    void* p = __libc_realloc(old, size);
    if (p == nullptr && size != 0) {
        if (old != nullptr)
            gLive.fetch_add(static_cast<int32_t>(malloc_usable_size(old)), std::memory_order_relaxed);
        return nullptr;
    }
    Counted(p);
    return p;
}

void free(void* p)
{
    Uncounted(p);
    __libc_free(p);
}

void* memalign(size_t alignment, size_t size)
{
    void* p = __libc_memalign(alignment, size);
    Counted(p);
    return p;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    void* p = memalign(alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}

} // extern "C"

namespace alloccount {
bool Enabled()
{
    return true;
}
uint64_t Allocations()
{
    return gAllocations.load(std::memory_order_relaxed);
}
int64_t LiveBytes()
{
    return gLive.load(std::memory_order_relaxed);
}
int64_t PeakBytes()
{
    return gPeak.load(std::memory_order_relaxed);
}
void ResetPeak()
{
    gPeak.store(gLive.load(std::memory_order_relaxed), std::memory_order_relaxed);
}
} // namespace alloccount

#endif
