// The parameter texts the bricks read: a value by its key (ExtractParamStr), the stream number of
// the brick's configuration, and what the sound brick announces for the parameter text of its
// stream's header entry. Values are written out, case by case.
#include "../kit/Chain.h"
#include "../../stream/CVRN3Stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace kit;

namespace {

// A minimal concrete stream brick.
class Probe : public CVRN3Stream {
public:
    void OnChunkCmd(const cChunkCmdBlock&) override {}
};

TEST(ExtractParamStr, ValueRunsFromTheKeyToTheNextBlank)
{
    using namespace std::string_literals;
    const struct {
        std::string text, key, value;
    } cases[] = {
        {"-rate=8000 -bits=4", "-rate=", "8000"},
        {"-rate=8000 -bits=4", "-bits=", "4"},
        {"-rate= -bits=4", "-rate=", ""},
        {"-bits=4 -rate=", "-rate=", ""},
        {"-bits=4", "-rate=", ""},
        {"-rate=1 -rate=2", "-rate=", "1"},
        {"--rate=3 -x", "-rate=", "3"},
        {"-Rate=3", "-rate=", ""},
        {"ab cd", "", "ab"},
        {"abcd", "", "abcd"},
        {"-rate=5\t-bits=8 -x", "-rate=", "5\t-bits=8"},
        // A blank inside the key does not end the value; the text is searched only up to its first
        // NUL, but a value without a blank runs to its end; a key is measured up to its first NUL.
        {"xa b=1 c", "a b", "=1 c"},
        {"-a=1\0-rate=2 x"s, "-rate=", ""},
        {"-rate=12\0ab"s, "-rate=", "12\0ab"s},
        {"-rate=8000 -bits=16", "-bits=\0xyz"s, "16"},
    };
    for (const auto& c : cases) {    // first occurrence, case-sensitive, a tab is no blank
        std::string value = "stale"; // an absent key clears it
        CVRN3Stream::ExtractParamStr(c.text, c.key, value);
        EXPECT_EQ(c.value, value) << "text \"" << c.text << "\" key \"" << c.key << "\"";
    }
}

// The configuration lives in storage of exactly its size, so a read past its end is caught by
// AddressSanitizer even when the stream number text has no NUL of its own.
TEST(StreamNumber, ReadFromTheConfigurationTextAsStrtolReadsIt)
{
    const struct {
        const char* text;
        TStreamNumber number;
    } cases[] = {
        {"   7", 7},
        {"\t\n+42", 42},
        {"12abc", 12},
        {"-1", -1},
        {"300", 300},
        {"abc", 0},
        {"", 0},
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
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

// The codec is the first four bytes of the entry's codec text; rate and bits are read by strtol
// from the values of "-rate=" and "-bits=", bits then made bytes by an arithmetic shift.
TEST(HeaderParameters, TheAnnouncementReadsItsStreamsEntry)
{
    Chain chain(LinkedBrick());
    const struct {
        const char *codec, *params;
        uint32_t codecValue;
        int32_t rate, bytes;
    } cases[] = {
        {"ima1", "-rate=8000 -bits=16", kCodeIma1, 8000, 2},
        {"ab", "-rate=44100 -bits=4", 0x6261u, 44100, 0},
        {"", "-bits=12", 0u, 0, 1},
        {"pcm", "-rate=11025abc -bits=-8", 0x6D6370u, 11025, -1},
        {"ima1", "--rate=22050\t-bits=8", kCodeIma1, 22050, 1}, // key inside an item; tab is no blank
        {"ima1", "-rate=99999999999 -bits=x", kCodeIma1, INT32_MAX, 0},
        {"ima1", "-rate=-99999999999 -bits=-9", kCodeIma1, INT32_MIN, -2},
        {"ima1", "", kCodeIma1, 0, 0},
        {"ima1", "-rate=16000 -bits=24", kCodeIma1, 16000, 3},
    };
    for (const auto& c : cases) {
        chain.Send(Header({{kStream, c.codec, c.params}}));
        const std::vector<cMemBlock> out = chain.Take();
        ASSERT_EQ(1u, out.size()) << c.params;
        const TSoundStreamCfg& got = RecordOf<cSoundCfgBlock>(out[0]);
        EXPECT_EQ((std::vector<int64_t>{c.codecValue, c.rate, c.bytes}),
                  (std::vector<int64_t>{got.codec, got.sampleRate, got.bytesPerSample}))
            << c.params;
    }
}

} // namespace
