// One run: read, play through the plug-in, check, write.
#include "Player.h"

#include "ArchiveSource.h"
#include "Failure.h"
#include "PlayerSink.h"
#include "PluginLibrary.h"
#include "Tracer.h"
#include "WavFile.h"

#include "host/CPipeline.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

// What the sink collected, kept after the pipeline is gone.
struct Outcome {
    bool hasConfig;
    TSoundStreamCfg config;
    std::vector<PlayerSink::Record> records;
    uint32_t chunks;
    bool finished;
    std::string problem;
    uint64_t lastRequest;
};

TBrickConfig SoundBrickConfig(int stream)
{
    TBrickConfig config;
    std::memset(&config, 0, sizeof config);
    config.size = sizeof config;
    config.input = TContentDescriptor{kCodeSnd3, kCodeDat3};
    config.output = TContentDescriptor{kCodeIma1, kCodeSCDA};
    std::snprintf(config.brickName, sizeof config.brickName, "VRN3SoundStream");
    std::snprintf(config.streamNumber, sizeof config.streamNumber, "%d", stream);
    return config;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string CodecText(uint32_t codec)
{
    char text[5] = {0, 0, 0, 0, 0};
    std::memcpy(text, &codec, 4);
    return text;
}

// Refuses what the sink collected unless it is IMA ADPCM sound of the chosen stream, played to
// the end.
void Check(const Outcome& out, int stream)
{
    const std::string name = "stream " + std::to_string(stream);
    if (!out.hasConfig)
        throw Failure(kExitNoSound, name + ": the plug-in announced no sound configuration (no such stream in "
                                           "the archive); nothing written");
    if (out.config.codec == 0)
        throw Failure(kExitNoSound, name + " carries no sound (no codec in the archive's stream table); nothing written");
    if (out.config.codec != kCodeIma1)
        throw Failure(kExitNoSound,
                      name + " carries '" + CodecText(out.config.codec) + "', not IMA ADPCM sound; nothing written");
    if (!out.problem.empty())
        throw Failure(kExitProtocol, "the plug-in broke the protocol: " + out.problem);
    if (!out.finished)
        throw Failure(kExitProtocol, "the plug-in stopped answering after " + std::to_string(out.chunks) +
                                         " chunk requests (the last at time " + std::to_string(out.lastRequest) + ")");
    if (out.config.sampleRate <= 0)
        throw Failure(kExitNoSound, name + ": the plug-in announced sample rate " + std::to_string(out.config.sampleRate));
    if (out.records.empty())
        throw Failure(kExitNoSound, name + ": no sound records extracted; nothing written");
}

// The records in time order as a WAV; records of one time keep their arrival order.
WavFile Assemble(std::vector<PlayerSink::Record>& records, int32_t rate)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const PlayerSink::Record& a, const PlayerSink::Record& b) { return a.time < b.time; });
    size_t blockAlign = 0;
    for (const PlayerSink::Record& record : records) {
        if (record.bytes.size() <= WavFile::kBlockHeader || record.bytes.size() > UINT16_MAX)
            throw Failure(kExitProtocol, "a sound record of " + std::to_string(record.bytes.size()) +
                                             " bytes at time " + std::to_string(record.time) +
                                             " is no IMA ADPCM block");
        blockAlign = std::max(blockAlign, record.bytes.size());
    }
    if (!WavFile::IsBlockAlign(static_cast<uint32_t>(blockAlign)))
        throw Failure(kExitProtocol, "sound records of " + std::to_string(blockAlign) + " bytes are no IMA ADPCM blocks");
    WavFile wav(static_cast<uint32_t>(rate), static_cast<uint16_t>(blockAlign));
    for (const PlayerSink::Record& record : records)
        wav.AppendBlock(record.bytes.data(), record.bytes.size());
    return wav;
}

} // namespace

PlayReport Player::Run()
{
    const WavFile input = WavFile::Read(mOptions.input);
    if (SameFile(mOptions.input, mOptions.output))
        throw Failure(kExitOutput, mOptions.output + ": is the input; choose another output");
    Tracer tracer(stdout, mOptions.trace);
    PluginLibrary plugin(mOptions.plugin);
    Outcome out;
    std::chrono::steady_clock::duration took;
    {
        CPipeline pipeline;
        ArchiveSource* source = new ArchiveSource(input, mOptions.fragment, tracer);
        pipeline.Add(source);
        pipeline.Add(plugin.CreateBrick(SoundBrickConfig(mOptions.stream)));
        PlayerSink* sink = new PlayerSink(!mOptions.reverse, tracer);
        pipeline.Add(sink);
        const auto start = std::chrono::steady_clock::now();
        source->Start();
        if (mOptions.threaded) {
            pipeline.Start();
            pipeline.WaitIdle();
            pipeline.Stop();
        } else {
            pipeline.RunUntilIdle();
        }
        took = std::chrono::steady_clock::now() - start;
        out = Outcome{sink->HasConfig(), sink->Config(), sink->TakeRecords(), sink->ChunksRequested(),
                      sink->Finished(), sink->Problem(), sink->LastRequest()};
    }
    Check(out, mOptions.stream);
    PlayReport report;
    report.config = out.config;
    report.records = out.records.size();
    report.chunks = out.chunks;
    report.seconds = std::chrono::duration<double>(took).count();
    WavFile wav = Assemble(out.records, out.config.sampleRate);
    report.bytes = wav.DataSize();
    report.samples = wav.SampleCount();
    report.firstTime = out.records.front().time;
    report.lastTime = out.records.back().time;
    wav.Write(mOptions.output);
    return report;
}
