// Allocation-failure sweep: the sound brick, loaded from the built plug-in with dlopen and
// CreateBrick as a host loads it, plays a fixed scenario in the stand-in host while the Nth
// allocation of the scenario fails, for N = 1, 2, ... until the scenario runs clean. After each
// failure: the exception reached the caller as std::bad_alloc; the host's pending count is 0;
// the brick counts itself configured only with its whole configuration; once its queue is
// flushed, its request count equals the requests it took on less the "TagF" tags that left; it
// answers a new request with exactly the right blocks; a reset returns it to an empty queue and
// count; and once the pipeline and the plug-in are gone, every allocation made is freed.
//
// The program replaces malloc, calloc, realloc, free and operator new/delete for the
// whole process (host library, plug-in, Qt, libstdc++), forwarding to glibc's own entry points;
// under AddressSanitizer it forwards to the sanitizer's, so ASan still checks every block. An
// allocation site is the return address of the call, taken as library and offset.
//
// Prints `allocation-failure sweep: P points, S sites, F inconsistent` and fails when F > 0.
// VRN3_SWEEP_VERBOSE=1 names each inconsistent point on stderr.
#include "support/Chain.h"

#include <dlfcn.h>

#include <cstdio>
#include <new>

extern "C" {
#ifdef __SANITIZE_ADDRESS__
#define REAL(f) __interceptor_##f
#else
#define REAL(f) __libc_##f
#endif
void* REAL(malloc)(size_t size);
void* REAL(calloc)(size_t count, size_t size);
void* REAL(realloc)(void* p, size_t size);
void REAL(free)(void* p);
}
#define SITE __builtin_return_address(0)
// The sanitizer calls the allocator while it starts, before its shadow memory is there.
#define ALLOCATOR __attribute__((no_sanitize_address))

namespace {

// Single-threaded: the sweep runs its pipelines synchronously.
struct {
    long live = 0;   // allocations not yet freed
    long seen = 0;   // allocations since the scenario started
    long failAt = 0; // the allocation to fail (0: none)
    bool armed = false; // inside a scenario step
    const void* site = nullptr; // where the failed allocation was asked for
} gHeap;

// Blocks made while the plug-in is loaded: the loader's own, and the exit-handler lists that glibc
// keeps and grows when libraries come and go. Counted live, but not the code's under test.
struct {
    const void* blocks[1024];
    int count = 0;
    bool loading = false;
} gLoader;

ALLOCATOR void Remember(const void* p)
{
    if (p != nullptr && gLoader.count < 1024)
        gLoader.blocks[gLoader.count++] = p;
}

ALLOCATOR bool Forget(const void* p)
{
    for (int i = 0; i < gLoader.count; ++i) {
        if (gLoader.blocks[i] == p) {
            gLoader.blocks[i] = gLoader.blocks[--gLoader.count];
            return true;
        }
    }
    return false;
}

// True when this is the allocation to fail; it is then not made.
ALLOCATOR bool Fails(const void* site)
{
    if (!gHeap.armed || ++gHeap.seen != gHeap.failAt)
        return false;
    gHeap.site = site;
    return true;
}

ALLOCATOR void* Counted(void* p)
{
    gHeap.live += p != nullptr;
    if (gLoader.loading)
        Remember(p);
    return p;
}

ALLOCATOR void* New(size_t size, const void* site)
{
    if (void* p = Fails(site) ? nullptr : Counted(REAL(malloc)(size)))
        return p;
    throw std::bad_alloc();
}

} // namespace

extern "C" {
ALLOCATOR void* malloc(size_t size) { return Fails(SITE) ? nullptr : Counted(REAL(malloc)(size)); }
ALLOCATOR void* calloc(size_t count, size_t size) { return Fails(SITE) ? nullptr : Counted(REAL(calloc)(count, size)); }
ALLOCATOR void free(void* p)
{
    Forget(p);
    gHeap.live -= p != nullptr;
    REAL(free)(p);
}
// A block that moves stays one live allocation.
ALLOCATOR void* realloc(void* old, size_t size)
{
    if (old == nullptr)
        return Fails(SITE) ? nullptr : Counted(REAL(malloc)(size));
    if (size == 0) {
        free(old);
        return nullptr;
    }
    if (Fails(SITE))
        return nullptr;
    const bool loaders = Forget(old);
    void* p = REAL(realloc)(old, size);
    if (loaders || gLoader.loading)
        Remember(p != nullptr ? p : old);
    return p;
}
} // extern "C"

