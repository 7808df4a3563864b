// Summary: what a successful run prints: a few aligned lines for people, or one JSON object for
// programs (JsonWriter's). The verbose text adds the input's format.
//
// A Summary is a short-lived view of the options and the report of one run; it owns nothing.
#pragma once

#include "Player.h"

#include <cstdio>
#include <string>

class Summary {
public:
    Summary(const PlayOptions& options, const PlayReport& report) : mOptions(options), mReport(report) {}

    void PrintText(std::FILE* out, bool verbose) const;
    void PrintJson(std::FILE* out) const;

private:
    std::string StreamLine() const;
    void PrintInput(std::FILE* out) const;

    const PlayOptions& mOptions;
    const PlayReport& mReport;
};
