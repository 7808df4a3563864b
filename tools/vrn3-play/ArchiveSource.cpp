// The demultiplexer's side of the protocol: header, time range, and chunks answered on request.
#include "ArchiveSource.h"

#include "../common/Failure.h"

#include "../../records/DataPathBlocks.h"

#include <algorithm>
#include <string>

namespace {

// Bytes of a stand-in video frame, and the byte it is filled with; the brick does not read them
// (the fill is kept as it is: captures and digests of a run hold the frames).
constexpr size_t kVideoFrameSize = 48;
constexpr uint8_t kVideoFill = 0x10;
// The second sound stream: mu-law bytes of silence, one record of this size per WAV block.
constexpr size_t kSecondSoundSize = 160;
constexpr uint8_t kMuLawSilence = 0xFF;
// Kind bytes of the stream table: 1 marks a video stream (the frame-rate arithmetic counts them).
constexpr uint8_t kKindVideo = 1;
constexpr uint8_t kKindSound = 2;

} // namespace

ArchiveSource::ArchiveSource(WavFile& wav, uint16_t fragment, Tracer& tracer)
    : mWav(wav), mFragment(fragment), mTracer(tracer), mSecondSound(kSecondSoundSize, kMuLawSilence)
{
}

uint64_t ArchiveSource::End() const
{
    const uint64_t samples = mWav.SampleCount();
    if (samples == WavFile::kUnknown)
        return UINT64_MAX;
    return (samples * kUnitsPerSecond + mWav.SampleRate() - 1) / mWav.SampleRate();
}

uint64_t ArchiveSource::FirstBlockAt(uint64_t time) const
{
    const uint64_t unitsPerBlock = uint64_t{mWav.SamplesPerBlock()} * kUnitsPerSecond;
    return (time * mWav.SampleRate() + unitsPerBlock - 1) / unitsPerBlock;
}

uint64_t ArchiveSource::BlockTime(uint64_t index) const
{
    return index * mWav.SamplesPerBlock() * kUnitsPerSecond / mWav.SampleRate();
}

void ArchiveSource::CheckChunkSize(const WavFile& wav)
{
    const uint64_t samples = kChunkLength * wav.SampleRate() / kUnitsPerSecond;
    const uint64_t blocks = samples / wav.SamplesPerBlock() + 2;               // a chunk may cut two blocks
    const uint64_t most = std::min(blocks * wav.BlockAlign(), wav.DataSize()); // a pipe's may be unknown
    if (most > kMaxChunkBytes)
        throw Failure(kExitInput, wav.Name() + ": at " + std::to_string(wav.SampleRate()) +
                                      " Hz a 3-s chunk would hold " + std::to_string(most) +
                                      " bytes of sound; at most " + std::to_string(kMaxChunkBytes) +
                                      " are played (rates up to about 5.5 MHz)");
}

uint64_t ArchiveSource::RequestWithSound(uint64_t request, bool forward) const
{
    if (forward) {
        const uint64_t time = BlockTime(FirstBlockAt(request));
        return std::max(request, time - time % kChunkLength);
    }
    const uint64_t start = request < kChunkLength ? 0 : request - kChunkLength;
    const uint64_t first = FirstBlockAt(start);
    if (first < FirstBlockAt(request))
        return request; // the chunk [start, request) holds a block
    if (first == 0)
        return 0; // no sound before: the request at the archive's start is its edge
    const uint64_t time = BlockTime(first - 1);
    return time - time % kChunkLength + kChunkLength;
}

void ArchiveSource::Start()
{
    SendHeader();
    SendTimeRange();
}

