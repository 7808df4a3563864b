// Measuring a scenario (see Measurement.h).
#include "Measurement.h"

#include "AllocCounter.h"
#include "LockCounter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

long ReadHwmKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

void ResetHwm()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

} // namespace

Result Measure(uint64_t records, const Pass& pass, int repetitions)
{
    Result r;
    r.records = records;
    r.digest = pass(true);
    r.lockPairsPerRecord = CountLockPairs(records, [&] { pass(false); });
    Time(records, [&] { pass(false); }, repetitions, r);
    return r;
}

double CountLockPairs(uint64_t records, const std::function<void()>& run)
{
    lockcount::Start();
    run();
    lockcount::Stop();
    if (lockcount::Locks() != lockcount::Unlocks()) {
        std::fprintf(stderr, "vrn3-bench: %llu Lock calls but %llu Unlock calls\n",
                     static_cast<unsigned long long>(lockcount::Locks()),
                     static_cast<unsigned long long>(lockcount::Unlocks()));
        std::exit(1);
    }
    return static_cast<double>(lockcount::Locks()) / static_cast<double>(records);
}

void Time(uint64_t records, const std::function<void()>& run, int repetitions, Result& result)
{
    ResetHwm();
    alloccount::ResetPeak();
    const uint64_t allocsBefore = alloccount::Allocations();
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        const Clock::time_point start = Clock::now();
        run();
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / static_cast<double>(records));
    }
    result.records = records;
    result.nsPerRecord = best;
    result.allocsPerRecord = static_cast<double>(alloccount::Allocations() - allocsBefore) /
                             static_cast<double>(records * repetitions);
    result.peakBytes = alloccount::PeakBytes();
    result.hwmKiB = ReadHwmKiB();
}
