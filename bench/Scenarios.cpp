// The benchmark's scenarios (see Scenarios.h).
#include "Scenarios.h"

#include "StartGate.h"

#include "../records/DataPathBlocks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace {

// Records a scenario feeds at scale 1: small records, and 64 KiB ones.
constexpr uint64_t kRecords = 20000;
constexpr uint64_t kBigRecords = 300;
// 8 kHz, 16-bit mono: 100 ms of sound a record, 30 records (3 s, one chunk) a chunk request.
constexpr uint32_t kPlaybackRecordBytes = 1600;
constexpr int kRecordsPerChunk = 30;
constexpr int kChunksPerMinute = 20;
constexpr int kPlaybackFragments = 4;

// The lock pairs a record cannot go without. Every fragment: the copy into the brick's queue and
// the host's release after onData. The reassembly: taking the first (or whole) fragment and
// releasing the block held before, and for a fragmented record a block of the brick's own taken
// from its pool, replacing the first fragment; releasing that block at the next record returns
// it to its pool. The output: the pool take, SendData's copy into the sink's queue, the brick's
// release of its handle, the sink's release and the pool return.
constexpr double ForcedPairs(int fragments)
{
    return fragments == 1 ? 2 + 2 + 5 : 2.0 * fragments + 3 + 2 + 5;
}
// The payload is copied once into the output; a fragmented record also into the reassembly block.
constexpr int ForcedCopies(int fragments)
{
    return fragments == 1 ? 1 : 2;
}

constexpr Scenario Flowing(ScenarioId id, const char* name, uint32_t payload, int fragments)
{
    return {id, name, payload, fragments, ForcedPairs(fragments), ForcedCopies(fragments)};
}

const std::vector<Scenario> kScenarios = {
    Flowing(ScenarioId::kA160, "A whole 160 B", 160, 1),
    Flowing(ScenarioId::kA1K, "A whole 1 KiB", 1024, 1),
    Flowing(ScenarioId::kA4K, "A whole 4 KiB", 4096, 1),
    Flowing(ScenarioId::kB1K4, "B 1 KiB in 4 fragments", 1024, 4),
    Flowing(ScenarioId::kC1, "C 64 KiB in 1 fragment", 65536, 1),
    Flowing(ScenarioId::kC8, "C 64 KiB in 8 fragments", 65536, 8),
    Flowing(ScenarioId::kC64, "C 64 KiB in 64 fragments", 65536, 64),
    {ScenarioId::kD1K, "D 1 KiB, 30 a chunk request", 1024, 1, 0, 1},
    {ScenarioId::kE1, "E 1 KiB, one chain, one thread", 1024, 1, 0, 1},
    {ScenarioId::kE2, "E 1 KiB, two chains, two threads", 1024, 1, 0, 1},
    {ScenarioId::kF1, "F playback of one minute", kPlaybackRecordBytes, kPlaybackFragments, 0, 2},
    {ScenarioId::kF60, "F playback of one hour", kPlaybackRecordBytes, kPlaybackFragments, 0, 2},
};

cChunkCmdBlock MakeChunkRequest(uint64_t time)
{
    cChunkCmdBlock request;
    request.Record().time = time;
    request.Record().mode = 0;
    return request;
}

// One fragment of `size` bytes; its bytes and low flag bits follow from `seed`.
cDataBlock MakeFragment(EFragmentKind kind, uint32_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    cDataBlock block = MakeSoundFragment(0, kind, bytes.data(), size);
    block.SoleRecord().flags = FragmentFlags(kind, seed & kSourceFlagsMask);
    return block;
}

// One record of `payload` bytes cut into `fragments` fragments of (nearly) equal size.
std::vector<cDataBlock> MakeRecord(uint32_t payload, int fragments)
{
    if (fragments == 1)
        return {MakeFragment(kFragmentWhole, payload, 1)};
    std::vector<cDataBlock> out;
    for (int i = 0; i < fragments; ++i) {
        const uint32_t size = payload / fragments + (i < static_cast<int>(payload % fragments) ? 1 : 0);
        const EFragmentKind kind = i == 0 ? kFragmentFirst : i == fragments - 1 ? kFragmentLast : kFragmentMiddle;
        out.push_back(MakeFragment(kind, size, static_cast<uint8_t>(i + 1)));
    }
    return out;
}

