// CaptureTaps: the taps a playing host puts on its plug-in brick when asked: a capture file, a
// digest listing, both or none.
//
// Built before the pipeline whose brick it taps and kept until the pipeline is gone; Tap() is
// what to give CPipeline::Tap (null when nothing was asked for). Both taps see every call; the
// digests go to a stream the caller owns.
#pragma once

#include "../../capture/CCaptureRecorder.h"

#include <cstdio>
#include <memory>
#include <string>

class BlockDigest;

class CaptureTaps : public CBrickTap {
public:
    // `capture` empty: no capture, else the name the recorder opens and `name` the one messages
    // show; `digests` null: no digests. A capture file that cannot be created shows in Problem().
    CaptureTaps(const std::string& capture, const std::string& name, std::FILE* digests);
    ~CaptureTaps() override;

    CBrickTap* Tap();
    // Why the capture cannot be written whole, else empty.
    std::string Problem() const;
    // Ends the capture; Problem() afterwards.
    std::string Close();

    void Configured(const TBrickConfig& config) override;
    void Delivered(const cMemBlock& block, bool control) override;
    void Sent(const cMemBlock& block, bool command) override;

private:
    std::string mCapture, mName;
    std::unique_ptr<CCaptureRecorder> mRecorder;
    std::unique_ptr<BlockDigest> mDigest;
};
