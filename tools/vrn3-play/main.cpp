// vrn3-play: plays an IMA ADPCM WAV file as a VRN3 archive through the sound stream plug-in and
// writes the sound the plug-in extracted as a WAV file.
//
// The command line is parsed with CLI11; the run itself is Player's. Every failure prints one
// line on stderr and exits with the code Failure.h names; success prints a summary (on stderr
// when the WAV itself goes to standard output). Nothing of the build tree is compiled in: the
// plug-in is found beside the program, as installed or as built.
#include "Failure.h"
#include "OutputFile.h"
#include "Player.h"
#include "Summary.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include <unistd.h>

namespace {

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  played; the output is written\n"
    "  2  the command line is wrong (or no input given)\n"
    "  3  the input is unreadable, not a WAV, not mono IMA ADPCM, or a pipe played backward\n"
    "  4  the output (or the trace, or the summary) cannot be written\n"
    "  5  the plug-in cannot be loaded, has no factory, or refused the configuration\n"
    "  6  the chosen stream carries no IMA ADPCM sound\n"
    "  7  the plug-in stopped answering or broke the protocol\n"
    "  8  out of memory\n"
    "  A run ended by SIGINT, SIGTERM or SIGHUP leaves no output file and dies of the signal.";

// in.wav -> in.extracted.wav, beside the input; standard input -> standard output.
std::string DefaultOutput(const std::string& input)
{
    if (input == "-")
        return "-";
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? input.substr(0, dot) : input) + ".extracted.wav";
}

// The plug-in beside this program: where an installed program has it, else where a build tree
// has it (the first that exists; the installed place when neither does).
std::string DefaultPlugin()
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return VRN3_PLUGIN_FROM_BIN;
    const std::string program(self, static_cast<size_t>(length));
    const std::string folder = program.substr(0, program.find_last_of('/') + 1);
    for (const char* relative : {VRN3_PLUGIN_FROM_BIN, VRN3_PLUGIN_FROM_BUILD}) {
        char* found = realpath((folder + relative).c_str(), nullptr);
        if (found != nullptr && access(found, R_OK) == 0) {
            const std::string path = found;
            std::free(found);
            return path;
        }
        std::free(found);
    }
    return folder + VRN3_PLUGIN_FROM_BIN;
}

// A check of a whole decimal number in [low, high] done on the text, before CLI11 converts it,
// so "", "abc" and "1x" are refused by name instead of read as 0 or called out of range.
CLI::Validator WholeNumber(long low, long high)
{
    return CLI::Validator(
        [low, high](std::string& text) {
            char* end = nullptr;
            errno = 0;
            const long value = std::strtol(text.c_str(), &end, 10);
            const bool number = !text.empty() && *end == '\0' && errno == 0 && text.find_first_of(" \t+") == std::string::npos;
            if (number && value >= low && value <= high)
                return std::string();
            return "'" + text + "' is not a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        },
        "NUMBER");
}

// The last resort when an exception leaves a brick's thread: no temporary file stays, and out
// of memory still gets its own code and message.
[[noreturn]] void OnTerminate()
{
    OutputFile::RemoveTemporary();
    const char* message = "vrn3-play: internal error: an exception left a thread\n";
    int code = kExitProtocol;
    try {
        if (std::current_exception())
            std::rethrow_exception(std::current_exception());
    } catch (const std::bad_alloc&) {
        message = "vrn3-play: out of memory\n";
        code = kExitMemory;
    } catch (...) {
    }
    if (write(STDERR_FILENO, message, std::strlen(message)) < 0)
        code = kExitProtocol;
    _exit(code);
}

// Runs the player; returns the exit code, with the failure's line printed.
int Run(const PlayOptions& options, PlayReport& report)
{
    try {
        report = Player(options).Run();
        return kExitOk;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "vrn3-play: %s\n", failure.what());
        return failure.Code();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vrn3-play: out of memory\n");
        return kExitMemory;
    } catch (const std::system_error& e) {
        const bool starved = e.code() == std::errc::resource_unavailable_try_again || e.code() == std::errc::not_enough_memory;
        std::fprintf(stderr, "vrn3-play: %s%s\n", starved ? "out of memory: " : "", e.what());
        return starved ? kExitMemory : kExitProtocol;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vrn3-play: %s\n", e.what());
        return kExitProtocol;
    }
}

