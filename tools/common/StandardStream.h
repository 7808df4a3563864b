// StandardStream: the name "-" that stands for standard input (where a program reads) or standard
// output (where it writes) on the command lines of the host programs, and the words messages use
// for those streams. Every program and the output plan ask here; none compares the name itself.
// Static functions only: nothing lives or dies.
#pragma once

#include <string>

class StandardStream {
public:
    // The name a command line gives a standard stream.
    static constexpr const char* kName = "-";

    // Whether `path` names the standard stream rather than a file.
    static bool Named(const std::string& path) { return path == kName; }
    // The name messages use for a file read: `path`, or "standard input".
    static std::string InputName(const std::string& path);
    // The name messages use for a file written: `path`, or "standard output".
    static std::string OutputName(const std::string& path);
    // The words for standard output, where a message or a summary names it.
    static constexpr const char* kOutputWords = "standard output";
};
