// FailureSweep: vrn3-replay --fail-alloc. The capture is replayed once with the brick watched to
// count the allocations its plug-in's code makes, then once for each of them failing in turn
// (or, when a sample size is given and smaller, for that many of them drawn with a seed), each
// run watched by the same monitors. A run is bad when the brick broke a rule or, after the
// failure, sent nothing although the capture shows it sending then.
//
// Life: Run once; the capture must be a file it can read again from the start. Throws what
// Replayer::Run throws.
#pragma once

#include "Replayer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct SweepPoint {
    uint64_t allocation = 0; // which allocation failed
    uint32_t packet = 0;     // the input whose delivery it ended
    std::vector<CBrickViolation> violations;
    bool silent = false;
    std::vector<std::string> backtrace; // the failed allocation's callers
};

struct SweepResult {
    uint64_t allocations = 0; // of the plug-in's code in a whole replay
    uint64_t tried = 0;
    std::vector<CBrickViolation> unfailed; // of the counting run
    SweepPoint first;                      // the first allocation tried
    std::vector<SweepPoint> bad;           // the runs that broke a rule or went silent
};

class FailureSweep {
public:
    // `sample` 0: every allocation; else at most that many, drawn with `seed`.
    FailureSweep(std::FILE* capture, const std::string& name, const std::string& plugin, uint64_t sample,
                 uint64_t seed);

    SweepResult Run();

private:
    SweepPoint Try(uint64_t allocation);
    std::vector<uint64_t> Points(uint64_t allocations) const;

    std::FILE* mFile;
    std::string mCapture, mPlugin;
    uint64_t mSample, mSeed;
};
