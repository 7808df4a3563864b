// Describing blocks of the stream protocol, one line each.
#include "Tracer.h"

#include "records/BlockTypes.h"

#include <cinttypes>
#include <cstring>

namespace {

const char* KindName(uint8_t flags)
{
    static const char* const names[] = {"middle", "last", "first", "whole"};
    return names[FragmentKind(flags)];
}

// What a block of known type says beyond its type: code, sizes and times.
std::string Details(const cMemBlock& block)
{
    char text[200];
    const uint32_t type = block.GetType();
    const uint32_t size = block.GetSize();
    if (type == kCodeTag && size >= sizeof(TStreamTag)) {
        const TStreamTag& tag = cTagBlock(block).Record();
        std::snprintf(text, sizeof text, "%s  size %u  time %" PRIu64 "  kind %u", CodeText(tag.code).c_str(), size,
                      tag.time, tag.kind);
    } else if (type == kCodeSnd3 && size >= sizeof(DATA_T)) {
        const DATA_T& data = cDataBlock(block).Record();
        std::snprintf(text, sizeof text, "%s  stream %u  size 4+%u  length %u", KindName(data.flags),
                      data.streamNumber, size - 4u, data.length);
    } else if (type == kCodeVid3 && size >= sizeof(DATA_T_VIDEO)) {
        const DATA_T_VIDEO& video = cVideoBlock(block).Record();
        std::snprintf(text, sizeof text, "%s  size 8+%u  frame time %u mode %u", KindName(video.flags), size - 8u,
                      video.frameTime, video.timeMode);
    } else if (type == kCodeSCDA && size >= sizeof(TSoundData)) {
        const TSoundData& sound = cSoundBlock(block).Record();
        std::snprintf(text, sizeof text, "size 32+%u  time %" PRIu64 "  rate %d  bytes/sample %d", size - 32u,
                      sound.time, sound.sampleRate, sound.bytesPerSample);
    } else if (type == kCodeChun && size >= sizeof(TCmdRequestChunk)) {
        const TCmdRequestChunk& chunk = cChunkCmdBlock(block).Record();
        std::snprintf(text, sizeof text, "size %u  time %" PRIu64 "  mode %u", size, chunk.time, chunk.mode);
    } else if (type == kCodePlay && size >= sizeof(TCmdPlay)) {
        std::snprintf(text, sizeof text, "size %u  %s", size,
                      PlaysForward(cPlayCmdBlock(block).Record()) ? "forward" : "backward");
    } else if (type == kCodeNtfy && size >= sizeof(TNotifyBase)) {
        const uint32_t code = cNotifyBlock(block).Record().notifyCode;
        if (code == kCodeTimR && size >= sizeof(TSrcTimeRange)) {
            const TSrcTimeRange& range = cTimeRangeBlock(block).Record();
            std::snprintf(text, sizeof text, "TimR  size %u  range %" PRIu64 "..%" PRIu64, size, range.begin,
                          range.end);
        } else if (code == kCodeSCfg && size >= sizeof(TSoundStreamCfg)) {
            const TSoundStreamCfg& cfg = cSoundCfgBlock(block).Record();
            std::snprintf(text, sizeof text, "SCfg  size %u  codec %s  rate %d  bytes/sample %d  channels %d", size,
                          CodeText(cfg.codec).c_str(), cfg.sampleRate, cfg.bytesPerSample, cfg.channels);
        } else {
            std::snprintf(text, sizeof text, "%s  size %u", CodeText(code).c_str(), size);
        }
    } else {
        std::snprintf(text, sizeof text, "size %u", size);
    }
    return text;
}

} // namespace

std::string Tracer::Describe(EPath path, bool control, const cMemBlock& block)
{
    static const char* const paths[] = {"in   source>brick", "out  brick>source", "in   sink>brick  ",
                                        "out  brick>sink  "};
    return std::string(paths[path]) + (control ? "  ctrl  " : "  data  ") + CodeText(block.GetType()) + "  " +
           Details(block);
}

void Tracer::Block(EPath path, bool control, const cMemBlock& block)
{
    if (mOut == nullptr)
        return;
    const std::string line = Describe(path, control, block);
    std::lock_guard<std::mutex> lock(mLock);
    std::fprintf(mOut, "%6" PRIu64 "  %s\n", ++mLines, line.c_str());
}
