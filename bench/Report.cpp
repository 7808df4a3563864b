// The benchmark's report (see Report.h).
#include "Report.h"

#include "Emulation.h"
#include "../tools/common/JsonWriter.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Lock pairs a record that the rules allow at the most, and the timing ratios asked for.
constexpr double kMaxPairsA160 = 9;
constexpr double kMaxPairsB = 19;
constexpr double kMaxPairsC64 = 140;
constexpr double kMaxRuleRatio = 1.25;
constexpr double kMaxFragmentCost = 4.0;
constexpr double kMinTwoThreads = 0.8;
constexpr double kMaxHourGrowth = 1.05;
constexpr double kMaxChainInstructions = 900;
constexpr double kMaxOfGStreamer = 0.20;

} // namespace

Report::Report(const Floors& alone, bool emulated) : mAlone(alone), mEmulated(emulated) {}

void Report::Add(const Scenario& scenario, const Result& result)
{
    mResults[scenario.id] = result;
}

const Result& Report::Of(ScenarioId id) const
{
    const auto found = mResults.find(id);
    if (found == mResults.end()) {
        std::fprintf(stderr, "vrn3-bench: scenario \"%s\" did not run\n", ScenarioOf(id).name);
        std::abort();
    }
    return found->second;
}

bool Report::Complete() const
{
    return mResults.size() == AllScenarios().size();
}

double Report::RuleRatio(const Scenario& scenario, const Result& result) const
{
    if (scenario.forcedPairs == 0)
        return NAN;
    return result.nsPerRecord /
           result.floors.RuleFloorNs(scenario.payload, scenario.forcedPairs, scenario.forcedCopies);
}

// The fastest of the floors measured beside the scenarios, and those of the one-thread process.
void Report::PrintFloors() const
{
    Floors threaded;
    for (const auto& scenario : mResults)
        threaded.Merge(scenario.second.floors);
    std::printf("\nfloors (ns per record)   payload   pooled buffer   memcpy   pooled, one-thread process\n");
    for (const Floors::Copy& copy : threaded.Copies())
        std::printf("%-24s %7u %15.1f %8.1f %26.1f\n", "", copy.payload, copy.pooledNs, copy.memcpyNs,
                    mAlone.For(copy.payload).pooledNs);
    std::printf("one uncontended lock pair through the host library: %.1f ns (one-thread process: %.1f ns)\n",
                threaded.LockPairNs(), mAlone.LockPairNs());
}

void Report::PrintHeader() const
{
    std::printf("\n%-34s %9s %10s %12s %10s %10s %11s %10s %8s %8s %8s  %s\n", "scenario", "records", "ns/record",
                "records/s", "allocs/rec", "pairs/rec", "peak KiB", "VmHWM KiB", "xpool", "xmemcpy", "xrule", "digest");
}

void Report::PrintRow(const Scenario& scenario) const
{
    const Result& r = Of(scenario.id);
    const Floors::Copy& copy = r.floors.For(scenario.payload);
    char rule[16] = "-";
    if (scenario.forcedPairs != 0)
        std::snprintf(rule, sizeof rule, "%.2f", RuleRatio(scenario, r));
    std::printf("%-34s %9" PRIu64 " %10.1f %12.0f %10.4f %10.2f %11.1f %10ld %8.2f %8.2f %8s  %016" PRIx64 "\n",
                scenario.name, r.records, r.nsPerRecord, 1e9 / r.nsPerRecord, r.allocsPerRecord, r.lockPairsPerRecord,
                r.peakBytes / 1024.0, r.hwmKiB, r.nsPerRecord / copy.pooledNs, r.nsPerRecord / copy.memcpyNs, rule,
                r.digest);
}

Report::Target Report::Judged(const std::string& name, double value, double limit, bool atMost, bool onTime) const
{
    Target t{name, value, limit, atMost, onTime, ""};
    if (std::isnan(value))
        t.verdict = "not measured";
    else if (onTime && mEmulated)
        t.verdict = "not judged (emulated)";
    else
        t.verdict = (atMost ? value <= limit : value >= limit) ? "met" : "missed";
    return t;
}

