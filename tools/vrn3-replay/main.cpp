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
    "  -h, --help        print this and stop\n"
    "  --version         print the version and stop\n"
    "\n"
    "The digests file is written beside its target and takes its place once the verdict is written;\n"
    "it may not be the capture or the plug-in by any name, and standard output (-, /dev/stdout, or\n"
    "the pipe it is) takes the digests or --json.\n"
    "\n";

struct Settings {
    std::string capture, plugin = PluginLibrary::BesideProgram(), digests;
    bool json = false, partial = false, validate = false;
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
    const std::string packet = violation.block != 0 ? "packet " + std::to_string(violation.block) + ", " : "";
    return violation.title + ": " + packet + CodeText(violation.type) + ", " + violation.seen;
}

std::string Violations(const std::string& capture, const ReplayResult& result)
{
    std::string text;
    for (const CBrickViolation& violation : result.violations)
        text += "vrn3-replay: " + capture + ": " + Violation(violation) + "\n";
    return text;
}

std::string Comparison(const std::string& capture, const ReplayResult& result)
{
    const std::string cut = result.partial ? "; partial: the capture is cut short after packet " +
                                                 std::to_string(result.lastPacket) + ", replayed as far as it goes"
                                           : "";
    if (result.identical)
        return "vrn3-replay: " + capture + ": identical: " + std::to_string(result.inputs) + " blocks in, " +
               std::to_string(result.outputs) + " blocks out" + cut + "\n";
    std::string text = "vrn3-replay: " + capture + ": differs at output block " + std::to_string(result.difference) +
                       " (after " + std::to_string(result.inputs) + " blocks in)" + cut + "\n";
    for (const ReplayBlock& block : result.before)
        text += "  same      packet " + std::to_string(block.packet) + "  " + Line(block) + "\n";
    text += result.capturedMissing
                ? "  captured  (nothing)\n"
                : "  captured  packet " + std::to_string(result.captured.packet) + "  " + Line(result.captured) + "\n";
    return text + "  replayed  " + (result.replayedMissing ? "(nothing)" : Line(result.replayed)) + "\n";
}

std::string Verdict(const std::string& capture, const ReplayResult& result)
{
    return Violations(capture, result) + Comparison(capture, result);
}

std::string Json(const std::string& capture, const ReplayResult& result)
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
            .Raw("captured", result.capturedMissing ? "null" : JsonWriter::Quoted(Line(result.captured)))
            .Raw("replayed", result.replayedMissing ? "null" : JsonWriter::Quoted(Line(result.replayed)));
        json.Raw("difference", difference.Text());
    }
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

// Replays, prints the verdict and puts the digests in place; returns the exit code.
int Replay(Settings& settings)
{
    const CaptureFile capture = OpenCapture(settings.capture);
    OutputPlan plan;
    Plan(settings, capture.get(), plan);
    plan.Open();
    const size_t digestsOutput = settings.digestsOutput;
    std::FILE* digests = digestsOutput == OutputPlan::kNoOutput ? nullptr : plan.File(digestsOutput).Stream();
    const std::string name = StandardStream::InputName(settings.capture);
    const ReplayResult result =
        Replayer(capture.get(), name, settings.plugin, digests, settings.partial, settings.validate).Run();
    std::FILE* out = !settings.json && plan.OutputOnStandardOutput() ? stderr : stdout;
    errno = 0;
    const std::string verdict = settings.json ? Json(name, result) : Verdict(name, result);
    if (std::fputs(verdict.c_str(), out) < 0 || std::fflush(out) != 0 || std::ferror(out))
        throw Failure(kExitOutput, std::string("cannot write the verdict: ") + std::strerror(errno != 0 ? errno : EIO));
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
    const int parsed = line.Parse(argc, argv);
    if (parsed >= 0)
        return parsed;
    return Guarded(settings);
}
