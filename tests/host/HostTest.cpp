// The host's bricks on their own (configuration and onCreate, the routing of the two queues,
// connections, owned bricks) and chained by the pipeline: synchronously in order, threaded with
// one call at a time per brick, a handler's exception, and destruction with the pipeline.
#include "../kit/Blocks.h"

#include "../../host/CBrickMonitor.h"
#include "../../host/CPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

using namespace kit;

namespace {

// Forwards data downstream and commands upstream, answers every `answerEvery`-th data block with
// a chunk request upstream, fails (naming itself) on data numbered `failOn`, logs its calls when
// given a log, and notices overlapping calls and data numbers that go back (a number carries its
// producer in the top byte and rises per producer).
class RelayBrick : public CBrick {
public:
    explicit RelayBrick(std::string name, std::string* log = nullptr) : mName(std::move(name)), mLog(log) {}
    ~RelayBrick() override { ++destroyed; }
    bool onCreate(const TBrickConfig& config) override
    {
        return Call("create " + std::string(config.streamNumber), [] {});
    }
    bool onData(const cMemBlock& block) override
    {
        const uint32_t n = RecordOf<cTagBlock>(block).streamNumber;
        return Call("data " + std::to_string(n), [&] {
            if (n == failOn)
                throw std::runtime_error(mName + " fails on " + std::to_string(n));
            uint32_t& last = mLastPerProducer[n >> 24];
            outOfOrder = outOfOrder || (n & 0xFFFFFF) < last;
            last = n & 0xFFFFFF;
            SendData(block);
            if (++data % answerEvery == 0)
                SendCmd(Chunk(n));
        });
    }
    bool onNotify(const cMemBlock& block) override
    {
        return Call("notify " + std::to_string(RecordOf<cTagBlock>(block).streamNumber),
                    [&] { ++notes, SendData(block); });
    }
    bool onCtrl(cMemBlock& block) override
    {
        return Call("ctrl " + std::to_string(RecordOf<cChunkCmdBlock>(block).time), [&] { ++ctrl, SendCmd(block); });
    }

    int answerEvery = INT32_MAX;
    uint32_t failOn = UINT32_MAX;
    std::atomic<int> data{0}, notes{0}, ctrl{0};
    std::atomic<bool> overlapped{false}, outOfOrder{false};
    static inline std::atomic<int> destroyed{0};

private:
    template <class Work>
    bool Call(const std::string& what, Work work)
    {
        overlapped = overlapped || mInside.fetch_add(1) != 0;
        std::this_thread::yield(); // widen the window for an overlapping call
        if (mLog != nullptr)
            *mLog += mName + " " + what + ", ";
        work();
        --mInside;
        return true;
    }

