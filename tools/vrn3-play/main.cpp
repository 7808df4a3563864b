// vrn3-play: plays an IMA ADPCM WAV file as a VRN3 archive through the sound stream plug-in and
// writes the sound the plug-in extracted as a WAV file.
//
// The command line is parsed with CLI11; the run itself is Player's. Every failure prints one
// line on stderr and exits with the code Failure.h names; success prints a summary (on stderr
// when the WAV itself goes to standard output). The exit code tells the truth: the new output
// takes the target's place only after the trace and the summary are written, so a non-zero
// code means the target is as it was, and 0 that everything asked for was written. Nothing of
// the build tree is compiled in: the plug-in is found beside the program, as installed or as built.
#include "DeathCleanup.h"
#include "Failure.h"
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

const char* const kUsage = "Usage: vrn3-play [OPTIONS] INPUT.wav [-o OUTPUT.wav]   (vrn3-play --help tells more)\n";

const char* const kHelp =
    "Usage: vrn3-play [OPTIONS] INPUT.wav [-o OUTPUT.wav]\n"
    "\n"
    "Plays a mono IMA ADPCM WAV file as a VRN3 archive through the VRN3 sound stream plug-in and\n"
    "writes the sound the plug-in extracted, in time order, as an IMA ADPCM WAV file.\n"
    "\n"
    "  INPUT.wav          the WAV file to play; - reads standard input\n"
    "  -o, --output FILE  where the WAV goes; - is standard output\n"
    "                     (default: INPUT.extracted.wav beside the input, or - for -)\n"
    "  --plugin FILE      the plug-in library to load (default: the one installed beside the\n"
    "                     program, ../lib/i386-linux-gnu/vrn3/plugins/, or the one built beside it)\n"
    "  --stream N         the number of the stream the plug-in extracts (default 1, the sound)\n"
    "  --fragment BYTES   the largest fragment payload, 0 to 65535, 0 for whole records (default 100)\n"
    "  --reverse          play the archive backward (needs a file, not a pipe)\n"
    "  --threaded         run every brick on a thread of its own\n"
    "  --trace[=FILE]     one line per block crossing the plug-in brick's boundaries, on stderr or into FILE\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -v, --verbose      add the input's format to the summary\n"
    "  --json             print the summary as one JSON object on standard output\n"
    "  -h, --help         print this and stop\n"
    "  --version          print the version and stop\n"
    "\n"
    "The spool of the extracted sound goes to $TMPDIR, or /tmp.\n"
    "\n"
    "Exit codes (anything but 0 leaves the output file as it was):\n"
    "  0  played; the output, the trace and the summary are written\n"
    "  2  the command line is wrong (or no input given)\n"
    "  3  the input is unreadable, not a WAV, not mono IMA ADPCM, cut short, or a pipe played backward\n"
    "  4  the output (or the trace, or the summary, or the spool) cannot be written\n"
    "  5  the plug-in cannot be loaded, has no factory, or refused the configuration\n"
    "  6  the chosen stream carries no IMA ADPCM sound\n"
    "  7  the plug-in stopped answering or broke the protocol\n"
    "  8  out of memory\n"
    "  A run ended by a signal dies of it and leaves no file behind.\n";

// What the command line asks beyond the player's options.
struct Settings {
    PlayOptions options;
    bool quiet = false, verbose = false, json = false;
    std::string trace; // empty: none; "-": stderr; else a file
};

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

