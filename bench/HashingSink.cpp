// The benchmark's sink brick: takes, counts and optionally hashes what the sound brick sends.
#include "HashingSink.h"

namespace {
constexpr uint64_t kFnvPrime = 1099511628211ull;
}

void CHashingSink::Drain()
{
    while (DoData()) {}
}

bool CHashingSink::Take(const cMemBlock& block)
{
    ++mBlocks;
    if (mHashing) {
        const uint32_t head[2] = {block.GetType(), block.GetSize()};
        Fold(head, sizeof head);
        Fold(block.GetData(), block.GetSize());
    }
    return true;
}

void CHashingSink::Fold(const void* data, uint32_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < size; ++i)
        mDigest = (mDigest ^ p[i]) * kFnvPrime;
}
