// The stream brick base's frame-rate arithmetic, which leaves little trace in a brick's output.
// Reassembly is checked through the sound brick's output, by the property test's model; the
// parameter texts in tests/params. A minimal concrete brick opens the protected members.
#include "../../records/DataPathBlocks.h"
#include "../../stream/CVRN3Stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

class Probe : public CVRN3Stream {
public:
    void OnChunkCmd(const cChunkCmdBlock&) override {}
    using CVRN3Stream::CalcFrameRate;
    using CVRN3Stream::CalcFrameRateScales;
    using CVRN3Stream::mPresetFrameRate;
};

// Frame rate for a header whose first `kindOne` entries (counted from the top of the table, so
// entry 255 is among them) have kind 1 and every other entry kind 2.
void Calc(Probe& p, int kindOne, TStreamNumber stream, float preset, unsigned long divisor)
{
    std::unique_ptr<HDR_T> header(new HDR_T());
    for (int i = 0; i < kStreamCount; ++i)
        header->streams[kStreamCount - 1 - i].kind = i < kindOne ? 1 : 2;
    p.mPresetFrameRate = preset;
    p.CalcFrameRateScales(*header, stream);
    p.CalcFrameRate(divisor);
}

TEST(FrameRate, SharesOfTheBaseRatePresetAndDivisor)
{
    const float nan = std::nanf("");
    const struct {
        int kindOne;
        TStreamNumber stream;
        float preset;
        unsigned long divisor;
        uint32_t scales;
        float rate; // frames per time unit
    } cases[] = {
        {1, 0, 0.0f, 1, 1, 0.025f},         {3, 0, 0.0f, 1, 2, 0.0125f},
        {3, 1, 0.0f, 1, 4, 0.00625f},       {3, -1, 0.0f, 1, 4, 0.00625f},
        {2, 0, 0.0f, 1, 2, 0.0125f},        {4, 0, 0.0f, 1, 4, 0.00625f},
        {2, 7, 0.0f, 1, 2, 0.0125f},        {256, 3, 0.0f, 1, 256, 0.00009765625f},
        {1, 0, 25.0f, 1, 1, 0.0083333333f}, {4, 0, 25.0f, 1, 4, 0.0083333333f},
        {1, 0, 0.5f, 1, 1, 0.025f},         {2, 0, 1.0f, 1, 2, 0.00033333333f},
        {2, 0, nan, 1, 2, 0.0125f}, // a NaN preset counts as not given
        {3, 1, 0.0f, 2, 4, 0.0033333333f},  {1, 0, 25.0f, 2, 1, 0.0043333333f},
        {1, 0, 0.0f, 7, 1, 0.0036666667f},  {1, 0, 0.0f, 0, 1, HUGE_VALF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kindOne << " streams of kind 1, stream " << c.stream << ", preset "
                                        << c.preset << ", divisor " << c.divisor);
        Probe p;
        Calc(p, c.kindOne, c.stream, c.preset, c.divisor);
        EXPECT_EQ(c.scales, p.FrameRateScales());
        EXPECT_FLOAT_EQ(c.rate, p.FrameRate());
    }
    // No entry of kind 1: no shares, and the rate is the quiet NaN whatever the preset.
    Probe none;
    Calc(none, 0, 0, 25.0f, 1);
    const float rate = none.FrameRate();
    EXPECT_EQ(0u, none.FrameRateScales());
    EXPECT_EQ(0, std::memcmp(&nan, &rate, sizeof rate));
}

// A stream brick that reads no header refuses one (onData's false reaches the host), drops a
// header too short to hold its record, and takes any other data block without looking.
TEST(StreamBase, AHeaderIsRefusedUnlessTheBrickReadsIt)
{
    Probe p;
    EXPECT_FALSE(p.onData(MakeHeaderBlock()));
    EXPECT_TRUE(p.onData(cTagBlock(0, kCodeHdr3)));
    EXPECT_TRUE(p.onData(MakeTagBlock(kCodeTagS, 0, 1)));
}

} // namespace
