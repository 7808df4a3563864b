// vrn3-replay: replays a capture made by CCaptureRecorder (vrn3-play --capture, or any host that
// records) against a build of the plug-in, and tells whether the brick sends what it sent then.
//
// Identical: exit 0 and one summary line. Different: exit kExitDiffers, the first differing block
// of each side and the matching blocks before it, decoded. A capture that cannot be read, or that
// was cut short, ends with one line naming the packet (--partial replays a cut capture as far as
// it goes and says so). --digests writes a framemd5 line for every block the replayed brick sends
// downstream; --json prints the outcome as one JSON object. Standard output carries one document:
// the verdict (text or JSON), or the digests with the text verdict on stderr. The files are the
// run's OutputPlan's: checked before any work, put in place only once the verdict is written.
#include "../taps/BlockDigest.h"
#include "../common/BlockText.h"
#include "../common/CommandLine.h"
#include "../common/DeathCleanup.h"
#include "../common/Failure.h"
#include "../common/JsonWriter.h"
#include "../common/OutputPlan.h"
#include "../common/PluginLibrary.h"
#include "../common/StandardStream.h"
#include "FailureSweep.h"
#include "Replayer.h"

#include "../../capture/CapturePaths.h"
#include "../../capture/CBlockWire.h"
#include "../../records/FourCC.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char* const kUsage = "usage: vrn3-replay [OPTIONS] CAPTURE   (vrn3-replay --help tells more)";

const char* const kHelp =
    "Usage: vrn3-replay [OPTIONS] CAPTURE\n"
    "\n"
    "Replays a capture of a brick's blocks against a build of the VRN3 sound stream plug-in and\n"
    "compares what the brick sends with what the capture holds.\n"
    "\n"
    "  CAPTURE           the pcapng capture vrn3-play --capture or a host's recorder made; - reads\n"
    "                    standard input\n"
    "  --plugin FILE     the plug-in library to replay against (default: the one beside the program)\n"
    "  --digests FILE    a framemd5 line for every block the brick sends downstream into FILE; - is\n"
    "                    standard output (the text verdict then goes to stderr)\n"
    "  --json            print the outcome as one JSON object on standard output\n"
    "  --partial         replay a capture cut short (no end record) as far as it goes, and say so\n"
    "  --validate        watch the brick keep the framework's rules while it replays; print each\n"
    "                    violation with its rule, packet, block type and what was seen\n"
    "  --fail-alloc      replay again once for each allocation of the plug-in's code, that one\n"
    "                    failing, each run validated; print the runs that broke a rule or went\n"
    "                    silent, and the first failure's callers (CAPTURE must be a file)\n"
    "  --fail-points N   with --fail-alloc: fail at most N allocations, drawn with --seed\n"
    "  --seed S          the draw of --fail-points (default 1)\n"
    "  -h, --help        print this and stop\n"
    "  --version         print the version and stop\n"
    "\n"
    "The digests file is written beside its target and takes its place once the verdict is written;\n"
    "it may not be the capture or the plug-in by any name, and standard output (-, /dev/stdout, or\n"
    "the pipe it is) takes the digests or --json.\n"
    "\n";

struct Settings {
    std::string capture, plugin = PluginLibrary::BesideProgram(), digests;
    bool json = false, partial = false, validate = false, failAlloc = false;
    uint64_t failPoints = 0, seed = 1;
    size_t digestsOutput = OutputPlan::kNoOutput;
};

std::string Line(const ReplayBlock& block)
{
    return std::string(block.direction == kDirectionIn ? "in  " : "out ") + CapturePathName(block.path) + "  " +
           BlockText::Describe(block.type, block.data) + "  md5 " + BlockDigest::Md5(block.data);
}

// "received block modified in place: packet 41, snd3, bytes 12-15 changed during onData"
std::string Violation(const CBrickViolation& violation)
{
    std::string text = violation.title + ": ";
    if (violation.block != 0)
        text += "packet " + std::to_string(violation.block) + ", ";
    if (violation.type != 0)
        text += CodeText(violation.type) + ", ";
    return text + violation.seen;
}

std::string Violations(const std::string& capture, const ReplayResult& result)
{
    std::string text;
    for (const CBrickViolation& violation : result.violations)
        text += "vrn3-replay: " + capture + ": " + Violation(violation) + "\n";
    return text;
}

