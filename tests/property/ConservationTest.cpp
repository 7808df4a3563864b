// Conservation under random playback: thousands of scenarios, each checked block by block
// against a model of what must leave the sound brick.
//
// A scenario interleaves, at random, the fragments of two sound streams (the brick's own and
// another), video frames, tags, chunk requests at random times and modes (some repeated, some
// beyond the archive's edge), direction changes, time ranges and resets. After every input the
// model says which blocks must have left since the input before: every complete record of the
// brick's stream that arrived after the header leaves exactly once, in order, byte for byte,
// with the time of the last "TagS" plus the latest video frame's offset, except those a reset
// dropped from the queue; tags leave with the brick's kind; each "TagF" that leaves settles one
// request; nothing leaves while no request is outstanding; the request count never goes below
// zero. A failing scenario names its seed; VRN3_PROPERTY_SEED=<seed> runs that one alone.
// VRN3_PROPERTY_SCENARIOS sets the count (default 1500).
#include "PropertyHarness.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

using namespace vrn3test;

namespace {

constexpr uint8_t kOwnStream = 1;
constexpr uint8_t kOtherStream = 2;
constexpr uint64_t kChunk = 3000;
constexpr uint64_t kTagFAfter = 2970;

// One block the model expects on the brick's data path.
struct Expected {
    bool sound = false;
    uint64_t time = 0;
    uint32_t code = 0;    // tags
    uint32_t kind = 0;    // tags
    uint32_t flags = 0;   // sound
    std::vector<uint8_t> payload;
};

// What the brick must do, written from the rules of playback rather than from the brick.
class PlaybackModel {
public:
    void Header() { header = true; }
    void Video(uint8_t kind, uint16_t frameTime, uint8_t timeMode)
    {
        if (kind == 2 || kind == 3)
            frameOffset = timeMode <= 3 ? frameTime % kChunk : frameTime;
    }
    void TagIn(uint32_t code, uint64_t time)
    {
        if (!header)
            return;
        if (code == kCodeTagS) {
            chunkTime = time;
            frameOffset = 0;
        }
        Offer(MakeTag(code, time, 2));
    }
    void FragmentIn(uint8_t stream, uint8_t kind, uint8_t flags, const std::vector<uint8_t>& payload, uint16_t length)
    {
        if (!header || stream != kOwnStream)
            return;
        if (kind == 3 || kind == 2) {
            record = payload;
            recordFlags = flags;
            open = kind == 2;
            if (kind == 3)
                Complete();
            return;
        }
        if (!open)
            return; // a continuation with nothing to continue
        const size_t take = length < payload.size() ? length : payload.size();
        record.insert(record.end(), payload.begin(), payload.begin() + static_cast<long>(take));
        if (kind == 1) {
            open = false;
            Complete();
        }
    }
    void RequestIn(uint64_t t, uint32_t mode)
    {
        ++requests;
        if (!forward && t <= begin) {
            uint64_t q = (begin - t) / kChunk + (mode == 2 ? 1 : 0);
            Edge(begin - q * kChunk, 2);
        } else if (forward && t >= end) {
            uint64_t q = (t - end) / kChunk + (mode == 2 ? 1 : 0);
            Edge(end + q * kChunk, 3);
        } else {
            ++count;
            Flush();
            if (count > 0)
                ++passedOn;
        }
    }
    void ResetIn()
    {
        dropped += queue.size();
        queue.clear();
        count = 0;
    }

    bool header = false;
    bool forward = true;
    uint64_t begin = 0, end = UINT64_MAX;
    int count = 0;
    int passedOn = 0;
    uint64_t requests = 0, dropped = 0, completed = 0;
    std::deque<Expected> queue;
    std::vector<Expected> out; // what must have left, in order

private:
    static Expected MakeTag(uint32_t code, uint64_t time, uint32_t kind)
    {
        Expected e;
        e.code = code;
        e.time = time;
        e.kind = kind;
        return e;
    }
    void Complete()
    {
        Expected e;
        e.sound = true;
        e.time = chunkTime + frameOffset;
        e.flags = recordFlags & 0x1F;
        e.payload = record;
        ++completed;
        Offer(e);
    }
    void Edge(uint64_t start, uint32_t startKind)
    {
        if (!header)
            return;
        ++count;
        Offer(MakeTag(kCodeTagS, start, startKind));
        Offer(MakeTag(kCodeTagF, start + kTagFAfter, 2));
    }
    void Offer(const Expected& e)
    {
        queue.push_back(e);
        Flush();
    }
    void Flush()
    {
        while (count > 0 && !queue.empty()) {
            if (!queue.front().sound && queue.front().code == kCodeTagF)
                --count;
            out.push_back(queue.front());
            queue.pop_front();
        }
    }

