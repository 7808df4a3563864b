// Blocks shared between threads: a last reference dropped on another thread, and many threads
// copying, assigning, writing and dropping handles of the same blocks at once, after which
// every count balances and every node is back in its pool exactly once.
//
// VRN3_STRESS_THREADS and VRN3_STRESS_OPS (operations per thread) shrink the stress for slow
// runners such as helgrind.
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <thread>

using namespace kit;

namespace {

int FromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

TEST(BlockThreads, TheLastReferenceMayBeDroppedOnAnotherThread)
{
    using cStruct = cStructBlock<TCounted<30>, kCodeTest>;
    std::promise<void> drop;
    std::thread other;
    const void* node = nullptr;
    {
        cStruct data(8);
        cCommandBlock<TCounted<31>, kCodeChun> command;
        command.MarkVisited(nullptr);
        node = Peek::Node(data);
        other = std::thread([go = drop.get_future(), held = std::vector<cMemBlock>{data, command}]() mutable {
            go.wait();
            held.clear();
        });
    }
    drop.set_value();
    other.join();
    EXPECT_EQ(node, Pooled<cStruct>().front());
    EXPECT_EQ(0, TCounted<30>::Live());
    EXPECT_EQ(1, TCounted<31>::destroyed.load());
}

using cStressBlock = cStructBlock<TCounted<32>, kCodeTest>;
constexpr uint32_t kExtra = 12;

// Handles of one thread, which checks after every operation that each of its handles holds the
// value last written to it (record and extra bytes alike); the seeds are shared, read-only
// handles of the blocks all threads use. Returns the count of mismatches.
long Churn(const std::vector<cStressBlock>& seeds, uint32_t thread, int operations, std::set<const void*>& made)
{
    constexpr int kSlots = 6;
    std::vector<cStressBlock> slots(seeds.begin(), seeds.begin() + 4);
    slots.insert(slots.end(), seeds.begin(), seeds.begin() + 2);
    uint32_t expected[kSlots] = {1000, 1001, 1002, 1003, 1000, 1001};
    long mismatches = 0;
    uint32_t rng = 2463534242u ^ (thread * 0x9E3779B9u);
    for (int op = 0; op < operations; ++op) {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        const int i = rng % kSlots, j = (rng >> 8) % kSlots, s = (rng >> 24) % 4;
        switch ((rng >> 16) % 5) {
        case 0: // copy from a shared block
            slots[i] = seeds[s];
            expected[i] = 1000 + s;
            break;
        case 1: // assign between own handles, maybe the same one
            slots[i] = slots[j];
            expected[i] = expected[j];
            break;
        case 2: // write: a copy of one's own when shared
        case 3: // or drop: replace by a new block
            if ((rng >> 16) % 5 == 3)
                slots[i] = cStressBlock(kExtra);
            expected[i] = thread << 24 | (op & 0xFFFFFF);
            slots[i].Record().value = expected[i];
            std::memcpy(slots[i].OwnExtra(), &expected[i], sizeof expected[i]);
            made.insert(Peek::Node(slots[i]));
            break;
        default: // a passing copy, dropped at once
            mismatches += cStressBlock(cMemBlock(slots[j])).GetSize() != sizeof(TCounted<32>) + kExtra;
        }
        const cStressBlock& check = slots[i];
        mismatches += check.Record().value != expected[i] || std::memcmp(check.Extra(), &expected[i], 4) != 0;
    }
    return mismatches;
}

TEST(BlockThreads, ManyThreadsShareBlocksAndEveryNodeEndsInItsPoolOnce)
{
    const int threads = FromEnvironment("VRN3_STRESS_THREADS", 8);
    const int operations = FromEnvironment("VRN3_STRESS_OPS", 200000);
    std::vector<cStressBlock> seeds;
    std::vector<std::set<const void*>> made(threads + 1);
    for (uint32_t s = 0; s < 4; ++s) {
        seeds.emplace_back(kExtra);
        seeds.back().Record().value = 1000 + s;
        std::memcpy(seeds.back().OwnExtra(), &seeds.back().Record().value, 4);
        made[threads].insert(Peek::Node(seeds.back()));
    }
    std::vector<std::future<long>> results;
    for (int t = 0; t < threads; ++t)
        results.push_back(std::async(std::launch::async, Churn, std::cref(seeds), t, operations, std::ref(made[t])));
    long mismatches = 0;
    for (std::future<long>& r : results)
        mismatches += r.get();
    EXPECT_EQ(0, mismatches) << "a holder saw bytes it did not write";
    for (uint32_t s = 0; s < seeds.size(); ++s) {
        EXPECT_EQ(1u, Peek::Count(seeds[s])) << "seed " << s;
        EXPECT_EQ(1000 + s, static_cast<const cStressBlock&>(seeds[s]).Record().value);
    }
    seeds.clear();
    std::set<const void*> all;
    for (const std::set<const void*>& m : made)
        all.insert(m.begin(), m.end());
    const std::vector<const void*> pool = Pooled<cStressBlock>();
    EXPECT_EQ(0, TCounted<32>::Live());
    EXPECT_EQ(pool.size(), all.size()) << "a node pooled twice, or one lost";
    EXPECT_TRUE(all == std::set<const void*>(pool.begin(), pool.end())) << "every node made is pooled, and nothing else";
}

} // namespace
