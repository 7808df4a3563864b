// Measuring a scenario (see Measurement.h).
#include "Measurement.h"

#include "AllocCounter.h"
#include "LockCounter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace {

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

double CpuNs()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

Result Measure(uint64_t records, const Pass& pass, const Step& prepare, const Step& between, int slices)
{
    Result r;
    r.records = records;
    prepare();
    r.digest = pass(true);
    prepare();
    r.lockPairsPerRecord = CountLockPairs(records, [&] { pass(false); });
    ResetHwm();
    uint64_t allocs = 0;
    r.nsPerRecord = 1e300;
    for (int i = 0; i < slices; ++i) {
        prepare();
        alloccount::ResetPeak();
        const uint64_t allocsBefore = alloccount::Allocations();
        const double start = CpuNs();
        pass(false);
        r.nsPerRecord = std::min(r.nsPerRecord, (CpuNs() - start) / static_cast<double>(records));
        allocs += alloccount::Allocations() - allocsBefore;
        r.peakBytes = std::max<int64_t>(r.peakBytes, alloccount::PeakBytes());
        between();
    }
    r.allocsPerRecord = static_cast<double>(allocs) / static_cast<double>(records * slices);
    r.hwmKiB = ReadHwmKiB();
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
