// Replaying a capture: the brick made from the captured configuration, inputs fed one by one,
// sends compared as they come.
#include "Replayer.h"

#include "AllocationFailer.h"
#include "OwedRules.h"

#include "../taps/BlockDigest.h"
#include "../common/Failure.h"
#include "../common/PluginLibrary.h"

#include "../../capture/CapturePaths.h"
#include "../../capture/CBlockWire.h"
#include "../../capture/CWireBlock.h"
#include "../../host/CPipeline.h"
#include "../../records/Codes.h"
#include "../../records/HostRecords.h"

#include <cstring>
#include <memory>

namespace {

TBrickConfig ConfigOf(const CapturePacket& packet, const std::string& capture)
{
    TBrickConfig config;
    if (packet.header.path != kPathConfig || packet.header.direction != kDirectionIn ||
        packet.data.size() != sizeof config)
        throw CaptureError(capture + ": packet " + std::to_string(packet.number) +
                           ": the capture does not start with the brick's configuration");
    std::memcpy(&config, packet.data.data(), sizeof config);
    return config;
}

ReplayBlock BlockOf(const CapturePacket& packet)
{
    return ReplayBlock{packet.number,           packet.header.type, packet.header.path,
                       packet.header.direction, packet.header.form, packet.data};
}

bool Same(const ReplayBlock& a, const ReplayBlock& b)
{
    return a.type == b.type && a.path == b.path && a.direction == b.direction && a.form == b.form && a.data == b.data;
}

// A captured input made again and put on its path; its problem, if any, named by its packet.
void Deliver(CBrick* brick, const CapturePacket& packet, const std::string& capture)
{
    cMemBlock block;
    try {
        block = CWireBlock::Rebuild(packet.header.type, packet.header.form, packet.data);
    } catch (const std::runtime_error& e) {
        throw CaptureError(capture + ": packet " + std::to_string(packet.number) + ": " + e.what());
    }
    if (packet.header.path == kPathControl)
        brick->enqueueControl(block);
    else
        brick->enqueueData(block);
}

} // namespace

Replayer::Replayer(std::FILE* capture, const std::string& name, const std::string& plugin, std::FILE* digests,
                   bool partial, bool validate)
    : mFile(capture), mCapture(name), mPlugin(plugin), mDigests(digests), mPartial(partial), mValidate(validate)
{
}

void Replayer::FailAllocation(uint64_t failAt)
{
    mValidate = true;
    mFailing = true;
    mFailAt = failAt;
}

ReplayResult Replayer::Run()
{
    CCaptureReader reader(mFile, mCapture, mPartial);
    CapturePacket first;
    if (!reader.Next(first))
        throw CaptureError(mCapture + ": packet 1: the capture holds no packet");
    if (mDigests != nullptr)
        std::fprintf(mDigests, "%s\n", BlockDigest::kFormatLine);
    ReplayResult result;
    Play(reader, ConfigOf(first, mCapture), result);
    result.partial = reader.Partial();
    result.lastPacket = reader.Packets();
    return result;
}

// Makes the brick, replays, and with validation judges what the brick kept once it is gone. The
// monitor outlives the pipeline, the plug-in outlives both.
void Replayer::Play(CCaptureReader& reader, const TBrickConfig& config, ReplayResult& result)
{
    PluginLibrary plugin(mPlugin);
    std::unique_ptr<CBrickMonitor> monitor;
    {
        CPipeline pipeline;
        pipeline.Add(new CBrick);
        CBrick* brick = pipeline.Add(plugin.CreateBrick(config));
        pipeline.Add(new CBrick);
        pipeline.Tap(brick, this);
        if (mValidate)
            monitor.reset(new CBrickMonitor(brick, OwedRules::For(config)));
        if (mFailing)
            FeedFailing(reader, pipeline, brick, *monitor, result);
        else
            Feed(reader, pipeline, brick, monitor.get(), result);
    }
    if (monitor) {
        monitor->BrickGone();
        result.violations = monitor->Violations();
    }
}