std::vector<Report::Target> Report::Targets() const
{
    if (!Complete())
        return {};
    const auto ratio = [&](ScenarioId id) { return RuleRatio(ScenarioOf(id), Of(id)); };
    const auto pairs = [&](ScenarioId id) { return Of(id).lockPairsPerRecord; };
    double allocs = 0;
    for (ScenarioId id : {ScenarioId::kA160, ScenarioId::kA1K, ScenarioId::kA4K, ScenarioId::kB1K4, ScenarioId::kD1K})
        allocs = std::max(allocs, Of(id).allocsPerRecord);
    const double fragmentCost = Of(ScenarioId::kC64).nsPerRecord / Of(ScenarioId::kC64).wholeNsPerRecord;
    // Records a second of two chains, each thread on a core of its own, against one chain's: both
    // from CPU time a record, so that a busy machine does not decide it. 2 when the chains never
    // slow each other down; they share each record type's pool, so they do.
    const double twoThreads = 2 * Of(ScenarioId::kE1).nsPerRecord / Of(ScenarioId::kE2).nsPerRecord;
    const double hourGrowth =
        static_cast<double>(Of(ScenarioId::kF60).peakBytes) / static_cast<double>(Of(ScenarioId::kF1).peakBytes);
    return {
        Judged("lock pairs a record, A 160 B", pairs(ScenarioId::kA160), kMaxPairsA160, true, false),
        Judged("lock pairs a record, B 1 KiB in 4", pairs(ScenarioId::kB1K4), kMaxPairsB, true, false),
        Judged("lock pairs a record, C 64 KiB in 64", pairs(ScenarioId::kC64), kMaxPairsC64, true, false),
        Judged("allocations a record, A B D", allocs, 0, true, false),
        Judged("F peak hour / peak minute", hourGrowth, kMaxHourGrowth, true, false),
        Judged("A 160 B / rule floor", ratio(ScenarioId::kA160), kMaxRuleRatio, true, true),
        Judged("A 1 KiB / rule floor", ratio(ScenarioId::kA1K), kMaxRuleRatio, true, true),
        Judged("C ns/byte 64 frags / 1 frag", fragmentCost, kMaxFragmentCost, true, true),
        Judged("E two chains / one, records a second", twoThreads, kMinTwoThreads, false, true),
        Judged("A 160 B chain instructions a record", mChainInstructions, kMaxChainInstructions, true, false),
        Judged("A 160 B / GStreamer identity buffer", Of(ScenarioId::kA160).nsPerRecord / mGStreamerNs, kMaxOfGStreamer,
               true, true),
    };
}

void Report::PrintTargets() const
{
    const std::vector<Target> targets = Targets();
    if (targets.empty())
        return;
    std::printf("\ntargets (threaded process, %s flavour, %s, on %s)\n", Flavour(),
                mEmulated ? "emulated: time not judged" : "native", MachineName().c_str());
    for (const Target& t : targets) {
        char value[32] = "-";
        if (!std::isnan(t.value))
            std::snprintf(value, sizeof value, "%.4f", t.value);
        std::printf("  %-36s %10s  %-22s %s %.2f\n", t.name.c_str(), value, t.verdict.c_str(),
                    t.atMost ? "at most" : "at least", t.limit);
    }
}

void Report::PrintJson() const
{
    std::vector<std::string> scenarios;
    for (const Scenario& s : AllScenarios()) {
        const auto found = mResults.find(s.id);
        if (found == mResults.end())
            continue;
        const Result& r = found->second;
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016" PRIx64, r.digest);
        JsonWriter scenario;
        scenario.String("name", s.name)
            .Real("ns_per_record", r.nsPerRecord)
            .Real("lock_pairs_per_record", r.lockPairsPerRecord)
            .Real("allocs_per_record", r.allocsPerRecord)
            .Real("rule_floor_ratio", RuleRatio(s, r))
            .String("digest", digest);
        scenarios.push_back(scenario.Text());
    }
    std::vector<std::string> targets;
    for (const Target& t : Targets()) {
        JsonWriter target;
        target.String("name", t.name).Real("value", t.value).Real("limit", t.limit).String("verdict", t.verdict);
        targets.push_back(target.Text());
    }
    JsonWriter report;
    report.String("flavour", Flavour())
        .String("machine", MachineName())
        .Bool("emulated", mEmulated)
        .Raw("scenarios", JsonWriter::Array(scenarios, "  "))
        .Raw("targets", JsonWriter::Array(targets, "  "));
    std::printf("%s\n", report.Lines().c_str());
}
