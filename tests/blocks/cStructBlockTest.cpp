// Structure blocks: copy on write, and the per-type pools that recycle their storage.
#include "../kit/Blocks.h"

#include <gtest/gtest.h>

using namespace kit;

namespace {

template <int Tag>
using cCountedBlock = cStructBlock<TCounted<Tag>, kCodeTest>;

// A sole holder writes in place; a shared block is copied once on write, whole (type, record with
// its owned members, extra bytes), and the other holder keeps its bytes.
TEST(cStructBlock, ASharedBlockIsCopiedOnceOnWriteAndASoleOneNever)
{
    const uint8_t extra[6] = {1, 2, 3, 4, 5, 6};
    cCountedBlock<11> a(sizeof extra, kCodeSnd3, extra);
    void* first = a.GetData();
    a.Record().value = 7;
    a.Record().text = "owned text";
    EXPECT_EQ(first, a.GetData());
    cCountedBlock<11> b{cMemBlock(a)};
    EXPECT_EQ(static_cast<const cMemBlock&>(a).GetData(), static_cast<const cMemBlock&>(b).GetData())
        << "a read through the base handle copies nothing";
    const int made = TCounted<11>::constructed;
    TCounted<11>* mine = &b.Record();
    EXPECT_EQ(mine, &b.Record()) << "two writes in a row copy once";
    EXPECT_EQ(made + 1, TCounted<11>::constructed);
    EXPECT_TRUE(Peek::Count(a) == 1 && Peek::Count(b) == 1);
    EXPECT_TRUE(b.GetType() == kCodeSnd3 && b.GetSize() == a.GetSize());
    EXPECT_EQ(0, std::memcmp(extra, b.Extra(), sizeof extra));
    mine->value = 8;
    mine->text[0] = 'O';
    b.OwnExtra()[0] = 99;
    const cCountedBlock<11>& ca = a;
    EXPECT_EQ(7u, ca.Record().value);
    EXPECT_EQ("owned text", ca.Record().text);
    EXPECT_EQ(1, ca.Extra()[0]);
    cMemBlock passedOn(b); // shared again: the next write copies again
    EXPECT_NE(static_cast<void*>(mine), b.GetData());
    EXPECT_EQ(8u, b.Record().value);
}

// A record with more extra bytes than a block's 32-bit size holds is refused as out of memory,
// before anything is allocated.
TEST(cStructBlock, ExtraBytesBeyondABlocksSizeAreRefused)
{
    EXPECT_THROW(cCountedBlock<12>(UINT32_MAX), std::bad_alloc);
    EXPECT_THROW(cCountedBlock<12>(UINT32_MAX - sizeof(TCounted<12>) + 1), std::bad_alloc);
    EXPECT_EQ(0, TCounted<12>::constructed);
}

TEST(cStructBlock, ASharedEmptyBlockIsCopiedIntoANodeOfItsOwn)
{
    const uint32_t defCount = cMemBlock::mDefNode.mRefCount;
    cCountedBlock<12> view{cMemBlock()};
    TCounted<12>& rec = view.Record();
    EXPECT_NE(&cMemBlock::mDefNode, Peek::Node(view));
    EXPECT_EQ(defCount, cMemBlock::mDefNode.mRefCount);
    EXPECT_EQ(0u, view.GetSize());
    rec.text = "fits"; // the storage holds a whole record although the block's size is 0
    EXPECT_EQ("fits", view.Record().text);
    Peek::Node(view)->mType = kCodeSnd3; // empty is size 0, whatever the type
    EXPECT_TRUE(view.IsEmpty() && !cCountedBlock<12>().IsEmpty());
    cCountedBlock<12> shared(view); // an empty block shared is copied on write too, into an empty node
    EXPECT_TRUE(&shared.Record() != &rec && shared.IsEmpty() && view.Record().text == "fits");
}

// Last in, first out; only the front is looked at, and it is measured by the size it last held:
// storage too small for the block wanted is freed and fresh storage taken.
TEST(cStructBlock, ThePoolReusesTheLastReleasedStorageWhenItsLastSizeFits)
{
    using Block = cCountedBlock<13>;
    const void *small = nullptr, *large = nullptr;
    {
        Block a(16), b(64);
        small = Peek::Node(a);
        large = Peek::Node(b);
    } // b goes first, then a
    EXPECT_EQ((std::vector<const void*>{small, large}), Pooled<Block>());
    auto walk = Block::node::mChain.begin(); // walked by hand, as a host walks it
    EXPECT_TRUE(*walk++ == small && *walk == large && ++walk == Block::node::mChain.end());
    EXPECT_EQ(small, Peek::Node(Block(16)));
    Block g(32); // does not fit the front: it is freed, although the entry behind could hold 32
    EXPECT_NE(small, Peek::Node(g));
    EXPECT_EQ((std::vector<const void*>{large}), Pooled<Block>());
    EXPECT_EQ(large, Peek::Node(Block(8))); // from now on measured by 8
    Block h(16);
    EXPECT_NE(large, Peek::Node(h));
    EXPECT_TRUE(Pooled<Block>().empty());
    EXPECT_EQ(2, TCounted<13>::Live());
    // Record types never share a pool.
    const void* released = Peek::Node(cCountedBlock<14>());
    EXPECT_NE(released, Peek::Node(cCountedBlock<15>()));
    EXPECT_EQ(released, Peek::Node(cCountedBlock<14>()));
}

TEST(cStructBlock, AReusedNodeGetsAFreshRecord)
{
    std::memset(cTagBlock().GetData(), 0xAB, sizeof(TStreamTag));
    cTagBlock tag;
    const TStreamTag& r = static_cast<const cTagBlock&>(tag).Record();
    EXPECT_TRUE(r.code == 0 && r.kind == 0 && r.reserved28 == 0 && r.streamNumber == 0xABABABABu)
        << "code, kind and the last word cleared by the constructor; the stream number not";
}

// Whether each call compiles on an expression of type View (an rvalue when View is no reference).
template <class View, class = void>
struct CanRecord : std::false_type {
};
template <class View>
struct CanRecord<View, std::void_t<decltype(std::declval<View>().Record())>> : std::true_type {
};
template <class View, class = void>
struct CanOwnExtra : std::false_type {
};
template <class View>
struct CanOwnExtra<View, std::void_t<decltype(std::declval<View>().OwnExtra())>> : std::true_type {
};

// A temporary view's Record() or OwnExtra() would point into a copy that goes back to the pool at
// the end of the statement: neither compiles. A named view's do, and a const view's Record().
static_assert(!CanRecord<cTagBlock>::value && !CanOwnExtra<cTagBlock>::value,
              "a temporary view hands out no reference into its copy");
static_assert(CanRecord<cTagBlock&>::value && CanRecord<const cTagBlock&>::value && CanOwnExtra<cTagBlock&>::value,
              "named views read and write as before");

// A host keeps a received tag's record, read in place through its handle or a const view, while
// a writer's copy of the tag goes back to the pool and the next tag is made in that storage.
TEST(cStructBlock, AKeptTagKeepsItsOwnTimeWhileAnotherTagIsMade)
{
    const cMemBlock received = Tag(kCodeTagS, 3000);
    const TStreamTag& kept = cTagBlock::RecordOf(received);
    const cTagBlock view(received);
    const void* copy = nullptr;
    {
        cTagBlock writer(received);
        writer.Record().kind = 2;
        copy = Peek::Node(writer);
    }
    const cTagBlock other = Tag(kCodeTagF, 4242424242u);
    EXPECT_EQ(copy, Peek::Node(other)) << "the writer's copy was reused";
    EXPECT_TRUE(&kept == &view.Record() && Peek::Same(view, received)) << "read in place, not copied";
    EXPECT_TRUE(kept.time == 3000 && kept.code == kCodeTagS && kept.kind == 7);
}

// HDR_T owns strings. A block with extra bytes behind the header must still copy the header by
// assignment (each copy owning its strings) and only the extra bytes raw.
TEST(cStructBlock, AHeaderWithExtraBytesIsCopiedByAssignment)
{
    const char tail[8] = {'t', 'r', 'a', 'i', 'l', 'e', 'r', '!'};
    std::unique_ptr<cHeaderBlock> original(new cHeaderBlock(sizeof tail, kCodeHdr3, tail));
    original->Record().streams[5].params = "-rate=8000 -bits=16";
    cHeaderBlock copy{cMemBlock(*original)};
    HDR_T& mine = copy.Record();
    EXPECT_EQ(0, std::memcmp(tail, copy.Extra(), sizeof tail));
    mine.streams[5].params[1] = 'R'; // in place: must not reach the original's string
    EXPECT_EQ("-rate=8000 -bits=16", static_cast<const cHeaderBlock&>(*original).Record().streams[5].params);
    original.reset(); // its strings go; the copy's stay valid
    EXPECT_EQ("-Rate=8000 -bits=16", mine.streams[5].params);
}

} // namespace
