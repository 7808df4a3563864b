// vrn3-bench: what a record costs the sound brick, next to what a peer pays for the same work.
//
// Every scenario drives a brick made by the plug-in's own CreateBrick (the library is opened
// with dlopen, as a host opens it) the way the host's synchronous pipeline does: the brick and a
// sink brick form a pipeline run on one thread; the source queues a block with enqueueData and
// the brick's DoData delivers it; the brick's output goes through SendData into the sink's
// queue, which is drained. Input blocks are made before the clock starts and are
// shared, not copied, on every delivery, so the figures are the brick's and the host's delivery
// work only. Each scenario first runs once untimed, with the sink hashing every byte it receives
// (the digest column: equal digests mean byte-identical output) and to fill the pools; the
// timed repetitions follow, and the best is reported. Allocations are counted over all timed
// repetitions; peak memory is the most heap live at once during the timed part (and the
// process's VmHWM, reset before the scenario where the kernel allows it).
//
// Floors: one pooled buffer per record (a free list under a mutex, a reference count, payload
// copied in, released at count 0) and a bare memcpy of the payload. Each scenario is printed
// with its ratio to the pooled-buffer floor of its payload size.
//
// A host process always runs more than one thread, and once a second thread exists glibc's
// mutexes and every atomic instruction pay their full price (a single-threaded process skips
// the lock prefix of the mutex). So the floors are measured once before and once after an idle
// second thread is started; every scenario runs with that thread alive, and ratios and targets
// are read on the threaded figures.
//
//   vrn3-bench [--quick] [--only PREFIX]
//     --quick: a tenth of the records, for CI; --only: just the scenarios whose names start
//     with PREFIX (for a profiler), without floors and targets.
#include "AllocCounter.h"

#include "blocks/CBrick.h"
#include "records/BlockTypes.h"

#include "host/CPipeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using CreateBrickFn = CBrick* (*)(const TBrickConfig&);

constexpr int kRepetitions = 5;
// 8 kHz, 16-bit mono: 100 ms of sound a record, 30 records (3 s, one chunk) a chunk request.
constexpr uint32_t kPlaybackRecordBytes = 1600;
constexpr int kRecordsPerChunk = 30;
constexpr int kChunksPerMinute = 20;

CreateBrickFn gCreateBrick = nullptr;
long gScale = 10; // records are multiplied by this; --quick makes it 1

// ---------------------------------------------------------------------------------------------
// The sink: the brick after the sound brick. It takes every block; when hashing it folds the
// type, size and bytes of each into an FNV-1a digest.

class CSink : public CBrick {
public:
    bool onData(const cMemBlock& block) override { return Take(block); }
    bool onNotify(const cMemBlock& block) override { return Take(block); }

    void Drain()
    {
        while (DoData()) {
        }
    }

    bool mHash = false;
    uint64_t mBlocks = 0;
    uint64_t mDigest = 1469598103934665603ull;

private:
    bool Take(const cMemBlock& block)
    {
        ++mBlocks;
        if (mHash) {
            const uint32_t head[2] = {block.GetType(), block.GetSize()};
            Fold(head, sizeof head);
            Fold(block.GetData(), block.GetSize());
        }
        return true;
    }
    void Fold(const void* data, uint32_t size)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (uint32_t i = 0; i < size; ++i)
            mDigest = (mDigest ^ p[i]) * 1099511628211ull;
    }
};

// ---------------------------------------------------------------------------------------------
// Input blocks, made the way the demultiplexer before the brick makes them.

cHeaderBlock MakeHeader()
{
    cHeaderBlock header;
    HDR_T& h = header.Record();
    h.streams[0].kind = 2;
    h.streams[0].codec = "ima1";
    h.streams[0].params = "-rate=8000 -bits=16";
    return header;
}

