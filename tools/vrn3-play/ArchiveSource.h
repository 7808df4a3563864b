// ArchiveSource: the brick before the plug-in; plays the demultiplexer of a VRN3 archive made
// from one IMA ADPCM WAV file.
//
// The archive holds three streams: a video stream (kVideoStream), the WAV's sound
// (kSoundStream, codec "ima1", "-rate=<rate> -bits=16 -channels=1") and a second sound stream
// of another coding (kSecondSoundStream, "pcmu") whose records are interleaved, fragment by
// fragment, with the first one's, so a brick that extracts one stream must keep them apart.
//
// Time: one stream time unit is one millisecond. Block i of the WAV becomes one sound record at
// time floor(i * samplesPerBlock * 1000 / rate); the archive's range is 0 to the end of the last
// sample (rounded up), and chunks are 3000 units long on a grid anchored at 0. A chunk request at
// time t asks, playing forward, for the chunk [t, t + 3000), and, playing backward, for the chunk
// that ends at t, [t - 3000, t). The answer is a "TagS" at the chunk's start, then for each record
// of the chunk a video frame whose offset within the chunk is the record's (the brick stamps a
// record with chunk start + latest frame offset, so the times come out exact), the record's
// fragments of both sound streams, and a "TagF" 2970 units after the "TagS". Requests outside
// the range get no answer: the brick is expected to answer those itself.
//
// Life: built by the host program with the parsed file, added first to the pipeline, which owns
// it; Start sends the header and the time range; the rest happens in onCtrl.
#pragma once

#include "Tracer.h"
#include "WavFile.h"

#include "blocks/CBrick.h"
#include "blocks/cMemBlock.h"

#include <cstdint>
#include <vector>

class ArchiveSource : public CBrick {
public:
    static constexpr uint8_t kVideoStream = 0;
    static constexpr uint8_t kSoundStream = 1;
    static constexpr uint8_t kSecondSoundStream = 2;
    // Stream time units per second.
    static constexpr uint64_t kUnitsPerSecond = 1000;

    // `fragment` is the largest payload of one fragment; 0 sends every record whole.
    ArchiveSource(const WavFile& wav, uint16_t fragment, Tracer& tracer);

    // Sends the stream header and the archive's time range to the next brick.
    void Start();

    // The archive's range: 0 to just past its last sample.
    uint64_t End() const { return mEnd; }
    uint64_t RecordTime(size_t i) const { return mTimes[i]; }

    bool onCtrl(cMemBlock& block) override;

private:
    void SendHeader();
    void SendTimeRange();
    void SendChunk(uint64_t request);
    void SendTag(uint32_t code, uint64_t time);
    void SendVideoFrame(uint16_t offset);
    // Sends one record of the WAV's stream and one of the second stream, fragments interleaved.
    void SendRecord(const uint8_t* data, size_t size);
    // A record cut into fragments of at most mFragment payload bytes (all of it when 0).
    std::vector<cMemBlock> Fragments(uint8_t stream, const uint8_t* data, size_t size) const;
    void Send(const cMemBlock& block);

    const WavFile& mWav;
    uint16_t mFragment;
    Tracer& mTracer;
    std::vector<uint64_t> mTimes;      // time of each record, ascending
    std::vector<uint8_t> mSecondSound; // the second stream's record, the same for every block
    uint64_t mEnd;
    bool mForward = true;
};
