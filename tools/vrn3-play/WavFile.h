// WavFile: a mono IMA ADPCM WAV file (format tag 0x0011) read as a stream of coded blocks.
//
// The constructor reads the RIFF framing by hand from a stream it does not own: the
// "RIFF"/"WAVE" header, then chunks of a four-byte id, a little-endian size and the data padded
// to an even length; "fmt " must come before "data", "fact" is kept when present, every other
// chunk is skipped, and a second "data" chunk is an error. On a seekable input the whole framing
// is checked before any sound is read, sizes are taken as written, and blocks are read by
// index, so playback may go in any order; reading in order costs no seek. A pipe is read once,
// in order: a RIFF size that is wrong is let pass, a data size of 0, 0xFFFFFFFF or 0x7FFFF000
// (what tools writing to a pipe put there, the last sox's) means "to the end of the stream",
// any other data size must be there in full, and the chunks after the data are checked when
// the data has been read.
// Blocks are the format's block align long; the last one may be shorter, but holds at least
// its 4-byte header. Every malformed or unsupported input ends in a Failure with kExitInput that
// names the input and the problem.
//
// Header makes the framing of a file this program writes. Life: a WavFile lives as long as
// the playback that reads it, and its stream must outlive it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class WavFile {
public:
    // The only format tag played: IMA ADPCM.
    static constexpr uint16_t kFormatImaAdpcm = 0x0011;
    // Bytes of the block header (first sample and step index) of one mono IMA ADPCM block.
    static constexpr uint32_t kBlockHeader = 4;
    // Bytes of the framing Header writes before the sound.
    static constexpr uint32_t kHeaderSize = 60;
    // The most bytes of sound a written file holds: with its framing and pad byte it stays within
    // the 4 GiB its 32-bit sizes reach.
    static constexpr uint64_t kLargestData = UINT32_MAX - kHeaderSize - 1;
    // A count not known (yet): the data of a pipe runs to the end of the stream.
    static constexpr uint64_t kUnknown = UINT64_MAX;

    // Reads the framing up to the sound. Throws Failure(kExitInput).
    WavFile(std::FILE* in, const std::string& name, bool seekable);

    // Puts block `index` into `block`; false when the data ends before it. A pipe can only
    // move forward (skipping what lies between). Throws Failure(kExitInput).
    bool ReadBlock(uint64_t index, std::vector<uint8_t>& block);

    // The name messages use.
    const std::string& Name() const { return mName; }
    uint32_t SampleRate() const { return mSampleRate; }
    uint16_t BlockAlign() const { return mBlockAlign; }
    // Samples one full block decodes to: the header's sample and two per data byte.
    uint32_t SamplesPerBlock() const { return SamplesIn(mBlockAlign); }
    bool Seekable() const { return mSeekable; }
    // Bytes of sound and the blocks they make, or kUnknown while a pipe's end is not reached.
    uint64_t DataSize() const { return mDataSize; }
    uint64_t BlockCount() const;
    // Samples all blocks decode to, or kUnknown.
    uint64_t SampleCount() const;
    // The sample count of the "fact" chunk, or kUnknown when there is none (yet).
    uint64_t FactSamples() const { return mFactSamples; }

    // The framing of a written file: "RIFF", "fmt ", "fact" with `samples`, and the "data"
    // header for `dataSize` bytes (to be followed by them and a pad byte when odd).
    static std::vector<uint8_t> Header(uint32_t rate, uint16_t blockAlign, uint32_t samples, uint32_t dataSize);

    // A full mono block is the header and whole 4-byte words of coded samples.
    static bool IsBlockAlign(uint32_t size) { return size > kBlockHeader && (size - kBlockHeader) % 4 == 0; }
    // Samples a mono block of `size` bytes decodes to.
    static uint32_t SamplesIn(uint32_t size) { return size < kBlockHeader ? 0 : (size - kBlockHeader) * 2 + 1; }

private:
    // Walks chunks up to the data (or, after the data, to the end); returns whether it found data.
    bool WalkChunks(bool afterData);
    void ReadRiffHeader();
    void OnChunk(const uint8_t id[4], uint32_t size, bool afterData);
    void ParseFormat(const std::vector<uint8_t>& fmt);
    void StartData(uint32_t size, bool afterData);
    // The data has been read to its end: what follows it is checked.
    void EndData();
    // The rest of ReadBlock on a pipe, `got` bytes read into `block`.
    bool PipeBlockRead(uint64_t index, std::vector<uint8_t>& block, size_t got);
    // Whether a pipe's stream has ended (looks one byte ahead).
    bool AtEnd();
    // Reads up to `size` bytes; fewer only at the end of the stream.
    size_t Read(uint8_t* into, size_t size);
    // Moves on `size` bytes (fewer on a pipe that ends); returns how many.
    uint64_t Skip(uint64_t size);
    void SeekTo(uint64_t offset);
    [[noreturn]] void Bad(const std::string& what) const;

    std::FILE* mIn;
    std::string mName;
    bool mSeekable;
    uint64_t mPos = 0;            // offset of the next byte read from mIn
    uint64_t mRiffEnd = kUnknown; // offset just past the RIFF form
    uint32_t mSampleRate = 0;
    uint16_t mBlockAlign = 0;
    uint64_t mDataOffset = 0;
    uint64_t mDataSize = kUnknown;
    uint64_t mFactSamples = kUnknown;
    bool mDataEnded = false; // a pipe's data has been read to its end
    uint64_t mNextBlock = 0; // a pipe's next block
};