// Runs a scenario's pass: measured, or once for an instruction counter. Given the records of one
// pass, the pass, the preparation before every pass, the slices to time and what else to time
// between them.
using Driver = std::function<Result(uint64_t, const Pass&, const Step&, int, const Step&)>;

// A pass of `records` records, each fed as the fragments of `record`.
uint64_t FeedRecords(CSoundChain& chain, const std::vector<cDataBlock>& record, uint64_t records, bool hash)
{
    chain.Sink().SetHashing(hash);
    for (uint64_t i = 0; i < records; ++i) {
        for (const cDataBlock& fragment : record)
            chain.Feed(fragment);
        chain.Sink().Drain();
    }
    return chain.Sink().Digest();
}

// A fragmented record's scenario also times, between its slices, its payload in one fragment on
// a chain of its own.
Result RecordsFlowing(const Scenario& s, CSoundChain::CreateBrickFn create, uint64_t records, const Driver& drive)
{
    CSoundChain chain(create);
    chain.Request(MakeChunkRequest(0));
    const std::vector<cDataBlock> record = MakeRecord(s.payload, s.fragments);
    std::unique_ptr<CSoundChain> wholeChain;
    std::vector<cDataBlock> whole;
    double wholeNs = 1e300;
    Step alongside = [] {};
    if (s.fragments > 1) {
        wholeChain.reset(new CSoundChain(create));
        wholeChain->Request(MakeChunkRequest(0));
        whole = MakeRecord(s.payload, 1);
        alongside = [&] {
            if (wholeNs == 1e300)
                FeedRecords(*wholeChain, whole, records, false); // fills its pools, untimed
            const double start = CpuNs();
            FeedRecords(*wholeChain, whole, records, false);
            wholeNs = std::min(wholeNs, (CpuNs() - start) / static_cast<double>(records));
        };
    }
    Result r = drive(
        records, [&](bool hash) { return FeedRecords(chain, record, records, hash); }, [] {}, kSlices, alongside);
    r.wholeNsPerRecord = s.fragments > 1 ? wholeNs : r.nsPerRecord;
    return r;
}

// Every request block is handled once by a brick: each pass gets fresh ones, made untimed.
Result ChunkedPlayback(const Scenario& s, CSoundChain::CreateBrickFn create, uint64_t chunks, const Driver& drive)
{
    CSoundChain chain(create);
    const cDataBlock record = MakeRecord(s.payload, 1).front();
    const cTagBlock tagS = MakeTagBlock(kCodeTagS, 3000, 0);
    const cTagBlock tagF = MakeTagBlock(kCodeTagF, 5970, 0);
    std::vector<cChunkCmdBlock> requests;
    const auto fresh = [&] {
        requests.clear();
        for (uint64_t c = 0; c < chunks; ++c)
            requests.push_back(MakeChunkRequest(c * kChunkLength));
    };
    const auto pass = [&](bool hash) {
        chain.Sink().SetHashing(hash);
        for (uint64_t c = 0; c < chunks; ++c) {
            chain.Feed(tagS);
            for (int i = 0; i < kRecordsPerChunk; ++i)
                chain.Feed(record);
            chain.Feed(tagF);
            chain.Request(requests[c]);
            chain.Sink().Drain();
        }
        return chain.Sink().Digest();
    };
    return drive(chunks * kRecordsPerChunk, pass, fresh, kSlices, [] {});
}

// Reported per record of all threads together, in the CPU time of them all: two chains on two
// threads cost what one does unless they slow each other down.
Result Parallel(const Scenario& s, CSoundChain::CreateBrickFn create, int threads, uint64_t recordsEach,
                const Driver& drive)
{
    std::vector<std::unique_ptr<CSoundChain>> chains;
    std::vector<cDataBlock> records; // a block of its own for each chain: no node is contended
    for (int t = 0; t < threads; ++t) {
        chains.emplace_back(new CSoundChain(create));
        chains.back()->Request(MakeChunkRequest(0));
        records.push_back(MakeRecord(s.payload, 1).front());
    }
    const auto run = [&](int t) {
        CSoundChain& chain = *chains[t];
        for (uint64_t i = 0; i < recordsEach; ++i) {
            chain.Feed(records[t]);
            chain.Sink().Drain();
        }
    };
    return drive(
        recordsEach * threads,
        [&](bool) {
            StartGate gate(threads);
            std::vector<std::thread> workers;
            for (int t = 0; t < threads; ++t)
                workers.emplace_back([&, t] {
                    gate.Pass(t);
                    run(t);
                });
            for (std::thread& w : workers)
                w.join();
            return uint64_t{0};
        },
        [] {}, kSlices, [] {});
}

