// Counting the heap traffic of the whole benchmark process.
//
// AllocCounter.cpp replaces malloc, calloc, realloc, free and the aligned allocators in the
// benchmark executable, forwarding to glibc's own entry points; the executable exports them,
// so the host library, libstdc++ (operator new) and the dlopen'd plug-in all allocate through
// them. Each allocation call is counted, and the bytes live on the heap (as malloc's usable
// sizes) are tracked with their peak since the last ResetPeak. Sanitizer builds keep the
// sanitizer's allocator: Enabled() is false there and every figure reads 0.
#pragma once

#include <cstdint>

namespace alloccount {

bool Enabled();
// Allocation calls (malloc, calloc, realloc, aligned) since the process started.
uint64_t Allocations();
// Heap bytes live now, and the most live at once since the last ResetPeak.
int64_t LiveBytes();
int64_t PeakBytes();
void ResetPeak();

} // namespace alloccount
