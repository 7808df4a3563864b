// The test kit's harness: one brick in a pipeline of the stand-in host, between a source that
// keeps every command the brick passes upstream and a sink that keeps every block it sends
// downstream, in arrival order. The brick is made either way a host could get it: by the factory
// of the built plug-in (the host library's CPluginLibrary) or linked in from the brick sources
// (LinkedBrick).
//
// Life: the Chain owns its pipeline, which owns the three bricks and every block they still
// hold. Blocks a plug-in brick made go back to the plug-in's pools, so the CPluginLibrary must outlive
// every Chain and every block that came out of it.
#pragma once

#include "Blocks.h"

#include "../../host/CPipeline.h"
#include "../../host/CPluginLibrary.h"
#include "../../sound/CVrn3StreamSound.h"

#include <utility>

namespace kit {

class SourceBrick : public CBrick {
public:
    bool onCtrl(cMemBlock& block) override
    {
        commands.push_back(block);
        return true;
    }
    std::vector<cMemBlock> commands;
};

class SinkBrick : public CBrick {
public:
    bool onData(const cMemBlock& block) override
    {
        received.push_back(block);
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        received.push_back(block);
        return true;
    }
    std::vector<cMemBlock> received;
};

// A sound brick built from the brick sources, configured for `stream`.
inline CBrick* LinkedBrick(const char* stream = "5")
{
    CVrn3StreamSound* brick = new CVrn3StreamSound;
    brick->Create(Config(stream));
    return brick;
}

class Chain {
public:
    // source -> `brick` -> sink; the pipeline takes `brick` over.
    explicit Chain(CBrick* brick) : brick(brick)
    {
        source = static_cast<SourceBrick*>(pipeline.Add(new SourceBrick));
        pipeline.Add(brick);
        sink = static_cast<SinkBrick*>(pipeline.Add(new SinkBrick));
    }
    // The brick's own state, for the tests that read it.
    CVrn3StreamSound& Sound() const { return *static_cast<CVrn3StreamSound*>(brick); }

    // A data block or notification from upstream, run until every brick is idle.
    void Send(const cMemBlock& block)
    {
        brick->enqueueData(block);
        pipeline.RunUntilIdle();
    }
    // A control block from downstream, run until every brick is idle.
    void Command(const cMemBlock& block)
    {
        brick->enqueueControl(block);
        pipeline.RunUntilIdle();
    }

    std::vector<cMemBlock> Take() { return std::exchange(sink->received, {}); }
    std::vector<cMemBlock> TakeUpstream() { return std::exchange(source->commands, {}); }
    // What left since the last look: the blocks sent downstream, then "^" and each command
    // passed upstream ("SCDA:0 TagF:2970 ^Chun").
    std::string TakeTrace()
    {
        std::string s = Trace(Take());
        for (const cMemBlock& up : TakeUpstream())
            s += (s.empty() ? "^" : " ^") + Describe(up);
        return s;
    }

    CPipeline pipeline;
    CBrick* brick;
    SourceBrick* source;
    SinkBrick* sink;
};

} // namespace kit
