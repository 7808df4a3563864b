// Report: the benchmark's figures as a text table or as one JSON object, and its targets.
//
// It is given the floors and, one by one as they finish, the scenarios' results, keyed by
// scenario. Targets are read only when every scenario ran. A target on time (a ratio of
// timings) is judged only where i386 code runs natively; in an emulated run it reads "not judged
// (emulated)". Counts (lock pairs, allocations) and memory are judged everywhere.
#pragma once

#include "Floors.h"
#include "Scenarios.h"

#include <map>
#include <string>
#include <vector>

class Report {
public:
    struct Target {
        std::string name;
        double value;
        double limit;
        bool atMost;  // met when value <= limit, else when value >= limit
        bool onTime;  // judged only natively
        std::string verdict;
    };

    Report(const Floors& alone, const Floors& threaded, bool emulated);

    void Add(const Scenario& scenario, const Result& result);

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

    Floors mAlone;    // measured with the process's one thread
    Floors mThreaded; // with an idle second thread alive, as the scenarios run
    bool mEmulated;
    std::map<ScenarioId, Result> mResults;
};
