// CVrn3StreamSound: the brick that extracts one sound stream of a VRN3 stream.
//
// From each header it announces its stream's sound configuration ("SCfg", sent at once); it
// reassembles the sound records of its stream and offers each as one "SCDA" block, stamped
// with the start of the current chunk (the last "TagS") plus the latest video frame's offset
// in it; it passes every tag on with its own tag kind. Sound blocks and tags go through the
// base's delayed send queue, which releases them chunk by chunk as requests arrive.
//
// Life, threads and failures as for CVRN3Stream. The brick stays unconfigured, dropping sound
// and tags, until a header names a stream it can select.
#pragma once

#include "../stream/CVRN3Stream.h"

class CVrn3StreamSound : public CVRN3Stream {
public:
    // Tag kind the sound brick writes into the tags it makes or passes on.
    static constexpr uint32_t kSoundTagKind = 2;

    CVrn3StreamSound();
    ~CVrn3StreamSound() override;

    bool onData(const cMemBlock& block) override;
    void OnChunkCmd(const cChunkCmdBlock& request) override;
    bool OnHeader(const cHeaderBlock& header) override;

    // The announced sound parameters and time base, for hosts and tests.
    bool StreamConfigured() const { return mStreamConfigured; }
    int32_t SampleRate() const { return mSampleRate; }
    int32_t BytesPerSample() const { return mBytesPerSample; }
    uint64_t ChunkTime() const { return mChunkTime; }
    uint64_t FrameOffset() const { return mFrameOffset; }

protected:
    bool OnVideoBlock(const cMemBlock& block);
    bool OnStreamInfo(const STREAM_T& stream);
    bool OnDataBlock(const cDataBlock& record);
    bool OnTag(const cTagBlock& tag);

    int32_t mSampleRate;
    int32_t mBytesPerSample;
    int32_t mChannels;
    uint64_t mChunkTime;    // time of the last "TagS" passed on
    uint64_t mFrameOffset;  // offset of the latest video frame within its chunk
    bool mStreamConfigured; // a header selected the stream and its configuration went out
};
