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
#include "PluginLibrary.h"
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
    "  --capture FILE     record every block crossing the plug-in brick into FILE (pcapng; vrn3-replay\n"
    "                     replays it, Wireshark reads it)\n"
    "  --digests FILE     one framemd5 line per block the plug-in sends downstream (index, type, time,\n"
    "                     size, MD5) into FILE; - is standard output\n"
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
    "  4  the output (or the trace, the capture, the digests, the summary, the spool) cannot be written\n"
    "  5  the plug-in cannot be loaded, has no factory, or refused the configuration\n"
    "  6  the chosen stream carries no IMA ADPCM sound\n"
    "  7  the plug-in stopped answering or broke the protocol\n"
    "  8  out of memory\n"
    "  A run ended by a signal dies of it and leaves no file behind.\n";

// What the command line asks beyond the player's options.
struct Settings {
    PlayOptions options;
    bool quiet = false, verbose = false, json = false;
    std::string trace;   // empty: none; "-": stderr; else a file
    std::string digests; // empty: none; "-": stdout; else a file
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
    app.add_option("--capture", options.capture);
    app.add_option("--digests", settings.digests);
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

// Opens a listing the command line asked for (the trace, the digests): none when `name` is empty,
// `dash` for "-", else the file of that name, created or emptied.
bool OpenListing(const std::string& name, std::FILE* dash, const char* what, std::FILE*& out)
{
    out = name.empty() ? nullptr : name == "-" ? dash : std::fopen(name.c_str(), "w");
    if (!name.empty() && out == nullptr) {
        std::fprintf(stderr, "vrn3-play: %s: cannot write the %s: %s\n", name.c_str(), what, std::strerror(errno));
        return false;
    }
    return true;
}

// Finishes a listing: every line of it written, or kExitOutput.
int FinishListing(const std::string& name, std::FILE* out, const char* what)
{
    if (out == nullptr)
        return kExitOk;
    const bool standard = out == stderr || out == stdout;
    const bool written = standard ? std::fflush(out) == 0 && !std::ferror(out) : std::fclose(out) == 0;
    if (written)
        return kExitOk;
    std::fprintf(stderr, "vrn3-play: %s: cannot write the %s: %s\n",
                 !standard ? name.c_str() : out == stderr ? "standard error" : "standard output", what,
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
    settings.options.plugin = PluginLibrary::BesideProgram();
    settings.options.fragment = 100;
    const int parsed = Parse(argc, argv, settings);
    if (parsed >= 0)
        return parsed;
    PlayOptions& options = settings.options;
    if (options.output.empty())
        options.output = DefaultOutput(options.input);
    if (!OpenListing(settings.trace, stderr, "trace", options.trace) ||
        !OpenListing(settings.digests, stdout, "digests", options.digests))
        return kExitOutput;
    options.progress = !settings.quiet && isatty(STDERR_FILENO) && settings.trace != "-"; // not into the trace
    Player player(options);
    PlayReport report;
    int code = Guarded([&] { report = player.Run(); });
    // The listings are closed whatever happened.
    const int traced = FinishListing(settings.trace, options.trace, "trace");
    const int digested = FinishListing(settings.digests, options.digests, "digests");
    code = code != kExitOk ? code : traced != kExitOk ? traced : digested != kExitOk ? digested : PrintSummary(settings, report);
    return code != kExitOk ? code : Guarded([&] { player.Commit(); });
}
