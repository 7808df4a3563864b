// Tracer: one readable line per block that crosses the plug-in brick's boundaries.
//
// The host's own bricks on either side of the plug-in call Block for every block they hand to
// it or receive from it, so the lines show the protocol as the plug-in sees it: the direction
// (in to the brick or out of it), the path between the bricks, the queue (data or ctrl), then
// the block as BlockText describes it (type, size, the record's fields). A Tracer without a stream writes nothing and costs one test.
// Lines are numbered and written whole under a lock, as the bricks may run on threads of their
// own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class cMemBlock;

class Tracer {
public:
    // Which side of the brick a block travels on.
    enum EPath { kSourceToBrick, kBrickToSource, kSinkToBrick, kBrickToSink };

    // `out` (not owned, outliving the Tracer) gets the lines; none when null.
    explicit Tracer(std::FILE* out) : mOut(out) {}

    // Writes the line of one block; `control` tells the control queue from the data queue.
    void Block(EPath path, bool control, const cMemBlock& block);
    // The text of a block's line without the number, for tests and for Block.
    static std::string Describe(EPath path, bool control, const cMemBlock& block);

private:
    std::FILE* mOut;
    std::mutex mLock; // guards mLines and the writes to mOut
    uint64_t mLines = 0;
};
