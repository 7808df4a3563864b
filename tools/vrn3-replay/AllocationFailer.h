// AllocationFailer: makes the n-th allocation that the plug-in's own code asks for fail, for
// vrn3-replay --fail-alloc.
//
// The program replaces malloc and the operator new and new[] family for the whole process
// (exported, so that the dlopen'd plug-in calls them), forwarding to the C library's allocator (to
// the sanitizer's under a sanitizer). An allocation counts when it is asked for from the code of
// the loaded object Aim names, the plug-in: the monitors', the host's and the program's own never
// count and never fail. While armed, the allocations are counted and the chosen one fails (malloc
// and new without exceptions return null, new throws std::bad_alloc) once, its call stack kept. One
// thread at a time arms and reads it; the count itself is atomic, since a brick's allocations may
// come from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class AllocationFailer {
public:
    // The object whose code's allocations count: the one that holds `address`.
    static void Aim(const void* address);
    // Counts from 0 and fails the `failAt`-th allocation (0: none).
    static void Arm(uint64_t failAt);
    // Whether the chosen allocation has failed since Arm.
    static bool Failed();
    // Stops counting; returns the allocations counted.
    static uint64_t Disarm();
    // The failed allocation's callers, innermost first, from the caller of the allocator on:
    // "object+0xoffset (function)". Asked while the objects are loaded.
    static std::vector<std::string> Backtrace();
};
