// Chains of bricks run by the pipeline: synchronously in order, threaded with one call at a
// time per brick, and destroyed with the pipeline.
#include "host/CPipeline.h"
#include "records/BlockTypes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

// Forwards data downstream and commands upstream, answers every `answerEvery`-th data block
// with a chunk request upstream, and notices overlapping handler calls.
class RelayBrick : public CBrick {
public:
    RelayBrick(std::string name, std::vector<std::string>* log, std::atomic<int>* destroyed = nullptr)
        : mName(std::move(name)), mLog(log), mDestroyed(destroyed)
    {
    }
    ~RelayBrick() override
    {
        if (mDestroyed != nullptr)
            ++*mDestroyed;
    }

    bool onCreate(const TBrickConfig& config) override
    {
        Enter();
        Note(std::string("create ") + config.streamNumber);
        streamNumber = std::atoi(config.streamNumber);
        Leave();
        return true;
    }
    bool onData(const cMemBlock& block) override
    {
        Enter();
        const uint32_t n = cTagBlock(block).Record().streamNumber;
        Note("data " + std::to_string(n));
        CheckOrder(n);
        ++data;
        SendData(block);
        if (answerEvery != 0 && data % answerEvery == 0) {
            cChunkCmdBlock chunk;
            chunk.Record().time = n;
            SendCmd(chunk);
        }
        Leave();
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        Enter();
        Note("notify " + std::to_string(cTagBlock(block).Record().streamNumber));
        ++notes;
        SendData(block);
        Leave();
        return true;
    }
    bool onCtrl(cMemBlock& block) override
    {
        Enter();
        Note("ctrl " + std::to_string(cChunkCmdBlock(block).Record().time));
        ++ctrl;
        SendCmd(block);
        Leave();
        return true;
    }

    int answerEvery = 0;
    int streamNumber = -1;
    std::atomic<int> data{0};
    std::atomic<int> notes{0};
    std::atomic<int> ctrl{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> outOfOrder{false};

private:
    void Enter()
    {
        if (mInside.fetch_add(1) != 0)
            overlapped = true;
        std::this_thread::yield(); // widen the window for an overlapping call
    }
    void Leave() { mInside.fetch_sub(1); }
    void Note(const std::string& text)
    {
        if (mLog != nullptr)
            mLog->push_back(mName + " " + text);
    }
    // Data numbers carry their producer in the top byte and rise per producer.
    void CheckOrder(uint32_t n)
    {
        uint32_t& last = mLastPerProducer[n >> 24];
        if ((n & 0xFFFFFF) < last)
            outOfOrder = true;
        last = n & 0xFFFFFF;
    }

    std::string mName;
    std::vector<std::string>* mLog;
    std::atomic<int>* mDestroyed;
    std::atomic<int> mInside{0};
    uint32_t mLastPerProducer[256] = {};
};

TBrickConfig MakeConfig(const char* streamNumber)
{
    TBrickConfig config{};
    std::strcpy(config.streamNumber, streamNumber);
    return config;
}

cTagBlock Numbered(uint32_t n, uint32_t type = kCodeTag)
{
    cTagBlock tag(0, type);
    tag.Record().streamNumber = n;
    return tag;
}

TEST(CPipeline, RunUntilIdleDeliversEverythingInOrderAlongTheChain)
{
    std::vector<std::string> log;
    CPipeline pipeline;
    auto* a = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("A", &log)));
    auto* b = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("B", &log)));
    auto* c = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("C", &log)));
    a->Create(MakeConfig("1"));
    b->Create(MakeConfig("2"));
    c->Create(MakeConfig("3"));
    c->answerEvery = 2;
    EXPECT_TRUE(a->HasNextBrick() && b->HasPreviousBrick() && c->HasPreviousBrick());
    EXPECT_FALSE(c->HasNextBrick());

    a->enqueueData(Numbered(1));
    a->enqueueData(Numbered(2, kCodeNtfy));
    a->enqueueData(Numbered(3));
    // 3 blocks x 3 bricks, and one request from C travelling up through B to A.
    EXPECT_EQ(11u, pipeline.RunUntilIdle());
    EXPECT_EQ(0u, pipeline.RunUntilIdle());

    const std::vector<std::string> expected = {
        "A create 1", "A data 1",   "A notify 2", "A data 3",   "B create 2", "B data 1",
        "B notify 2", "B data 3",   "C create 3", "C data 1",   "C notify 2", "C data 3",
        "B ctrl 3",   "A ctrl 3",
    };
    EXPECT_EQ(expected, log);
    EXPECT_EQ(3, c->streamNumber);
    EXPECT_NE(a->GetSignature(), b->GetSignature());
    EXPECT_NE(b->GetSignature(), c->GetSignature());
    EXPECT_NE(a->GetSignature(), c->GetSignature());
}

