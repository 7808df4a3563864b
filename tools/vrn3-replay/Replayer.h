// Replayer: plays a capture's input blocks through a fresh brick and compares what it sends.
//
// The capture's first packet, the configuration, makes the brick (with the plug-in's factory);
// the brick stands in a pipeline between two bricks that take whatever they get, as it stood
// between its neighbours. Each captured input is made again (CWireBlock), put on its captured
// path and delivered, one at a time, before the next: the brick handles blocks one at a time
// whatever host recorded them, so the order of its sends is a function of the order of its
// inputs. What the brick sends is compared, in order, with the capture's output packets: path,
// direction, type, form, size and data, every field of a block as the capture header carries it
// (the sequence number and the reserved byte are the capture's, not the block's). The replay
// stops at the first difference and keeps it with the kContext pairs of blocks before it. Memory
// holds those and the sends of one input.
//
// A capture cut short (no end record) is refused, or, when asked, replayed up to its last whole
// packet and the result marked partial.
//
// With validation, a CBrickMonitor watches the brick from its creation to its destruction (its
// rules owed as OwedRules says), each block it receives named by its packet number.
//
// With an allocation failing, the sends are counted, not compared.
//
// Life: Run once. The plug-in library is loaded for the run and unloaded after the pipeline, and
// with it every block of the brick, is gone. Run throws CaptureError for a capture it cannot
// read (the message names the packet), Failure(kExitPlugin) for a plug-in it cannot use,
// std::bad_alloc.
#pragma once

#include "../../capture/CCaptureReader.h"
#include "../../host/CBrickMonitor.h"
#include "../../host/CBrickTap.h"

#include <cstdint>
#include <memory>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// A block as a capture carries it; `packet` is its packet number, 0 for a replayed block.
struct ReplayBlock {
    uint32_t packet = 0;
    uint32_t type = 0;
    uint8_t path = 0;
    uint8_t direction = 0;
    uint8_t form = 0; // CBlockWire::EForm: how `data` is laid out
    std::vector<uint8_t> data;
};

struct ReplayResult {
    uint64_t inputs = 0;  // blocks delivered to the brick
    uint64_t outputs = 0; // blocks it sent that matched the capture's
    bool identical = true;
    uint64_t difference = 0;                               // index among the outputs of the first that differs
    bool capturedMissing = false, replayedMissing = false; // one side sent nothing there
    ReplayBlock captured, replayed;                        // the first differing pair
    std::vector<ReplayBlock> before;                       // up to kContext matching pairs' blocks
    bool partial = false;                                  // the capture was cut short; what it holds was replayed
    uint32_t lastPacket = 0;                               // the last packet read
    std::vector<CBrickViolation> violations;               // with validation: the rules the brick broke
    // With an allocation failing: the plug-in's allocations counted, the packet whose delivery
    // the failure ended (0: none failed) and the failed allocation's callers, and whether the
    // brick sent nothing after it although the capture shows it answering a later input.
    uint64_t allocations = 0;
    uint32_t failedPacket = 0;
    std::vector<std::string> backtrace;
    bool silent = false;
};

class CPipeline;

class Replayer : public CBrickTap {
public:
    // Matching blocks kept before a difference.
    static constexpr size_t kContext = 3;

    // `capture` (not owned) is the open capture, `name` its name in messages. `digests` (not
    // owned; may be null) gets a BlockDigest line for every block the brick sends downstream.
    // With `partial`, a capture cut short is replayed as far as it goes; with `validate`, the
    // brick is watched.
    Replayer(std::FILE* capture, const std::string& name, const std::string& plugin, std::FILE* digests, bool partial,
             bool validate = false);

    // Replays with the brick watched and the `failAt`-th allocation of the plug-in's code failing
    // (0: none, to count them; AllocationFailer): every input is fed, whatever the brick sends,
    // and an allocation failure ends only the delivery it hit.
    void FailAllocation(uint64_t failAt);

    ReplayResult Run();

    void Configured(const TBrickConfig&) override {}
    void Delivered(const cMemBlock&, bool) override {}
    void Sent(const cMemBlock& block, bool command) override;

private:
    void Play(CCaptureReader& reader, const TBrickConfig& config, ReplayResult& result);
    void Feed(CCaptureReader& reader, CPipeline& pipeline, CBrick* brick, CBrickMonitor* monitor, ReplayResult& result);
    void FeedFailing(CCaptureReader& reader, CPipeline& pipeline, CBrick* brick, CBrickMonitor& monitor,
                     ReplayResult& result);
    bool Compare(ReplayBlock captured, ReplayResult& result);
    bool NoMoreSent(ReplayResult& result);
    void Keep(const ReplayBlock& block, ReplayResult& result);

    std::FILE* mFile;
    std::string mCapture; // the name messages use
    std::string mPlugin;
    std::FILE* mDigests;
    bool mPartial;
    bool mValidate;
    bool mFailing = false;
    uint64_t mFailAt = 0;
    uint64_t mSentCount = 0; // every send, kept or not
    uint64_t mDigestIndex = 0;
    std::deque<ReplayBlock> mSent; // the brick's sends not yet compared
};
