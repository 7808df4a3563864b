// reading-host: reads every block the VRN3 sound stream plug-in sends, on each path, through the
// typed view of its record.
//
// The chain is Source -> plug-in brick -> Sink, owned by a CPipeline that delivers synchronously.
// The source puts the stream and three notifications on the brick's data path and prints the
// control blocks the brick passes upstream (onCtrl); the sink prints the data blocks (onData) and
// the notifications (onNotify: data blocks of type "ntfy") the brick sends downstream.
//
// A plain handle, cMemBlock, knows a block's type and size, not its record: its GetData() is the
// address after the generic node header, and a command block (every control block and every
// notification) keeps its list of the bricks that handled it there, before the record. So each
// handler tests GetType(), for a notification the code in its first word (read through
// cNotifyBlock), and GetSize(), and then reads the record in place, nothing copied: a command
// block's through a view of its type, cSoundCfgBlock(block).Record() (a command view shares its
// record and never copies it), a structure block's through a const view, const cSoundBlock
// sound(block), or through the handle, cTagBlock::RecordOf(block). A non-const structure view's
// Record() is for writing: it copies a shared node into the view's own, so on a temporary view,
// whose copy would be gone with the statement, it does not compile. The sink keeps the chunk's
// opening tag by its handle and reads it again once the brick has sent the closing one.
#include <vrn3/host/CPipeline.h>
#include <vrn3/host/CPluginLibrary.h>
#include <vrn3/records/BlockTypes.h>
#include <vrn3/records/DataPathBlocks.h>
#include <vrn3/records/HostRecords.h>
#include <vrn3/records/SoundBrickConfig.h>

#include <cstdio>
#include <string>

namespace {

constexpr uint8_t kStream = 1;         // the elementary stream we extract
constexpr uint64_t kChunkStart = 3000; // the chunk we play: the second of the archive
constexpr uint64_t kArchiveEnd = 9000; // three chunks of archive

std::string Text(uint32_t code)
{
    return std::string(reinterpret_cast<const char*>(&code), 4);
}

unsigned long long Number(uint64_t n)
{
    return static_cast<unsigned long long>(n);
}

// A view never checks the size: a reader makes sure the block holds the whole record.
template <class T>
bool Holds(const cMemBlock& block)
{
    return block.GetSize() >= sizeof(T);
}

void PrintTag(const char* how, const TStreamTag& tag)
{
    std::printf("%-8s Tag : %s, time %llu, stream %u\n", how, Text(tag.code).c_str(), Number(tag.time),
                tag.streamNumber);
}

// Before the brick: what it passes upstream reaches onCtrl.
class Source : public CBrick {
public:
    bool onCtrl(cMemBlock& block) override
    {
        if (block.GetType() == kCodeChun && Holds<TCmdRequestChunk>(block)) {
            const TCmdRequestChunk& request = cChunkCmdBlock(block).Record();
            std::printf("control  Chun: time %llu, mode %u\n", Number(request.time), request.mode);
        } else if (block.GetType() == kCodePlay && Holds<TCmdPlay>(block)) {
            std::printf("control  Play: %s\n", cPlayCmdBlock(block).Record().forward ? "forward" : "backward");
        } else {
            std::printf("control  %s, %u bytes\n", Text(block.GetType()).c_str(), block.GetSize());
        }
        return true;
    }
};

// After the brick: data blocks reach onData, notifications onNotify.
class Sink : public CBrick {
public:
    bool onData(const cMemBlock& block) override
    {
        if (block.GetType() == kCodeSCDA && Holds<TSoundData>(block)) {
            const cSoundBlock sound(block);
            std::printf("data     SCDA: time %llu, %u payload bytes \"%.*s\"\n", Number(sound.Record().time),
                        sound.GetExtraSize(), static_cast<int>(sound.GetExtraSize()),
                        reinterpret_cast<const char*>(sound.Extra()));
        } else if (block.GetType() == kCodeTag && Holds<TStreamTag>(block)) {
            const TStreamTag& tag = cTagBlock::RecordOf(block);
            PrintTag("data", tag);
            if (tag.code == kCodeTagS)
                mOpening = block;
            else if (tag.code == kCodeTagF && mOpening.GetType() == kCodeTag)
                PrintTag("kept", cTagBlock::RecordOf(mOpening));
        } else {
            std::printf("data     %s, %u bytes\n", Text(block.GetType()).c_str(), block.GetSize());
        }
        return true;
    }

