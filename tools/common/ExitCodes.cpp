// The exit codes' rules, worded once, as both programs' help prints them.
#include "ExitCodes.h"

#include "Failure.h"

#include <cstdio>
#include <exception>
#include <new>
#include <system_error>

const char* ExitCodes::Rule(EExitCode code)
{
    switch (code) {
    case kExitOk:
        return "done: every output asked for is written and in place";
    case kExitUsage:
        return "the command line is wrong (an option, a value, or two outputs on one file); nothing done";
    case kExitInput:
        return "the input cannot be read, is not what the program takes, or is cut short";
    case kExitOutput:
        return "an output (a file, standard output, the spool) cannot be written";
    case kExitPlugin:
        return "the plug-in cannot be loaded, has no factory, or refused the configuration";
    case kExitNoSound:
        return "the chosen stream carries no IMA ADPCM sound";
    case kExitProtocol:
        return "the plug-in stopped answering or broke the protocol, or the run failed in a way no other code names";
    case kExitMemory:
        return "out of memory";
    case kExitDiffers:
        return "the replay differs: the first differing block is printed (its outputs are written)";
    case kExitViolations:
        return "the brick broke the framework's rules (--validate): each violation is printed (its outputs are "
               "written)";
    }
    return ""; // GCOVR_EXCL_LINE: every code is a case above; the compiler wants a return after the switch
}

std::string ExitCodes::Table(std::initializer_list<EExitCode> codes)
{
    std::string verdicts;
    for (EExitCode code : codes)
        if (code == kExitDiffers || code == kExitViolations)
            verdicts += " and " + std::to_string(static_cast<int>(code));
    std::string table = "Exit codes (any but 0" + verdicts + " leaves every file the run would replace as it was):\n";
    for (EExitCode code : codes)
        table += "  " + std::to_string(static_cast<int>(code)) + "  " + Rule(code) + "\n";
    return table;
}

int ExitCodes::Report(const char* program)
{
    try {
        throw;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s: %s\n", program, failure.what());
        return failure.Code();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", program);
        return kExitMemory;
    } catch (const std::system_error& e) {
        const bool starved =
            e.code() == std::errc::resource_unavailable_try_again || e.code() == std::errc::not_enough_memory;
        std::fprintf(stderr, "%s: %s%s\n", program, starved ? "out of memory: " : "", e.what());
        return starved ? kExitMemory : kExitProtocol;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return kExitProtocol;
    }
}