cDataBlock MakeFragment(uint8_t kind, uint32_t payload, uint8_t seed)
{
    std::vector<uint8_t> bytes(payload);
    for (uint32_t i = 0; i < payload; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    cDataBlock block(payload, kCodeSnd3, bytes.data());
    DATA_T& record = block.Record();
    record.length = static_cast<uint16_t>(payload);
    record.flags = FragmentFlags(kind, seed & 0x1F);
    record.streamNumber = 0;
    return block;
}

// One record of `payload` bytes cut into `fragments` fragments of (nearly) equal size.
std::vector<cDataBlock> MakeRecord(uint32_t payload, int fragments)
{
    std::vector<cDataBlock> out;
    if (fragments == 1) {
        out.push_back(MakeFragment(kFragmentWhole, payload, 1));
        return out;
    }
    uint32_t done = 0;
    for (int i = 0; i < fragments; ++i) {
        const uint32_t size = payload / fragments + (i < static_cast<int>(payload % fragments) ? 1 : 0);
        const uint8_t kind = i == 0 ? kFragmentFirst : i == fragments - 1 ? kFragmentLast : kFragmentMiddle;
        out.push_back(MakeFragment(kind, size, static_cast<uint8_t>(i + 1)));
        done += size;
    }
    return out;
}

cTagBlock MakeTag(uint32_t code, uint64_t time)
{
    cTagBlock tag;
    TStreamTag& t = tag.Record();
    t.time = time;
    std::memset(t.reserved8, 0, sizeof t.reserved8);
    t.code = code;
    t.kind = 0;
    t.streamNumber = 0;
    t.reserved28 = 0;
    return tag;
}

cChunkCmdBlock MakeChunkRequest(uint64_t time)
{
    cChunkCmdBlock request;
    request.Record().time = time;
    request.Record().mode = 0;
    return request;
}

// ---------------------------------------------------------------------------------------------
// A sound brick and its sink in a synchronous pipeline, configured by a header.

struct Chain {
    Chain()
    {
        TBrickConfig config{};
        config.size = sizeof config;
        config.input = {kCodeSnd3, kCodeDat3};
        config.output = {kCodeIma1, kCodeSCDA};
        std::strcpy(config.streamNumber, "0");
        brick = gCreateBrick(config);
        if (brick == nullptr) {
            std::fprintf(stderr, "vrn3-bench: CreateBrick refused the configuration\n");
            std::exit(1);
        }
        pipeline.Add(brick);
        sink = static_cast<CSink*>(pipeline.Add(new CSink));
        Feed(MakeHeader());
        sink->Drain();
    }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    void Feed(const cMemBlock& block)
    {
        brick->enqueueData(block);
        brick->DoData();
    }
    void Request(const cMemBlock& request)
    {
        brick->enqueueControl(request);
        brick->DoCtrl();
    }

    CPipeline pipeline; // owns both bricks
    CBrick* brick = nullptr;
    CSink* sink = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Measuring.

struct Result {
    std::string name;
    uint64_t records = 0;        // per timed repetition
    double nsPerRecord = 0;      // best repetition
    double allocsPerRecord = 0;  // over all timed repetitions
    int64_t peakBytes = 0;
    long hwmKiB = 0;
    uint64_t digest = 0;
    uint32_t payload = 0;        // payload bytes of one record
};

long ReadHwmKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

void ResetHwm()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// Runs `pass` (which handles `records` records and returns the sink's digest when hashing)
// once hashed and untimed, then kRepetitions times timed.
Result Measure(const std::string& name, uint32_t payload, uint64_t records,
               const std::function<uint64_t(bool hash)>& pass, int repetitions = kRepetitions)
{
    Result r;
    r.name = name;
    r.payload = payload;
    r.records = records;
    r.digest = pass(true);
    ResetHwm();
    alloccount::ResetPeak();
    const uint64_t allocsBefore = alloccount::Allocations();
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        const Clock::time_point start = Clock::now();
        pass(false);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / static_cast<double>(records));
    }
    r.nsPerRecord = best;
    r.allocsPerRecord = static_cast<double>(alloccount::Allocations() - allocsBefore) /
                        static_cast<double>(records * repetitions);
    r.peakBytes = alloccount::PeakBytes();
    r.hwmKiB = ReadHwmKiB();
    return r;
}

