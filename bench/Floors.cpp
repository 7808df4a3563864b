// The benchmark's floors (see Floors.h).
#include "Floors.h"

#include "FloorPool.h"
#include "Measurement.h"

#include "../blocks/CCriticalSection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The length of one slice: about a millisecond, as long as a short scenario slice, so that both
// are as likely to run undisturbed. Fewer records for large payloads, whose copies dominate.
constexpr uint64_t kSmallRecords = 100000;
constexpr uint64_t kLargeRecords = 1600;
constexpr uint32_t kLargePayload = 16384;
constexpr uint64_t kLockPairs = 100000;

double NsSince(double start, uint64_t n)
{
    return (CpuNs() - start) / static_cast<double>(n);
}

} // namespace

Floors Floors::Measure(const std::vector<uint32_t>& payloads, int samples)
{
    Floors floors;
    for (int i = 0; i < samples; ++i) {
        for (uint32_t payload : payloads)
            floors.Sample(payload);
    }
    return floors;
}

void Floors::Sample(uint32_t payload)
{
    const Copy copy = MeasureCopy(payload);
    Copy& kept = Slot(payload);
    kept.pooledNs = std::min(kept.pooledNs, copy.pooledNs);
    kept.memcpyNs = std::min(kept.memcpyNs, copy.memcpyNs);
    mLockPairNs = std::min(mLockPairNs, MeasureLockPair());
}

void Floors::Merge(const Floors& other)
{
    for (const Copy& copy : other.mCopies) {
        Copy& kept = Slot(copy.payload);
        kept.pooledNs = std::min(kept.pooledNs, copy.pooledNs);
        kept.memcpyNs = std::min(kept.memcpyNs, copy.memcpyNs);
    }
    mLockPairNs = std::min(mLockPairNs, other.mLockPairNs);
}

Floors::Copy& Floors::Slot(uint32_t payload)
{
    for (Copy& copy : mCopies) {
        if (copy.payload == payload)
            return copy;
    }
    mCopies.push_back(Copy{payload, 1e300, 1e300});
    return mCopies.back();
}

const Floors::Copy& Floors::For(uint32_t payload) const
{
    for (const Copy& copy : mCopies) {
        if (copy.payload == payload)
            return copy;
    }
    std::fprintf(stderr, "vrn3-bench: no floor measured for %u bytes\n", payload);
    std::abort();
}

double Floors::RuleFloorNs(uint32_t payload, double pairs, int copies) const
{
    return pairs * mLockPairNs + copies * For(payload).memcpyNs;
}

Floors::Copy Floors::MeasureCopy(uint32_t payload)
{
    const uint64_t n = payload >= kLargePayload ? kLargeRecords : kSmallRecords;
    std::vector<uint8_t> source(payload, 0x5A);
    std::vector<uint8_t> target(payload);
    FloorPool pool(payload);
    volatile uint8_t sink = 0;
    Copy copy{payload, 0, 0};
    double start = CpuNs();
    for (uint64_t i = 0; i < n; ++i) {
        FloorPool::Buffer* b = pool.Get();
        std::memcpy(b->Data(), source.data(), payload);
        sink = b->Data()[payload - 1];
        pool.Release(b);
    }
    copy.pooledNs = NsSince(start, n);
    start = CpuNs();
    for (uint64_t i = 0; i < n; ++i) {
        std::memcpy(target.data(), source.data(), payload);
        sink = target[i % payload];
        asm volatile("" ::: "memory");
    }
    copy.memcpyNs = NsSince(start, n);
    (void)sink;
    return copy;
}

// The calls the plug-in makes: Lock and Unlock of a CCriticalSection, out of line in the host.
double Floors::MeasureLockPair()
{
    CCriticalSection lock;
    const double start = CpuNs();
    for (uint64_t i = 0; i < kLockPairs; ++i) {
        lock.Lock(INFINITE);
        lock.Unlock();
    }
    return NsSince(start, kLockPairs);
}
