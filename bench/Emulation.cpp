// Telling an emulated run from a native one (see Emulation.h).
#include "Emulation.h"

#include <cpuid.h>
#include <cstdlib>
#include <cstring>

namespace {

// The first leaf of the brand string; three leaves of 16 bytes each hold its 48 characters.
constexpr unsigned kBrandLeaf = 0x80000002u;
constexpr unsigned kBrandLeaves = 3;

// The brand string, empty where the CPU has none.
std::string Brand()
{
    if (__get_cpuid_max(0x80000000u, nullptr) < kBrandLeaf + kBrandLeaves - 1)
        return std::string();
    unsigned words[4 * kBrandLeaves];
    for (unsigned i = 0; i < kBrandLeaves; ++i)
        __get_cpuid(kBrandLeaf + i, &words[4 * i], &words[4 * i + 1], &words[4 * i + 2], &words[4 * i + 3]);
    char brand[sizeof words + 1] = {};
    std::memcpy(brand, words, sizeof words);
    return brand;
}

} // namespace

bool RunsEmulated()
{
    if (sizeof(void*) == 8)
        return false;
    const char* emulator = std::getenv("VRN3_I386_EMULATOR");
    return (emulator != nullptr && emulator[0] != '\0') || Brand().compare(0, 4, "QEMU") == 0;
}

const char* Flavour()
{
    return sizeof(void*) == 8 ? "amd64" : "i386";
}

std::string MachineName()
{
    std::string brand = Brand();
    brand.erase(0, brand.find_first_not_of(' '));
    brand.erase(brand.find_last_not_of(' ') + 1);
    return brand.empty() ? "unknown" : brand;
}
