// The player's side of the protocol: requests chunk by chunk, keeps configuration and sound.
#include "PlayerSink.h"

#include "../../records/BlockTypes.h"

#include <algorithm>
#include <cstring>
#include <utility>

PlayerSink::PlayerSink(bool forward, Tracer& tracer, SoundSpool& spool, Skip skip, Progress progress)
    : mForward(forward), mTracer(tracer), mSpool(spool), mSkip(std::move(skip)), mProgress(std::move(progress))
{
}

bool PlayerSink::onNotify(const cMemBlock& block)
{
    return Take(block, &PlayerSink::OnNotification);
}

bool PlayerSink::onData(const cMemBlock& block)
{
    return Take(block, &PlayerSink::OnBlock);
}

bool PlayerSink::Take(const cMemBlock& block, void (PlayerSink::*handle)(const cMemBlock&))
{
    mTracer.Block(Tracer::kBrickToSink, false, block);
    try {
        if (!mError)
            (this->*handle)(block);
    } catch (...) {
        mError = std::current_exception();
    }
    return true;
}

void PlayerSink::OnNotification(const cMemBlock& block)
{
    if (block.GetSize() < sizeof(TNotifyBase))
        return;
    const uint32_t code = cNotifyBlock(block).Record().notifyCode;
    if (code == kCodeSCfg && block.GetSize() >= sizeof(TSoundStreamCfg)) {
        mConfig = cSoundCfgBlock(block).Record();
        mHasConfig = true;
    } else if (code == kCodeTimR && block.GetSize() >= sizeof(TSrcTimeRange)) {
        const TSrcTimeRange& range = cTimeRangeBlock(block).Record();
        if (mStarted)
            mEnd = range.end;
        else
            Begin(range.begin, range.end);
    }
}

void PlayerSink::OnBlock(const cMemBlock& block)
{
    const uint32_t type = block.GetType();
    if (type == kCodeSCDA && block.GetSize() >= sizeof(TSoundData)) {
        const cSoundBlock sound(block);
        mSpool.Add(sound.Record().time, sound.Extra(), sound.GetExtraSize());
    } else if (type == kCodeTag && block.GetSize() >= sizeof(TStreamTag)) {
        OnTag(cTagBlock::RecordOf(block));
    }
}

void PlayerSink::OnTag(const TStreamTag& tag)
{
    if (tag.code == kCodeTagS) {
        mOpenTagKind = tag.kind;
        mRecordsAtOpen = mSpool.Records();
        return;
    }
    if (tag.code != kCodeTagF || mFinished || !mProblem.empty())
        return;
    mSpool.CloseChunk();
    ShowProgress();
    if (!mEdgeRequested) {
        Request(mSkip(mForward ? mRequest + kChunkLength : mRequest - kChunkLength, mForward));
        return;
    }
    // The answer to the request beyond the edge: the plug-in's own empty pair.
    if (mSpool.Records() != mRecordsAtOpen)
        mProblem = "sound arrived in the chunk beyond the archive's edge";
    else if (mForward && mOpenTagKind != kEndOfStreamTagKind)
        mProblem = "the chunk beyond the archive's end did not open with an end-of-stream tag";
    mFinished = mProblem.empty();
}

// Starts the play once the archive's range is known. Backward play starts at the grid point
// at or after the end, whose request asks for the last chunk.
void PlayerSink::Begin(uint64_t begin, uint64_t end)
{
    mStarted = true;
    mBegin = begin;
    mEnd = end;
    if (!mForward) {
        cPlayCmdBlock play;
        std::memset(&play.Record(), 0, sizeof(TCmdPlay));
        play.Record().forward = false;
        Send(play);
    }
    const uint64_t chunks = end <= begin ? 0 : (end - begin + kChunkLength - 1) / kChunkLength;
    Request(mForward ? mSkip(begin, true) : mSkip(begin + chunks * kChunkLength, false));
}

// The chunk just closed counts whole, up to the archive's edge.
void PlayerSink::ShowProgress() const
{
    if (!mProgress || mEnd <= mBegin)
        return;
    const uint64_t edge = mForward
                              ? std::min(mRequest + kChunkLength, mEnd)
                              : std::max(mRequest < mBegin + kChunkLength ? mBegin : mRequest - kChunkLength, mBegin);
    mProgress(mForward ? edge - mBegin : mEnd - std::min(edge, mEnd), mEnd == UINT64_MAX ? UINT64_MAX : mEnd - mBegin);
}

void PlayerSink::Request(uint64_t time)
{
    mRequest = time;
    mEdgeRequested = mForward ? time >= mEnd : time <= mBegin;
    ++mChunksRequested;
    cChunkCmdBlock chunk;
    std::memset(&chunk.Record(), 0, sizeof(TCmdRequestChunk));
    chunk.Record().time = time;
    Send(chunk);
}

void PlayerSink::Send(const cMemBlock& block)
{
    mTracer.Block(Tracer::kSinkToBrick, true, block);
    SendCmd(block);
}