// ---------------------------------------------------------------------------------------------
// The floors.

// A peer's buffer pool: a last-in first-out free list under a mutex, buffers of one size with
// an atomic reference count; the last release puts the buffer back.
class FloorPool {
public:
    struct Buffer {
        Buffer* next;
        std::atomic<int> refs;
        uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
    };

    explicit FloorPool(uint32_t size) : mSize(size) {}
    ~FloorPool()
    {
        while (mFree != nullptr) {
            Buffer* b = mFree;
            mFree = b->next;
            std::free(b);
        }
    }
    Buffer* Get()
    {
        Buffer* b;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            b = mFree;
            if (b != nullptr)
                mFree = b->next;
        }
        if (b == nullptr)
            b = static_cast<Buffer*>(std::malloc(sizeof(Buffer) + mSize));
        new (&b->refs) std::atomic<int>(1);
        return b;
    }
    void Release(Buffer* b)
    {
        if (b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
            return;
        std::lock_guard<std::mutex> lock(mMutex);
        b->next = mFree;
        mFree = b;
    }

private:
    std::mutex mMutex;
    Buffer* mFree = nullptr;
    uint32_t mSize;
};

struct Floor {
    uint32_t payload;
    double pooledNs;
    double memcpyNs;
};

Floor MeasureFloor(uint32_t payload)
{
    const uint64_t n = static_cast<uint64_t>(gScale) * (payload >= 16384 ? 4000 : 100000);
    std::vector<uint8_t> source(payload, 0x5A);
    std::vector<uint8_t> target(payload);
    FloorPool pool(payload);
    volatile uint8_t sink = 0;
    Floor f{payload, 1e300, 1e300};
    for (int rep = 0; rep < kRepetitions + 1; ++rep) {
        Clock::time_point start = Clock::now();
        for (uint64_t i = 0; i < n; ++i) {
            FloorPool::Buffer* b = pool.Get();
            std::memcpy(b->Data(), source.data(), payload);
            sink = b->Data()[payload - 1];
            pool.Release(b);
        }
        f.pooledNs = std::min(f.pooledNs, std::chrono::duration<double, std::nano>(Clock::now() - start).count() / n);
        start = Clock::now();
        for (uint64_t i = 0; i < n; ++i) {
            std::memcpy(target.data(), source.data(), payload);
            sink = target[i % payload];
            asm volatile("" ::: "memory");
        }
        f.memcpyNs = std::min(f.memcpyNs, std::chrono::duration<double, std::nano>(Clock::now() - start).count() / n);
    }
    (void)sink;
    return f;
}

// ---------------------------------------------------------------------------------------------
// Scenarios.

// A and B: records of `payload` bytes in `fragments` fragments, with a chunk request
// outstanding throughout (no "TagF" ever settles it), so each record leaves at once.
Result RecordsFlowing(const std::string& name, uint32_t payload, int fragments, uint64_t records)
{
    Chain chain;
    chain.Request(MakeChunkRequest(0));
    const std::vector<cDataBlock> record = MakeRecord(payload, fragments);
    return Measure(name, payload, records, [&](bool hash) {
        chain.sink->mHash = hash;
        for (uint64_t i = 0; i < records; ++i) {
            for (const cDataBlock& fragment : record)
                chain.Feed(fragment);
            chain.sink->Drain();
        }
        return chain.sink->mDigest;
    });
}

