// The host's brick on its own: configuration and onCreate, the routing of its two queues to the
// handlers, connections, sending, and the life of owned bricks.
#include "blocks/CBrick.h"
#include "records/BlockTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TBrickConfig MakeConfig(const char* streamNumber)
{
    TBrickConfig config{};
    config.size = sizeof config;
    config.input = {kCodeSnd3, kCodeDat3};
    config.output = {kCodeIma1, kCodeSCDA};
    std::strcpy(config.streamNumber, streamNumber);
    return config;
}

// Writes down each handler call as text.
class LogBrick : public CBrick {
public:
    explicit LogBrick(int* destroyed = nullptr) : mDestroyed(destroyed) {}
    ~LogBrick() override
    {
        if (mDestroyed != nullptr)
            ++*mDestroyed;
    }
    bool onCreate(const TBrickConfig& config) override
    {
        log.push_back(std::string("create ") + config.streamNumber);
        return true;
    }
    bool onData(const cMemBlock& block) override
    {
        log.push_back("data " + std::to_string(cTagBlock(block).Record().streamNumber));
        lastData = block;
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        log.push_back("notify " + std::to_string(cTagBlock(block).Record().streamNumber));
        return true;
    }
    bool onCtrl(cMemBlock& block) override
    {
        log.push_back("ctrl " + std::to_string(cChunkCmdBlock(block).Record().time));
        return true;
    }

    std::vector<std::string> log;
    cMemBlock lastData;

private:
    int* mDestroyed;
};

// A data block numbered n; the routing looks at its type only.
cTagBlock Tag(uint32_t n, uint32_t type = kCodeTag)
{
    cTagBlock tag(0, type);
    tag.Record().streamNumber = n;
    return tag;
}

cChunkCmdBlock Chunk(uint64_t time)
{
    cChunkCmdBlock chunk;
    chunk.Record().time = time;
    return chunk;
}

TEST(CBrick, OnCreateRunsOnceWithTheStoredConfigurationBeforeTheFirstBlock)
{
    LogBrick brick;
    ASSERT_TRUE(brick.Create(MakeConfig("17")));
    EXPECT_TRUE(brick.log.empty()) << "Create only stores";
    ASSERT_TRUE(brick.enqueueData(Tag(1)));
    ASSERT_TRUE(brick.enqueueControl(Chunk(5)));
    EXPECT_TRUE(brick.DoData());
    EXPECT_TRUE(brick.DoCtrl());
    EXPECT_FALSE(brick.DoData());
    EXPECT_FALSE(brick.DoCtrl());
    EXPECT_EQ((std::vector<std::string>{"create 17", "data 1", "ctrl 5"}), brick.log);

    TContentDescriptor input = {kCodeSnd3, kCodeDat3};
    TContentDescriptor output = {kCodeIma1, kCodeSCDA};
    EXPECT_TRUE(brick.IsKnownInput(input));
    EXPECT_TRUE(brick.IsKnownOutput(output));
    EXPECT_FALSE(brick.IsKnownInput(output));
}

TEST(CBrick, NotificationsGoToOnNotifyAndOtherDataToOnData)
{
    LogBrick brick;
    brick.Create(MakeConfig("0"));
    brick.enqueueData(Tag(1));
    brick.enqueueData(Tag(2, kCodeNtfy));
    brick.enqueueData(Tag(3, kCodeNtfy));
    brick.enqueueData(Tag(4));
    while (brick.DoData()) {
    }
    EXPECT_EQ((std::vector<std::string>{"create 0", "data 1", "notify 2", "notify 3", "data 4"}), brick.log);
}

TEST(CBrick, QueuesShareBlocksAndAStoppedBrickRefusesThem)
{
    LogBrick brick;
    cTagBlock tag = Tag(9);
    ASSERT_TRUE(brick.enqueueData(tag));
    brick.DoData();
    const cTagBlock received(brick.lastData);
    EXPECT_EQ(static_cast<const cTagBlock&>(tag).GetData(), received.GetData())
        << "the handler got the sender's node, not a copy";

    brick.SetStopped(true);
    EXPECT_FALSE(brick.enqueueData(tag));
    EXPECT_FALSE(brick.enqueueControl(Chunk(1)));
    EXPECT_FALSE(brick.DoData());
    brick.SetStopped(false);
    EXPECT_TRUE(brick.enqueueData(tag));
}

TEST(CBrick, ConnectedBricksSendDownstreamDataAndUpstreamCommands)
{
    LogBrick first;
    LogBrick second;
    EXPECT_FALSE(first.SendData(Tag(1))) << "no next brick";
    EXPECT_FALSE(second.SendCmd(Chunk(1))) << "no previous brick";
    EXPECT_FALSE(second.ConnectAfter(&second));
    ASSERT_TRUE(second.ConnectAfter(&first));
    EXPECT_TRUE(first.HasNextBrick());
    EXPECT_TRUE(second.HasPreviousBrick());
    EXPECT_FALSE(first.HasPreviousBrick());

    EXPECT_TRUE(first.SendData(Tag(2)));
    EXPECT_TRUE(second.SendCmd(Chunk(3)));
    EXPECT_FALSE(first.DoData()) << "data went downstream";
    EXPECT_FALSE(second.DoCtrl()) << "commands went upstream";
    EXPECT_TRUE(second.DoData());
    EXPECT_TRUE(first.DoCtrl());
    EXPECT_EQ((std::vector<std::string>{"data 2"}), second.log) << "no onCreate without Create";
    EXPECT_EQ((std::vector<std::string>{"ctrl 3"}), first.log);

    EXPECT_TRUE(first.DisconnectFrom(&second));
    EXPECT_FALSE(first.HasNextBrick());
    EXPECT_FALSE(second.HasPreviousBrick());
    EXPECT_FALSE(first.SendData(Tag(4)));
}

TEST(CBrick, SignaturesAreDistinctAndOwnedBricksDieWithTheirOwner)
{
    int destroyed = 0;
    LogBrick* owner = new LogBrick(&destroyed);
    LogBrick* a = new LogBrick(&destroyed);
    LogBrick* b = new LogBrick(&destroyed);
    LogBrick* kept = new LogBrick(&destroyed);
    EXPECT_NE(owner->GetSignature(), a->GetSignature());
    EXPECT_NE(a->GetSignature(), b->GetSignature());
    EXPECT_NE(owner->GetSignature(), b->GetSignature());
    EXPECT_EQ(owner->GetSignature(), owner->GetSignature());
    owner->ConnectOwned(a);
    owner->ConnectOwned(b);
    owner->ConnectOwned(kept);
    EXPECT_TRUE(owner->DisconnectOwned(kept));
    EXPECT_FALSE(owner->DisconnectOwned(kept));
    b->ConnectAfter(a);
    delete owner;
    EXPECT_EQ(3, destroyed);
    delete kept;
    EXPECT_EQ(4, destroyed);
}

} // namespace
