// Field offsets and object sizes of the brick classes. Derived bricks built elsewhere read and
// write these fields at fixed offsets, so every field of the stream brick base and of the sound
// brick is pinned here (i386: CBrick is a vtable pointer and one private pointer). Fields of the
// implementation's own may fill the padding after mHeaderReceived; the sizes show that they
// never grow an object.
#include "sound/CVrn3StreamSound.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

class Layout : public CVrn3StreamSound {
public:
    void Check() const
    {
        const struct {
            const char* name;
            size_t expected, actual;
        } fields[] = {
            {"mParamText", 8, At(mParamText)},           {"mStreamNumber", 12, At(mStreamNumber)},
            {"mDefragBlock", 16, At(mDefragBlock)},       {"mFrameRateScales", 24, At(mFrameRateScales)},
            {"mFrameRate", 28, At(mFrameRate)},           {"mPresetFrameRate", 32, At(mPresetFrameRate)},
            {"mChunkRequestCount", 36, At(mChunkRequestCount)}, {"mArchiveBegin", 40, At(mArchiveBegin)},
            {"mArchiveEnd", 48, At(mArchiveEnd)},         {"mTagStreamKind", 56, At(mTagStreamKind)},
            {"mForwardPlay", 60, At(mForwardPlay)},       {"mHeaderReceived", 61, At(mHeaderReceived)},
            {"mDelayedBlocks", 64, At(mDelayedBlocks)},   {"mSampleRate", 68, At(mSampleRate)},
            {"mBytesPerSample", 72, At(mBytesPerSample)}, {"mChannels", 76, At(mChannels)},
            {"mChunkTime", 80, At(mChunkTime)},           {"mFrameOffset", 88, At(mFrameOffset)},
            {"mStreamConfigured", 96, At(mStreamConfigured)},
        };
        for (const auto& f : fields)
            EXPECT_EQ(f.expected, f.actual) << f.name;
    }

private:
    template <class M>
    size_t At(const M& member) const
    {
        return static_cast<size_t>(reinterpret_cast<const char*>(&member) -
                                   reinterpret_cast<const char*>(static_cast<const CBrick*>(this)));
    }
};

TEST(BrickLayout, FieldsSitAtTheirOffsets)
{
    Layout().Check();
}

TEST(BrickLayout, ObjectSizes)
{
    EXPECT_EQ(8u, sizeof(CBrick));
    EXPECT_EQ(68u, sizeof(CVRN3Stream));
    EXPECT_EQ(100u, sizeof(CVrn3StreamSound));
}

} // namespace
