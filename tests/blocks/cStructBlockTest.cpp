// Structure blocks: copy on write, and the per-type pools that recycle their storage.
#include "BlockTestSupport.h"
#include "records/BlockTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

template <int Tag>
using cCountedBlock = cStructBlock<TCounted<Tag>, kCodeTest>;

template <class Block>
typename Block::node* NodeIn(const Block& block)
{
    return static_cast<typename Block::node*>(NodeOf::Get(block));
}

TEST(cStructBlock, ASoleHolderWritesInPlaceAndAllocatesNothing)
{
    using Rec = TCounted<10>;
    cCountedBlock<10> a(4);
    void* first = a.GetData();
    const int made = Rec::counters.constructed;
    const size_t pooled = cCountedBlock<10>::node::mChain.size();
    EXPECT_EQ(first, a.GetData());
    a.Record().value = 5;
    a.OwnExtra()[3] = 9;
    EXPECT_EQ(first, a.GetData());
    EXPECT_EQ(made, Rec::counters.constructed);
    EXPECT_EQ(pooled, cCountedBlock<10>::node::mChain.size());
    EXPECT_EQ(1u, NodeOf::Count(a));
    EXPECT_EQ(4u, a.GetExtraSize());
}

TEST(cStructBlock, ASharedBlockIsCopiedOnceOnWriteAndTheOtherHolderKeepsItsBytes)
{
    using Rec = TCounted<11>;
    const uint8_t extra[6] = {1, 2, 3, 4, 5, 6};
    cCountedBlock<11> a(sizeof extra, kCodeTest, extra);
    a.Record().value = 7;
    a.Record().text = "owned text";
    cCountedBlock<11> b(a);
    auto* old = NodeIn(a);
    ASSERT_EQ(2u, old->mRefCount);
    const int made = Rec::counters.constructed;

    Rec* mine = static_cast<Rec*>(b.GetData());
    Rec* again = static_cast<Rec*>(b.GetData());
    EXPECT_EQ(mine, again) << "two writes in a row copy once";
    EXPECT_EQ(made + 1, Rec::counters.constructed);
    auto* fresh = NodeIn(b);
    EXPECT_NE(old, fresh);
    EXPECT_EQ(&fresh->mData, mine);
    EXPECT_EQ(1u, old->mRefCount);
    EXPECT_EQ(1u, fresh->mRefCount);
    EXPECT_EQ(old->mType, fresh->mType);
    EXPECT_EQ(old->mSize, fresh->mSize);
    EXPECT_EQ(7u, mine->value);
    EXPECT_EQ("owned text", mine->text);
    EXPECT_EQ(0, std::memcmp(extra, b.Extra(), sizeof extra));

    mine->value = 8;
    mine->text[0] = 'O';
    b.OwnExtra()[0] = 99;
    const cCountedBlock<11>& ca = a;
    EXPECT_EQ(7u, ca.Record().value);
    EXPECT_EQ("owned text", ca.Record().text);
    EXPECT_EQ(1, ca.Extra()[0]);

    // Passed on again, the block is shared again: the next write copies again.
    cMemBlock passedOn(b);
    EXPECT_NE(static_cast<void*>(mine), b.GetData());
    EXPECT_EQ(8u, b.Record().value);
    EXPECT_EQ(made + 2, Rec::counters.constructed);
}

TEST(cStructBlock, ACopyKeepsTheBlocksOwnTypeCode)
{
    const uint8_t payload[5] = {'h', 'e', 'l', 'l', 'o'};
    cDataBlock fragment(sizeof payload, kCodeSnd3, payload);
    fragment.Record().length = 5;
    fragment.Record().streamNumber = 3;
    cMemBlock received(fragment);
    cDataBlock view(received);
    DATA_T& own = view.Record();
    EXPECT_NE(NodeOf::Get(received), NodeOf::Get(view));
    EXPECT_EQ(kCodeSnd3, view.GetType());
    EXPECT_EQ(sizeof(DATA_T) + 5, view.GetSize());
    EXPECT_EQ(5u, view.GetExtraSize());
    EXPECT_EQ(3, own.streamNumber);
    EXPECT_EQ(0, std::memcmp(payload, view.Extra(), sizeof payload)) << "record and extra bytes copied";
}

TEST(cStructBlock, ASharedEmptyBlockIsCopiedIntoANodeOfItsOwn)
{
    using Rec = TCounted<12>;
    const uint32_t defCount = cMemBlock::mDefNode.mRefCount;
    cCountedBlock<12> view{cMemBlock()};
    ASSERT_EQ(&cMemBlock::mDefNode, NodeOf::Get(view));
    Rec& rec = view.Record();
    EXPECT_NE(&cMemBlock::mDefNode, NodeOf::Get(view));
    EXPECT_EQ(defCount, cMemBlock::mDefNode.mRefCount);
    EXPECT_EQ(1u, NodeOf::Count(view));
    EXPECT_EQ(0u, view.GetSize());
    EXPECT_EQ(cMemBlock::mDefNode.mType, view.GetType());
    EXPECT_EQ(0u, rec.value) << "the record as its constructor made it";
    rec.value = 3; // the storage holds a whole record although the block's size is 0
    rec.text = "fits";
    EXPECT_EQ(3u, view.Record().value);
}