TEST(CPipeline, ThreadedBricksTakeOneCallAtATimeAndWaitIdleSeesEverythingDelivered)
{
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 3000;
    constexpr int kAnswerEvery = 50;
    CPipeline pipeline;
    auto* a = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("A", nullptr)));
    auto* b = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("B", nullptr)));
    auto* c = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("C", nullptr)));
    for (RelayBrick* brick : {a, b, c})
        brick->Create(MakeConfig("4"));
    c->answerEvery = kAnswerEvery;
    pipeline.Start();

    std::vector<std::thread> producers;
    for (uint32_t p = 0; p < kProducers; ++p) {
        producers.emplace_back([a, p] {
            for (uint32_t i = 1; i <= kPerProducer; ++i) {
                a->enqueueData(Numbered(p << 24 | i, i % 10 == 0 ? kCodeNtfy : kCodeTag));
                if (i % 7 == 0) { // control into a running brick
                    cChunkCmdBlock chunk;
                    chunk.Record() = TCmdRequestChunk{i, 0};
                    a->enqueueControl(chunk);
                }
            }
        });
    }
    for (std::thread& t : producers)
        t.join();
    pipeline.WaitIdle();

    const int notes = kProducers * (kPerProducer / 10);
    const int data = kProducers * kPerProducer - notes;
    EXPECT_EQ(data, c->data.load());
    EXPECT_EQ(notes, c->notes.load());
    EXPECT_EQ(data, b->data.load());
    EXPECT_EQ(data / kAnswerEvery, b->ctrl.load());
    EXPECT_EQ(data / kAnswerEvery + kProducers * (kPerProducer / 7), a->ctrl.load());
    for (RelayBrick* brick : {a, b, c}) {
        EXPECT_FALSE(brick->overlapped) << "a brick got two calls at once";
        EXPECT_FALSE(brick->outOfOrder) << "a producer's blocks overtook each other";
        EXPECT_EQ(4, brick->streamNumber);
    }

    // Idle again after more work, and a second Stop is harmless.
    a->enqueueData(Numbered(kPerProducer + 1));
    pipeline.WaitIdle();
    EXPECT_EQ(data + 1, c->data.load());
    pipeline.Stop();
    pipeline.Stop();
}

// Runs out of memory on data blocks numbered 1.
class FailingBrick : public CBrick {
public:
    bool onData(const cMemBlock& block) override
    {
        if (cTagBlock(block).Record().streamNumber == 1)
            throw std::bad_alloc();
        ++taken;
        return true;
    }
    std::atomic<int> taken{0};
};

TEST(CPipeline, AHandlersExceptionReachesTheOwnerAndLeavesTheCountsRight)
{
    for (bool threaded : {false, true}) {
        CPipeline pipeline;
        auto* brick = static_cast<FailingBrick*>(pipeline.Add(new FailingBrick));
        if (threaded)
            pipeline.Start();
        for (uint32_t n : {1u, 2u, 1u, 3u})
            brick->enqueueData(Numbered(n));
        if (threaded) {
            EXPECT_THROW(pipeline.WaitIdle(), std::bad_alloc); // the first one, once idle
            pipeline.WaitIdle();
        } else {
            EXPECT_THROW(pipeline.RunUntilIdle(), std::bad_alloc);
            EXPECT_THROW(pipeline.RunUntilIdle(), std::bad_alloc);
            EXPECT_EQ(1u, pipeline.RunUntilIdle());
        }
        EXPECT_EQ(2, brick->taken.load());
        EXPECT_EQ(0, pipeline.PendingBlocks());
    }
}

TEST(CPipeline, DestroyingThePipelineDestroysItsBricksAndDropsQueuedBlocks)
{
    std::atomic<int> destroyed{0};
    cTagBlock queued = Numbered(1);
    {
        CPipeline pipeline;
        CBrick* a = pipeline.Add(new RelayBrick("A", nullptr, &destroyed));
        pipeline.Add(new RelayBrick("B", nullptr, &destroyed));
        a->enqueueData(queued);
        a->enqueueData(queued);
        pipeline.Start();
        pipeline.WaitIdle();
        a->SetStopped(true);
        pipeline.Stop();
        a->SetStopped(false);
        a->enqueueData(queued); // never delivered
        EXPECT_EQ(0, destroyed.load());
    }
    EXPECT_EQ(2, destroyed.load());
    EXPECT_EQ(static_cast<const cTagBlock&>(queued).GetData(), queued.GetData())
        << "the queues let go of the block: this handle holds it alone again";
}

} // namespace
