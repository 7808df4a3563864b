// The exit codes' rules, as both programs' help prints them.
#include "ExitCodes.h"

const char* ExitCodes::Rule(EExitCode code)
{
    switch (code) {
    case kExitOk: return "done: every output asked for is written and in place";
    case kExitUsage: return "the command line is wrong (an option, a value, or two outputs on one file); nothing done";
    case kExitInput: return "the input cannot be read, is not what the program takes, or is cut short";
    case kExitOutput: return "an output (a file, standard output, the spool) cannot be written";
    case kExitPlugin: return "the plug-in cannot be loaded, has no factory, or refused the configuration";
    case kExitNoSound: return "the chosen stream carries no IMA ADPCM sound";
    case kExitProtocol: return "the plug-in stopped answering or broke the protocol";
    case kExitMemory: return "out of memory";
    case kExitDiffers: return "the replay differs: the first differing block is printed (its outputs are written)";
    }
    return "";
}

std::string ExitCodes::Table(std::initializer_list<EExitCode> codes)
{
    std::string table = "Exit codes (any but 0 and 9 leaves every file the run would replace as it was):\n";
    for (EExitCode code : codes)
        table += "  " + std::to_string(static_cast<int>(code)) + "  " + Rule(code) + "\n";
    return table;
}