void* operator new(size_t size) { return New(size, SITE); }
void* operator new[](size_t size) { return New(size, SITE); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

using namespace kit;
using CreateBrickFn = CBrick* (*)(const TBrickConfig&);

constexpr uint64_t kArchiveEnd = 1000000;
constexpr uint64_t kBeyondEnd = kArchiveEnd + 500;            // answered by the brick itself
constexpr uint64_t kEdgeTagF = kArchiveEnd + kTagFAfterTagS;  // the "TagF" of that answer
constexpr uint64_t kInside = 500000;                          // inside the archive either way
const std::vector<uint8_t> kSound = {1, 2, 3, 4, 5, 6, 7, 8};

// Live allocations that are not blocks of a run: the loader's, and the storage the test's own
// pools hold.
long NotOfARun()
{
    return gLoader.count + static_cast<long>(cHeaderBlock::node::mChain.size() + cDataBlock::node::mChain.size() +
                                             cVideoBlock::node::mChain.size() + cTagBlock::node::mChain.size());
}

uint32_t TagCode(const cMemBlock& block)
{
    return block.GetType() == kCodeTag ? cTagBlock(block).Record().code : 0;
}

uint64_t TagTime(const cMemBlock& block)
{
    return cTagBlock(block).Record().time;
}

// One run: the plug-in loaded afresh, source -> sound brick -> sink, and what was sent.
class Run {
public:
    Run()
    {
        gLoader.loading = true;
        library = dlopen(VRN3_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        gLoader.loading = false;
        if (library == nullptr) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::exit(1);
        }
        auto create = reinterpret_cast<CreateBrickFn>(dlsym(library, "CreateBrick"));
        pipeline = new CPipeline;
        source = static_cast<SourceBrick*>(pipeline->Add(new SourceBrick));
        brick = static_cast<CVrn3StreamSound*>(pipeline->Add(create(Config("5"))));
        sink = static_cast<SinkBrick*>(pipeline->Add(new SinkBrick));
        sink->received.reserve(576); // the test's own bricks never allocate in a step
        source->commands.reserve(256);
        requests.reserve(256);
    }
    ~Run()
    {
        delete pipeline; // every brick, and every block the plug-in made, before it goes
        requests.clear();
        dlclose(library);
    }

    // One host call, with the failing allocation armed. False when the scenario stops here.
    bool Step(const cMemBlock& block, bool control)
    {
        gHeap.armed = true;
        try {
            Send(block, control);
        } catch (const std::bad_alloc&) {
            badAlloc = true;
        } catch (...) {
            otherException = true;
        }
        gHeap.armed = false;
        return !badAlloc && !otherException && gHeap.site == nullptr;
    }
    bool Data(const cMemBlock& block) { return Step(block, false); }
    bool Ctrl(const cMemBlock& block) { return Step(block, true); }
    // An in-archive request, kept to see whether the brick took it on.
    bool Ask(const cChunkCmdBlock& request, bool armed = true)
    {
        requests.push_back(request);
        if (armed)
            return Ctrl(request);
        Send(request, true);
        return true;
    }
    void Send(const cMemBlock& block, bool control)
    {
        if (control)
            sink->SendCmd(block);
        else
            source->SendData(block);
        pipeline->RunUntilIdle();
    }

    // Requests the brick took on less the "TagF" tags that left it, as the count must be.
    int ExpectedCount() const
    {
        int count = 0;
        for (const cChunkCmdBlock& request : requests) {
            for (int32_t i = 0; i < request.VisitedCount(); ++i)
                count += request.Visited(i) == brick ? 1 : 0;
        }
        for (const cMemBlock& block : sink->received) {
            if (TagCode(block) == kCodeTagF)
                count -= TagTime(block) == kEdgeTagF ? 0 : 1; // an edge pair settles itself
        }
        return count;
    }

    // A new request is passed on and its chunk leaves whole: "TagS", the sound, "TagF".
    long Requests() const
    {
        return std::count_if(source->commands.begin(), source->commands.end(),
                             [](const cMemBlock& b) { return b.GetType() == kCodeChun; });
    }
    const char* Probe(uint64_t time)
    {
        const long requested = Requests();
        const size_t out = sink->received.size();
        const int count = brick->ChunkRequestCount();
        Ask(Chunk(kInside), false);
        if (Requests() != requested + 1)
            return "a new request was not passed on";
        Send(Tag(kCodeTagS, time), false);
        Send(Fragment(kWhole, kSound, kStream, 8), false);
        Send(Tag(kCodeTagF, time + kTagFAfterTagS), false);
        const std::vector<cMemBlock>& d = sink->received;
        if (d.size() != out + 3 || TagCode(d[out]) != kCodeTagS || TagTime(d[out]) != time ||
            d[out + 1].GetType() != kCodeSCDA || cSoundBlock(d[out + 1]).Record().time != time ||
            cSoundBlock(d[out + 1]).GetExtraSize() != kSound.size() || TagCode(d[out + 2]) != kCodeTagF)
            return "a new request was not answered with its chunk";
        return brick->ChunkRequestCount() == count ? nullptr : "the chunk did not settle its request";
    }

    void* library;
    CPipeline* pipeline;
    SourceBrick* source;
    CVrn3StreamSound* brick;
    SinkBrick* sink;
    std::vector<cChunkCmdBlock> requests;
    bool badAlloc = false;
    bool otherException = false;
};

cEventListBlock Events()
{
    cEventListBlock list;
    for (uint32_t stream : {5u, 2u, 5u})
        list.Record().entries.append(TEventListEntry{stream, 0, stream, "event"});
    return list;
}

// A chunk from upstream: "TagS", a video frame, `records` whole records, a record in three
// fragments when `fragmented`, "TagF".
bool SendChunk(Run& r, uint64_t time, int records, bool fragmented)
{
    const std::vector<uint8_t> part = {9, 9, 9, 9};
    bool going = r.Data(Tag(kCodeTagS, time)) && r.Data(Video(kFragmentFirst, 1234, 0));
    for (int i = 0; going && i < records; ++i)
        going = r.Data(Fragment(kWhole, kSound, kStream, 8));
    for (uint8_t kind : {kFragmentFirst, kFragmentMiddle, kFragmentLast})
        going = going && (!fragmented || r.Data(Fragment(kind, part, kStream, 4)));
    return going && r.Data(Tag(kCodeTagF, time + kTagFAfterTagS));
}

// Stops at the first step that fails. The first chunk waits: its 63 blocks and the edge pair
// answering the request beyond the end fill the brick's queue past 64, so it grows between the
// pair's tags. Later 65 blocks wait for their request and then leave at once: the 65th, a
// "TagF", makes the next brick's queue grow.
void Scenario(Run& r)
{
    static char others[10];
    cChunkCmdBlock visited = Chunk(12000);
    for (char& other : others)
        visited.MarkVisited(reinterpret_cast<CBrick*>(&other));
    (void)(r.Data(TimeRange(0, kArchiveEnd)) && r.Data(Reset(1)) && r.Data(Header({{kStream, "ima1", kParams}})) &&
           r.Data(Events()) && r.Ctrl(Play(1)) && SendChunk(r, 3000, 61, false) && r.Ctrl(Chunk(kBeyondEnd)) &&
           r.Ask(Chunk(3000)) && r.Ask(Chunk(6000)) && SendChunk(r, 6000, 1, true) && SendChunk(r, 9000, 63, false) &&
           r.Ask(Chunk(9000)) && r.Ask(visited) && SendChunk(r, 12000, 1, false));
}

// What is wrong with the brick or the host after the run, or null.
const char* Inconsistency(Run& r)
{
    const bool failed = gHeap.site != nullptr;
    if (r.otherException || failed != r.badAlloc)
        return failed ? "the failure did not reach the caller as std::bad_alloc" : "an exception with no failure";
    r.pipeline->RunUntilIdle();
    if (r.pipeline->PendingBlocks() != 0)
        return "the host's pending count is off";
    CVrn3StreamSound& b = *r.brick;
    if (b.StreamConfigured() && (!b.HeaderReceived() || b.SampleRate() != 8000 || b.BytesPerSample() != 2))
        return "configured without a whole configuration";
    for (int i = 0; i < 100 && b.QueuedBlocks() > 0; ++i)
        r.Ask(Chunk(kInside), false);
    if (b.ChunkRequestCount() != r.ExpectedCount())
        return "the request count is not the requests still open";
    if (!b.StreamConfigured())
        r.Send(Header({{kStream, "ima1", kParams}}), false);
    if (const char* wrong = r.Probe(600000))
        return wrong;
    const size_t out = r.sink->received.size();
    r.Send(Reset(2), false);
    if (r.sink->received.size() != out + 1 || RecordOf<cNotifyBlock>(r.sink->received.back()).notifyCode != kCodeRdy)
        return "a reset was not answered";
    if (b.ChunkRequestCount() != 0 || b.QueuedBlocks() != 0)
        return "a reset left requests or blocks";
    return r.Probe(700000);
}

// A site as the library it lies in and its offset there.
uint64_t SiteKey(const void* site)
{
    Dl_info info;
    if (dladdr(site, &info) == 0 || info.dli_fname == nullptr)
        return reinterpret_cast<uintptr_t>(site);
    uint64_t hash = 1469598103934665603ull;
    for (const char* c = info.dli_fname; *c != '\0'; ++c)
        hash = (hash ^ static_cast<uint8_t>(*c)) * 1099511628211ull;
    return hash ^ static_cast<uint64_t>(static_cast<const char*>(site) - static_cast<const char*>(info.dli_fbase));
}

// Plays the scenario with allocation `failAt` failing (0: none). True when it failed somewhere;
// `wrong` tells what was inconsistent after it, `site` where.
bool Play(long failAt, long baseline, const char*& wrong, uint64_t& site)
{
    gHeap.seen = 0;
    gHeap.failAt = failAt;
    gHeap.site = nullptr;
    bool failed;
    {
        Run r;
        Scenario(r);
        failed = gHeap.site != nullptr;
        site = failed ? SiteKey(gHeap.site) : 0;
        try {
            wrong = Inconsistency(r);
        } catch (...) {
            wrong = "the brick threw afterwards";
        }
    }
    if (wrong == nullptr && baseline >= 0 && gHeap.live - NotOfARun() != baseline)
        wrong = "allocations leaked";
    return failed;
}

} // namespace

int main()
{
    const bool verbose = std::getenv("VRN3_SWEEP_VERBOSE") != nullptr;
    const char* wrong = nullptr;
    uint64_t site = 0;
    Play(0, -1, wrong, site); // warm-up: the first run keeps a few allocations for good
    const long baseline = gHeap.live - NotOfARun();
    uint64_t sites[1024];
    int siteCount = 0;
    long points = 0;
    int inconsistent = wrong == nullptr ? 0 : 1;
    while (Play(points + 1, baseline, wrong, site)) {
        ++points;
        int i = 0;
        while (i < siteCount && sites[i] != site)
            ++i;
        if (i == siteCount && siteCount < 1024)
            sites[siteCount++] = site;
        if (wrong != nullptr && verbose)
            std::fprintf(stderr, "point %ld (site %d): %s\n", points, i, wrong);
        inconsistent += wrong == nullptr ? 0 : 1;
    }
    inconsistent += wrong == nullptr ? 0 : 1; // the clean run
    std::printf("allocation-failure sweep: %ld points, %d sites, %d inconsistent\n", points, siteCount, inconsistent);
    return inconsistent == 0 && points > 0 ? 0 : 1;
}
