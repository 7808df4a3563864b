// The replaced allocator and the plug-in's address range.
#include "AllocationFailer.h"

#include "../common/RealAllocator.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>

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
// Read and counted with the compiler's atomic built-ins rather than std::atomic: the replaced
// allocator runs before a sanitizer's shadow memory is there, and a std::atomic member that is
// not inlined into it would be instrumented.
bool gArmed = false;
uint64_t gCount = 0;
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
    if (!__atomic_load_n(&gArmed, __ATOMIC_RELAXED) || !FromPlugin(site))
        return false;
    if (__atomic_add_fetch(&gCount, 1, __ATOMIC_RELAXED) != gFailAt)
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

// The rest of the family, so that every block made by these is given back the same way (a
// sanitizer checks that a block is freed by the family that made it). The forms without
// exceptions judge their own caller: through malloc, the caller would be this file.
ALLOCATOR void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return Fails(__builtin_return_address(0)) ? nullptr : REAL(malloc)(size);
}
ALLOCATOR void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return Fails(__builtin_return_address(0)) ? nullptr : REAL(malloc)(size);
}
void operator delete(void* p) noexcept
{
    REAL(free)(p);
}
void operator delete[](void* p) noexcept
{
    REAL(free)(p);
}
void operator delete(void* p, size_t) noexcept
{
    REAL(free)(p);
}
void operator delete[](void* p, size_t) noexcept
{
    REAL(free)(p);
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
    __atomic_store_n(&gCount, 0, __ATOMIC_RELAXED);
    gFailAt = failAt;
    gFrameCount = 0;
    __atomic_store_n(&gArmed, true, __ATOMIC_SEQ_CST);
}

bool AllocationFailer::Failed()
{
    return gFailAt != 0 && __atomic_load_n(&gCount, __ATOMIC_RELAXED) >= gFailAt;
}

uint64_t AllocationFailer::Disarm()
{
    __atomic_store_n(&gArmed, false, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&gCount, __ATOMIC_RELAXED);
}

std::vector<std::string> AllocationFailer::Backtrace()
{
    // The trace begins at the plug-in's call: the frames before it are the allocator's (this
    // program's, and a sanitizer's when one is built in).
    int first = 0;
    while (first < gFrameCount && !FromPlugin(gFrames[first]))
        ++first;
    std::vector<std::string> frames;
    for (int i = first; i < gFrameCount; ++i) {
        Dl_info info{};
        if (dladdr(gFrames[i], &info) != 0 && info.dli_fname != nullptr)
            frames.push_back(Frame(gFrames[i], info));
        else
            frames.push_back("?");
    }
    return frames;
}
