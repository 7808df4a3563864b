// Helpers of the block tests: a record type that counts its lives, a look at a handle's node,
// and the process's allocated bytes.
#pragma once

#include "blocks/cMemBlock.h"
#include "records/Codes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of live heap bytes (its header comes with clang only).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

struct RecordCounters {
    std::atomic<int> constructed{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> assigned{0};
    int Live() const { return constructed.load() - destroyed.load(); }
};

// A record that counts constructions, destructions and assignments. Each Tag is a record type
// of its own, so each test that uses one has a pool of its own that starts empty. It has a
// destructor and an assignment of its own, as records with owning members do.
template <int Tag>
struct TCounted {
    TCounted() : value(0) { ++counters.constructed; }
    ~TCounted() { ++counters.destroyed; }
    TCounted(const TCounted&) = delete;
    TCounted& operator=(const TCounted& other)
    {
        value = other.value;
        text = other.text;
        ++counters.assigned;
        return *this;
    }

    uint32_t value;
    std::string text;

    static RecordCounters counters;
};

template <int Tag>
RecordCounters TCounted<Tag>::counters;

constexpr uint32_t kCodeTest = FourCC("Test");

// The node a handle refers to (the handle keeps it protected).
struct NodeOf : cMemBlock {
    static node* Get(const cMemBlock& block) { return block.*(&NodeOf::mNode); }
    static uint32_t Count(const cMemBlock& block) { return Get(block)->mRefCount; }
};

// Bytes the process holds from malloc/new. Exact under AddressSanitizer; without it, glibc's
// count of the main arena, which is stable across a repeated round of the same allocations.
inline size_t AllocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}
