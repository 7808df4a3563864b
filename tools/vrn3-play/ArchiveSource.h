// ArchiveSource: the brick before the plug-in; plays the demultiplexer of a VRN3 archive made
// from one IMA ADPCM WAV file.
//
// The archive holds three streams: a video stream (kVideoStream), the WAV's sound
// (kSoundStream, codec "ima1", "-rate=<rate> -bits=16 -channels=1") and a second sound stream
// of another coding (kSecondSoundStream, "pcmu") whose records are interleaved, fragment by
// fragment, with the first one's, so a brick that extracts one stream must keep them apart.
//
// Time: one stream time unit is one millisecond. Block i of the WAV becomes one sound record at
// time floor(i * samplesPerBlock * 1000 / rate) (every block but the last is full, so the time
// is computed, not stored); the archive's range is 0 to the end of the last sample (rounded up),
// and chunks are 3000 units long on a grid anchored at 0. A chunk request at
// time t asks, playing forward, for the chunk [t, t + 3000), and, playing backward, for the chunk
// that ends at t, [t - 3000, t). The answer is a "TagS" at the chunk's start, then for each record
// of the chunk a video frame whose offset within the chunk is the record's (the brick stamps a
// record with chunk start + latest frame offset, so the times come out exact), the record's
// fragments of both sound streams, and a "TagF" 2970 units after the "TagS". Requests outside
// the range get no answer: the brick is expected to answer those itself.
//
// Streaming: a chunk's blocks are read from the WAV when the chunk is asked for, so memory holds
// one block, however long the input; but the host's queues hold a chunk's blocks while the
// plug-in works through them, so an input whose 3-s chunk would carry more than kMaxChunkBytes
// of sound (a sample rate above about 5.5 MHz) is refused (CheckChunkSize). RequestWithSound
// tells the sink which chunks hold no sound, so it need not ask for them one by one. A pipe's length may be unknown until its end: the range
// first sent then ends at the largest time (or where the header's size says), and once the end
// of the data has been read, a second "TimR" with the true end goes out before the chunk's
// "TagF". A handler lets no exception out: the first one (the input turned out malformed or
// unreadable, memory ran out) is kept (Error) and no more chunks are answered.
//
// Life: built by the host program with the opened WAV, added first to the pipeline, which owns
// it; the WAV outlives it. Start sends the header and the time range; the rest happens in onCtrl.
#pragma once

#include "Tracer.h"
#include "WavFile.h"

#include "../../blocks/CBrick.h"
#include "../../blocks/cMemBlock.h"

#include <cstdint>
#include <exception>
#include <vector>

class ArchiveSource : public CBrick {
public:
    static constexpr uint8_t kVideoStream = 0;
    static constexpr uint8_t kSoundStream = 1;
    static constexpr uint8_t kSecondSoundStream = 2;
    // Stream time units per second.
    static constexpr uint64_t kUnitsPerSecond = 1000;
    // The most sound one chunk may carry: 8 MiB, over 200 times what 48 kHz puts there.
    static constexpr uint64_t kMaxChunkBytes = 8u << 20;

    // Refuses (Failure(kExitInput)) a WAV whose chunks would carry more than kMaxChunkBytes
    // (all of its data, when that is less).
    static void CheckChunkSize(const WavFile& wav);

    // `fragment` is the largest payload of one fragment; 0 sends every record whole.
    ArchiveSource(WavFile& wav, uint16_t fragment, Tracer& tracer);

    // Sends the stream header and the archive's time range to the next brick.
    void Start();

    // The archive's range: 0 to just past its last sample; the largest time while unknown.
    uint64_t End() const;
    // `request` (on the chunk grid), or, when its chunk holds no sound, the nearest request in
    // the play direction whose chunk does, or one beyond the data's edge. Reads only the WAV's
    // format, which does not change: safe from any thread.
    uint64_t RequestWithSound(uint64_t request, bool forward) const;
    // The exception a handler caught, or none.
    std::exception_ptr Error() const { return mError; }

    bool onCtrl(cMemBlock& block) override;

private:
    void SendHeader();
    void SendTimeRange();
    void SendChunk(uint64_t request);
    // The first block whose time is at or after `time`.
    uint64_t FirstBlockAt(uint64_t time) const;
    uint64_t BlockTime(uint64_t index) const;
    void SendTag(uint32_t code, uint64_t time);
    void SendVideoFrame(uint16_t offset);
    // Sends one record of the WAV's stream and one of the second stream, fragments interleaved.
    void SendRecord(const uint8_t* data, size_t size);
    void Send(const cMemBlock& block);

    WavFile& mWav;
    uint16_t mFragment;
    Tracer& mTracer;
    std::vector<uint8_t> mSecondSound; // the second stream's record, the same for every block
    std::vector<uint8_t> mBlock;       // the block being sent
    uint64_t mAnnouncedEnd = 0;        // the end the latest "TimR" told
    bool mForward = true;
    std::exception_ptr mError;
};
