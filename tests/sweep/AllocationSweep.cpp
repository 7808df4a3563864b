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
#include "kit/Chain.h"

#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string_view>

extern "C" {
#ifdef __SANITIZE_ADDRESS__
#define REAL(f) __interceptor_##f
#else
#define REAL(f) __libc_##f
#endif
void *REAL(malloc)(size_t size), *REAL(calloc)(size_t count, size_t size), *REAL(realloc)(void* p, size_t size);
void REAL(free)(void* p);
}
// The sanitizer calls the allocator while it starts, before its shadow memory is there.
#define ALLOCATOR __attribute__((no_sanitize_address))
// True when this is the allocation to fail, its site then kept; else `call`'s allocation, counted.
#define FAILS (gArmed && ++gSeen == gFailAt && (gSite = __builtin_return_address(0)) != nullptr)
#define MAKE(call) (FAILS ? nullptr : Counted(call))

namespace {

// Single-threaded: the sweep runs its pipelines synchronously. Counted: the allocations not yet
// freed, those since the scenario started, and the one to fail (0: none).
long gLive = 0, gSeen = 0, gFailAt = 0;
bool gArmed = false, gLoading = false; // inside a scenario step; loading the plug-in
const void* gSite = nullptr; // where the failed allocation was asked for
// Blocks made while the plug-in is loaded: the loader's own, and the exit-handler lists that glibc
// keeps and grows when libraries come and go. Counted live, but not the code's under test.
const void* gLoaderBlocks[1024];
int gLoaderCount = 0;

ALLOCATOR bool Forget(const void* p)
{
    for (int i = 0; i < gLoaderCount; ++i)
        if (gLoaderBlocks[i] == p)
            return gLoaderBlocks[i] = gLoaderBlocks[--gLoaderCount], true;
    return false;
}

// Takes `p` on the books; a loader's block is remembered as such.
ALLOCATOR void* Counted(void* p, bool loaders = false)
{
    gLive += p != nullptr;
    if ((loaders || gLoading) && p != nullptr && gLoaderCount < 1024)
        gLoaderBlocks[gLoaderCount++] = p;
    return p;
}

// `p`, or std::bad_alloc thrown when there is none.
ALLOCATOR void* Thrown(void* p)
{
    return p != nullptr ? p : throw std::bad_alloc();
}

} // namespace

extern "C" {
ALLOCATOR void* malloc(size_t size) { return MAKE(REAL(malloc)(size)); }
ALLOCATOR void* calloc(size_t count, size_t size) { return MAKE(REAL(calloc)(count, size)); }
ALLOCATOR void free(void* p)
{
    Forget(p);
    gLive -= p != nullptr;
    REAL(free)(p);
}
// A block that moves stays one live allocation.
ALLOCATOR void* realloc(void* old, size_t size)
{
    if (old == nullptr || size == 0)
        return old == nullptr ? MAKE(REAL(malloc)(size)) : (free(old), nullptr);
    const bool loaders = Forget(old);
    void* p = FAILS ? nullptr : REAL(realloc)(old, size);
    Counted(p != nullptr ? p : old, loaders);
    --gLive;
    return p;
}
} // extern "C"

