// The sound brick: data dispatch, video frame times, sound configuration, sound data, tags.
#include "CVrn3StreamSound.h"

#include <climits>
#include <cstdlib>
#include <cstring>

// The blocks of the record types only the sound brick uses; those it shares with the stream
// base (data fragments, tags) are instantiated there, each type once in the library.
template class cStructBlock<DATA_T_VIDEO, kCodeVid3Record>;
template class cStructBlock<TSoundData, kCodeSCDA>;

namespace {

// Sound always leaves as one channel.
constexpr int32_t kChannels = 1;
// Video time modes up to this one give a frame time to be reduced modulo the chunk length.
constexpr uint8_t kLastReducedTimeMode = 3;

// A parameter value read as strtol reads it, clamped to the 32-bit range.
int32_t ParamNumber(const std::string& value)
{
    const long number = std::strtol(value.c_str(), nullptr, 10);
    return static_cast<int32_t>(number < INT32_MIN ? INT32_MIN : number > INT32_MAX ? INT32_MAX : number);
}

} // namespace

CVrn3StreamSound::CVrn3StreamSound()
    : mSampleRate(0), mBytesPerSample(0), mChannels(kChannels), mChunkTime(0), mFrameOffset(0), mStreamConfigured(false)
{
    mTagStreamKind = kSoundTagKind;
}

CVrn3StreamSound::~CVrn3StreamSound() {}

// Blocks too short for the record their type names are malformed and dropped unread. Video is
// never taken, short or not.
bool CVrn3StreamSound::onData(const cMemBlock& block)
{
    const uint32_t type = block.GetType();
    if (type == kCodeVid3) {
        if (block.GetSize() < sizeof(DATA_T_VIDEO))
            return false;
        return OnVideoBlock(block);
    }
    if (type == kCodeSnd3) {
        if (block.GetSize() < sizeof(DATA_T) || !mStreamConfigured)
            return true;
        if (cDataBlock::RecordOf(block).streamNumber != mStreamNumber)
            return true;
        if (Defragmentation(block))
            return OnDataBlock(mDefragBlock);
        return true;
    }
    if (type == kCodeTag) {
        if (block.GetSize() >= sizeof(TStreamTag))
            OnTag(cTagBlock(block));
        return true;
    }
    return CVRN3Stream::onData(block);
}

// Only the fragment that opens a frame carries its time. Video is tracked whatever its stream
// and is not consumed. The block is read through the caller's handle.
bool CVrn3StreamSound::OnVideoBlock(const cMemBlock& block)
{
    const DATA_T_VIDEO& video = cVideoBlock::RecordOf(block);
    const uint8_t kind = FragmentKind(video.flags);
    if (kind != kFragmentFirst && kind != kFragmentWhole)
        return false;
    uint32_t offset = video.frameTime;
    if (video.timeMode <= kLastReducedTimeMode)
        offset %= kChunkLength;
    mFrameOffset = offset;
    return false;
}

void CVrn3StreamSound::OnChunkCmd(const cChunkCmdBlock&) {}

// A stream number outside the header's table selects nothing: the header is ignored and the
// brick stays as it was. The brick counts itself configured only once its configuration is
// whole and announced; a header that fails on the way leaves it as it was.
bool CVrn3StreamSound::OnHeader(const cHeaderBlock& header)
{
    if (mStreamNumber < 0 || mStreamNumber >= kStreamCount)
        return false;
    const bool status = OnStreamInfo(header.Record().streams[mStreamNumber]);
    mStreamConfigured = true;
    return status;
}

// The parameters are kept only once the "SCfg" carrying them has gone out.
bool CVrn3StreamSound::OnStreamInfo(const STREAM_T& stream)
{
    cSoundCfgBlock block;
    TSoundStreamCfg& cfg = block.Record();
    char codec[4] = {0, 0, 0, 0};
    std::memcpy(codec, stream.codec.c_str(), strnlen(stream.codec.c_str(), sizeof codec));
    std::memcpy(&cfg.codec, codec, sizeof codec);
    cfg.dataType = kCodeSCDA;
    cfg.chunkLength = kChunkLength;
    std::string value;
    ExtractParamStr(stream.params, "-rate=", value);
    cfg.sampleRate = ParamNumber(value);
    ExtractParamStr(stream.params, "-bits=", value);
    cfg.bytesPerSample = ParamNumber(value) >> 3;
    cfg.channels = kChannels;
    SendData(block);
    mSampleRate = cfg.sampleRate;
    mBytesPerSample = cfg.bytesPerSample;
    mChannels = cfg.channels;
    return true;
}

// One complete record becomes one "SCDA" block: the sound parameters, the time, the source
// flags, and the payload copied once. Bytes no field names are zeroed, so nothing a pooled node
// held before reaches a consumer.
bool CVrn3StreamSound::OnDataBlock(const cDataBlock& record)
{
    const uint32_t payload = record.GetExtraSize();
    cSoundBlock sound(payload, kCodeSCDA, record.Extra());
    TSoundData& data = sound.SoleRecord(); // made here, not yet shared
    data.time = mChunkTime + mFrameOffset;
    std::memset(data.reserved8, 0, sizeof data.reserved8);
    data.sampleRate = mSampleRate;
    data.bytesPerSample = mBytesPerSample;
    data.channels = mChannels;
    data.sourceFlags = record.Record().flags & kSourceFlagsMask;
    DelayableSend(sound);
    return true;
}

// Every tag travels on as a copy of the brick's own with the brick's tag kind; a "TagS" starts
// the time base of the sound that follows.
bool CVrn3StreamSound::OnTag(const cTagBlock& tag)
{
    if (!mStreamConfigured)
        return true;
    cTagBlock copy(tag);
    TStreamTag& record = copy.Record();
    record.kind = kSoundTagKind;
    if (record.code == kCodeTagS) {
        mChunkTime = record.time;
        mFrameOffset = 0;
    }
    DelayableSend(copy);
    return true;
}
