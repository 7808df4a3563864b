// Holding the extracted records chunk by chunk in a temporary file, and writing them in order.
#include "SoundSpool.h"

#include "../common/DeathCleanup.h"
#include "../common/Failure.h"
#include "../common/OutputFile.h"
#include "../common/UnnamedFile.h"
#include "WavFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <string>

namespace {

// Bytes written to the temporary file, and copied from it to the output, per system call.
constexpr size_t kCopyBuffer = 256 * 1024;

} // namespace

SoundSpool::SoundSpool()
{
    const char* tmpdir = std::getenv("TMPDIR");
    mFolder = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : P_tmpdir;
    const int fd = OpenUnnamed();
    mFile = fdopen(fd, "w+b");
    if (mFile == nullptr) {
        const int error = errno;
        close(fd);
        Fail(error);
    }
    mBuffer.resize(kCopyBuffer);
    std::setvbuf(mFile, mBuffer.data(), _IOFBF, mBuffer.size());
}

SoundSpool::~SoundSpool()
{
    std::fclose(mFile);
}

int SoundSpool::OpenUnnamed() const
{
    bool unsupported = false;
    int fd = UnnamedFile::Open(AT_FDCWD, mFolder.c_str(), O_RDWR, unsupported);
    if (fd >= 0)
        return fd;
    if (!unsupported)
        Fail(errno);
    std::string name = mFolder + "/vrn3-spool-XXXXXX";
    const DeathCleanup::Blocked blocked;
    fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        Fail(errno);
    unlink(name.c_str());
    return fd;
}

void SoundSpool::Add(uint64_t time, const uint8_t* data, size_t size)
{
    mOpen.push_back(Pending{time, mOpenBytes.size(), size});
    mOpenBytes.insert(mOpenBytes.end(), data, data + size);
    ++mRecords;
    mBytes += size;
    mSamples += WavFile::SamplesIn(static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX)));
    mLargest = std::max(mLargest, size);
    mSmallest = std::min(mSmallest, size);
    mFirstTime = std::min(mFirstTime, time);
    mLastTime = std::max(mLastTime, time);
}

void SoundSpool::CloseChunk()
{
    if (mOpen.empty())
        return;
    std::stable_sort(mOpen.begin(), mOpen.end(), [](const Pending& a, const Pending& b) { return a.time < b.time; });
    Chunk chunk{mOpen.front().time, mOpen.back().time, mFileSize, 0};
    for (const Pending& record : mOpen)
        Append(mOpenBytes.data() + record.offset, record.size);
    chunk.size = mFileSize - chunk.offset;
    mChunks.push_back(chunk);
    mOpen.clear();
    mOpenBytes.clear();
}

void SoundSpool::Append(const uint8_t* data, size_t size)
{
    if (std::fwrite(data, 1, size, mFile) != size)
        Fail(errno);
    mFileSize += size;
}

void SoundSpool::WriteTo(OutputFile& out)
{
    CloseChunk();
    std::stable_sort(mChunks.begin(), mChunks.end(), [](const Chunk& a, const Chunk& b) { return a.first < b.first; });
    for (size_t i = 1; i < mChunks.size(); ++i) {
        if (mChunks[i].first <= mChunks[i - 1].last)
            throw Failure(kExitProtocol, "the plug-in sent records of two chunks for one time (" +
                                             std::to_string(mChunks[i].first) + ")");
    }
    if (std::fflush(mFile) != 0)
        Fail(errno);
    for (const Chunk& chunk : mChunks)
        Copy(chunk, out);
}

void SoundSpool::Copy(const Chunk& chunk, OutputFile& out)
{
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(chunk.size, kCopyBuffer)));
    if (fseeko(mFile, static_cast<off_t>(chunk.offset), SEEK_SET) != 0)
        Fail(errno);
    for (uint64_t done = 0; done < chunk.size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size - done, buffer.size()));
        if (std::fread(buffer.data(), 1, n, mFile) != n)
            Fail(errno != 0 ? errno : EIO);
        out.Write(buffer.data(), n);
        done += n;
    }
}

void SoundSpool::Fail(int error) const
{
    throw Failure(kExitOutput, "the spool file of the sound in " + mFolder + ": " + std::strerror(error) +
                                   " (TMPDIR chooses the folder)");
}