    std::string mName;
    std::string* mLog;
    std::atomic<int> mInside{0};
    uint32_t mLastPerProducer[256] = {};
};

cTagBlock Numbered(uint32_t n, uint32_t type = kCodeTag)
{
    cTagBlock t(0, type);
    t.Record().streamNumber = n;
    return t;
}

TEST(CBrick, ConnectedBricksSendDownstreamDataAndUpstreamCommandsAndOwnedOnesDieWithTheirOwner)
{
    std::string log;
    const int destroyed = RelayBrick::destroyed;
    RelayBrick *first = new RelayBrick("A", &log), *second = new RelayBrick("B", &log), *kept = new RelayBrick("C");
    EXPECT_EQ(3u, (std::set<uint32_t>{first->GetSignature(), second->GetSignature(), kept->GetSignature()}.size()));
    EXPECT_FALSE(first->SendData(Numbered(1)) || second->SendCmd(Chunk(1))) << "no neighbour";
    EXPECT_FALSE(second->ConnectAfter(second) || second->ConnectAfter(nullptr));
    ASSERT_TRUE(second->ConnectAfter(first));
    EXPECT_TRUE(first->HasNextBrick() && second->HasPreviousBrick() && !first->HasPreviousBrick());
    EXPECT_TRUE(first->SendData(Numbered(2)) && second->SendCmd(Chunk(3)));
    EXPECT_TRUE(second->DoData() && first->DoCtrl() && !first->DoData() && !second->DoCtrl());
    EXPECT_EQ("B data 2, A ctrl 3, ", log) << "no onCreate without Create";
    EXPECT_TRUE(first->DisconnectFrom(second));
    EXPECT_FALSE(first->HasNextBrick() || second->HasPreviousBrick() || first->SendData(Numbered(4)));
    EXPECT_FALSE(first->DisconnectFrom(second) || first->DisconnectFrom(nullptr));
    EXPECT_FALSE(first->ConnectOwned(nullptr) || first->ConnectOwned(first));
    first->ConnectOwned(second);
    first->ConnectOwned(kept);
    // Outside a pipeline a handler's failure reaches the caller of DoData; a brick that dies
    // leaves its neighbours unconnected.
    RelayBrick* head = new RelayBrick("H");
    ASSERT_TRUE(kept->ConnectAfter(head));
    head->failOn = 5;
    head->enqueueData(Numbered(5));
    EXPECT_THROW(head->DoData(), std::runtime_error);
    delete head;
    EXPECT_FALSE(kept->HasPreviousBrick());
    EXPECT_TRUE(first->DisconnectOwned(kept));
    EXPECT_FALSE(first->DisconnectOwned(kept));
    delete first;
    EXPECT_EQ(destroyed + 3, RelayBrick::destroyed);
    delete kept;
    CBrick plain; // the base handlers: created without complaint, each block declined but delivered
    EXPECT_TRUE(plain.Create(TBrickConfig{}) && plain.enqueueData(Numbered(6)) && plain.DoData() && !plain.DoData());
    // Connections made over others: each side lets go only of what still points back at it.
    CBrick a, b, c;
    b.ConnectAfter(&a), c.ConnectAfter(&a), c.ConnectAfter(&b);
    EXPECT_TRUE(b.DisconnectFrom(&a) && a.DisconnectFrom(&c) && c.HasPreviousBrick() && b.HasNextBrick());
}

// Create only stores; onCreate runs before a brick's first block, notifications go to onNotify,
// control goes first, and a request runs upstream; a stopped brick takes nothing.
TEST(CPipeline, RunUntilIdleDeliversEverythingInOrderAlongTheChain)
{
    std::string log;
    CPipeline pipeline;
    RelayBrick* bricks[3];
    for (int i = 0; i < 3; ++i) {
        bricks[i] = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick(std::string(1, char('A' + i)), &log)));
        EXPECT_FALSE(bricks[i]->IsKnownInput({}) || bricks[i]->IsKnownOutput({})) << "nothing is known before Create";
        bricks[i]->Create(Config(std::to_string(i + 1).c_str()));
    }
    EXPECT_TRUE(bricks[0]->IsKnownInput({kCodeSnd3, kCodeDat3}) && bricks[0]->IsKnownOutput({kCodeIma1, kCodeSCDA}));
    EXPECT_FALSE(bricks[0]->IsKnownInput({kCodeIma1, kCodeSCDA}) || bricks[0]->IsKnownOutput({kCodeSnd3, kCodeDat3}));
    bricks[2]->answerEvery = 2;
    for (const cMemBlock& b : {Numbered(1), Numbered(2, kCodeNtfy), Numbered(3)})
        bricks[0]->enqueueData(b);
    bricks[1]->enqueueControl(Chunk(9));
    EXPECT_EQ("", log);
    EXPECT_EQ(13u, pipeline.RunUntilIdle()) << "3 blocks x 3 bricks, B's command up to A, and C's up through B to A";
    EXPECT_EQ(0u, pipeline.RunUntilIdle());
    EXPECT_EQ("A create 1, A data 1, A notify 2, A data 3, B create 2, B ctrl 9, B data 1, B notify 2, B data 3, "
              "C create 3, C data 1, C notify 2, C data 3, A ctrl 9, B ctrl 3, A ctrl 3, ",
              log);
    bricks[0]->SetStopped(true);
    EXPECT_FALSE(bricks[0]->enqueueData(Numbered(1)) || bricks[0]->enqueueControl(Chunk(1)));
    EXPECT_FALSE(bricks[1]->SendCmd(Chunk(1))) << "a send to a stopped neighbour fails";
    bricks[2]->SetStopped(true);
    EXPECT_FALSE(bricks[1]->SendData(Numbered(1)));
}

TEST(CPipeline, ThreadedBricksTakeOneCallAtATimeAndWaitIdleSeesEverythingDelivered)
{
    constexpr int kProducers = 4, kAnswerEvery = 50;
    // VRN3_STRESS_OPS (blocks per producer) keeps a run under a race checker short.
    const int kPerProducer = std::max(std::atoi(std::getenv("VRN3_STRESS_OPS") ?: "3000"), 1);
    CPipeline pipeline;
    auto *a = new RelayBrick("A"), *b = new RelayBrick("B"), *c = new RelayBrick("C");
    for (RelayBrick* brick : {a, b, c})
        pipeline.Add(brick);
    c->answerEvery = kAnswerEvery;
    pipeline.Start();
    std::vector<std::thread> producers;
    for (uint32_t p = 0; p < kProducers; ++p) {
        producers.emplace_back([a, p, kPerProducer] {
            for (uint32_t i = 1; i <= static_cast<uint32_t>(kPerProducer); ++i) {
                a->enqueueData(Numbered(p << 24 | i, i % 10 == 0 ? kCodeNtfy : kCodeTag));
                if (i % 7 == 0)
                    a->enqueueControl(Chunk(i)); // control into a running brick
            }
        });
    }
    for (std::thread& t : producers)
        t.join();
    pipeline.WaitIdle();
    const int notes = kProducers * (kPerProducer / 10), data = kProducers * kPerProducer - notes;
    EXPECT_EQ((std::vector<int>{data, notes, data, data / kAnswerEvery,
                                data / kAnswerEvery + kProducers * (kPerProducer / 7)}),
              (std::vector<int>{c->data, c->notes, b->data, b->ctrl, a->ctrl}));
    for (RelayBrick* brick : {a, b, c})
        EXPECT_FALSE(brick->overlapped || brick->outOfOrder) << "two calls at once, or a producer's blocks overtaken";
    a->enqueueData(Numbered(kPerProducer + 1)); // idle again after more work
    pipeline.WaitIdle();
    EXPECT_EQ(data + 1, c->data.load());
    pipeline.Stop();
    pipeline.Stop(); // finds no thread: the pipeline runs synchronously as after the first
    a->enqueueData(Numbered(kPerProducer + 2));
    pipeline.RunUntilIdle();
    EXPECT_EQ(data + 2, c->data.load());
    EXPECT_EQ(0, pipeline.PendingBlocks());
}

