// Allocation-failure sweep: the sound brick, loaded from the built plug-in with dlopen and
// CreateBrick as a host loads it, plays a fixed scenario in the stand-in host while the Nth
// allocation of the scenario fails, for N = 1, 2, ... until the scenario runs clean. After each
// failure: the exception reached the caller as std::bad_alloc; the host's pending count is 0;
// the brick counts itself configured only with its whole configuration; once its queue is
// flushed, its request count equals the requests it took on less the "TagF" tags that left; it
// answers a new request with exactly the right blocks; a reset returns it to an empty queue and
// count; and once the pipeline and the plug-in are gone, every allocation made is freed.
//
// The program replaces malloc, calloc, realloc, free and operator new/delete for the whole process,
// forwarding to glibc's own entry points (to the sanitizer's under AddressSanitizer, so ASan still
// checks every block). An allocation site is the return address of the call, as library and offset.
// Prints `allocation-failure sweep: P points, S sites, F inconsistent`, fails when F > 0;
// VRN3_SWEEP_VERBOSE=1 names each inconsistent point on stderr.
#include "../../tools/common/RealAllocator.h"
#include "../kit/Chain.h"

#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string_view>

namespace {

// Single-threaded: the sweep runs its pipelines synchronously. Counted: the allocations not yet
// freed, those since the scenario started, and the one to fail (0: none).
long gLive = 0, gSeen = 0, gFailAt = 0;
bool gArmed = false, gLoading = false; // inside a scenario step; loading the plug-in
const void* gSite = nullptr;           // where the failed allocation was asked for
// Blocks made while the plug-in is loaded: the loader's own, and the exit-handler lists that glibc
// keeps and grows when libraries come and go. Counted live, but not the code's under test.
const void* gLoaderBlocks[1024];
int gLoaderCount = 0;

ALLOCATOR bool Forget(const void* p)
{
    int i = 0;
    while (i < gLoaderCount && gLoaderBlocks[i] != p)
        ++i;
    if (i == gLoaderCount)
        return false;
    gLoaderBlocks[i] = gLoaderBlocks[--gLoaderCount];
    return true;
}
// Takes `p` on the books; a loader's block is remembered as such.
ALLOCATOR void* Counted(void* p, bool loaders = false)
{
    gLive += p != nullptr;
    if ((loaders || gLoading) && p != nullptr && gLoaderCount < 1024)
        gLoaderBlocks[gLoaderCount++] = p;
    return p;
}
// Counts an allocation asked for at `site` inside a step; true when it is the one to fail, whose
// site is then kept.
ALLOCATOR bool Fails(const void* site)
{
    gSeen += gArmed;
    if (gArmed && gSeen == gFailAt)
        gSite = site;
    return gArmed && gSeen == gFailAt;
}
// `size` bytes asked for at `site`, counted, or null when this allocation is the one to fail.
ALLOCATOR void* Allocate(size_t size, const void* site)
{
    return Fails(site) ? nullptr : Counted(REAL(malloc)(size));
}
// `p`, or std::bad_alloc thrown when there is none.
ALLOCATOR void* Thrown(void* p)
{
    return p != nullptr ? p : throw std::bad_alloc();
}

} // namespace

extern "C" {
ALLOCATOR void* malloc(size_t size)
{
    return Allocate(size, __builtin_return_address(0));
}
ALLOCATOR void* calloc(size_t count, size_t size)
{
    return Fails(__builtin_return_address(0)) ? nullptr : Counted(REAL(calloc)(count, size));
}
ALLOCATOR void free(void* p)
{
    Forget(p);
    gLive -= p != nullptr;
    REAL(free)(p);
}
// A block that moves stays one live allocation.
ALLOCATOR void* realloc(void* old, size_t size)
{
    if (old == nullptr)
        return Allocate(size, __builtin_return_address(0));
    if (size == 0) {
        free(old);
        return nullptr;
    }
    const bool loaders = Forget(old);
    void* p = Fails(__builtin_return_address(0)) ? nullptr : REAL(realloc)(old, size);
    Counted(p != nullptr ? p : old, loaders);
    --gLive;
    return p;
}
} // extern "C"

ALLOCATOR void* operator new(size_t size)
{
    return Thrown(Allocate(size, __builtin_return_address(0)));
}
ALLOCATOR void* operator new[](size_t size)
{
    return Thrown(Allocate(size, __builtin_return_address(0)));
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size);
}
void operator delete(void* p) noexcept
{
    free(p);
}
void operator delete[](void* p) noexcept
{
    free(p);
}
void operator delete(void* p, size_t) noexcept
{
    free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    free(p);
}

