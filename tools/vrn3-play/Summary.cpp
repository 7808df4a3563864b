// The lines and the JSON object of a run's summary.
#include "Summary.h"

#include "../common/JsonWriter.h"
#include "WavFile.h"

#include "../../records/Codes.h"

#include <cinttypes>
#include <cstring>

namespace {

constexpr double kMillisecondsPerSecond = 1e3;

double RecordsPerSecond(const PlayReport& report)
{
    return report.seconds > 0 ? static_cast<double>(report.records) / report.seconds : 0.0;
}

} // namespace

std::string Summary::StreamLine() const
{
    std::string line = std::to_string(mOptions.stream) + (mOptions.reverse ? ", backward, " : ", forward, ");
    if (mOptions.fragment == 0)
        line += "whole records";
    else
        line += "fragments of " + std::to_string(mOptions.fragment) + " bytes";
    return line + (mOptions.threaded ? ", threaded" : ", synchronous");
}

void Summary::PrintText(std::FILE* out, bool verbose) const
{
    const PlayReport& r = mReport;
    const TSoundStreamCfg& cfg = r.config;
    std::fprintf(out, "vrn3-play: %s -> %s\n", mOptions.input.c_str(), mOptions.output.c_str());
    std::fprintf(out, "  plug-in     %s\n", mOptions.plugin.c_str());
    if (verbose)
        PrintInput(out);
    std::fprintf(out, "  stream      %s\n", StreamLine().c_str());
    std::fprintf(out, "  SCfg        codec %s, %d Hz, %d bytes/sample, %d channel(s), chunk %" PRIu64 ", data %s\n",
                 CodeText(cfg.codec).c_str(), cfg.sampleRate, cfg.bytesPerSample, cfg.channels, cfg.chunkLength,
                 CodeText(cfg.dataType).c_str());
    std::fprintf(out, "  extracted   %" PRIu64 " records, %" PRIu64 " bytes, %" PRIu64 " samples (%.3f s of sound)\n",
                 r.records, r.bytes, r.samples, static_cast<double>(r.samples) / cfg.sampleRate);
    std::fprintf(out, "  chunks      %u requested\n", r.chunks);
    std::fprintf(out, "  time span   %" PRIu64 " .. %" PRIu64 " ms\n", r.firstTime, r.lastTime);
    std::fprintf(out, "  wall time   %.3f ms, %.0f records/s\n", r.seconds * kMillisecondsPerSecond,
                 RecordsPerSecond(r));
    std::fprintf(out, "  written     %s (%s)\n", mOptions.output.c_str(), r.outputKind);
}

void Summary::PrintInput(std::FILE* out) const
{
    const PlayReport& r = mReport;
    std::fprintf(out, "  input       %s, %u Hz, block align %u, %" PRIu64 " bytes of sound, ",
                 r.inputSeekable ? "file" : "stream", r.inputRate, r.inputBlockAlign, r.inputBytes);
    if (r.inputFact == WavFile::kUnknown)
        std::fprintf(out, "no fact chunk\n");
    else
        std::fprintf(out, "fact %" PRIu64 " samples\n", r.inputFact);
}

void Summary::PrintJson(std::FILE* out) const
{
    const PlayReport& r = mReport;
    const TSoundStreamCfg& cfg = r.config;
    JsonWriter config;
    config.String("codec", CodeText(cfg.codec))
        .Integer("sample_rate", cfg.sampleRate)
        .Integer("bytes_per_sample", cfg.bytesPerSample)
        .Integer("channels", cfg.channels)
        .Unsigned("chunk_length", cfg.chunkLength)
        .String("data_type", CodeText(cfg.dataType));
    JsonWriter summary;
    summary.String("input", mOptions.input)
        .String("output", mOptions.output)
        .String("plugin", mOptions.plugin)
        .Integer("stream", mOptions.stream)
        .String("direction", mOptions.reverse ? "backward" : "forward")
        .Unsigned("fragment", mOptions.fragment)
        .Bool("threaded", mOptions.threaded)
        .Raw("config", config.Text())
        .Unsigned("records", r.records)
        .Unsigned("bytes", r.bytes)
        .Unsigned("samples", r.samples)
        .Unsigned("chunks", r.chunks)
        .Raw("time_span_ms", JsonWriter::Array({std::to_string(r.firstTime), std::to_string(r.lastTime)}))
        .Real("wall_time_s", r.seconds, "%.6f");
    std::fprintf(out, "%s\n", summary.Text().c_str());
}
