// Fanning one brick's tap out to the recorder and the digest listing.
#include "CaptureTaps.h"

#include "BlockDigest.h"

CaptureTaps::CaptureTaps(const std::string& capture, const std::string& name, std::FILE* digests)
    : mCapture(capture), mName(name)
{
    if (!capture.empty())
        mRecorder.reset(new CCaptureRecorder(capture));
    if (digests != nullptr)
        mDigest.reset(new BlockDigest(digests));
}

CaptureTaps::~CaptureTaps() {}

CBrickTap* CaptureTaps::Tap()
{
    return mRecorder || mDigest ? this : nullptr;
}

std::string CaptureTaps::Problem() const
{
    if (!mRecorder || mRecorder->Ok())
        return std::string();
    // The recorder names the file it opened; the message names the file the user asked for.
    const std::string error = mRecorder->Error();
    const bool named = error.compare(0, mCapture.size(), mCapture) == 0;
    return mName + ": cannot write the capture" + (named ? error.substr(mCapture.size()) : ": " + error);
}

std::string CaptureTaps::Close()
{
    if (mRecorder)
        mRecorder->Close();
    return Problem();
}

void CaptureTaps::Configured(const TBrickConfig& config)
{
    if (mRecorder)
        mRecorder->Configured(config);
}

void CaptureTaps::Delivered(const cMemBlock& block, bool control)
{
    if (mRecorder)
        mRecorder->Delivered(block, control);
}

void CaptureTaps::Sent(const cMemBlock& block, bool command)
{
    if (mRecorder)
        mRecorder->Sent(block, command);
    if (mDigest)
        mDigest->Sent(block, command);
}
