// Failure: the one way vrn3-play reports a problem that ends the run.
//
// Every unit throws a Failure with a one-line message and the exit code that names the kind of
// problem; main prints the message on stderr and returns the code. Nothing else is thrown on
// purpose (std::bad_alloc is, by the library), so a run ends with exactly one line of explanation.
#pragma once

#include <stdexcept>
#include <string>

// Exit codes of the program, one per kind of problem, so scripts can tell them apart.
enum EExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,      // the command line is wrong
    kExitInput = 3,      // the input is unreadable, not a WAV, or not mono IMA ADPCM
    kExitOutput = 4,     // the output cannot be written
    kExitPlugin = 5,     // the plug-in cannot be loaded, has no factory, or refused the configuration
    kExitNoSound = 6,    // the chosen stream carries no IMA ADPCM sound
    kExitProtocol = 7,   // the plug-in stopped answering before the end of the stream
    kExitMemory = 8,     // out of memory
};

class Failure : public std::runtime_error {
public:
    Failure(EExitCode code, const std::string& message) : std::runtime_error(message), mCode(code) {}
    EExitCode Code() const { return mCode; }

private:
    EExitCode mCode;
};
