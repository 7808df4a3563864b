// ExitCodes: the one table of exit codes of the host programs (vrn3-play, vrn3-replay), so that
// scripts can tell the kinds of problem apart. The rule each code promises is worded once, in
// Rule, and the rule every code but 0 and the verdicts (9, 10) shares (every file the run would replace is as it
// was) heads Table; both programs print those words in their help, listing every code they can
// return, and their manual pages list the same codes.
#pragma once

#include <initializer_list>
#include <string>

// The codes; what each promises is ExitCodes::Rule's.
enum EExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitInput = 3,
    kExitOutput = 4,
    kExitPlugin = 5,
    kExitNoSound = 6,
    kExitProtocol = 7, // also what Report gives any failure no other code names
    kExitMemory = 8,
    kExitDiffers = 9,     // a verdict, not a failure
    kExitViolations = 10, // a verdict, not a failure
};

class ExitCodes {
public:
    // The help text's table of `codes`, one line each ("  3  the rule"), after a heading with the
    // rule they share.
    static std::string Table(std::initializer_list<EExitCode> codes);
    // The rule of one code.
    static const char* Rule(EExitCode code);
    // Called in a catch block: prints "<program>: <message>" for the exception being handled
    // (a Failure, running out of memory or threads, any other std::exception) and returns its
    // code.
    static int Report(const char* program);
};