namespace {

using namespace kit;

constexpr uint64_t kArchiveEnd = 1000000;
constexpr uint64_t kInside = 500000;                         // inside the archive either way
constexpr uint64_t kEdgeTagF = kArchiveEnd + kTagFAfterTagS; // closes the brick's own answer beyond the end
const Bytes kSound = Pattern(8, 1);

// Live allocations that are not blocks of a run: the loader's, and the storage the test's own
// pools hold.
template <class... Block>
long NotOfARun()
{
    return gLoaderCount + (static_cast<long>(Block::node::mChain.size()) + ...);
}

// A scenario step: `repeat` blocks of a kind, each sent alone, down from the source or up from the
// sink. `value` is a tag's or a request's time, or a piece's fragment kind; `code` a tag's code.
// A crowded request is one whose visited list is already full.
enum Path { kDown, kUp };
enum Kind { kTimeRange, kReset, kHeader, kEvents, kPlay, kTag, kVideo, kRecord, kPiece, kRequest, kCrowded };
struct Step {
    Path path;
    Kind kind;
    uint64_t value = 0;
    uint32_t code = 0;
    int repeat = 1;
};
constexpr uint64_t kF = kTagFAfterTagS;

// A request beyond the end is answered by the brick itself. The first chunk waits: its 63 blocks
// and the edge pair answering the request beyond the end fill the brick's queue past 64, so it
// grows as the pair is queued. Later 65 blocks wait for their request and then leave at once: the
// 65th, a "TagF", makes the next brick's queue grow.
constexpr Step kScenario[] = {
    {kDown, kTimeRange},
    {kDown, kReset},
    {kDown, kHeader},
    {kDown, kEvents},
    {kUp, kPlay},
    {kDown, kTag, 3000, kCodeTagS},
    {kDown, kVideo},
    {kDown, kRecord, 0, 0, 61},
    {kDown, kTag, 3000 + kF, kCodeTagF},
    {kUp, kRequest, kArchiveEnd + 500},
    {kUp, kRequest, 3000},
    {kUp, kRequest, 6000},
    {kDown, kTag, 6000, kCodeTagS},
    {kDown, kVideo},
    {kDown, kRecord},
    {kDown, kPiece, kFirst},
    {kDown, kPiece, kMiddle},
    {kDown, kPiece, kLast},
    {kDown, kTag, 6000 + kF, kCodeTagF},
    {kDown, kTag, 9000, kCodeTagS},
    {kDown, kVideo},
    {kDown, kRecord, 0, 0, 63},
    {kDown, kTag, 9000 + kF, kCodeTagF},
    {kUp, kRequest, 9000},
    {kUp, kCrowded, 12000},
    {kDown, kTag, 12000, kCodeTagS},
    {kDown, kVideo},
    {kDown, kRecord},
    {kDown, kTag, 12000 + kF, kCodeTagF},
};

// The block a step sends.
cMemBlock Make(const Step& step)
{
    static char others[10]; // stand-ins for the bricks a crowded request has been through
    const cChunkCmdBlock request = kit::Chunk(step.value);
    switch (step.kind) {
    case kTimeRange:
        return TimeRange(0, kArchiveEnd);
    case kReset:
        return Reset(1);
    case kHeader:
        return Header({{kStream, "ima1", kParams}});
    case kEvents:
        return Events({{5, 0, 5, "event"}, {2, 0, 2, "event"}, {5, 0, 5, "event"}});
    case kPlay:
        return Play(1);
    case kTag:
        return Tag(step.code, step.value);
    case kVideo:
        return Video(kFirst, 1234, 0);
    case kRecord:
        return Fragment(kWhole, kSound);
    case kPiece:
        return Fragment(static_cast<uint8_t>(step.value), Pattern(4, 9));
    case kCrowded:
        for (char& other : others)
            request.MarkVisited(reinterpret_cast<CBrick*>(&other));
        [[fallthrough]];
    case kRequest:
        break;
    }
    return request;
}

// Whether `block` is a "TagF" that answered a request inside the archive.
bool ClosesRequest(const cMemBlock& block)
{
    if (block.GetType() != kCodeTag)
        return false;
    const TStreamTag& tag = RecordOf<cTagBlock>(block);
    return tag.code == kCodeTagF && tag.time != kEdgeTagF;
}

// The plug-in, loaded afresh; its allocations while it loads are set apart as the loader's.
std::unique_ptr<CPluginLibrary> LoadPlugin()
{
    gLoading = true;
    std::unique_ptr<CPluginLibrary> plugin = std::make_unique<CPluginLibrary>(VRN3_PLUGIN_PATH);
    gLoading = false;
    return plugin;
}

// One run: the plug-in loaded afresh, source -> sound brick -> sink, and the requests inside the
// archive that were sent. The brick is made armed, its making the scenario's first step; when that
// fails, the run goes on with a brick made unarmed, whose checks then show the failed making left
// nothing behind.
struct Run {
    Run() : plugin(LoadPlugin()), chain(Created()), b(chain.Sound()) {}

