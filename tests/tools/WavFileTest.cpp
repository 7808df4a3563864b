// Parsing and writing mono IMA ADPCM WAV files: the blocks come out as the file holds them, and
// every malformed or unsupported file is refused with its own message and the input exit code.
#include "Failure.h"
#include "WavFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A WAV file made field by field, so each case can spoil one thing.
struct WavBytes {
    uint16_t tag = 0x0011, channels = 1, blockAlign = 256, bits = 4, perBlock = 505, cbSize = 2;
    uint32_t rate = 8000, fmtSize = 20;
    std::vector<uint8_t> data = std::vector<uint8_t>(256 * 2 + 100, 0x5A);
    bool dataFirst = false, withData = true;
    std::vector<uint8_t> before, after; // whole chunks around fmt and data

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
        std::vector<uint8_t> fmtChunk = Chunk("fmt ", fmt, fmtSize), dataChunk = Chunk("data", data, uint32_t(data.size()));
        for (const std::vector<uint8_t>* part : std::initializer_list<const std::vector<uint8_t>*>{&before, dataFirst ? &dataChunk : &fmtChunk,
                                                 dataFirst ? &fmtChunk : &dataChunk, &after})
            if (part != &dataChunk || withData)
                body.insert(body.end(), part->begin(), part->end());
        return Chunk("RIFF", body, uint32_t(body.size()));
    }
};