bool ArchiveSource::onCtrl(cMemBlock& block)
{
    if (block.GetType() == kCodePlay && block.GetSize() >= sizeof(TCmdPlay)) {
        mTracer.Block(Tracer::kBrickToSource, true, block);
        mForward = PlaysForward(cPlayCmdBlock(block).Record());
    } else if (block.GetType() == kCodeChun && block.GetSize() >= sizeof(TCmdRequestChunk)) {
        mTracer.Block(Tracer::kBrickToSource, true, block);
        try {
            if (!mError)
                SendChunk(cChunkCmdBlock(block).Record().time);
        } catch (...) {
            mError = std::current_exception();
        }
    }
    return true;
}

void ArchiveSource::SendHeader()
{
    cHeaderBlock header(0, kCodeHdr3);
    HDR_T& hdr = header.Record();
    hdr.reserved0 = 0;
    hdr.reserved4 = 0;
    for (STREAM_T& stream : hdr.streams) {
        stream.reserved0 = 0;
        stream.kind = 0;
    }
    hdr.streams[kVideoStream].kind = kKindVideo;
    hdr.streams[kVideoStream].codec = "H264";
    hdr.streams[kVideoStream].params = "-fps=25 -width=320 -height=240";
    hdr.streams[kSoundStream].kind = kKindSound;
    hdr.streams[kSoundStream].codec = "ima1";
    hdr.streams[kSoundStream].params = "-rate=" + std::to_string(mWav.SampleRate()) + " -bits=16 -channels=1";
    hdr.streams[kSecondSoundStream].kind = kKindSound;
    hdr.streams[kSecondSoundStream].codec = "pcmu";
    hdr.streams[kSecondSoundStream].params = "-rate=8000 -bits=8 -channels=1";
    Send(header);
}

void ArchiveSource::SendTimeRange()
{
    cTimeRangeBlock range;
    range.Record().notifyCode = kCodeTimR;
    range.Record().begin = 0;
    mAnnouncedEnd = End();
    range.Record().end = mAnnouncedEnd;
    Send(range);
}

void ArchiveSource::SendChunk(uint64_t request)
{
    if (mForward ? request >= mAnnouncedEnd : request == 0)
        return; // beyond the archive: nothing to send
    const uint64_t start = mForward ? request : (request < kChunkLength ? 0 : request - kChunkLength);
    const uint64_t stop = mForward ? request + kChunkLength : request;
    SendTag(kCodeTagS, start);
    for (uint64_t i = FirstBlockAt(start); i < FirstBlockAt(stop) && mWav.ReadBlock(i, mBlock); ++i) {
        SendVideoFrame(static_cast<uint16_t>(BlockTime(i) - start));
        SendRecord(mBlock.data(), mBlock.size());
    }
    if (End() != mAnnouncedEnd)
        SendTimeRange(); // a pipe's data has ended
    SendTag(kCodeTagF, start + kTagFAfterTagS);
}

void ArchiveSource::SendTag(uint32_t code, uint64_t time)
{
    Send(MakeTagBlock(code, time, kSoundStream));
}

void ArchiveSource::SendVideoFrame(uint16_t offset)
{
    const std::vector<uint8_t> frame(kVideoFrameSize, kVideoFill);
    Send(MakeVideoFragment(kFragmentWhole, offset, frame.data(), static_cast<uint32_t>(frame.size())));
}

// The wanted stream's fragments alternate with the second stream's, so that a fragment of the
// other stream lies between any two fragments of one record.
void ArchiveSource::SendRecord(const uint8_t* data, size_t size)
{
    const std::vector<cDataBlock> mine = CutSoundRecord(kSoundStream, data, size, mFragment);
    const std::vector<cDataBlock> other =
        CutSoundRecord(kSecondSoundStream, mSecondSound.data(), mSecondSound.size(), mFragment);
    for (size_t i = 0; i < std::max(mine.size(), other.size()); ++i) {
        if (i < mine.size())
            Send(mine[i]);
        if (i < other.size())
            Send(other[i]);
    }
}

void ArchiveSource::Send(const cMemBlock& block)
{
    mTracer.Block(Tracer::kSourceToBrick, false, block);
    SendData(block);
}
