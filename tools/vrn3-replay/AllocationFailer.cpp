// The replaced allocator and the plug-in's address range.
#include "AllocationFailer.h"

#include "../common/RealAllocator.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr int kFrames = 24; // callers kept of the failed allocation

struct Range {
    uintptr_t begin = 0, end = 0;
};
Range gPlugin[8]; // the plug-in's loaded segments
int gSegments = 0;
std::atomic<bool> gArmed{false};
std::atomic<uint64_t> gCount{0};
uint64_t gFailAt = 0;
void* gFrames[kFrames];
int gFrameCount = 0;

ALLOCATOR bool FromPlugin(const void* site)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(site);
    for (int i = 0; i < gSegments; ++i)
        if (at >= gPlugin[i].begin && at < gPlugin[i].end)
            return true;
    return false;
}

// Whether the allocation asked for at `site` is the one to fail; its stack is then kept.
ALLOCATOR bool Fails(const void* site)
{
    if (!gArmed.load(std::memory_order_relaxed) || !FromPlugin(site))
        return false;
    if (gCount.fetch_add(1) + 1 != gFailAt)
        return false;
    gFrameCount = backtrace(gFrames, kFrames);
    return true;
}

int AddSegments(dl_phdr_info* info, size_t, void* base)
{
    if (info->dlpi_addr != reinterpret_cast<uintptr_t>(base))
        return 0;
    for (int i = 0; i < info->dlpi_phnum && gSegments < 8; ++i)
        if (info->dlpi_phdr[i].p_type == PT_LOAD)
            gPlugin[gSegments++] = Range{info->dlpi_addr + info->dlpi_phdr[i].p_vaddr,
                                         info->dlpi_addr + info->dlpi_phdr[i].p_vaddr + info->dlpi_phdr[i].p_memsz};
    return 1;
}

std::string Frame(void* address, const Dl_info& info)
{
    char offset[32];
    std::snprintf(
        offset, sizeof offset, "+0x%lx",
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(info.dli_fbase)));
    std::string frame = std::string(info.dli_fname) + offset;
    if (info.dli_sname != nullptr) {
        int status = 0;
        char* name = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        frame += std::string(" (") + (status == 0 ? name : info.dli_sname) + ")";
        std::free(name);
    }
    return frame;
}

} // namespace

extern "C" ALLOCATOR void* malloc(size_t size)
{
    return Fails(__builtin_return_address(0)) ? nullptr : REAL(malloc)(size);
}

ALLOCATOR void* operator new(size_t size)
{
    void* p = Fails(__builtin_return_address(0)) ? nullptr : REAL(malloc)(size);
    return p != nullptr ? p : throw std::bad_alloc();
}

ALLOCATOR void* operator new[](size_t size)
{
    void* p = Fails(__builtin_return_address(0)) ? nullptr : REAL(malloc)(size);
    return p != nullptr ? p : throw std::bad_alloc();
}

void AllocationFailer::Aim(const void* address)
{
    Dl_info info{};
    gSegments = 0;
    if (dladdr(address, &info) != 0)
        dl_iterate_phdr(AddSegments, info.dli_fbase);
    void* warm[1];
    backtrace(warm, 1); // loads the unwinder now, not inside a failing allocation
}

void AllocationFailer::Arm(uint64_t failAt)
{
    gCount = 0;
    gFailAt = failAt;
    gFrameCount = 0;
    gArmed = true;
}

uint64_t AllocationFailer::Disarm()
{
    gArmed = false;
    return gCount;
}

std::vector<std::string> AllocationFailer::Backtrace()
{
    Dl_info own{};
    dladdr(reinterpret_cast<void*>(&Fails), &own);
    std::vector<std::string> frames;
    bool allocator = true; // the first frames are this program's allocator's
    for (int i = 0; i < gFrameCount; ++i) {
        Dl_info info{};
        const bool known = dladdr(gFrames[i], &info) != 0 && info.dli_fname != nullptr;
        allocator = allocator && known && info.dli_fbase == own.dli_fbase;
        if (!allocator)
            frames.push_back(known ? Frame(gFrames[i], info) : "?");
    }
    return frames;
}
