// ExitCodes: the one table of exit codes of the host programs (vrn3-play, vrn3-replay), each with
// the rule it promises, so that scripts can tell the kinds of problem apart and both programs
// print the same words in their help.
//
// The rule that holds for every code but 0 (and 9, a verdict): the run's outputs that replace
// files are not in place; every old file is as it was. 0 and 9: everything asked for is written
// and in place.
#pragma once

#include <initializer_list>
#include <string>

enum EExitCode : int {
    kExitOk = 0,       // done: everything asked for is written and in place
    kExitUsage = 2,    // the command line is wrong: nothing was read or written
    kExitInput = 3,    // the input (a WAV, a capture) is unreadable, damaged or cut short
    kExitOutput = 4,   // an output (a file, standard output, the spool) cannot be written
    kExitPlugin = 5,   // the plug-in cannot be loaded, has no factory, or refused the configuration
    kExitNoSound = 6,  // the chosen stream carries no IMA ADPCM sound
    kExitProtocol = 7, // the plug-in stopped answering or broke the protocol
    kExitMemory = 8,   // out of memory
    kExitDiffers = 9,  // a replay's verdict: the brick sent other blocks than the capture holds
};

class ExitCodes {
public:
    // The help text's table of `codes`, one line each ("  3  the rule"), after a heading.
    static std::string Table(std::initializer_list<EExitCode> codes);
    // The rule of one code.
    static const char* Rule(EExitCode code);
    // Called in a catch block: prints "<program>: <message>" for the exception being handled
    // (a Failure, running out of memory or threads, any other std::exception) and returns its
    // code.
    static int Report(const char* program);
};
