// Command blocks: one shared record and one visited list per command, whoever views it, and a
// last release that gives back everything exactly once.
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <malloc.h>

using namespace kit;

namespace {

CBrick* FakeBrick(int i)
{
    return reinterpret_cast<CBrick*>(static_cast<uintptr_t>(0x1000 + 16 * i)); // never dereferenced
}

TEST(cCommandBlock, MarkVisitedAddsEachBrickOnceAndGrowsByTen)
{
    const cChunkCmdBlock chunk; // the list belongs to the node: a const view marks too
    EXPECT_EQ(10, chunk.VisitedCapacity());
    for (int i = 0; i < 21; ++i) {
        EXPECT_TRUE(chunk.MarkVisited(FakeBrick(i)));
        EXPECT_FALSE(chunk.MarkVisited(FakeBrick(i)));
        EXPECT_EQ(i < 10 ? 10 : i < 20 ? 20 : 30, chunk.VisitedCapacity());
    }
    ASSERT_EQ(21, chunk.VisitedCount());
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(FakeBrick(i), chunk.Visited(i)) << "entries kept across growth";
}

TEST(cCommandBlock, ViewsShareOneListAndOneRecordWithoutCopying)
{
    using cCmd = cCommandBlock<TCounted<21>, kCodePlay>;
    cCmd sent;
    cMemBlock queued(sent);
    cCmd received(queued);
    const int made = TCounted<21>::constructed;
    EXPECT_TRUE(received.MarkVisited(FakeBrick(1)));
    EXPECT_FALSE(sent.MarkVisited(FakeBrick(1)));
    received.Record().value = 77; // shared, not copied on write
    EXPECT_EQ(77u, sent.Record().value);
    EXPECT_EQ(3u, Peek::Count(sent));
    EXPECT_EQ(made, TCounted<21>::constructed);
}

// Records with owned members and visited lists that grew, shared by several handles: after a
// round of them, the last releases have given back every byte (and each record died once).
TEST(cCommandBlock, TheLastReleaseFreesListRecordAndStorageOnce)
{
    auto round = [] {
        std::vector<cMessageBlock> held;
        for (int i = 0; i < 50; ++i) {
            held.emplace_back();
            held.back().Record().text = std::string(100 + i, 'x');
            for (int b = 0; b < 12; ++b)
                held.back().MarkVisited(FakeBrick(b));
            held.emplace_back(cMemBlock(held.back()));
        }
        cCommandBlock<TCounted<22>, kCodeChun> counted;
        cMemBlock other(counted);
    };
    round(); // warms the allocator's caches
    const size_t before = mallinfo2().uordblks;
    round();
    EXPECT_EQ(before, mallinfo2().uordblks);
    EXPECT_EQ(2, TCounted<22>::destroyed.load());
}

} // namespace
