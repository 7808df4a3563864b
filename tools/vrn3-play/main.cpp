// vrn3-play: plays an IMA ADPCM WAV file as a VRN3 archive through the sound stream plug-in and
// writes the sound the plug-in extracted as a WAV file.
//
// The command line is parsed by CommandLine; the files of the run are its OutputPlan's, checked
// before any work; the run itself is Player's. Every failure prints one line on stderr and exits
// with the code ExitCodes.h names (and, where an output went straight to standard output, a
// device or a FIFO, a second line saying so); success prints a summary (on stderr when an output
// goes to standard output). The exit code tells the truth: the summary is written only once every
// output is finished and on disk, and the outputs take their targets' places only after it, with
// the signals held back, so a non-zero code means every target is as it was, and 0 that
// everything asked for was written. Nothing of the build tree is compiled in: the plug-in is
// found beside the program, as installed or as built.
#include "../common/CommandLine.h"
#include "../common/DeathCleanup.h"
#include "../common/Failure.h"
#include "InputFile.h"
#include "../common/OutputPlan.h"
#include "../common/PathName.h"
#include "Player.h"
#include "../common/PluginLibrary.h"
#include "../common/StandardStream.h"
#include "Summary.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include <unistd.h>

namespace {

const char* const kUsage = "usage: vrn3-play [OPTIONS] INPUT.wav [-o OUTPUT.wav]   (vrn3-play --help tells more)";

const std::string kHelp =
    "Usage: vrn3-play [OPTIONS] INPUT.wav [-o OUTPUT.wav]\n"
    "\n"
    "Plays a mono IMA ADPCM WAV file as a VRN3 archive through the VRN3 sound stream plug-in and\n"
    "writes the sound the plug-in extracted, in time order, as an IMA ADPCM WAV file.\n"
    "\n"
    "  INPUT.wav          the WAV file to play; - reads standard input\n"
    "  -o, --output FILE  where the WAV goes; - is standard output\n"
    "                     (default: INPUT.extracted.wav beside the input, or - for -)\n"
    "  --plugin FILE      the plug-in library to load (default: the one installed beside the\n"
    "                     program, " +
    PluginLibrary::InstalledPath() +
    ",\n"
    "                     or the one built beside it)\n"
    "  --stream N         the number of the stream the plug-in extracts (default 1, the sound)\n"
    "  --fragment BYTES   the largest fragment payload, 0 to 65535, 0 for whole records (default " +
    std::to_string(kDefaultFragment) +
    ")\n"
    "  --reverse          play the archive backward (needs a file, not a pipe)\n"
    "  --threaded         run every brick on a thread of its own\n"
    "  --trace[=FILE]     one line per block crossing the plug-in brick's boundaries, on stderr (also\n"
    "                     --trace=-) or into FILE\n"
    "  --capture FILE     record every block crossing the plug-in brick into FILE (pcapng; vrn3-replay\n"
    "                     replays it, Wireshark reads it); - is standard output\n"
    "  --digests FILE     one framemd5 line per block the plug-in sends downstream (index, type, time,\n"
    "                     size, MD5) into FILE; - is standard output\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -v, --verbose      add the input's format to the summary\n"
    "  --json             print the summary as one JSON object on standard output\n"
    "  -h, --help         print this and stop\n"
    "  --version          print the version and stop\n"
    "\n"
    "Every output (the WAV, the capture, the digests, the trace file) is written beside its target\n"
    "and takes its place, with the others, only when the run succeeds; a device or a FIFO is\n"
    "written as it is. No output may be the input, the plug-in or another output by any name, a\n"
    "target the user may not replace is refused before the play, and standard output (-,\n"
    "/dev/stdout, or the pipe it is) takes one of them (or --json).\n"
    "The text summary goes to stderr when an output goes to standard output.\n"
    "The spool of the extracted sound goes to $TMPDIR, or /tmp.\n"
    "\n";

// The help's end: the exit codes, and the rule for signals.
const std::string kHelpEnd = ExitCodes::Table({kExitOk, kExitUsage, kExitInput, kExitOutput, kExitPlugin, kExitNoSound,
                                               kExitProtocol, kExitMemory}) +
                             "A run ended by a signal dies of it and leaves every file as it was; a signal that\n"
                             "comes once the outputs are being put in place waits, and the run ends with 0.\n";

// What the command line asks beyond the player's options.
struct Settings {
    PlayOptions options;
    bool quiet = false, verbose = false, json = false;
    std::string trace;   // empty: none; StandardStream's name: stderr; else a file
    std::string capture; // empty: none
    std::string digests; // empty: none; StandardStream's name: stdout; else a file
};

// in.wav -> in.extracted.wav, beside the input; standard input -> standard output.
std::string DefaultOutput(const std::string& input)
{
    if (StandardStream::Named(input))
        return StandardStream::kName;
    return PathName::Stem(input) + ".extracted.wav";
}

// The last resort when an exception leaves a brick's thread: the targets stay as they were, and
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
template <typename Step>
int Guarded(Step step)
{
    try {
        step();
        return kExitOk;
    } catch (...) {
        return ExitCodes::Report("vrn3-play");
    }
}

// Parses the command line into `settings`; returns -1 to play, else the code to exit with.
int Parse(int argc, char** argv, Settings& settings)
{
    PlayOptions& options = settings.options;
    CommandLine line("vrn3-play", VRN3_TOOLS_VERSION, kHelp + kHelpEnd, kUsage);
    CLI::App& app = line.App();
    const CLI::Validator name = CommandLine::NonEmpty();
    app.add_option("input", options.input)->check(name);
    app.add_option("-o,--output", options.output)->check(name);
    app.add_option("--plugin", options.plugin)->check(name);
    app.add_option("--stream", options.stream)->check(CommandLine::WholeNumber(INT_MIN, INT_MAX));
    app.add_option("--fragment", options.fragment)->check(CommandLine::WholeNumber(0, UINT16_MAX));
    app.add_flag("--reverse", options.reverse);
    app.add_flag("--threaded", options.threaded);
    app.add_flag("--trace{-}", settings.trace)->check(name);
    app.add_option("--capture", settings.capture)->check(name);
    app.add_option("--digests", settings.digests)->check(name);
    app.add_flag("-q,--quiet", settings.quiet);
    app.add_flag("-v,--verbose", settings.verbose);
    app.add_flag("--json", settings.json);
    // "--trace=" reaches CLI11 as the bare flag: refused here, as any other empty name.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace=") == 0) {
            line.Say("--trace: an empty name; give a file (see --help)");
            return kExitUsage;
        }
    }
    const int parsed = line.Parse(argc, argv);
    return parsed < 0 && options.input.empty() ? line.Usage() : parsed;
}