    bool onNotify(const cMemBlock& block) override
    {
        const uint32_t code = Holds<TNotifyBase>(block) ? cNotifyBlock(block).Record().notifyCode : 0;
        if (code == kCodeSCfg && Holds<TSoundStreamCfg>(block)) {
            const TSoundStreamCfg& cfg = cSoundCfgBlock(block).Record();
            std::printf("notify   SCfg: codec %s, %d Hz, %d bytes a sample, %d channel(s), blocks %s\n",
                        Text(cfg.codec).c_str(), cfg.sampleRate, cfg.bytesPerSample, cfg.channels,
                        Text(cfg.dataType).c_str());
        } else if (code == kCodeTimR && Holds<TSrcTimeRange>(block)) {
            const TSrcTimeRange& range = cTimeRangeBlock(block).Record();
            std::printf("notify   TimR: archive %llu to %llu\n", Number(range.begin), Number(range.end));
        } else if (code == kCodeRdy && Holds<TReadyNotification>(block)) {
            const TReadyNotification& ready = cReadyBlock(block).Record();
            std::printf("notify   Rdy : values %u %u %u, flag %u\n", ready.value1, ready.value2, ready.value3,
                        ready.flag);
        } else if (code == kCodeEvt && Holds<TEventList>(block)) {
            const QList<TEventListEntry>& entries = cEventListBlock(block).Record().entries;
            std::printf("notify   Evt : %d event(s)\n", static_cast<int>(entries.size()));
            for (const TEventListEntry& entry : entries)
                std::printf("           stream %u: \"%s\"\n", entry.streamNumber, entry.text.c_str());
        } else {
            std::printf("notify   %s, %u bytes\n", Text(code).c_str(), block.GetSize());
        }
        return true;
    }

private:
    // The chunk's opening tag. The handle holds the tag's node, so what RecordOf reads through it
    // stays this tag's own, whatever tags are made and released meanwhile.
    cMemBlock mOpening;
};

// The archive's range, a reset (it empties the brick's queue: before the chunk) and an event list
// of two streams' events.
void SendNotifications(CBrick* source)
{
    cTimeRangeBlock range;
    range.Record() = TSrcTimeRange{kCodeTimR, 0, kArchiveEnd};
    source->SendData(range);
    cResetBlock reset;
    reset.Record() = TVRN3ResetNotify{kCodeRset, {}, 7, 8, 9, 1};
    source->SendData(reset); // answered with "Rdy " and the values
    cEventListBlock events;
    events.Record().entries.append(TEventListEntry{0, 0, kStream, "an event of stream 1"});
    events.Record().entries.append(TEventListEntry{0, 0, kStream + 1, "an event of stream 2"});
    source->SendData(events); // narrowed to the brick's stream
}

// A header naming the stream: the brick announces its sound configuration at once.
void SendHeader(CBrick* source)
{
    cHeaderBlock header = MakeHeaderBlock();
    header.Record().streams[kStream].codec = "ima1";
    header.Record().streams[kStream].params = "-rate=8000 -bits=16";
    source->SendData(header);
}

// One chunk: its tags, a video frame, a sound record in fragments.
void SendChunk(CBrick* source)
{
    source->SendData(MakeTagBlock(kCodeTagS, kChunkStart, kStream));
    source->SendData(MakeVideoFragment(kFragmentWhole, 40, nullptr, 0)); // sound times follow frames
    const uint8_t record[] = "one sound record";
    for (const cDataBlock& fragment : CutSoundRecord(kStream, record, sizeof record - 1, 6))
        source->SendData(fragment);
    source->SendData(MakeTagBlock(kCodeTagF, kChunkStart + kTagFAfterTagS, kStream));
}

// A chunk request, sent upstream from the sink to the brick's control queue.
void Request(CBrick* sink, uint64_t time)
{
    cChunkCmdBlock request;
    request.Record().time = time;
    request.Record().mode = 0;
    sink->SendCmd(request);
}

void Run(const CPluginLibrary& plugin)
{
    CPipeline pipeline;
    Source* source = new Source;
    pipeline.Add(source);
    pipeline.Add(plugin.CreateBrick(SoundBrickConfig(kStream))); // onCreate runs on first delivery
    Sink* sink = new Sink;
    pipeline.Add(sink);

    SendHeader(source);
    SendNotifications(source);
    SendChunk(source);
    pipeline.RunUntilIdle();
    std::printf("(the chunk waits in the brick until a chunk request asks for it)\n");
    Request(sink, kChunkStart);
    pipeline.RunUntilIdle();
    std::printf("(a request for a chunk the brick does not hold goes on upstream)\n");
    Request(sink, kChunkStart * 2);
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
        std::fprintf(stderr, "reading-host: %s\n", e.what());
        return 1;
    }
    return 0;
}