// D: records queued until a chunk request releases them: per chunk a "TagS", 30 records and a
// "TagF", then one request. The requests are made before the clock starts.
Result ChunkedPlayback(const std::string& name, uint32_t payload, uint64_t chunks)
{
    Chain chain;
    const std::vector<cDataBlock> record = MakeRecord(payload, 1);
    const cTagBlock tagS = MakeTag(kCodeTagS, 3000);
    const cTagBlock tagF = MakeTag(kCodeTagF, 5970);
    std::vector<cChunkCmdBlock> requests;
    int round = 0;
    auto pass = [&](bool hash) {
        chain.sink->mHash = hash;
        for (uint64_t c = 0; c < chunks; ++c) {
            chain.Feed(tagS);
            for (int i = 0; i < kRecordsPerChunk; ++i)
                chain.Feed(record[0]);
            chain.Feed(tagF);
            chain.Request(requests[c]);
            chain.sink->Drain();
        }
        return chain.sink->mDigest;
    };
    // Every request block is handled once by a brick: each pass gets fresh ones, made untimed.
    auto fresh = [&] {
        requests.clear();
        for (uint64_t c = 0; c < chunks; ++c)
            requests.push_back(MakeChunkRequest(c * kChunkLength));
    };
    fresh();
    const uint64_t digest = pass(true);
    Result best;
    best.nsPerRecord = 1e300;
    double allocs = 0;
    for (round = 0; round < kRepetitions; ++round) {
        fresh();
        Result r = Measure(name, payload, chunks * kRecordsPerChunk, [&](bool hash) { return hash ? 0 : pass(false); }, 1);
        allocs += r.allocsPerRecord;
        if (r.nsPerRecord < best.nsPerRecord)
            best = r;
    }
    requests.clear();
    best.digest = digest;
    best.allocsPerRecord = allocs / kRepetitions;
    return best;
}

// E: `threads` independent chains, each on its own thread, 1 KiB whole records. Reported per
// record of all threads together (so records/s is the total).
Result Parallel(const std::string& name, int threads, uint64_t recordsEach)
{
    std::vector<std::unique_ptr<Chain>> chains;
    std::vector<std::vector<cDataBlock>> records;
    for (int t = 0; t < threads; ++t) {
        chains.emplace_back(new Chain);
        chains.back()->Request(MakeChunkRequest(0));
        records.push_back(MakeRecord(1024, 1));
    }
    auto run = [&](int t) {
        Chain& chain = *chains[t];
        for (uint64_t i = 0; i < recordsEach; ++i) {
            chain.Feed(records[t][0]);
            chain.sink->Drain();
        }
    };
    return Measure(name, 1024, recordsEach * threads, [&](bool) {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back(run, t);
        for (std::thread& w : workers)
            w.join();
        return uint64_t{0};
    });
}

// F: a playback of `minutes` minutes of 8 kHz 16-bit sound: records of 100 ms in 4 fragments,
// 30 a chunk, one chunk request (made as it is needed) per chunk, a video frame per record.
Result Playback(const std::string& name, uint64_t minutes)
{
    const uint64_t chunks = minutes * kChunksPerMinute;
    Chain chain;
    const std::vector<cDataBlock> record = MakeRecord(kPlaybackRecordBytes, 4);
    cVideoBlock video(0, kCodeVid3);
    DATA_T_VIDEO& v = video.Record();
    std::memset(&v, 0, sizeof v);
    v.flags = FragmentFlags(kFragmentWhole);
    auto pass = [&](bool hash) {
        chain.sink->mHash = hash;
        for (uint64_t c = 0; c < chunks; ++c) {
            chain.Feed(MakeTag(kCodeTagS, c * kChunkLength));
            for (int i = 0; i < kRecordsPerChunk; ++i) {
                v.frameTime = static_cast<uint16_t>(i * 100);
                chain.Feed(video);
                for (const cDataBlock& fragment : record)
                    chain.Feed(fragment);
            }
            chain.Feed(MakeTag(kCodeTagF, c * kChunkLength + kTagFAfterTagS));
            chain.Request(MakeChunkRequest(c * kChunkLength));
            chain.sink->Drain();
        }
        return chain.sink->mDigest;
    };
    return Measure(name, kPlaybackRecordBytes, chunks * kRecordsPerChunk, pass, 1);
}

// ---------------------------------------------------------------------------------------------
// Report.

