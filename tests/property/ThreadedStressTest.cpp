// Threads sharing blocks: several sound bricks, each with its own threads in a threaded
// pipeline, are fed the same block handles while other threads copy, assign, write through
// GetData() and drop handles of those same blocks.
//
// Afterwards every brick has sent the same sound, every block made here is held by exactly the
// one handle the test kept (every reference count balances), and once those go, every node is in
// its record type's pool exactly once. Sizes come from VRN3_STRESS_BRICKS, VRN3_STRESS_ROUNDS
// and VRN3_STRESS_SHARERS, so that a run under helgrind or DRD can be kept short.
#include "PropertyHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>

using namespace vrn3test;

namespace {

// Reads a node's reference count through a handle of its own (which adds one).
class Peek : public cMemBlock {
public:
    explicit Peek(const cMemBlock& block) : cMemBlock(block) {}
    uint32_t Count() const { return mNode->mRefCount - 1; }
    const void* Node() const { return mNode; }
};

template <class Block>
size_t TimesPooled(const void* node)
{
    using Node = typename Block::node;
    CSingleLock lock(&Node::mChain.mLock, true);
    return static_cast<size_t>(std::count(Node::mChain.begin(), Node::mChain.end(), static_cast<const Node*>(node)));
}

template <class Block>
bool PoolHasNoDuplicate()
{
    using Node = typename Block::node;
    CSingleLock lock(&Node::mChain.mLock, true);
    std::map<const Node*, int> seen;
    for (const Node* n : Node::mChain) {
        if (++seen[n] > 1)
            return false;
    }
    return true;
}

// The blocks of one round: a tag opening the chunk, sound records in fragments, video, a tag
// closing it.
std::vector<cMemBlock> RoundBlocks(int round)
{
    std::vector<cMemBlock> blocks;
    blocks.push_back(Tag(kCodeTagS, static_cast<uint64_t>(round) * 3000));
    for (int r = 0; r < 4; ++r) {
        std::vector<uint8_t> payload(64 + r * 16, static_cast<uint8_t>(round + r));
        if (r % 2 == 0) {
            blocks.push_back(Fragment(1, 3, 0, payload, 0));
        } else {
            std::vector<uint8_t> head(payload.begin(), payload.begin() + 20);
            std::vector<uint8_t> tail(payload.begin() + 20, payload.end());
            blocks.push_back(Fragment(1, 2, 0, head, 0));
            blocks.push_back(Fragment(2, 3, 0, tail, 0)); // another stream between
            blocks.push_back(Fragment(1, 1, 0, tail, static_cast<uint16_t>(tail.size())));
        }
        blocks.push_back(Video(3, static_cast<uint16_t>(r * 100), 0));
    }
    blocks.push_back(Tag(kCodeTagF, static_cast<uint64_t>(round) * 3000 + 2970));
    return blocks;
}

// A thread that shares the blocks: copies, assigns, writes into its own copies and drops them.
void Share(const std::vector<cMemBlock>& blocks, unsigned seed, std::atomic<uint64_t>& operations)
{
    uint64_t ops = 0;
    std::vector<cMemBlock> mine;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const size_t at = (i * 7 + seed) % blocks.size();
        mine.push_back(blocks[at]); // copy
        cMemBlock assigned;
        assigned = blocks[(at + 1) % blocks.size()]; // assign
        assigned = assigned;                         // to itself
        if (blocks[at].GetType() == kCodeSnd3) {
            cDataBlock writer(blocks[at]);
            writer.Record().flags ^= 0x01; // written through GetData(): a copy of its own
            mine.push_back(writer);
        } else if (blocks[at].GetType() == kCodeTag) {
            cTagBlock writer(blocks[at]);
            writer.Record().kind = seed;
        }
        if (mine.size() > 8)
            mine.erase(mine.begin()); // drop
        ops += 5;
    }
    operations += ops;
}

} // namespace