ALLOCATOR void* operator new(size_t size) { return Thrown(MAKE(REAL(malloc)(size))); }
ALLOCATOR void* operator new[](size_t size) { return Thrown(MAKE(REAL(malloc)(size))); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

namespace {

using namespace kit;

constexpr uint64_t kArchiveEnd = 1000000;
constexpr uint64_t kInside = 500000; // inside the archive either way
const Bytes kSound = Pattern(8, 1);

// Live allocations that are not blocks of a run: the loader's, and the storage the test's own
// pools hold.
template <class... Block>
long NotOfARun()
{
    return gLoaderCount + (static_cast<long>(Block::node::mChain.size()) + ...);
}

// One run: the plug-in loaded afresh, source -> sound brick -> sink, and what was sent.
struct Run {
    // The plug-in, its allocations while it loads set apart; it goes last: the chain holds its blocks.
    std::unique_ptr<CPluginLibrary> plugin = (gLoading = true, std::make_unique<CPluginLibrary>(VRN3_PLUGIN_PATH));
    Chain chain{(gLoading = false, plugin->CreateBrick(Config("5")))};
    CVrn3StreamSound& b = chain.Sound();
    std::vector<cChunkCmdBlock> requests;
    bool badAlloc = false, otherException = false;

    void Send(const cMemBlock& block, bool control = false)
    {
        control ? chain.sink->SendCmd(block) : chain.source->SendData(block);
        chain.pipeline.RunUntilIdle();
    }
    // One host call, with the failing allocation armed. False when the scenario stops here.
    bool Step(const cMemBlock& block, bool control = false)
    {
        gArmed = true;
        try {
            Send(block, control);
        } catch (const std::bad_alloc&) {
            badAlloc = true;
        } catch (...) {
            otherException = true;
        }
        gArmed = false;
        return !badAlloc && !otherException && gSite == nullptr;
    }
    // An in-archive request, kept to see whether the brick took it on.
    bool Ask(const cChunkCmdBlock& request, bool armed = true)
    {
        requests.push_back(request);
        return armed ? Step(request, true) : (Send(request, true), true);
    }
    // A chunk from upstream: "TagS", a video frame, `records` whole records, a record in three
    // fragments when `fragmented`, "TagF".
    bool Chunk(uint64_t time, int records, bool fragmented)
    {
        bool going = Step(Tag(kCodeTagS, time)) && Step(Video(kFirst, 1234, 0));
        for (int i = 0; going && i < records; ++i)
            going = Step(Fragment(kWhole, kSound));
        for (uint8_t kind : {kFirst, kMiddle, kLast})
            going = going && (!fragmented || Step(Fragment(kind, Pattern(4, 9))));
        return going && Step(Tag(kCodeTagF, time + kTagFAfterTagS));
    }

    // Requests the brick took on less the "TagF" tags that left it, as the count must be.
    int ExpectedCount() const
    {
        int count = 0;
        for (const cChunkCmdBlock& request : requests)
            for (int32_t i = 0; i < request.VisitedCount(); ++i)
                count += request.Visited(i) == chain.brick;
        const std::string edge = "TagF:" + std::to_string(kArchiveEnd + kTagFAfterTagS); // that pair settles itself
        for (const cMemBlock& block : chain.sink->received)
            count -= Describe(block).rfind("TagF:", 0) == 0 && Describe(block) != edge;
        return count;
    }
    // A new request is passed on and its chunk leaves whole: "TagS", the sound, "TagF".
    const char* Probe(uint64_t time)
    {
        const int count = b.ChunkRequestCount();
        chain.Take(), chain.TakeUpstream();
        Ask(kit::Chunk(kInside), false);
        for (const cMemBlock& block : {cMemBlock(Tag(kCodeTagS, time)), cMemBlock(Fragment(kWhole, kSound)),
                                       cMemBlock(Tag(kCodeTagF, time + kTagFAfterTagS))})
            Send(block);
        const std::vector<cMemBlock> d = chain.Take();
        const std::string t = std::to_string(time), f = std::to_string(time + kTagFAfterTagS);
        if (Trace(chain.TakeUpstream()) + " " + Trace(d) != "Chun TagS:" + t + " SCDA:" + t + " TagF:" + f ||
            Payload(d[1]) != kSound)
            return "a new request was not passed on and answered with its chunk";
        return b.ChunkRequestCount() == count ? nullptr : "the chunk did not settle its request";
    }

    // Stops at the first step that fails. A request beyond the end is answered by the brick
    // itself. The first chunk waits: its 63 blocks and the edge pair answering the request beyond
    // the end fill the brick's queue past 64, so it grows as the pair is queued. Later 65 blocks wait for their request and then leave at once: the 65th, a
    // "TagF", makes the next brick's queue grow.
    void Scenario()
    {
        chain.sink->received.reserve(576); // the test's own bricks never allocate in a step
        chain.source->commands.reserve(256);
        requests.reserve(256);
        static char others[10];
        cChunkCmdBlock visited = kit::Chunk(12000);
        for (char& other : others)
            visited.MarkVisited(reinterpret_cast<CBrick*>(&other));
        (void)(Step(TimeRange(0, kArchiveEnd)) && Step(Reset(1)) && Step(Header({{kStream, "ima1", kParams}})) &&
               Step(Events({{5, 0, 5, "event"}, {2, 0, 2, "event"}, {5, 0, 5, "event"}})) && Step(Play(1), true) &&
               Chunk(3000, 61, false) && Step(kit::Chunk(kArchiveEnd + 500), true) && Ask(kit::Chunk(3000)) &&
               Ask(kit::Chunk(6000)) && Chunk(6000, 1, true) && Chunk(9000, 63, false) && Ask(kit::Chunk(9000)) &&
               Ask(visited) && Chunk(12000, 1, false));
    }

    // What is wrong with the brick or the host after the scenario, or null.
    const char* Inconsistency()
    {
        const bool failed = gSite != nullptr;
        if (otherException || failed != badAlloc)
            return failed ? "the failure did not reach the caller as std::bad_alloc" : "an exception with no failure";
        chain.pipeline.RunUntilIdle();
        if (chain.pipeline.PendingBlocks() != 0)
            return "the host's pending count is off";
        if (b.StreamConfigured() && (!b.HeaderReceived() || b.SampleRate() != 8000 || b.BytesPerSample() != 2))
            return "configured without a whole configuration";
        for (int i = 0; i < 100 && b.QueuedBlocks() > 0; ++i)
            Ask(kit::Chunk(kInside), false);
        if (b.ChunkRequestCount() != ExpectedCount())
            return "the request count is not the requests still open";
        if (!b.StreamConfigured())
            Send(Header({{kStream, "ima1", kParams}}));
        if (const char* wrong = Probe(600000))
            return wrong;
        Send(Reset(2));
        if (chain.TakeTrace() != CodeText(kCodeRdy))
            return "a reset was not answered";
        if (b.ChunkRequestCount() != 0 || b.QueuedBlocks() != 0)
            return "a reset left requests or blocks";
        return Probe(700000);
    }
};

// A site as the library it lies in and its offset there.
uint64_t SiteKey(const void* site)
{
    Dl_info info{}; // in no library: the address itself
    dladdr(site, &info);
    return std::hash<std::string_view>()(info.dli_fname != nullptr ? info.dli_fname : "") * 1099511628211ull ^
           (reinterpret_cast<uintptr_t>(site) - reinterpret_cast<uintptr_t>(info.dli_fbase));
}

} // namespace

// Plays the scenario while allocation N fails, for N = 0 (none: a warm-up, since the first run
// keeps a few allocations for good), 1, 2, ... until the scenario runs clean.
int main()
{
    std::vector<uint64_t> sites;
    sites.reserve(4096);
    long baseline = 0, failAt = 0;
    int inconsistent = 0;
    for (;; ++failAt) {
        gSeen = 0, gFailAt = failAt, gSite = nullptr;
        const char* wrong = nullptr;
        {
            Run r;
            r.Scenario();
            const uint64_t site = gSite != nullptr ? SiteKey(gSite) : 0;
            if (gSite != nullptr && std::find(sites.begin(), sites.end(), site) == sites.end() && sites.size() < 4096)
                sites.push_back(site);
            try {
                wrong = r.Inconsistency();
            } catch (...) {
                wrong = "the brick threw afterwards";
            }
        }
        const long live = gLive - NotOfARun<cHeaderBlock, cDataBlock, cVideoBlock, cTagBlock>();
        if (wrong == nullptr && failAt > 0 && live != baseline)
            wrong = "allocations leaked";
        baseline = failAt == 0 ? live : baseline;
        inconsistent += wrong != nullptr;
        if (wrong != nullptr && std::getenv("VRN3_SWEEP_VERBOSE") != nullptr)
            std::fprintf(stderr, "point %ld: %s\n", failAt, wrong);
        if (failAt > 0 && gSite == nullptr)
            break;
    }
    std::printf("allocation-failure sweep: %ld points, %zu sites, %d inconsistent\n", failAt - 1, sites.size(),
                inconsistent);
    return inconsistent == 0 && failAt > 1 ? 0 : 1;
}
