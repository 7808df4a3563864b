// Command blocks: one shared record and one visited list per command, whoever views it, and a
// last release that gives back everything exactly once.
#include "../kit/Blocks.h"

#include <gtest/gtest.h>

#include <malloc.h>

using namespace kit;

namespace {

CBrick* FakeBrick(int i)
{
    return reinterpret_cast<CBrick*>(static_cast<uintptr_t>(0x1000 + 16 * i)); // never dereferenced
}

// The list and the record belong to the node: every view, const or not, marks the same list and
// writes the same record, without copying.
TEST(cCommandBlock, MarkVisitedAddsEachBrickOnceToTheOneListOfAllViews)
{
    using cCmd = cCommandBlock<TCounted<21>, kCodePlay>;
    const cCmd sent;
    const int made = TCounted<21>::constructed;
    cCmd received{cMemBlock(sent)};
    EXPECT_EQ(10, sent.VisitedCapacity());
    for (int i = 0; i < 21; ++i) {
        EXPECT_TRUE((i % 2 == 0 ? sent : received).MarkVisited(FakeBrick(i)));
        EXPECT_FALSE((i % 2 == 0 ? received : sent).MarkVisited(FakeBrick(i)));
        EXPECT_EQ(i < 10 ? 10 : i < 20 ? 20 : 30, received.VisitedCapacity());
    }
    ASSERT_EQ(21, sent.VisitedCount());
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(FakeBrick(i), sent.Visited(i)) << "entries kept across growth";
    received.Record().value = 77;
    EXPECT_EQ(77u, sent.Record().value);
    cMemBlock& base = received;
    EXPECT_EQ(&sent.Record(), base.GetData()) << "a write through the base handle copies nothing either";
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
        cMemBlock other(cCommandBlock<TCounted<22>, kCodeChun>{});
    };
    round(); // warms the allocator's caches
    const size_t before = mallinfo2().uordblks;
    round();
    EXPECT_EQ(before, mallinfo2().uordblks);
    EXPECT_EQ(2, TCounted<22>::destroyed.load());
}

} // namespace
