// Shared pieces of the property tests: a sound brick in a source -> brick -> sink pipeline of
// the stand-in host, block makers, and the seed handling of randomised tests.
//
// The sink keeps a handle of every block the brick sends, in order; the source counts the chunk
// requests the brick passes on. Seeds come from VRN3_PROPERTY_SEED (one scenario) or run from a
// fixed base; the scenario count from VRN3_PROPERTY_SCENARIOS.
#pragma once

#include "host/CPipeline.h"
#include "records/BlockTypes.h"
#include "sound/CVrn3StreamSound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vrn3test {

inline uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

inline TBrickConfig SoundConfig(const char* stream)
{
    TBrickConfig config;
    std::memset(&config, 0, sizeof config);
    config.size = sizeof config;
    config.input = {kCodeSnd3, kCodeDat3};
    config.output = {kCodeIma1, kCodeSCDA};
    std::snprintf(config.streamNumber, sizeof config.streamNumber, "%s", stream);
    return config;
}

// Keeps, in order, every data block and notification the brick sends.
class CRecordingSink : public CBrick {
public:
    bool onData(const cMemBlock& block) override
    {
        data.push_back(block);
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        notes.push_back(block);
        return true;
    }
    std::vector<cMemBlock> data;
    std::vector<cMemBlock> notes;
};

// Counts the chunk requests the brick passes on.
class CRequestSource : public CBrick {
public:
    bool onCtrl(cMemBlock& block) override
    {
        if (block.GetType() == kCodeChun)
            ++requests;
        return true;
    }
    int requests = 0;
};

// A pipeline source -> sound brick -> sink, run synchronously.
struct SoundChain {
    explicit SoundChain(const char* stream = "1")
    {
        source = static_cast<CRequestSource*>(pipeline.Add(new CRequestSource));
        brick = new CVrn3StreamSound;
        brick->Create(SoundConfig(stream));
        pipeline.Add(brick);
        sink = static_cast<CRecordingSink*>(pipeline.Add(new CRecordingSink));
    }
    void Data(const cMemBlock& block)
    {
        brick->enqueueData(block);
        pipeline.RunUntilIdle();
    }
    void Ctrl(const cMemBlock& block)
    {
        brick->enqueueControl(block);
        pipeline.RunUntilIdle();
    }
    CPipeline pipeline;
    CRequestSource* source;
    CVrn3StreamSound* brick;
    CRecordingSink* sink;
};

inline cHeaderBlock Header(int stream, const std::string& params)
{
    cHeaderBlock header;
    header.Record().streams[stream].codec = "ima1";
    header.Record().streams[stream].params = params;
    return header;
}

inline cDataBlock Fragment(uint8_t stream, uint8_t kind, uint8_t lowFlags, const std::vector<uint8_t>& payload,
                           uint16_t length)
{
    cDataBlock block(static_cast<uint32_t>(payload.size()), kCodeSnd3, payload.empty() ? nullptr : payload.data());
    DATA_T& record = block.Record();
    record.length = length;
    record.flags = static_cast<uint8_t>(kind << 6 | (lowFlags & 0x3F));
    record.streamNumber = stream;
    return block;
}

inline cVideoBlock Video(uint8_t kind, uint16_t frameTime, uint8_t timeMode)
{
    cVideoBlock block(0, kCodeVid3);
    std::memset(&block.Record(), 0, sizeof(DATA_T_VIDEO));
    block.Record().flags = static_cast<uint8_t>(kind << 6);
    block.Record().frameTime = frameTime;
    block.Record().timeMode = timeMode;
    return block;
}

inline cTagBlock Tag(uint32_t code, uint64_t time, uint32_t kind = 0)
{
    cTagBlock tag;
    TStreamTag& record = tag.Record();
    record.time = time;
    std::memset(record.reserved8, 0, sizeof record.reserved8);
    record.code = code;
    record.kind = kind;
    record.streamNumber = 0;
    return tag;
}

inline cChunkCmdBlock Request(uint64_t time, uint32_t mode = 0)
{
    cChunkCmdBlock request;
    request.Record().time = time;
    request.Record().mode = mode;
    return request;
}

inline cTimeRangeBlock TimeRange(uint64_t begin, uint64_t end)
{
    cTimeRangeBlock range;
    range.Record().notifyCode = kCodeTimR;
    range.Record().begin = begin;
    range.Record().end = end;
    return range;
}

inline cResetBlock Reset(uint32_t value1)
{
    cResetBlock reset;
    std::memset(&reset.Record(), 0, sizeof(TVRN3ResetNotify));
    reset.Record().notifyCode = kCodeRset;
    reset.Record().value1 = value1;
    return reset;
}

// A play command whose direction byte holds `forwardByte` (a sender may write any value).
inline cPlayCmdBlock Play(uint8_t forwardByte)
{
    cPlayCmdBlock play;
    std::memset(&play.Record(), 0, sizeof(TCmdPlay));
    std::memcpy(&play.Record().forward, &forwardByte, 1);
    return play;
}

inline uint32_t NotifyCode(const cMemBlock& block)
{
    return cNotifyBlock(block).Record().notifyCode;
}

} // namespace vrn3test
