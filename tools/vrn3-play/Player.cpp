// One run: open, play through the plug-in, check, write.
#include "Player.h"

#include "ArchiveSource.h"
#include "../common/Failure.h"
#include "InputFile.h"
#include "../common/OutputPlan.h"
#include "PlayerSink.h"
#include "../common/PluginLibrary.h"
#include "SoundSpool.h"
#include "Tracer.h"
#include "WavFile.h"

#include "../taps/CaptureTaps.h"
#include "../../host/CPipeline.h"
#include "../../records/SoundBrickConfig.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace {

// What the sink collected, kept after the pipeline is gone.
struct Outcome {
    bool hasConfig;
    TSoundStreamCfg config;
    uint32_t chunks;
    bool finished;
    std::string problem;
    uint64_t lastRequest;
    double seconds;
};

// Bytes of a megabyte, as the progress counts them.
constexpr double kBytesPerMegabyte = 1e6;

double Seconds(uint64_t time)
{
    return static_cast<double>(time) / ArchiveSource::kUnitsPerSecond;
}

// Progress on stderr, rewritten in place: seconds played of the whole.
void ShowProgress(uint64_t played, uint64_t length)
{
    if (length == UINT64_MAX)
        std::fprintf(stderr, "\rvrn3-play: %.0f s played ", Seconds(played));
    else
        std::fprintf(stderr, "\rvrn3-play: %.0f of %.0f s played ", Seconds(played), Seconds(length));
}

// Refuses what the sink collected unless it is IMA ADPCM sound of the chosen stream, played to
// the end, in records that are blocks of the input (the plug-in passes them on unchanged).
void Check(const Outcome& out, const SoundSpool& spool, int stream, uint16_t blockAlign)
{
    const std::string name = "stream " + std::to_string(stream);
    if (!out.hasConfig)
        throw Failure(kExitNoSound, name + ": the plug-in announced no sound configuration (no such stream in "
                                           "the archive); nothing written");
    if (out.config.codec == 0)
        throw Failure(kExitNoSound,
                      name + " carries no sound (no codec in the archive's stream table); nothing written");
    if (out.config.codec != kCodeIma1)
        throw Failure(kExitNoSound,
                      name + " carries '" + CodeText(out.config.codec) + "', not IMA ADPCM sound; nothing written");
    if (!out.problem.empty())
        throw Failure(kExitProtocol, "the plug-in broke the protocol: " + out.problem);
    if (!out.finished)
        throw Failure(kExitProtocol, "the plug-in stopped answering after " + std::to_string(out.chunks) +
                                         " chunk requests (the last at time " + std::to_string(out.lastRequest) + ")");
    if (out.config.sampleRate <= 0)
        throw Failure(kExitNoSound,
                      name + ": the plug-in announced sample rate " + std::to_string(out.config.sampleRate));
    if (spool.Records() == 0)
        throw Failure(kExitNoSound, name + ": no sound records extracted; nothing written");
    if (spool.SmallestRecord() < WavFile::kBlockHeader || spool.LargestRecord() > blockAlign)
        throw Failure(kExitProtocol,
                      "the plug-in sent a sound record of " +
                          std::to_string(spool.SmallestRecord() < WavFile::kBlockHeader ? spool.SmallestRecord()
                                                                                        : spool.LargestRecord()) +
                          " bytes, which is no block of the input's (" + std::to_string(blockAlign) + " bytes)");
    if (spool.Bytes() > WavFile::kLargestData)
        throw Failure(kExitOutput,
                      "the sound is too long for a WAV file (" + std::to_string(spool.Bytes()) + " bytes)");
}

// The WAV: the framing, the records in time order, and a pad byte when their size is odd.
void Write(OutputFile& output, SoundSpool& spool, const WavFile& wav, uint32_t rate, uint32_t samples, bool progress)
{
    const uint32_t size = static_cast<uint32_t>(spool.Bytes());
    if (progress)
        std::fprintf(stderr, "\rvrn3-play: writing %.1f MB of sound ", size / kBytesPerMegabyte);
    const std::vector<uint8_t> header = WavFile::Header(rate, wav.BlockAlign(), samples, size);
    output.Write(header.data(), header.size());
    spool.WriteTo(output);
    const uint8_t pad = 0;
    if (size % 2 != 0)
        output.Write(&pad, 1);
    if (progress)
        std::fprintf(stderr, "\r%40s\r", "");
}

