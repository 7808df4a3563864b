// Whether this process runs under an emulator of i386 rather than on an i386-capable CPU, and
// which flavour and machine it is.
//
// Timings under an emulator are the emulator's (many times slower, ratios distorted both ways),
// so the benchmark judges no time-based target there. It counts as emulated when the build's
// emulator variable VRN3_I386_EMULATOR is set and not empty (ctest runs it through it), or when
// the CPU's brand string, as cpuid reports it, starts with "QEMU" (qemu-user reports its own).
// The amd64 flavour always runs natively.
#pragma once

#include <string>

bool RunsEmulated();
// "i386" or "amd64": the flavour this program was built as.
const char* Flavour();
// The CPU's brand string as cpuid reports it, without padding ("unknown" where it has none).
std::string MachineName();
