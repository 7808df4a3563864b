// CSoundChain: a sound brick made by the plug-in's CreateBrick and a CHashingSink after it, in
// a synchronous pipeline run on the caller's thread, as the host's pipeline runs them.
//
// The constructor makes the brick for stream 0, adds both bricks to the chain's CPipeline (which
// owns them and deletes them with the chain) and configures the brick with a header; a brick
// refused by the plug-in ends the process. Feed queues a data block and delivers it; Request does
// the same for a control block. Blocks are shared, not copied, on every delivery. One thread at a
// time uses a chain.
#pragma once

#include "HashingSink.h"

#include "../blocks/TBrickConfig.h"
#include "../host/CPipeline.h"

class CSoundChain {
public:
    using CreateBrickFn = CBrick* (*)(const TBrickConfig&);

    explicit CSoundChain(CreateBrickFn create);
    CSoundChain(const CSoundChain&) = delete;
    CSoundChain& operator=(const CSoundChain&) = delete;

    void Feed(const cMemBlock& block);
    void Request(const cMemBlock& request);
    CHashingSink& Sink() { return *mSink; }

private:
    CPipeline mPipeline; // owns both bricks
    CBrick* mBrick = nullptr;
    CHashingSink* mSink = nullptr;
};
