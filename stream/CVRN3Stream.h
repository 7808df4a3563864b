// CVRN3Stream: the base of bricks that extract one elementary stream of a VRN3 stream.
//
// It takes the number of its stream from the configuration, hands every stream header to the
// derived brick (OnHeader), dispatches control blocks (chunk requests, play commands, "GTmR"),
// answers notifications (time range, reset, event lists), reassembles fragmented records, and
// holds every block it produces in a queue until a chunk request asks for it: each "TagF" tag
// that leaves settles one request. Requests beyond the archive's edge in the play direction are
// answered here with a tag pair of the brick's own.
//
// Life: constructed by the derived brick's constructor; onCreate sets the stream number; the
// first header opens the queue (blocks offered before it are dropped); a reset empties the queue
// and the request count; the destructor drops whatever is still queued.
//
// Failures: allocation and the host's SendData/SendCmd may throw; the exception passes on and
// the brick is left as the handler found it or with the handler's effect whole: a block is
// queued and counted or neither, and the request count is always the number of requests whose
// "TagF" has not left.
//
// Threads: the brick has no lock of its own. The host delivers one handler call at a time, and
// all fields are touched only from the handlers. The blocks lock their own nodes.
//
// The field order and the virtual slot order are a binary interface for derived bricks.
#pragma once

#include "../blocks/CBrick.h"
#include "../blocks/cBlockQueue.h"
#include "../records/BlockTypes.h"

#include <cstdint>
#include <string>

using TStreamNumber = int32_t;

class CVRN3Stream : public CBrick {
public:
    // Largest payload a record under reassembly may reach. A sound record is a fraction of a
    // second of sound (a few KiB); 4 MiB holds over 20 s of 48 kHz 16-bit stereo PCM, so no real
    // record comes near it, and memory stays bounded under an endless run of fragments.
    static constexpr uint32_t kMaxRecordPayload = 4u << 20;
    // The protocol's value, under the name derived bricks know it by.
    static constexpr uint32_t kModeOneMoreStep = ::kModeOneMoreStep;
    // Stream number before onCreate: selects no entry of a header's stream table.
    static constexpr TStreamNumber kNoStream = kStreamCount;

    CVRN3Stream();
    ~CVRN3Stream() override;

    bool onCtrl(cMemBlock& block) override;
    bool onData(const cMemBlock& block) override;
    bool onNotify(const cMemBlock& block) override;
    bool onCreate(const TBrickConfig& config) override;

    // Called for each chunk request passed on, before it is counted.
    virtual void OnChunkCmd(const cChunkCmdBlock& request) = 0;
    // Empties the queue without sending and sets the request count to 0.
    virtual void DoReset();
    // Activity summaries stop here; a derived brick may use them.
    virtual void ProcessActivityHist(const cGistBlock& gist);
    // Called for every well-formed header; the status is onData's.
    virtual bool OnHeader(const cHeaderBlock& header);

    // Playback state, for derived bricks, hosts and tests.
    TStreamNumber StreamNumber() const { return mStreamNumber; }
    int32_t ChunkRequestCount() const { return mChunkRequestCount; }
    uint64_t ArchiveBegin() const { return mArchiveBegin; }
    uint64_t ArchiveEnd() const { return mArchiveEnd; }
    bool ForwardPlay() const { return mForwardPlay; }
    bool HeaderReceived() const { return mHeaderReceived; }
    int QueuedBlocks() const { return mDelayedBlocks.size(); }
    float FrameRate() const { return mFrameRate; }
    uint32_t FrameRateScales() const { return mFrameRateScales; }

    // Value of `key` in a blank-separated parameter text (empty when the key is absent).
    static void ExtractParamStr(const std::string& text, const std::string& key, std::string& value);

protected:
    bool ProcessPlayCmd(const cPlayCmdBlock& play);
    void IncChunkRequestCount() { ++mChunkRequestCount; }
    void DecChunkRequestCount();
    bool HasChunkRequests() const { return mChunkRequestCount > 0; }

    void DelayableSend(const cMemBlock& block);
    void DelayedSend();

    void CalcFrameRateScales(const HDR_T& header, TStreamNumber stream);
    void CalcFrameRate(unsigned long divisor);

    void ProcessChunkCmd(const cChunkCmdBlock& request);
    void SendBeginOfStreamSequence(const cChunkCmdBlock& request);
    void SendEndOfStreamSequence(const cChunkCmdBlock& request);

    void ProcessEventList(const cEventListBlock& list);

    bool Defragmentation(const cMemBlock& fragment);

    std::string mParamText;
    TStreamNumber mStreamNumber;
    cDataBlock mDefragBlock; // the record under reassembly, or the last one completed
    uint32_t mFrameRateScales;
    float mFrameRate;
    float mPresetFrameRate;     // counts when at least 1.0; set by derived bricks
    int32_t mChunkRequestCount; // requests whose data has not left yet; never negative
    uint64_t mArchiveBegin;
    uint64_t mArchiveEnd;
    uint32_t mTagStreamKind; // kind written into the tags this brick makes
    bool mForwardPlay;
    bool mHeaderReceived;       // never cleared once set
    bool mDefragOpen;           // mDefragBlock holds a record still awaiting fragments
    uint8_t mDefragRoom;        // kDefragOwn: mDefragBlock is the brick's own, held by it alone
                                // (never shared or passed on); low bits: log2 of
                                // its data room (kept as the next record's first guess)
    cBlockQueue mDelayedBlocks; // first in, first out; handles share their blocks

private:
    void HandleTimeRange(const cMemBlock& block);
    void HandleReset(const cMemBlock& block);
    void SendEdgeTags(uint64_t start, uint32_t startKind);
    static cTagBlock EdgeTag(uint32_t code, uint64_t time, uint32_t kind, uint32_t streamNumber);
    void QueuePair(const cMemBlock& first, const cMemBlock& second);
    bool SentAtOnce(const cMemBlock& block);
    bool AppendFragment(const cMemBlock& fragment);
    void NewDefragBlock(uint32_t size);
    void DropDefragBlock();

    // The reassembly keeps two facts in mDefragRoom, the one byte the brick's layout (a binary
    // interface of every derived brick) has free: whether mDefragBlock is the brick's own, and
    // log2 of that block's data room.
    bool DefragOwned() const { return (mDefragRoom & kDefragOwn) != 0; }
    uint8_t DefragRoomLog2() const { return mDefragRoom & kDefragRoomBits; }

    static constexpr uint8_t kDefragOwn = 0x80;
    static constexpr uint8_t kDefragRoomBits = 0x1F;
};