// Feeds the inputs and compares the sends, until the end of the capture or the first difference.
void Replayer::Feed(CCaptureReader& reader, CPipeline& pipeline, CBrick* brick, CBrickMonitor* monitor,
                    ReplayResult& result)
{
    CapturePacket packet;
    while (reader.Next(packet)) {
        if (packet.header.path == kPathConfig)
            throw CaptureError(mCapture + ": packet " + std::to_string(packet.number) +
                               ": a second configuration; a capture records one brick");
        if (packet.header.direction == kDirectionOut) {
            if (!Compare(BlockOf(packet), result))
                return;
            continue;
        }
        if (!NoMoreSent(result))
            return;
        if (monitor != nullptr)
            monitor->Feeding(packet.number);
        Deliver(brick, packet, mCapture);
        ++result.inputs;
        pipeline.RunUntilIdle();
    }
    // What the brick sent after the last input of a cut capture is what the cut lost.
    if (!reader.Partial())
        NoMoreSent(result);
}

// Feeds every input while the chosen allocation of the brick's code fails; the brick's code is
// known by its virtual table.
void Replayer::FeedFailing(CCaptureReader& reader, CPipeline& pipeline, CBrick* brick, CBrickMonitor& monitor,
                           ReplayResult& result)
{
    AllocationFailer::Aim(*reinterpret_cast<void* const*>(brick));
    AllocationFailer::Arm(mFailAt);
    CapturePacket packet;
    uint64_t answersAfter = 0, sentBefore = 0; // captured sends answering inputs after the failure
    bool fedAfter = false;
    while (reader.Next(packet)) {
        if (packet.header.direction == kDirectionOut) {
            answersAfter += fedAfter;
            continue;
        }
        monitor.Feeding(packet.number);
        bool threw = false;
        try {
            Deliver(brick, packet, mCapture);
            ++result.inputs;
            pipeline.RunUntilIdle();
            fedAfter = result.failedPacket != 0;
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        // A failure the brick kept to itself (a null from malloc or from new without exceptions)
        // counts from its packet as one thrown out of the handler does.
        if (result.failedPacket == 0 && (threw || AllocationFailer::Failed())) {
            result.failedPacket = packet.number;
            result.backtrace = AllocationFailer::Backtrace(); // while the plug-in is loaded
            sentBefore = mSentCount;
        }
    }
    result.allocations = AllocationFailer::Disarm();
    result.silent = answersAfter > 0 && mSentCount == sentBefore;
}

// The next captured output against the next replayed send; false at a difference.
bool Replayer::Compare(ReplayBlock captured, ReplayResult& result)
{
    if (!mSent.empty() && Same(captured, mSent.front())) {
        Keep(captured, result);
        mSent.pop_front();
        ++result.outputs;
        return true;
    }
    result.identical = false;
    result.difference = result.outputs;
    result.captured = captured;
    result.replayedMissing = mSent.empty();
    if (!mSent.empty())
        result.replayed = mSent.front();
    return false;
}

// Before the next input (and at the end): the brick must have sent nothing the capture lacks.
bool Replayer::NoMoreSent(ReplayResult& result)
{
    if (mSent.empty())
        return true;
    result.identical = false;
    result.difference = result.outputs;
    result.capturedMissing = true;
    result.replayed = mSent.front();
    return false;
}

void Replayer::Keep(const ReplayBlock& block, ReplayResult& result)
{
    result.before.push_back(block);
    if (result.before.size() > kContext)
        result.before.erase(result.before.begin());
}

void Replayer::Sent(const cMemBlock& block, bool command)
{
    ++mSentCount;
    if (mFailing)
        return;
    ReplayBlock sent;
    sent.type = block.GetType();
    sent.path = CapturePathOf(block.GetType(), command);
    sent.direction = kDirectionOut;
    sent.form = CBlockWire::Flatten(block, sent.data);
    if (mDigests != nullptr && !command)
        std::fprintf(mDigests, "%s\n", BlockDigest::Line(mDigestIndex++, sent.type, sent.data).c_str());
    mSent.push_back(std::move(sent));
}
