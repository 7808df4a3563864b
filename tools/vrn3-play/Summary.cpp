// The lines and the JSON object of a run's summary.
#include "Summary.h"

#include "WavFile.h"

#include "records/Codes.h"

#include <cinttypes>
#include <cstring>

namespace {

double RecordsPerSecond(const PlayReport& report)
{
    return report.seconds > 0 ? static_cast<double>(report.records) / report.seconds : 0.0;
}

// Bytes of the valid UTF-8 character at `at` (1 for ASCII), or 0 when none starts there.
size_t Utf8Length(const std::string& text, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                          : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid = code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    return valid ? length : 0;
}

} // namespace

std::string Summary::StreamLine() const
{
    return std::to_string(mOptions.stream) + ", " + (mOptions.reverse ? "backward" : "forward") + ", " +
           (mOptions.fragment == 0 ? std::string("whole records")
                                   : "fragments of " + std::to_string(mOptions.fragment) + " bytes") +
           ", " + (mOptions.threaded ? "threaded" : "synchronous");
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
    std::fprintf(out, "  wall time   %.3f ms, %.0f records/s\n", r.seconds * 1e3, RecordsPerSecond(r));
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
    std::fprintf(out, "{\"input\": %s, \"output\": %s, \"plugin\": %s, ", Quoted(mOptions.input).c_str(),
                 Quoted(mOptions.output).c_str(), Quoted(mOptions.plugin).c_str());
    std::fprintf(out, "\"stream\": %d, \"direction\": \"%s\", \"fragment\": %u, \"threaded\": %s, ", mOptions.stream,
                 mOptions.reverse ? "backward" : "forward", mOptions.fragment, mOptions.threaded ? "true" : "false");
    std::fprintf(out,
                 "\"config\": {\"codec\": %s, \"sample_rate\": %d, \"bytes_per_sample\": %d, \"channels\": %d, "
                 "\"chunk_length\": %" PRIu64 ", \"data_type\": %s}, ",
                 Quoted(CodeText(cfg.codec)).c_str(), cfg.sampleRate, cfg.bytesPerSample, cfg.channels, cfg.chunkLength,
                 Quoted(CodeText(cfg.dataType)).c_str());
    std::fprintf(out,
                 "\"records\": %" PRIu64 ", \"bytes\": %" PRIu64 ", \"samples\": %" PRIu64 ", \"chunks\": %u, "
                 "\"time_span_ms\": [%" PRIu64 ", %" PRIu64 "], \"wall_time_s\": %.6f}\n",
                 r.records, r.bytes, r.samples, r.chunks, r.firstTime, r.lastTime, r.seconds);
}

// A JSON string: quotes, backslashes and control characters escaped; UTF-8 passes as it is,
// and each byte that is not part of valid UTF-8 (a file name may hold any) becomes \u00XX.
std::string Summary::Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        char escaped[8];
        if (c == '"' || c == '\\')
            quoted += std::string("\\") + text[i];
        else if ((c < 0x20 || length == 0) && std::snprintf(escaped, sizeof escaped, "\\u%04x", c) > 0)
            quoted += escaped;
        else
            quoted.append(text, i, length);
        i += length == 0 ? 1 : length;
    }
    return quoted + "\"";
}
