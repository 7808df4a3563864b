// Reading mono IMA ADPCM WAV files from files and pipes: the blocks come out as the file holds
// them, and every malformed, unsupported or cut-short file is refused with its own message and
// the input exit code. (vrn3_play_test.sh reads back, with sox, the framing vrn3-play writes, and
// plays the sizes sox leaves in a WAV it streams to a pipe.)
#include "../../tools/common/Failure.h"
#include "../../tools/vrn3-play/WavFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// A WAV file made field by field, so each case can spoil one thing.
struct WavBytes {
    uint16_t tag = 0x0011, channels = 1, blockAlign = 256, bits = 4, perBlock = 505, cbSize = 2;
    uint32_t rate = 8000, fmtSize = 20;
    std::vector<uint8_t> data = std::vector<uint8_t>(256 * 2 + 100, 0x5A);
    bool dataFirst = false, withData = true;
    const char* riff = "RIFF";
    size_t keep = SIZE_MAX;               // bytes of the file kept, to cut it short
    uint32_t dataExtra = 0, riffSize = 0; // what the data chunk promises beyond its bytes; 0: the true size
    std::vector<uint8_t> before, after;   // whole chunks around fmt and data

    static void Put(std::vector<uint8_t>& out, uint32_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    static std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body, uint32_t size)
    {
        std::vector<uint8_t> out(id, id + 4);
        Put(out, size, 4);
        out.insert(out.end(), body.begin(), body.end());
        if (body.size() % 2 != 0)
            out.push_back(0);
        return out;
    }
    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> fmt;
        for (uint32_t v : {uint32_t{tag}, uint32_t{channels}})
            Put(fmt, v, 2);
        Put(fmt, rate, 4);
        Put(fmt, rate * blockAlign / 505, 4);
        for (uint32_t v : {uint32_t{blockAlign}, uint32_t{bits}, uint32_t{cbSize}, uint32_t{perBlock}})
            Put(fmt, v, 2);
        fmt.resize(fmtSize);
        std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
        std::vector<uint8_t> fmtChunk = Chunk("fmt ", fmt, fmtSize),
                             dataChunk = Chunk("data", data, uint32_t(data.size()) + dataExtra);
        for (const std::vector<uint8_t>* part : std::initializer_list<const std::vector<uint8_t>*>{
                 &before, dataFirst ? &dataChunk : &fmtChunk, dataFirst ? &fmtChunk : &dataChunk, &after})
            if (part != &dataChunk || withData)
                body.insert(body.end(), part->begin(), part->end());
        std::vector<uint8_t> file = Chunk(riff, body, riffSize != 0 ? riffSize : uint32_t(body.size()));
        file.resize(std::min(keep, file.size()));
        return file;
    }
};

// What a parse finds: the blocks, read as from a file (seekable) or a pipe, and the counts.
struct Parsed {
    std::vector<std::vector<uint8_t>> blocks;
    uint64_t samples = 0, fact = 0;
};

// Throws what the parse throws.
Parsed Parse(std::vector<uint8_t> bytes, bool seekable = true)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(fmemopen(bytes.data(), bytes.size(), "rb"), std::fclose);
    WavFile wav(in.get(), "x.wav", seekable);
    Parsed parsed;
    for (std::vector<uint8_t> block; wav.ReadBlock(parsed.blocks.size(), block);)
        parsed.blocks.push_back(block);
    parsed.samples = wav.SampleCount(), parsed.fact = wav.FactSamples();
    return parsed;
}

// The Failure a parse of `bytes` throws; fails the test when it throws none.
Failure ParseFailure(const std::vector<uint8_t>& bytes, bool seekable)
{
    try {
        Parse(bytes, seekable);
    } catch (const Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "parsed without complaint";
    return Failure(kExitOk, "");
}

} // namespace

TEST(WavFile, CutsTheDataIntoBlocksOfTheBlockAlignAndSkipsOtherChunks)
{
    WavBytes w;
    w.data.resize(256 * 2 + 4); // the last block only its header
    for (size_t i = 0; i < w.data.size(); ++i)
        w.data[i] = static_cast<uint8_t>(i * 7);
    w.before = WavBytes::Chunk("LIST", {1, 2, 3}, 3); // odd size: padded
    w.after = WavBytes::Chunk("fact", {0x10, 0x27, 0, 0}, 4);
    for (bool seekable : {true, false}) {
        const Parsed wav = Parse(w.Bytes(), seekable);
        ASSERT_EQ(3u, wav.blocks.size());
        EXPECT_EQ(std::vector<uint8_t>(w.data.begin() + 256, w.data.begin() + 512), wav.blocks[1]);
        EXPECT_EQ(std::vector<uint8_t>(w.data.end() - 4, w.data.end()), wav.blocks[2]);
        EXPECT_EQ(505u * 2 + 1, wav.samples) << "a header-only last block decodes to its one sample";
        EXPECT_EQ(10000u, wav.fact) << "a fact chunk after the data counts too";
    }
}

