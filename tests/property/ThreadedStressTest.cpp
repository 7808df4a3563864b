// Threads sharing blocks: several sound bricks, each with its own threads in a threaded
// pipeline, are fed the same block handles while other threads copy, assign, write through
// GetData() and drop handles of those same blocks.
//
// Afterwards every brick has sent the same sound, every block made here is held by exactly the
// one handle the test kept (every reference count balances), and once those go, every node is in
// its record type's pool exactly once. Sizes come from VRN3_STRESS_BRICKS, VRN3_STRESS_ROUNDS
// and VRN3_STRESS_SHARERS, so that a run under helgrind or DRD can be kept short.
#include "../kit/Chain.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>

using namespace kit;

namespace {

int EnvNumber(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// The blocks of one round: a tag opening the chunk, four sound records of stream 1 (two of them
// in fragments, with another stream's fragment between), video, a tag closing it.
std::vector<cMemBlock> RoundBlocks(int round)
{
    const uint64_t start = static_cast<uint64_t>(round) * kChunkLength;
    std::vector<cMemBlock> blocks = {Tag(kCodeTagS, start)};
    for (int r = 0; r < 4; ++r) {
        const Bytes payload(64 + r * 16, static_cast<uint8_t>(round + r));
        const Bytes head(payload.begin(), payload.begin() + 20), tail(payload.begin() + 20, payload.end());
        if (r % 2 == 0)
            blocks.push_back(Fragment(kWhole, payload, 1));
        else
            blocks.insert(blocks.end(),
                          {Fragment(kFirst, head, 1), Fragment(kWhole, tail, 2), Fragment(kLast, tail, 1)});
        blocks.push_back(Video(kWhole, static_cast<uint16_t>(r * 100), 0));
    }
    blocks.push_back(Tag(kCodeTagF, start + kTagFAfterTagS));
    return blocks;
}

// A thread that shares the blocks: copies, assigns, writes into its own copies and drops them.
void Share(const std::vector<cMemBlock>& blocks, unsigned seed)
{
    std::vector<cMemBlock> mine;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const size_t at = (i * 7 + seed) % blocks.size();
        cMemBlock assigned;
        assigned = blocks[(at + 1) % blocks.size()];
        assigned = assigned;
        mine.push_back(blocks[at]);
        if (blocks[at].GetType() == kCodeSnd3) {
            cDataBlock own(blocks[at]);
            own.Record().flags ^= 0x01; // written through GetData(): a copy of its own
        } else if (blocks[at].GetType() == kCodeTag) {
            cTagBlock own(blocks[at]);
            own.Record().kind = seed;
        }
    }
}

// Times each node is in the pool of Block's type; a node never held there counts once.
template <class Block>
void ExpectPooledOnce(const std::vector<const void*>& nodes)
{
    std::vector<const void*> pool = Pooled<Block>();
    for (const void* n : nodes)
        EXPECT_EQ(1, std::count(pool.begin(), pool.end(), n)) << "a released node is in its pool exactly once";
    std::sort(pool.begin(), pool.end());
    EXPECT_EQ(pool.end(), std::adjacent_find(pool.begin(), pool.end())) << "a node pooled twice";
}

} // namespace

TEST(ThreadedStress, BricksOnTheirOwnThreadsAndSharersKeepEveryCountBalanced)
{
    const int bricks = EnvNumber("VRN3_STRESS_BRICKS", 4), rounds = EnvNumber("VRN3_STRESS_ROUNDS", 500),
              sharers = EnvNumber("VRN3_STRESS_SHARERS", 3);
    std::vector<cMemBlock> kept = {Header({{1, "ima1", kParams}})}; // one handle of every block made here
    std::vector<std::unique_ptr<Chain>> chains;
    for (int b = 0; b < bricks; ++b) {
        chains.emplace_back(new Chain(LinkedBrick("1")));
        chains.back()->pipeline.Start();
    }
    auto feed = [&](const cMemBlock& block, bool control) {
        for (auto& chain : chains)
            control ? chain->brick->enqueueControl(block) : chain->brick->enqueueData(block);
    };
    auto waitIdle = [&] { std::for_each(chains.begin(), chains.end(), [](auto& c) { c->pipeline.WaitIdle(); }); };
    feed(kept.back(), false);
    for (int round = 0; round < rounds; ++round) {
        const std::vector<cMemBlock> blocks = RoundBlocks(round);
        kept.insert(kept.end(), blocks.begin(), blocks.end());
        std::vector<std::thread> threads;
        for (int s = 0; s < sharers; ++s)
            threads.emplace_back(Share, std::cref(blocks), static_cast<unsigned>(round * 31 + s));
        feed(Chunk(static_cast<uint64_t>(round) * kChunkLength), true); // the same request reaches every brick
        for (const cMemBlock& block : blocks)
            feed(block, false);
        for (std::thread& t : threads)
            t.join();
        if (round % 50 == 49) { // a reset once the round is served: it finds nothing queued
            waitIdle();
            feed(Reset(round), false);
            waitIdle();
        }
    }
    waitIdle();
    for (auto& chain : chains)
        chain->pipeline.Stop();

    // Every brick sent the same sound and tags (4 records and 2 tags a round), and the sinks
    // hold the only handles of what the bricks sent.
    std::vector<std::vector<cMemBlock>> sent;
    for (auto& chain : chains) {
        sent.push_back({});
        for (const cMemBlock& b : chain->Take())
            if (b.GetType() != kCodeNtfy)
                sent.back().push_back(b);
        EXPECT_EQ(0, chain->Sound().ChunkRequestCount());
    }
    std::vector<const void*> soundNodes;
    for (const std::vector<cMemBlock>& out : sent) {
        ASSERT_EQ(static_cast<size_t>(rounds) * 6, out.size());
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(Describe(sent[0][i]), Describe(out[i]));
            if (out[i].GetType() == kCodeSCDA) {
                ASSERT_EQ(Payload(sent[0][i]), Payload(out[i]));
                soundNodes.push_back(Peek::Node(out[i]));
            }
            EXPECT_EQ(1u, Peek::Count(out[i])) << "a block the brick sent is held elsewhere";
        }
    }
    sent.clear();
    chains.clear();                                    // pipelines, bricks and every handle they held
    std::map<uint32_t, std::vector<const void*>> made; // by type; command blocks are freed, not pooled
    for (const cMemBlock& block : kept) {
        EXPECT_EQ(1u, Peek::Count(block)) << "a block made here is still shared after every thread let go";
        made[block.GetType()].push_back(Peek::Node(block));
    }
    kept.clear();
    ExpectPooledOnce<cTagBlock>(made[kCodeTag]);
    ExpectPooledOnce<cHeaderBlock>(made[kCodeHdr3]);
    ExpectPooledOnce<cVideoBlock>(made[kCodeVid3]);
    ExpectPooledOnce<cDataBlock>(made[kCodeSnd3]);
    ExpectPooledOnce<cSoundBlock>(soundNodes);
}
