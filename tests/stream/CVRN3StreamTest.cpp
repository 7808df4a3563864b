// The stream brick base's own arithmetic and parsing, which leave little or no trace in a
// brick's output: parameter extraction, frame-rate arithmetic and the stream number read from
// the configuration. Reassembly is checked through the sound brick's output, by the property
// test's model. A minimal concrete brick opens the protected members to the tests.
#include "stream/CVRN3Stream.h"

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

TEST(ExtractParamStr, ValueRunsFromTheKeyToTheNextBlank)
{
    using namespace std::string_literals;
    const struct {
        std::string text, key, value;
    } cases[] = {
        {"-rate=8000 -bits=4", "-rate=", "8000"}, {"-rate=8000 -bits=4", "-bits=", "4"},
        {"-rate= -bits=4", "-rate=", ""}, {"-bits=4 -rate=", "-rate=", ""}, {"-bits=4", "-rate=", ""},
        {"-rate=1 -rate=2", "-rate=", "1"}, {"--rate=3 -x", "-rate=", "3"}, {"-Rate=3", "-rate=", ""},
        {"ab cd", "", "ab"}, {"abcd", "", "abcd"}, {"-rate=5\t-bits=8 -x", "-rate=", "5\t-bits=8"},
        // A blank inside the key does not end the value; the text is searched only up to its first
        // NUL, but a value without a blank runs to its end; a key is measured up to its first NUL.
        {"xa b=1 c", "a b", "=1 c"}, {"-a=1\0-rate=2 x"s, "-rate=", ""}, {"-rate=12\0ab"s, "-rate=", "12\0ab"s},
        {"-rate=8000 -bits=16", "-bits=\0xyz"s, "16"},
    };
    for (const auto& c : cases) { // first occurrence, case-sensitive, a tab is no blank
        std::string value = "stale"; // an absent key clears it
        CVRN3Stream::ExtractParamStr(c.text, c.key, value);
        EXPECT_EQ(c.value, value) << "text \"" << c.text << "\" key \"" << c.key << "\"";
    }
}

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
        {1, 0, 0.0f, 1, 1, 0.025f},     {3, 0, 0.0f, 1, 2, 0.0125f},      {3, 1, 0.0f, 1, 4, 0.00625f},
        {3, -1, 0.0f, 1, 4, 0.00625f},   {2, 0, 0.0f, 1, 2, 0.0125f},      {4, 0, 0.0f, 1, 4, 0.00625f},
        {2, 7, 0.0f, 1, 2, 0.0125f},     {256, 3, 0.0f, 1, 256, 0.00009765625f},
        {1, 0, 25.0f, 1, 1, 0.0083333333f},    {4, 0, 25.0f, 1, 4, 0.0083333333f},     {1, 0, 0.5f, 1, 1, 0.025f},
        {2, 0, 1.0f, 1, 2, 0.00033333333f},      {2, 0, nan, 1, 2, 0.0125f},       // a NaN preset counts as not given
        {3, 1, 0.0f, 2, 4, 0.0033333333f},     {1, 0, 25.0f, 2, 1, 0.0043333333f},     {1, 0, 0.0f, 7, 1, 0.0036666667f},
        {1, 0, 0.0f, 0, 1, HUGE_VALF},
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

// The configuration lives in storage of exactly its size, so a read past its end is caught by
// AddressSanitizer even when the stream number text has no NUL of its own.
TEST(StreamNumber, ReadFromTheConfigurationTextAsStrtolReadsIt)
{
    const struct {
        const char* text;
        TStreamNumber number;
    } cases[] = {
        {"   7", 7}, {"\t\n+42", 42}, {"12abc", 12}, {"-1", -1}, {"300", 300}, {"abc", 0}, {"", 0},
        {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
    };
    std::unique_ptr<TBrickConfig> config(new TBrickConfig());
    for (const auto& c : cases) {
        Probe p;
        EXPECT_EQ(256, p.StreamNumber()) << "no stream before onCreate";
        std::memset(config->streamNumber, 0, sizeof config->streamNumber);
        std::strcpy(config->streamNumber, c.text);
        p.onCreate(*config);
        EXPECT_EQ(c.number, p.StreamNumber()) << '"' << c.text << '"';
    }
    // No NUL within the field: the text ends with the configuration.
    Probe digits;
    std::memset(config->streamNumber, '1', sizeof config->streamNumber);
    digits.onCreate(*config);
    EXPECT_EQ(INT32_MAX, digits.StreamNumber());
}

} // namespace