// The owner sees the first failure either way: A fails on data 1 before it forwards data 2, on
// which B then fails. Threaded, B's later failure is dropped; synchronous, the run stops at A's,
// and B's comes out of the next run. Each failed block is counted as delivered. Also: destroying
// the pipeline destroys its bricks and drops the blocks still queued.
TEST(CPipeline, TheFirstHandlerFailureReachesTheOwnerInBothModesAndTheCountsStayRight)
{
    const int destroyed = RelayBrick::destroyed;
    const cTagBlock queued = Numbered(4);
    for (bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "threaded" : "synchronous");
        CPipeline pipeline;
        auto* a = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("A")));
        auto* b = static_cast<RelayBrick*>(pipeline.Add(new RelayBrick("B")));
        a->failOn = 1;
        b->failOn = 2;
        for (uint32_t n : {1u, 2u, 3u})
            a->enqueueData(Numbered(n));
        for (int start = 0; threaded && start < 2; ++start)
            pipeline.Start(); // the second start finds the threads running and leaves them
        std::vector<std::string> seen;
        for (int run = 0; run < 3; ++run) {
            try {
                threaded ? pipeline.WaitIdle() : static_cast<void>(pipeline.RunUntilIdle());
                seen.push_back("none");
            } catch (const std::runtime_error& e) {
                seen.push_back(e.what());
            }
        }
        const std::string second = threaded ? "none" : "B fails on 2";
        EXPECT_EQ((std::vector<std::string>{"A fails on 1", second, "none"}), seen);
        pipeline.Stop();
        EXPECT_EQ((std::vector<int>{2, 1}), (std::vector<int>{a->data, b->data}));
        EXPECT_EQ(0, pipeline.PendingBlocks());
        a->enqueueData(queued); // never delivered
    }
    EXPECT_EQ(destroyed + 4, RelayBrick::destroyed);
    EXPECT_EQ(1u, Peek::Count(queued)) << "the queues let go of the block";
}

struct FailingCreateBrick : CBrick {
    bool onCreate(const TBrickConfig&) override { throw std::runtime_error("onCreate fails"); }
    bool onData(const cMemBlock&) override { return ++data > 0; }
    int data = 0;
};

// An onCreate that throws on the brick's own thread: the failure reaches WaitIdle, and the
// brick's blocks are still delivered.
TEST(CPipeline, AnOnCreateFailureOnABricksThreadReachesWaitIdle)
{
    CPipeline pipeline;
    auto* brick = static_cast<FailingCreateBrick*>(pipeline.Add(new FailingCreateBrick));
    brick->Create(TBrickConfig{});
    brick->enqueueData(Numbered(1));
    pipeline.Start();
    EXPECT_THROW(pipeline.WaitIdle(), std::runtime_error);
    brick->SetStopped(true);
    EXPECT_FALSE(brick->enqueueData(Numbered(2))) << "a stopped brick takes nothing";
    pipeline.Stop();
    EXPECT_EQ(1, brick->data);
}

// One monitor watches at a time: a second is refused while the first lives, and may watch after.
TEST(CBrickMonitor, ASecondMonitorIsRefusedWhileOneWatches)
{
    CBrick brick;
    std::unique_ptr<CBrickMonitor> first(new CBrickMonitor(&brick, CBrickRules{}));
    EXPECT_THROW(CBrickMonitor second(&brick, CBrickRules{}), std::logic_error);
    EXPECT_FALSE(CBrick().SendData(Numbered(7))) << "an unwatched brick sends, unseen and unconnected";
    first.reset();
    EXPECT_NO_THROW(CBrickMonitor later(&brick, CBrickRules{}));
}

} // namespace
