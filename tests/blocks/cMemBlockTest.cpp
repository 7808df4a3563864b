// Handles share nodes: counts follow copies, assignments and destructions, and the last handle
// releases the node through the node's own policy, whatever class that handle is.
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <deque>

using namespace kit;

namespace {

using Rec = TCounted<1>;
using cRecBlock = cStructBlock<Rec, kCodeTest>;

TEST(cMemBlock, DefaultHandlesShareTheDefaultNode)
{
    const uint32_t before = cMemBlock::mDefNode.mRefCount;
    ASSERT_GE(before, 1u) << "the host holds a reference of its own";
    {
        cMemBlock a, b;
        EXPECT_EQ(&cMemBlock::mDefNode, Peek::Node(a));
        b = a;
        EXPECT_EQ(before + 2, cMemBlock::mDefNode.mRefCount);
        EXPECT_TRUE(a.IsEmpty());
    }
    EXPECT_EQ(before, cMemBlock::mDefNode.mRefCount);
}

TEST(cMemBlock, CopiesAssignmentsAndDestructionMoveTheCountOnly)
{
    cRecBlock a;
    a.Record().value = 41;
    cMemBlock::node* n = Peek::Node(a);
    {
        cRecBlock copy(a);
        cMemBlock plain(a), assigned;
        assigned = copy;
        EXPECT_TRUE(Peek::Same(a, copy) && Peek::Same(a, plain) && Peek::Same(a, assigned));
        EXPECT_EQ(4u, n->mRefCount);
        EXPECT_EQ(kCodeTest, plain.GetType());
        EXPECT_EQ(sizeof(Rec), plain.GetSize());
        a = plain; // to the same node
        cMemBlock& alias = a;
        a = alias; // to itself
        EXPECT_EQ(4u, n->mRefCount);
    }
    EXPECT_EQ(1u, n->mRefCount);
    cMemBlock& alias = a;
    a = alias; // a sole holder assigned to itself must not release its node
    EXPECT_EQ(n, Peek::Node(a));
    EXPECT_EQ(41u, static_cast<const cRecBlock&>(a).Record().value);
    EXPECT_EQ(1, Rec::Live());
}

// The last handle may be a plain one (as a brick's queue holds blocks): the node still goes to
// its record type's pool, and assigning away from a sole node releases it there too.
TEST(cMemBlock, TheLastHandleReleasesToTheNodesPool)
{
    const int live = Rec::Live();
    std::deque<cMemBlock> queue;
    cMemBlock::node* n = nullptr;
    {
        cRecBlock typed;
        n = Peek::Node(typed);
        queue.push_back(typed);
        queue.push_back(queue.front());
    }
    queue.pop_front();
    EXPECT_EQ(live + 1, Rec::Live());
    queue.pop_front();
    EXPECT_EQ(live, Rec::Live());
    EXPECT_EQ(n, Pooled<cRecBlock>().front());

    cRecBlock x, y;
    cMemBlock::node* xNode = Peek::Node(x);
    x = y;
    EXPECT_EQ(2u, Peek::Count(y));
    EXPECT_EQ(live + 1, Rec::Live()) << "x's record is destroyed";
    EXPECT_EQ(xNode, Pooled<cRecBlock>().front());
}

// A node whose size is 0 is empty whatever its type; a typed block with a record is not.
TEST(cMemBlock, EmptinessFollowsTheSizeNotTheType)
{
    EXPECT_FALSE(cRecBlock().IsEmpty());
    cRecBlock view{cMemBlock()};
    view.GetData(); // an own node of size 0 with the default node's type
    Peek::Node(view)->mType = kCodeSnd3;
    EXPECT_TRUE(view.IsEmpty());
}

} // namespace
