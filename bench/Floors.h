// Floors: what a record's work costs at the least, measured in the same run as the scenarios.
//
// For each payload size: the pooled floor (a FloorPool buffer taken, the payload copied in,
// released) and a bare memcpy of the payload. Beside them the cost of one uncontended
// Lock and Unlock of a CCriticalSection through the host library's calls, the unit of the rule
// floor: a scenario that must take P lock pairs and copy its payload C times a record cannot
// cost less than P pairs and C copies. Each figure is the best of several repetitions.
//
// Made by Measure, read only afterwards. Asking for a payload that was not measured ends the
// process: every figure the report prints is one that was measured.
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

    // Measures the floors of each payload; `scale` multiplies the repetitions' lengths.
    static Floors Measure(const std::vector<uint32_t>& payloads, long scale);

    const Copy& For(uint32_t payload) const;
    const std::vector<Copy>& Copies() const { return mCopies; }
    double LockPairNs() const { return mLockPairNs; }
    // The least a record can cost that takes `pairs` lock pairs and copies `copies` payloads of
    // `payload` bytes.
    double RuleFloorNs(uint32_t payload, double pairs, int copies) const;

private:
    static Copy MeasureCopy(uint32_t payload, long scale);
    static double MeasureLockPair(long scale);

    std::vector<Copy> mCopies;
    double mLockPairNs = 0;
};
