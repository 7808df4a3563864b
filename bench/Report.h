// Report: the benchmark's figures as a text table or as one JSON object, and its targets.
//
// It is given the floors of the one-thread process and, one by one as they finish, the scenarios'
// results, keyed by scenario, each with the floors measured beside it: a scenario's ratios are
// read on its own floors. Figures measured outside the benchmark (the chain's instructions a
// record, GStreamer's CPU a buffer) may be given for their targets; a target without its figure
// reads "not measured". Targets are read only when every scenario ran. A target on time (a ratio of
// timings) is judged only where i386 code runs natively; in an emulated run it reads "not judged
// (emulated)". Counts (lock pairs, allocations) and memory are judged everywhere.
#pragma once

#include "Floors.h"
#include "Scenarios.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

class Report {
public:
    struct Target {
        std::string name;
        double value;
        double limit;
        bool atMost; // met when value <= limit, else when value >= limit
        bool onTime; // judged only natively
        std::string verdict;
    };

    Report(const Floors& alone, bool emulated);

    void Add(const Scenario& scenario, const Result& result);
    // Instructions a record of scenario A 160 B's chain alone (bench/count-instructions.sh).
    void SetChainInstructions(double perRecord) { mChainInstructions = perRecord; }
    // CPU ns a buffer of GStreamer's fakesrc ! identity ! fakesink (bench/gstreamer-compare.sh).
    void SetGStreamerNs(double perBuffer) { mGStreamerNs = perBuffer; }

    void PrintFloors() const;
    void PrintHeader() const;
    void PrintRow(const Scenario& scenario) const;
    void PrintTargets() const;
    void PrintJson() const;

private:
    const Result& Of(ScenarioId id) const;
    bool Complete() const;
    double RuleRatio(const Scenario& scenario, const Result& result) const;
    std::vector<Target> Targets() const;
    Target Judged(const std::string& name, double value, double limit, bool atMost, bool onTime) const;

    Floors mAlone; // measured with the process's one thread
    bool mEmulated;
    double mChainInstructions = NAN;
    double mGStreamerNs = NAN;
    std::map<ScenarioId, Result> mResults;
};
