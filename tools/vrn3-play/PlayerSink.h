// PlayerSink: the brick after the plug-in; plays the archive through it and keeps the sound.
//
// It waits for the archive's time range ("TimR", which the plug-in passes on), then, playing
// backward, sends a "Play" command with the direction, and asks for chunks one after another
// with "Chun" requests on the control path: the first at the start of the archive (forward) or
// at the grid point at or after its end (backward); each "TagF" that closes a chunk brings the
// next request, 3000 units further in the play direction. The request that lies at or beyond
// the archive's edge is answered by the plug-in itself with its end- or begin-of-stream tag
// pair; that pair ends the play. The sink keeps the sound configuration ("SCfg") and a copy of
// every sound data block ("SCDA"): its time and payload. It holds no block of the plug-in's
// after a handler returns, so the plug-in can be unloaded once the pipeline is gone.
//
// Life: built by the host program, added last to the pipeline, which owns it; all state is
// written by its handlers (one at a time) and read after the pipeline has gone idle.
#pragma once

#include "Tracer.h"

#include "blocks/CBrick.h"
#include "records/StreamRecords.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class PlayerSink : public CBrick {
public:
    // One sound data block: its time and its payload.
    struct Record {
        uint64_t time;
        std::vector<uint8_t> bytes;
    };

    PlayerSink(bool forward, Tracer& tracer);

    bool HasConfig() const { return mHasConfig; }
    const TSoundStreamCfg& Config() const { return mConfig; }
    const std::vector<Record>& Records() const { return mRecords; }
    // Hands the kept records over; the sink keeps none afterwards.
    std::vector<Record> TakeRecords() { return std::move(mRecords); }
    uint32_t ChunksRequested() const { return mChunksRequested; }
    // True once the plug-in's edge tag pair has arrived.
    bool Finished() const { return mFinished; }
    // Empty, or what went wrong in the protocol.
    const std::string& Problem() const { return mProblem; }
    uint64_t LastRequest() const { return mRequest; }

    bool onData(const cMemBlock& block) override;
    bool onNotify(const cMemBlock& block) override;

private:
    void OnTag(const TStreamTag& tag);
    void Begin(uint64_t begin, uint64_t end);
    void Request(uint64_t time);
    void Send(const cMemBlock& block);

    bool mForward;
    Tracer& mTracer;
    bool mHasConfig = false;
    TSoundStreamCfg mConfig;
    std::vector<Record> mRecords;
    uint64_t mBegin = 0;
    uint64_t mEnd = 0;
    bool mStarted = false;
    uint64_t mRequest = 0;       // time of the latest request
    bool mEdgeRequested = false; // the latest request lies at or beyond the archive's edge
    uint32_t mChunksRequested = 0;
    uint32_t mOpenTagKind = 0;   // kind of the latest "TagS"
    size_t mRecordsAtOpen = 0;   // records kept when the latest "TagS" arrived
    bool mFinished = false;
    std::string mProblem;
};