const Floor& FloorFor(const std::vector<Floor>& floors, uint32_t payload)
{
    static const Floor kNone{0, __builtin_nan(""), __builtin_nan("")};
    for (const Floor& f : floors) {
        if (f.payload == payload)
            return f;
    }
    return kNone;
}

void PrintHeader()
{
    std::printf("%-34s %9s %10s %12s %10s %11s %10s %8s %8s  %s\n", "scenario", "records", "ns/record",
                "records/s", "allocs/rec", "peak KiB", "VmHWM KiB", "xpool", "xmemcpy", "digest");
}

void Print(const Result& r, const std::vector<Floor>& floors)
{
    const Floor& f = FloorFor(floors, r.payload);
    std::printf("%-34s %9" PRIu64 " %10.1f %12.0f %10.4f %11.1f %10ld %8.2f %8.2f  %016" PRIx64 "\n", r.name.c_str(),
                r.records, r.nsPerRecord, 1e9 / r.nsPerRecord, r.allocsPerRecord, r.peakBytes / 1024.0, r.hwmKiB,
                r.nsPerRecord / f.pooledNs, r.nsPerRecord / f.memcpyNs, r.digest);
}

// A second thread that only waits: it makes the process a threaded one, as every host is.
class IdleThread {
public:
    IdleThread()
        : mThread([this] {
              std::unique_lock<std::mutex> lock(mMutex);
              mWake.wait(lock, [this] { return mStop; });
          })
    {
    }
    ~IdleThread()
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStop = true;
        }
        mWake.notify_one();
        mThread.join();
    }

private:
    std::mutex mMutex;
    std::condition_variable mWake;
    bool mStop = false;
    std::thread mThread;
};

void PrintTarget(const char* what, double ratio, bool met, const std::string& detail)
{
    std::printf("  %-30s %6.2fx  %-6s %s\n", what, ratio, met ? "met" : "MISSED", detail.c_str());
}

std::string Format(const char* format, double a, double b)
{
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

void PrintTargets(const std::vector<Result>& results, const std::vector<Floor>& floors)
{
    const auto byName = [&](const char* name) -> const Result& {
        for (const Result& r : results) {
            if (r.name == name)
                return r;
        }
        return results.front();
    };
    const double a160 = byName("A whole 160 B").nsPerRecord / FloorFor(floors, 160).pooledNs;
    const double a1k = byName("A whole 1 KiB").nsPerRecord / FloorFor(floors, 1024).pooledNs;
    const double c1 = byName("C 64 KiB in 1 fragment").nsPerRecord / 65536;
    const double c64 = byName("C 64 KiB in 64 fragments").nsPerRecord / 65536;
    const double e1 = 1e9 / byName("E 1 KiB, one chain, one thread").nsPerRecord;
    const double e2 = 1e9 / byName("E 1 KiB, two chains, two threads").nsPerRecord;
    const double f1 = static_cast<double>(byName("F playback of one minute").peakBytes);
    const double f60 = static_cast<double>(byName("F playback of one hour").peakBytes);
    double allocs = 0;
    for (const char* name : {"A whole 160 B", "A whole 1 KiB", "A whole 4 KiB", "B 1 KiB in 4 fragments",
                             "D 1 KiB, 30 a chunk request"})
        allocs = std::max(allocs, byName(name).allocsPerRecord);
    std::printf("\ntargets (threaded process)\n");
    PrintTarget("A 160 B / pooled floor", a160, a160 <= 4.0, "at most 4.00x");
    PrintTarget("A 1 KiB / pooled floor", a1k, a1k <= 3.0, "at most 3.00x");
    PrintTarget("C ns/byte 64 frags / 1 frag", c64 / c1, c64 / c1 <= 4.0,
                Format("at most 4.00x (%.4f / %.4f ns a byte)", c64, c1));
    PrintTarget("E two threads / one thread", e2 / e1, e2 / e1 >= 0.8,
                Format("at least 0.80x (%.0f / %.0f records/s)", e2, e1));
    PrintTarget("F peak hour / peak minute", f60 / f1, f60 / f1 <= 1.05,
                Format("at most 1.05x (%.1f / %.1f KiB)", f60 / 1024, f1 / 1024));
    std::printf("  %-30s %7.4f  %-6s %s\n", "allocations a record, A B D", allocs, allocs == 0 ? "met" : "MISSED",
                "all 0 (the largest shown)");
}

} // namespace