// Records of 100 ms in 4 fragments, 30 a chunk, one chunk request (made as it is needed) per
// chunk, a video frame per record.
Result Playback(const Scenario& s, CSoundChain::CreateBrickFn create, uint64_t chunks, const Driver& drive)
{
    CSoundChain chain(create);
    const std::vector<cDataBlock> record = MakeRecord(s.payload, s.fragments);
    cVideoBlock video = MakeVideoFragment(kFragmentWhole, 0, nullptr, 0);
    const auto pass = [&](bool hash) {
        chain.Sink().SetHashing(hash);
        for (uint64_t c = 0; c < chunks; ++c) {
            chain.Feed(MakeTagBlock(kCodeTagS, c * kChunkLength, 0));
            for (int i = 0; i < kRecordsPerChunk; ++i) {
                video.SoleRecord().frameTime = static_cast<uint16_t>(i * 100); // released by the brick
                chain.Feed(video);
                for (const cDataBlock& fragment : record)
                    chain.Feed(fragment);
            }
            chain.Feed(MakeTagBlock(kCodeTagF, c * kChunkLength + kTagFAfterTagS, 0));
            chain.Request(MakeChunkRequest(c * kChunkLength));
            chain.Sink().Drain();
        }
        return chain.Sink().Digest();
    };
    return drive(
        chunks * kRecordsPerChunk, pass, [] {}, 1, [] {});
}

// Runs a scenario with `records` records (chunks of them where it plays chunks) through `drive`.
Result Run(const Scenario& s, CSoundChain::CreateBrickFn create, uint64_t records, const Driver& drive)
{
    switch (s.id) {
    case ScenarioId::kD1K:
        return ChunkedPlayback(s, create, records / kRecordsPerChunk, drive);
    case ScenarioId::kE1:
        return Parallel(s, create, 1, records, drive);
    case ScenarioId::kE2:
        return Parallel(s, create, 2, records / 2, drive);
    case ScenarioId::kF1:
    case ScenarioId::kF60:
        return Playback(s, create, records / kRecordsPerChunk, drive);
    default:
        return RecordsFlowing(s, create, records, drive);
    }
}

} // namespace

const std::vector<Scenario>& AllScenarios()
{
    return kScenarios;
}

const Scenario& ScenarioOf(ScenarioId id)
{
    for (const Scenario& s : kScenarios) {
        if (s.id == id)
            return s;
    }
    std::fprintf(stderr, "vrn3-bench: no scenario %d\n", static_cast<int>(id));
    std::abort();
}

Result RunScenario(const Scenario& s, CSoundChain::CreateBrickFn create, long scale)
{
    const uint64_t records = static_cast<uint64_t>(scale) * kRecords;
    uint64_t n = records;
    switch (s.id) {
    case ScenarioId::kE1:
    case ScenarioId::kE2:
        n = records * 2 * (s.id == ScenarioId::kE2 ? 2 : 1);
        break;
    case ScenarioId::kF1:
        n = kChunksPerMinute * kRecordsPerChunk;
        break;
    case ScenarioId::kF60:
        n = 60 * kChunksPerMinute * kRecordsPerChunk;
        break;
    default:
        if (s.payload >= 65536)
            n = static_cast<uint64_t>(scale) * kBigRecords;
    }
    return Run(s, create, n,
               [&](uint64_t count, const Pass& pass, const Step& prepare, int slices, const Step& alongside) {
                   Floors floors;
                   const auto between = [&] {
                       floors.Sample(s.payload);
                       alongside();
                   };
                   Result r = Measure(count, pass, prepare, between, slices);
                   r.floors = floors;
                   return r;
               });
}

void RunChainOnly(const Scenario& s, CSoundChain::CreateBrickFn create, uint64_t records)
{
    Run(s, create, records, [](uint64_t, const Pass& pass, const Step& prepare, int, const Step&) {
        prepare();
        pass(false);
        return Result();
    });
}
