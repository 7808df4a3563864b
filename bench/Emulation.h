// Whether this process runs under an emulator of i386 rather than on an i386-capable CPU.
//
// Timings under an emulator are the emulator's (many times slower, ratios distorted both ways),
// so the benchmark judges no time-based target there. It counts as emulated when the build's
// emulator variable VRN3_I386_EMULATOR is set and not empty (ctest runs it through it), or when
// the CPU's brand string, as cpuid reports it, starts with "QEMU" (qemu-user reports its own).
#pragma once

bool RunsEmulated();