// A replay stops at the first difference, before any cut it would reach: only an identical one is
// partial.
std::string Comparison(const std::string& capture, const ReplayResult& result)
{
    if (result.identical) {
        std::string text = "vrn3-replay: " + capture + ": identical: " + std::to_string(result.inputs) +
                           " blocks in, " + std::to_string(result.outputs) + " blocks out";
        if (result.partial)
            text += "; partial: the capture is cut short after packet " + std::to_string(result.lastPacket) +
                    ", replayed as far as it goes";
        return text + "\n";
    }
    std::string text = "vrn3-replay: " + capture + ": differs at output block " + std::to_string(result.difference) +
                       " (after " + std::to_string(result.inputs) + " blocks in)\n";
    for (const ReplayBlock& block : result.before)
        text += "  same      packet " + std::to_string(block.packet) + "  " + Line(block) + "\n";
    if (result.capturedMissing)
        text += "  captured  (nothing)\n";
    else
        text += "  captured  packet " + std::to_string(result.captured.packet) + "  " + Line(result.captured) + "\n";
    if (result.replayedMissing)
        return text + "  replayed  (nothing)\n";
    return text + "  replayed  " + Line(result.replayed) + "\n";
}

std::string Verdict(const std::string& capture, const ReplayResult& result)
{
    return Violations(capture, result) + Comparison(capture, result);
}

// The sweep's verdict: its figures, the first failure's callers and each bad run's findings.
std::string SweepVerdict(const std::string& capture, const SweepResult& sweep)
{
    const std::string head = "vrn3-replay: " + capture + ": ";
    std::string text = head + "fail-alloc: " + std::to_string(sweep.allocations) + " allocations of the plug-in, " +
                       std::to_string(sweep.tried) + " failed in turn: " + std::to_string(sweep.bad.size()) +
                       " runs broke a rule or went silent\n";
    for (const CBrickViolation& violation : sweep.unfailed)
        text += head + "without a failure: " + Violation(violation) + "\n";
    if (sweep.tried > 0) {
        text += head + "first failure: allocation " + std::to_string(sweep.first.allocation) + ", at packet " +
                std::to_string(sweep.first.packet) + ", called from\n";
        for (const std::string& frame : sweep.first.backtrace)
            text += "  " + frame + "\n";
    }
    for (const SweepPoint& point : sweep.bad) {
        const std::string at = head + "allocation " + std::to_string(point.allocation) + " failing, at packet " +
                               std::to_string(point.packet) + ": ";
        for (const CBrickViolation& violation : point.violations)
            text += at + Violation(violation) + "\n";
        if (point.silent)
            text += at + "the brick sent nothing afterwards\n";
    }
    return text;
}

std::string SweepJson(const std::string& capture, const SweepResult& sweep)
{
    std::vector<std::string> bad;
    for (const SweepPoint& point : sweep.bad) {
        std::vector<std::string> lines;
        for (const CBrickViolation& violation : point.violations)
            lines.push_back(JsonWriter::Quoted(Violation(violation)));
        JsonWriter item;
        item.Unsigned("allocation", point.allocation)
            .Unsigned("packet", point.packet)
            .Bool("silent", point.silent)
            .Raw("violations", JsonWriter::Array(lines));
        bad.push_back(item.Text());
    }
    std::vector<std::string> frames;
    for (const std::string& frame : sweep.first.backtrace)
        frames.push_back(JsonWriter::Quoted(frame));
    JsonWriter json;
    json.String("capture", capture)
        .Unsigned("allocations", sweep.allocations)
        .Unsigned("tried", sweep.tried)
        .Raw("first_failure", JsonWriter::Array(frames))
        .Raw("bad", JsonWriter::Array(bad));
    return json.Text() + "\n";
}

// One side of the difference as JSON: its block's line, or null where that side has none.
std::string JsonLine(bool missing, const ReplayBlock& block)
{
    if (missing)
        return "null";
    return JsonWriter::Quoted(Line(block));
}

// The outcome as JSON; with validation, the violations too.
std::string Json(const std::string& capture, const ReplayResult& result, bool validated)
{
    JsonWriter json;
    json.String("capture", capture)
        .Bool("identical", result.identical)
        .Unsigned("inputs", result.inputs)
        .Unsigned("outputs", result.outputs)
        .Bool("partial", result.partial)
        .Unsigned("last_packet", result.lastPacket);
    if (!result.identical) {
        JsonWriter difference;
        difference.Unsigned("index", result.difference)
            .Raw("captured", JsonLine(result.capturedMissing, result.captured))
            .Raw("replayed", JsonLine(result.replayedMissing, result.replayed));
        json.Raw("difference", difference.Text());
    }
    if (!validated)
        return json.Text() + "\n";
    std::vector<std::string> violations;
    for (const CBrickViolation& violation : result.violations) {
        JsonWriter item;
        item.String("rule", violation.rule)
            .Unsigned("packet", violation.block)
            .String("type", CodeText(violation.type))
            .String("seen", violation.seen)
            .String("line", Violation(violation));
        violations.push_back(item.Text());
    }
    json.Raw("violations", JsonWriter::Array(violations));
    return json.Text() + "\n";
}

