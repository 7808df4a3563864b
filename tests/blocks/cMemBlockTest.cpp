// Handles share nodes: counts follow copies, assignments and destructions, the last handle
// releases the node through the node's own policy whatever class that handle is, and all of it
// holds with many threads sharing the same blocks (the property tests add bricks to that).
//
// VRN3_STRESS_THREADS and VRN3_STRESS_OPS (operations per thread) shrink the stress for slow
// runners such as helgrind.
#include "../kit/Blocks.h"

#include <gtest/gtest.h>

#include <deque>
#include <future>
#include <set>

using namespace kit;

namespace {

using Rec = TCounted<1>;
using cRecBlock = cStructBlock<Rec, kCodeTest>;

TEST(cMemBlock, CopiesAssignmentsAndDestructionMoveTheCountOnly)
{
    const uint32_t defaults = cMemBlock::mDefNode.mRefCount;
    cRecBlock a;
    a.Record().value = 41;
    cMemBlock::node* n = Peek::Node(a);
    {
        cRecBlock copy(a);
        cMemBlock plain(a), assigned, empty;
        EXPECT_EQ(defaults + 2, cMemBlock::mDefNode.mRefCount);
        assigned = copy;
        EXPECT_EQ(defaults + 1, cMemBlock::mDefNode.mRefCount);
        EXPECT_TRUE(Peek::Same(a, plain) && Peek::Same(a, assigned) && empty.IsEmpty());
        a = plain; // to the same node
        EXPECT_EQ(4u, n->mRefCount);
    }
    EXPECT_EQ(defaults, cMemBlock::mDefNode.mRefCount);
    cMemBlock& alias = a;
    a = alias; // a sole holder assigned to itself must not release its node
    EXPECT_EQ(1u, Peek::Count(a));
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
    EXPECT_EQ(live + 1, Rec::Live()) << "x's record is destroyed";
    EXPECT_EQ(xNode, Pooled<cRecBlock>().front());
}

// A generic block: a node header with room for its data, made as an array with new[], as a host
// makes one. Its last handle frees the array whole (a leak or a mismatched free is the sanitizer's).
struct GenericBlock : cMemBlock {
    GenericBlock() : cMemBlock(new node[2], AdoptTag()) {}
};

TEST(cMemBlock, TheLastHandleFreesAGenericBlockAsItsArray)
{
    cMemBlock held;
    {
        const GenericBlock made;
        held = made;
        EXPECT_EQ(2u, Peek::Count(held));
    }
    EXPECT_TRUE(Peek::Count(held) == 1 && held.IsEmpty());
}

// Threads copy shared blocks into their own handles and write into those (copies of their own
// when shared) at once: each holder keeps seeing what it wrote last, and afterwards
// every count balances, every record is gone and no node is pooled twice.
TEST(cMemBlock, ManyThreadsShareBlocksAndEachHolderSeesOnlyItsOwnWrites)
{
    using cStressBlock = cStructBlock<TCounted<32>, kCodeTest>;
    const int threads = std::max(std::atoi(std::getenv("VRN3_STRESS_THREADS") ?: "8"), 1);
    const int operations = std::max(std::atoi(std::getenv("VRN3_STRESS_OPS") ?: "200000"), 1);
    std::vector<cStressBlock> seeds(4);
    for (uint32_t s = 0; s < 4; ++s)
        seeds[s].Record().value = s;
    std::vector<std::future<long>> results;
    for (uint32_t t = 0; t < static_cast<uint32_t>(threads); ++t) {
        results.push_back(std::async(std::launch::async, [&seeds, t, operations] {
            std::vector<cStressBlock> slots(seeds);
            uint32_t expected[4] = {0, 1, 2, 3}, rng = 2463534242u ^ (t * 0x9E3779B9u);
            long mismatches = 0;
            for (int op = 0; op < operations; ++op) {
                rng ^= rng << 13;
                rng ^= rng >> 17;
                rng ^= rng << 5;
                const uint32_t i = rng % 4, j = (rng >> 8) % 4;
                if ((rng >> 16) % 2 == 0)
                    slots[i] = seeds[j], expected[i] = j;
                else
                    slots[i].Record().value = expected[i] = t << 24 | (op & 0xFFFFFF);
                mismatches += static_cast<const cStressBlock&>(slots[i]).Record().value != expected[i];
            }
            return mismatches;
        }));
    }
    for (std::future<long>& r : results)
        EXPECT_EQ(0, r.get()) << "a holder saw a value it did not write";
    for (const cStressBlock& seed : seeds)
        EXPECT_EQ(1u, Peek::Count(seed));
    seeds.clear();
    EXPECT_EQ(0, TCounted<32>::Live());
    const std::vector<const void*> pool = Pooled<cStressBlock>();
    EXPECT_EQ(pool.size(), std::set<const void*>(pool.begin(), pool.end()).size()) << "a node pooled twice";
}

} // namespace
