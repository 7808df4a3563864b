// Floors: what a record's work costs at the least, measured in the same run as the scenarios.
//
// For each payload size: the pooled floor (a FloorPool buffer taken, the payload copied in,
// released) and a bare memcpy of the payload. Beside them the cost of one uncontended
// Lock and Unlock of a CCriticalSection through the host library's calls, the unit of the rule
// floor: a scenario that must take P lock pairs and copy its payload C times a record cannot
// cost less than P pairs and C copies.
//
// A Floors is filled by samples: each Sample times one short slice of every floor of a payload
// in the process's CPU time and keeps the fastest slice of each figure seen so far. A scenario
// samples its own floors between its timed slices (Measurement.h), so the two are read close
// together in time; Measure takes a set of samples at once, for the one-thread process. Asking
// for a payload that was never sampled ends the process: every figure the report prints is one
// that was measured.
#pragma once

#include <cstdint>
#include <vector>

class Floors {
public:
    struct Copy {
        uint32_t payload;
        double pooledNs; // a pooled buffer taken, filled and released
        double memcpyNs; // the payload copied
    };

    // Samples each payload's floors `samples` times.
    static Floors Measure(const std::vector<uint32_t>& payloads, int samples);

    // Times one slice of each floor of `payload` and of the lock pair, keeping the fastest.
    void Sample(uint32_t payload);
    // Keeps the faster of each figure of this and `other`.
    void Merge(const Floors& other);

    const Copy& For(uint32_t payload) const;
    const std::vector<Copy>& Copies() const { return mCopies; }
    double LockPairNs() const { return mLockPairNs; }
    // The least a record can cost that takes `pairs` lock pairs and copies `copies` payloads of
    // `payload` bytes.
    double RuleFloorNs(uint32_t payload, double pairs, int copies) const;

private:
    Copy& Slot(uint32_t payload);
    static Copy MeasureCopy(uint32_t payload);
    static double MeasureLockPair();

    std::vector<Copy> mCopies;
    double mLockPairNs = 1e300;
};
