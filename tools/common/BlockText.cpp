// One line a block: the fields a reader of a trace or a difference wants, in records.md's names.
#include "BlockText.h"

#include "../../capture/CBlockWire.h"
#include "../../records/BlockTypes.h"

#include <cinttypes>
#include <cstring>

namespace {

template <class T>
bool Read(const std::vector<uint8_t>& data, T& record)
{
    if (data.size() < sizeof record)
        return false;
    std::memcpy(static_cast<void*>(&record), data.data(), sizeof record);
    return true;
}

const char* KindName(uint8_t flags)
{
    static const char* const names[] = {"middle", "last", "first", "whole"};
    return names[FragmentKind(flags)];
}

std::string Notification(const std::vector<uint8_t>& data)
{
    char text[200];
    TSoundStreamCfg cfg;
    TSrcTimeRange range;
    TReadyNotification ready;
    uint32_t code = 0;
    Read(data, code);
    if (code == kCodeSCfg && Read(data, cfg))
        std::snprintf(text, sizeof text,
                      "SCfg codec %s dataType %s chunkLength %" PRIu64 " sampleRate %d bytesPerSample %d channels %d",
                      CodeText(cfg.codec).c_str(), CodeText(cfg.dataType).c_str(), cfg.chunkLength, cfg.sampleRate,
                      cfg.bytesPerSample, cfg.channels);
    else if (code == kCodeTimR && Read(data, range))
        std::snprintf(text, sizeof text, "TimR begin %" PRIu64 " end %" PRIu64, range.begin, range.end);
    else if (code == kCodeRdy && Read(data, ready))
        std::snprintf(text, sizeof text, "Rdy  value1 %u value2 %u flag %u value3 %u", ready.value1, ready.value2,
                      ready.flag, ready.value3);
    else
        std::snprintf(text, sizeof text, "%s", CodeText(code).c_str());
    return text;
}

std::string Fields(uint32_t type, const std::vector<uint8_t>& data)
{
    char text[200] = "";
    TStreamTag tag;
    TSoundData sound;
    DATA_T fragment;
    DATA_T_VIDEO video;
    TCmdRequestChunk chunk;
    TCmdPlay play;
    if (type == kCodeTag && Read(data, tag))
        std::snprintf(text, sizeof text, "time %" PRIu64 " code %s kind %u streamNumber %u", tag.time,
                      CodeText(tag.code).c_str(), tag.kind, tag.streamNumber);
    else if (type == kCodeSCDA && Read(data, sound))
        std::snprintf(text, sizeof text, "time %" PRIu64 " sampleRate %d bytesPerSample %d channels %d sourceFlags %u",
                      sound.time, sound.sampleRate, sound.bytesPerSample, sound.channels, sound.sourceFlags);
    else if (type == kCodeSnd3 && Read(data, fragment))
        std::snprintf(text, sizeof text, "%s length %u flags 0x%02x streamNumber %u", KindName(fragment.flags),
                      fragment.length, fragment.flags, fragment.streamNumber);
    else if (type == kCodeVid3 && Read(data, video))
        std::snprintf(text, sizeof text, "%s flags 0x%02x frameTime %u timeMode %u", KindName(video.flags), video.flags,
                      video.frameTime, video.timeMode);
    else if (type == kCodeChun && Read(data, chunk))
        std::snprintf(text, sizeof text, "time %" PRIu64 " mode %u", chunk.time, chunk.mode);
    else if (type == kCodePlay && Read(data, play))
        std::snprintf(text, sizeof text, "forward %u", PlaysForward(play) ? 1u : 0u);
    else if (type == kCodeNtfy)
        return Notification(data);
    return text;
}

} // namespace

std::string BlockText::Describe(uint32_t type, const std::vector<uint8_t>& data)
{
    const std::string fields = Fields(type, data);
    return CodeText(type) + " size " + std::to_string(data.size()) + (fields.empty() ? "" : " " + fields);
}

std::string BlockText::Describe(const cMemBlock& block)
{
    std::vector<uint8_t> data;
    CBlockWire::Flatten(block, data);
    return Describe(block.GetType(), data);
}
