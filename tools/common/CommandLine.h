// CommandLine: the host programs' command lines, parsed by CLI11 but spoken in our own words.
//
// Every message is one line on stderr prefixed with the program's name; CLI11's own wording
// ("At Most 1 required but received 2") never shows. --help prints the program's own text and
// --version its name and version on standard output; a failure to write them is reported like
// any other (exit 4, one line). Names of files may not be empty (NonEmpty); numbers are checked
// on their text (WholeNumber). The CommandLine owns its CLI::App; options bind to the caller's
// variables, which outlive Parse.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

class CommandLine {
public:
    // `help`: the whole text --help prints; `usage`: the line printed, after the program's name,
    // when the input is missing.
    CommandLine(const std::string& program, const std::string& version, const std::string& help,
                const std::string& usage);

    CLI::App& App() { return mApp; }

    // Parses; returns -1 to go on with the run, else the exit code (help or version printed, or
    // the problem's line).
    int Parse(int argc, char** argv);
    // Prints "<program>: <message>" on stderr.
    void Say(const std::string& message) const;
    // Prints the usage line; returns the exit code of a wrong command line.
    int Usage() const;

    // Refuses an empty value (a file name, a plug-in).
    static CLI::Validator NonEmpty();
    // A whole decimal number in [low, high], checked on the text, before CLI11 converts it, so
    // "", "abc" and "1x" are refused by name instead of read as 0 or called out of range.
    static CLI::Validator WholeNumber(long low, long high);

private:
    int Print(const std::string& text, const char* what) const;
    std::string Reworded(const CLI::ParseError& error) const;
    std::string Extras(const std::string& shown) const;

    std::string mProgram, mVersion, mHelp, mUsage;
    bool mWantsHelp = false, mWantsVersion = false;
    CLI::App mApp;
};
