// minimal-host: loads the VRN3 sound stream plug-in and pushes one sound record through it.
//
// The chain is the plug-in's brick followed by a sink brick of our own, both owned by a CPipeline
// that delivers blocks synchronously. We feed a header that describes stream 1, then one chunk
// of archive: its opening tag, a video frame, one sound record of stream 1 in three fragments
// and its closing tag. We print what reaches the sink: the sound configuration ("SCfg") arrives
// at once, the chunk ("SCDA" and the tags) only after a chunk request asks for it. The pipeline
// (and with it every block of the plug-in) is gone before dlclose.
#include <vrn3/host/CPipeline.h>
#include <vrn3/host/CPluginLibrary.h>
#include <vrn3/records/DataPathBlocks.h>
#include <vrn3/records/SoundBrickConfig.h>

#include <cstdio>

namespace {

constexpr uint8_t kStream = 1;         // the elementary stream we extract
constexpr uint64_t kChunkStart = 3000; // the chunk we play: the second of the archive

// The brick after the plug-in: prints each sound configuration and sound data block it gets.
class Sink : public CBrick {
public:
    bool onNotify(const cMemBlock& block) override
    {
        if (block.GetSize() >= sizeof(TSoundStreamCfg) && cNotifyBlock(block).Record().notifyCode == kCodeSCfg) {
            const TSoundStreamCfg& cfg = cSoundCfgBlock(block).Record();
            std::printf("SCfg: codec %.4s, %d Hz, %d bytes a sample, %d channel(s)\n",
                        reinterpret_cast<const char*>(&cfg.codec), cfg.sampleRate, cfg.bytesPerSample, cfg.channels);
        }
        return true;
    }
    bool onData(const cMemBlock& block) override
    {
        if (block.GetType() == kCodeSCDA && block.GetSize() >= sizeof(TSoundData)) {
            const cSoundBlock sound(block);
            std::printf("SCDA: time %llu, %u payload bytes \"%.*s\"\n",
                        static_cast<unsigned long long>(sound.Record().time), sound.GetExtraSize(),
                        static_cast<int>(sound.GetExtraSize()), reinterpret_cast<const char*>(sound.Extra()));
        } else if (block.GetType() == kCodeTag && block.GetSize() >= sizeof(TStreamTag)) {
            const TStreamTag& tag = cTagBlock::RecordOf(block); // through the handle: shared, not copied
            std::printf("Tag : %.4s, time %llu\n", reinterpret_cast<const char*>(&tag.code),
                        static_cast<unsigned long long>(tag.time));
        }
        return true;
    }
};

// Feeds the brick a header and one chunk; a chunk request then releases the chunk.
void Run(const CPluginLibrary& plugin)
{
    CPipeline pipeline;
    CBrick* brick = pipeline.Add(plugin.CreateBrick(SoundBrickConfig(kStream))); // onCreate runs on first delivery
    Sink* sink = new Sink;
    pipeline.Add(sink);

    cHeaderBlock header = MakeHeaderBlock();
    header.Record().streams[kStream].codec = "ima1";
    header.Record().streams[kStream].params = "-rate=8000 -bits=16";
    brick->enqueueData(header);
    brick->enqueueData(MakeTagBlock(kCodeTagS, kChunkStart, kStream));
    brick->enqueueData(MakeVideoFragment(kFragmentWhole, 40, nullptr, 0)); // sound times follow frames
    const uint8_t record[] = "one sound record";
    for (const cDataBlock& fragment : CutSoundRecord(kStream, record, sizeof record - 1, 6))
        brick->enqueueData(fragment);
    brick->enqueueData(MakeTagBlock(kCodeTagF, kChunkStart + kTagFAfterTagS, kStream));
    pipeline.RunUntilIdle();

    std::printf("(the chunk waits in the brick until a chunk request asks for it)\n");
    cChunkCmdBlock request;
    request.Record().time = kChunkStart;
    request.Record().mode = 0;
    sink->SendCmd(request); // upstream, to the brick's control queue
    pipeline.RunUntilIdle();
}

} // namespace

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : VRN3_PLUGIN;
    try {
        CPluginLibrary plugin(path);
        std::printf("loaded %s\n", path);
        Run(plugin);
    } catch (const CPluginLibrary::Error& e) {
        std::fprintf(stderr, "minimal-host: %s: %s\n", path, e.what());
        return 1;
    }
    return 0;
}
