// Blocks shared between threads: a last reference dropped on another thread, and many threads
// copying, assigning, writing and dropping handles of the same blocks at once, after which
// every count balances and every node is back in its pool exactly once.
//
// VRN3_STRESS_THREADS and VRN3_STRESS_OPS (operations per thread) shrink the stress for slow
// runners such as helgrind.
#include "BlockTestSupport.h"
#include "blocks/cCommandBlock.h"
#include "blocks/cStructBlock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

int FromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

// One-shot signal from one thread to another.
class Signal {
public:
    void Raise()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mRaised = true;
        mCond.notify_all();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(mMutex);
        mCond.wait(lock, [this] { return mRaised; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mCond;
    bool mRaised = false;
};

TEST(BlockThreads, TheLastReferenceMayBeDroppedOnAnotherThread)
{
    using cStruct = cStructBlock<TCounted<30>, kCodeTest>;
    using cCommand = cCommandBlock<TCounted<31>, kCodeChun>;
    Signal dropped;
    cMemBlock::node* structNode = nullptr;
    bool pooledThere = false;
    std::thread other;
    {
        cStruct data(8);
        cCommand command;
        command.MarkVisited(nullptr);
        structNode = NodeOf::Get(data);
        other = std::thread([&, heldData = cMemBlock(data), heldCommand = cMemBlock(command)]() mutable {
            dropped.Wait();
            heldData = cMemBlock();
            heldCommand = cMemBlock();
            pooledThere = !cStruct::node::mChain.empty() && cStruct::node::mChain.front() == structNode;
        });
    }
    dropped.Raise();
    other.join();
    EXPECT_TRUE(pooledThere);
    EXPECT_EQ(0, TCounted<30>::counters.Live());
    EXPECT_EQ(0, TCounted<31>::counters.Live());
    EXPECT_EQ(1, TCounted<31>::counters.destroyed.load());
}

using Rec = TCounted<32>;
using cStressBlock = cStructBlock<Rec, kCodeTest>;
constexpr uint32_t kExtra = 12;

struct ThreadResult {
    std::set<cMemBlock::node*> nodes; // every node this thread saw made
    long mismatches = 0;
};

// Handles of one thread; the seeds are shared, read-only handles of the blocks all threads use.
void Churn(const std::vector<cStressBlock>& seeds, uint32_t thread, int operations, ThreadResult& result)
{
    constexpr int kSlots = 6;
    std::vector<cStressBlock> slots;
    uint32_t expected[kSlots];
    for (int i = 0; i < kSlots; ++i) {
        slots.push_back(seeds[i % seeds.size()]);
        expected[i] = 1000 + i % seeds.size();
    }
    uint32_t rng = 2463534242u ^ (thread * 0x9E3779B9u);
    for (int op = 0; op < operations; ++op) {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        const int i = rng % kSlots;
        const int j = (rng >> 8) % kSlots;
        switch ((rng >> 16) % 5) {
        case 0: { // copy from a shared block
            const int s = (rng >> 24) % seeds.size();
            slots[i] = seeds[s];
            expected[i] = 1000 + s;
            break;
        }
        case 1: // assign between own handles, maybe the same one
            slots[i] = slots[j];
            expected[i] = expected[j];
            break;
        case 2: { // write: a copy of one's own when shared
            Rec& rec = slots[i].Record();
            const uint32_t value = thread << 24 | (op & 0xFFFFFF);
            rec.value = value;
            std::memcpy(slots[i].OwnExtra(), &value, sizeof value);
            expected[i] = value;
            result.nodes.insert(NodeOf::Get(slots[i]));
            break;
        }
        case 3: { // drop: replace by a new block
            slots[i] = cStressBlock(kExtra);
            std::memset(slots[i].OwnExtra(), 0, kExtra);
            expected[i] = 0;
            result.nodes.insert(NodeOf::Get(slots[i]));
            break;
        }
        default: { // a passing copy, dropped at once
            cMemBlock passing(slots[j]);
            cStressBlock view(passing);
            if (view.GetSize() != sizeof(Rec) + kExtra)
                ++result.mismatches;
            break;
        }
        }
        const cStressBlock& check = slots[i];
        uint32_t extra;
        std::memcpy(&extra, check.Extra(), sizeof extra);
        if (check.Record().value != expected[i] || extra != expected[i] || check.GetType() != kCodeTest)
            ++result.mismatches;
    }
}

TEST(BlockThreads, ManyThreadsShareBlocksAndEveryNodeEndsInItsPoolOnce)
{
    const int threads = FromEnvironment("VRN3_STRESS_THREADS", 8);
    const int operations = FromEnvironment("VRN3_STRESS_OPS", 200000);
    ASSERT_TRUE(cStressBlock::node::mChain.empty());

    std::set<cMemBlock::node*> made;
    std::vector<cStressBlock> seeds;
    for (uint32_t s = 0; s < 4; ++s) {
        cStressBlock seed(kExtra);
        seed.Record().value = 1000 + s;
        std::memset(seed.OwnExtra(), 0, kExtra);
        std::memcpy(seed.OwnExtra(), &seed.Record().value, sizeof(uint32_t));
        made.insert(NodeOf::Get(seed));
        seeds.push_back(seed);
    }

    std::vector<ThreadResult> results(threads);
    std::vector<std::thread> workers;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(Churn, std::cref(seeds), static_cast<uint32_t>(t), operations, std::ref(results[t]));
    for (std::thread& w : workers)
        w.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    long mismatches = 0;
    for (const ThreadResult& r : results) {
        mismatches += r.mismatches;
        made.insert(r.nodes.begin(), r.nodes.end());
    }
    EXPECT_EQ(0, mismatches) << "a holder saw bytes it did not write";
    for (uint32_t s = 0; s < seeds.size(); ++s) {
        EXPECT_EQ(1u, NodeOf::Count(seeds[s])) << "seed " << s;
        EXPECT_EQ(1000 + s, static_cast<const cStressBlock&>(seeds[s]).Record().value);
    }
    seeds.clear();

    const auto& pool = cStressBlock::node::mChain;
    const std::set<cMemBlock::node*> pooled(pool.begin(), pool.end());
    EXPECT_EQ(0, Rec::counters.Live());
    EXPECT_EQ(pool.size(), pooled.size()) << "a node pooled twice";
    EXPECT_EQ(made.size(), pool.size());
    EXPECT_TRUE(made == pooled) << "every node made is pooled, and nothing else";
    std::printf("[ stress   ] %d threads x %d operations on 4 shared blocks: %zu nodes made, %zu pooled, %lld ms\n",
                threads, operations, made.size(), pool.size(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

} // namespace