// The capture, opened before the plan so that the plan knows it by what it is.
using CaptureFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

CaptureFile OpenCapture(const std::string& capture)
{
    if (StandardStream::Named(capture))
        return CaptureFile(stdin, [](std::FILE*) { return 0; });
    CaptureFile file(std::fopen(capture.c_str(), "rb"), std::fclose);
    if (!file)
        throw CaptureError(capture + ": " + std::strerror(errno));
    return file;
}

// Names every file of the run in `plan` and checks them.
void Plan(Settings& settings, std::FILE* capture, OutputPlan& plan)
{
    plan.Reads("the input file", fileno(capture));
    plan.ReadsNamed("the plug-in file", settings.plugin);
    if (!settings.digests.empty())
        settings.digestsOutput = plan.Add("--digests", settings.digests);
    if (settings.json)
        plan.UsesStandardOutput("--json");
    plan.Check();
}

// Prints a verdict on standard output (or stderr when standard output carries the digests).
void Print(const std::string& verdict, std::FILE* out)
{
    errno = 0;
    if (std::fputs(verdict.c_str(), out) < 0 || std::fflush(out) != 0 || std::ferror(out))
        throw Failure(kExitOutput, std::string("cannot write the verdict: ") + std::strerror(errno != 0 ? errno : EIO));
}

// Sweeps the failing allocations; returns the exit code.
int Sweep(Settings& settings)
{
    if (StandardStream::Named(settings.capture))
        throw Failure(kExitUsage, "--fail-alloc reads the capture again for each run: name a file");
    const CaptureFile capture = OpenCapture(settings.capture);
    OutputPlan plan;
    Plan(settings, capture.get(), plan);
    const SweepResult sweep =
        FailureSweep(capture.get(), settings.capture, settings.plugin, settings.failPoints, settings.seed).Run();
    Print(settings.json ? SweepJson(settings.capture, sweep) : SweepVerdict(settings.capture, sweep), stdout);
    return sweep.bad.empty() && sweep.unfailed.empty() ? kExitOk : kExitViolations;
}

// Replays, prints the verdict and puts the digests in place; returns the exit code.
int Replay(Settings& settings)
{
    if (settings.failAlloc)
        return Sweep(settings);
    const CaptureFile capture = OpenCapture(settings.capture);
    OutputPlan plan;
    Plan(settings, capture.get(), plan);
    plan.Open();
    const size_t digestsOutput = settings.digestsOutput;
    std::FILE* digests = digestsOutput == OutputPlan::kNoOutput ? nullptr : plan.File(digestsOutput).Stream();
    const std::string name = StandardStream::InputName(settings.capture);
    const ReplayResult result =
        Replayer(capture.get(), name, settings.plugin, digests, settings.partial, settings.validate).Run();
    plan.Prepare();
    std::FILE* out = !settings.json && plan.OutputOnStandardOutput() ? stderr : stdout;
    Print(settings.json ? Json(name, result, settings.validate) : Verdict(name, result), out);
    plan.Commit();
    if (!result.violations.empty())
        return kExitViolations;
    return result.identical ? kExitOk : kExitDiffers;
}

int Guarded(Settings& settings)
{
    try {
        return Replay(settings);
    } catch (const CaptureError& e) {
        std::fprintf(stderr, "vrn3-replay: %s\n", e.what());
        return kExitInput;
    } catch (...) {
        return ExitCodes::Report("vrn3-replay");
    }
}

} // namespace

int main(int argc, char** argv)
{
    DeathCleanup::MakeStandardDescriptorsValid();
    DeathCleanup::Install();
    Settings settings;
    CommandLine line("vrn3-replay", VRN3_TOOLS_VERSION,
                     kHelp + ExitCodes::Table({kExitOk, kExitUsage, kExitInput, kExitOutput, kExitPlugin, kExitProtocol,
                                               kExitMemory, kExitDiffers, kExitViolations}),
                     kUsage);
    CLI::App& app = line.App();
    const CLI::Validator name = CommandLine::NonEmpty();
    app.add_option("capture", settings.capture)->required()->check(name);
    app.add_option("--plugin", settings.plugin)->check(name);
    app.add_option("--digests", settings.digests)->check(name);
    app.add_flag("--json", settings.json);
    app.add_flag("--partial", settings.partial);
    app.add_flag("--validate", settings.validate);
    CLI::Option* failAlloc = app.add_flag("--fail-alloc", settings.failAlloc);
    app.add_option("--fail-points", settings.failPoints)->needs(failAlloc)->check(CLI::PositiveNumber);
    app.add_option("--seed", settings.seed)->needs(failAlloc);
    failAlloc->excludes(app.get_option("--digests"));
    const int parsed = line.Parse(argc, argv);
    if (parsed >= 0)
        return parsed;
    return Guarded(settings);
}