TEST(cStructBlock, ThePoolReusesTheLastReleasedStorageWhenItsLastSizeFits)
{
    using Block = cCountedBlock<13>;
    auto& pool = Block::node::mChain;
    ASSERT_TRUE(pool.empty());
    Block::node* small = nullptr; // 16 extra bytes
    Block::node* large = nullptr; // 64 extra bytes
    {
        Block a(16);
        Block b(64);
        small = NodeIn(a);
        large = NodeIn(b);
    } // b goes first, then a: a is the most recent
    ASSERT_EQ(2u, pool.size());
    EXPECT_EQ(small, pool.front());

    {
        Block c(16); // last in, first out
        EXPECT_EQ(small, NodeIn(c));
        EXPECT_EQ(1u, pool.size());
        EXPECT_EQ(large, pool.front());
    }
    ASSERT_EQ(small, pool.front());

    // Only the front is looked at: a block of 32 does not fit it, so the front storage is freed
    // and fresh storage taken, although the entry behind it could hold 32. That entry stays.
    const int made = TCounted<13>::counters.constructed;
    Block g(32);
    EXPECT_NE(small, NodeIn(g));
    EXPECT_NE(large, NodeIn(g));
    ASSERT_EQ(1u, pool.size());
    EXPECT_EQ(large, pool.front());
    EXPECT_EQ(made + 1, TCounted<13>::counters.constructed);

    {
        Block d(8); // reuses the large storage, which from now on is measured by 8
        EXPECT_EQ(large, NodeIn(d));
    }
    ASSERT_EQ(1u, pool.size());
    {
        Block h(16); // allocated for 64 but last held 8: freed, fresh storage taken
        EXPECT_NE(large, NodeIn(h));
        EXPECT_TRUE(pool.empty());
    }
    EXPECT_EQ(1u, pool.size());
    EXPECT_EQ(1, TCounted<13>::counters.Live()) << "only g is live";
}

TEST(cStructBlock, RecordTypesNeverShareAPool)
{
    auto& poolA = cCountedBlock<14>::node::mChain;
    auto& poolB = cCountedBlock<15>::node::mChain;
    cMemBlock::node* released = nullptr;
    {
        cCountedBlock<14> a;
        released = NodeOf::Get(a);
    }
    ASSERT_EQ(1u, poolA.size());
    cCountedBlock<15> b;
    EXPECT_NE(released, NodeOf::Get(b));
    EXPECT_EQ(1u, poolA.size());
    EXPECT_TRUE(poolB.empty());
    cCountedBlock<14> c;
    EXPECT_EQ(released, NodeOf::Get(c));
}

TEST(cStructBlock, ANewTagBlockClearsThreeWordsOfAReusedRecord)
{
    cMemBlock::node* n = nullptr;
    {
        cTagBlock old;
        std::memset(old.GetData(), 0xAB, sizeof(TStreamTag));
        n = NodeOf::Get(old);
    }
    cTagBlock tag;
    ASSERT_EQ(n, NodeOf::Get(tag)) << "the storage of the tag released last";
    const uint8_t* bytes = static_cast<const uint8_t*>(static_cast<const cTagBlock&>(tag).GetData());
    uint32_t words[8];
    std::memcpy(words, bytes, sizeof words);
    EXPECT_EQ(0u, words[4]);
    EXPECT_EQ(0u, words[5]);
    EXPECT_EQ(0u, words[7]);
    EXPECT_EQ(0xABABABABu, words[6]) << "the stream number is not set by the constructor";
    EXPECT_EQ(kCodeTag, tag.GetType());
    EXPECT_EQ(sizeof(TStreamTag), tag.GetSize());
    EXPECT_EQ(0u, tag.GetExtraSize());
    EXPECT_FALSE(tag.IsEmpty());
}

// HDR_T owns strings. A block with extra bytes behind the header must still copy the header
// by assignment (the strings shared by reference count, each copy owning its own), and only
// the extra bytes raw; both copies then live, change and die independently.
TEST(cStructBlock, AHeaderWithExtraBytesIsCopiedByAssignment)
{
    const char tail[8] = {'t', 'r', 'a', 'i', 'l', 'e', 'r', '!'};
    cHeaderBlock* original = new cHeaderBlock(sizeof tail, kCodeHdr3, tail);
    HDR_T& hdr = original->Record();
    hdr.reserved0 = 42;
    hdr.streams[5].kind = 1;
    hdr.streams[5].params = "-rate=8000 -bits=16";
    hdr.reserved3596[8] = "last";

    cHeaderBlock copy{cMemBlock(*original)};
    HDR_T& mine = copy.Record();
    ASSERT_NE(NodeOf::Get(*original), NodeOf::Get(copy));
    EXPECT_EQ(42u, mine.reserved0);
    EXPECT_EQ(1, mine.streams[5].kind);
    EXPECT_EQ("-rate=8000 -bits=16", mine.streams[5].params);
    EXPECT_EQ("last", mine.reserved3596[8]);
    EXPECT_EQ(0, std::memcmp(tail, copy.Extra(), sizeof tail));

    mine.streams[5].params[1] = 'R'; // in place: must not reach the original's string
    mine.reserved3596[8] += "!";
    const cHeaderBlock& constOriginal = *original;
    EXPECT_EQ("-rate=8000 -bits=16", constOriginal.Record().streams[5].params);
    EXPECT_EQ("last", constOriginal.Record().reserved3596[8]);

    delete original; // its strings go; the copy's stay valid
    EXPECT_EQ("-Rate=8000 -bits=16", mine.streams[5].params);
    EXPECT_EQ("last!", mine.reserved3596[8]);
}

} // namespace