// Prints the summary; a summary that cannot be written fails the run.
int PrintSummary(const PlayOptions& options, const PlayReport& report, bool quiet, bool verbose, bool json)
{
    const Summary summary(options, report);
    if (json)
        summary.PrintJson(stdout);
    else if (!quiet)
        summary.PrintText(options.output == "-" ? stderr : stdout, verbose);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vrn3-play: cannot write the summary: %s\n", std::strerror(errno));
        return kExitOutput;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    OutputFile::InstallSignalCleanup();
    std::set_terminate(OnTerminate);
    PlayOptions options;
    options.plugin = DefaultPlugin();
    options.fragment = 100;
    bool quiet = false, verbose = false, json = false;
    std::string trace, digests;
    CLI::App app{"Plays an IMA ADPCM WAV file (mono) as a VRN3 archive through the VRN3 sound stream plug-in\n"
                 "and writes the sound the plug-in extracted, in time order, as an IMA ADPCM WAV file.",
                 "vrn3-play"};
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "vrn3-play: " + std::string(e.what()) + " (see --help)\n";
    });
    app.footer(kExitCodes);
    app.set_version_flag("--version", "vrn3-play " VRN3_PLAY_VERSION);
    app.add_option("input", options.input, "IMA ADPCM WAV file to play; - reads standard input");
    app.add_option("-o,--output", options.output,
                   "WAV file to write; - writes standard output (default: <input>.extracted.wav, or - for -)");
    app.add_option("--plugin", options.plugin,
                   "plug-in library to load (default: the one installed beside the program, "
                   "../lib/i386-linux-gnu/vrn3/plugins/, or the one built beside it)");
    app.add_option("--stream", options.stream, "number of the stream the plug-in extracts (the archive's sound is 1)")
        ->default_str("1")
        ->check(WholeNumber(INT_MIN, INT_MAX));
    app.add_option("--fragment", options.fragment, "largest fragment payload in bytes, 0 for whole records")
        ->default_str("100")
        ->check(WholeNumber(0, UINT16_MAX));
    app.add_flag("--reverse", options.reverse, "play the archive backward (needs a file, not a pipe)");
    app.add_flag("--threaded", options.threaded, "run every brick on a thread of its own");
    app.add_flag("--trace{-}", trace,
                 "one line per block that crosses the plug-in brick's boundaries, on stderr or, with --trace=FILE, into FILE");
    app.add_option("--capture", options.capture,
                   "record every block that crosses the plug-in brick into FILE (pcapng; vrn3-replay replays it)");
    app.add_option("--digests", digests,
                   "write a framemd5 line for every block the plug-in sends downstream into FILE (- for standard output)");
    app.add_flag("-q,--quiet", quiet, "print nothing but errors");
    app.add_flag("-v,--verbose", verbose, "add the input's format and how the output was written to the summary");
    app.add_flag("--json", json, "print the summary as one JSON object on standard output");
    try {
        app.parse(argc, argv);
        if (options.input.empty())
            throw CLI::CallForHelp();
        if (json && options.output == "-")
            throw CLI::ValidationError("--json", "the summary and the WAV (-o -) cannot both go to standard output");
    } catch (const CLI::CallForHelp& e) {
        const bool asked = app.count("--help") > 0;
        std::string help = app.help();
        help.replace(help.find("--trace{-}"), 10, "--trace[=FILE]");
        std::fputs(help.c_str(), asked ? stdout : stderr);
        return asked ? kExitOk : kExitUsage;
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage; // --version, or the error's line
    }
    if (options.output.empty())
        options.output = DefaultOutput(options.input);
    std::FILE* traceFile = trace.empty() ? nullptr : trace == "-" ? stderr : std::fopen(trace.c_str(), "w");
    if (!trace.empty() && traceFile == nullptr) {
        std::fprintf(stderr, "vrn3-play: %s: cannot write the trace: %s\n", trace.c_str(), std::strerror(errno));
        return kExitOutput;
    }
    options.trace = traceFile;
    std::FILE* digestFile = digests.empty() ? nullptr : digests == "-" ? stdout : std::fopen(digests.c_str(), "w");
    if (!digests.empty() && digestFile == nullptr) {
        std::fprintf(stderr, "vrn3-play: %s: cannot write the digests: %s\n", digests.c_str(), std::strerror(errno));
        return kExitOutput;
    }
    options.digests = digestFile;
    options.progress = !quiet && isatty(STDERR_FILENO) && trace != "-"; // not into the trace
    PlayReport report;
    int code = Run(options, report);
    if (traceFile != nullptr && traceFile != stderr && std::fclose(traceFile) != 0 && code == kExitOk) {
        std::fprintf(stderr, "vrn3-play: %s: cannot write the trace: %s\n", trace.c_str(), std::strerror(errno));
        code = kExitOutput;
    }
    if (digestFile != nullptr && digestFile != stdout && std::fclose(digestFile) != 0 && code == kExitOk) {
        std::fprintf(stderr, "vrn3-play: %s: cannot write the digests: %s\n", digests.c_str(), std::strerror(errno));
        code = kExitOutput;
    }
    return code == kExitOk ? PrintSummary(options, report, quiet, verbose, json) : code;
}
