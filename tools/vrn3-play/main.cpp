// vrn3-play: plays an IMA ADPCM WAV file as a VRN3 archive through the sound stream plug-in and
// writes the sound the plug-in extracted as a WAV file.
//
// The command line is parsed with CLI11; the run itself is Player's. Every failure prints one
// line on stderr and exits with the code Failure.h names; success prints a summary.
#include "Failure.h"
#include "Player.h"

#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// in.wav -> in.extracted.wav, beside the input.
std::string DefaultOutput(const std::string& input)
{
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? input.substr(0, dot) : input) + ".extracted.wav";
}

void PrintSummary(const PlayOptions& options, const PlayReport& report)
{
    const TSoundStreamCfg& cfg = report.config;
    char codec[5] = {0, 0, 0, 0, 0};
    std::memcpy(codec, &cfg.codec, 4);
    std::printf("vrn3-play: %s -> %s\n", options.input.c_str(), options.output.c_str());
    std::printf("  plug-in     %s\n", options.plugin.c_str());
    std::printf("  stream      %d, %s, %s, %s\n", options.stream, options.reverse ? "backward" : "forward",
                options.fragment == 0 ? "whole records" : ("fragments of " + std::to_string(options.fragment) + " bytes").c_str(),
                options.threaded ? "threaded" : "synchronous");
    std::printf("  SCfg        codec %s, %d Hz, %d bytes/sample, %d channel(s), chunk %" PRIu64 ", data %.4s\n", codec,
                cfg.sampleRate, cfg.bytesPerSample, cfg.channels, cfg.chunkLength,
                reinterpret_cast<const char*>(&cfg.dataType));
    std::printf("  extracted   %zu records, %" PRIu64 " bytes, %" PRIu64 " samples (%.3f s of sound)\n", report.records,
                report.bytes, report.samples, static_cast<double>(report.samples) / cfg.sampleRate);
    std::printf("  chunks      %u requested\n", report.chunks);
    std::printf("  time span   %" PRIu64 " .. %" PRIu64 " ms\n", report.firstTime, report.lastTime);
    std::printf("  wall time   %.3f ms, %.0f records/s\n", report.seconds * 1e3,
                report.seconds > 0 ? static_cast<double>(report.records) / report.seconds : 0.0);
    std::printf("  written     %s\n", options.output.c_str());
}

// The plug-in where an installed program finds it (bin/ -> lib/i386-linux-gnu/vrn3/plugins/),
// else the one built with this program.
std::string DefaultPlugin()
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        const std::string program(self, static_cast<size_t>(length));
        const std::string installed =
            program.substr(0, program.find_last_of('/')) + "/../lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1";
        if (access(installed.c_str(), R_OK) == 0)
            return installed;
    }
    return VRN3_DEFAULT_PLUGIN;
}

} // namespace

int main(int argc, char** argv)
{
    PlayOptions options;
    options.input = VRN3_DEFAULT_SAMPLE;
    options.plugin = DefaultPlugin();
    options.fragment = 100;
    CLI::App app{"Plays an IMA ADPCM WAV file (mono) as a VRN3 archive through the VRN3 sound stream plug-in\n"
                 "and writes the sound the plug-in extracted, in time order, as an IMA ADPCM WAV file.",
                 "vrn3-play"};
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "vrn3-play: " + std::string(e.what()) + " (see --help)\n";
    });
    app.set_version_flag("--version", "vrn3-play " VRN3_PLAY_VERSION);
    app.add_option("input", options.input, "IMA ADPCM WAV file to play")->capture_default_str();
    app.add_option("-o,--output", options.output, "WAV file to write (default: <input>.extracted.wav)");
    app.add_option("--plugin", options.plugin, "plug-in library to load")->capture_default_str();
    app.add_option("--stream", options.stream, "number of the stream the plug-in extracts (the archive's sound is 1)")
        ->capture_default_str();
    app.add_option("--fragment", options.fragment, "largest fragment payload in bytes, 0 for whole records")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    app.add_flag("--reverse", options.reverse, "play the archive backward");
    app.add_flag("--threaded", options.threaded, "run every brick on a thread of its own");
    app.add_flag("--trace", options.trace, "print one line per block that crosses the plug-in brick's boundaries");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    if (options.output.empty())
        options.output = DefaultOutput(options.input);
    try {
        const PlayReport report = Player(options).Run();
        PrintSummary(options, report);
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "vrn3-play: %s\n", failure.what());
        return failure.Code();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "vrn3-play: %s\n", e.what());
        return kExitProtocol;
    }
    return kExitOk;
}
