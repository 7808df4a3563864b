// Measuring one scenario: its figures and the runs that produce them.
//
// A scenario is a pass: a function that feeds `records` records through a chain and returns the
// sink's digest when asked to hash, and an optional preparation that makes the pass's input
// afresh, untimed, before every pass. Measure runs the pass once hashed and untimed (the digest;
// it also fills the pools), once untimed counting the host lock calls, then the timed slices,
// reporting the fastest. After every slice it calls `between`, which measures the scenario's
// floors beside it (Floors::Sample), so that a scenario and its floors see the machine in the
// same state. Slices are timed in the process's CPU time (all its threads), which another
// program's work on the machine does not lengthen. Allocations are counted over all timed slices; peak memory is the most heap live at
// once during a timed slice (and the process's VmHWM, reset before the timed part where the
// kernel allows it).
#pragma once

#include "Floors.h"

#include <cstdint>
#include <functional>

struct Result {
    uint64_t records = 0;          // per timed slice
    double nsPerRecord = 0;        // fastest slice
    double allocsPerRecord = 0;    // over all timed slices
    double lockPairsPerRecord = 0; // host Lock calls (each with its Unlock), one untimed pass
    int64_t peakBytes = 0;
    long hwmKiB = 0;
    uint64_t digest = 0;
    Floors floors; // measured between the slices
    // A fragmented record's scenario: the same payload whole, timed between its slices (the
    // fastest), so that the cost of the fragments is read on two figures taken side by side.
    double wholeNsPerRecord = 0;
};

using Pass = std::function<uint64_t(bool hash)>;
using Step = std::function<void()>;

// The CPU time of the process (all its threads) in ns, the clock of every timed slice.
double CpuNs();

constexpr int kSlices = 15;

Result Measure(uint64_t records, const Pass& pass, const Step& prepare, const Step& between, int slices = kSlices);
// Runs `run` once, counting the host lock calls; the pairs a record of `records`. A run whose
// Lock and Unlock calls do not pair up ends the process.
double CountLockPairs(uint64_t records, const std::function<void()>& run);
