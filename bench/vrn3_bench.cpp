// vrn3-bench: what a record costs the sound brick, against the least its work can cost.
//
// Every scenario (Scenarios.h) drives a brick made by the plug-in's own CreateBrick (the library
// is opened with dlopen, as a host opens it) the way the host's synchronous pipeline does
// (SoundChain.h). Each prints its timing, the heap allocations and the host lock pairs it takes
// a record, its peak memory, its ratios to the floors (Floors.h) and the digest of its output
// (equal digests mean byte-identical output); the targets follow (Report.h). Floors are measured
// once in a one-thread process, then, as every scenario runs, with an idle second thread alive
// (IdleThread.h); ratios and targets are read on the threaded figures. Lock pairs and
// allocations are counts and are the same on every machine; targets on time are judged only
// where i386 code runs natively (Emulation.h).
//
//   vrn3-bench [--quick] [--only PREFIX] [--json]
//     --quick: a tenth of the records, for CI; --only: just the scenarios whose names start
//     with PREFIX (for a profiler), without targets; --json: the same run as one JSON object on
//     standard output, instead of the tables.
#include "AllocCounter.h"
#include "Emulation.h"
#include "Floors.h"
#include "IdleThread.h"
#include "Report.h"
#include "Scenarios.h"

#include "host/CPluginLibrary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
    long scale = 10; // records are multiplied by this; --quick makes it 1
    std::string only;
    bool json = false;
};

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            options.scale = 1;
        else if (std::strcmp(argv[i], "--json") == 0)
            options.json = true;
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            options.only = argv[++i];
        else
            return false;
    }
    return true;
}

// The plug-in's factory; the library stays open for the life of the process.
CSoundChain::CreateBrickFn LoadPlugin()
{
    try {
        return (new CPluginLibrary(VRN3_PLUGIN_PATH))->Factory();
    } catch (const CPluginLibrary::Error& e) {
        std::fprintf(stderr, "vrn3-bench: %s: %s\n", VRN3_PLUGIN_PATH, e.what());
        return nullptr;
    }
}

std::vector<uint32_t> Payloads()
{
    std::vector<uint32_t> payloads;
    for (const Scenario& s : AllScenarios()) {
        if (std::find(payloads.begin(), payloads.end(), s.payload) == payloads.end())
            payloads.push_back(s.payload);
    }
    return payloads;
}

void RunScenarios(const Options& options, CSoundChain::CreateBrickFn create, Report& report)
{
    if (!options.json)
        report.PrintHeader();
    for (const Scenario& s : AllScenarios()) {
        if (std::strncmp(s.name, options.only.c_str(), options.only.size()) != 0)
            continue;
        report.Add(s, RunScenario(s, create, options.scale));
        if (!options.json) {
            report.PrintRow(s);
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--quick] [--only PREFIX] [--json]\n", argv[0]);
        return 2;
    }
    const CSoundChain::CreateBrickFn create = LoadPlugin();
    if (create == nullptr)
        return 1;
    const bool emulated = RunsEmulated();
    if (!options.json)
        std::printf("vrn3-bench: %s, %s, %s, allocation counting %s\n", options.scale == 1 ? "quick" : "full",
                    Flavour(), emulated ? "i386 emulated (times are the emulator's)" : "native",
                    alloccount::Enabled() ? "on" : "off (sanitizer build)");
    const Floors alone = Floors::Measure(Payloads(), options.scale);
    const IdleThread idle;
    Report report(alone, Floors::Measure(Payloads(), options.scale), emulated);
    if (!options.json)
        report.PrintFloors();
    RunScenarios(options, create, report);
    if (options.json)
        report.PrintJson();
    else
        report.PrintTargets();
    return 0;
}
