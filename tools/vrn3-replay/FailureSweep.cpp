// The sweep: a counting run, then one run a failing allocation.
#include "FailureSweep.h"

#include <algorithm>
#include <random>
#include <set>

FailureSweep::FailureSweep(std::FILE* capture, const std::string& name, const std::string& plugin, uint64_t sample,
                           uint64_t seed)
    : mFile(capture), mCapture(name), mPlugin(plugin), mSample(sample), mSeed(seed)
{
}

SweepResult FailureSweep::Run()
{
    SweepResult result;
    Replayer counting(mFile, mCapture, mPlugin, nullptr, false);
    counting.FailAllocation(0);
    const ReplayResult whole = counting.Run();
    result.allocations = whole.allocations;
    result.unfailed = whole.violations;
    for (uint64_t allocation : Points(result.allocations)) {
        SweepPoint point = Try(allocation);
        if (result.tried++ == 0)
            result.first = point;
        if (!point.violations.empty() || point.silent)
            result.bad.push_back(point);
    }
    return result;
}

// Every allocation, or a sample of them in order.
std::vector<uint64_t> FailureSweep::Points(uint64_t allocations) const
{
    std::vector<uint64_t> points;
    if (mSample == 0 || mSample >= allocations) {
        for (uint64_t n = 1; n <= allocations; ++n)
            points.push_back(n);
        return points;
    }
    std::mt19937_64 draw(mSeed);
    std::uniform_int_distribution<uint64_t> any(1, allocations);
    std::set<uint64_t> chosen;
    while (chosen.size() < mSample)
        chosen.insert(any(draw));
    return std::vector<uint64_t>(chosen.begin(), chosen.end());
}

SweepPoint FailureSweep::Try(uint64_t allocation)
{
    std::rewind(mFile);
    Replayer replayer(mFile, mCapture, mPlugin, nullptr, false);
    replayer.FailAllocation(allocation);
    const ReplayResult run = replayer.Run();
    SweepPoint point;
    point.allocation = allocation;
    point.packet = run.failedPacket;
    point.violations = run.violations;
    point.silent = run.silent;
    point.backtrace = run.backtrace;
    return point;
}
