// SoundSpool: the extracted sound, kept out of memory until it is written in time order.
//
// Records come chunk by chunk in the play direction, so backward play brings the last chunk
// first. The records of the open chunk are held in memory; CloseChunk sorts them by time
// (records of one time keep their arrival order) and appends them to an unnamed temporary file
// in $TMPDIR (or /tmp), which vanishes with the process however it ends (where the file system
// has no unnamed files, a named one is unlinked as soon as it is made, with the deadly signals
// held back). WriteTo copies the chunks out in time order.
// Memory thus holds one chunk, however long the sound.
//
// Life: owned by the player; filled by the sink's handlers (one at a time), read once the
// pipeline is idle.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class OutputFile;

class SoundSpool {
public:
    // Throws Failure(kExitOutput), naming the folder, when no temporary file can be made.
    SoundSpool();
    ~SoundSpool();

    SoundSpool(const SoundSpool&) = delete;
    SoundSpool& operator=(const SoundSpool&) = delete;

    // Keeps one record of the open chunk; the bytes are copied.
    void Add(uint64_t time, const uint8_t* data, size_t size);
    // Closes the open chunk. Throws Failure(kExitOutput) when the temporary file cannot grow.
    void CloseChunk();

    uint64_t Records() const { return mRecords; }
    uint64_t Bytes() const { return mBytes; }
    uint64_t Samples() const { return mSamples; }
    size_t LargestRecord() const { return mLargest; }
    size_t SmallestRecord() const { return mSmallest; }
    uint64_t FirstTime() const { return mFirstTime; }
    uint64_t LastTime() const { return mLastTime; }

    // Writes every record, in time order, to `out`. Throws Failure(kExitOutput), or
    // Failure(kExitProtocol) when the records of two chunks overlap in time.
    void WriteTo(OutputFile& out);

private:
    struct Pending {
        uint64_t time;
        size_t offset; // in mOpenBytes
        size_t size;
    };
    struct Chunk {
        uint64_t first, last;  // times of its first and last record
        uint64_t offset, size; // in the file
    };

    // An unnamed, or at once unlinked, file in mFolder.
    int OpenUnnamed() const;
    void Append(const uint8_t* data, size_t size);
    void Copy(const Chunk& chunk, OutputFile& out);
    [[noreturn]] void Fail(int error) const;

    std::string mFolder;
    std::FILE* mFile = nullptr;
    std::vector<char> mBuffer; // mFile's buffer; outlives it (closed in the destructor's body)
    std::vector<uint8_t> mOpenBytes;
    std::vector<Pending> mOpen;
    std::vector<Chunk> mChunks;
    uint64_t mFileSize = 0;
    uint64_t mRecords = 0;
    uint64_t mBytes = 0;
    uint64_t mSamples = 0;
    size_t mLargest = 0;
    size_t mSmallest = SIZE_MAX;
    uint64_t mFirstTime = UINT64_MAX;
    uint64_t mLastTime = 0;
};
