// The host's brick on its own: configuration and onCreate, the routing of its two queues to the
// handlers, connections, sending, and the life of owned bricks.
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <set>

using namespace kit;

namespace {

// Writes down each handler call as text: the stream number of a tag, the time of a request.
class LogBrick : public CBrick {
public:
    explicit LogBrick(int* destroyed = nullptr) : mDestroyed(destroyed) {}
    ~LogBrick() override
    {
        if (mDestroyed != nullptr)
            ++*mDestroyed;
    }
    bool onCreate(const TBrickConfig& config) override { return Note(std::string("create ") + config.streamNumber); }
    bool onData(const cMemBlock& b) override { return Note("data " + std::to_string(RecordOf<cTagBlock>(b).streamNumber)); }
    bool onNotify(const cMemBlock& b) override { return Note("notify " + std::to_string(RecordOf<cTagBlock>(b).streamNumber)); }
    bool onCtrl(cMemBlock& b) override { return Note("ctrl " + std::to_string(RecordOf<cChunkCmdBlock>(b).time)); }
    bool Note(const std::string& text)
    {
        log += (log.empty() ? "" : ", ") + text;
        return true;
    }
    std::string log;

private:
    int* mDestroyed;
};

// A tag block numbered n; the routing looks at its type only.
cTagBlock Numbered(uint32_t n, uint32_t type = kCodeTag)
{
    cTagBlock t(0, type);
    t.Record().streamNumber = n;
    return t;
}

TEST(CBrick, OnCreateRunsOnceBeforeTheFirstBlockAndNotificationsGoToOnNotify)
{
    LogBrick brick;
    ASSERT_TRUE(brick.Create(Config("17")));
    EXPECT_EQ("", brick.log) << "Create only stores";
    for (uint32_t n = 1; n <= 4; ++n)
        ASSERT_TRUE(brick.enqueueData(Numbered(n, n == 2 || n == 3 ? kCodeNtfy : kCodeTag)));
    ASSERT_TRUE(brick.enqueueControl(Chunk(5)));
    EXPECT_TRUE(brick.DoData());
    EXPECT_TRUE(brick.DoCtrl());
    EXPECT_FALSE(brick.DoCtrl());
    while (brick.DoData()) {
    }
    EXPECT_EQ("create 17, data 1, ctrl 5, notify 2, notify 3, data 4", brick.log);
    EXPECT_TRUE(brick.IsKnownInput({kCodeSnd3, kCodeDat3}));
    EXPECT_TRUE(brick.IsKnownOutput({kCodeIma1, kCodeSCDA}));
    EXPECT_FALSE(brick.IsKnownInput({kCodeIma1, kCodeSCDA}));
    EXPECT_FALSE(LogBrick().IsKnownInput(TContentDescriptor{})) << "nothing is known before Create";
}

TEST(CBrick, QueuesShareBlocksAndAStoppedBrickRefusesThem)
{
    LogBrick brick;
    const cTagBlock tag = Numbered(9);
    ASSERT_TRUE(brick.enqueueData(tag));
    EXPECT_EQ(2u, Peek::Count(tag)) << "queued, not copied";
    brick.SetStopped(true);
    EXPECT_FALSE(brick.enqueueData(tag));
    EXPECT_FALSE(brick.enqueueControl(Chunk(1)));
    brick.SetStopped(false);
    EXPECT_TRUE(brick.enqueueData(tag));
    EXPECT_EQ(3u, Peek::Count(tag));
}

TEST(CBrick, ConnectedBricksSendDownstreamDataAndUpstreamCommands)
{
    LogBrick first, second;
    EXPECT_FALSE(first.SendData(Numbered(1))) << "no next brick";
    EXPECT_FALSE(second.SendCmd(Chunk(1))) << "no previous brick";
    EXPECT_FALSE(second.ConnectAfter(&second));
    ASSERT_TRUE(second.ConnectAfter(&first));
    EXPECT_TRUE(first.HasNextBrick() && second.HasPreviousBrick() && !first.HasPreviousBrick());
    EXPECT_TRUE(first.SendData(Numbered(2)));
    EXPECT_TRUE(second.SendCmd(Chunk(3)));
    EXPECT_FALSE(first.DoData() || second.DoCtrl()) << "data went downstream, commands upstream";
    EXPECT_TRUE(second.DoData() && first.DoCtrl());
    EXPECT_EQ("data 2", second.log) << "no onCreate without Create";
    EXPECT_EQ("ctrl 3", first.log);
    EXPECT_TRUE(first.DisconnectFrom(&second));
    EXPECT_FALSE(first.HasNextBrick() || second.HasPreviousBrick());
    EXPECT_FALSE(first.SendData(Numbered(4)));
}

TEST(CBrick, SignaturesAreDistinctAndOwnedBricksDieWithTheirOwner)
{
    int destroyed = 0;
    LogBrick* owner = new LogBrick(&destroyed);
    LogBrick *a = new LogBrick(&destroyed), *b = new LogBrick(&destroyed), *kept = new LogBrick(&destroyed);
    EXPECT_EQ(4u, (std::set<uint32_t>{owner->GetSignature(), a->GetSignature(), b->GetSignature(), kept->GetSignature()}.size()));
    for (LogBrick* owned : {a, b, kept})
        owner->ConnectOwned(owned);
    EXPECT_TRUE(owner->DisconnectOwned(kept));
    EXPECT_FALSE(owner->DisconnectOwned(kept));
    b->ConnectAfter(a);
    delete owner;
    EXPECT_EQ(3, destroyed);
    delete kept;
}

} // namespace