// The Failure a parse of `bytes` throws; fails the test when it throws none.
Failure ParseFailure(const std::vector<uint8_t>& bytes)
{
    try {
        WavFile::Parse(bytes, "x.wav");
    } catch (const Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "parsed without complaint";
    return Failure(kExitOk, "");
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    for (dirent* e = d ? readdir(d) : nullptr; e != nullptr; e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.push_back(e->d_name);
    if (d)
        closedir(d);
    return names;
}

} // namespace

TEST(WavFile, CutsTheDataIntoBlocksOfTheBlockAlignAndSkipsOtherChunks)
{
    WavBytes w;
    for (size_t i = 0; i < w.data.size(); ++i)
        w.data[i] = static_cast<uint8_t>(i * 7);
    w.before = WavBytes::Chunk("LIST", {1, 2, 3}, 3); // odd size: padded
    w.after = WavBytes::Chunk("junk", {9, 9}, 2);
    const WavFile wav = WavFile::Parse(w.Bytes(), "x.wav");
    EXPECT_EQ(8000u, wav.SampleRate());
    EXPECT_EQ(256u, wav.BlockAlign());
    ASSERT_EQ(3u, wav.BlockCount());
    EXPECT_EQ(256u, wav.BlockSize(0));
    EXPECT_EQ(100u, wav.BlockSize(2));
    EXPECT_EQ(w.data[256], wav.Block(1)[0]);
    EXPECT_EQ(w.data[512 + 99], wav.Block(2)[99]);
    EXPECT_EQ(505u * 2 + 193, wav.SampleCount()) << "a short last block decodes to 2 samples a byte after its header";
}

TEST(WavFile, SerializedFileParsesToTheSameBlocks)
{
    WavBytes w;
    w.data.resize(256 + 7); // odd data size: padded
    for (size_t i = 0; i < w.data.size(); ++i)
        w.data[i] = static_cast<uint8_t>(i);
    const WavFile wav = WavFile::Parse(w.Bytes(), "x.wav");
    const std::vector<uint8_t> bytes = wav.Serialize();
    EXPECT_EQ(0u, bytes.size() % 2);
    const WavFile again = WavFile::Parse(bytes, "y.wav");
    ASSERT_EQ(wav.BlockCount(), again.BlockCount());
    EXPECT_EQ(wav.SampleRate(), again.SampleRate());
    EXPECT_EQ(wav.BlockAlign(), again.BlockAlign());
    for (size_t i = 0; i < wav.BlockCount(); ++i)
        EXPECT_EQ(std::vector<uint8_t>(wav.Block(i), wav.Block(i) + wav.BlockSize(i)),
                  std::vector<uint8_t>(again.Block(i), again.Block(i) + again.BlockSize(i)));
}

TEST(WavFile, RefusesEveryMalformedOrUnsupportedFileWithItsOwnMessage)
{
    const std::vector<std::pair<std::function<void(WavBytes&)>, std::string>> cases = {
        {[](WavBytes& w) { w.tag = 0x0001; }, "not IMA ADPCM (format tag 0x0001"},
        {[](WavBytes& w) { w.channels = 2; }, "stereo; only mono"},
        {[](WavBytes& w) { w.channels = 3; }, "3 channels; only mono"},
        {[](WavBytes& w) { w.bits = 8; }, "8 bits per sample"},
        {[](WavBytes& w) { w.rate = 0; }, "sample rate 0"},
        {[](WavBytes& w) { w.perBlock = 504; }, "504 samples per block do not fit block align 256"},
        {[](WavBytes& w) { w.blockAlign = 4; }, "block align 4 is not a 4-byte block header"},
        {[](WavBytes& w) { w.blockAlign = 258, w.perBlock = 509; }, "block align 258 is not"},
        {[](WavBytes& w) { w.fmtSize = 18; }, "lacks the samples-per-block field"},
        {[](WavBytes& w) { w.fmtSize = 14; }, "the fmt chunk is too short"},
        {[](WavBytes& w) { w.withData = false; }, "no data chunk"},
        {[](WavBytes& w) { w.dataFirst = true; }, "the data chunk comes before the fmt chunk"},
        {[](WavBytes& w) { w.data.clear(); }, "no sound (the data chunk is empty)"},
        {[](WavBytes& w) { w.data.resize(256 + 3); }, "the last block is cut short (3 bytes)"},
    };
    for (const auto& c : cases) {
        WavBytes w;
        c.first(w);
        const Failure failure = ParseFailure(w.Bytes());
        EXPECT_EQ(kExitInput, failure.Code()) << c.second;
        EXPECT_EQ(0u, std::string(failure.what()).find("x.wav: ")) << failure.what();
        EXPECT_NE(std::string::npos, std::string(failure.what()).find(c.second)) << failure.what();
    }
}

TEST(WavFile, RefusesFilesThatAreNoWavOrCutShort)
{
    const std::vector<uint8_t> good = WavBytes().Bytes();
    EXPECT_NE(nullptr, std::strstr(ParseFailure({'R', 'I', 'F', 'F', 0}).what(), "not a WAV file"));
    std::vector<uint8_t> rifx = good;
    rifx[3] = 'X';
    EXPECT_NE(nullptr, std::strstr(ParseFailure(rifx).what(), "not a WAV file"));
    for (size_t keep : {size_t{13}, size_t{30}, good.size() - 1}) {
        const Failure failure = ParseFailure(std::vector<uint8_t>(good.begin(), good.begin() + keep));
        EXPECT_EQ(kExitInput, failure.Code());
        EXPECT_NE(nullptr, std::strstr(failure.what(), "truncated")) << keep << ": " << failure.what();
    }
    // The RIFF size agrees with the file, but the data chunk promises more than is there.
    std::vector<uint8_t> overlong = good;
    overlong[overlong.size() - WavBytes().data.size() - 4] += 1;
    EXPECT_NE(nullptr, std::strstr(ParseFailure(overlong).what(), "truncated (the 'data' chunk promises"));
}

TEST(WavFile, WriteLeavesTheWholeFileOrNothing)
{
    char tmpl[] = "/tmp/wavfile-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    const std::string dir = tmpl;
    const WavFile wav = WavFile::Parse(WavBytes().Bytes(), "x.wav");
    wav.Write(dir + "/out.wav");
    EXPECT_EQ(std::vector<std::string>{"out.wav"}, FilesIn(dir)) << "no temporary file stays behind";
    EXPECT_EQ(wav.BlockCount(), WavFile::Read(dir + "/out.wav").BlockCount());
    ASSERT_EQ(0, mkdir((dir + "/sub").c_str(), 0755));
    for (const std::string& target : {dir + "/sub", dir + "/missing/out.wav"}) {
        try {
            wav.Write(target);
            ADD_FAILURE() << "wrote " << target;
        } catch (const Failure& failure) {
            EXPECT_EQ(kExitOutput, failure.Code());
            EXPECT_EQ(0u, std::string(failure.what()).find(target + ": cannot write: ")) << failure.what();
        }
    }
    EXPECT_EQ(2u, FilesIn(dir).size()) << "out.wav and sub only";
    EXPECT_TRUE(FilesIn(dir + "/sub").empty());
    const Failure unreadable = [&] {
        try {
            WavFile::Read(dir + "/sub");
        } catch (const Failure& failure) {
            return failure;
        }
        return Failure(kExitOk, "");
    }();
    EXPECT_EQ(kExitInput, unreadable.Code());
    EXPECT_NE(nullptr, std::strstr(unreadable.what(), "cannot read"));
    unlink((dir + "/out.wav").c_str());
    rmdir((dir + "/sub").c_str());
    rmdir(dir.c_str());
}