TEST(ThreadedStress, BricksOnTheirOwnThreadsAndSharersKeepEveryCountBalanced)
{
    const int bricks = static_cast<int>(EnvNumber("VRN3_STRESS_BRICKS", 4));
    const int rounds = static_cast<int>(EnvNumber("VRN3_STRESS_ROUNDS", 500));
    const int sharers = static_cast<int>(EnvNumber("VRN3_STRESS_SHARERS", 3));
    std::vector<cMemBlock> kept; // one handle of every block made here
    std::vector<std::unique_ptr<SoundChain>> chains;
    for (int b = 0; b < bricks; ++b) {
        chains.emplace_back(new SoundChain);
        chains.back()->pipeline.Start();
    }
    const auto started = std::chrono::steady_clock::now();
    std::atomic<uint64_t> operations{0};
    auto feed = [&](const cMemBlock& block, bool control) {
        for (auto& chain : chains) {
            if (control)
                chain->brick->enqueueControl(block);
            else
                chain->brick->enqueueData(block);
        }
        operations += chains.size();
    };
    kept.push_back(Header(1, "-rate=8000 -bits=16"));
    feed(kept.back(), false);
    for (int round = 0; round < rounds; ++round) {
        const std::vector<cMemBlock> blocks = RoundBlocks(round);
        kept.insert(kept.end(), blocks.begin(), blocks.end());
        std::vector<std::thread> threads;
        for (int s = 0; s < sharers; ++s)
            threads.emplace_back(Share, std::cref(blocks), static_cast<unsigned>(round * 31 + s), std::ref(operations));
        const cChunkCmdBlock request = Request(static_cast<uint64_t>(round) * 3000);
        feed(request, true); // the same request block reaches every brick
        for (const cMemBlock& block : blocks)
            feed(block, false);
        for (std::thread& t : threads)
            t.join();
        if (round % 50 == 49) { // a reset once the round is served: it finds nothing queued
            for (auto& chain : chains)
                chain->pipeline.WaitIdle();
            feed(Reset(round), false);
            for (auto& chain : chains)
                chain->pipeline.WaitIdle();
        }
    }
    for (auto& chain : chains)
        chain->pipeline.WaitIdle();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (auto& chain : chains)
        chain->pipeline.Stop();

    // Every brick sent the same sound and tags: 4 records and 2 tags a round.
    const CRecordingSink& first = *chains[0]->sink;
    ASSERT_EQ(first.data.size(), static_cast<size_t>(rounds) * 6);
    for (auto& chain : chains) {
        ASSERT_EQ(chain->sink->data.size(), first.data.size());
        EXPECT_EQ(chain->brick->ChunkRequestCount(), 0);
        for (size_t i = 0; i < first.data.size(); ++i) {
            const cMemBlock& a = first.data[i];
            const cMemBlock& b = chain->sink->data[i];
            ASSERT_EQ(a.GetType(), b.GetType());
            ASSERT_EQ(a.GetSize(), b.GetSize());
            if (a.GetType() == kCodeSCDA) {
                ASSERT_EQ(std::memcmp(cSoundBlock(a).Extra(), cSoundBlock(b).Extra(), a.GetSize() - 32), 0);
            }
        }
    }
    // The sinks' handles are the only ones left of what the bricks sent; the bricks hold their
    // last reassembly records, which go with the pipelines.
    std::vector<std::pair<const void*, uint32_t>> sent;
    for (auto& chain : chains) {
        for (const cMemBlock& block : chain->sink->data) {
            const Peek peek(block);
            EXPECT_EQ(peek.Count(), 1u) << "a block the brick sent is held elsewhere";
            if (block.GetType() == kCodeSCDA)
                sent.emplace_back(peek.Node(), block.GetType());
        }
    }
    chains.clear(); // pipelines, bricks, sinks and every handle they held
    std::vector<std::pair<const void*, uint32_t>> made;
    for (const cMemBlock& block : kept) {
        const Peek peek(block);
        EXPECT_EQ(peek.Count(), 1u) << "a block made here is still shared after every thread let go";
        made.emplace_back(peek.Node(), block.GetType());
    }
    kept.clear();
    for (const auto& node : made) {
        const size_t pooled = node.second == kCodeTag   ? TimesPooled<cTagBlock>(node.first)
                              : node.second == kCodeHdr3 ? TimesPooled<cHeaderBlock>(node.first)
                              : node.second == kCodeVid3 ? TimesPooled<cVideoBlock>(node.first)
                              : node.second == kCodeSnd3 ? TimesPooled<cDataBlock>(node.first)
                                                         : 1; // command blocks are freed, not pooled
        EXPECT_EQ(pooled, 1u) << "a released node is in its pool exactly once";
    }
    for (const auto& node : sent) {
        EXPECT_EQ(TimesPooled<cSoundBlock>(node.first), 1u) << "a sound node the bricks made is pooled exactly once";
    }
    EXPECT_TRUE(PoolHasNoDuplicate<cSoundBlock>());
    EXPECT_TRUE(PoolHasNoDuplicate<cTagBlock>());
    EXPECT_TRUE(PoolHasNoDuplicate<cDataBlock>());
    EXPECT_TRUE(PoolHasNoDuplicate<cVideoBlock>());
    std::printf("stress: %d bricks (%d threads) + %d sharing threads, %d rounds, %llu operations, %.2f s\n", bricks,
                bricks * 3, sharers, rounds, static_cast<unsigned long long>(operations.load()), seconds);
}
