// PlayerSink: the brick after the plug-in; plays the archive through it and keeps the sound.
//
// It waits for the archive's time range ("TimR", which the plug-in passes on), then, playing
// backward, sends a "Play" command with the direction, and asks for chunks one after another
// with "Chun" requests on the control path: the first at the start of the archive (forward) or
// at the grid point at or after its end (backward); each "TagF" that closes a chunk brings the
// next request, 3000 units further in the play direction, or further still past chunks the
// source says hold no sound (so a long silence costs one request). The request that lies at or beyond
// the archive's edge is answered by the plug-in itself with its end- or begin-of-stream tag
// pair; that pair ends the play. A later "TimR" moves the end (a pipe's length is known only
// once it has been read). The sink keeps the sound configuration ("SCfg") and puts every sound
// data block ("SCDA"), its time and payload, into the spool, chunk by chunk. It holds no block of
// the plug-in's after a handler returns, so the plug-in can be unloaded once the pipeline is
// gone. A handler lets no exception out: the first one is kept (Error) and the play stops.
//
// Life: built by the host program, added last to the pipeline, which owns it; all state is
// written by its handlers (one at a time) and read after the pipeline has gone idle. The spool
// and the progress callback belong to the caller and outlive the sink.
#pragma once

#include "SoundSpool.h"
#include "Tracer.h"

#include "../../blocks/CBrick.h"
#include "../../records/StreamRecords.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

class PlayerSink : public CBrick {
public:
    // Called after each chunk with the units played and the archive's length.
    using Progress = std::function<void(uint64_t played, uint64_t length)>;
    // The request to make instead of `request`: the nearest, in the play direction, whose chunk
    // holds sound (or one beyond the edge). Called from the sink's handlers.
    using Skip = std::function<uint64_t(uint64_t request, bool forward)>;

    PlayerSink(bool forward, Tracer& tracer, SoundSpool& spool, Skip skip, Progress progress);

    bool HasConfig() const { return mHasConfig; }
    const TSoundStreamCfg& Config() const { return mConfig; }
    uint32_t ChunksRequested() const { return mChunksRequested; }
    // True once the plug-in's edge tag pair has arrived.
    bool Finished() const { return mFinished; }
    // Empty, or what went wrong in the protocol.
    const std::string& Problem() const { return mProblem; }
    uint64_t LastRequest() const { return mRequest; }
    // The exception a handler caught (a write to the spool failed, memory ran out), or none.
    std::exception_ptr Error() const { return mError; }

    bool onData(const cMemBlock& block) override;
    bool onNotify(const cMemBlock& block) override;

private:
    // Traces the block and hands it to `handle`, unless an earlier block failed; whatever
    // `handle` throws is kept for the player instead of reaching the host.
    bool Take(const cMemBlock& block, void (PlayerSink::*handle)(const cMemBlock&));
    void OnNotification(const cMemBlock& block);
    void OnBlock(const cMemBlock& block);
    void OnTag(const TStreamTag& tag);
    void Begin(uint64_t begin, uint64_t end);
    void Request(uint64_t time);
    void ShowProgress() const;
    void Send(const cMemBlock& block);

    bool mForward;
    Tracer& mTracer;
    SoundSpool& mSpool;
    Skip mSkip;
    Progress mProgress;
    std::exception_ptr mError;
    bool mHasConfig = false;
    TSoundStreamCfg mConfig;
    uint64_t mBegin = 0;
    uint64_t mEnd = 0;
    bool mStarted = false;
    uint64_t mRequest = 0;       // time of the latest request
    bool mEdgeRequested = false; // the latest request lies at or beyond the archive's edge
    uint32_t mChunksRequested = 0;
    uint32_t mOpenTagKind = 0;   // kind of the latest "TagS"
    uint64_t mRecordsAtOpen = 0; // records kept when the latest "TagS" arrived
    bool mFinished = false;
    std::string mProblem;
};
