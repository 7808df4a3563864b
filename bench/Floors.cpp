// The benchmark's floors (see Floors.h).
#include "Floors.h"

#include "FloorPool.h"

#include "blocks/CCriticalSection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRepetitions = 6;
// Records a repetition at scale 1: fewer for large payloads, whose copies dominate.
constexpr uint64_t kSmallRecords = 100000;
constexpr uint64_t kLargeRecords = 4000;
constexpr uint32_t kLargePayload = 16384;
constexpr uint64_t kLockPairs = 200000;

double NsSince(Clock::time_point start, uint64_t n)
{
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(n);
}

} // namespace

Floors Floors::Measure(const std::vector<uint32_t>& payloads, long scale)
{
    Floors floors;
    for (uint32_t payload : payloads)
        floors.mCopies.push_back(MeasureCopy(payload, scale));
    floors.mLockPairNs = MeasureLockPair(scale);
    return floors;
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

Floors::Copy Floors::MeasureCopy(uint32_t payload, long scale)
{
    const uint64_t n = static_cast<uint64_t>(scale) * (payload >= kLargePayload ? kLargeRecords : kSmallRecords);
    std::vector<uint8_t> source(payload, 0x5A);
    std::vector<uint8_t> target(payload);
    FloorPool pool(payload);
    volatile uint8_t sink = 0;
    Copy copy{payload, 1e300, 1e300};
    for (int rep = 0; rep < kRepetitions; ++rep) {
        Clock::time_point start = Clock::now();
        for (uint64_t i = 0; i < n; ++i) {
            FloorPool::Buffer* b = pool.Get();
            std::memcpy(b->Data(), source.data(), payload);
            sink = b->Data()[payload - 1];
            pool.Release(b);
        }
        copy.pooledNs = std::min(copy.pooledNs, NsSince(start, n));
        start = Clock::now();
        for (uint64_t i = 0; i < n; ++i) {
            std::memcpy(target.data(), source.data(), payload);
            sink = target[i % payload];
            asm volatile("" ::: "memory");
        }
        copy.memcpyNs = std::min(copy.memcpyNs, NsSince(start, n));
    }
    (void)sink;
    return copy;
}

// The calls the plug-in makes: Lock and Unlock of a CCriticalSection, out of line in the host.
double Floors::MeasureLockPair(long scale)
{
    const uint64_t n = static_cast<uint64_t>(scale) * kLockPairs;
    CCriticalSection lock;
    double best = 1e300;
    for (int rep = 0; rep < kRepetitions; ++rep) {
        const Clock::time_point start = Clock::now();
        for (uint64_t i = 0; i < n; ++i) {
            lock.Lock(INFINITE);
            lock.Unlock();
        }
        best = std::min(best, NsSince(start, n));
    }
    return best;
}