int main(int argc, char** argv)
{
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            gScale = 1;
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--quick] [--only PREFIX]\n", argv[0]);
            return 2;
        }
    }
    void* plugin = dlopen(VRN3_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
        std::fprintf(stderr, "vrn3-bench: %s\n", dlerror());
        return 1;
    }
    gCreateBrick = reinterpret_cast<CreateBrickFn>(dlsym(plugin, "CreateBrick"));
    if (gCreateBrick == nullptr) {
        std::fprintf(stderr, "vrn3-bench: no CreateBrick in %s\n", VRN3_PLUGIN_PATH);
        return 1;
    }
    std::printf("vrn3-bench: %s, allocation counting %s\n", gScale == 1 ? "quick" : "full",
                alloccount::Enabled() ? "on" : "off (sanitizer build)");

    const uint32_t payloads[] = {160u, 1024u, 4096u, 65536u, kPlaybackRecordBytes};
    std::vector<Floor> alone;
    for (uint32_t payload : payloads) {
        if (only.empty())
            alone.push_back(MeasureFloor(payload));
    }
    const IdleThread idle;
    std::vector<Floor> floors;
    std::printf("\nfloors (ns per record)   payload   pooled buffer   memcpy   pooled, one-thread process\n");
    for (size_t i = 0; i < alone.size(); ++i) {
        floors.push_back(MeasureFloor(payloads[i]));
        std::printf("%-24s %7u %15.1f %8.1f %26.1f\n", "", payloads[i], floors.back().pooledNs, floors.back().memcpyNs,
                    alone[i].pooledNs);
    }

    const uint64_t n = static_cast<uint64_t>(gScale) * 20000;
    const uint64_t big = static_cast<uint64_t>(gScale) * 300;
    std::vector<Result> results;
    std::printf("\n");
    PrintHeader();
    auto run = [&](const char* name, const std::function<Result(const std::string&)>& scenario) {
        if (std::strncmp(name, only.c_str(), only.size()) != 0)
            return;
        results.push_back(scenario(name));
        Print(results.back(), floors);
        std::fflush(stdout);
    };
    using std::placeholders::_1;
    run("A whole 160 B", std::bind(RecordsFlowing, _1, 160, 1, n));
    run("A whole 1 KiB", std::bind(RecordsFlowing, _1, 1024, 1, n));
    run("A whole 4 KiB", std::bind(RecordsFlowing, _1, 4096, 1, n));
    run("B 1 KiB in 4 fragments", std::bind(RecordsFlowing, _1, 1024, 4, n));
    run("C 64 KiB in 1 fragment", std::bind(RecordsFlowing, _1, 65536, 1, big));
    run("C 64 KiB in 8 fragments", std::bind(RecordsFlowing, _1, 65536, 8, big));
    run("C 64 KiB in 64 fragments", std::bind(RecordsFlowing, _1, 65536, 64, big));
    run("D 1 KiB, 30 a chunk request", std::bind(ChunkedPlayback, _1, 1024, n / kRecordsPerChunk));
    run("E 1 KiB, one chain, one thread", std::bind(Parallel, _1, 1, n * 2));
    run("E 1 KiB, two chains, two threads", std::bind(Parallel, _1, 2, n * 2));
    run("F playback of one minute", std::bind(Playback, _1, 1));
    run("F playback of one hour", std::bind(Playback, _1, 60));
    if (only.empty())
        PrintTargets(results, floors);

    dlclose(plugin);
    return 0;
}