    uint64_t chunkTime = 0, frameOffset = 0;
    std::vector<uint8_t> record;
    uint8_t recordFlags = 0;
    bool open = false;
};

struct Totals {
    uint64_t scenarios = 0, records = 0, blocks = 0, requests = 0, dropped = 0;
};

// Compares what the sink got from `from` on with the model's output from `from` on.
::testing::AssertionResult SameOutput(const CRecordingSink& sink, const PlaybackModel& model, size_t from)
{
    if (sink.data.size() != model.out.size())
        return ::testing::AssertionFailure() << sink.data.size() << " blocks left, the model expects "
                                             << model.out.size();
    for (size_t i = from; i < sink.data.size(); ++i) {
        const cMemBlock& got = sink.data[i];
        const Expected& want = model.out[i];
        if (want.sound) {
            if (got.GetType() != kCodeSCDA)
                return ::testing::AssertionFailure() << "block " << i << ": not sound";
            const cSoundBlock sound(got);
            const TSoundData& r = sound.Record();
            if (r.time != want.time || r.sourceFlags != want.flags || sound.GetExtraSize() != want.payload.size() ||
                (!want.payload.empty() && std::memcmp(sound.Extra(), want.payload.data(), want.payload.size()) != 0))
                return ::testing::AssertionFailure() << "block " << i << ": sound differs (time " << r.time
                                                     << " want " << want.time << ", size " << sound.GetExtraSize()
                                                     << " want " << want.payload.size() << ")";
        } else {
            if (got.GetType() != kCodeTag)
                return ::testing::AssertionFailure() << "block " << i << ": not a tag";
            const TStreamTag& r = cTagBlock(got).Record();
            if (r.code != want.code || r.time != want.time || r.kind != want.kind)
                return ::testing::AssertionFailure() << "block " << i << ": tag differs (time " << r.time << " want "
                                                     << want.time << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> Bytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

// One random scenario; returns a failure naming the step.
::testing::AssertionResult RunScenario(uint64_t seed, Totals& totals)
{
    std::mt19937 rng(static_cast<uint32_t>(seed));
    auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    SoundChain chain;
    PlaybackModel model;
    std::vector<cChunkCmdBlock> requests;
    // Fragments still to send, per stream, in order; each: kind, payload, length field.
    struct Piece {
        uint8_t kind;
        std::vector<uint8_t> payload;
        uint16_t length;
        uint8_t flags;
    };
    std::deque<Piece> pending[2];
    auto cut = [&](std::deque<Piece>& into) {
        const std::vector<uint8_t> bytes = Bytes(rng, pick(300));
        const uint8_t flags = static_cast<uint8_t>(rng() & 0x3F);
        const uint32_t parts = pick(5);
        if (parts == 0 || bytes.empty()) {
            into.push_back({3, bytes, static_cast<uint16_t>(rng()), flags});
            return;
        }
        size_t at = 0;
        for (uint32_t p = 0; p <= parts; ++p) {
            const size_t size = p == parts ? bytes.size() - at : pick(static_cast<uint32_t>(bytes.size() - at + 1));
            std::vector<uint8_t> part(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
            at += size;
            const uint8_t kind = p == 0 ? 2 : p == parts ? 1 : 0;
            // Continuations carry their length; some carry padding behind it, some claim more.
            uint16_t length = static_cast<uint16_t>(part.size());
            if (kind != 2 && pick(6) == 0) {
                part.resize(part.size() + pick(8), 0xEE);
            } else if (kind != 2 && pick(10) == 0) {
                length = static_cast<uint16_t>(length + pick(50));
            }
            into.push_back({kind, part, length, flags});
        }
    };
    const int steps = 40 + static_cast<int>(pick(120));
    const bool headerFirst = pick(8) != 0;
    for (int step = 0; step < steps; ++step) {
        const size_t before = chain.sink->data.size();
        const uint32_t what = step == 0 && headerFirst ? 0 : 1 + pick(100);
        if (what == 0 || what == 1) {
            chain.Data(Header(kOwnStream, "-rate=8000 -bits=16"));
            model.Header();
        } else if (what < 45) {
            const int s = pick(3) == 0 ? 1 : 0;
            if (pending[s].empty())
                cut(pending[s]);
            const Piece piece = pending[s].front();
            pending[s].pop_front();
            if (pick(40) == 0)
                continue; // a lost fragment
            const uint8_t stream = s == 0 ? kOwnStream : kOtherStream;
            chain.Data(Fragment(stream, piece.kind, piece.flags, piece.payload, piece.length));
            model.FragmentIn(stream, piece.kind, piece.flags, piece.payload, piece.length);
        } else if (what < 55) {
            const uint8_t kind = static_cast<uint8_t>(pick(4));
            const uint16_t frameTime = static_cast<uint16_t>(rng());
            const uint8_t mode = static_cast<uint8_t>(pick(6));
            chain.Data(Video(kind, frameTime, mode));
            model.Video(kind, frameTime, mode);
        } else if (what < 67) {
            const uint32_t code = pick(2) == 0 ? kCodeTagS : pick(5) == 0 ? FourCC("TagX") : kCodeTagF;
            const uint64_t time = pick(4) == 0 ? UINT64_MAX - pick(5000) : pick(40) * kChunk;
            chain.Data(Tag(code, time, rng()));
            model.TagIn(code, time);
        } else if (what < 87) {
            if (!requests.empty() && pick(8) == 0) {
                chain.Ctrl(requests[pick(static_cast<uint32_t>(requests.size()))]); // handled before: ignored
            } else {
                const uint64_t t = pick(6) == 0 ? UINT64_MAX - pick(4) : pick(6) == 0 ? pick(3) : pick(60000);
                const uint32_t mode = pick(3) == 0 ? 2 : pick(4);
                requests.push_back(Request(t, mode));
                chain.Ctrl(requests.back());
                model.RequestIn(t, mode);
            }
        } else if (what < 91) {
            const bool forward = pick(2) == 0;
            chain.Ctrl(Play(forward ? 1 : 0));
            model.forward = forward;
        } else if (what < 96) {
            const uint64_t begin = pick(3) == 0 ? 0 : pick(20000);
            const uint64_t end = pick(3) == 0 ? UINT64_MAX : begin + pick(50000);
            chain.Data(TimeRange(begin, end));
            model.begin = begin;
            model.end = end;
        } else {
            chain.Data(Reset(step));
            model.ResetIn();
        }
        const int count = chain.brick->ChunkRequestCount();
        if (count < 0)
            return ::testing::AssertionFailure() << "step " << step << ": request count " << count;
        if (count != model.count || chain.brick->QueuedBlocks() != static_cast<int>(model.queue.size()))
            return ::testing::AssertionFailure() << "step " << step << ": count " << count << " queued "
                                                 << chain.brick->QueuedBlocks() << ", the model has " << model.count
                                                 << " and " << model.queue.size();
        const ::testing::AssertionResult same = SameOutput(*chain.sink, model, before);
        if (!same)
            return ::testing::AssertionFailure() << "step " << step << ": " << same.message();
        if (chain.source->requests != model.passedOn)
            return ::testing::AssertionFailure() << "step " << step << ": " << chain.source->requests
                                                 << " requests passed on, the model has " << model.passedOn;
    }
    totals.records += model.completed;
    totals.blocks += model.out.size();
    totals.requests += model.requests;
    totals.dropped += model.dropped;
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(Conservation, EveryRecordLeavesOnceInOrderUnlessAResetDropsIt)
{
    const uint64_t only = EnvNumber("VRN3_PROPERTY_SEED", 0);
    const uint64_t scenarios = only != 0 ? 1 : EnvNumber("VRN3_PROPERTY_SCENARIOS", 1500);
    const uint64_t base = 0x5EED0000;
    Totals totals;
    for (uint64_t i = 0; i < scenarios; ++i) {
        const uint64_t seed = only != 0 ? only : base + i;
        const ::testing::AssertionResult result = RunScenario(seed, totals);
        ASSERT_TRUE(result) << "scenario seed " << seed << " (rerun with VRN3_PROPERTY_SEED=" << seed << ")";
        ++totals.scenarios;
    }
    std::printf("conservation: %llu scenarios, %llu records completed, %llu blocks checked, %llu requests, "
                "%llu blocks dropped by resets\n",
                static_cast<unsigned long long>(totals.scenarios), static_cast<unsigned long long>(totals.records),
                static_cast<unsigned long long>(totals.blocks), static_cast<unsigned long long>(totals.requests),
                static_cast<unsigned long long>(totals.dropped));
    EXPECT_GT(totals.records, scenarios) << "the scenarios must complete records";
    EXPECT_GT(totals.dropped, 0u) << "the scenarios must reach resets with blocks queued";
}
