// WavFile: a mono IMA ADPCM WAV file (format tag 0x0011) as a list of coded blocks.
//
// Parse reads the RIFF framing by hand: the "RIFF"/"WAVE" header, then chunks of a four-byte
// id, a little-endian size and the data padded to an even length; "fmt " must come before
// "data", "fact" is read when present, every other chunk is skipped. The data is cut into
// blocks of the format's block align (the last one may be shorter, never below the 4-byte block
// header). Every malformed or unsupported input ends in a Failure with kExitInput that names the
// file and the problem. Serialize writes the same framing back with "fmt ", "fact" and "data";
// Write puts it on disk through a temporary file in the same folder that is renamed over the
// target only when complete, so no partial file is ever left behind.
//
// A WavFile is a plain value: it owns its bytes and copies with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class WavFile {
public:
    // The only format tag played: IMA ADPCM.
    static constexpr uint16_t kFormatImaAdpcm = 0x0011;
    // Bytes of the block header (first sample and step index) of one mono IMA ADPCM block.
    static constexpr uint32_t kBlockHeader = 4;

    // An empty file of the given rate and block align (IsBlockAlign); blocks are appended
    // afterwards.
    WavFile(uint32_t sampleRate, uint16_t blockAlign);

    // Reads and parses a file. Throws Failure(kExitInput).
    static WavFile Read(const std::string& path);
    // Parses the bytes of a file; `name` only labels the messages. Throws Failure(kExitInput).
    static WavFile Parse(const std::vector<uint8_t>& bytes, const std::string& name);

    // The whole file, framing included.
    std::vector<uint8_t> Serialize() const;
    // Writes the file; on any failure nothing is left at `path` or beside it. Throws
    // Failure(kExitOutput).
    void Write(const std::string& path) const;

    // Appends one coded block of at least kBlockHeader and at most BlockAlign() bytes.
    void AppendBlock(const uint8_t* data, size_t size);

    uint32_t SampleRate() const { return mSampleRate; }
    uint16_t BlockAlign() const { return mBlockAlign; }
    // Samples one full block decodes to: the header's sample and two per data byte.
    uint32_t SamplesPerBlock() const { return SamplesIn(mBlockAlign); }
    size_t BlockCount() const { return mBlockEnds.size(); }
    const uint8_t* Block(size_t i) const { return mData.data() + BlockBegin(i); }
    size_t BlockSize(size_t i) const { return mBlockEnds[i] - BlockBegin(i); }
    // Samples all blocks decode to.
    uint64_t SampleCount() const;
    size_t DataSize() const { return mData.size(); }

    // A full mono block is the header and whole 4-byte words of coded samples.
    static bool IsBlockAlign(uint32_t size) { return size > kBlockHeader && (size - kBlockHeader) % 4 == 0; }
    // Samples a mono block of `size` bytes decodes to.
    static uint32_t SamplesIn(uint32_t size) { return size < kBlockHeader ? 0 : (size - kBlockHeader) * 2 + 1; }

private:
    size_t BlockBegin(size_t i) const { return i == 0 ? 0 : mBlockEnds[i - 1]; }

    uint32_t mSampleRate;
    uint16_t mBlockAlign;
    std::vector<uint8_t> mData;      // the coded blocks, back to back
    std::vector<size_t> mBlockEnds;  // end offset of each block in mData
};
