// Command blocks: one shared record and one visited list per command, whoever views it, and a
// last release that gives back everything exactly once.
#include "BlockTestSupport.h"
#include "records/BlockTypes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CBrick* FakeBrick(int i)
{
    return reinterpret_cast<CBrick*>(static_cast<uintptr_t>(0x1000 + 16 * i)); // never dereferenced
}

TEST(cCommandBlock, ANewBlockHoldsAFreshRecordAndAnEmptyListOfTen)
{
    cReadyBlock ready;
    EXPECT_EQ(1u, NodeOf::Count(ready));
    EXPECT_EQ(kCodeNtfy, ready.GetType());
    EXPECT_EQ(sizeof(TReadyNotification), ready.GetSize());
    EXPECT_FALSE(ready.IsEmpty());
    EXPECT_EQ(0, ready.VisitedCount());
    EXPECT_EQ(10, ready.VisitedCapacity());
    const TReadyNotification& r = static_cast<const cReadyBlock&>(ready).Record();
    EXPECT_EQ(kCodeRdy, r.notifyCode);
    EXPECT_EQ(1, r.flag);
    EXPECT_EQ(1u, r.value3);

    cCommandBlock<TCounted<20>, kCodeChun> counted;
    EXPECT_EQ(kCodeChun, counted.GetType());
    EXPECT_EQ(1, TCounted<20>::counters.Live());
}

TEST(cCommandBlock, MarkVisitedAddsEachBrickOnceAndGrowsByTen)
{
    const cChunkCmdBlock chunk; // the list belongs to the node: a const view marks too
    EXPECT_TRUE(chunk.MarkVisited(FakeBrick(0)));
    EXPECT_FALSE(chunk.MarkVisited(FakeBrick(0)));
    EXPECT_EQ(1, chunk.VisitedCount());
    for (int i = 1; i < 10; ++i)
        EXPECT_TRUE(chunk.MarkVisited(FakeBrick(i)));
    EXPECT_EQ(10, chunk.VisitedCapacity());
    EXPECT_TRUE(chunk.MarkVisited(FakeBrick(10)));
    EXPECT_EQ(20, chunk.VisitedCapacity());
    for (int i = 11; i < 20; ++i)
        EXPECT_TRUE(chunk.MarkVisited(FakeBrick(i)));
    EXPECT_EQ(20, chunk.VisitedCapacity());
    EXPECT_TRUE(chunk.MarkVisited(FakeBrick(20)));
    EXPECT_EQ(30, chunk.VisitedCapacity());
    ASSERT_EQ(21, chunk.VisitedCount());
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(FakeBrick(i), chunk.Visited(i)) << "entry " << i;
    EXPECT_FALSE(chunk.MarkVisited(FakeBrick(3))) << "entries kept across growth";
    EXPECT_FALSE(chunk.MarkVisited(FakeBrick(20)));
    EXPECT_EQ(21, chunk.VisitedCount());
}

TEST(cCommandBlock, ViewsShareOneListAndOneRecordWithoutCopying)
{
    using Rec = TCounted<21>;
    using cCmd = cCommandBlock<Rec, kCodePlay>;
    cCmd sent;
    cMemBlock queued(sent);
    cCmd received(queued);
    const int made = Rec::counters.constructed;

    EXPECT_TRUE(received.MarkVisited(FakeBrick(1)));
    EXPECT_FALSE(sent.MarkVisited(FakeBrick(1)));
    EXPECT_TRUE(sent.MarkVisited(FakeBrick(2)));
    EXPECT_EQ(2, received.VisitedCount());

    Rec* viaReceived = static_cast<Rec*>(received.GetData());
    viaReceived->value = 77; // shared, not copied on write
    EXPECT_EQ(viaReceived, sent.GetData());
    EXPECT_EQ(77u, sent.Record().value);
    EXPECT_EQ(NodeOf::Get(sent), NodeOf::Get(received));
    EXPECT_EQ(3u, NodeOf::Count(sent));
    EXPECT_EQ(made, Rec::counters.constructed);
}

// The visited list's entries count their lives, so the array's release shows.
struct VisitedEntry {
    VisitedEntry() : id(0) { ++alive; }
    ~VisitedEntry() { --alive; }
    VisitedEntry(int i) : id(i) { ++alive; }
    VisitedEntry(const VisitedEntry& o) : id(o.id) { ++alive; }
    VisitedEntry& operator=(const VisitedEntry&) = default;
    bool operator==(const VisitedEntry& o) const { return id == o.id; }
    int id;
    static int alive;
};
int VisitedEntry::alive = 0;

TEST(cCommandBlock, TheLastReleaseFreesListRecordAndStorageOnce)
{
    using Rec = TCounted<22>;
    {
        cCommandBlock<Rec, kCodeChun, VisitedEntry, 10> cmd;
        cMemBlock other(cmd);
        for (int i = 0; i < 15; ++i) // grows once: a 10 array and a 20 array made, the 10 freed
            cmd.MarkVisited(VisitedEntry(i));
        EXPECT_EQ(20, VisitedEntry::alive);
        cmd = cMemBlock(); // one holder left
        EXPECT_EQ(20, VisitedEntry::alive);
        EXPECT_EQ(1, Rec::counters.Live());
    }
    EXPECT_EQ(0, VisitedEntry::alive);
    EXPECT_EQ(1, Rec::counters.destroyed.load());

    // Records with owned members, visited lists that grew, views in between: after a round of
    // them the process holds what it held before.
    auto round = [] {
        std::vector<cMessageBlock> held;
        for (int i = 0; i < 50; ++i) {
            cMessageBlock msg;
            msg.Record().text = std::string(100 + i, 'x');
            msg.Record().details = std::string(200, 'd');
            for (int b = 0; b < 12; ++b)
                msg.MarkVisited(FakeBrick(b));
            held.push_back(msg);
            held.emplace_back(cMemBlock(msg));
        }
    };
    round(); // warms the allocator's caches
    const size_t before = AllocatedBytes();
    round();
    EXPECT_EQ(before, AllocatedBytes());
}

} // namespace
