// Measuring one scenario: its figures and the runs that produce them.
//
// A scenario is a pass: a function that feeds `records` records through a chain and returns the
// sink's digest when asked to hash. Measure runs the pass once hashed and untimed (the digest;
// it also fills the pools), once untimed counting the host lock calls, then the timed
// repetitions, reporting the best. Allocations are counted over all timed repetitions; peak
// memory is the most heap live at once during the timed part (and the process's VmHWM, reset
// before the timed part where the kernel allows it).
#pragma once

#include <cstdint>
#include <functional>

struct Result {
    uint64_t records = 0;          // per timed repetition
    double nsPerRecord = 0;        // best repetition
    double allocsPerRecord = 0;    // over all timed repetitions
    double lockPairsPerRecord = 0; // host Lock calls (each with its Unlock), one untimed pass
    int64_t peakBytes = 0;
    long hwmKiB = 0;
    uint64_t digest = 0;
};

using Pass = std::function<uint64_t(bool hash)>;

constexpr int kRepetitions = 5;

Result Measure(uint64_t records, const Pass& pass, int repetitions = kRepetitions);
// Runs `run` once, counting the host lock calls; the pairs a record of `records`. A run whose
// Lock and Unlock calls do not pair up ends the process.
double CountLockPairs(uint64_t records, const std::function<void()>& run);
// Runs `run` `repetitions` times timed: the best ns a record, with the allocations a record and
// the memory peaks in `result`.
void Time(uint64_t records, const std::function<void()>& run, int repetitions, Result& result);
