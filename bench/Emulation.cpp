// Telling an emulated run from a native one (see Emulation.h).
#include "Emulation.h"

#include <cpuid.h>
#include <cstdlib>
#include <cstring>

namespace {

// The first leaf of the brand string; three leaves of 16 bytes each hold its 48 characters.
constexpr unsigned kBrandLeaf = 0x80000002u;
constexpr unsigned kBrandLeaves = 3;

bool BrandStartsWithQemu()
{
    if (__get_cpuid_max(0x80000000u, nullptr) < kBrandLeaf + kBrandLeaves - 1)
        return false;
    unsigned words[4 * kBrandLeaves];
    for (unsigned i = 0; i < kBrandLeaves; ++i)
        __get_cpuid(kBrandLeaf + i, &words[4 * i], &words[4 * i + 1], &words[4 * i + 2], &words[4 * i + 3]);
    char brand[sizeof words];
    std::memcpy(brand, words, sizeof words);
    return std::strncmp(brand, "QEMU", 4) == 0;
}

} // namespace

bool RunsEmulated()
{
    const char* emulator = std::getenv("VRN3_I386_EMULATOR");
    return (emulator != nullptr && emulator[0] != '\0') || BrandStartsWithQemu();
}
