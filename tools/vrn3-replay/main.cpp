// vrn3-replay: replays a capture made by CCaptureRecorder (vrn3-play --capture, or any host that
// records) against a build of the plug-in, and tells whether the brick sends what it sent then.
//
// Identical: exit 0 and one summary line. Different: exit kExitDiffers, the first differing block
// of each side and the matching blocks before it, decoded. A capture that cannot be read ends with
// one line naming the packet. --digests prints a framemd5 line for every block the replayed
// brick sends downstream; --json prints the outcome as one JSON object.
#include "BlockDigest.h"
#include "Failure.h"
#include "PluginLibrary.h"
#include "Replayer.h"
#include "WireText.h"

#include "capture/CBlockWire.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <unistd.h>

namespace {

// The replayed brick sent other blocks than the captured one did.
constexpr int kExitDiffers = 9;

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  identical: the brick sent every block the capture holds, and nothing else\n"
    "  2  the command line is wrong\n"
    "  3  the capture cannot be read (the message names the packet)\n"
    "  5  the plug-in cannot be loaded, has no factory, or refused the captured configuration\n"
    "  8  out of memory\n"
    "  9  different: the first differing block is printed";

std::string Line(const ReplayBlock& block)
{
    static const char* const paths[] = {"data", "control", "notification", "configuration"};
    return std::string(block.direction == kDirectionIn ? "in  " : "out ") + paths[block.path & 3] + "  " +
           WireText::Describe(block.type, block.data) + "  md5 " + BlockDigest::Md5(block.data);
}

std::string JsonText(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

void PrintText(const std::string& capture, const ReplayResult& result)
{
    if (result.identical) {
        std::printf("vrn3-replay: %s: identical: %llu blocks in, %llu blocks out\n", capture.c_str(),
                    static_cast<unsigned long long>(result.inputs), static_cast<unsigned long long>(result.outputs));
        return;
    }
    std::printf("vrn3-replay: %s: differs at output block %llu (after %llu blocks in)\n", capture.c_str(),
                static_cast<unsigned long long>(result.difference), static_cast<unsigned long long>(result.inputs));
    for (const ReplayBlock& block : result.before)
        std::printf("  same      packet %u  %s\n", block.packet, Line(block).c_str());
    if (result.capturedMissing)
        std::printf("  captured  (nothing)\n");
    else
        std::printf("  captured  packet %u  %s\n", result.captured.packet, Line(result.captured).c_str());
    std::printf("  replayed  %s\n", result.replayedMissing ? "(nothing)" : Line(result.replayed).c_str());
}

void PrintJson(const std::string& capture, const ReplayResult& result)
{
    std::printf("{\"capture\": %s, \"identical\": %s, \"inputs\": %llu, \"outputs\": %llu", JsonText(capture).c_str(),
                result.identical ? "true" : "false", static_cast<unsigned long long>(result.inputs),
                static_cast<unsigned long long>(result.outputs));
    if (!result.identical)
        std::printf(", \"difference\": {\"index\": %llu, \"captured\": %s, \"replayed\": %s}",
                    static_cast<unsigned long long>(result.difference),
                    result.capturedMissing ? "null" : JsonText(Line(result.captured)).c_str(),
                    result.replayedMissing ? "null" : JsonText(Line(result.replayed)).c_str());
    std::printf("}\n");
}

int Replay(const std::string& capture, const std::string& plugin, bool digests, bool json)
{
    try {
        const ReplayResult result = Replayer(capture, plugin, digests ? stdout : nullptr).Run();
        if (json)
            PrintJson(capture, result);
        else
            PrintText(capture, result);
        return result.identical ? kExitOk : kExitDiffers;
    } catch (const CaptureError& e) {
        std::fprintf(stderr, "vrn3-replay: %s\n", e.what());
        return kExitInput;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "vrn3-replay: %s\n", failure.what());
        return failure.Code();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vrn3-replay: out of memory\n");
        return kExitMemory;
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string capture, plugin = PluginLibrary::BesideProgram();
    bool digests = false, json = false;
    CLI::App app{"Replays a capture of a brick's blocks against a build of the VRN3 sound stream plug-in\n"
                 "and compares what the brick sends with what the capture holds.",
                 "vrn3-replay"};
    app.footer(kExitCodes);
    app.add_option("capture", capture, "pcapng capture made by vrn3-play --capture or a host's CCaptureRecorder")
        ->required();
    app.add_option("--plugin", plugin, "plug-in library to replay against (default: the one beside the program)");
    app.add_flag("--digests", digests, "print a framemd5 line for every block the brick sends downstream");
    app.add_flag("--json", json, "print the outcome as one JSON object");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    return Replay(capture, plugin, digests, json);
}
