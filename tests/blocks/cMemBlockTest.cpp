// Handles share nodes: counts follow copies, assignments and destructions, and the last handle
// releases the node through the node's own policy, whatever class that handle is.
#include "BlockTestSupport.h"
#include "blocks/cStructBlock.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

using Rec = TCounted<1>;
using cRecBlock = cStructBlock<Rec, kCodeTest>;

TEST(cMemBlock, DefaultHandlesShareTheDefaultNodeAndReportIt)
{
    const uint32_t before = cMemBlock::mDefNode.mRefCount;
    ASSERT_GE(before, 1u) << "the host holds a reference of its own";
    {
        cMemBlock a;
        cMemBlock b;
        EXPECT_EQ(&cMemBlock::mDefNode, NodeOf::Get(a));
        EXPECT_EQ(before + 2, cMemBlock::mDefNode.mRefCount);
        EXPECT_EQ(cMemBlock::mDefNode.mType, a.GetType());
        EXPECT_EQ(cMemBlock::mDefNode.mSize == 0, a.IsEmpty());
        EXPECT_EQ(cMemBlock::mDefNode.mSize, a.GetSize());
        b = a;
        EXPECT_EQ(before + 2, cMemBlock::mDefNode.mRefCount);
    }
    EXPECT_EQ(before, cMemBlock::mDefNode.mRefCount);
}

TEST(cMemBlock, CopiesAndDestructionMoveTheCountOnly)
{
    cRecBlock a;
    a.Record().value = 41;
    cMemBlock::node* n = NodeOf::Get(a);
    EXPECT_EQ(1u, n->mRefCount);
    {
        cRecBlock copy(a);
        cMemBlock plain(a);
        cMemBlock assigned;
        assigned = copy;
        EXPECT_EQ(n, NodeOf::Get(copy));
        EXPECT_EQ(n, NodeOf::Get(plain));
        EXPECT_EQ(n, NodeOf::Get(assigned));
        EXPECT_EQ(4u, n->mRefCount);
        EXPECT_EQ(kCodeTest, plain.GetType());
        EXPECT_EQ(sizeof(Rec), plain.GetSize());
    }
    EXPECT_EQ(1u, n->mRefCount);
    EXPECT_EQ(n, NodeOf::Get(a));
    EXPECT_EQ(41u, static_cast<const cRecBlock&>(a).Record().value);
    EXPECT_EQ(1, Rec::counters.Live());
}

TEST(cMemBlock, AssignmentToItselfOrToTheSameNodeKeepsCountAndNode)
{
    const int live = Rec::counters.Live();
    cRecBlock a;
    cMemBlock::node* n = NodeOf::Get(a);
    cMemBlock& alias = a;
    a = alias; // a sole holder assigned to itself must not release its node
    EXPECT_EQ(n, NodeOf::Get(a));
    EXPECT_EQ(1u, n->mRefCount);
    EXPECT_EQ(live + 1, Rec::counters.Live());

    cMemBlock b(a);
    b = a;
    a = b;
    cMemBlock& bAlias = b;
    b = bAlias;
    EXPECT_EQ(2u, n->mRefCount);
    EXPECT_EQ(live + 1, Rec::counters.Live());
}

TEST(cMemBlock, AssigningAwayFromASoleNodeReleasesIt)
{
    const int live = Rec::counters.Live();
    cRecBlock a; // sole holder of X
    cRecBlock b; // Y
    cMemBlock::node* x = NodeOf::Get(a);
    cMemBlock::node* y = NodeOf::Get(b);
    a = b;
    EXPECT_EQ(y, NodeOf::Get(a));
    EXPECT_EQ(2u, y->mRefCount);
    EXPECT_EQ(live + 1, Rec::counters.Live()) << "X's record is destroyed";
    ASSERT_FALSE(cRecBlock::node::mChain.empty());
    EXPECT_EQ(x, cRecBlock::node::mChain.front()) << "X went to its pool";
}

TEST(cMemBlock, ATypedBlockHeldOnlyByPlainHandlesStillReturnsToItsPool)
{
    const int live = Rec::counters.Live();
    std::deque<cMemBlock> queue; // as a brick's queue holds blocks
    cMemBlock::node* n = nullptr;
    {
        cRecBlock typed;
        n = NodeOf::Get(typed);
        queue.push_back(typed);
        queue.push_back(queue.front());
    }
    EXPECT_EQ(2u, n->mRefCount);
    EXPECT_EQ(live + 1, Rec::counters.Live());
    queue.pop_front();
    const size_t pooled = cRecBlock::node::mChain.size();
    queue.pop_front();
    EXPECT_EQ(live, Rec::counters.Live());
    EXPECT_EQ(pooled + 1, cRecBlock::node::mChain.size());
    EXPECT_EQ(n, cRecBlock::node::mChain.front());
}

// A node whose size is 0 is empty whatever its type; a typed block with a record is not.
TEST(cMemBlock, EmptinessFollowsTheSizeNotTheType)
{
    cRecBlock a;
    EXPECT_FALSE(a.IsEmpty());
    cStructBlock<Rec, kCodeTest> view{cMemBlock()};
    view.GetData(); // an own node of size 0 with the default node's type
    EXPECT_TRUE(view.IsEmpty());
    NodeOf::Get(view)->mType = kCodeSnd3;
    EXPECT_TRUE(view.IsEmpty());
}

} // namespace