// Names every file of the run in `plan`, and where each output goes in the options.
void Plan(Settings& settings, const InputFile& input, OutputPlan& plan)
{
    PlayOptions& options = settings.options;
    plan.Reads("the input file", fileno(input.Stream()));
    plan.ReadsNamed("the plug-in file", options.plugin);
    options.wav = plan.Add("-o", options.output);
    if (!settings.capture.empty())
        options.capture = plan.Add("--capture", settings.capture);
    if (!settings.digests.empty())
        options.digests = plan.Add("--digests", settings.digests);
    options.traceToStderr = StandardStream::Named(settings.trace);
    if (!settings.trace.empty() && !options.traceToStderr)
        options.trace = plan.Add("--trace", settings.trace);
    if (options.traceToStderr)
        plan.UsesStandardError("--trace");
    if (settings.json)
        plan.UsesStandardOutput("--json");
    plan.Check();
}

// Prints the summary, and checks that the trace on stderr is whole; either failing fails the run.
// Where an output takes standard output the summary goes to stderr, and what standard output
// cannot take is that output's.
void PrintSummary(const Settings& settings, const PlayReport& report, bool stdoutTaken)
{
    if (settings.options.traceToStderr && (std::fflush(stderr) != 0 || std::ferror(stderr)))
        throw Failure(kExitOutput, std::string("standard error: cannot write the trace: ") + std::strerror(errno));
    const Summary summary(settings.options, report);
    if (settings.json)
        summary.PrintJson(stdout);
    else if (!settings.quiet)
        summary.PrintText(stdoutTaken ? stderr : stdout, settings.verbose);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw Failure(kExitOutput,
                      std::string(stdoutTaken ? "standard output: cannot write: " : "cannot write the summary: ") +
                          std::strerror(errno));
}

} // namespace

int main(int argc, char** argv)
{
    DeathCleanup::MakeStandardDescriptorsValid();
    DeathCleanup::Install();
    std::set_terminate(OnTerminate);
    Settings settings;
    settings.options.plugin = PluginLibrary::BesideProgram();
    const int parsed = Parse(argc, argv, settings);
    if (parsed >= 0)
        return parsed;
    PlayOptions& options = settings.options;
    if (options.output.empty())
        options.output = DefaultOutput(options.input);
    std::unique_ptr<InputFile> input;
    OutputPlan plan;
    int code = Guarded([&] {
        input.reset(new InputFile(options.input));
        Plan(settings, *input, plan);
    });
    if (code != kExitOk)
        return code;
    options.progress = !settings.quiet && isatty(STDERR_FILENO) && !options.traceToStderr; // not into the trace
    code = Guarded([&] {
        Player player(options, *input, plan);
        const PlayReport report = player.Run();
        player.Finish();
        plan.Prepare();
        PrintSummary(settings, report, plan.OutputOnStandardOutput());
        plan.Commit();
    });
    const std::string direct = plan.WrittenDirect();
    if (code != kExitOk && !direct.empty())
        std::fprintf(stderr, "vrn3-play: what reached %s stays there; every file is as it was\n", direct.c_str());
    return code;
}