TEST(WavFile, RefusesEveryMalformedUnsupportedOrCutShortFileWithItsOwnMessage)
{
    const std::vector<std::pair<std::function<void(WavBytes&)>, std::string>> cases = {
        {[](WavBytes& w) { w.tag = 0x0001; }, "not IMA ADPCM (format tag 0x0001"},
        {[](WavBytes& w) { w.channels = 2; }, "stereo; only mono"},
        {[](WavBytes& w) { w.channels = 3; }, "3 channels; only mono"},
        {[](WavBytes& w) { w.bits = 8; }, "8 bits per sample"},
        {[](WavBytes& w) { w.rate = 0; }, "sample rate 0 Hz"},
        {[](WavBytes& w) { w.rate = 0x80000000u; }, "sample rate 2147483648 Hz"},
        {[](WavBytes& w) {
             w.after = WavBytes::Chunk("data", {1, 2, 3, 4}, 4);
         },
         "two data chunks"},
        {[](WavBytes& w) { w.perBlock = 504; }, "504 samples per block do not fit block align 256"},
        {[](WavBytes& w) { w.blockAlign = 4; }, "block align 4 is not a 4-byte block header"},
        {[](WavBytes& w) { w.blockAlign = 258, w.perBlock = 509; }, "block align 258 is not"},
        {[](WavBytes& w) { w.fmtSize = 18; }, "lacks the samples-per-block field"},
        {[](WavBytes& w) { w.fmtSize = 14; }, "the fmt chunk is too short"},
        {[](WavBytes& w) { w.withData = false; }, "no data chunk"},
        {[](WavBytes& w) { w.dataFirst = true; }, "the data chunk comes before the fmt chunk"},
        {[](WavBytes& w) { w.data.clear(); }, "no sound (the data chunk is empty)"},
        {[](WavBytes& w) { w.data.resize(256 + 3); }, "the last block is cut short (3 bytes)"},
        {[](WavBytes& w) { w.keep = 5; }, "not a WAV file"},
        {[](WavBytes& w) { w.riff = "RIFX"; }, "not a WAV file"},
        {[](WavBytes& w) { w.keep = 13; }, "truncated"},
        {[](WavBytes& w) { w.keep = 30; }, "truncated"},
        {[](WavBytes& w) { w.keep = WavBytes().Bytes().size() - 1; }, "truncated"},
        {[](WavBytes& w) { w.dataExtra = 1; }, "truncated (the 'data' chunk promises"}, // the RIFF size agrees
        {[](WavBytes& w) { w.dataExtra = 5000; }, "truncated (the 'data' chunk promises"},
        {[](WavBytes& w) { w.riffSize = 0xFFFFFFFF; }, "promises 4294967303 bytes, the file has 660"},
        {[](WavBytes& w) { w.riffSize = 4; }, "no fmt chunk"},
        {[](WavBytes& w) { w.riffSize = 7; }, "truncated (a chunk header is cut short)"},
        {[](WavBytes& w) { w.before = WavBytes::Chunk("\001BC\177", {}, 5000); }, "'?BC?' chunk"},
        {[](WavBytes& w) { w.data.resize(258), w.dataExtra = 0xFFFFFFFF - 258; }, "'data' chunk promises 4294967295"},
    };
    // What a pipe says where it differs: it learns a size only by reading on, and takes the sizes
    // a writer that cannot seek leaves (0, all ones) for "unknown" ("" where it plays the file).
    const std::map<std::string, std::string> pipe = {
        {"no sound (the data chunk is empty)", ""},
        {"truncated (the 'data' chunk promises", "truncated (the data chunk promises"},
        {"promises 4294967303 bytes, the file has 660", ""},
        {"truncated (a chunk header is cut short)", "no fmt chunk"},
        {"'data' chunk promises 4294967295", "the last block is cut short (2 bytes)"},
    };
    for (const auto& c : cases) {
        WavBytes w;
        c.first(w);
        for (bool seekable : {true, false}) {
            const auto differs = pipe.find(c.second);
            const std::string said = seekable || differs == pipe.end() ? c.second : differs->second;
            if (said.empty()) {
                EXPECT_NO_THROW(Parse(w.Bytes(), seekable)) << c.second;
                continue;
            }
            const Failure failure = ParseFailure(w.Bytes(), seekable);
            EXPECT_EQ(kExitInput, failure.Code()) << c.second;
            EXPECT_EQ(0u, std::string(failure.what()).find("x.wav: ")) << failure.what();
            EXPECT_NE(std::string::npos, std::string(failure.what()).find(said)) << failure.what();
        }
    }
}

TEST(WavFile, APipeIsReadOnceInOrder)
{
    std::vector<uint8_t> bytes = WavBytes().Bytes();
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(fmemopen(bytes.data(), bytes.size(), "rb"), std::fclose);
    WavFile wav(in.get(), "x.wav", false);
    std::vector<uint8_t> block;
    ASSERT_TRUE(wav.ReadBlock(1, block)) << "the first block skipped";
    EXPECT_EQ(std::vector<uint8_t>(256, 0x5A), block);
    EXPECT_THROW(wav.ReadBlock(0, block), Failure);
}

// The header vrn3-play writes, read back field by field: players trust the byte rate and block
// align, and a round trip through the reader checks neither.
TEST(WavFile, WrittenHeaderStatesByteRateBlockAlignAndSamplesPerBlock)
{
    struct Row {
        uint32_t rate;
        uint16_t blockAlign;
        uint32_t byteRate; // rate * blockAlign / samples per block, rounded down
        uint16_t perBlock;
    };
    for (const Row& r : {Row{8000, 256, 4055, 505}, Row{22050, 1024, 11062, 2041}, Row{44100, 36, 24424, 65}}) {
        const std::vector<uint8_t> h = WavFile::Header(r.rate, r.blockAlign, 0, 0);
        auto field = [&](size_t at, int n) {
            uint32_t v = 0;
            for (int i = n - 1; i >= 0; --i)
                v = v << 8 | h[at + i];
            return v;
        };
        EXPECT_EQ((std::vector<uint32_t>{r.rate, r.byteRate, r.blockAlign, 4, r.perBlock}),
                  (std::vector<uint32_t>{field(24, 4), field(28, 4), field(32, 2), field(34, 2), field(38, 2)}))
            << r.rate << " Hz, block align " << r.blockAlign;
    }
}
