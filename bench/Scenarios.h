// The benchmark's scenarios: what each feeds through a CSoundChain, and the least work its rules
// force on a record.
//
// A, B, C: records of one payload in 1 or more fragments, with a chunk request outstanding
// throughout, so each record leaves at once. D: records held until a chunk request releases
// them, 30 a chunk between a "TagS" and a "TagF". E: independent chains on one and on two
// threads. F: a playback of one minute and of one hour (memory must stay flat). Input blocks are
// made before the clock starts and are shared, not copied, on every delivery.
#pragma once

#include "Measurement.h"
#include "SoundChain.h"

#include <cstdint>
#include <vector>

enum class ScenarioId { kA160, kA1K, kA4K, kB1K4, kC1, kC8, kC64, kD1K, kE1, kE2, kF1, kF60 };

struct Scenario {
    ScenarioId id;
    const char* name;
    uint32_t payload; // bytes of one record
    int fragments;    // fragments of one record (A, B, C)
    // The lock pairs and payload copies a record cannot go without, for the rule floor; 0 pairs
    // where the scenario's work is not only records (tags, requests, several threads).
    double forcedPairs;
    int forcedCopies;
};

// Every scenario, in the order they run and print.
const std::vector<Scenario>& AllScenarios();
const Scenario& ScenarioOf(ScenarioId id);
// Runs a scenario on chains made with `create`; `scale` multiplies its records.
Result RunScenario(const Scenario& scenario, CSoundChain::CreateBrickFn create, long scale);
// Feeds `records` records of a scenario (chunks of 30 where it plays chunks) through its chains
// once, unhashed, untimed and uncounted: the chain's own work and the loop that feeds it, for an
// instruction counter, which subtracts two such runs of different lengths.
void RunChainOnly(const Scenario& scenario, CSoundChain::CreateBrickFn create, uint64_t records);
