// The benchmark's pipeline: the plug-in's sound brick and the hashing sink.
#include "SoundChain.h"

#include "../records/DataPathBlocks.h"
#include "../records/SoundBrickConfig.h"

#include <cstdio>
#include <cstdlib>

namespace {

// A header whose stream 0 is 8 kHz 16-bit sound.
cHeaderBlock SoundHeader()
{
    cHeaderBlock header = MakeHeaderBlock();
    STREAM_T& stream = header.SoleRecord().streams[0];
    stream.kind = 2;
    stream.codec = "ima1";
    stream.params = "-rate=8000 -bits=16";
    return header;
}

} // namespace

CSoundChain::CSoundChain(CreateBrickFn create)
{
    mBrick = create(SoundBrickConfig(0));
    if (mBrick == nullptr) {
        std::fprintf(stderr, "vrn3-bench: CreateBrick refused the configuration\n");
        std::exit(1);
    }
    mPipeline.Add(mBrick);
    mSink = static_cast<CHashingSink*>(mPipeline.Add(new CHashingSink));
    Feed(SoundHeader());
    mSink->Drain();
}

void CSoundChain::Feed(const cMemBlock& block)
{
    mBrick->enqueueData(block);
    mBrick->DoData();
}

void CSoundChain::Request(const cMemBlock& request)
{
    mBrick->enqueueControl(request);
    mBrick->DoCtrl();
}
