// Counting the calls into the host library's locks.
//
// LockCounter.cpp defines CCriticalSection::Lock and Unlock in the benchmark executable, which
// exports them: the dynamic linker binds every call to them (from the dlopen'd plug-in, from the
// host library's own code and from the benchmark) to these definitions first, and each forwards
// to the host library's definition, found behind the executable's with dlsym(RTLD_NEXT). While
// counting is on, each call is counted, from every thread; while it is off, a call pays one
// forwarding call and a flag test, the same for the brick and for the floor measured beside it.
// The plug-in and the host library are not changed: the count is of the calls they really make.
#pragma once

#include <cstdint>

namespace lockcount {

// Starts counting from zero; Stop ends it, keeping the counts for reading.
void Start();
void Stop();
uint64_t Locks();
uint64_t Unlocks();

} // namespace lockcount
