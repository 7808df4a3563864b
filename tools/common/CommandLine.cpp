// Parsing with CLI11, answering in our words, and writing --help and --version with their checks.
#include "CommandLine.h"

#include "ExitCodes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CommandLine::CommandLine(const std::string& program, const std::string& version, const std::string& help,
                         const std::string& usage)
    : mProgram(program), mVersion(version), mHelp(help), mUsage(usage), mApp("", program)
{
    mApp.set_help_flag();
    mApp.add_flag("-h,--help", mWantsHelp);
    mApp.add_flag("--version", mWantsVersion);
}

int CommandLine::Parse(int argc, char** argv)
{
    try {
        mApp.parse(argc, argv);
    } catch (const CLI::RequiredError&) {
        if (!mWantsHelp && !mWantsVersion) // a missing input does not stop --help or --version
            return Usage();
    } catch (const CLI::ParseError& e) {
        Say(Reworded(e) + " (see --help)");
        return kExitUsage;
    }
    if (mWantsHelp)
        return Print(mHelp, "the help");
    if (mWantsVersion)
        return Print(mProgram + " " + mVersion + "\n", "the version");
    return -1;
}

int CommandLine::Usage() const
{
    Say(mUsage);
    return kExitUsage;
}

void CommandLine::Say(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\n", mProgram.c_str(), message.c_str());
}

int CommandLine::Print(const std::string& text, const char* what) const
{
    errno = 0;
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0)
        return kExitOk;
    Say(std::string("cannot write ") + what + ": " + std::strerror(errno != 0 ? errno : EIO));
    return kExitOutput;
}

// The words left over, in the order given: CLI11's message lists them backward and with the "--"
// that ended the options; `shown` (its list) is the fallback when none is kept.
std::string CommandLine::Extras(const std::string& shown) const
{
    std::string words;
    for (const std::string& word : mApp.remaining()) {
        if (word != "--")
            words += (words.empty() ? "" : " ") + word;
    }
    return words.empty() ? shown : words;
}

// CLI11's message of a parse error in our words. Its messages start with the option's name and a
// colon where there is one.
std::string CommandLine::Reworded(const CLI::ParseError& error) const
{
    const std::string text = error.what();
    const size_t colon = text.find(": ");
    const std::string name = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? "" : text.substr(colon + 2);
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr)
        return "unexpected argument: " + Extras(rest);
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr)
        return text.find("At Most") != std::string::npos ? name + " given more than once" : name + " needs a value";
    return text; // a refused value: the validator's words after the option's name
}

CLI::Validator CommandLine::NonEmpty()
{
    return CLI::Validator(
        [](std::string& text) { return text.empty() ? std::string("an empty name; give a file") : std::string(); },
        "NAME");
}

CLI::Validator CommandLine::WholeNumber(long low, long high)
{
    return CLI::Validator(
        [low, high](std::string& text) {
            char* end = nullptr;
            errno = 0;
            const long value = std::strtol(text.c_str(), &end, 10);
            const bool number =
                !text.empty() && *end == '\0' && errno == 0 && text.find_first_of(" \t+") == std::string::npos;
            if (number && value >= low && value <= high)
                return std::string();
            return "'" + text + "' is not a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        },
        "NUMBER");
}
