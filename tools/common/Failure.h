// Failure: the one way a host program reports a problem that ends the run.
//
// Every unit throws a Failure with a one-line message and the exit code (ExitCodes.h) that names
// the kind of problem; main prints the message on stderr, prefixed with the program's name, and
// returns the code. Nothing else is thrown on purpose (std::bad_alloc is, by the library), so a
// run ends with exactly one line of explanation.
#pragma once

#include "ExitCodes.h"

#include <stdexcept>
#include <string>

class Failure : public std::runtime_error {
public:
    Failure(EExitCode code, const std::string& message) : std::runtime_error(message), mCode(code) {}
    EExitCode Code() const { return mCode; }

private:
    EExitCode mCode;
};