    std::unique_ptr<CPluginLibrary> plugin; // goes last: the chain holds its blocks
    bool badAlloc = false, otherException = false;
    Chain chain;
    CVrn3StreamSound& b;
    std::vector<cChunkCmdBlock> requests;

    CBrick* Created()
    {
        gArmed = true;
        CBrick* brick = nullptr;
        try {
            brick = plugin->CreateBrick(Config("5"));
        } catch (const std::bad_alloc&) {
            badAlloc = true;
        }
        gArmed = false;
        return brick != nullptr ? brick : plugin->CreateBrick(Config("5"));
    }

    void Send(const cMemBlock& block, Path path)
    {
        if (path == kUp)
            chain.sink->SendCmd(block);
        else
            chain.source->SendData(block);
        chain.pipeline.RunUntilIdle();
    }
    // One host call, with the failing allocation armed. False when the scenario stops here.
    bool Armed(const cMemBlock& block, Path path)
    {
        gArmed = true;
        try {
            Send(block, path);
        } catch (const std::bad_alloc&) {
            badAlloc = true;
        } catch (...) {
            otherException = true;
        }
        gArmed = false;
        return !badAlloc && !otherException && gSite == nullptr;
    }
    // An in-archive request, unarmed, kept to see whether the brick took it on.
    void Request(uint64_t time)
    {
        requests.push_back(kit::Chunk(time));
        Send(requests.back(), kUp);
    }

    // Requests the brick took on less the "TagF" tags that left it, as the count must be.
    int ExpectedCount() const
    {
        int count = 0;
        for (const cChunkCmdBlock& request : requests)
            for (int32_t i = 0; i < request.VisitedCount(); ++i)
                count += request.Visited(i) == chain.brick;
        for (const cMemBlock& block : chain.sink->received)
            count -= ClosesRequest(block);
        return count;
    }
    // A new request is passed on and its chunk leaves whole: "TagS", the sound, "TagF".
    const char* Probe(uint64_t time)
    {
        const int count = b.ChunkRequestCount();
        chain.Take();
        chain.TakeUpstream();
        Request(kInside);
        for (const cMemBlock& block : {cMemBlock(Tag(kCodeTagS, time)), cMemBlock(Fragment(kWhole, kSound)),
                                       cMemBlock(Tag(kCodeTagF, time + kTagFAfterTagS))})
            Send(block, kDown);
        const std::vector<cMemBlock> d = chain.Take();
        const std::string t = std::to_string(time), f = std::to_string(time + kTagFAfterTagS);
        if (Trace(chain.TakeUpstream()) + " " + Trace(d) != "Chun TagS:" + t + " SCDA:" + t + " TagF:" + f ||
            Payload(d[1]) != kSound)
            return "a new request was not passed on and answered with its chunk";
        return b.ChunkRequestCount() == count ? nullptr : "the chunk did not settle its request";
    }

    // Plays the scenario's steps in order, each block alone and armed; stops at the first that fails.
    void Scenario()
    {
        chain.sink->received.reserve(576); // the test's own bricks never allocate in a step
        chain.source->commands.reserve(256);
        requests.reserve(256);
        if (gSite != nullptr)
            return; // the brick's making failed
        for (const Step& step : kScenario) {
            for (int i = 0; i < step.repeat; ++i) {
                const cMemBlock block = Make(step);
                if (step.kind >= kRequest && step.value < kArchiveEnd)
                    requests.emplace_back(block);
                if (!Armed(block, step.path))
                    return;
            }
        }
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
            Request(kInside);
        if (b.ChunkRequestCount() != ExpectedCount())
            return "the request count is not the requests still open";
        if (!b.StreamConfigured())
            Send(Header({{kStream, "ima1", kParams}}), kDown);
        if (const char* wrong = Probe(600000))
            return wrong;
        Send(Reset(2), kDown);
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
        gSeen = 0;
        gFailAt = failAt;
        gSite = nullptr;
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