// Plays the archive through source -> plug-in brick -> sink; rethrows what a brick's handler
// caught, once the pipeline is gone.
Outcome Play(const PlayOptions& options, OutputPlan& plan, WavFile& wav, PluginLibrary& plugin, SoundSpool& spool,
             CaptureTaps& taps)
{
    Tracer tracer(options.traceToStderr                    ? stderr
                  : options.trace != OutputPlan::kNoOutput ? plan.File(options.trace).Stream()
                                                           : nullptr);
    if (!taps.Problem().empty())
        throw Failure(kExitOutput, taps.Problem());
    CPipeline pipeline;
    ArchiveSource* source = new ArchiveSource(wav, options.fragment, tracer);
    pipeline.Add(source);
    CBrick* brick = pipeline.Add(plugin.CreateBrick(SoundBrickConfig(static_cast<unsigned>(options.stream))));
    if (taps.Tap() != nullptr)
        pipeline.Tap(brick, taps.Tap());
    // Pure arithmetic on the WAV's format: safe from the sink's thread.
    PlayerSink::Skip skip = [source](uint64_t request, bool forward) {
        return source->RequestWithSound(request, forward);
    };
    PlayerSink* sink = new PlayerSink(!options.reverse, tracer, spool, std::move(skip),
                                      options.progress ? PlayerSink::Progress(ShowProgress) : nullptr);
    pipeline.Add(sink);
    const auto start = std::chrono::steady_clock::now();
    source->Start();
    if (options.threaded) {
        pipeline.Start();
        pipeline.WaitIdle();
        pipeline.Stop();
    } else {
        pipeline.RunUntilIdle();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (options.progress)
        std::fprintf(stderr, "\r%40s\r", "");
    for (std::exception_ptr error : {source->Error(), sink->Error()}) {
        if (error)
            std::rethrow_exception(error);
    }
    if (!taps.Problem().empty())
        throw Failure(kExitOutput, taps.Problem());
    return Outcome{sink->HasConfig(),   sink->Config(), sink->ChunksRequested(), sink->Finished(), sink->Problem(),
                   sink->LastRequest(), took.count()};
}

} // namespace

Player::Player(const PlayOptions& options, const InputFile& input, OutputPlan& plan)
    : mOptions(options), mInput(input), mPlan(plan)
{
}

Player::~Player() = default;

PlayReport Player::Run()
{
    const InputFile& input = mInput;
    WavFile wav(input.Stream(), input.Name(), input.Seekable());
    if (mOptions.reverse && !input.Seekable())
        throw Failure(kExitInput, input.Name() + ": playing backward needs a file to seek in, not a pipe; "
                                                 "save the stream to a file first");
    ArchiveSource::CheckChunkSize(wav);
    mPlan.Open();
    OutputFile& output = mPlan.File(mOptions.wav);
    SoundSpool spool;
    PluginLibrary plugin(mOptions.plugin);
    const bool capturing = mOptions.capture != OutputPlan::kNoOutput;
    const bool digesting = mOptions.digests != OutputPlan::kNoOutput;
    mTaps.reset(new CaptureTaps(capturing ? mPlan.File(mOptions.capture).Path() : "",
                                capturing ? mPlan.File(mOptions.capture).Name() : "",
                                digesting ? mPlan.File(mOptions.digests).Stream() : nullptr));
    const Outcome out = Play(mOptions, mPlan, wav, plugin, spool, *mTaps);
    Check(out, spool, mOptions.stream, wav.BlockAlign());
    const uint64_t fact = wav.FactSamples();
    PlayReport report;
    report.samples = fact <= spool.Samples() ? fact : spool.Samples();
    Write(output, spool, wav, static_cast<uint32_t>(out.config.sampleRate), static_cast<uint32_t>(report.samples),
          mOptions.progress);
    report.inputRate = wav.SampleRate();
    report.inputBlockAlign = wav.BlockAlign();
    report.inputBytes = wav.DataSize();
    report.inputFact = fact;
    report.inputSeekable = input.Seekable();
    report.config = out.config;
    report.records = spool.Records();
    report.bytes = spool.Bytes();
    report.chunks = out.chunks;
    report.firstTime = spool.FirstTime();
    report.lastTime = spool.LastTime();
    report.seconds = out.seconds;
    report.outputKind = output.Kind();
    return report;
}

void Player::Finish()
{
    const std::string problem = mTaps ? mTaps->Close() : std::string();
    if (!problem.empty())
        throw Failure(kExitOutput, problem);
}
