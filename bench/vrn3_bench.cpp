// vrn3-bench: what a record costs the sound brick, against the least its work can cost.
//
// Every scenario (Scenarios.h) drives a brick made by the plug-in's own CreateBrick (the library
// is opened with dlopen, as a host opens it) the way the host's synchronous pipeline does
// (SoundChain.h). Each prints its timing, the heap allocations and the host lock pairs it takes
// a record, its peak memory, its ratios to the floors (Floors.h) and the digest of its output
// (equal digests mean byte-identical output); the targets follow (Report.h). Floors are measured
// once in a one-thread process, then, as every scenario runs, with an idle second thread alive
// (IdleThread.h), between the scenario's own timed slices; ratios and targets are read on those.
// Only the floors of the selected scenarios' payloads are measured. Lock pairs and allocations
// are counts and are the same on every machine; targets on time are judged only where i386 code
// runs natively (Emulation.h).
//
//   vrn3-bench [--quick] [--only PREFIX] [--json] [--chain-instructions N] [--gstreamer-ns N]
//   vrn3-bench --instructions RECORDS [--only PREFIX]
//   vrn3-bench --list
//     --quick: a tenth of the records, for CI; --only: just the scenarios whose names start
//     with PREFIX, without targets; --json: the same run as one JSON object on standard output,
//     instead of the tables; --chain-instructions, --gstreamer-ns: the figures of the targets
//     measured outside (bench/count-instructions.sh, bench/gstreamer-compare.sh).
//     --instructions: only the chains, RECORDS records of each selected scenario, nothing
//     measured or printed, for an instruction counter (bench/count-instructions.sh).
//     --list: the scenarios' names, one a line.
#include "AllocCounter.h"
#include "Emulation.h"
#include "Floors.h"
#include "IdleThread.h"
#include "Report.h"
#include "Scenarios.h"

#include "../host/CPluginLibrary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The first byte of the program's image, placed by the linker.
extern "C" const char __executable_start;

namespace {

// Slices of each floor measured in the one-thread process.
constexpr int kAloneSamples = 6;

struct Options {
    long scale = 10; // records are multiplied by this; --quick makes it 1
    std::string only;
    bool json = false;
    bool list = false;
    unsigned long long chainOnlyRecords = 0; // --instructions
    double chainInstructions = NAN;
    double gstreamerNs = NAN;
};

// The number after an option, or false when there is none or it does not read as one.
bool Value(int argc, char** argv, int& i, double& out)
{
    if (i + 1 >= argc)
        return false;
    char* end = nullptr;
    out = std::strtod(argv[++i], &end);
    return *end == '\0' && out > 0;
}

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            options.scale = 1;
        else if (std::strcmp(argv[i], "--json") == 0)
            options.json = true;
        else if (std::strcmp(argv[i], "--list") == 0)
            options.list = true;
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            options.only = argv[++i];
        else if (std::strcmp(argv[i], "--chain-instructions") == 0 && Value(argc, argv, i, options.chainInstructions))
            continue;
        else if (std::strcmp(argv[i], "--gstreamer-ns") == 0 && Value(argc, argv, i, options.gstreamerNs))
            continue;
        else if (std::strcmp(argv[i], "--instructions") == 0 && i + 1 < argc)
            options.chainOnlyRecords = std::strtoull(argv[++i], nullptr, 10);
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

bool Selected(const Options& options, const Scenario& s)
{
    return std::strncmp(s.name, options.only.c_str(), options.only.size()) == 0;
}

// The payloads of the selected scenarios, each once.
std::vector<uint32_t> Payloads(const Options& options)
{
    std::vector<uint32_t> payloads;
    for (const Scenario& s : AllScenarios()) {
        if (Selected(options, s) && std::find(payloads.begin(), payloads.end(), s.payload) == payloads.end())
            payloads.push_back(s.payload);
    }
    return payloads;
}

void RunScenarios(const Options& options, CSoundChain::CreateBrickFn create, Report& report)
{
    if (!options.json)
        report.PrintHeader();
    for (const Scenario& s : AllScenarios()) {
        if (!Selected(options, s))
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
        std::fprintf(stderr,
                     "usage: %s [--quick] [--only PREFIX] [--json] [--chain-instructions N] [--gstreamer-ns N]\n"
                     "       %s --instructions RECORDS [--only PREFIX]\n       %s --list\n",
                     argv[0], argv[0], argv[0]);
        return 2;
    }
    if (options.list) {
        for (const Scenario& s : AllScenarios())
            std::printf("%s\n", s.name);
        return 0;
    }
    const CSoundChain::CreateBrickFn create = LoadPlugin();
    if (create == nullptr)
        return 1;
    if (options.chainOnlyRecords != 0) {
        // Where the program's own code lies, for a counter that sees only addresses (an
        // emulator's trace): its functions are the harness's.
        std::fprintf(stderr, "vrn3-bench: image at %p\n", static_cast<const void*>(&__executable_start));
        for (const Scenario& s : AllScenarios()) {
            if (Selected(options, s))
                RunChainOnly(s, create, options.chainOnlyRecords);
        }
        return 0;
    }
    const bool emulated = RunsEmulated();
    if (!options.json)
        std::printf("vrn3-bench: %s, %s, %s, allocation counting %s\n", options.scale == 1 ? "quick" : "full",
                    Flavour(), emulated ? "i386 emulated (times are the emulator's)" : "native",
                    alloccount::Enabled() ? "on" : "off (sanitizer build)");
    Report report(Floors::Measure(Payloads(options), kAloneSamples), emulated);
    report.SetChainInstructions(options.chainInstructions);
    report.SetGStreamerNs(options.gstreamerNs);
    const IdleThread idle;
    RunScenarios(options, create, report);
    if (options.json) {
        report.PrintJson();
    } else {
        report.PrintFloors();
        report.PrintTargets();
    }
    return 0;
}