// The last resort when an exception leaves a brick's thread: the target stays as it was, and
// out of memory still gets its own code and message.
[[noreturn]] void OnTerminate()
{
    DeathCleanup::RemoveNow();
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

// Runs `step`; returns the exit code, with the failure's line printed.
template <typename Step> int Guarded(Step step)
{
    try {
        step();
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

// Parses the command line into `settings`; returns -1 to play, else the code to exit with.
int Parse(int argc, char** argv, Settings& settings)
{
    PlayOptions& options = settings.options;
    CLI::App app{"", "vrn3-play"};
    app.set_help_flag();
    bool help = false;
    app.add_flag("-h,--help", help);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "vrn3-play: " + std::string(e.what()) + " (see --help)\n";
    });
    app.set_version_flag("--version", "vrn3-play " VRN3_PLAY_VERSION);
    app.add_option("input", options.input);
    app.add_option("-o,--output", options.output);
    app.add_option("--plugin", options.plugin);
    app.add_option("--stream", options.stream)->check(WholeNumber(INT_MIN, INT_MAX));
    app.add_option("--fragment", options.fragment)->check(WholeNumber(0, UINT16_MAX));
    app.add_flag("--reverse", options.reverse);
    app.add_flag("--threaded", options.threaded);
    app.add_flag("--trace{-}", settings.trace);
    app.add_flag("-q,--quiet", settings.quiet);
    app.add_flag("-v,--verbose", settings.verbose);
    app.add_flag("--json", settings.json);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage; // --version, or the error's line
    }
    if (help)
        return std::fputs(kHelp, stdout) < 0 || std::fflush(stdout) != 0 ? kExitOutput : kExitOk;
    if (options.input.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (settings.json && options.output == "-") {
        std::fprintf(stderr, "vrn3-play: --json: the summary and the WAV (-o -) cannot both go to standard output\n");
        return kExitUsage;
    }
    return -1;
}

// Opens the trace; returns whether it could be.
bool OpenTrace(Settings& settings)
{
    const std::string& trace = settings.trace;
    settings.options.trace = trace.empty() ? nullptr : trace == "-" ? stderr : std::fopen(trace.c_str(), "w");
    if (!trace.empty() && settings.options.trace == nullptr) {
        std::fprintf(stderr, "vrn3-play: %s: cannot write the trace: %s\n", trace.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Finishes the trace: every line of it written, or kExitOutput.
int FinishTrace(const Settings& settings)
{
    std::FILE* out = settings.options.trace;
    if (out == nullptr)
        return kExitOk;
    const bool written = out == stderr ? std::fflush(stderr) == 0 && !std::ferror(stderr) : std::fclose(out) == 0;
    if (written)
        return kExitOk;
    std::fprintf(stderr, "vrn3-play: %s: cannot write the trace: %s\n", settings.trace == "-" ? "standard error" : settings.trace.c_str(),
                 std::strerror(errno != 0 ? errno : EIO));
    return kExitOutput;
}

// Prints the summary; a summary that cannot be written fails the run.
int PrintSummary(const Settings& settings, const PlayReport& report)
{
    const Summary summary(settings.options, report);
    if (settings.json)
        summary.PrintJson(stdout);
    else if (!settings.quiet)
        summary.PrintText(settings.options.output == "-" ? stderr : stdout, settings.verbose);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vrn3-play: cannot write the summary: %s\n", std::strerror(errno));
        return kExitOutput;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    DeathCleanup::MakeStandardDescriptorsValid();
    DeathCleanup::Install();
    std::set_terminate(OnTerminate);
    Settings settings;
    settings.options.plugin = DefaultPlugin();
    settings.options.fragment = 100;
    const int parsed = Parse(argc, argv, settings);
    if (parsed >= 0)
        return parsed;
    PlayOptions& options = settings.options;
    if (options.output.empty())
        options.output = DefaultOutput(options.input);
    if (!OpenTrace(settings))
        return kExitOutput;
    options.progress = !settings.quiet && isatty(STDERR_FILENO) && settings.trace != "-"; // not into the trace
    Player player(options);
    PlayReport report;
    int code = Guarded([&] { report = player.Run(); });
    const int traced = FinishTrace(settings); // the trace file is closed whatever happened
    code = code != kExitOk ? code : traced != kExitOk ? traced : PrintSummary(settings, report);
    return code != kExitOk ? code : Guarded([&] { player.Commit(); });
}
